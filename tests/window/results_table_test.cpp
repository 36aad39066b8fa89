// The main window's handling of a job result, one row per combination that
// matters: what started the job, the composer's mode, work waiting behind the
// job, a view change while it ran, success, refusal or the session ended by
// the server (401), and whether the reply
// brings the bytes already shown. Each row checks the status line, paging and
// action controls, the composer and what the window starts next.
#include <doctest/doctest.h>
#include "harness.h"
#include "ui/main/composer.h"
#include "ui/main/ids.h"
#include "ui/main/keyboard.h"
#include <commctrl.h>

namespace {

enum Started { ByTimer, ByFind, BySignIn, BySend, ByAction };
const int startedKind[] = {NetJobKind::Refresh, NetJobKind::Refresh, NetJobKind::SignIn, NetJobKind::SendMessage,
                           NetJobKind::WorkAction};
// Outcomes besides success (true) and a refusal (false).
const int expired = 2;
enum Mode { Neither, Replying, Editing };
enum Waiting { Nothing, Upload, Send };

struct Row {
    Started started;
    Mode mode;
    Waiting waiting;   // asked for while the job ran
    bool tabClicked;   // the view changed while the job ran
    int outcome;
    bool sameBytes;    // the reply's page is byte for byte the shown one
    // What the window shows and does once the result is handled.
    const wchar_t* status;  // the status line starts with it
    bool older, reply;      // "Раньше" and "Ответить" enabled
    const wchar_t* composer;
    Mode modeAfter;
    int next;               // kind of the job started next, 0 for none
    int httpStatus = 0;     // of the reply that failed the job
    // What the window tells about it through the refreshes of the next
    // seconds, and the draft kept for the room left (null: not checked).
    const wchar_t* told = nullptr;
    const wchar_t* draftLeft = nullptr;
};

const wchar_t connected[] = L"Подключено";
const wchar_t exchanging[] = L"Обмен с сервером…";
const wchar_t refused[] = L"Сервер отклонил запрос";
const wchar_t notDone[] = L"Действие не выполнено: выбран другой разговор";
const wchar_t draft[] = L"черновик";
const wchar_t refusedNotDone[] = L"Сервер отклонил запрос · не выполнено: ";
const wchar_t ended[] = L"Сеанс завершён сервером. Войдите снова — черновики сохранены.";
const wchar_t endedDropped[] =
    L"Сеанс завершён сервером. Войдите снова — черновики сохранены. Ожидавшие действия не выполнены: ";

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
    // It is refused: the conversation empties, typed text stays (a waiting
    // edit's text after the draft), waiting work is dropped.
    {ByTimer, Neither, Nothing, false, false, true, refused, false, false, draft, Neither, 0},
    {ByTimer, Replying, Nothing, false, false, true, refused, false, false, draft, Neither, 0},
    {ByTimer, Editing, Nothing, false, false, true, refused, false, false, draft, Neither, 0},
    {ByTimer, Neither, Upload, false, false, true, refusedNotDone, false, false, draft, Neither, 0},
    {ByTimer, Editing, Send, false, false, true, refusedNotDone, false, false, L"черновик\r\n\r\ny", Neither, 0},
    // A tab clicked meanwhile: the result is stale, the new view is read.
    {ByTimer, Neither, Nothing, true, true, true, exchanging, false, false, L"", Neither, NetJobKind::Refresh},
    {ByTimer, Replying, Upload, true, true, false, exchanging, false, false, L"", Neither, NetJobKind::Refresh},
    {ByTimer, Editing, Send, true, false, true, exchanging, false, false, L"", Neither, NetJobKind::Refresh},
    // Find of the newest page: the same bytes come back and still page.
    {ByFind, Neither, Nothing, false, true, true, connected, true, true, draft, Neither, 0},
    {ByFind, Replying, Send, false, true, true, exchanging, false, false, draft, Replying, NetJobKind::SendMessage},
    {ByFind, Neither, Nothing, false, true, false, connected, true, true, draft, Neither, 0},
    // A gateway or a busy server answering the refresh is a blip: the page,
    // reply mode and paging stay, and what waits still goes.
    {ByTimer, Replying, Nothing, false, false, true, L"Сервер отклонил запрос · показаны данные на ", true, true, draft,
     Replying, 0, 502},
    {ByTimer, Neither, Send, false, false, true, exchanging, false, false, draft, Neither, NetJobKind::SendMessage, 503},
    // Ctrl+Enter, then another tab before the reply: a failure is told with
    // where, and the text is in the room's draft (an edit's after the draft
    // set aside).
    {BySend, Neither, Nothing, true, false, true, exchanging, false, false, L"", Neither, NetJobKind::Refresh, 500,
     L"Сообщение в «Общий чат» не отправлено: Сервер отклонил запрос", draft},
    {BySend, Editing, Nothing, true, false, true, exchanging, false, false, L"", Neither, NetJobKind::Refresh, 0,
     L"Изменение сообщения в «Общий чат» не сохранено: Сервер отклонил запрос", L"черновик\r\n\r\ny2"},
    // A sign-in is taken whatever was clicked meanwhile.
    {BySignIn, Neither, Nothing, false, true, false, exchanging, false, false, L"", Neither, NetJobKind::Refresh},
    {BySignIn, Neither, Nothing, true, true, false, exchanging, false, false, L"", Neither, NetJobKind::Refresh},
    {BySignIn, Neither, Nothing, true, false, false, refused, false, false, L"", Neither, 0},
    // The server ended the session: everything shown and typed stays, nothing follows.
    {ByTimer, Replying, Nothing, false, expired, true, ended, true, true, draft, Replying, 0},
    {ByTimer, Editing, Send, false, expired, true, endedDropped, true, true, L"y", Editing, 0},
    {BySend, Replying, Nothing, false, expired, true, ended, true, true, draft, Replying, 0},
    {ByAction, Neither, Send, false, expired, true, endedDropped, true, true, draft, Neither, 0},
    {ByTimer, Neither, Nothing, true, expired, true, ended, false, false, L"", Neither, 0},
    // A 401 to the sign-in itself is a wrong password.
    {BySignIn, Neither, Nothing, false, expired, false, refused, false, false, L"", Neither, 0},
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

void answer(Harness& h, NetResult r, int outcome, bool changed, int httpStatus = 0) {
    const bool ok = outcome == 1;
    r.ok = ok;
    if (!ok) r.errorText = refused;
    r.refusedStatus = outcome == expired ? 401 : httpStatus;
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
            } else if (row.started == BySend) {
                if (row.mode == Editing) SetWindowTextW(s.composerEdit, L"y2");
                command(h, ID_SEND);
            } else if (row.started == ByAction) {
                command(h, ID_ACTION_FIRST + 3);
            } else {
                SendMessageW(h.window, WM_TIMER, 1, 0);
            }
            if (row.waiting == Send) command(h, ID_SEND);
        }
        NetJob job = single();
        const bool saving = row.started == BySend && row.mode == Editing;
        REQUIRE(job.kind == (saving ? NetJobKind::EditMessage : startedKind[row.started]));
        if (row.tabClicked) {
            TabCtrl_SetCurSel(s.modeTabs, 1);
            NMHDR change{s.modeTabs, 0, static_cast<UINT>(TCN_SELCHANGE)};
            SendMessageW(h.window, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&change));
        }
        answer(h, resultOf(job), row.outcome, !row.sameBytes, row.httpStatus);
        if (row.outcome == expired && row.started != BySignIn) {
            // The strip asks for the password again; the list waits for it.
            CHECK(s.token.empty());
            CHECK(textOf(s.signInButton) == L"Войти");
            CHECK((GetWindowLongW(s.passwordEdit, GWL_STYLE) & WS_VISIBLE) != 0);
            CHECK_FALSE(IsWindowEnabled(s.itemList));
        }

        CHECK(textOf(s.statusLabel).rfind(row.status, 0) == 0);
        CHECK((IsWindowEnabled(s.olderButton) != FALSE) == row.older);
        CHECK((IsWindowEnabled(s.replyButton) != FALSE) == row.reply);
        CHECK(textOf(s.composerEdit) == row.composer);
        CHECK(modeOf(s) == row.modeAfter);
        if (row.told) CHECK(s.flashText == row.told);
        if (row.draftLeft) {
            std::wstring kept;
            for (const Draft& d : s.drafts)
                if (d.itemId == L"r1") kept = d.text;
            CHECK(kept == row.draftLeft);
        }
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

