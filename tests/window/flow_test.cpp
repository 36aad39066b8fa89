#include <doctest/doctest.h>
#include "harness.h"
#include "ui/main/accessibility.h"
#include "ui/main/composer.h"
#include "ui/main/dispatch.h"
#include "ui/main/ids.h"
#include "ui/main/session.h"
#include "net/http.h"
#include "text/utf.h"
#include <commctrl.h>
#include <richedit.h>

namespace {
const char* meJson = u8R"({"user":{"name":"Анна"},"memberships":[{"id":"o1","name":"Первая","role":"admin"},
    {"id":"o2","name":"Вторая","role":"member"}]})";
const char* linesJson = u8R"([{"id":"l1","name":"Линия 1"}])";
const char* roomsJson = u8R"([{"id":"r1","title":"Общий чат","kind":"room","canWrite":true},
    {"id":"r2","title":"Второй","kind":"room","canWrite":true}])";

std::string historyWith(const std::string& items, const std::string& next = "", bool canWrite = true) {
    return "{\"items\":[" + items + "],\"page\":{\"nextBefore\":\"" + next + "\"},\"canWrite\":" +
           (canWrite ? "true" : "false") + "}";
}

std::string message(const std::string& id, const std::string& text, const std::string& extra = "") {
    return "{\"id\":\"" + id + "\",\"senderName\":\"S\",\"createdAt\":\"2024-05-01T09:30:12Z\",\"text\":\"" + text +
           "\",\"canReply\":true,\"canEdit\":true,\"canForward\":true,\"canReact\":true,\"canDelete\":true" + extra + "}";
}

// A text as the rich edit counts it: a CR LF pair is one position, a break.
std::wstring folded(const std::wstring& t) {
    std::wstring out;
    for (size_t i = 0; i < t.size(); ++i)
        if (!(t[i] == L'\r' && i + 1 < t.size() && t[i + 1] == L'\n')) out += t[i] == L'\n' ? L'\r' : t[i];
    return out;
}

std::wstring heldText(HWND view) { return folded(textOf(view)); }

void command(Harness& h, int id, int code = 0) {
    SendMessageW(h.window, WM_COMMAND, MAKEWPARAM(id, code), 0);
}

NetJob onlyJob() {
    std::vector<NetJob> jobs = takeJobs();
    REQUIRE(jobs.size() == 1);
    return jobs[0];
}

void signIn(Harness& h, const wchar_t* login = L"anna") {
    SetWindowTextW(h.state.loginEdit, login);
    SetWindowTextW(h.state.passwordEdit, L"secret");
    command(h, ID_SIGN_IN);
    NetJob job = onlyJob();
    NetResult r = resultOf(job);
    r.value = L"tok";
    r.meJson = meJson;
    r.linesJson = linesJson;
    deliver(h, job, r);
}

// Delivers the pending refresh with these replies; the list read first as
// the worker reads it, or left for the window to read.
void answerRefresh(Harness& h, const std::string& list, const std::string& history, const std::string& work = "",
                   bool readOnWorker = false) {
    NetJob job = onlyJob();
    REQUIRE(job.kind == NetJobKind::Refresh);
    NetResult r = resultOf(job);
    r.listJson = list;
    if (!job.params[Slot::itemId].empty()) {
        r.historyJson = history;
        r.workItemJson = work;
    }
    if (readOnWorker) readListOnWorker(r);
    deliver(h, job, r);
}

// The first message of the page selected, then «Ответить» or «Изменить».
void firstMessageIn(Harness& h, int modeCommand) {
    SendMessageW(h.state.messageCombo, CB_SETCURSEL, 1, 0);
    command(h, ID_MESSAGE_COMBO, CBN_SELCHANGE);
    command(h, modeCommand);
}

// Signed out while a periodic refresh runs; the refresh is returned.
NetJob signOutDuringRefresh(Harness& h) {
    SendMessageW(h.window, WM_TIMER, 1, 0);
    NetJob running = onlyJob();
    h.state.serverUrl = L"http://127.0.0.1:9";  // the sign-out thread's request fails quietly
    command(h, ID_SIGN_IN);
    return running;
}

// Signed in, first room chosen and its page shown.
void openFirstRoom(Harness& h, const std::string& history) {
    signIn(h);
    answerRefresh(h, roomsJson, "");
    answerRefresh(h, roomsJson, history);
}
}  // namespace

TEST_CASE("sign-in, the first row chosen and its page shown") {
    Harness h;
    MainWindowState& s = h.state;
    SetWindowTextW(s.serverEdit, L"http://localhost:1");
    SetWindowTextW(s.loginEdit, L"anna");
    SetWindowTextW(s.passwordEdit, L"secret");
    command(h, ID_SIGN_IN);
    NetJob job = onlyJob();
    CHECK(job.kind == NetJobKind::SignIn);
    CHECK(job.params[Slot::login] == L"anna");
    CHECK(job.params[Slot::password] == L"secret");
    CHECK(job.serverUrl == L"http://localhost:1");
    CHECK(s.busy);
    CHECK(textOf(s.statusLabel) == L"Обмен с сервером…");

    NetResult r = resultOf(job);
    r.value = L"tok";
    r.meJson = meJson;
    r.linesJson = linesJson;
    deliver(h, job, r);
    CHECK(s.token == L"tok");
    CHECK(s.userName == L"Анна");
    CHECK(s.orgId == L"o1");
    CHECK(SendMessageW(s.orgCombo, CB_GETCOUNT, 0, 0) == 2);
    CHECK(SendMessageW(s.orgCombo, CB_GETCURSEL, 0, 0) == 0);
    CHECK(s.lines.size() == 1);
    CHECK((GetWindowLongW(s.loginEdit, GWL_STYLE) & WS_VISIBLE) == 0);
    CHECK(textOf(s.passwordEdit).empty());
    CHECK(textOf(s.signInButton) == L"Выйти");

    // First refresh: the list, and its first row chosen.
    NetJob refresh = onlyJob();
    CHECK(refresh.params[Slot::token] == L"tok");
    CHECK(refresh.params[Slot::itemId].empty());
    NetResult list = resultOf(refresh);
    list.listJson = roomsJson;
    int generation = s.generation;
    deliver(h, refresh, list);
    CHECK(s.selectedId == L"r1");
    CHECK(s.generation == generation + 1);
    CHECK(SendMessageW(s.itemList, LB_GETCOUNT, 0, 0) == 2);
    CHECK(textOf(s.transcriptView).empty());

    // Second refresh: the page.
    answerRefresh(h, roomsJson, historyWith(message("m1", "Привет")));
    CHECK(SendMessageW(s.itemList, LB_GETCURSEL, 0, 0) == 0);
    CHECK(s.roomId == L"r1");
    CHECK(textOf(s.headerLabel) == L"Общий чат");
    CHECK(textOf(s.transcriptView).find(L"Привет") != std::wstring::npos);
    CHECK(textOf(s.statusLabel) == L"Подключено · Анна · Страница 1 · Ctrl+Enter — отправить");
    CHECK(IsWindowEnabled(s.findButton));
    CHECK_FALSE(IsWindowEnabled(s.olderButton));
    CHECK(IsWindowEnabled(s.composerEdit));
    CHECK(IsWindowEnabled(s.sendButton));
    for (HWND b : s.actionButtons) CHECK_FALSE(IsWindowEnabled(b));
    CHECK_FALSE(IsWindowEnabled(s.createTicketButton));
}

TEST_CASE("an account without memberships starts no refresh") {
    Harness h;
    command(h, ID_SIGN_IN);
    NetJob job = onlyJob();
    NetResult r = resultOf(job);
    r.value = L"tok";
    r.meJson = u8R"({"user":{"name":"Пётр"},"memberships":[]})";
    r.linesJson = "[]";
    deliver(h, job, r);
    CHECK(textOf(h.state.statusLabel) == L"Вошли: Пётр");
    CHECK(takeJobs().empty());
}

