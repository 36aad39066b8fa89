#include <doctest/doctest.h>
#include "../net/net_support.h"
#include "kesta_process.h"
#include "ui/main/ids.h"
#include "x_input.h"

#include <string>
#include <vector>

// kesta.exe as the operator has it, with real keys through the X server, while
// the local server holds a periodic refresh open: what is typed meanwhile must
// arrive, and the Ctrl+Enter pressed in it must send (or save) exactly once.
namespace {
// kesta.exe signed in as the fixture's administrator, its first page shown.
HWND startSignedIn(KestaChild& child) {
    KestaLaunch launch;
    launch.arguments = {L"--server", testServer(), L"--login-stdin"};
    launch.pipeInput = true;
    launch.input = "{\"login\":\"selftest-admin\",\"password\":\"kesta\"}";
    child = startKesta(launch);
    REQUIRE(child.started);
    HWND window = waitForMainWindow(child.id);
    REQUIRE(window);
    REQUIRE(waitFor([&] { return IsWindowEnabled(GetDlgItem(window, ID_COMPOSER)) != FALSE; }, 60000));
    return window;
}

size_t listRequests() {
    size_t count = 0;
    for (const LoggedRequest& r : serverLog())
        if (r.path.rfind(L"/api/rooms?orgId=", 0) == 0) ++count;
    return count;
}

// Holds the next refresh's first request for eight seconds and returns once it
// has reached the server: the window is then busy with a refresh.
DWORD holdNextRefresh() {
    size_t before = listRequests();
    injectFault(R"({"path":"/api/rooms","method":"GET","kind":"delay","seconds":8})");
    REQUIRE(waitFor([&] { return listRequests() > before; }, 20000));
    return GetTickCount();
}

struct StoredMessage {
    std::wstring id, text;
};

std::vector<StoredMessage> messagesContaining(const std::wstring& part) {
    JsonValue state = parse(call(L"GET", L"/__test/state"));
    std::vector<StoredMessage> found;
    for (JsonIndex m : arrayElements(state, findMember(state, 0, "messages"))) {
        std::wstring text = memberString(state, m, "text");
        if (text.find(part) != std::wstring::npos) found.push_back({memberString(state, m, "id"), text});
    }
    return found;
}

size_t writesTo(const std::wstring& path) {
    size_t count = 0;
    for (const LoggedRequest& r : serverLog())
        if (r.method != L"GET" && r.path == path) ++count;
    return count;
}

// The selector line of the message holding this text, selected as a pick would.
bool selectMessage(HWND window, HWND selector, const std::wstring& text) {
    LRESULT count = SendMessageW(selector, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 1; i < count; ++i) {
        wchar_t line[512] = {};
        if (SendMessageW(selector, CB_GETLBTEXTLEN, i, 0) >= 511) continue;
        SendMessageW(selector, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(line));
        if (std::wstring(line).find(text) == std::wstring::npos) continue;
        SendMessageW(selector, CB_SETCURSEL, i, 0);
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(ID_MESSAGE_COMBO, CBN_SELCHANGE), reinterpret_cast<LPARAM>(selector));
        return true;
    }
    return false;
}
}  // namespace

