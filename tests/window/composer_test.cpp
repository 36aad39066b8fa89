#include <doctest/doctest.h>
#include "app/selftest.h"
#include "harness.h"
#include "ui/dialogs/dialogs.h"
#include "ui/main/composer.h"
#include "ui/main/dispatch.h"
#include "ui/main/ids.h"
#include <commctrl.h>

namespace {
const char* meJson = u8R"({"user":{"name":"Анна"},"memberships":[{"id":"o1","name":"Первая","role":"admin"}]})";
const char* roomsJson = u8R"([{"id":"r1","title":"Общий","kind":"room","canWrite":true},
    {"id":"r2","title":"Закрытый","kind":"room","canWrite":false},{"id":"r3","title":"Третий","kind":"room","canWrite":true}])";

std::string msg(const std::string& id, const std::string& text, const std::string& flags) {
    return "{\"id\":\"" + id + "\",\"senderName\":\"S" + id + "\",\"createdAt\":\"2024-05-01T09:30:12Z\",\"text\":\"" + text +
           "\"" + flags + "}";
}
const std::string all = R"(,"canReply":true,"canEdit":true,"canForward":true,"canReact":true,"canPin":true,"canDelete":true)";

std::string page(const std::string& items, bool canWrite = true) {
    return "{\"items\":[" + items + "],\"page\":{},\"canWrite\":" + (canWrite ? "true" : "false") + "}";
}

void command(Harness& h, int id, int code = 0) { SendMessageW(h.window, WM_COMMAND, MAKEWPARAM(id, code), 0); }

NetJob onlyJob() {
    std::vector<NetJob> jobs = takeJobs();
    REQUIRE(jobs.size() == 1);
    return jobs[0];
}

void answer(Harness& h, const NetJob& job, const std::string& list, const std::string& history) {
    NetResult r = resultOf(job);
    r.listJson = list;
    if (!job.params[Slot::itemId].empty()) r.historyJson = history;
    deliver(h, job, r);
}

void refreshWith(Harness& h, const std::string& history) {
    SendMessageW(h.window, WM_TIMER, 1, 0);
    answer(h, onlyJob(), roomsJson, history);
}

void open(Harness& h, const std::string& history) {
    command(h, ID_SIGN_IN);
    NetJob job = onlyJob();
    NetResult r = resultOf(job);
    r.value = L"tok";
    r.meJson = meJson;
    r.linesJson = u8R"([{"id":"l1","name":"Первая линия"},{"id":"l2","name":"Вторая линия"}])";
    deliver(h, job, r);
    answer(h, onlyJob(), roomsJson, "");
    answer(h, onlyJob(), roomsJson, history);
}

void select(Harness& h, int item) {
    SendMessageW(h.state.messageCombo, CB_SETCURSEL, item, 0);
    command(h, ID_MESSAGE_COMBO, CBN_SELCHANGE);
}

void succeed(Harness& h, const NetJob& job) { deliver(h, job, resultOf(job)); }

void click(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
}  // namespace

