#include <doctest/doctest.h>
#include "kesta_process.h"

#include <cstdlib>
#include <string>

// kesta.exe started as an operator would with --login-stdin: the window shows,
// signs itself in with what arrives on standard input, and exits with 0 when
// it is closed.

TEST_CASE("--login-stdin alone shows the window, signs in and exits 0 when closed") {
    const char* server = std::getenv("KESTA_TEST_SERVER");
    const char* log = std::getenv("KESTA_TEST_LOG");
    REQUIRE(server);
    REQUIRE(log);
    KestaLaunch launch;
    launch.arguments = {L"--server", wideAscii(server), L"--login-stdin"};
    launch.pipeInput = true;
    launch.input = "{\"login\":\"selftest-admin\",\"password\":\"kesta\"}";
    KestaChild child = startKesta(launch);
    EndKestaOnExit ending{child};
    REQUIRE(child.started);
    HWND window = waitForMainWindow(child.id);
    REQUIRE(window);

    // Signed in: the button reads "Выйти" and the server was asked for the
    // organisation's rooms. Nothing is sent to the other process's window,
    // whose thread may be busy: the caption is read as the system keeps it.
    bool buttonSaysSignOut = false, roomsAsked = false;
    for (int i = 0; i < 600 && !(buttonSaysSignOut && roomsAsked); ++i) {  // the machine may be busy
        wchar_t caption[64] = {};
        GetWindowTextW(GetDlgItem(window, 103), caption, 64);
        buttonSaysSignOut = std::wstring(caption) == L"Выйти";
        roomsAsked = readHostFile(log).find("/api/rooms?orgId=") != std::string::npos;
        if (!(buttonSaysSignOut && roomsAsked)) Sleep(100);
    }
    CHECK(buttonSaysSignOut);
    CHECK(roomsAsked);
    CHECK(IsWindowVisible(window));
    PostMessageW(window, WM_CLOSE, 0, 0);
    DWORD code = 99;
    REQUIRE(waitForKesta(child, 20000, &code));
    CHECK(code == 0);
}
