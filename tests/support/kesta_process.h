// Running the real kesta.exe from a test program: the Windows form of a build
// path, the child process with the standard input a test chooses, and its
// main window once it can be read.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// "/a/b" as the Wine prefix's Z: drive sees it.
std::wstring windowsPath(const std::string& unixPath);

// An ASCII text (an address, a path from the environment) widened.
std::wstring wideAscii(const std::string& text);

// The whole content of a host file (the local server's request log); empty
// when it cannot be read.
std::string readHostFile(const std::string& unixPath);

struct KestaChild {
    bool started = false;
    HANDLE process = nullptr;
    DWORD id = 0;
    // The writing end of standard input while the test keeps it open.
    HANDLE input = nullptr;
};

struct KestaLaunch {
    std::vector<std::wstring> arguments;
    // Bytes waiting on standard input; without pipeInput the child gets none.
    bool pipeInput = false;
    std::string input;
    // Left open, the pipe stays silent after the bytes until endKesta.
    bool closeInput = true;
    std::wstring folder;  // working folder; empty: the test's own
};

KestaChild startKesta(const KestaLaunch& launch);

// Waits at most timeoutMs for the child to end; true when it did. The exit
// code is left in *exitCode when given.
bool waitForKesta(const KestaChild& child, DWORD timeoutMs, DWORD* exitCode = nullptr);

// Ends a child still running, and closes every handle of the record.
void endKesta(KestaChild& child);

// For a test that may stop early at a failed REQUIRE: a child left running
// would keep the test's output open, and the test run waiting on it.
struct EndKestaOnExit {
    KestaChild& child;
    ~EndKestaOnExit() { endKesta(child); }
};

// The child's main window once shown (its controls are made before it is
// shown, so they can be looked up then); null after timeoutMs.
HWND waitForMainWindow(DWORD processId, DWORD timeoutMs = 30000);

// Starts the child with these arguments (no standard input) into `child`
// and waits for its main window; null when either fails.
HWND startKestaWindow(KestaChild& child, const std::vector<std::wstring>& arguments);

// Polls the condition until it holds (true) or the time is up (false).
template <class Condition>
bool waitFor(Condition condition, DWORD timeoutMs = 20000) {
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(50);
    }
    return true;
}
