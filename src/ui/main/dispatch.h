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

// A command (control id) refused only because a refresh is in flight is kept
// (one at most, the latest) and given again once that refresh's result has
// been handled, unless the view changed meanwhile. False when nothing runs or
// the running job is no refresh: the command is then refused as before.
bool deferCommand(MainWindowState& state, int id);

// Forgets the replies behind what is shown, so that the next refresh reads
// them in full. Whatever empties a control filled from a reply calls it.
void forgetAppliedReplies(MainWindowState& state);

// Empties the conversation side (navigation, selector, files, transcript) and
// shows `transcript` there; the composer's text is left to the caller.
void clearConversation(MainWindowState& state, const wchar_t* transcript);

// Everything that empties the conversation after a failed refresh.
void clearConversationAfterFailure(MainWindowState& state);

// Flashes the window's taskbar button until it comes forward; tests replace it.
extern void (*flashTaskbar)(HWND window);
