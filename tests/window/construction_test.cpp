#include <doctest/doctest.h>
#include "harness.h"
#include "ui/main/ids.h"
#include "ui/main/layout.h"
#include "ui/dialogs/dialogs.h"
#include <commctrl.h>
#include <oleacc.h>
#include <richedit.h>

namespace {
// The published controls: what a probe sees that skips the hidden labels.
std::vector<HWND> children(HWND parent) {
    std::vector<HWND> list;
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        int id = GetDlgCtrlID(c);
        if (id < ID_LABEL_FIRST || id > ID_LABEL_LAST) list.push_back(c);
    }
    return list;
}

std::wstring upper(std::wstring s) {
    for (auto& c : s) c = static_cast<wchar_t>(towupper(c));
    return s;
}

// Microsoft's rule for a control without text of its own: the nearest STATIC
// among the siblings created before it; the walk stops at a control with
// WS_TABSTOP or WS_GROUP.
std::wstring nameByRule(HWND control) {
    for (HWND c = GetWindow(control, GW_HWNDPREV); c; c = GetWindow(c, GW_HWNDPREV)) {
        if (upper(classOf(c)) == L"STATIC") return textOf(c);
        if (GetWindowLongW(c, GWL_STYLE) & (WS_TABSTOP | WS_GROUP)) break;
    }
    return L"(none)";
}

// What Wine's own accessible object says in this process (it names edits by
// the same walk).
// IID_IAccessible spelled out: through the one linked from MinGW's libraries
// Wine refused the interface here.
const GUID accessibleInterface = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

std::wstring accessibleName(HWND control) {
    IAccessible* acc = nullptr;
    HRESULT hr = AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), accessibleInterface,
                                          reinterpret_cast<void**>(&acc));
    if (FAILED(hr) || !acc) return L"(no object)";
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    std::wstring said = SUCCEEDED(acc->get_accName(self, &name)) && name ? std::wstring(name) : L"(no name)";
    SysFreeString(name);
    acc->Release();
    return said;
}

void checkNames(const std::vector<std::pair<HWND, std::wstring>>& fields) {
    for (const auto& field : fields) {
        CAPTURE(field.second);
        REQUIRE(field.first);
        CHECK(nameByRule(field.first) == field.second);
        if (upper(classOf(field.first)) == L"EDIT") CHECK(accessibleName(field.first) == field.second);
    }
}
}

TEST_CASE("the main window is created with its 38 controls as described") {
    Harness h;
    REQUIRE(h.window);
    CHECK(textOf(h.window) == L"Kesta — Поддержка · прототип");
    CHECK(classOf(h.window) == L"KestaSupportMain");
    std::vector<HWND> list = children(h.window);
    REQUIRE(list.size() == mainControlCount);
    for (int i = 0; i < mainControlCount; ++i) {
        const ControlSpec& row = mainControls[i];
        HWND c = list[i];
        CAPTURE(i);
        CHECK(c == controlHandle(h.state, i));
        CHECK(upper(classOf(c)) == upper(row.className));
        CHECK(GetDlgCtrlID(c) == row.id);
        DWORD style = static_cast<DWORD>(GetWindowLongW(c, GWL_STYLE));
        CHECK((style & (WS_CHILD | WS_VISIBLE)) == (WS_CHILD | WS_VISIBLE));
        // Edit controls draw their own frame and drop WS_BORDER under Wine.
        DWORD wanted = row.style;
        if (upper(classOf(c)) == L"EDIT") wanted &= ~static_cast<DWORD>(WS_BORDER);
        // List boxes and rich edits show their scroll bar (and its style bit)
        // only while there is something to scroll.
        if (upper(classOf(c)) == L"LISTBOX" || upper(classOf(c)) == L"RICHEDIT50W") wanted &= ~static_cast<DWORD>(WS_VSCROLL);
        CHECK((style & wanted) == wanted);
        if (upper(row.className) == L"BUTTON" || upper(row.className) == L"STATIC")
            CHECK(textOf(c) == row.text);
        // The rich edit takes the font as its default format and cannot report it.
        if (upper(classOf(c)) != L"RICHEDIT50W")
            CHECK(SendMessageW(c, WM_GETFONT, 0, 0) == reinterpret_cast<LRESULT>(h.state.uiFont));
    }
    CHECK(textOf(h.state.serverEdit) == L"http://127.0.0.1:9");
    CHECK(textOf(h.state.statusLabel) == L"Введите логин и пароль");
    CHECK(textOf(h.state.headerLabel) == L"Kesta — Поддержка");
}