TEST_CASE("stale results and refused starts") {
    Harness h;
    MainWindowState& s = h.state;
    openFirstRoom(h, historyWith(message("m1", "a")));

    SUBCASE("a result of the tab before is dropped and a refresh for the new tab starts") {
        SetWindowTextW(s.composerEdit, L"");
        SendMessageW(s.itemList, LB_SETCURSEL, 1, 0);
        command(h, ID_ITEM_LIST, LBN_SELCHANGE);
        NetJob old = onlyJob();
        CHECK(old.params[Slot::itemId] == L"r2");
        TabCtrl_SetCurSel(s.modeTabs, 1);
        NMHDR n{s.modeTabs, 0, static_cast<UINT>(TCN_SELCHANGE)};
        SendMessageW(h.window, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&n));
        CHECK(s.mode == 1);
        CHECK(takeJobs().empty());  // busy: dropped, remembered
        CHECK(refreshPending(s));
        NetResult r = resultOf(old);
        r.listJson = roomsJson;
        r.historyJson = historyWith(message("x", "old page"));
        deliver(h, old, r);
        NetJob fresh = onlyJob();
        CHECK(fresh.mode == 1);
        CHECK(fresh.params[Slot::itemId].empty());
        CHECK_FALSE(refreshPending(s));
        CHECK(textOf(s.transcriptView).find(L"old page") == std::wstring::npos);
    }
    SUBCASE("several refused starts give exactly one refresh after the result") {
        SendMessageW(h.window, WM_TIMER, 1, 0);
        NetJob running = onlyJob();
        // Commands wait for idle; the timer too. Only a start that gets through
        // to the starter while busy is remembered, and as one refresh only.
        command(h, ID_LATEST);
        SendMessageW(h.window, WM_TIMER, 1, 0);
        NetJob other;
        other.kind = NetJobKind::ReactToMessage;
        CHECK_FALSE(startNetJob(s, other));
        refreshNow(s);
        CHECK(takeJobs().empty());
        CHECK(refreshPending(s));
        NetResult r = resultOf(running);
        r.listJson = roomsJson;
        r.historyJson = historyWith(message("m1", "a"));
        deliver(h, running, r);
        CHECK(takeJobs().size() == 1);
    }
}

TEST_CASE("paging: Older, Older, Newer; the oldest page; Latest; Find") {
    Harness h;
    MainWindowState& s = h.state;
    openFirstRoom(h, historyWith(message("m3", "newest"), "c2"));
    CHECK(IsWindowEnabled(s.olderButton));
    CHECK_FALSE(IsWindowEnabled(s.newerButton));
    CHECK_FALSE(IsWindowEnabled(s.latestButton));

    command(h, ID_OLDER);
    NetJob job = onlyJob();
    CHECK(job.params[Slot::beforeCursor] == L"c2");
    CHECK_FALSE(IsWindowEnabled(s.olderButton));  // disabled while the job runs
    NetResult r = resultOf(job);
    r.listJson = roomsJson;
    r.historyJson = historyWith(message("m2", "middle"), "c1");
    deliver(h, job, r);
    command(h, ID_OLDER);
    job = onlyJob();
    CHECK(job.params[Slot::beforeCursor] == L"c1");
    r = resultOf(job);
    r.listJson = roomsJson;
    r.historyJson = historyWith(message("m1", "oldest"));  // no nextBefore: the oldest page
    deliver(h, job, r);
    CHECK_FALSE(IsWindowEnabled(s.olderButton));
    CHECK(IsWindowEnabled(s.newerButton));
    CHECK(IsWindowEnabled(s.latestButton));
    CHECK(textOf(s.statusLabel).find(L"Страница 3") != std::wstring::npos);
    command(h, ID_OLDER);  // on the oldest page: nothing at all
    CHECK(takeJobs().empty());
    command(h, ID_NEWER);
    job = onlyJob();
    CHECK(job.params[Slot::beforeCursor] == L"c2");
    r = resultOf(job);
    r.listJson = roomsJson;
    r.historyJson = historyWith(message("m2", "middle"), "c1");
    deliver(h, job, r);
    CHECK(s.cursorStack.size() == 1);
    CHECK(textOf(s.statusLabel).find(L"Страница 2") != std::wstring::npos);

    SUBCASE("Latest drops the cursor and the search") {
        SetWindowTextW(s.searchEdit, L"что-то");
        command(h, ID_LATEST);
        job = onlyJob();
        CHECK(job.params[Slot::beforeCursor].empty());
        CHECK(textOf(s.searchEdit).empty());
        CHECK(s.cursorStack.empty());
    }
    SUBCASE("Find with an empty box acts as Latest but leaves the box alone") {
        command(h, ID_FIND);
        job = onlyJob();
        CHECK(job.params[Slot::beforeCursor].empty());
        CHECK(job.params[Slot::searchQuery].empty());
        CHECK(s.cursorStack.empty());
    }
    SUBCASE("Find with a text searches from its first page") {
        SetWindowTextW(s.searchEdit, L"счёт");
        command(h, ID_FIND);
        job = onlyJob();
        CHECK(job.params[Slot::searchQuery] == L"счёт");
        CHECK(job.params[Slot::beforeCursor].empty());
        r = resultOf(job);
        r.listJson = roomsJson;
        r.historyJson = historyWith(message("m9", "счёт 1"));
        deliver(h, job, r);
        CHECK(textOf(s.statusLabel) == L"Подключено · Анна · Страница 1 · Поиск: счёт · Ctrl+Enter — отправить");
        CHECK(IsWindowEnabled(s.latestButton));
        CHECK(textOf(s.searchEdit) == L"счёт");
    }
}

