#include <doctest/doctest.h>
#include "harness.h"
#include "kesta_process.h"

TEST_CASE("the program shows its window and exits with 0 when it is closed") {
    KestaChild child;
    EndKestaOnExit ending{child};
    HWND window = startKestaWindow(child, {L"--server", L"http://127.0.0.1:9"});
    REQUIRE(window);
    CHECK(IsWindowVisible(window));
    wchar_t title[128] = {};
    GetWindowTextW(window, title, 128);
    CHECK(std::wstring(title) == L"Kesta — Поддержка · прототип");
    PostMessageW(window, WM_CLOSE, 0, 0);
    DWORD code = 99;
    CHECK(waitForKesta(child, 20000, &code));
    CHECK(code == 0);
}

TEST_CASE("--server as the last element is ignored: the compiled-in address stays") {
    KestaChild child;
    EndKestaOnExit ending{child};
    HWND window = startKestaWindow(child, {L"--server"});
    REQUIRE(window);
    HWND server = GetDlgItem(window, 100);
    wchar_t text[256] = {};
    SendMessageW(server, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));  // crosses the process
    CHECK(std::wstring(text).rfind(L"https://", 0) == 0);
    CHECK(std::wstring(text).find(L".example") != std::wstring::npos);
    PostMessageW(window, WM_CLOSE, 0, 0);
    waitForKesta(child, 20000);
}
