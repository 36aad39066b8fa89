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

// Whether the result is the server refusing the token the window holds (401
// to a request made with it): the session is over, whatever the job was.
bool endsSession(const MainWindowState& state, const NetResult& result);

// The server ended the session: the token is wiped and nothing is sent any
// more; what is shown and typed stays; the strip asks for the password again.
// Waiting work is dropped with a word.
void onSessionEnded(MainWindowState& state);

// While the session is ended: true, with the line that says so, for work
// that would need the server (a command, a job, a refresh).
bool refusedForEndedSession(MainWindowState& state);
bool commandNeedsSession(int id);

// List part of a Refresh result. Returns false when the handling ends here
// (a first row was chosen, or the job carried no history). Takes the list
// reply and its reading over.
bool applyListPart(MainWindowState& state, NetResult& result);

// prepareNetResult for the main window: a refresh's list read into rows on
// the worker. Throws what parse throws; the reply itself is left as it came.
void readListOnWorker(NetResult& result);