// A command given while a refresh is in flight, against what that refresh
// changes: it is carried out with what the operator saw when giving it, or
// not at all and with a word, never with what the refresh has just written.
namespace {

// What a refresh of the case shows; CaseView{} is what the operator saw.
struct CaseView {
    int version = 7;
    bool secondStaff = true;   // u2 "Ольга" is on the staff list
    bool ticket = false;       // a ticket was made from the case
    bool secondFile = true;    // f2 is on the page
    bool filesSwapped = false; // f2 comes before f1
};

std::string caseItem(const CaseView& v) {
    std::string staff = R"({"id":"u1","name":"Иван"})";
    if (v.secondStaff) staff += R"(,{"id":"u2","name":"Ольга"})";
    return u8R"({"item":{"room_id":"rc1","version":)" + std::to_string(v.version) +
           u8R"(,"status":"working","subject":"Принтер"},"dispatch":true,"assigned":true,"ticketId":")" +
           (v.ticket ? "t1" : "") + R"(","staff":[)" + staff + "]}";
}

std::string casePage(const CaseView& v) {
    std::string f1 = message("m1", "x").insert(1, R"("fileId":"f1","fileName":"a.txt",)");
    std::string f2 = message("m2", "y").insert(1, R"("fileId":"f2","fileName":"b.txt",)");
    std::string items = !v.secondFile ? f1 : v.filesSwapped ? f2 + "," + f1 : f1 + "," + f2;
    return "{\"items\":[" + items + "],\"page\":{},\"canWrite\":true}";
}

