#include <doctest/doctest.h>
#include "../net/net_support.h"
#include "kesta_process.h"
#include "x_input.h"
#include "ui/main/ids.h"

#include <cstdlib>
#include <string>
#include <vector>

// kesta.exe driven from the keyboard as an operator would, with real key
// presses through the X server (xdotool), so that the keys take the whole
// way: X, Wine's input, the program's message loop, the controls.
namespace {
const char* server() { return std::getenv("KESTA_TEST_SERVER"); }
const char* requestLog() { return std::getenv("KESTA_TEST_LOG"); }

// The keyboard focus of the window's thread, as the system keeps it.
HWND focusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

// An edit's text lives in the other process: asked for, never waited on for long.
std::wstring textOf(HWND control) {
    wchar_t text[256] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(control, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &copied);
    return text;
}

std::wstring captionOf(HWND control) {
    wchar_t caption[64] = {};
    GetWindowTextW(control, caption, 64);
    return caption;
}

// Presses one key and waits until the focus has moved to another control.
HWND pressAndFollow(HWND window, const char* key) {
    HWND before = focusOf(window);
    if (!xdotool(std::string("key ") + key)) return nullptr;
    HWND after = nullptr;
    waitFor([&] {
        after = focusOf(window);
        return after && after != before;
    });
    return after;
}

size_t countOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

struct RunningKesta {
    KestaChild child;
    EndKestaOnExit ending{child};
    HWND window = nullptr;
    HWND control(int id) const { return GetDlgItem(window, id); }
    HWND ofClass(const wchar_t* name) const { return FindWindowExW(window, nullptr, name, nullptr); }
};

// With signIn, it comes on standard input; with inputStaysOpen, standard
// input stays open and silent after it.
void start(RunningKesta& kesta, const char* signIn = nullptr, bool inputStaysOpen = false) {
    KestaLaunch launch;
    launch.arguments = {L"--server", wideAscii(server())};
    if (signIn || inputStaysOpen) {
        launch.arguments.push_back(L"--login-stdin");
        launch.pipeInput = true;
        launch.input = signIn ? signIn : "";
        launch.closeInput = !inputStaysOpen;
    }
    kesta.child = startKesta(launch);
    REQUIRE(kesta.child.started);
    kesta.window = waitForMainWindow(kesta.child.id);
    REQUIRE(kesta.window);
}
}  // namespace

TEST_CASE("Tab and Shift+Tab follow the tab order from the login field, skip disabled controls and wrap") {
    REQUIRE(server());
    RunningKesta kesta;
    start(kesta);
    HWND login = kesta.control(ID_LOGIN_EDIT);
    CHECK(waitFor([&] { return focusOf(kesta.window) == login; }));

    // Signed out, the paging, message and composer controls are disabled.
    for (int id : {ID_FIND, ID_OLDER, ID_NEWER, ID_LATEST, ID_MORE, ID_REPLY, ID_EDIT, ID_FORWARD, ID_CANCEL_MODE,
                   ID_COMPOSER, ID_ATTACH, ID_SEND})
        CHECK_FALSE(IsWindowEnabled(kesta.control(id)));
    std::vector<HWND> expected = {
        kesta.control(ID_PASSWORD_EDIT), kesta.control(ID_SIGN_IN), kesta.control(ID_ORG_COMBO),
        kesta.ofClass(L"SysTabControl32"), kesta.control(ID_ITEM_LIST), kesta.control(ID_NEW_WORK),
        kesta.control(ID_REASON_EDIT), kesta.control(ID_CREATE_TICKET), kesta.control(ID_STAFF_COMBO)};
    for (int id = ID_ACTION_FIRST; id <= ID_ACTION_LAST; ++id) expected.push_back(kesta.control(id));
    for (HWND control : {kesta.control(ID_SEARCH_EDIT), kesta.ofClass(L"RICHEDIT50W"), kesta.control(ID_MESSAGE_COMBO),
                         kesta.control(ID_FILE_COMBO), kesta.control(ID_DOWNLOAD), kesta.control(ID_WEB),
                         kesta.control(ID_SERVER_EDIT), login})
        expected.push_back(control);
    for (size_t i = 0; i < expected.size(); ++i) {
        CAPTURE(i);
        REQUIRE(expected[i]);
        REQUIRE(pressAndFollow(kesta.window, "Tab") == expected[i]);
    }
    CHECK(pressAndFollow(kesta.window, "shift+Tab") == kesta.control(ID_SERVER_EDIT));
    CHECK(pressAndFollow(kesta.window, "shift+Tab") == kesta.control(ID_WEB));
    CHECK(pressAndFollow(kesta.window, "shift+Tab") == kesta.control(ID_DOWNLOAD));
    // No key reached a field as a character on the way.
    CHECK(textOf(login).empty());
    CHECK(textOf(kesta.control(ID_REASON_EDIT)).empty());
}

