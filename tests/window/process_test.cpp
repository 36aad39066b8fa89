#include <doctest/doctest.h>
#include "harness.h"

namespace {
struct Found {
    DWORD pid;
    HWND window;
};

BOOL CALLBACK findMainWindow(HWND w, LPARAM param) {
    auto* f = reinterpret_cast<Found*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    wchar_t name[64] = {};
    GetClassNameW(w, name, 64);
    if (pid == f->pid && std::wstring(name) == L"KestaSupportMain") {
        f->window = w;
        return FALSE;
    }
    return TRUE;
}

// Starts kesta.exe with the given arguments; standard input is an empty pipe.
PROCESS_INFORMATION startKesta(const std::wstring& arguments) {
    std::wstring command = L"\"" + windowsPath(KESTA_EXE_PATH) + L"\" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    return pi;
}

// The main window is listed as soon as it exists, before its controls do;
// it is shown only once they are all made.
HWND waitForWindow(DWORD pid) {
    Found f{pid, nullptr};
    for (int i = 0; i < 300 && !(f.window && IsWindowVisible(f.window)); ++i) {
        if (!f.window) EnumWindows(findMainWindow, reinterpret_cast<LPARAM>(&f));
        if (!(f.window && IsWindowVisible(f.window))) Sleep(100);
    }
    return f.window;
}
}  // namespace

TEST_CASE("the program shows its window and exits with 0 when it is closed") {
    PROCESS_INFORMATION pi = startKesta(L"--server http://127.0.0.1:9");
    REQUIRE(pi.hProcess);
    HWND window = waitForWindow(pi.dwProcessId);
    REQUIRE(window);
    CHECK(IsWindowVisible(window));
    wchar_t title[128] = {};
    GetWindowTextW(window, title, 128);
    CHECK(std::wstring(title) == L"Kesta — Поддержка · прототип");
    PostMessageW(window, WM_CLOSE, 0, 0);
    REQUIRE(WaitForSingleObject(pi.hProcess, 20000) == WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    CHECK(code == 0);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
}

TEST_CASE("--server as the last element is ignored: the compiled-in address stays") {
    PROCESS_INFORMATION pi = startKesta(L"--server");
    REQUIRE(pi.hProcess);
    HWND window = waitForWindow(pi.dwProcessId);
    REQUIRE(window);
    HWND server = GetDlgItem(window, 100);
    wchar_t text[256] = {};
    SendMessageW(server, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));  // crosses the process
    CHECK(std::wstring(text).rfind(L"https://", 0) == 0);
    CHECK(std::wstring(text).find(L".example") != std::wstring::npos);
    PostMessageW(window, WM_CLOSE, 0, 0);
    WaitForSingleObject(pi.hProcess, 20000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
}
