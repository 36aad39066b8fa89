// The self-test scenarios: one step after each refreshed history page.
#pragma once
#include <stdexcept>
#include <string>
#include "text/json.h"
#include "ui/main/state.h"

// A failed check; its text is the check's name (never shown).
struct ScenarioCheckFailed : std::runtime_error {
    explicit ScenarioCheckFailed(const char* name) : std::runtime_error(name) {}
};

// Runs the step of the active scenario for the page just applied.
void runScenarioStep(MainWindowState& state, const JsonValue& history, const std::wstring& pageText);

// Posts BM_CLICK; the click runs later from the message loop.
void postClick(HWND control);

// Sends BM_CLICK synchronously when the control is enabled.
bool pressIfEnabled(HWND control);