TEST_CASE("Login, Tab, password, Enter signs in once; the focus goes to the list, and back to the password after sign-out") {
    const char* log = requestLog();
    REQUIRE(server());
    REQUIRE(log);
    const std::string signInPath = "\"path\": \"/api/auth/login\"";
    size_t signInsBefore = countOf(readHostFile(log), signInPath);
    RunningKesta kesta;
    start(kesta);
    HWND login = kesta.control(ID_LOGIN_EDIT), password = kesta.control(ID_PASSWORD_EDIT);
    HWND list = kesta.control(ID_ITEM_LIST), signIn = kesta.control(ID_SIGN_IN);
    REQUIRE(waitFor([&] { return focusOf(kesta.window) == login; }));

    CHECK(xdotool("type --delay 30 selftest-admin"));
    CHECK(pressAndFollow(kesta.window, "Tab") == password);
    CHECK(xdotool("type --delay 30 kesta"));
    CHECK(xdotool("key Return"));
    CHECK(waitFor([&] { return captionOf(signIn) == L"Выйти" && focusOf(kesta.window) == list; }));
    std::string requests = readHostFile(log);
    CHECK(countOf(requests, signInPath) == signInsBefore + 1);
    CHECK(countOf(requests, "\"body\": \"{\\\"login\\\":\\\"selftest-admin\\\",\\\"password\\\":\\\"kesta\\\"}\"") ==
          signInsBefore + 1);
    CHECK(textOf(login) == L"selftest-admin");

    // Back past the tabs and the organisation to "Выйти", the hidden sign-in
    // fields skipped; Space signs out, and the login is still there.
    CHECK(xdotool("key shift+Tab shift+Tab shift+Tab"));
    CHECK(waitFor([&] { return focusOf(kesta.window) == signIn; }));
    CHECK(xdotool("key space"));
    CHECK(waitFor([&] { return captionOf(signIn) == L"Войти" && focusOf(kesta.window) == password; }));
    // Enter in the server field does what "Войти" does: signed out, it signs in.
    CHECK(xdotool("type kesta"));
    CHECK(xdotool("key shift+Tab shift+Tab Return"));
    CHECK(waitFor([&] { return captionOf(signIn) == L"Выйти" && focusOf(kesta.window) == list; }));
    // Signed in, it does nothing: no sign-out, no sign-in, no character. The
    // Tab after it moves on only once the Enter has been handled.
    HWND serverField = kesta.control(ID_SERVER_EDIT);
    CHECK(xdotool("key shift+Tab shift+Tab shift+Tab shift+Tab"));
    CHECK(waitFor([&] { return focusOf(kesta.window) == serverField; }));
    CHECK(pressAndFollow(kesta.window, "Return Tab") == signIn);
    CHECK(captionOf(signIn) == L"Выйти");
    CHECK(textOf(serverField) == wideAscii(server()));
    CHECK(countOf(readHostFile(log), signInPath) == signInsBefore + 2);
}

TEST_CASE("In reply mode Escape in the composer cancels as \"Отменить\" does; Ctrl+Tab puts a tab into the composer") {
    REQUIRE(server());
    RunningKesta kesta;
    start(kesta, "{\"login\":\"selftest-admin\",\"password\":\"kesta\"}");
    HWND selector = kesta.control(ID_MESSAGE_COMBO), reply = kesta.control(ID_REPLY);
    HWND composer = kesta.control(ID_COMPOSER), hint = kesta.control(ID_HINT);
    HWND cancel = kesta.control(ID_CANCEL_MODE);
    // Signed in with the first room's page shown; the focus is on the list.
    REQUIRE(waitFor([&] {
        DWORD_PTR rows = 0;
        SendMessageTimeoutW(selector, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &rows);
        return focusOf(kesta.window) == kesta.control(ID_ITEM_LIST) && IsWindowEnabled(composer) && rows > 1;
    }));

    // Tab on through the right side (the transcript too) to the message selector.
    HWND focus = nullptr;
    for (int i = 0; i < 30 && focus != selector; ++i) focus = pressAndFollow(kesta.window, "Tab");
    REQUIRE(focus == selector);
    CHECK(xdotool("key Down"));
    REQUIRE(waitFor([&] { return IsWindowEnabled(reply) != FALSE; }));
    for (int i = 0; i < 5 && focus != reply; ++i) focus = pressAndFollow(kesta.window, "Tab");
    REQUIRE(focus == reply);
    // Every refresh disables the button while it runs, which drops the focus
    // it holds; the focus comes back once it is enabled again.
    const char* log = requestLog();
    REQUIRE(log);
    size_t pages = countOf(readHostFile(log), "/messages?");
    CHECK(waitFor([&] { return countOf(readHostFile(log), "/messages?") > pages; }));
    CHECK(waitFor([&] { return focusOf(kesta.window) == reply && IsWindowEnabled(reply); }));
    CHECK(xdotool("key space"));
    REQUIRE(waitFor([&] { return focusOf(kesta.window) == composer && IsWindowEnabled(cancel); }));
    CHECK(captionOf(hint).find(L"Ответ: ") == 0);

    CHECK(xdotool("type a"));
    CHECK(xdotool("key ctrl+Tab"));
    CHECK(xdotool("type b"));
    CHECK(waitFor([&] { return textOf(composer) == L"a\tb"; }));
    CHECK(xdotool("key Escape"));
    CHECK(waitFor([&] { return captionOf(hint).empty() && !IsWindowEnabled(cancel); }));
    // As with "Отменить", the text stays and so does the focus.
    CHECK(textOf(composer) == L"a\tb");
    CHECK(focusOf(kesta.window) == composer);
    // Tab leaves the composer (for "Файл…", or past it while a refresh runs).
    focus = pressAndFollow(kesta.window, "Tab");
    CHECK((focus && focus != composer));
}