const char cases[] = u8R"({"cases":[{"id":"c1","subject":"Принтер","roomId":"rc1","kind":"case","status":"working"}]})";

void answerCase(Harness& h, const NetJob& job, const CaseView& v) {
    NetResult r = resultOf(job);
    r.listJson = cases;
    if (!job.params[Slot::itemId].empty()) {
        r.historyJson = casePage(v);
        r.workItemJson = caseItem(v);
    }
    deliver(h, job, std::move(r));
}

void openCase(Harness& h) {
    signInAndOpen(h);
    TabCtrl_SetCurSel(h.state.modeTabs, 1);
    NMHDR change{h.state.modeTabs, 0, static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageW(h.window, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&change));
    answerCase(h, single(), CaseView());
    answerCase(h, single(), CaseView());
}

std::vector<std::wstring> downloadsOffered;
Harness* underDialog = nullptr;

struct CommandRow {
    const char* name;
    void (*before)(Harness&);  // the operator's set-up, idle
    void (*give)(Harness&);    // while the refresh runs
    CaseView next;             // what the refresh brings
    int jobAfter;              // kind started once the refresh is handled, 0: none
    void (*check)(Harness&, const NetJob&);
    const wchar_t* status;     // the status line then starts with it (null: not checked)
};

void nothing(Harness&) {}
// The job succeeds and its refresh is answered; what runs next is returned.
std::vector<NetJob> afterSuccess(Harness& h, const NetJob& j) {
    deliver(h, j, resultOf(j));
    answerCase(h, single(), CaseView());
    return takeJobs();
}
void noCheck(Harness&, const NetJob&) {}
void finish(Harness& h) { command(h, ID_ACTION_FIRST + 3); }
const CommandRow commandRows[] = {
    {"«Готово» on an out-of-date panel goes with the version shown, so the server can refuse it", nothing, finish,
     CaseView{8}, NetJobKind::WorkAction,
     [](Harness&, const NetJob& j) {
         CHECK(j.params[Slot::actionOrEmoji] == L"finish");
         CHECK(j.version == 7);
     },
     exchanging},
    {"«Назначить» assigns the staff member chosen, also when the refresh dropped them",
     [](Harness& h) { SendMessageW(h.state.staffCombo, CB_SETCURSEL, 1, 0); },
     [](Harness& h) { command(h, ID_ACTION_FIRST); }, CaseView{7, false}, NetJobKind::WorkAction,
     [](Harness&, const NetJob& j) { CHECK(j.params[Slot::assigneeOrFileId] == L"u2"); }, exchanging},
    {"Ctrl+Enter sends the text of its moment, not what was typed after it",
     [](Harness& h) { SetWindowTextW(h.state.composerEdit, L"раз"); },
     [](Harness& h) {
         command(h, ID_SEND);
         SetWindowTextW(h.state.composerEdit, L"раз два");
     },
     CaseView(), NetJobKind::SendMessage,
     [](Harness& h, const NetJob& j) {
         CHECK(j.params[Slot::text] == L"раз");
         CHECK(j.params[Slot::roomId] == L"rc1");
         CHECK(textOf(h.state.composerEdit) == L"раз два");
     },
     exchanging},
    {"the same command given twice during the refresh runs once", nothing,
     [](Harness& h) {
         finish(h);
         finish(h);
     },
     CaseView(), NetJobKind::WorkAction, noCheck, exchanging},
    {"«Создать заявку» does not open once the refresh shows the ticket made", nothing,
     [](Harness& h) { command(h, ID_CREATE_TICKET); }, CaseView{7, true, true}, 0,
     [](Harness&, const NetJob&) { CHECK_FALSE(findOwnWindow(L"KestaNewWork")); },
     L"Действие не выполнено: заявка по обращению уже создана"},
    {"«Скачать файл…» of a file the refresh took away offers nothing",
     [](Harness& h) { SendMessageW(h.state.fileCombo, CB_SETCURSEL, 1, 0); },
     [](Harness& h) { command(h, ID_DOWNLOAD); }, CaseView{7, true, false, false}, 0,
     [](Harness&, const NetJob&) { CHECK(downloadsOffered.empty()); },
     L"Действие не выполнено: файла больше нет в разговоре"},
    {"«Скачать файл…» downloads the file chosen, wherever the refresh moved it",
     [](Harness& h) { SendMessageW(h.state.fileCombo, CB_SETCURSEL, 1, 0); },
     [](Harness& h) { command(h, ID_DOWNLOAD); }, CaseView{7, true, false, true, true}, NetJobKind::DownloadFile,
     [](Harness&, const NetJob& j) {
         CHECK(downloadsOffered == std::vector<std::wstring>{L"b.txt"});
         CHECK(j.params[Slot::assigneeOrFileId] == L"f2");
     },
     exchanging},
    {"«Готово» refused: the message given after it is not sent, the refusal and the text stay", nothing,
     [](Harness& h) {
         finish(h);
         SetWindowTextW(h.state.composerEdit, L"готово, проверьте");
         command(h, ID_SEND);
     },
     CaseView(), NetJobKind::WorkAction,
     [](Harness& h, const NetJob& j) {
         NetResult refused = resultOf(j);
         refused.ok = false;
         refused.refusedStatus = 409;
         refused.errorText = L"Обращение изменилось";
         deliver(h, j, std::move(refused));
         CHECK(takeJobs().empty());
         CHECK(textOf(h.state.statusLabel) == L"Обращение изменилось · не выполнено после неё: отправка сообщения");
         CHECK(textOf(h.state.composerEdit) == L"готово, проверьте");
     },
     exchanging},
    {"«Назначить» given again after the choice was corrected assigns the later choice, once",
     [](Harness& h) { SendMessageW(h.state.staffCombo, CB_SETCURSEL, 0, 0); },
     [](Harness& h) {
         command(h, ID_ACTION_FIRST);
         SendMessageW(h.state.staffCombo, CB_SETCURSEL, 1, 0);
         command(h, ID_ACTION_FIRST);
     },
     CaseView(), NetJobKind::WorkAction,
     [](Harness& h, const NetJob& j) {
         CHECK(j.params[Slot::assigneeOrFileId] == L"u2");
         CHECK(afterSuccess(h, j).empty());
     },
     exchanging},
    {"a text rewritten before a second Ctrl+Enter goes as rewritten, once, and leaves the composer", nothing,
     [](Harness& h) {
         SetWindowTextW(h.state.composerEdit, L"раз");
         command(h, ID_SEND);
         SetWindowTextW(h.state.composerEdit, L"два");
         command(h, ID_SEND);
     },
     CaseView(), NetJobKind::SendMessage,
     [](Harness& h, const NetJob& j) {
         CHECK(j.params[Slot::text] == L"два");
         CHECK(afterSuccess(h, j).empty());
         CHECK(textOf(h.state.composerEdit).empty());
     },
     exchanging},
    {"a message given after «Файл…» waits while the file dialog is open, refreshes going on under it", nothing,
     [](Harness& h) {
         command(h, ID_ATTACH);
         SetWindowTextW(h.state.composerEdit, L"файл выше");
         command(h, ID_SEND);
     },
     CaseView(), NetJobKind::UploadFile,
     [](Harness& h, const NetJob& j) {
         CHECK(j.params[Slot::uploadPath] == L"C:\\data\\a.txt");
         std::vector<NetJob> next = afterSuccess(h, j);
         REQUIRE(next.size() == 1);
         CHECK(next[0].kind == NetJobKind::SendMessage);
         CHECK(next[0].params[Slot::text] == L"файл выше");
     },
     exchanging},
    {"Escape leaves an edit at once, and a message typed then is no save of that edit",
     [](Harness& h) {
         SetWindowTextW(h.state.composerEdit, L"черновик");
         SendMessageW(h.state.messageCombo, CB_SETCURSEL, 1, 0);
         command(h, ID_MESSAGE_COMBO, CBN_SELCHANGE);
         command(h, ID_EDIT);
         REQUIRE_FALSE(h.state.editId.empty());
     },
     [](Harness& h) {
         MSG escape{h.state.composerEdit, WM_KEYDOWN, VK_ESCAPE, 1};
         CHECK(preTranslateMainWindowKey(h.state, escape));
         CHECK(h.state.editId.empty());
         CHECK(textOf(h.state.composerEdit) == L"черновик");
         SetWindowTextW(h.state.composerEdit, L"новое");
         command(h, ID_SEND);
     },
     CaseView(), NetJobKind::SendMessage,
     [](Harness&, const NetJob& j) { CHECK(j.params[Slot::text] == L"новое"); }, exchanging},
};

}  // namespace