TEST_CASE("a failed refresh: a blip keeps the page; a refusal empties it and keeps what was typed") {
    Harness h;
    MainWindowState& s = h.state;
    openFirstRoom(h, historyWith(message("m1", "исходный текст")));

    SUBCASE("the server out of reach: page, reply mode, paging and composer stay; the time is shown") {
        const std::wstring page = textOf(s.transcriptView);
        firstMessageIn(h, ID_REPLY);
        SetWindowTextW(s.composerEdit, L"черновик ответа");
        const std::wstring hint = textOf(s.hintLabel);
        for (int round = 0; round < 2; ++round) {
            SendMessageW(h.window, WM_TIMER, 1, 0);
            NetJob job = onlyJob();
            NetResult failed = resultOf(job);
            failed.ok = false;
            failed.transportFailure = true;
            failed.errorText = L"Не удалось связаться с сервером или открыть файл";
            deliver(h, job, failed);
            CHECK(textOf(s.statusLabel).rfind(L"Не удалось связаться с сервером или открыть файл · показаны данные на ", 0) == 0);
            CHECK(textOf(s.statusLabel).size() == std::wstring(L"Не удалось связаться с сервером или открыть файл · показаны данные на 12:34").size());
            CHECK(textOf(s.transcriptView) == page);
            CHECK(textOf(s.hintLabel) == hint);
            CHECK(s.replyToId == L"m1");
            CHECK(textOf(s.composerEdit) == L"черновик ответа");
            CHECK(s.roomId == L"r1");
            CHECK(IsWindowEnabled(s.findButton));
            CHECK(IsWindowEnabled(s.sendButton));
        }
    }
    SUBCASE("a page that cannot be read changes nothing shown, the list neither") {
        SetWindowTextW(s.composerEdit, L"черновик");
        SendMessageW(h.window, WM_TIMER, 1, 0);
        NetJob job = onlyJob();
        NetResult r = resultOf(job);
        r.listJson = u8R"([{"id":"r1","title":"Переименован","kind":"room","canWrite":true}])";
        r.historyJson = "{\"items\":[{\"id\":";
        deliver(h, job, r);
        CHECK(textOf(s.statusLabel).rfind(L"Не удалось прочитать ответ сервера · показаны данные на ", 0) == 0);
        CHECK(s.listRows.size() == 2);
        CHECK(s.listRows[0].label == L"Общий чат");
    }
    SUBCASE("refused: the conversation empties, the typed text stays") {
        SetWindowTextW(s.composerEdit, L"черновик ответа");
        SendMessageW(h.window, WM_TIMER, 1, 0);
        NetJob job = onlyJob();
        NetResult failed = resultOf(job);
        failed.ok = false;
        failed.errorText = L"Нет доступа";
        deliver(h, job, failed);
        CHECK(textOf(s.statusLabel) == L"Нет доступа");
        CHECK(textOf(s.transcriptView) == L"Данные недоступны. Выберите другой разговор или войдите снова.");
        CHECK(textOf(s.composerEdit) == L"черновик ответа");
        CHECK(s.roomId.empty());
        CHECK_FALSE(IsWindowEnabled(s.sendButton));
        command(h, ID_SEND);  // no room: nothing is sent
        CHECK(takeJobs().empty());
    }
    SUBCASE("an edit in progress ends with the draft back") {
        SetWindowTextW(s.composerEdit, L"мой черновик");
        firstMessageIn(h, ID_EDIT);
        CHECK(s.editId == L"m1");
        CHECK(textOf(s.composerEdit) == L"исходный текст");
        SendMessageW(h.window, WM_TIMER, 1, 0);
        NetJob job = onlyJob();
        NetResult failed = resultOf(job);
        failed.ok = false;
        failed.errorText = L"Сервер отклонил запрос";
        deliver(h, job, failed);
        CHECK(s.editId.empty());
        CHECK(textOf(s.composerEdit) == L"мой черновик");
    }
    // The next successful refresh of the same row enables sending to it again.
    SendMessageW(h.window, WM_TIMER, 1, 0);
    answerRefresh(h, roomsJson, historyWith(message("m1", "исходный текст")));
    CHECK(s.roomId == L"r1");
    CHECK(IsWindowEnabled(s.sendButton));
    CHECK(IsWindowEnabled(s.composerEdit));
    command(h, ID_SEND);
    NetJob send = onlyJob();
    CHECK(send.kind == NetJobKind::SendMessage);
    CHECK(send.params[Slot::roomId] == L"r1");
    CHECK(!send.params[Slot::text].empty());
}

TEST_CASE("a draft per conversation: back when the operator returns, gone once sent or signed out") {
    Harness h;
    MainWindowState& s = h.state;
    const std::string pageA = historyWith(message("m1", "в первом"));
    const std::string pageB = historyWith(message("m7", "во втором"));
    openFirstRoom(h, pageA);
    auto clickRow = [&](int row) {
        SendMessageW(s.itemList, LB_SETCURSEL, row, 0);
        command(h, ID_ITEM_LIST, LBN_SELCHANGE);
    };
    auto openRow = [&](int row, const std::string& page) {
        clickRow(row);
        answerRefresh(h, roomsJson, page);
    };
    SetWindowTextW(s.composerEdit, L"ответ первому");
    openRow(1, pageB);
    CHECK(textOf(s.composerEdit).empty());
    SetWindowTextW(s.composerEdit, L"ответ второму");
    // A periodic refresh changes nothing.
    SendMessageW(h.window, WM_TIMER, 1, 0);
    answerRefresh(h, roomsJson, pageB);
    CHECK(textOf(s.composerEdit) == L"ответ второму");
    openRow(0, pageA);
    CHECK(textOf(s.composerEdit) == L"ответ первому");
    CHECK(IsWindowEnabled(s.sendButton));

    SUBCASE("an edit left by a row change gives back the draft set aside, not the edited text") {
        firstMessageIn(h, ID_EDIT);
        SetWindowTextW(s.composerEdit, L"в первом, исправлено");
        openRow(1, pageB);
        CHECK(textOf(s.composerEdit) == L"ответ второму");
        openRow(0, pageA);
        CHECK(textOf(s.composerEdit) == L"ответ первому");
        CHECK(s.editId.empty());
    }
    SUBCASE("reply mode comes back when its message is on the newest page, else the text alone") {
        firstMessageIn(h, ID_REPLY);
        const std::wstring hint = textOf(s.hintLabel);
        openRow(1, pageB);
        CHECK(s.replyToId.empty());
        CHECK(textOf(s.hintLabel).empty());
        openRow(0, pageA);
        CHECK(s.replyToId == L"m1");
        CHECK(textOf(s.hintLabel) == hint);
        openRow(1, pageB);
        openRow(0, historyWith(message("m2", "новое")));
        CHECK(s.replyToId.empty());
        CHECK(textOf(s.composerEdit) == L"ответ первому");
    }
    SUBCASE("the server ends the session: all stays; the same login continues there, another starts afresh") {
        openRow(1, pageB);
        firstMessageIn(h, ID_REPLY);
        SendMessageW(h.window, WM_TIMER, 1, 0);
        NetJob job = onlyJob();
        NetResult ended = resultOf(job);
        ended.ok = false;
        ended.refusedStatus = 401;
        ended.errorText = L"Требуется вход";
        const std::wstring page = textOf(s.transcriptView);
        deliver(h, job, ended);
        CHECK(textOf(s.statusLabel) == L"Сеанс завершён сервером. Войдите снова — черновики сохранены.");
        CHECK(textOf(s.transcriptView) == page);
        CHECK(s.replyToId == L"m7");
        CHECK(textOf(s.composerEdit) == L"ответ второму");
        CHECK(textOf(s.passwordEdit).empty());
        // Nothing goes out until the operator signs in again.
        SendMessageW(h.window, WM_TIMER, 1, 0);
        command(h, ID_SEND);
        command(h, ID_OLDER);
        CHECK(takeJobs().empty());
        CHECK(textOf(s.transcriptView) == page);
        SUBCASE("the same login") {
            signIn(h);
            answerRefresh(h, roomsJson, "");
            CHECK(s.selectedId == L"r2");
            answerRefresh(h, roomsJson, pageB);
            CHECK(textOf(s.composerEdit) == L"ответ второму");
            CHECK(s.replyToId == L"m7");
            openRow(0, pageA);
            CHECK(textOf(s.composerEdit) == L"ответ первому");
        }
        SUBCASE("another login") {
            signIn(h, L"boris");
            CHECK(s.drafts.empty());
            answerRefresh(h, roomsJson, "");
            answerRefresh(h, roomsJson, pageA);
            CHECK(textOf(s.composerEdit).empty());
            openRow(1, pageB);
            CHECK(textOf(s.composerEdit).empty());
        }
    }
    SUBCASE("a send that succeeds after the operator left and came back ends in the composer too") {
        command(h, ID_SEND);
        NetJob send = onlyJob();
        clickRow(1);
        clickRow(0);
        CHECK(textOf(s.composerEdit) == L"ответ первому");
        deliver(h, send, resultOf(send));
        CHECK(textOf(s.composerEdit).empty());
        answerRefresh(h, roomsJson, pageA);
        command(h, ID_SEND);
        CHECK(takeJobs().empty());
    }
    SUBCASE("a reply draft left again before its page came keeps its reply") {
        firstMessageIn(h, ID_REPLY);
        openRow(1, pageB);
        clickRow(0);
        NetJob toA = onlyJob();
        clickRow(1);
        deliver(h, toA, resultOf(toA));
        answerRefresh(h, roomsJson, pageB);
        openRow(0, pageA);
        CHECK(s.replyToId == L"m1");
        CHECK(textOf(s.composerEdit) == L"ответ первому");
    }
    SUBCASE("a sent draft ends; so does every draft at sign-out") {
        command(h, ID_SEND);
        NetJob send = onlyJob();
        deliver(h, send, resultOf(send));
        answerRefresh(h, roomsJson, pageA);
        CHECK(textOf(s.composerEdit).empty());
        openRow(1, pageB);
        CHECK(textOf(s.composerEdit) == L"ответ второму");
        openRow(0, pageA);
        CHECK(textOf(s.composerEdit).empty());
        // Sent while the operator had already moved on: no draft of it stays.
        SetWindowTextW(s.composerEdit, L"ещё одно");
        command(h, ID_SEND);
        NetJob late = onlyJob();
        clickRow(1);
        deliver(h, late, resultOf(late));
        answerRefresh(h, roomsJson, pageB);
        openRow(0, pageA);
        CHECK(textOf(s.composerEdit).empty());
        s.serverUrl = L"http://127.0.0.1:9";  // the sign-out thread's request fails quietly
        command(h, ID_SIGN_IN);
        CHECK(s.drafts.empty());
        signIn(h);
        answerRefresh(h, roomsJson, "");
        answerRefresh(h, roomsJson, pageA);
        CHECK(textOf(s.composerEdit).empty());
        openRow(1, pageB);
        CHECK(textOf(s.composerEdit).empty());
    }
}