TEST_CASE("Enter presses a focused button; Ctrl+Backspace and Ctrl+A edit the composer; keys work while standard input waits") {
    REQUIRE(server());
    RunningKesta kesta;
    // Standard input stays open and silent: the window is shown meanwhile,
    // and its keyboard handling must be there already.
    start(kesta, nullptr, true);
    HWND login = kesta.control(ID_LOGIN_EDIT), password = kesta.control(ID_PASSWORD_EDIT);
    HWND signIn = kesta.control(ID_SIGN_IN), composer = kesta.control(ID_COMPOSER);
    REQUIRE(waitFor([&] { return focusOf(kesta.window) == login; }));
    CHECK(xdotool("type selftest-admin"));
    CHECK(pressAndFollow(kesta.window, "Tab") == password);
    CHECK(xdotool("type kesta"));
    CHECK(pressAndFollow(kesta.window, "Tab") == signIn);
    // Enter on the focused «Войти» presses it, as in a dialog.
    CHECK(xdotool("key Return"));
    REQUIRE(waitFor([&] { return captionOf(signIn) == L"Выйти" && IsWindowEnabled(composer); }));

    clickControl(composer);
    REQUIRE(waitFor([&] { return focusOf(kesta.window) == composer; }));
    CHECK(xdotool("type 'Hello, big world'"));
    CHECK(waitFor([&] { return textOf(composer) == L"Hello, big world"; }));
    // A plain edit would type U+007F here; the word goes instead.
    CHECK(xdotool("key ctrl+BackSpace"));
    CHECK(waitFor([&] { return textOf(composer) == L"Hello, big "; }));
    CHECK(xdotool("key ctrl+BackSpace ctrl+BackSpace"));
    CHECK(waitFor([&] { return textOf(composer) == L"Hello"; }));
    CHECK(xdotool("key ctrl+a"));
    CHECK(xdotool("type X"));
    CHECK(waitFor([&] { return textOf(composer) == L"X"; }));
}