TEST_CASE("a command given during a refresh acts on what was shown when it was given") {
    FileDialogs saved = fileDialogs;
    fileDialogs.chooseDownload = [](HWND, std::wstring& path) {
        downloadsOffered.push_back(path);
        path = L"C:\\out\\" + path;
        return true;
    };
    // The operator takes a while over the file: a periodic refresh runs and
    // is answered under the dialog.
    fileDialogs.chooseUpload = [](HWND owner, std::wstring& path) {
        SendMessageW(owner, WM_TIMER, 1, 0);
        answerCase(*underDialog, single(), CaseView());
        path = L"C:\\data\\a.txt";
        return true;
    };
    for (const CommandRow& row : commandRows) {
        const std::string name = row.name;
        CAPTURE(name);
        downloadsOffered.clear();
        Harness h;
        underDialog = &h;
        openCase(h);
        REQUIRE(h.state.workVersion == 7);
        row.before(h);
        SendMessageW(h.window, WM_TIMER, 1, 0);
        NetJob refresh = single();
        row.give(h);
        CHECK(takeJobs().empty());
        answerCase(h, refresh, row.next);
        std::vector<NetJob> next = takeJobs();
        CHECK(next.size() == (row.jobAfter ? 1u : 0u));
        if (row.status) CHECK(textOf(h.state.statusLabel).rfind(row.status, 0) == 0);
        NetJob none;
        row.check(h, next.empty() ? none : next[0]);
        if (!next.empty()) CHECK(next[0].kind == row.jobAfter);
    }
    fileDialogs = saved;
}