TEST_CASE("a deliberate view change empties the composer") {
    Harness h;
    MainWindowState& s = h.state;
    openFirstRoom(h, historyWith(message("m1", "a")));
    SetWindowTextW(s.composerEdit, L"текст");
    SendMessageW(s.orgCombo, CB_SETCURSEL, 1, 0);
    command(h, ID_ORG_COMBO, CBN_SELCHANGE);
    CHECK(s.orgId == L"o2");
    CHECK(textOf(s.composerEdit).empty());
    CHECK(s.selectedId.empty());
    CHECK(textOf(s.transcriptView).empty());
    CHECK(onlyJob().params[Slot::orgId] == L"o2");
    // The rooms of the organisation left cannot be opened under the new one.
    CHECK(SendMessageW(s.itemList, LB_GETCOUNT, 0, 0) == 0);
    SendMessageW(s.itemList, LB_SETCURSEL, 0, 0);
    command(h, ID_ITEM_LIST, LBN_SELCHANGE);
    CHECK(s.selectedId.empty());
}

TEST_CASE("an empty list with nothing selected does not leave the exchange line up") {
    Harness h;
    signIn(h);
    answerRefresh(h, "[]", "");
    CHECK(textOf(h.state.statusLabel) != L"Обмен с сервером…");
    CHECK(textOf(h.state.statusLabel).find(L"Подключено · Анна") == 0);
    CHECK(takeJobs().empty());
}

TEST_CASE("a long list changes only the rows that changed; the selection and the top row stay") {
    Harness h;
    MainWindowState& s = h.state;
    auto rooms = [](bool changed) {
        std::string list = "[";
        for (int i = 0; i < 300; ++i) {
            if (changed && i == 50) list += R"({"id":"new","title":"Новая комната","kind":"room"},)";
            list += "{\"id\":\"r" + std::to_string(i) + "\",\"title\":\"Комната " + std::to_string(i) +
                    (changed && i == 120 ? " (переименована)" : "") + "\",\"kind\":\"room\"}" + (i < 299 ? "," : "");
        }
        return list + "]";
    };
    bool onWorker = false;
    SUBCASE("read on the worker") { onWorker = true; }
    SUBCASE("read by the window") {}
    signIn(h);
    answerRefresh(h, rooms(false), "", "", onWorker);
    answerRefresh(h, rooms(false), historyWith(message("m1", "a")), "", onWorker);
    SendMessageW(s.itemList, LB_SETCURSEL, 150, 0);
    command(h, ID_ITEM_LIST, LBN_SELCHANGE);
    answerRefresh(h, rooms(false), historyWith(message("m1", "a")), "", onWorker);
    // Each shown row marked, so a row the list box kept keeps its mark.
    for (int i = 0; i < 300; ++i) SendMessageW(s.itemList, LB_SETITEMDATA, i, i + 1);
    SendMessageW(s.itemList, LB_SETTOPINDEX, 100, 0);
    REQUIRE(SendMessageW(s.itemList, LB_GETTOPINDEX, 0, 0) == 100);
    SendMessageW(h.window, WM_TIMER, 1, 0);
    answerRefresh(h, rooms(true), historyWith(message("m1", "a")), "", onWorker);
    REQUIRE(SendMessageW(s.itemList, LB_GETCOUNT, 0, 0) == 301);
    auto mark = [&](LRESULT row) { return SendMessageW(s.itemList, LB_GETITEMDATA, static_cast<WPARAM>(row), 0); };
    std::vector<LRESULT> fresh;
    for (int i = 0; i < 301; ++i)
        if (mark(i) == 0) fresh.push_back(i);
    CHECK(fresh == std::vector<LRESULT>{50, 121});
    CHECK(mark(SendMessageW(s.itemList, LB_GETTOPINDEX, 0, 0)) == 101);
    CHECK(mark(SendMessageW(s.itemList, LB_GETCURSEL, 0, 0)) == 151);
    CHECK(s.selectedId == L"r150");
    wchar_t line[64] = {};
    SendMessageW(s.itemList, LB_GETTEXT, 121, reinterpret_cast<LPARAM>(line));
    CHECK(std::wstring(line) == L"Комната 120 (переименована)");
    if (onWorker) {
        // The list shown is neither read again nor kept on the worker, and
        // stays shown; another one is read there.
        SendMessageW(h.window, WM_TIMER, 1, 0);
        NetJob job = onlyJob();
        NetResult other = resultOf(job);
        other.listJson = rooms(false);
        readListOnWorker(other);
        CHECK(other.listReading.get());
        NetResult same = resultOf(job);
        same.listJson = rooms(true);
        readListOnWorker(same);
        CHECK_FALSE(same.listReading.get());
        CHECK(same.listJson.empty());
        same.historyJson = historyWith(message("m1", "a"));
        deliver(h, job, same);
        CHECK(SendMessageW(s.itemList, LB_GETCOUNT, 0, 0) == 301);
        CHECK(mark(SendMessageW(s.itemList, LB_GETCURSEL, 0, 0)) == 151);
        CHECK(textOf(s.statusLabel).find(L"Подключено") == 0);
        // Refused once on the worker, a list is not parsed again by the
        // window, and what is shown stays.
        refreshNow(s);
        job = onlyJob();
        NetResult bad = resultOf(job);
        bad.listJson = "[{\"id\":";
        readListOnWorker(bad);
        CHECK(bad.listUnreadable);
        bad.listJson = rooms(false);
        deliver(h, job, bad);
        CHECK(textOf(s.statusLabel).find(L"Не удалось прочитать ответ сервера") == 0);
        CHECK(SendMessageW(s.itemList, LB_GETCOUNT, 0, 0) == 301);
    }
}

TEST_CASE("the flash shows for five seconds, then the connected line returns; a screen reader hears each once") {
    Harness h;
    MainWindowState& s = h.state;
    WinEvents spoken(EVENT_OBJECT_LIVEREGIONCHANGED);
    openFirstRoom(h, historyWith(message("m1", "a")));
    CHECK(spoken.takeFor(s.statusLabel) == 2);  // "Вошли: Анна", then the connected line
    auto periodicRefresh = [&] {
        SendMessageW(h.window, WM_TIMER, 1, 0);
        answerRefresh(h, roomsJson, historyWith(message("m1", "a")));
    };
    periodicRefresh();
    CHECK(spoken.takeFor(s.statusLabel) == 0);  // the same line again
    showFlash(s, L"Реакция обновлена");
    periodicRefresh();
    CHECK(textOf(s.statusLabel) == L"Реакция обновлена");
    CHECK(spoken.takeFor(s.statusLabel) == 1);
    periodicRefresh();
    CHECK(spoken.takeFor(s.statusLabel) == 0);
    s.flashTick = GetTickCount() - 5001;
    periodicRefresh();
    CHECK(textOf(s.statusLabel).find(L"Подключено") == 0);
    CHECK(spoken.takeFor(s.statusLabel) == 1);
}

