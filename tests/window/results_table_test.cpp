// The main window's handling of a job result, one row per combination that
// matters: what started the job, the composer's mode, work waiting behind the
// job, a view change while it ran, success or failure, and whether the reply
// brings the bytes already shown. Each row checks the status line, paging and
// action controls, the composer and what the window starts next.
#include <doctest/doctest.h>
#include "harness.h"
#include "ui/main/composer.h"
#include "ui/main/ids.h"
#include <commctrl.h>

namespace {

enum Started { ByTimer, ByFind, BySignIn };
enum Mode { Neither, Replying, Editing };
enum Waiting { Nothing, Upload, Send };

struct Row {
    Started started;
    Mode mode;
    Waiting waiting;   // asked for while the job ran
    bool tabClicked;   // the view changed while the job ran
    bool ok;
    bool sameBytes;    // the reply's page is byte for byte the shown one
    // What the window shows and does once the result is handled.
    const wchar_t* status;  // the status line starts with it
    bool older, reply;      // "Раньше" and "Ответить" enabled
    const wchar_t* composer;
    Mode modeAfter;
    int next;               // kind of the job started next, 0 for none
};

const wchar_t connected[] = L"Подключено";
const wchar_t exchanging[] = L"Обмен с сервером…";
const wchar_t refused[] = L"Сервер отклонил запрос";
const wchar_t notDone[] = L"Действие не выполнено: выбран другой разговор";
const wchar_t draft[] = L"черновик";

const Row rows[] = {
    // A periodic refresh of the open page.
    {ByTimer, Neither, Nothing, false, true, true, connected, true, true, draft, Neither, 0},
    {ByTimer, Neither, Nothing, false, true, false, connected, true, true, draft, Neither, 0},
    {ByTimer, Replying, Nothing, false, true, true, connected, true, true, draft, Replying, 0},
    {ByTimer, Editing, Nothing, false, true, false, connected, true, true, L"y", Editing, 0},
    {ByTimer, Neither, Send, false, true, true, exchanging, false, false, draft, Neither, NetJobKind::SendMessage},
    {ByTimer, Replying, Send, false, true, false, exchanging, false, false, draft, Replying, NetJobKind::SendMessage},
    {ByTimer, Editing, Send, false, true, true, exchanging, false, false, L"y", Editing, NetJobKind::EditMessage},
    {ByTimer, Neither, Upload, false, true, true, exchanging, false, false, draft, Neither, NetJobKind::UploadFile},
    {ByTimer, Replying, Upload, false, true, false, exchanging, false, false, draft, Replying, NetJobKind::UploadFile},
    // It fails: the conversation empties, typed text stays, waiting work is dropped.
    {ByTimer, Neither, Nothing, false, false, true, refused, false, false, draft, Neither, 0},
    {ByTimer, Replying, Nothing, false, false, true, refused, false, false, draft, Neither, 0},
    {ByTimer, Editing, Nothing, false, false, true, refused, false, false, draft, Neither, 0},
    {ByTimer, Neither, Upload, false, false, true, notDone, false, false, draft, Neither, 0},
    {ByTimer, Editing, Send, false, false, true, notDone, false, false, draft, Neither, 0},
    // A tab clicked meanwhile: the result is stale, the new view is read.
    {ByTimer, Neither, Nothing, true, true, true, exchanging, false, false, L"", Neither, NetJobKind::Refresh},
    {ByTimer, Replying, Upload, true, true, false, exchanging, false, false, L"", Neither, NetJobKind::Refresh},
    {ByTimer, Editing, Send, true, false, true, exchanging, false, false, L"", Neither, NetJobKind::Refresh},
    // Find of the newest page: the same bytes come back and still page.
    {ByFind, Neither, Nothing, false, true, true, connected, true, true, draft, Neither, 0},
    {ByFind, Replying, Send, false, true, true, exchanging, false, false, draft, Replying, NetJobKind::SendMessage},
    {ByFind, Neither, Nothing, false, true, false, connected, true, true, draft, Neither, 0},
    // A sign-in is taken whatever was clicked meanwhile.
    {BySignIn, Neither, Nothing, false, true, false, exchanging, false, false, L"", Neither, NetJobKind::Refresh},
    {BySignIn, Neither, Nothing, true, true, false, exchanging, false, false, L"", Neither, NetJobKind::Refresh},
    {BySignIn, Neither, Nothing, true, false, false, refused, false, false, L"", Neither, 0},
};

std::string message(const char* id, const char* text) {
    return std::string("{\"id\":\"") + id + "\",\"senderName\":\"S\",\"createdAt\":\"2024-05-01T09:30:12Z\",\"text\":\"" +
           text + "\",\"canReply\":true,\"canEdit\":true,\"canForward\":true,\"canReact\":true,\"canDelete\":true}";
}

std::string page(bool changed) {
    std::string items = message("m1", "x") + "," + message("m2", "y");
    if (changed) items += "," + message("m3", "z");
    return "{\"items\":[" + items + "],\"page\":{\"nextBefore\":\"c2\"},\"canWrite\":true}";
}

const char rooms[] = u8R"([{"id":"r1","title":"Общий чат","kind":"room","canWrite":true}])";

NetJob single() {
    std::vector<NetJob> jobs = takeJobs();
    REQUIRE(jobs.size() == 1);
    return jobs[0];
}

void command(Harness& h, int id, int code = 0) { SendMessageW(h.window, WM_COMMAND, MAKEWPARAM(id, code), 0); }

void answer(Harness& h, NetResult r, bool ok, bool changed) {
    r.ok = ok;
    if (!ok) r.errorText = refused;
    if (ok && r.job.kind == NetJobKind::SignIn) {
        r.value = L"tok";
        r.meJson = u8R"({"user":{"name":"Анна"},"memberships":[{"id":"o1","name":"Первая","role":"admin"}]})";
        r.linesJson = "[]";
    }
    if (ok && r.job.kind == NetJobKind::Refresh) {
        r.listJson = rooms;
        if (!r.job.params[Slot::itemId].empty()) r.historyJson = page(changed);
    }
    deliver(h, r.job, std::move(r));
}

void signInAndOpen(Harness& h) {
    SetWindowTextW(h.state.loginEdit, L"anna");
    SetWindowTextW(h.state.passwordEdit, L"secret");
    command(h, ID_SIGN_IN);
    for (int k = 0; k < 3; ++k) answer(h, resultOf(single()), true, false);
}

Mode modeOf(const MainWindowState& s) {
    return !s.editId.empty() ? Editing : !s.replyToId.empty() ? Replying : Neither;
}

}  // namespace

