#include "kesta_process.h"

std::wstring windowsPath(const std::string& unixPath) {
    std::wstring path = L"Z:";
    for (char c : unixPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return path;
}

std::wstring wideAscii(const std::string& text) {
    std::wstring wide;
    for (char c : text) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return wide;
}

std::string readHostFile(const std::string& unixPath) {
    HANDLE file = CreateFileW(windowsPath(unixPath).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string content;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) content.append(chunk, got);
    CloseHandle(file);
    return content;
}

namespace {
// The arguments tests pass hold no quotes or trailing backslashes.
std::wstring quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

struct MainWindowSearch {
    DWORD processId;
    HWND window;
};

BOOL CALLBACK findMainWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<MainWindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (owner == search->processId && std::wstring(name) == L"KestaSupportMain") {
        search->window = window;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

KestaChild startKesta(const KestaLaunch& launch) {
    KestaChild child;
    std::wstring exe = windowsPath(KESTA_EXE_PATH);
    std::wstring line = quoted(exe);
    for (const std::wstring& argument : launch.arguments) line += L" " + quoted(argument);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    HANDLE readEnd = nullptr;
    if (launch.pipeInput) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        // Room for all the bytes, so they are written before the child runs.
        if (!CreatePipe(&readEnd, &child.input, &inherit, static_cast<DWORD>(launch.input.size() + 65536)))
            return child;
        SetHandleInformation(child.input, HANDLE_FLAG_INHERIT, 0);
        DWORD written = 0;
        if (!launch.input.empty())
            WriteFile(child.input, launch.input.data(), static_cast<DWORD>(launch.input.size()), &written, nullptr);
        if (launch.closeInput) {
            CloseHandle(child.input);
            child.input = nullptr;
        }
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = readEnd;
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION info{};
    std::vector<wchar_t> mutableLine(line.begin(), line.end());
    mutableLine.push_back(L'\0');
    child.started = CreateProcessW(exe.c_str(), mutableLine.data(), nullptr, nullptr, launch.pipeInput, 0, nullptr,
                                   launch.folder.empty() ? nullptr : launch.folder.c_str(), &startup, &info) != FALSE;
    if (readEnd) CloseHandle(readEnd);
    if (!child.started) {
        endKesta(child);
        return child;
    }
    CloseHandle(info.hThread);
    child.process = info.hProcess;
    child.id = info.dwProcessId;
    return child;
}

bool waitForKesta(const KestaChild& child, DWORD timeoutMs, DWORD* exitCode) {
    if (!child.process || WaitForSingleObject(child.process, timeoutMs) != WAIT_OBJECT_0) return false;
    if (exitCode) GetExitCodeProcess(child.process, exitCode);
    return true;
}

void endKesta(KestaChild& child) {
    if (child.input) CloseHandle(child.input);
    child.input = nullptr;
    if (child.process) {
        if (WaitForSingleObject(child.process, 0) != WAIT_OBJECT_0) TerminateProcess(child.process, 99);
        CloseHandle(child.process);
    }
    child.process = nullptr;
}

HWND startKestaWindow(KestaChild& child, const std::vector<std::wstring>& arguments) {
    KestaLaunch launch;
    launch.arguments = arguments;
    child = startKesta(launch);
    return child.started ? waitForMainWindow(child.id) : nullptr;
}

HWND waitForMainWindow(DWORD processId, DWORD timeoutMs) {
    // The window is listed as soon as it exists, which is before its
    // controls are; it is shown once they all are.
    MainWindowSearch search{processId, nullptr};
    ULONGLONG start = GetTickCount64();
    for (;;) {
        if (!search.window) EnumWindows(findMainWindow, reinterpret_cast<LPARAM>(&search));
        if (search.window && IsWindowVisible(search.window)) return search.window;
        if (GetTickCount64() - start > timeoutMs) return nullptr;
        Sleep(50);
    }
}