TEST_CASE("a page beyond the transcript's limit is not rewritten by every refresh") {
    Harness h;
    MainWindowState& s = h.state;
    std::string items;
    std::string text(4000, 'x');
    for (int i = 0; i < 160; ++i) items += (i ? "," : "") + message("m" + std::to_string(i), text);
    openFirstRoom(h, historyWith(items));
    REQUIRE(GetWindowTextLengthW(s.transcriptView) >= 600000);
    // Something that notices a rewrite: a selection the operator made.
    SendMessageW(s.transcriptView, EM_SETSEL, 10, 20);
    SendMessageW(s.transcriptView, EM_LINESCROLL, 0, 40);
    LRESULT first = SendMessageW(s.transcriptView, EM_GETFIRSTVISIBLELINE, 0, 0);
    REQUIRE(first > 0);
    // Other bytes with the same text to show: the reply is read again and the
    // transcript compared, not skipped as an unchanged reply.
    std::string again = historyWith(items);
    again.insert(again.size() - 1, ",\"unread\":0");
    SendMessageW(h.window, WM_TIMER, 1, 0);
    answerRefresh(h, roomsJson, again);
    DWORD from = 0, to = 0;
    SendMessageW(s.transcriptView, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    CHECK(from == 10);
    CHECK(to == 20);
    CHECK(SendMessageW(s.transcriptView, EM_GETFIRSTVISIBLELINE, 0, 0) == first);
}

TEST_CASE("the work item panel") {
    Harness h;
    MainWindowState& s = h.state;
    signIn(h);
    answerRefresh(h, roomsJson, "");
    answerRefresh(h, roomsJson, historyWith(message("m1", "a")));
    TabCtrl_SetCurSel(s.modeTabs, 1);
    NMHDR n{s.modeTabs, 0, static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageW(h.window, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&n));
    const char* work = u8R"({"cases":[{"id":"c1","subject":"Принтер","roomId":"rc1","kind":"case","status":"working"},
        {"id":"c2","subject":"Сеть","roomId":"rc2","kind":"case","status":"mystery"}]})";
    answerRefresh(h, work, "");
    CHECK(SendMessageW(s.itemList, LB_GETCOUNT, 0, 0) == 2);
    wchar_t line[128] = {};
    SendMessageW(s.itemList, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(line));
    CHECK(std::wstring(line) == L"Новая · Сеть");

    struct Case { const char* rights; bool a[6]; bool staff; bool ticket; };
    const Case cases[] = {
        {R"("dispatch":true,"assigned":false,"ticketId":"t9")", {true, false, false, false, true, true}, true, false},
        {R"("dispatch":true,"assigned":false,"ticketId":"")", {true, false, false, false, true, true}, true, true},
        {R"("dispatch":false,"assigned":true)", {false, true, true, true, true, false}, false, false},
        {R"("dispatch":false,"assigned":false)", {false, false, false, false, false, false}, false, false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.rights);
        SendMessageW(h.window, WM_TIMER, 1, 0);
        std::string item = std::string(u8R"({"item":{"room_id":"rc1","version":7,"status":"working","subject":"Принтер"},)") +
                           c.rights + R"(,"staff":[{"id":"u1","name":"Иван"},{"id":"u2","name":"Ольга"}]})";
        answerRefresh(h, work, historyWith(message("m1", "a")), item);
        for (int i = 0; i < 6; ++i) CHECK(IsWindowEnabled(s.actionButtons[i]) == c.a[i]);
        CHECK(IsWindowEnabled(s.staffCombo) == c.staff);
        CHECK(IsWindowEnabled(s.createTicketButton) == c.ticket);
        CHECK(textOf(s.headerLabel) == L"Принтер — В работе");
        CHECK(s.roomId == L"rc1");
        CHECK(s.workVersion == 7);
    }
    // The staff choice survives a refresh; an action carries it with the version and reason.
    SendMessageW(s.staffCombo, CB_SETCURSEL, 1, 0);
    SendMessageW(h.window, WM_TIMER, 1, 0);
    answerRefresh(h, work, historyWith(message("m1", "a")),
                  u8R"({"item":{"room_id":"rc1","version":8,"status":"assigned","subject":"Принтер"},"dispatch":true,
                      "assigned":true,"staff":[{"id":"u0","name":"Новый"},{"id":"u1","name":"Иван"},{"id":"u2","name":"Ольга"}]})");
    CHECK(SendMessageW(s.staffCombo, CB_GETCURSEL, 0, 0) == 2);
    CHECK(textOf(s.headerLabel) == L"Принтер — Назначено");
    SetWindowTextW(s.reasonEdit, L"клиент ждёт");
    command(h, ID_ACTION_FIRST + 1);
    NetJob action = onlyJob();
    CHECK(action.kind == NetJobKind::WorkAction);
    CHECK(action.params[Slot::actionOrEmoji] == L"start");
    CHECK(action.version == 8);
    CHECK(action.params[Slot::text] == L"клиент ждёт");
    CHECK(action.params[Slot::assigneeOrFileId] == L"u2");
}

TEST_CASE("action buttons before any page do nothing") {
    Harness h;
    command(h, ID_ACTION_FIRST);
    command(h, ID_ACTION_FIRST + 4);
    CHECK(takeJobs().empty());
}

TEST_CASE("sign-out is local and drops the running job's late result") {
    Harness h;
    MainWindowState& s = h.state;
    openFirstRoom(h, historyWith(message("m1", "a")));
    NetJob running = signOutDuringRefresh(h);
    CHECK(s.token.empty());
    CHECK(s.orgId.empty());
    CHECK(textOf(s.statusLabel) == L"Сеанс закрыт локально");
    CHECK(textOf(s.signInButton) == L"Войти");
    CHECK(SendMessageW(s.itemList, LB_GETCOUNT, 0, 0) == 0);
    NetResult late = resultOf(running);
    late.listJson = roomsJson;
    late.historyJson = historyWith(message("m1", "a"));
    deliver(h, running, late);
    CHECK(takeJobs().empty());  // the refresh that follows does nothing: no organisation
    CHECK(textOf(s.transcriptView).empty());
}

TEST_CASE("a sign-in given while a job runs waits for it and goes to the address typed then") {
    Harness h;
    MainWindowState& s = h.state;
    openFirstRoom(h, historyWith(message("m1", "a")));
    NetJob running = signOutDuringRefresh(h);
    REQUIRE(s.token.empty());
    SetWindowTextW(s.serverEdit, L"http://127.0.0.1:7");
    SetWindowTextW(s.loginEdit, L"anna");
    SetWindowTextW(s.passwordEdit, L"secert");
    command(h, ID_SIGN_IN);
    // A mistyped password corrected before «Войти» again: the corrected one goes, once.
    SetWindowTextW(s.passwordEdit, L"secret");
    command(h, ID_SIGN_IN);
    command(h, ID_SIGN_IN);
    CHECK(takeJobs().empty());
    // Changing the field while it waits changes nothing: the session goes
    // where the operator pointed when pressing «Войти».
    SetWindowTextW(s.serverEdit, L"http://127.0.0.1:8");
    CHECK(s.serverUrl == L"http://127.0.0.1:9");
    deliver(h, running, resultOf(running));
    NetJob signIn = onlyJob();
    CHECK(signIn.kind == NetJobKind::SignIn);
    CHECK(signIn.serverUrl == L"http://127.0.0.1:7");
    CHECK(signIn.params[Slot::password] == L"secret");
    CHECK(s.serverUrl == L"http://127.0.0.1:7");
    NetResult r = resultOf(signIn);
    r.value = L"tok2";
    r.meJson = meJson;
    r.linesJson = linesJson;
    deliver(h, signIn, r);
    NetJob refresh = onlyJob();
    CHECK(refresh.serverUrl == L"http://127.0.0.1:7");
    CHECK(refresh.params[Slot::token] == L"tok2");
}