TEST_CASE("every combination of result, mode, waiting work and view change leaves the window right") {
    FileDialogs saved = fileDialogs;
    for (const Row& row : rows) {
        const size_t index = static_cast<size_t>(&row - rows);
        CAPTURE(index);
        Harness h;
        MainWindowState& s = h.state;
        if (row.started == BySignIn) {
            SetWindowTextW(s.loginEdit, L"anna");
            SetWindowTextW(s.passwordEdit, L"secret");
            command(h, ID_SIGN_IN);
        } else {
            signInAndOpen(h);
            REQUIRE(s.roomId == L"r1");
            SetWindowTextW(s.composerEdit, draft);
            SendMessageW(s.messageCombo, CB_SETCURSEL, row.mode == Editing ? 2 : 1, 0);
            command(h, ID_MESSAGE_COMBO, CBN_SELCHANGE);
            if (row.mode == Replying) command(h, ID_REPLY);
            if (row.mode == Editing) command(h, ID_EDIT);
            REQUIRE(modeOf(s) == row.mode);
            if (row.waiting == Upload) {
                // The file dialog's own loop lets the refresh timer fire.
                fileDialogs.chooseUpload = [](HWND owner, std::wstring& path) {
                    SendMessageW(owner, WM_TIMER, 1, 0);
                    path = L"C:\\data\\a.txt";
                    return true;
                };
                command(h, ID_ATTACH);
            } else if (row.started == ByFind) {
                command(h, ID_FIND);
            } else {
                SendMessageW(h.window, WM_TIMER, 1, 0);
            }
            if (row.waiting == Send) command(h, ID_SEND);
        }
        NetJob job = single();
        REQUIRE(job.kind == (row.started == BySignIn ? NetJobKind::SignIn : NetJobKind::Refresh));
        if (row.tabClicked) {
            TabCtrl_SetCurSel(s.modeTabs, 1);
            NMHDR change{s.modeTabs, 0, static_cast<UINT>(TCN_SELCHANGE)};
            SendMessageW(h.window, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&change));
        }
        answer(h, resultOf(job), row.ok, !row.sameBytes);

        CHECK(textOf(s.statusLabel).rfind(row.status, 0) == 0);
        CHECK((IsWindowEnabled(s.olderButton) != FALSE) == row.older);
        CHECK((IsWindowEnabled(s.replyButton) != FALSE) == row.reply);
        CHECK(textOf(s.composerEdit) == row.composer);
        CHECK(modeOf(s) == row.modeAfter);
        std::vector<NetJob> next = takeJobs();
        CHECK(next.size() == (row.next ? 1u : 0u));
        if (next.empty()) continue;
        CHECK(next[0].kind == row.next);
        if (row.next == NetJobKind::Refresh) {
            CHECK(next[0].params[Slot::token] == L"tok");
            CHECK(next[0].mode == (row.tabClicked ? 1 : 0));
        } else {
            CHECK(next[0].params[Slot::roomId] == L"r1");
        }
    }
    fileDialogs = saved;
}
