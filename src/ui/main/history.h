// History navigation and the conversation part of a refreshed page.
#pragma once
#include "text/json.h"
#include "ui/main/state.h"

void resetHistoryNavigation(MainWindowState& state);

// Find and the three paging buttons off (a job runs, or no page is shown).
void disablePagingButtons(MainWindowState& state);

void onFindCommand(MainWindowState& state);    // 141
void onOlderCommand(MainWindowState& state);   // 142
void onNewerCommand(MainWindowState& state);   // 143
void onLatestCommand(MainWindowState& state);  // 144

// Applies a history reply: actions, paging buttons, files, transcript; the
// page's transcript text is then state.shownTranscript.
void applyHistoryPage(MainWindowState& state, const JsonValue& history);

// The same page once more: only what depends on the navigation and on the
// job's start (the paging, file and composer controls) is set again.
void reapplyHistoryPage(MainWindowState& state);

// Whether the transcript shows a page of the current view already (a refresh
// of it), not one met for the first time since a view change, paging or search.
bool showsSamePage(const MainWindowState& state);

// Key filter of searchEdit: Enter finds.
LRESULT CALLBACK searchKeyFilter(HWND edit, UINT message, WPARAM wParam, LPARAM lParam);

// Sets the transcript to a fixed text (empty on view changes) and remembers it.
void setTranscriptText(MainWindowState& state, const wchar_t* text);
