// The work item panel of a refreshed page, its actions and the web interface.
#pragma once
#include "net/jobs.h"
#include "text/json.h"
#include "ui/main/state.h"

// Work item (modes 1, 2: `workItem` is its reply, read by the caller before
// anything shown changed) or room header (mode 0), then the panel's enabling.
void applyWorkItemPart(MainWindowState& state, const NetResult& result, const JsonValue& workItem);

// 120..125: the action of button `index` with the version, reason and staff
// member shown.
NetJob workActionJob(const MainWindowState& state, int index);
void onNewWorkCommand(MainWindowState& state);                // 107
void onCreateTicketCommand(MainWindowState& state);           // 126
void openWebInterface(MainWindowState& state);                // 108

void onCreateWorkItemDone(MainWindowState& state, const NetResult& result);

// createTicketButton's rule: a dispatcher's case without a ticket yet.
bool createTicketEnabled(const MainWindowState& state);

// Only http and https addresses are handed to the shell.
bool isWebAddress(const std::wstring& serverUrl);
