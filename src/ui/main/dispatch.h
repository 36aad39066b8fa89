// Jobs from the main window's side: starting one, refreshing, the flash, and
// the handling of every result posted back by a worker.
#pragma once
#include "net/jobs.h"
#include "ui/main/state.h"

// How a started job reaches a worker; tests replace it to capture jobs.
extern bool (*netJobLauncher)(NetJob* job);

// Starts the job or, while one runs, drops it and remembers a refresh.
// Returns true when a worker was started.
bool startNetJob(MainWindowState& state, NetJob job);

// For jobs the operator confirmed in a dialog: while busy, the job is kept
// and started right after the running job's result instead of being lost.
bool startUserJob(MainWindowState& state, NetJob job);

// A Refresh job for the current view, when an organisation is chosen.
void refreshNow(MainWindowState& state);

void showFlash(MainWindowState& state, const std::wstring& text);

// WM_NET_RESULT: takes ownership of the result and frees it.
void onNetResult(MainWindowState& state, NetResult* result);

// Timer 1.
void onRefreshTimer(MainWindowState& state);

// Everything that empties the conversation after a failed refresh.
void clearConversationAfterFailure(MainWindowState& state);
