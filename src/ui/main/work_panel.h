// The work item panel of a refreshed page, its actions and the web interface.
#pragma once
#include "net/jobs.h"
#include "text/json.h"
#include "ui/main/state.h"

// Work item (modes 1, 2) or room header (mode 0), then the panel's enabling.
void applyWorkItemPart(MainWindowState& state, const NetResult& result);

void onWorkActionCommand(MainWindowState& state, int index);  // 120..125
void onNewWorkCommand(MainWindowState& state);                // 107
void onCreateTicketCommand(MainWindowState& state);           // 126
void openWebInterface(MainWindowState& state);                // 108

void onCreateWorkItemDone(MainWindowState& state, const NetResult& result);

// Only http and https addresses are handed to the shell.
bool isWebAddress(const std::wstring& serverUrl);
