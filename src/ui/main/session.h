// Sign-in and sign-out, organisation, tab and row changes, and the list part
// of a refreshed page.
#pragma once
#include "net/jobs.h"
#include "text/json.h"
#include "ui/main/state.h"

void onSignInCommand(MainWindowState& state);      // 103
void onOrgChange(MainWindowState& state);          // 104
void onTabChange(MainWindowState& state);          // TCN_SELCHANGE
void onRowChange(MainWindowState& state);          // 106

void onSignInDone(MainWindowState& state, const NetResult& result);

// List part of a Refresh result. Returns false when the handling ends here
// (a first row was chosen, or the job carried no history).
bool applyListPart(MainWindowState& state, const NetResult& result);
