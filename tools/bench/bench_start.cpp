// Start-up, for the client and for the minimal window program, alternating,
// under the same Wine: from CreateProcess to the main window created, laid
// out and shown (polled: the window of the program's class turns visible,
// which both programs do right after creating and placing it), and on to the
// program idle in its message loop with the first painting done
// (WaitForInputIdle). Each started process is ended once it is idle.
//
// bench_start ROUNDS CLIENT CLIENT_CLASS MINIMAL MINIMAL_CLASS [client arguments...]
#include "timing.h"

#include "text/utf.h"

namespace {

struct Start {
    double shown = -1, idle = -1;
};

bool shownWindow(DWORD processId, const std::wstring& windowClass) {
    for (HWND w = FindWindowExW(nullptr, nullptr, windowClass.c_str(), nullptr); w;
         w = FindWindowExW(nullptr, w, windowClass.c_str(), nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == processId && IsWindowVisible(w)) return true;
    }
    return false;
}

// Seconds to the shown window and to input idle; negative when the program
// never got there.
Start startOnce(const std::wstring& commandLine, const std::wstring& windowClass) {
    Start result;
    std::wstring line = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    double start = secondsNow();
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return result;
    while (secondsNow() - start < 30) {
        if (shownWindow(process.dwProcessId, windowClass)) {
            result.shown = secondsNow() - start;
            break;
        }
        if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) break;
    }
    if (result.shown >= 0 && WaitForInputIdle(process.hProcess, 30000) == 0) result.idle = secondsNow() - start;
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

std::wstring quotedPath(const char* path) { return L"\"" + toUtf16(path) + L"\""; }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::printf("usage: bench_start ROUNDS CLIENT CLIENT_CLASS MINIMAL MINIMAL_CLASS [client arguments...]\n");
        return 2;
    }
    int rounds = std::atoi(argv[1]);
    std::wstring client = quotedPath(argv[2]), clientClass = toUtf16(argv[3]);
    for (int i = 6; i < argc; ++i) client += L" " + toUtf16(argv[i]);
    std::wstring minimal = quotedPath(argv[4]), minimalClass = toUtf16(argv[5]);
    // One start of each first: the first start of any program pays for
    // loading Wine's libraries from disk.
    startOnce(client, clientClass);
    startOnce(minimal, minimalClass);
    std::vector<double> shownA, shownB, idleA, idleB;
    for (int i = 0; i < rounds; ++i) {
        Start x = startOnce(client, clientClass), y = startOnce(minimal, minimalClass);
        if (x.shown < 0 || y.shown < 0 || x.idle < 0 || y.idle < 0) {
            std::printf("{\"error\": \"a program did not show its window\"}\n");
            return 1;
        }
        shownA.push_back(x.shown);
        shownB.push_back(y.shown);
        idleA.push_back(x.idle);
        idleB.push_back(y.idle);
    }
    printRecord("start", "window",
                {{"client", median(shownA)},
                 {"minimal", median(shownB)},
                 {"clientIdle", median(idleA)},
                 {"minimalIdle", median(idleB)}});
    return 0;
}
