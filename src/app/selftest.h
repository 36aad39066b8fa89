// The self-test run: its record, how it ends and the report it writes.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>

struct SelfTestState {
    bool active = false;
    bool historyScenario = false;
    bool actionsScenario = false;
    bool moderationScenario = false;
    bool passed = false;
    int32_t step = 0;
    int32_t historyPages = 0;
    int32_t maxHistoryCharacters = 0;
    bool forwardCompleted = false;
    bool cancelExercised = false;
    int32_t scriptedCommand = 0;
    std::wstring reportPath;
    std::wstring replyTarget, editTarget, forwardRoom, moderationTarget, moderationRole;
};

extern SelfTestState selfTest;

// The report line: compact JSON, members in their fixed order.
std::string selfTestReport(const SelfTestState& state, bool success, bool networkWasOnUiThread, DWORD elapsedMs);

// Ends the run: writes the report (when a path is set) and destroys the window.
void finishSelfTest(HWND mainWindow, bool success);

// Timer 2: more than 40000 ms since start ends an active run as failed.
bool selfTestTimeIsUp(DWORD now, DWORD start);