TEST_CASE("cue banners, text limits and tabs") {
    Harness h;
    wchar_t cue[128] = {};
    REQUIRE(SendMessageW(h.state.loginEdit, EM_GETCUEBANNER, reinterpret_cast<WPARAM>(cue), 128));
    CHECK(std::wstring(cue) == L"Логин");
    SendMessageW(h.state.passwordEdit, EM_GETCUEBANNER, reinterpret_cast<WPARAM>(cue), 128);
    CHECK(std::wstring(cue) == L"Пароль");
    SendMessageW(h.state.reasonEdit, EM_GETCUEBANNER, reinterpret_cast<WPARAM>(cue), 128);
    CHECK(std::wstring(cue) == L"Пояснение для изменения статуса");
    SendMessageW(h.state.searchEdit, EM_GETCUEBANNER, reinterpret_cast<WPARAM>(cue), 128);
    CHECK(std::wstring(cue) == L"Поиск по сообщениям · Enter");

    CHECK(SendMessageW(h.state.composerEdit, EM_GETLIMITTEXT, 0, 0) == 4000);
    CHECK(SendMessageW(h.state.searchEdit, EM_GETLIMITTEXT, 0, 0) == 200);
    CHECK(SendMessageW(h.state.transcriptView, EM_GETLIMITTEXT, 0, 0) == 600000);

    // Pasting more than the limit keeps only what fits.
    std::wstring big(4100, L'ж');
    SendMessageW(h.state.composerEdit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(big.c_str()));
    CHECK(GetWindowTextLengthW(h.state.composerEdit) == 4000);

    CHECK(SendMessageW(h.state.modeTabs, TCM_GETITEMCOUNT, 0, 0) == 3);
    const wchar_t* names[] = {L"Чаты", L"Обращения", L"Заявки"};
    for (int i = 0; i < 3; ++i) {
        wchar_t text[64] = {};
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = 64;
        SendMessageW(h.state.modeTabs, TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
        CHECK(std::wstring(text) == names[i]);
    }
}

TEST_CASE("enabled states right after creation") {
    Harness h;
    MainWindowState& s = h.state;
    for (HWND off : {s.findButton, s.olderButton, s.newerButton, s.latestButton, s.replyButton, s.editButton,
                     s.forwardButton, s.moreButton, s.cancelModeButton, s.sendButton, s.composerEdit, s.attachButton})
        CHECK_FALSE(IsWindowEnabled(off));
    for (HWND on : {s.serverEdit, s.loginEdit, s.passwordEdit, s.signInButton, s.orgCombo, s.itemList, s.newWorkButton,
                    s.webButton, s.downloadButton, s.staffCombo, s.createTicketButton, s.reasonEdit, s.searchEdit,
                    s.messageCombo, s.fileCombo})
        CHECK(IsWindowEnabled(on));
    for (HWND b : s.actionButtons) CHECK(IsWindowEnabled(b));
    CHECK(SendMessageW(s.messageCombo, CB_GETCOUNT, 0, 0) == 1);
    CHECK(SendMessageW(s.messageCombo, CB_GETCURSEL, 0, 0) == 0);
    CHECK(textOf(s.hintLabel).empty());
    CHECK(textOf(s.sendButton) == L"Отправить");
}

TEST_CASE("the window keeps its minimum tracking size and lays out on resize") {
    Harness h;
    MINMAXINFO info{};
    SendMessageW(h.window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    CHECK(info.ptMinTrackSize.x == 1100);
    CHECK(info.ptMinTrackSize.y == 650);
    SetWindowPos(h.window, nullptr, 0, 0, 1400, 900, SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client{};
    GetClientRect(h.window, &client);
    RECT send{};
    GetWindowRect(h.state.sendButton, &send);
    MapWindowPoints(nullptr, h.window, reinterpret_cast<POINT*>(&send), 2);
    CHECK(send.left == client.right - 115);
    CHECK(send.top == client.bottom - 103);

    // The selectors' lists open as wide as the transcript, also after the
    // window has been wider; the boxes stay as laid out.
    SetWindowPos(h.window, nullptr, 0, 0, 1100, 650, SWP_NOZORDER | SWP_NOACTIVATE);
    GetClientRect(h.window, &client);
    for (HWND combo : {h.state.messageCombo, h.state.fileCombo}) {
        COMBOBOXINFO info{};
        info.cbSize = sizeof info;
        REQUIRE(GetComboBoxInfo(combo, &info));
        SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
        RECT list{};
        GetWindowRect(info.hwndList, &list);
        CHECK(list.right - list.left == client.right - 330);
        SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
    }
    RECT selector{};
    GetWindowRect(h.state.messageCombo, &selector);
    CHECK(selector.right - selector.left == client.right - 910);

    // Minimised, the window has a 0 x 0 client area: nothing moves.
    RECT before{}, after{};
    GetClientRect(h.state.transcriptView, &before);
    ShowWindow(h.window, SW_MINIMIZE);
    GetClientRect(h.window, &client);
    CHECK(client.right == 0);
    GetClientRect(h.state.transcriptView, &after);
    ShowWindow(h.window, SW_HIDE);
    CHECK(EqualRect(&before, &after));
}

TEST_CASE("every field is named by the label before it, the dialogs' too; each dialog opens with the focus on its first control") {
    Harness h;
    MainWindowState& s = h.state;
    checkNames({{s.serverEdit, L"Адрес сервера"}, {s.loginEdit, L"Логин"}, {s.passwordEdit, L"Пароль"},
                {s.orgCombo, L"Организация"}, {s.modeTabs, L"Раздел"}, {s.itemList, L"Список разговоров"},
                {s.transcriptView, L"Переписка"}, {s.composerEdit, L"Сообщение"},
                {s.reasonEdit, L"Пояснение для изменения статуса"}, {s.staffCombo, L"Исполнитель"},
                {s.fileCombo, L"Файлы разговора"}, {s.searchEdit, L"Поиск по сообщениям"},
                {s.messageCombo, L"Выбранное сообщение"}});
    // The labels are never shown and never take the focus.
    for (HWND c = GetWindow(h.window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        int id = GetDlgCtrlID(c);
        if (id < ID_LABEL_FIRST || id > ID_LABEL_LAST) continue;
        CHECK(upper(classOf(c)) == L"STATIC");
        CHECK((GetWindowLongW(c, GWL_STYLE) & (WS_VISIBLE | WS_TABSTOP)) == 0);
    }

    s.lines = {{L"l1", L"Первая линия", L"", L""}};
    struct Opening {
        const wchar_t* className;
        std::function<void()> open;
        int firstFocus;
        std::vector<std::pair<int, std::wstring>> named;  // control id, name
    };
    const Opening openings[] = {
        {L"KestaForwardMessage",
         [&] { openForwardDialog(s, L"1", R"([{"id":"r1","title":"Общий","canWrite":true}])"); }, 701,
         {{701, L"Куда переслать сообщение?"}}},
        {L"KestaDeleteMessage", [&] { confirmDeletion(s, MessageActions{}); }, 801, {}},
        {L"KestaNewWork",
         [&] {
             s.mode = 1;
             openNewWorkDialog(s, false);
         },
         1, {{1, L"Тема"}, {2, L"Описание"}, {3, L"Линия поддержки"}}},
    };
    for (const Opening& o : openings) {
        CAPTURE(std::string(o.className, o.className + wcslen(o.className)));
        bool seen = false;
        whenDialogOpens(o.className, [&](HWND d) {
            seen = true;
            CHECK(GetFocus() == GetDlgItem(d, o.firstFocus));
            std::vector<std::pair<HWND, std::wstring>> fields;
            for (const auto& n : o.named) fields.push_back({GetDlgItem(d, n.first), n.second});
            checkNames(fields);
            PostMessageW(d, WM_CLOSE, 0, 0);
        });
        o.open();
        CHECK(seen);
    }
    CHECK(takeJobs().empty());
}
