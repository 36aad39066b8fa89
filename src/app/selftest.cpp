#include "app/selftest.h"
#include "app/startup.h"
#include "net/http.h"

SelfTestState selfTest;

std::string selfTestReport(const SelfTestState& st, bool success, bool networkWasOnUiThread, DWORD elapsedMs) {
    bool passed = success && !networkWasOnUiThread;
    bool noScenario = !st.historyScenario && !st.actionsScenario && !st.moderationScenario;
    auto flag = [](bool b) { return b ? "true" : "false"; };
    std::string history = flag(success && st.historyScenario);
    std::string r = "{\"result\":\"";
    r += passed ? "passed" : "failed";
    r += "\",\"nativeUi\":true";
    r += ",\"messageRoundTrip\":" + std::string(flag(success && noScenario));
    r += ",\"messageModeration\":" + std::string(flag(success && st.moderationScenario));
    r += ",\"messageActions\":" + std::string(flag(success && st.actionsScenario));
    r += ",\"historyPagination\":" + history;
    r += ",\"historySearch\":" + history;
    r += ",\"latestReturn\":" + history;
    r += ",\"historyPages\":" + std::to_string(st.historyPages);
    r += ",\"maxHistoryCharacters\":" + std::to_string(st.maxHistoryCharacters);
    r += ",\"networkOffUiThread\":" + std::string(flag(!networkWasOnUiThread));
    r += ",\"elapsedMs\":" + std::to_string(static_cast<unsigned long>(elapsedMs));
    r += "}";
    return r;
}

bool selfTestTimeIsUp(DWORD now, DWORD start) { return static_cast<DWORD>(now - start) > 40000; }

void finishSelfTest(HWND mainWindow, bool success) {
    bool networkWasOnUiThread = networkOnUiThread.load();
    selfTest.passed = success && !networkWasOnUiThread;
    if (!selfTest.reportPath.empty()) {
        std::string report = selfTestReport(selfTest, success, networkWasOnUiThread,
                                            static_cast<DWORD>(GetTickCount() - startTick));
        HANDLE file = CreateFileW(selfTest.reportPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
            CloseHandle(file);
        }
    }
    // Only once: later callers (a timer tick, a nested loop unwinding) find
    // the window gone.
    selfTest.active = false;
    if (IsWindow(mainWindow)) DestroyWindow(mainWindow);
}
