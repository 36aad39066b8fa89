// Process-wide values of start-up and the command line scan.
#pragma once
#include <windows.h>
#include "net/http.h"
#include <string>
#include <vector>

extern DWORD startTick;
extern std::wstring markerText;

struct CommandLine {
    std::wstring serverUrl;        // empty: keep the compiled-in address
    bool serverGiven = false;
    std::wstring reportPath;
    bool selfTest = false;         // any self-test option
    bool historyScenario = false;
    bool actionsScenario = false;
    bool moderationScenario = false;
    bool readStdin = false;        // --login-stdin or any self-test option
    ProxyChoice proxy;             // --proxy none | URL; the system's otherwise
};

// Scans the arguments after the program path, left to right. An option that
// needs a value takes the next element whatever it holds; at the end of the
// line it is ignored. Unknown elements are ignored.
CommandLine scanCommandLine(const std::vector<std::wstring>& args);

// "Проверка нативного клиента " followed by the tick in decimal.
std::wstring markerFor(DWORD tick);

// Registers the four window classes; main window class first.
void registerWindowClasses(HINSTANCE instance);

// What the windows need before the first one is made: the rich edit library
// from the system folder, the tab control class, and the four window classes.
void prepareWindowing(HINSTANCE instance);

// The whole start-up and message loop; returns the process exit code.
int runKesta(HINSTANCE instance, int showCommand);