TEST_CASE("work given while a job runs waits in order, and a new work item is a view of its own") {
    Harness h;
    MainWindowState& s = h.state;
    openCase(h);

    SUBCASE("a status action and a message during one refresh both go, in the order given") {
        SendMessageW(h.window, WM_TIMER, 1, 0);
        NetJob refresh = single();
        finish(h);
        SetWindowTextW(s.composerEdit, L"готово, проверьте");
        command(h, ID_SEND);
        answerCase(h, refresh, CaseView());
        NetJob action = single();
        CHECK(action.kind == NetJobKind::WorkAction);
        deliver(h, action, resultOf(action));
        answerCase(h, single(), CaseView());
        NetJob send = single();
        CHECK(send.kind == NetJobKind::SendMessage);
        CHECK(send.params[Slot::text] == L"готово, проверьте");
    }
    SUBCASE("«Закрыть» given again with a corrected reason while the first runs goes after it") {
        SetWindowTextW(s.reasonEdit, L"дубль");
        command(h, ID_ACTION_FIRST + 4);
        NetJob first = single();
        SetWindowTextW(s.reasonEdit, L"решено по телефону");
        command(h, ID_ACTION_FIRST + 4);
        CHECK(takeJobs().empty());
        std::vector<NetJob> next = afterSuccess(h, first);
        REQUIRE(next.size() == 1);
        CHECK(next[0].params[Slot::actionOrEmoji] == L"close");
        CHECK(next[0].params[Slot::text] == L"решено по телефону");
    }
    SUBCASE("Ctrl+Enter during a download is sent after it") {
        SendMessageW(s.fileCombo, CB_SETCURSEL, 0, 0);
        FileDialogs saved = fileDialogs;
        fileDialogs.chooseDownload = [](HWND, std::wstring& path) {
            path = L"C:\\out\\a.txt";
            return true;
        };
        command(h, ID_DOWNLOAD);
        fileDialogs = saved;
        NetJob download = single();
        REQUIRE(download.kind == NetJobKind::DownloadFile);
        SetWindowTextW(s.composerEdit, L"файл получен");
        command(h, ID_SEND);
        CHECK(takeJobs().empty());
        deliver(h, download, resultOf(download));
        answerCase(h, single(), CaseView());
        NetJob send = single();
        CHECK(send.kind == NetJobKind::SendMessage);
        CHECK(send.params[Slot::text] == L"файл получен");
    }
    SUBCASE("a case just created opens afresh: what was typed for the case before never reaches it") {
        SetWindowTextW(s.composerEdit, L"для прежнего обращения");
        NetJob create;
        create.kind = NetJobKind::CreateWorkItem;
        create.generation = s.generation;
        create.mode = 1;
        NetResult made = resultOf(create);
        made.value = L"c9";
        deliver(h, create, std::move(made));
        NetJob refresh = single();
        CHECK(refresh.params[Slot::itemId] == L"c9");
        CHECK(textOf(s.composerEdit).empty());
        command(h, ID_SEND);
        // The panel still shows the case before: «Закрыть» must not close the new one.
        command(h, ID_ACTION_FIRST + 4);
        CHECK(textOf(s.statusLabel) == notDone);
        answerCase(h, refresh, CaseView());
        CHECK(takeJobs().empty());
        command(h, ID_ACTION_FIRST + 4);
        CHECK(single().params[Slot::itemId] == L"c9");
    }
}
