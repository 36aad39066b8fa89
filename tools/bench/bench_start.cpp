// Start-up, for the client, for the bare program with the client's fixed
// window (the same classes, rich edit library and 38 controls, laid out and
// shown) and for the minimal window program, in turn, under the same Wine:
// from CreateProcess to the main window created, laid out and shown (polled:
// the window of the program's class turns visible, which all three do right
// after creating and placing it), and on to the program idle in its message
// loop with the first painting done (WaitForInputIdle). Each started process
// is ended once it is idle.
//
// bench_start ROUNDS CLIENT CLIENT_CLASS BARE BARE_CLASS MINIMAL MINIMAL_CLASS [client arguments...]
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
    if (argc < 8) {
        std::printf("usage: bench_start ROUNDS CLIENT CLIENT_CLASS BARE BARE_CLASS MINIMAL MINIMAL_CLASS "
                    "[client arguments...]\n");
        return 2;
    }
    int rounds = std::atoi(argv[1]);
    struct Program {
        std::wstring line, windowClass;
        std::vector<double> shown, idle;
    } programs[3];
    for (int k = 0; k < 3; ++k) {
        programs[k].line = quotedPath(argv[2 + 2 * k]);
        programs[k].windowClass = toUtf16(argv[3 + 2 * k]);
    }
    for (int i = 8; i < argc; ++i) programs[0].line += L" " + toUtf16(argv[i]);
    // One start of each first: the first start of any program pays for
    // loading Wine's libraries from disk.
    for (Program& p : programs) startOnce(p.line, p.windowClass);
    for (int i = 0; i < rounds; ++i) {
        for (Program& p : programs) {
            Start s = startOnce(p.line, p.windowClass);
            if (s.shown < 0 || s.idle < 0) {
                std::printf("{\"error\": \"a program did not show its window\"}\n");
                return 1;
            }
            p.shown.push_back(s.shown);
            p.idle.push_back(s.idle);
        }
    }
    printRecord("start", "window",
                {{"client", median(programs[0].shown)},
                 {"bare", median(programs[1].shown)},
                 {"minimal", median(programs[2].shown)},
                 {"clientIdle", median(programs[0].idle)},
                 {"bareIdle", median(programs[1].idle)},
                 {"minimalIdle", median(programs[2].idle)}});
    return 0;
}
