// The main window's state: one record, owned by and touched only on the
// window thread. Workers get copies inside their NetJob.
#pragma once
#include <windows.h>
#include <cstdint>
#include <memory>
#include "net/jobs.h"
#include "ui/main/rows.h"
#include <string>
#include <vector>

// Work given while a job was in flight, waiting for the window to be idle
// again; ui/main/work.h has the rules.
enum class PendingKind { Refresh, Job, Command };

struct PendingWork {
    PendingKind kind = PendingKind::Refresh;
    int command = 0;                // the control id that gave it (none for the refresh)
    std::unique_ptr<NetJob> job;    // built when given, with what was shown then
    int32_t generation = 0;         // the view it was given in
    std::wstring target;            // what a command acts on: a file id, a case id, an edit
    std::wstring title;             // the conversation it was given in, as listed then
};

// What was typed for a conversation the operator left (ui/main/drafts.h).
struct Draft {
    std::wstring orgId;
    int32_t mode = 0;
    std::wstring itemId;
    std::wstring text;
    std::wstring replyToId;
};

struct MainWindowState {
    HWND window = nullptr;
    HFONT uiFont = nullptr;
    // The DPI the window is laid out and its font made for (dpi.h).
    int dpi = 96;

    HWND serverEdit = nullptr, loginEdit = nullptr, passwordEdit = nullptr, signInButton = nullptr;
    HWND orgCombo = nullptr, modeTabs = nullptr, itemList = nullptr, newWorkButton = nullptr, webButton = nullptr;
    HWND transcriptView = nullptr, composerEdit = nullptr, sendButton = nullptr, statusLabel = nullptr;
    HWND headerLabel = nullptr, reasonEdit = nullptr, staffCombo = nullptr;
    HWND actionButtons[6] = {};
    HWND createTicketButton = nullptr, attachButton = nullptr, fileCombo = nullptr, downloadButton = nullptr;
    HWND searchEdit = nullptr, findButton = nullptr, olderButton = nullptr, newerButton = nullptr, latestButton = nullptr;
    HWND messageCombo = nullptr, replyButton = nullptr, editButton = nullptr, forwardButton = nullptr;
    HWND cancelModeButton = nullptr, hintLabel = nullptr, moreButton = nullptr;
    // The hidden label that names the composer; the name tells its mode.
    HWND composerLabel = nullptr;
    // The status text a screen reader was last told of (accessibility.h).
    std::wstring spokenStatus;

    WNDPROC composerProc = nullptr;
    WNDPROC searchProc = nullptr;
    WNDPROC statusProc = nullptr;

    // The control that last had the keyboard focus, or where it goes once the
    // window is active again: disabling the focused control (any job start
    // does, to some buttons) or deactivating the window takes the focus away.
    HWND lastFocus = nullptr;

    std::wstring serverUrl;
    std::wstring token;
    std::wstring userName;
    std::wstring orgId;
    int32_t mode = 0;
    std::wstring selectedId;
    std::wstring roomId;
    int32_t generation = 0;
    bool busy = false;
    int32_t runningKind = 0;   // the NetJobKind of the job in flight while busy
    int runningCommand = 0;    // the control id whose job is in flight, 0 for none
    std::unique_ptr<NetJob> runningJob;  // the job in flight as started, to tell a repeat from a correction
    std::wstring runningTitle;           // the conversation it was given in, as listed then
    // A dialog opened by waiting work is open: what waits behind it waits on.
    bool dialogFromQueue = false;
    // The operator cancelled the proxy's sign-in: a periodic refresh that meets
    // the proxy asks no more, the next other job does.
    bool proxySignInDeclined = false;
    bool modalOpen = false;

    std::wstring searchText, beforeCursor, nextBefore;
    std::vector<std::wstring> cursorStack;

    std::wstring replyToId, editId, savedText;

    std::wstring flashText;
    DWORD flashTick = 0;

    bool canWrite = false;
    bool canDispatch = false;
    bool isAssigned = false;
    bool caseHasTicket = false;   // "ticketId" of the shown work item is set
    std::wstring shownItemId;     // the list item the panel and page show; empty until its first page
    int32_t workVersion = 0;

    std::vector<ListRow> memberships, lines, listRows, files, staff;
    std::vector<std::wstring> listLines;       // what itemList shows
    std::vector<MessageActions> actions;
    std::vector<std::wstring> selectorLines;   // what messageCombo shows after its hint

    // What was last written to transcriptView: the control cuts text at its
    // limit, so comparing with its own text would rewrite a long page forever.
    std::wstring shownTranscript;
    // Which page that text is (view, search, cursor): the first showing of
    // a page opens at its end, later ones keep the reading place.
    std::wstring shownPlace;

    // The raw replies behind what the window shows: a refresh that brings the
    // same bytes again (most periodic ones) skips reading them.
    std::string appliedHistory;
    // Never changed once applied, only replaced: refresh jobs share it.
    std::shared_ptr<const std::string> appliedList;
    int32_t appliedListMode = -1;

    // Work given while a job was in flight, in the order given.
    std::vector<PendingWork> pending;

    // Drafts of the conversations left, and the reply mode the draft of the
    // open one brought, waiting for its first page.
    std::vector<Draft> drafts;
    std::wstring draftReplyTo;

    // Whose place and drafts the window holds: the login and the address of
    // the session they were made in. sessionEnded: the server refused that
    // session's token; the window keeps its place until the operator signs
    // in again (the same login and address continue it). resumeRow: the row
    // to open again once the list of the continued session arrives.
    std::wstring sessionLogin, sessionServer;
    bool sessionEnded = false;
    std::wstring resumeRow;

    // When the last refresh of this sign-in succeeded (all zeros: none yet):
    // shown with a failure that kept the page.
    SYSTEMTIME lastRefreshed = {};

    // The composer had the keyboard focus when a job start disabled it.
    bool composerHadFocus = false;
};

// The whole text of a control.
std::wstring windowText(HWND control);

// The state of a main window, kept in its GWLP_USERDATA.
MainWindowState* stateOf(HWND window);