TEST_CASE("the transcript follows every page exactly, also when only a part of it changes") {
    Harness h;
    MainWindowState& s = h.state;
    openFirstRoom(h, historyWith(message("m1", "a")));
    unsigned seed = 12345;
    auto next = [&](unsigned n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    std::vector<std::string> items;
    for (int round = 0; round < 60; ++round) {
        CAPTURE(round);
        switch (next(4)) {
        case 0: items.push_back(message("m" + std::to_string(round), "новое сообщение " + std::to_string(round))); break;
        case 1:
            if (!items.empty()) items[next(static_cast<unsigned>(items.size()))] =
                message("m" + std::to_string(round), "изменено", R"(,"reactions":[{"emoji":"👍","count":2,"mine":true}])");
            break;
        case 2:
            if (!items.empty()) items.erase(items.begin() + next(static_cast<unsigned>(items.size())));
            break;
        default:
            items.insert(items.begin(), message("o" + std::to_string(round), "старое\\nв две строки"));
            break;
        }
        std::string joined;
        for (size_t i = 0; i < items.size(); ++i) joined += (i ? "," : "") + items[i];
        SendMessageW(h.window, WM_TIMER, 1, 0);
        answerRefresh(h, roomsJson, historyWith(joined));
        CHECK(folded(textOf(s.transcriptView)) == folded(s.shownTranscript));
    }
}

TEST_CASE("a new message at the end changes only the end of the transcript") {
    Harness h;
    MainWindowState& s = h.state;
    std::string items;
    for (int i = 0; i < 60; ++i) items += (i ? "," : "") + message("m" + std::to_string(i), "строка " + std::to_string(i));
    openFirstRoom(h, historyWith(items));
    SendMessageW(s.transcriptView, EM_SETSEL, 5, 9);
    SendMessageW(s.transcriptView, EM_LINESCROLL, 0, 30 - SendMessageW(s.transcriptView, EM_GETFIRSTVISIBLELINE, 0, 0));
    LRESULT first = SendMessageW(s.transcriptView, EM_GETFIRSTVISIBLELINE, 0, 0);
    REQUIRE(first > 0);
    SendMessageW(h.window, WM_TIMER, 1, 0);
    answerRefresh(h, roomsJson, historyWith(items + "," + message("m60", "новое")));
    // The operator's selection near the top survives: the start was not rewritten.
    DWORD from = 0, to = 0;
    SendMessageW(s.transcriptView, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    CHECK(from == 5);
    CHECK(to == 9);
    CHECK(SendMessageW(s.transcriptView, EM_GETFIRSTVISIBLELINE, 0, 0) == first);
    CHECK(textOf(s.transcriptView).find(L"новое") != std::wstring::npos);
}

TEST_CASE("the same page again restores what the job's start disabled, and nothing else") {
    Harness h;
    MainWindowState& s = h.state;
    std::string page = historyWith(message("m1", "a") + "," + message("m2", "b", R"(,"fileId":"f1","fileName":"x.txt")"), "c1");
    openFirstRoom(h, page);
    SendMessageW(s.messageCombo, CB_SETCURSEL, 2, 0);
    SendMessageW(h.window, WM_COMMAND, MAKEWPARAM(ID_MESSAGE_COMBO, CBN_SELCHANGE), 0);
    for (int round = 0; round < 2; ++round) {
        SendMessageW(h.window, WM_TIMER, 1, 0);
        NetJob job = onlyJob();
        CHECK_FALSE(IsWindowEnabled(s.olderButton));
        CHECK_FALSE(IsWindowEnabled(s.sendButton));
        NetResult r = resultOf(job);
        r.listJson = roomsJson;
        r.historyJson = page;
        deliver(h, job, r);
        CHECK(IsWindowEnabled(s.findButton));
        CHECK(IsWindowEnabled(s.olderButton));
        CHECK(IsWindowEnabled(s.sendButton));
        CHECK(IsWindowEnabled(s.composerEdit));
        CHECK(IsWindowEnabled(s.downloadButton));
        CHECK(IsWindowEnabled(s.replyButton));
        CHECK(SendMessageW(s.messageCombo, CB_GETCURSEL, 0, 0) == 2);
        CHECK(SendMessageW(s.itemList, LB_GETCURSEL, 0, 0) == 0);
        CHECK(textOf(s.statusLabel).find(L"Подключено") == 0);
    }
    // A changed page is read again.
    SendMessageW(h.window, WM_TIMER, 1, 0);
    answerRefresh(h, roomsJson, historyWith(message("m2", "b") + "," + message("m3", "c")));
    CHECK(SendMessageW(s.messageCombo, CB_GETCURSEL, 0, 0) == 1);
    CHECK_FALSE(IsWindowEnabled(s.olderButton));
    CHECK_FALSE(IsWindowEnabled(s.downloadButton));
}

TEST_CASE("the reading place stays while messages arrive and leave a full page") {
    Harness h;
    MainWindowState& s = h.state;
    HWND view = s.transcriptView;
    // A page keeps the newest 44 messages; message i has 2 + i % 5 lines of text.
    auto page = [](int first) {
        std::string items;
        for (int i = first; i < first + 44; ++i) {
            std::string text = "текст " + std::to_string(i);
            for (int k = 0; k < i % 5; ++k) text += "\\nещё строка";
            items += (i > first ? "," : "") + message("m" + std::to_string(i), text);
        }
        return historyWith(items, "c1");
    };
    auto moveOn = [&](int first) {
        SendMessageW(h.window, WM_TIMER, 1, 0);
        answerRefresh(h, roomsJson, page(first));
    };
    auto firstLine = [&] { return SendMessageW(view, EM_GETFIRSTVISIBLELINE, 0, 0); };
    auto topText = [&] {
        LONG at = static_cast<LONG>(SendMessageW(view, EM_LINEINDEX, static_cast<WPARAM>(firstLine()), 0));
        wchar_t text[48] = {};
        TEXTRANGEW range{{at, at + 40}, text};
        SendMessageW(view, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
        return std::wstring(text);
    };
    // The last character of a text is in view.
    auto inView = [&](const std::wstring& what) {
        size_t at = heldText(view).find(what);
        REQUIRE(at != std::wstring::npos);
        at += what.size() - 1;
        POINTL point{};
        SendMessageW(view, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&point), static_cast<LPARAM>(at));
        RECT area{};
        SendMessageW(view, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area));
        return point.y >= area.top && point.y < area.bottom;
    };
    auto scrollTo = [&](LRESULT line) { SendMessageW(view, EM_LINESCROLL, 0, line - firstLine()); };
    openFirstRoom(h, page(0));
    // The first showing opens at the end.
    CHECK(inView(L"текст 43"));

    SUBCASE("in the middle the same text stays at the top, and a selection stays on its words") {
        size_t word = heldText(view).find(L"текст 30");
        SendMessageW(view, EM_SETSEL, word, word + 8);
        scrollTo(80);
        std::wstring top = topText();
        moveOn(1);
        CHECK(topText() == top);
        moveOn(2);
        CHECK(topText() == top);
        wchar_t selected[32] = {};
        SendMessageW(view, EM_GETSELTEXT, 0, reinterpret_cast<LPARAM>(selected));
        CHECK(std::wstring(selected) == L"текст 30");
    }
    SUBCASE("at the end the new message comes into view") {
        moveOn(1);
        CHECK(inView(L"текст 44\rещё строка\rещё строка\rещё строка\rещё строка"));
    }
    SUBCASE("at the top the view stays at the top") {
        scrollTo(0);
        moveOn(1);
        CHECK(firstLine() == 0);
        CHECK(topText().find(L"текст 1\r") != std::wstring::npos);
    }
    SUBCASE("a page shown after paging opens at its end") {
        scrollTo(80);
        command(h, ID_OLDER);
        answerRefresh(h, roomsJson, page(100));
        CHECK(inView(L"текст 143"));
    }
}

TEST_CASE("texts that look like rich text documents are shown as they are, whole or in part") {
    Harness h;
    MainWindowState& s = h.state;
    auto page = [](const std::string& sender, const std::string& text) {
        return historyWith(R"({"id":"m1","senderName":")" + sender + R"(","createdAt":"2024-05-01T09:30:12Z","text":")" +
                           text + R"("},{"id":"m2","senderName":"S","createdAt":"2024-05-01T09:31:00Z","text":"b"})");
    };
    openFirstRoom(h, page(R"({\\rtf1 Анна})", R"({urtf текст})"));
    CHECK(heldText(s.transcriptView).rfind(L"{\\rtf1 Анна} · 2024-05-01 09:30 UTC:\r{urtf текст}\r", 0) == 0);
    // Only the changed part is replaced: the selection at the end survives it.
    SendMessageW(s.transcriptView, EM_SETSEL, 60, 62);
    SendMessageW(h.window, WM_TIMER, 1, 0);
    answerRefresh(h, roomsJson, page(R"({urtf Борис})", R"({\\rtf1 новый})"));
    CHECK(heldText(s.transcriptView).rfind(L"{urtf Борис} · 2024-05-01 09:30 UTC:\r{\\rtf1 новый}\r", 0) == 0);
    DWORD from = 0, to = 0;
    SendMessageW(s.transcriptView, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    CHECK(to - from == 2);

    // The rich edit reads a stream in pieces of 4096 bytes: 27 units of header
    // and 2020 of text put the CR LF after the text across the first border,
    // and the emoji of the next message across the second.
    const std::string first = std::string(2020, 'x');
    const std::string second = std::string(2035, 'y') + u8"😀";
    std::wstring expected = L"S · 2024-05-01 09:30 UTC:\r" + std::wstring(2020, L'x') + L"\r\r\rS · ";
    SendMessageW(h.window, WM_TIMER, 1, 0);
    answerRefresh(h, roomsJson, page("S", first + R"("},{"id":"m3","senderName":"S","text":")" + second));
    CHECK(folded(s.shownTranscript) == heldText(s.transcriptView));
    CHECK(heldText(s.transcriptView).find(expected) != std::wstring::npos);
    // The same pieces when the page is written whole.
    Harness fresh;
    openFirstRoom(fresh, page("S", first + R"("},{"id":"m3","senderName":"S","text":")" + second));
    CHECK(folded(fresh.state.shownTranscript) == heldText(fresh.state.transcriptView));
}