TEST_CASE("The server forgets its sessions: the password is asked for, and signing in again brings back both drafts and the room") {
    REQUIRE(server());
    RunningKesta kesta;
    start(kesta, "{\"login\":\"selftest-admin\",\"password\":\"kesta\"}");
    HWND list = kesta.control(ID_ITEM_LIST), composer = kesta.control(ID_COMPOSER);
    HWND password = kesta.control(ID_PASSWORD_EDIT), signIn = kesta.control(ID_SIGN_IN);
    auto selectedRow = [&] {
        DWORD_PTR row = 0;
        SendMessageTimeoutW(list, LB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 5000, &row);
        return static_cast<LRESULT>(row);
    };
    auto openRow = [&](int row) {
        SendMessageTimeoutW(list, LB_SETCURSEL, row, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
        PostMessageW(kesta.window, WM_COMMAND, MAKEWPARAM(ID_ITEM_LIST, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    };
    auto typeDraft = [&](const char* text) {
        REQUIRE(waitFor([&] { return IsWindowEnabled(composer) != FALSE; }, 60000));
        REQUIRE(clickControl(composer));
        REQUIRE(waitFor([&] { return focusOf(kesta.window) == composer; }));
        CHECK(xdotool(std::string("type --delay 15 '") + text + "'"));
        CHECK(waitFor([&] { return textOf(composer) == wideAscii(text); }));
    };
    typeDraft("first room draft");
    openRow(1);
    REQUIRE(waitFor([&] { return selectedRow() == 1 && textOf(composer).empty(); }));
    typeDraft("second room draft");

    call(L"POST", L"/__test/sessions/forget");
    // The next periodic refresh is refused.
    CHECK(waitFor([&] { return captionOf(signIn) == L"Войти" && focusOf(kesta.window) == password; }));
    CHECK(textOf(composer) == L"second room draft");
    CHECK(selectedRow() == 1);
    CHECK(xdotool("type --delay 30 kesta"));
    CHECK(xdotool("key Return"));
    CHECK(waitFor([&] {
        return captionOf(signIn) == L"Выйти" && IsWindowEnabled(composer) && selectedRow() == 1 &&
               textOf(composer) == L"second room draft";
    }));
    openRow(0);
    CHECK(waitFor([&] { return selectedRow() == 0 && textOf(composer) == L"first room draft"; }));
}

TEST_CASE("F6 and Shift+F6 move among the areas; the new work item dialog works from the keyboard alone") {
    const char* log = requestLog();
    REQUIRE(server());
    REQUIRE(log);
    RunningKesta kesta;
    start(kesta, "{\"login\":\"selftest-admin\",\"password\":\"kesta\"}");
    HWND list = kesta.control(ID_ITEM_LIST), composer = kesta.control(ID_COMPOSER);
    REQUIRE(waitFor([&] { return focusOf(kesta.window) == list && IsWindowEnabled(composer); }));

    // The list, the transcript, the composer, the search field, the work
    // item panel's first control, and round again; Shift+F6 goes back.
    const std::vector<HWND> areas = {kesta.ofClass(L"RICHEDIT50W"), composer, kesta.control(ID_SEARCH_EDIT),
                                     kesta.control(ID_REASON_EDIT), list};
    for (size_t i = 0; i < areas.size(); ++i) {
        CAPTURE(i);
        REQUIRE(pressAndFollow(kesta.window, "F6") == areas[i]);
    }
    CHECK(pressAndFollow(kesta.window, "shift+F6") == kesta.control(ID_REASON_EDIT));
    CHECK(pressAndFollow(kesta.window, "F6") == list);

    // The cases tab (from the list, back to the tabs, one to the right), then
    // «Создать / управление в веб».
    CHECK(pressAndFollow(kesta.window, "shift+Tab") == kesta.ofClass(L"SysTabControl32"));
    CHECK(xdotool("key Right"));
    CHECK(pressAndFollow(kesta.window, "Tab") == list);
    CHECK(pressAndFollow(kesta.window, "Tab") == kesta.control(ID_NEW_WORK));
    CHECK(xdotool("key space"));
    HWND dialog = nullptr;
    REQUIRE(waitFor([&] {
        dialog = FindWindowW(L"KestaNewWork", nullptr);
        return dialog && captionOf(dialog) == L"Новое обращение";
    }));
    HWND subject = GetDlgItem(dialog, 1), description = GetDlgItem(dialog, 2);
    HWND lines = GetDlgItem(dialog, 3), create = GetDlgItem(dialog, 4);
    CHECK(waitFor([&] { return focusOf(dialog) == subject; }));
    CHECK(xdotool("type --delay 30 Printer"));
    CHECK(pressAndFollow(dialog, "Tab") == description);
    // Enter starts a new line of the description; Escape closes nothing.
    CHECK(xdotool("type --delay 30 jams"));
    CHECK(xdotool("key Return Escape"));
    CHECK(xdotool("type --delay 30 daily"));
    CHECK(waitFor([&] { return textOf(description) == L"jams\r\ndaily"; }));
    CHECK(pressAndFollow(dialog, "Tab") == lines);
    CHECK(pressAndFollow(dialog, "Tab") == create);
    CHECK(pressAndFollow(dialog, "Tab") == subject);
    CHECK(pressAndFollow(dialog, "shift+Tab") == create);
    CHECK(pressAndFollow(dialog, "shift+Tab") == lines);
    CHECK(IsWindow(dialog));
    size_t casesBefore = countOf(readHostFile(log), "\"path\": \"/api/cases\"");
    // Enter on the line list presses «Создать».
    CHECK(xdotool("key Return"));
    CHECK(waitFor([&] { return !IsWindow(dialog); }));
    CHECK(waitFor([&] {
        std::string requests = readHostFile(log);
        return countOf(requests, "\"path\": \"/api/cases\"") > casesBefore &&
               requests.find("\\\"subject\\\":\\\"Printer\\\",\\\"text\\\":\\\"jams\\\\r\\\\ndaily\\\"") != std::string::npos;
    }));
}
