// What may be done with the selected message: the per-message records read
// from a history page, the selector's lines, and the one rule set that enables
// the message and composer controls.
#pragma once
#include <string>
#include <vector>
#include "text/json.h"
#include "ui/dialogs/action_page.h"
#include "ui/main/state.h"

// --- window side (main window thread) ---

// The selected message of messageCombo, or null.
const MessageActions* selectedMessage(const MainWindowState& state);

// Rebuilds the action list and messageCombo from a history page, keeping the
// selection by id; sets canWrite; runs the action-control update.
void rebuildMessageActions(MainWindowState& state, const JsonValue& history);

// Empties the list, selects the hint, clears canWrite and the flash, and
// leaves reply or edit mode without restoring the draft.
void resetMessageActions(MainWindowState& state);

// Applies actionControlRules to the eight controls and the send caption.
void updateActionControls(MainWindowState& state);

// EnableWindow only when the control's state changes. Under Wine even an
// unchanged EnableWindow is a round trip to the window server, and every
// refresh result sets some twenty controls.
void enableControl(HWND control, bool enabled);

// Selects the message with this id as if the operator had picked it.
bool selectMessageById(MainWindowState& state, const std::wstring& id);