TEST_CASE("reply and edit modes keep the draft over two edits and a cancel") {
    Harness h;
    MainWindowState& s = h.state;
    open(h, page(msg("1", "первое", all) + "," + msg("2", "второе", all)));
    SetWindowTextW(s.composerEdit, L"черновик");
    // A screen reader names the composer by its label, which tells the mode.
    WinEvents renamed(EVENT_OBJECT_NAMECHANGE);

    select(h, 1);
    command(h, ID_REPLY);
    CHECK(s.replyToId == L"1");
    CHECK(textOf(s.hintLabel) == L"Ответ: S1 · первое");
    CHECK(textOf(s.composerEdit) == L"черновик");
    CHECK(IsWindowEnabled(s.cancelModeButton));
    CHECK(textOf(s.composerLabel) == L"Сообщение — ответ для S1");
    CHECK(renamed.takeFor(s.composerEdit) == 1);

    command(h, ID_EDIT);  // edit leaves reply mode
    CHECK(textOf(s.composerLabel) == L"Сообщение — изменение");
    CHECK(renamed.takeFor(s.composerEdit) > 0);
    CHECK(s.replyToId.empty());
    CHECK(s.editId == L"1");
    CHECK(textOf(s.composerEdit) == L"первое");
    CHECK(textOf(s.sendButton) == L"Сохранить");
    CHECK_FALSE(IsWindowEnabled(s.attachButton));
    CHECK_FALSE(IsWindowEnabled(s.moreButton));

    select(h, 2);
    command(h, ID_EDIT);  // a second edit keeps the first draft aside
    CHECK(s.editId == L"2");
    CHECK(textOf(s.composerEdit) == L"второе");
    command(h, ID_CANCEL_MODE);
    CHECK(textOf(s.composerLabel) == L"Сообщение");
    CHECK(textOf(s.composerEdit) == L"черновик");
    CHECK(textOf(s.sendButton) == L"Отправить");
    CHECK(textOf(s.hintLabel).empty());

    // Saving an edit sends the edited text and gives the draft back.
    command(h, ID_EDIT);
    SetWindowTextW(s.composerEdit, L"второе, исправлено");
    command(h, ID_SEND);
    NetJob edit = onlyJob();
    CHECK(edit.kind == NetJobKind::EditMessage);
    CHECK(edit.params[Slot::messageId] == L"2");
    CHECK(edit.params[Slot::text] == L"второе, исправлено");
    succeed(h, edit);
    CHECK(textOf(s.composerEdit) == L"черновик");
    CHECK(s.editId.empty());
    takeJobs();
}

TEST_CASE("a reply hint shows 90 code units; sending a reply returns to the latest page") {
    Harness h;
    MainWindowState& s = h.state;
    std::string longText(200, 'a');
    open(h, page(msg("1", longText, all)));
    select(h, 1);
    command(h, ID_REPLY);
    CHECK(textOf(s.hintLabel) == L"Ответ: S1 · " + std::wstring(90, L'a'));
    SetWindowTextW(s.composerEdit, L"ответ");
    command(h, ID_SEND);
    NetJob send = onlyJob();
    CHECK(send.kind == NetJobKind::SendMessage);
    CHECK(send.params[Slot::messageId] == L"1");
    SetWindowTextW(s.composerEdit, L"ответ");
    succeed(h, send);
    CHECK(textOf(s.composerEdit).empty());
    CHECK(s.replyToId.empty());
    NetJob refresh = onlyJob();
    CHECK(refresh.kind == NetJobKind::Refresh);
    CHECK(refresh.params[Slot::beforeCursor].empty());
}

TEST_CASE("text typed while a send runs is kept; a failed send keeps text and mode") {
    Harness h;
    MainWindowState& s = h.state;
    open(h, page(msg("1", "x", all)));
    SetWindowTextW(s.composerEdit, L"первое");
    command(h, ID_SEND);
    NetJob send = onlyJob();
    CHECK(IsWindowEnabled(s.composerEdit));  // typing goes on during a job
    SetWindowTextW(s.composerEdit, L"уже другое");
    succeed(h, send);
    CHECK(textOf(s.composerEdit) == L"уже другое");
    answer(h, onlyJob(), roomsJson, page(msg("1", "x", all)));

    select(h, 1);
    command(h, ID_REPLY);
    command(h, ID_SEND);
    NetJob failing = onlyJob();
    NetResult r = resultOf(failing);
    r.ok = false;
    r.errorText = L"Нет доступа";
    deliver(h, failing, r);
    CHECK(textOf(s.statusLabel) == L"Нет доступа");
    CHECK(textOf(s.composerEdit) == L"уже другое");
    CHECK(s.replyToId == L"1");
    CHECK(takeJobs().empty());  // no refresh after a failed action
}