TEST_CASE("typing and Ctrl+Enter that meet a refresh arrive whole; the message is sent and its edit saved once") {
    REQUIRE(haveTestServer());
    ServerSession session(ServerData::Reset);
    KestaChild child;
    EndKestaOnExit ending{child};
    HWND window = startSignedIn(child);
    HWND composer = GetDlgItem(window, ID_COMPOSER);

    // A new message, typed and sent while the refresh is held.
    const std::string typed = "typed during a refresh 41";
    DWORD held = holdNextRefresh();
    REQUIRE(clickControl(composer));
    REQUIRE(xdotool("type --delay 15 '" + typed + "'"));
    REQUIRE(xdotool("key ctrl+Return"));
    CHECK(GetTickCount() - held < 8000);  // the keys met the refresh
    const std::wstring wideTyped(typed.begin(), typed.end());
    REQUIRE(waitFor([&] { return !messagesContaining(wideTyped).empty(); }, 30000));
    std::vector<StoredMessage> sent = messagesContaining(wideTyped);
    REQUIRE(sent.size() == 1);
    CHECK(sent[0].text == wideTyped);

    // Its edit: the composer stays open during the refresh, the save goes once.
    HWND selector = GetDlgItem(window, ID_MESSAGE_COMBO);
    HWND edit = GetDlgItem(window, ID_EDIT);
    REQUIRE(waitFor([&] { return selectMessage(window, selector, wideTyped); }, 20000));
    REQUIRE(waitFor([&] { return IsWindowEnabled(edit) != FALSE; }, 20000));
    REQUIRE(clickControl(edit));
    held = holdNextRefresh();
    REQUIRE(clickControl(composer));
    REQUIRE(xdotool("key ctrl+End"));
    REQUIRE(xdotool("type --delay 15 ' and edited'"));
    REQUIRE(xdotool("key ctrl+Return"));
    CHECK(GetTickCount() - held < 8000);
    const std::wstring edited = wideTyped + L" and edited";
    CHECK(waitFor([&] { return messagesContaining(wideTyped)[0].text == edited; }, 30000));
    Sleep(5000);  // a second save would arrive within a refresh
    CHECK(writesTo(L"/api/messages/" + sent[0].id) == 1);
    CHECK(messagesContaining(wideTyped).size() == 1);

    // Rewritten before a second Ctrl+Enter while the first waited: only the
    // rewritten text goes, once, and the composer is empty after it.
    held = holdNextRefresh();
    REQUIRE(clickControl(composer));
    REQUIRE(xdotool("type --delay 15 'first try 52'"));
    REQUIRE(xdotool("key ctrl+Return"));
    REQUIRE(xdotool("key ctrl+a"));
    REQUIRE(xdotool("type --delay 15 'second try 52'"));
    REQUIRE(xdotool("key ctrl+Return"));
    CHECK(GetTickCount() - held < 8000);
    REQUIRE(waitFor([&] { return !messagesContaining(L"second try 52").empty(); }, 30000));
    CHECK(waitFor([&] { return GetWindowTextLengthW(composer) == 0; }, 10000));
    Sleep(5000);
    CHECK(messagesContaining(L"second try 52").size() == 1);
    CHECK(messagesContaining(L"first try 52").empty());
}

namespace {
HWND shownWindowOf(DWORD processId, const wchar_t* className) {
    struct Search {
        DWORD process;
        const wchar_t* name;
        HWND found;
    } search{processId, className, nullptr};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            wchar_t name[64] = {};
            GetClassNameW(w, name, 64);
            if (owner != s->process || !IsWindowVisible(w) || std::wstring(name) != s->name) return TRUE;
            s->found = w;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}
}  // namespace

TEST_CASE("a button clicked while a refresh is held does its work once the refresh is done") {
    REQUIRE(haveTestServer());
    ServerSession session(ServerData::Reset);
    KestaChild child;
    EndKestaOnExit ending{child};
    HWND window = startSignedIn(child);

    // "Скачать файл…" stays enabled during a refresh; it opens the save dialog,
    // a window of the system's dialog class. Clicked twice, it opens one.
    HWND download = GetDlgItem(window, ID_DOWNLOAD);
    REQUIRE(waitFor([&] { return IsWindowEnabled(download) != FALSE; }, 20000));
    DWORD held = holdNextRefresh();
    REQUIRE(clickControl(download));
    REQUIRE(clickControl(download));
    REQUIRE(GetTickCount() - held < 7000);
    CHECK_FALSE(shownWindowOf(child.id, L"#32770"));  // not while the refresh runs
    HWND opened = nullptr;
    REQUIRE(waitFor([&] { return (opened = shownWindowOf(child.id, L"#32770")) != nullptr; }, 20000));
    CHECK(GetTickCount() - held >= 7000);
    PostMessageW(opened, WM_CLOSE, 0, 0);
    REQUIRE(waitFor([&] { return !shownWindowOf(child.id, L"#32770"); }, 10000));
    Sleep(1000);
    CHECK_FALSE(shownWindowOf(child.id, L"#32770"));
}