TEST_CASE("results the window must not lose: the same page after Find, a sign-in, a job waiting on a failed refresh") {
    Harness h;
    MainWindowState& s = h.state;

    SUBCASE("Find bringing the same bytes again still pages back") {
        const std::string newest = historyWith(message("m3", "newest"), "c2");
        openFirstRoom(h, newest);
        for (const wchar_t* query : {L"", L"newest", L"newest"}) {
            CAPTURE(std::wstring(query).size());
            SetWindowTextW(s.searchEdit, query);
            command(h, ID_FIND);
            NetResult r = resultOf(onlyJob());
            r.listJson = roomsJson;
            r.historyJson = newest;
            deliver(h, r.job, r);
            CHECK(IsWindowEnabled(s.olderButton));
        }
        command(h, ID_OLDER);
        CHECK(onlyJob().params[Slot::beforeCursor] == L"c2");
    }
    SUBCASE("a tab clicked during the sign-in does not drop it") {
        SetWindowTextW(s.loginEdit, L"anna");
        SetWindowTextW(s.passwordEdit, L"secret");
        command(h, ID_SIGN_IN);
        NetJob job = onlyJob();
        TabCtrl_SetCurSel(s.modeTabs, 1);
        NMHDR change{s.modeTabs, 0, static_cast<UINT>(TCN_SELCHANGE)};
        SendMessageW(h.window, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&change));
        NetResult r = resultOf(job);
        r.value = L"tok";
        r.meJson = meJson;
        r.linesJson = linesJson;
        deliver(h, job, r);
        CHECK(s.token == L"tok");
        NetJob refresh = onlyJob();
        CHECK(refresh.kind == NetJobKind::Refresh);
        CHECK(refresh.mode == 1);
        CHECK(refresh.params[Slot::token] == L"tok");
    }
    SUBCASE("an upload asked for during a refresh that then fails is dropped, never sent without a room") {
        openFirstRoom(h, historyWith(message("m1", "x")));
        FileDialogs saved = fileDialogs;
        // The file dialog's own loop lets the refresh timer fire: the upload job
        // then waits; a click while the refresh runs waits as a command.
        fileDialogs.chooseUpload = [](HWND owner, std::wstring& path) {
            SendMessageW(owner, WM_TIMER, 1, 0);
            path = L"C:\\data\\a.txt";
            return true;
        };
        for (bool clickedDuringRefresh : {false, true}) {
            CAPTURE(clickedDuringRefresh);
            if (clickedDuringRefresh) SendMessageW(h.window, WM_TIMER, 1, 0);
            command(h, ID_ATTACH);
            NetResult failed = resultOf(onlyJob());
            failed.ok = false;
            failed.errorText = L"Сервер отклонил запрос";
            deliver(h, failed.job, failed);
            CHECK(takeJobs().empty());
            // The real reason, not a view nobody chose.
            CHECK(textOf(s.statusLabel) == L"Сервер отклонил запрос · не выполнено: отправка файла");
            SendMessageW(h.window, WM_TIMER, 1, 0);
            answerRefresh(h, roomsJson, historyWith(message("m1", "x")));
        }
        fileDialogs = saved;
    }
}

TEST_CASE("texts from the server are shown whole: a NUL stands as U+FFFD, ids stay as sent") {
    Harness h;
    MainWindowState& s = h.state;
    const std::string withNul = "{\"id\":\"m1\",\"senderName\":\"S\\u0000T\",\"createdAt\":\"2024-05-01T09:30:12Z\","
                                "\"text\":\"a\\u0000b\",\"canReply\":true,\"canEdit\":true}";
    signIn(h);
    answerRefresh(h, u8R"([{"id":"r\u00001","title":"Чат\u0000 два","kind":"room","canWrite":true}])", "");
    NetJob refresh = onlyJob();
    CHECK(refresh.params[Slot::itemId] == std::wstring(L"r\0" L"1", 3));
    NetResult r = resultOf(refresh);
    r.listJson = u8R"([{"id":"r\u00001","title":"Чат\u0000 два","kind":"room","canWrite":true}])";
    r.historyJson = historyWith(withNul + "," + message("m2", "после"));
    deliver(h, refresh, r);
    std::wstring shown = textOf(s.transcriptView);
    CHECK(shown.find(L"S\uFFFDT") != std::wstring::npos);
    CHECK(shown.find(L"a\uFFFDb") != std::wstring::npos);
    CHECK(shown.find(L"после") != std::wstring::npos);
    wchar_t line[128] = {};
    SendMessageW(s.messageCombo, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(line));
    CHECK(std::wstring(line) == L"1 · S\uFFFDT · a\uFFFDb");
    SendMessageW(s.itemList, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(line));
    CHECK(std::wstring(line) == L"Чат\uFFFD два");
    SendMessageW(s.messageCombo, CB_SETCURSEL, 1, 0);
    command(h, ID_EDIT);
    CHECK(textOf(s.composerEdit) == L"a\uFFFDb");
}