TEST_CASE("the selection follows its message when the page moves, and empty sends do nothing") {
    Harness h;
    MainWindowState& s = h.state;
    open(h, page(msg("a", "1", all) + "," + msg("b", "2", all) + "," + msg("c", "3", all)));
    select(h, 3);
    refreshWith(h, page(msg("x", "0", all) + "," + msg("y", "0", all) + "," + msg("a", "1", all) + "," +
                        msg("b", "2", all) + "," + msg("c", "3", all)));
    CHECK(SendMessageW(s.messageCombo, CB_GETCURSEL, 0, 0) == 5);
    refreshWith(h, page(msg("a", "1", all)));
    CHECK(SendMessageW(s.messageCombo, CB_GETCURSEL, 0, 0) == 0);  // gone: the hint
    CHECK_FALSE(IsWindowEnabled(s.replyButton));
    SetWindowTextW(s.composerEdit, L"");
    command(h, ID_SEND);
    CHECK(takeJobs().empty());
}

TEST_CASE("Ctrl+Enter sends without a stray line break; Enter in the search box finds") {
    Harness h;
    MainWindowState& s = h.state;
    open(h, page(msg("1", "x", all)));
    SetWindowTextW(s.composerEdit, L"строка");
    SendMessageW(s.composerEdit, EM_SETSEL, 6, 6);
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    // The key as the system delivers it: WM_KEYDOWN through TranslateMessage,
    // which makes the WM_CHAR line feed that Ctrl+Enter also produces.
    PostMessageW(s.composerEdit, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    pumpMessages();
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
    NetJob send = onlyJob();
    CHECK(send.params[Slot::text] == L"строка");
    CHECK(textOf(s.composerEdit) == L"строка");
    succeed(h, send);
    answer(h, onlyJob(), roomsJson, page(msg("1", "x", all)));

    // Plain Enter starts a new line.
    SetWindowTextW(s.composerEdit, L"а");
    SendMessageW(s.composerEdit, EM_SETSEL, 1, 1);
    PostMessageW(s.composerEdit, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    pumpMessages();
    CHECK(textOf(s.composerEdit) == L"а\r\n");
    CHECK(takeJobs().empty());

    SetWindowTextW(s.searchEdit, L"поиск");
    SendMessageW(s.searchEdit, EM_SETSEL, 5, 5);
    PostMessageW(s.searchEdit, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    pumpMessages();
    NetJob find = onlyJob();
    CHECK(find.params[Slot::searchQuery] == L"поиск");
    CHECK(textOf(s.searchEdit) == L"поиск");
}

TEST_CASE("the actions menu mirrors the message's flags") {
    MessageActions m;
    m.canReact = false;
    m.canPin = true;
    HMENU menu = buildActionsMenu(m);
    REQUIRE(menu);
    CHECK(GetMenuItemCount(menu) == 7);
    for (UINT id = ID_MENU_LIKE; id <= ID_MENU_WATCH; ++id) CHECK((GetMenuState(menu, id, MF_BYCOMMAND) & MF_GRAYED) != 0);
    CHECK((GetMenuState(menu, ID_MENU_PIN, MF_BYCOMMAND) & MF_GRAYED) == 0);
    CHECK((GetMenuState(menu, ID_MENU_DELETE, MF_BYCOMMAND) & MF_GRAYED) != 0);
    CHECK((GetMenuState(menu, 4, MF_BYPOSITION) & MF_SEPARATOR) != 0);
    wchar_t text[64] = {};
    GetMenuStringW(menu, ID_MENU_PIN, text, 64, MF_BYCOMMAND);
    CHECK(std::wstring(text) == L"Закрепить сообщение");
    DestroyMenu(menu);

    m.canReact = m.canDelete = m.pinned = m.likedByMe = true;
    menu = buildActionsMenu(m);
    CHECK((GetMenuState(menu, ID_MENU_LIKE, MF_BYCOMMAND) & MF_CHECKED) != 0);
    CHECK((GetMenuState(menu, ID_MENU_HEART, MF_BYCOMMAND) & (MF_CHECKED | MF_GRAYED)) == 0);
    GetMenuStringW(menu, ID_MENU_PIN, text, 64, MF_BYCOMMAND);
    CHECK(std::wstring(text) == L"Снять закрепление");
    GetMenuStringW(menu, ID_MENU_LIKE, text, 64, MF_BYCOMMAND);
    CHECK(std::wstring(text) == L"👍 Нравится — добавить / убрать");
    DestroyMenu(menu);
}

TEST_CASE("the menu acts through the scripted command and the delete dialog") {
    Harness h;
    MainWindowState& s = h.state;
    open(h, page(msg("1", "текст сообщения", all)));
    select(h, 1);
    command(h, ID_REPLY);
    selfTest.moderationScenario = true;
    selfTest.scriptedCommand = ID_MENU_LIKE;
    command(h, ID_MORE);
    NetJob react = onlyJob();
    CHECK(react.kind == NetJobKind::ReactToMessage);
    CHECK(react.params[Slot::actionOrEmoji] == L"👍");
    CHECK(react.params[Slot::messageId] == L"1");
    succeed(h, react);
    CHECK(s.flashText == L"Реакция обновлена");
    refreshWith(h, page(msg("1", "текст сообщения", all)));
    select(h, 1);

    // First delete attempt is cancelled by the dialog, the second confirmed.
    selfTest.cancelExercised = false;
    selfTest.scriptedCommand = ID_MENU_DELETE;
    command(h, ID_MORE);
    CHECK(selfTest.cancelExercised);
    CHECK(takeJobs().empty());
    command(h, ID_MORE);
    NetJob del = onlyJob();
    CHECK(del.kind == NetJobKind::DeleteMessage);
    command(h, ID_REPLY);  // busy: ignored
    succeed(h, del);
    CHECK(s.flashText == L"Сообщение удалено");
    CHECK(s.replyToId.empty());  // the reply target is gone
    selfTest.moderationScenario = false;
    selfTest.cancelExercised = false;
    takeJobs();
}

TEST_CASE("the delete dialog: buttons, close box, Escape") {
    Harness h;
    MainWindowState& s = h.state;
    MessageActions m;
    m.senderName = L"Анна";
    m.text = L"строка 1\r\nстрока 2";
    struct Way { const char* name; std::function<void(HWND)> act; bool answer; };
    const Way ways[] = {
        {"Удалить", [](HWND d) { click(d, 802); }, true},
        {"Отмена", [](HWND d) { click(d, 801); }, false},
        {"close box", [](HWND d) { PostMessageW(d, WM_CLOSE, 0, 0); }, false},
        {"Escape, then Отмена",
         [](HWND d) {
             HWND cancel = GetDlgItem(d, 801);
             SendMessageW(d, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);  // what Escape sends
             CHECK(IsWindow(d));
             wchar_t text[64] = {};
             GetWindowTextW(d, text, 64);
             CHECK(std::wstring(text) == L"Удаление сообщения");
             CHECK((GetWindowLongW(cancel, GWL_STYLE) & BS_DEFPUSHBUTTON) != 0);
             HWND prompt = GetWindow(d, GW_CHILD);
             GetWindowTextW(prompt, text, 64);
             CHECK(std::wstring(text) == L"Удалить сообщение?\r\nАнна: строка 1\r\nстрока 2");
             click(d, 801);
         },
         false},
    };
    for (const Way& w : ways) {
        CAPTURE(w.name);
        whenDialogOpens(L"KestaDeleteMessage", w.act);
        CHECK(confirmDeletion(s, m) == w.answer);
        CHECK_FALSE(s.modalOpen);
        CHECK(IsWindowEnabled(h.window));
        CHECK_FALSE(findOwnWindow(L"KestaDeleteMessage"));
    }
}

TEST_CASE("the forward dialog offers writable rooms and forwards to the chosen one") {
    Harness h;
    MainWindowState& s = h.state;
    open(h, page(msg("1", "x", all)));
    select(h, 1);
    command(h, ID_FORWARD);
    NetJob load = onlyJob();
    CHECK(load.kind == NetJobKind::LoadForwardTargets);
    CHECK(load.params[Slot::messageId] == L"1");
    NetResult r = resultOf(load);
    r.listJson = roomsJson;
    bool disabledWhileOpen = false;
    whenDialogOpens(L"KestaForwardMessage", [&](HWND d) {
        HWND rooms = GetDlgItem(d, 701);
        CHECK(SendMessageW(rooms, CB_GETCOUNT, 0, 0) == 2);
        CHECK(SendMessageW(rooms, CB_GETCURSEL, 0, 0) == 0);
        wchar_t text[64] = {};
        SendMessageW(rooms, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(text));
        CHECK(std::wstring(text) == L"Третий");
        disabledWhileOpen = !IsWindowEnabled(h.window) && s.modalOpen;
        SendMessageW(d, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);  // Escape leaves it open
        CHECK(IsWindow(d));
        click(d, 703);
    });
    deliver(h, load, r);
    CHECK(disabledWhileOpen);
    NetJob forward = onlyJob();
    CHECK(forward.kind == NetJobKind::ForwardMessage);
    CHECK(forward.targetRoomId == L"r1");
    CHECK(forward.params[Slot::subject] == L"Общий");
    succeed(h, forward);
    CHECK(s.flashText == L"Сообщение переслано: Общий");
    answer(h, onlyJob(), roomsJson, page(msg("1", "x", all)));
    select(h, 1);

    SUBCASE("cancel and the close box send nothing") {
        for (int way = 0; way < 2; ++way) {
            command(h, ID_FORWARD);
            load = onlyJob();
            r = resultOf(load);
            r.listJson = roomsJson;
            whenDialogOpens(L"KestaForwardMessage", [way](HWND d) {
                if (way == 0) click(d, 702);
                else PostMessageW(d, WM_CLOSE, 0, 0);
            });
            deliver(h, load, r);
            CHECK(takeJobs().empty());
            CHECK_FALSE(h.state.busy);
            // Nothing else comes to give the window back: it is back at once.
            CHECK(textOf(s.statusLabel) == L"Подключено · Анна · Страница 1 · Ctrl+Enter — отправить");
            CHECK(IsWindowEnabled(s.replyButton));
            CHECK(IsWindowEnabled(s.findButton));
        }
    }
    SUBCASE("no writable room: a status text and no window") {
        command(h, ID_FORWARD);
        load = onlyJob();
        r = resultOf(load);
        r.listJson = R"([{"id":"r2","title":"Закрытый","canWrite":false}])";
        deliver(h, load, r);
        CHECK(textOf(s.statusLabel) == L"Нет разговоров, в которые разрешена отправка");
        CHECK(takeJobs().empty());
    }
}

TEST_CASE("new work items: captions, the ticket from a case, and nothing lost while a refresh runs") {
    Harness h;
    MainWindowState& s = h.state;
    open(h, page(msg("1", "x", all)));
    TabCtrl_SetCurSel(s.modeTabs, 1);
    NMHDR n{s.modeTabs, 0, static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageW(h.window, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&n));
    const char* work = u8R"({"cases":[{"id":"c1","subject":"Принтер","roomId":"rc1","status":"queued"}],"tickets":[]})";
    answer(h, onlyJob(), work, "");
    NetJob refresh = onlyJob();
    NetResult item = resultOf(refresh);
    item.listJson = work;
    item.historyJson = page(msg("1", "x", all));
    item.workItemJson = R"({"item":{"room_id":"rc1","version":1,"status":"queued","subject":"Принтер"},"dispatch":true,"assigned":false,"staff":[]})";
    deliver(h, refresh, item);
    REQUIRE(IsWindowEnabled(s.createTicketButton));

    // A refresh is running when the operator confirms: the job waits for it.
    SendMessageW(h.window, WM_TIMER, 1, 0);
    NetJob running = onlyJob();
    s.busy = false;  // the dialog's button is reachable only when idle
    std::wstring caption;
    whenDialogOpens(L"KestaNewWork", [&](HWND d) {
        wchar_t text[64] = {};
        GetWindowTextW(d, text, 64);
        caption = text;
        HWND lines = GetDlgItem(d, 3);
        CHECK(SendMessageW(lines, CB_GETCOUNT, 0, 0) == 2);
        CHECK(SendMessageW(lines, CB_GETCURSEL, 0, 0) == 0);
        click(d, 4);  // empty subject: stays open
        CHECK(IsWindow(d));
        SetWindowTextW(GetDlgItem(d, 1), L" ");
        SetWindowTextW(GetDlgItem(d, 2), L"Описание проблемы");
        SendMessageW(lines, CB_SETCURSEL, 1, 0);
        h.state.busy = true;  // the refresh is still in flight when "Создать" is pressed
        click(d, 4);
    });
    command(h, ID_CREATE_TICKET);
    CHECK(caption == L"Новая заявка");
    CHECK(takeJobs().empty());
    NetResult done = resultOf(running);
    done.listJson = work;
    done.historyJson = item.historyJson;
    done.workItemJson = item.workItemJson;
    deliver(h, running, done);
    NetJob create = onlyJob();
    CHECK(create.kind == NetJobKind::CreateWorkItem);
    CHECK(create.fromCase);
    CHECK(create.params[Slot::subject] == L" ");
    CHECK(create.params[Slot::text] == L"Описание проблемы");
    CHECK(create.params[Slot::lineId] == L"l2");
    CHECK(create.params[Slot::itemId] == L"c1");
    NetResult created = resultOf(create);
    created.value = L"t77";
    deliver(h, create, created);
    CHECK(s.mode == 2);
    CHECK(TabCtrl_GetCurSel(s.modeTabs) == 2);
    CHECK(s.selectedId == L"t77");
    NetJob after = onlyJob();
    CHECK(after.mode == 2);
    CHECK(after.params[Slot::itemId] == L"t77");

    SUBCASE("the cases tab makes a case; the close box makes nothing") {
        s.busy = false;
        s.mode = 1;
        whenDialogOpens(L"KestaNewWork", [&](HWND d) {
            wchar_t text[64] = {};
            GetWindowTextW(d, text, 64);
            caption = text;
            PostMessageW(d, WM_CLOSE, 0, 0);
        });
        command(h, ID_NEW_WORK);
        CHECK(caption == L"Новое обращение");
        CHECK(takeJobs().empty());
    }
}

TEST_CASE("a file chosen while a refresh runs is uploaded or downloaded after it") {
    Harness h;
    MainWindowState& s = h.state;
    open(h, page(msg("1", "x", all + R"(,"fileId":"f1","fileName":"отчёт.pdf")")));
    REQUIRE(s.files.size() == 1);
    CHECK(IsWindowEnabled(s.downloadButton));
    static Harness* current = nullptr;
    current = &h;
    FileDialogs saved = fileDialogs;
    // The dialogs run their own loop, in which the refresh timer fires.
    fileDialogs.chooseUpload = [](HWND, std::wstring& path) {
        SendMessageW(current->window, WM_TIMER, 1, 0);
        path = L"C:\\data\\файл.txt";
        return true;
    };
    fileDialogs.chooseDownload = [](HWND, std::wstring& path) {
        CHECK(path == L"отчёт.pdf");
        SendMessageW(current->window, WM_TIMER, 1, 0);
        path = L"C:\\out\\отчёт.pdf";
        return true;
    };
    for (int kind : {NetJobKind::UploadFile, NetJobKind::DownloadFile}) {
        CAPTURE(kind);
        command(h, kind == NetJobKind::UploadFile ? ID_ATTACH : ID_DOWNLOAD);
        NetJob running = onlyJob();
        CHECK(running.kind == NetJobKind::Refresh);
        answer(h, running, roomsJson, page(msg("1", "x", all + R"(,"fileId":"f1","fileName":"отчёт.pdf")")));
        NetJob transfer = onlyJob();
        CHECK(transfer.kind == kind);
        if (kind == NetJobKind::UploadFile) CHECK(transfer.params[Slot::uploadPath] == L"C:\\data\\файл.txt");
        else {
            CHECK(transfer.params[Slot::savePath] == L"C:\\out\\отчёт.pdf");
            CHECK(transfer.params[Slot::assigneeOrFileId] == L"f1");
        }
        succeed(h, transfer);
        answer(h, onlyJob(), roomsJson, page(msg("1", "x", all + R"(,"fileId":"f1","fileName":"отчёт.pdf")")));
    }
    fileDialogs.chooseUpload = [](HWND, std::wstring&) { return false; };
    command(h, ID_ATTACH);
    CHECK(takeJobs().empty());
    fileDialogs = saved;
}

TEST_CASE("a refresh never locks the composer; a send asked for during it goes out once, after it") {
    Harness h;
    MainWindowState& s = h.state;
    open(h, page(msg("1", "текст", all)));
    ShowWindow(h.window, SW_SHOW);
    SetForegroundWindow(h.window);

    SUBCASE("an edit: typing goes on, Ctrl+Enter twice saves once, the save itself locks") {
        select(h, 1);
        command(h, ID_EDIT);
        REQUIRE(GetFocus() == s.composerEdit);
        SendMessageW(h.window, WM_TIMER, 1, 0);
        NetJob refresh = onlyJob();
        CHECK(IsWindowEnabled(s.composerEdit));
        CHECK(GetFocus() == s.composerEdit);
        SetWindowTextW(s.composerEdit, L"текст исправлен");
        command(h, ID_SEND);
        command(h, ID_SEND);
        CHECK(takeJobs().empty());
        answer(h, refresh, roomsJson, page(msg("1", "текст", all)));
        NetJob save = onlyJob();
        CHECK(save.kind == NetJobKind::EditMessage);
        CHECK(save.params[Slot::text] == L"текст исправлен");
        CHECK_FALSE(IsWindowEnabled(s.composerEdit));  // no typing into an edit being saved
        succeed(h, save);
        CHECK(IsWindowEnabled(s.composerEdit));
        CHECK(GetFocus() == s.composerEdit);
        answer(h, onlyJob(), roomsJson, page(msg("1", "текст исправлен", all)));
    }
    SUBCASE("a new message; a view change meanwhile drops it") {
        SetFocus(s.composerEdit);
        SetWindowTextW(s.composerEdit, L"новое");
        SendMessageW(h.window, WM_TIMER, 1, 0);
        NetJob refresh = onlyJob();
        command(h, ID_SEND);
        answer(h, refresh, roomsJson, page(msg("1", "текст", all)));
        NetJob send = onlyJob();
        CHECK(send.kind == NetJobKind::SendMessage);
        CHECK(send.params[Slot::text] == L"новое");
        succeed(h, send);
        answer(h, onlyJob(), roomsJson, page(msg("1", "текст", all)));

        SetWindowTextW(s.composerEdit, L"ещё");
        SendMessageW(h.window, WM_TIMER, 1, 0);
        refresh = onlyJob();
        command(h, ID_SEND);
        SendMessageW(s.itemList, LB_SETCURSEL, 2, 0);
        command(h, ID_ITEM_LIST, LBN_SELCHANGE);
        answer(h, refresh, roomsJson, page(msg("1", "текст", all)));
        NetJob next = onlyJob();
        CHECK(next.params[Slot::itemId] == L"r3");
        answer(h, next, roomsJson, page(msg("7", "другой", all)));
        CHECK(takeJobs().empty());
        CHECK(textOf(s.statusLabel) == L"Действие не выполнено: выбран другой разговор");
    }
    // Focus elsewhere stays elsewhere.
    SetFocus(s.searchEdit);
    SendMessageW(h.window, WM_TIMER, 1, 0);
    answer(h, onlyJob(), roomsJson, page(msg("1", "текст", all)));
    CHECK(GetFocus() == s.searchEdit);
}

TEST_CASE("a quit request inside a dialog ends the dialog and reaches the main loop") {
    Harness h;
    MainWindowState& s = h.state;
    MessageActions m;
    m.senderName = L"A";
    whenDialogOpens(L"KestaDeleteMessage", [](HWND) { PostQuitMessage(3); });
    CHECK_FALSE(confirmDeletion(s, m));
    CHECK(IsWindowEnabled(h.window));
    CHECK_FALSE(s.modalOpen);
    CHECK_FALSE(findOwnWindow(L"KestaDeleteMessage"));
    MSG msg;
    bool quit = false;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        if (msg.message == WM_QUIT) quit = msg.wParam == 3;
    CHECK(quit);
}
