// Sign-in and sign-out, organisation, tab and row changes, and the list part
// of a refreshed page.
#pragma once
#include "net/jobs.h"
#include "text/json.h"
#include "ui/main/state.h"

// 103 while signed out: the sign-in with the address, login and password typed.
NetJob signInJob(const MainWindowState& state);
// 103 while signed in.
void signOut(MainWindowState& state);
void onOrgChange(MainWindowState& state);          // 104
void onTabChange(MainWindowState& state);          // TCN_SELCHANGE
void onRowChange(MainWindowState& state);          // 106

// Shows the list item with this id in the tab of `mode`, as a click on its
// row does (the refresh that reads it is the caller's).
void showListItem(MainWindowState& state, int32_t mode, const std::wstring& id);

void onSignInDone(MainWindowState& state, const NetResult& result);

// List part of a Refresh result. Returns false when the handling ends here
// (a first row was chosen, or the job carried no history).
bool applyListPart(MainWindowState& state, const NetResult& result);