TEST_CASE("a customer's new message flashes the taskbar button and is announced; the first page, own messages and older pages are not") {
    static int flashes = 0;
    flashes = 0;
    void (*saved)(HWND) = flashTaskbar;
    flashTaskbar = [](HWND) { ++flashes; };
    static std::vector<std::wstring> notices;
    notices.clear();
    void (*savedAnnounce)(HWND, const std::wstring&) = announce;
    announce = [](HWND, const std::wstring& text) { notices.push_back(text); };
    Harness h;
    MainWindowState& s = h.state;
    auto own = [](const std::string& id) {
        return "{\"id\":\"" + id + "\",\"senderName\":\"Анна\",\"createdAt\":\"2024-05-01T09:30:12Z\",\"text\":\"я\"}";
    };
    auto refreshWith = [&](const std::string& history) {
        SendMessageW(h.window, WM_TIMER, 1, 0);
        answerRefresh(h, roomsJson, history);
    };
    const std::string first = message("m1", "a");
    openFirstRoom(h, historyWith(first, "c1"));
    CHECK(flashes == 0);  // the first showing of a conversation
    refreshWith(historyWith(first + "," + own("m2"), "c1"));
    CHECK(flashes == 0);  // the operator's own message
    refreshWith(historyWith(first + "," + own("m2") + "," + message("m3", "b"), "c1"));
    CHECK(flashes == 1);  // a customer's
    refreshWith(historyWith(first + "," + own("m2") + "," + message("m3", "b edited"), "c1"));
    CHECK(flashes == 1);  // changed, not new
    refreshWith(historyWith(first + "," + own("m2") + "," + message("m3", "b edited") + "," + message("m4", "c") +
                                "," + message("m5", "d"),
                            "c1"));
    CHECK(flashes == 2);
    CHECK(notices == std::vector<std::wstring>{L"Новое сообщение: S", L"Новые сообщения: 2"});
    command(h, ID_OLDER);
    answerRefresh(h, roomsJson, historyWith(message("m0", "old")));
    refreshWith(historyWith(message("m0", "old") + "," + message("m-1", "older still")));
    CHECK(flashes == 2);  // an older page
    SendMessageW(s.itemList, LB_SETCURSEL, 1, 0);
    command(h, ID_ITEM_LIST, LBN_SELCHANGE);
    answerRefresh(h, roomsJson, historyWith(message("x1", "other room")));
    CHECK(flashes == 2);  // another conversation's first page
    CHECK(notices.size() == 2);
    flashTaskbar = saved;
    announce = savedAnnounce;
}

TEST_CASE("a proxy that wants a login: a small dialog asks, the job goes again with the pair, «Отмена» says why") {
    Harness h;
    MainWindowState& s = h.state;
    openFirstRoom(h, historyWith(message("m1", "исходный текст")));
    const std::wstring page = textOf(s.transcriptView);
    // The dialog as it opens: named edits, the focus on the login.
    auto described = [](HWND d) {
        std::wstring text = textOf(d) + L"|" + textOf(GetDlgItem(d, 0));
        for (HWND edit = GetWindow(d, GW_CHILD); edit; edit = GetWindow(edit, GW_HWNDNEXT)) {
            if (lstrcmpiW(classOf(edit).c_str(), L"Edit") != 0) continue;
            HWND label = GetWindow(edit, GW_HWNDPREV);
            text += L"|" + textOf(label) + (IsWindowVisible(label) ? L" shown" : L" hidden") +
                    (GetFocus() == edit ? L" focused" : L"");
        }
        return text;
    };
    auto editOf = [](HWND d, int which) {
        HWND edit = GetWindow(d, GW_CHILD);
        for (int seen = -1; edit; edit = GetWindow(edit, GW_HWNDNEXT))
            if (lstrcmpiW(classOf(edit).c_str(), L"Edit") == 0 && ++seen == which) break;
        return edit;
    };
    auto key = [](HWND control, WPARAM vk) { PostMessageW(control, WM_KEYDOWN, vk, 0); };
    struct Way {
        const char* name;
        std::function<void(HWND)> answer;
        bool goesAgain;
    };
    const Way ways[] = {
        {"«Войти»", [&](HWND d) {
             SetWindowTextW(editOf(d, 0), L"ops");
             SetWindowTextW(editOf(d, 1), L"proxy-secret");
             PostMessageW(GetDlgItem(d, IDOK), BM_CLICK, 0, 0);
         }, true},
        {"Enter in the password", [&](HWND d) {
             SetWindowTextW(editOf(d, 0), L"ops");
             SetWindowTextW(editOf(d, 1), L"proxy-secret");
             key(editOf(d, 1), VK_RETURN);
         }, true},
        {"«Отмена»", [&](HWND d) { PostMessageW(GetDlgItem(d, IDCANCEL), BM_CLICK, 0, 0); }, false},
        {"Escape", [&](HWND d) { key(editOf(d, 0), VK_ESCAPE); }, false},
        {"«Войти» with no login", [&](HWND d) {
             SetWindowTextW(editOf(d, 0), L"");
             PostMessageW(GetDlgItem(d, IDOK), BM_CLICK, 0, 0);
             PostMessageW(GetDlgItem(d, IDCANCEL), BM_CLICK, 0, 0);
         }, false},
    };
    auto proxyAsks = [](const NetJob& job) {
        NetResult asked = resultOf(job);
        asked.ok = false;
        asked.transportFailure = true;
        asked.proxySignIn = true;
        asked.proxyHost = L"proxy.corp.example";
        asked.errorText = L"Прокси-сервер требует входа";
        return asked;
    };
    for (const Way& way : ways) {
        CAPTURE(std::string(way.name));
        closeHttpSession();
        // (A refresh after «Отмена» would not ask: each way starts afresh.)
        s.proxySignInDeclined = false;
        SendMessageW(h.window, WM_TIMER, 1, 0);
        NetJob job = onlyJob();
        NetResult asked = proxyAsks(job);
        std::wstring seen;
        whenDialogOpens(L"KestaProxySignIn", [&](HWND d) {
            seen = described(d);
            way.answer(d);
        });
        deliver(h, job, asked);
        // The login given before is offered again, and the focus waits in the password.
        const std::wstring focus = &way == ways ? L"Логин hidden focused|Пароль hidden" : L"Логин hidden|Пароль hidden focused";
        CHECK(toUtf8(seen) == toUtf8(L"Вход на прокси-сервер|Прокси-сервер proxy.corp.example требует входа|" + focus));
        std::vector<NetJob> again = takeJobs();
        CHECK(haveProxyCredentials() == way.goesAgain);
        if (way.goesAgain) {
            REQUIRE(again.size() == 1);
            CHECK(again[0].kind == NetJobKind::Refresh);
            deliver(h, again[0], [&] {
                NetResult r = resultOf(again[0]);
                r.listJson = roomsJson;
                r.historyJson = historyWith(message("m1", "исходный текст"));
                return r;
            }());
        } else {
            CHECK(again.empty());
            CHECK(textOf(s.statusLabel).rfind(L"Прокси-сервер требует входа", 0) == 0);
        }
        CHECK(textOf(s.transcriptView) == page);
    }
    // After «Отмена» the periodic refresh that meets the proxy asks no more.
    SendMessageW(h.window, WM_TIMER, 1, 0);
    NetJob job = onlyJob();
    deliver(h, job, proxyAsks(job));
    CHECK(findOwnWindow(L"KestaProxySignIn") == nullptr);
    CHECK(takeJobs().empty());
    CHECK(textOf(s.statusLabel).rfind(L"Прокси-сервер требует входа", 0) == 0);
    closeHttpSession();
}
