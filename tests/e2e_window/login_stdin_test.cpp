#include <doctest/doctest.h>
#include <windows.h>
#include <cstdlib>
#include <string>

// kesta.exe started as an operator would with --login-stdin: the window shows,
// signs itself in with what arrives on standard input, and exits with 0 when
// it is closed.
namespace {
std::wstring wide(const char* s) {
    std::wstring w;
    for (; s && *s; ++s) w += static_cast<wchar_t>(static_cast<unsigned char>(*s));
    return w;
}

std::wstring windowsPath(const std::string& unixPath) {
    std::wstring path = L"Z:";
    for (char c : unixPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return path;
}

struct Found {
    DWORD pid;
    HWND window;
};

BOOL CALLBACK findMain(HWND w, LPARAM param) {
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

// The server's request log holds this text.
bool logMentions(const char* unixPath, const char* text) {
    HANDLE file = CreateFileW(windowsPath(unixPath).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string content;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) content.append(chunk, got);
    CloseHandle(file);
    return content.find(text) != std::string::npos;
}
}  // namespace

TEST_CASE("--login-stdin alone shows the window, signs in and exits 0 when closed") {
    const char* server = std::getenv("KESTA_TEST_SERVER");
    REQUIRE(server);
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    REQUIRE(CreatePipe(&readEnd, &writeEnd, &sa, 0));
    SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
    std::wstring command = L"\"" + windowsPath(KESTA_EXE_PATH) + L"\" --server " + wide(server) + L" --login-stdin";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = readEnd;
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    REQUIRE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
    CloseHandle(readEnd);
    const char input[] = "{\"login\":\"selftest-admin\",\"password\":\"kesta\"}";
    DWORD written = 0;
    WriteFile(writeEnd, input, sizeof input - 1, &written, nullptr);
    CloseHandle(writeEnd);

    Found f{pi.dwProcessId, nullptr};
    for (int i = 0; i < 300 && !f.window; ++i) {
        EnumWindows(findMain, reinterpret_cast<LPARAM>(&f));
        if (!f.window) Sleep(100);
    }
    REQUIRE(f.window);
    // Signed in: the button reads "Выйти" and the server was asked for the
    // organisation's rooms. Nothing is sent to the other process's window,
    // whose thread may be busy: the caption is read as the system keeps it.
    // The button is looked up on every round: the main window is found as
    // soon as it exists, which may be before its controls do.
    const char* log = std::getenv("KESTA_TEST_LOG");
    REQUIRE(log);
    bool buttonSaysSignOut = false, roomsAsked = false;
    for (int i = 0; i < 600 && !(buttonSaysSignOut && roomsAsked); ++i) {  // the machine may be busy
        wchar_t caption[64] = {};
        GetWindowTextW(GetDlgItem(f.window, 103), caption, 64);
        buttonSaysSignOut = std::wstring(caption) == L"Выйти";
        roomsAsked = logMentions(log, "/api/rooms?orgId=");
        if (!(buttonSaysSignOut && roomsAsked)) Sleep(100);
    }
    CHECK(buttonSaysSignOut);
    CHECK(roomsAsked);
    CHECK(IsWindowVisible(f.window));
    PostMessageW(f.window, WM_CLOSE, 0, 0);
    REQUIRE(WaitForSingleObject(pi.hProcess, 20000) == WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    CHECK(code == 0);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
}
