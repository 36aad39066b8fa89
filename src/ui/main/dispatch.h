// The handling of every result posted back by a worker, and the flash.
// Starting jobs and the work that waits: ui/main/work.h.
#pragma once
#include "net/jobs.h"
#include "ui/main/state.h"
#include "ui/main/work.h"

void showFlash(MainWindowState& state, const std::wstring& text);

// WM_NET_RESULT: takes ownership of the result and frees it.
void onNetResult(MainWindowState& state, NetResult* result);

// Forgets the replies behind what is shown, so that the next refresh reads
// them in full. Whatever empties a control filled from a reply calls it.
void forgetAppliedReplies(MainWindowState& state);

// Empties the conversation side (navigation, selector, files, transcript) and
// shows `transcript` there; the composer's text is left to the caller.
void clearConversation(MainWindowState& state, const wchar_t* transcript);

// Everything that empties the conversation after a refresh the server refused.
void clearConversationAfterFailure(MainWindowState& state);

// Flashes the window's taskbar button until it comes forward; tests replace it.
extern void (*flashTaskbar)(HWND window);
