#include "ui/main/state.h"
#include "ui/main/session.h"
#include "ui/dialogs/actions.h"
#include "ui/main/composer.h"
#include "ui/main/dispatch.h"
#include "ui/main/drafts.h"
#include "ui/main/history.h"
#include "ui/main/ids.h"
#include "ui/main/keyboard.h"
#include "ui/main/list_edits.h"
#include "ui/main/sign_in_reply.h"
#include "ui/main/transcript.h"
#include "text/errors.h"
#include "text/secret.h"
#include <commctrl.h>

namespace {

const wchar_t sessionEndedLine[] = L"Сеанс завершён сервером. Войдите снова — черновики сохранены.";
const wchar_t sessionEndedDropped[] =
    L"Сеанс завершён сервером. Войдите снова — черновики сохранены. Ожидавшие действия не выполнены: ";

// Commands that would ask the server for something. The organisation, tab
// and list controls need no entry: they are disabled while no session can
// answer.
const int sessionCommands[] = {ID_SEND,  ID_NEW_WORK, ID_CREATE_TICKET, ID_ATTACH, ID_DOWNLOAD, ID_FIND,
                               ID_OLDER, ID_NEWER,    ID_LATEST,        ID_FORWARD, ID_MORE};

// More rows inserted or removed than this, and the list is filled afresh.
const size_t mostListEdits = 128;

void fillList(HWND list, const std::vector<std::wstring>& lines) {
    size_t units = 0;
    for (const std::wstring& line : lines) units += line.size() + 1;
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    // One allocation for all rows instead of one per row, as the list box
    // documents for long fills.
    SendMessageW(list, LB_INITSTORAGE, static_cast<WPARAM>(lines.size()), static_cast<LPARAM>(units * sizeof(wchar_t)));
    for (const std::wstring& line : lines)
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

// Turns the list box's rows (shownRows, shownLines) into the new ones,
// touching only the rows that changed; the row at the top stays at the top.
// False when the list should be filled afresh instead.
bool editList(HWND list, const std::vector<ListRow>& shownRows, const std::vector<std::wstring>& shownLines,
              const std::vector<ListRow>& rows, const std::vector<std::wstring>& lines) {
    const ListEdits edits = listEdits(shownRows, shownLines, rows, lines, mostListEdits);
    if (edits.refill) return false;
    if (edits.changed == 0) return true;
    const LRESULT top = SendMessageW(list, LB_GETTOPINDEX, 0, 0);
    // Drawing is held off even for one row: each insertion or removal with
    // drawing on updates the scroll bar and repaints at once, which under
    // Wine costs milliseconds a row; one repaint at the end is cheaper.
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    size_t at = edits.first;
    for (ListStep step : edits.steps) {
        if (step == ListStep::remove) {
            SendMessageW(list, LB_DELETESTRING, static_cast<WPARAM>(at), 0);
            continue;
        }
        if (step == ListStep::insert)
            SendMessageW(list, LB_INSERTSTRING, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(lines[at].c_str()));
        ++at;
    }
    if (top >= 0)
        SendMessageW(list, LB_SETTOPINDEX,
                     indexAfterEdits(edits, static_cast<size_t>(top), shownLines.size(), lines.size()), 0);
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    return true;
}

// What every deliberate view change does to the conversation side, before
// the new view is set: what was typed for the conversation left is kept.
void leaveConversation(MainWindowState& s) {
    keepDraft(s);
    s.resumeRow.clear();
    s.generation += 1;
    SetWindowTextW(s.composerEdit, L"");
    clearConversation(s, L"");
    EnableWindow(s.composerEdit, FALSE);
}

// Moving to another view means asking the server for it.
void enableNavigation(MainWindowState& s, bool enabled) {
    enableControl(s.orgCombo, enabled);
    enableControl(s.modeTabs, enabled);
    enableControl(s.itemList, enabled);
}

// Everything a session leaves in the window, gone: the token, the place,
// the drafts (wiped) and the work that waited.
void forgetSession(MainWindowState& s) {
    wipeSecret(s.token);
    s.token.clear();
    s.orgId.clear();
    s.memberships.clear();
    SendMessageW(s.orgCombo, CB_RESETCONTENT, 0, 0);
    s.selectedId.clear();
    s.listRows.clear();
    s.listLines.clear();
    SendMessageW(s.itemList, LB_RESETCONTENT, 0, 0);
    SetWindowTextW(s.composerEdit, L"");
    forgetDrafts(s);
    s.lastRefreshed = SYSTEMTIME{};
    s.generation += 1;
    clearConversation(s, L"");
    forgetWaitingWork(s);
    s.sessionLogin.clear();
    s.sessionServer.clear();
    s.sessionEnded = false;
    s.resumeRow.clear();
    enableNavigation(s, true);
}

// After the server ended the session: signed in again as the same login at
// the same address, the operator continues; anyone else starts afresh, as
// after a sign-out. The continued conversation is read anew and comes back
// through its draft (reply mode with it), so it is left here like any view.
void takeOverEndedSession(MainWindowState& s, const NetJob& signIn) {
    if (!s.sessionEnded) return;
    if (signIn.params[Slot::login] != s.sessionLogin || signIn.serverUrl != s.sessionServer) {
        forgetSession(s);
        return;
    }
    std::wstring row = s.selectedId;
    leaveConversation(s);
    s.selectedId.clear();
    s.resumeRow = std::move(row);
    s.sessionEnded = false;
    enableNavigation(s, true);
}

// The rows shown belong to the organisation or tab left: until the new list
// is shown, none of them may be clicked and opened under the new one.
void forgetList(MainWindowState& s) {
    s.listRows.clear();
    s.listLines.clear();
    SendMessageW(s.itemList, LB_RESETCONTENT, 0, 0);
    s.appliedList.reset();
    s.appliedListMode = -1;
}

}  // namespace

NetJob signInJob(const MainWindowState& s) {
    NetJob job;
    job.kind = NetJobKind::SignIn;
    // The session belongs to this address: it becomes serverUrl only when the
    // sign-in starts, never while another job still runs.
    job.serverUrl = windowText(s.serverEdit);
    job.params[Slot::login] = windowText(s.loginEdit);
    job.params[Slot::password] = windowText(s.passwordEdit);
    return job;
}

void signOut(MainWindowState& s) {
    // A token the server refused is closed already.
    if (!s.token.empty()) startSignOutRequest(s.token, s.serverUrl);
    forgetSession(s);
    SetWindowTextW(s.signInButton, L"Войти");
    ShowWindow(s.loginEdit, SW_SHOW);
    ShowWindow(s.passwordEdit, SW_SHOW);
    SetWindowTextW(s.statusLabel, L"Сеанс закрыт локально");
    placeSignInFocus(s);
}

bool endsSession(const MainWindowState& s, const NetResult& r) {
    // A sign-in carries no token of the window's: its 401 is a wrong password.
    return !r.ok && r.refusedStatus == 401 && r.job.kind != NetJobKind::SignIn && !s.token.empty() &&
           r.job.params[Slot::token] == s.token;
}

void onSessionEnded(MainWindowState& s) {
    // Nothing is sent with a token the server refused, so nothing keeps it.
    wipeSecret(s.token);
    s.token.clear();
    s.sessionEnded = true;
    enableNavigation(s, false);
    // The strip as for a sign-in, to the session's own address, so that
    // signing in again continues it.
    if (!s.sessionServer.empty() && windowText(s.serverEdit) != s.sessionServer)
        SetWindowTextW(s.serverEdit, s.sessionServer.c_str());
    SetWindowTextW(s.passwordEdit, L"");
    ShowWindow(s.loginEdit, SW_SHOW);
    ShowWindow(s.passwordEdit, SW_SHOW);
    SetWindowTextW(s.signInButton, L"Войти");
    SetWindowTextW(s.statusLabel, sessionEndedLine);
    dropWaitingWork(s, sessionEndedDropped);
    placeSignInFocus(s);
}

bool refusedForEndedSession(MainWindowState& s) {
    if (!s.sessionEnded) return false;
    SetWindowTextW(s.statusLabel, sessionEndedLine);
    return true;
}

bool commandNeedsSession(int id) {
    if (id >= ID_ACTION_FIRST && id <= ID_ACTION_LAST) return true;
    for (int command : sessionCommands)
        if (command == id) return true;
    return false;
}

void onSignInDone(MainWindowState& s, const NetResult& r) {
    // A token is good only for the server that gave it: every later request
    // would carry it wherever serverUrl points. One that cannot be used is
    // closed there again.
    if (r.job.serverUrl != s.serverUrl || !s.token.empty()) {
        startSignOutRequest(r.value, r.job.serverUrl);
        return;
    }
    JsonValue me = parse(std::string(r.meJson));
    JsonValue lines = parse(std::string(r.linesJson));
    SignInReplies replies = readSignInReplies(me, lines);
    takeOverEndedSession(s, r.job);
    s.token = r.value;
    s.sessionLogin = r.job.params[Slot::login];
    s.sessionServer = r.job.serverUrl;
    s.userName = std::move(replies.userName);
    s.memberships.clear();
    SendMessageW(s.orgCombo, CB_RESETCONTENT, 0, 0);
    for (ListRow& row : replies.memberships) {
        SendMessageW(s.orgCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.label.c_str()));
        s.memberships.push_back(std::move(row));
    }
    s.lines = std::move(replies.lines);
    if (!s.memberships.empty()) {
        // The organisation of a continued session when it is still there
        // (orgId is empty otherwise), else the first.
        size_t at = 0;
        for (size_t i = 0; i < s.memberships.size(); ++i)
            if (s.memberships[i].id == s.orgId) at = i;
        if (s.memberships[at].id != s.orgId) s.resumeRow.clear();
        s.orgId = s.memberships[at].id;
        SendMessageW(s.orgCombo, CB_SETCURSEL, static_cast<WPARAM>(at), 0);
    }
    ShowWindow(s.loginEdit, SW_HIDE);
    SetWindowTextW(s.passwordEdit, L"");
    ShowWindow(s.passwordEdit, SW_HIDE);
    SetWindowTextW(s.signInButton, L"Выйти");
    SetWindowTextW(s.statusLabel, (L"Вошли: " + s.userName).c_str());
    refreshNow(s);
    placeSignInFocus(s);
}

void onOrgChange(MainWindowState& s) {
    LRESULT row = SendMessageW(s.orgCombo, CB_GETCURSEL, 0, 0);
    if (row < 0 || static_cast<size_t>(row) >= s.memberships.size()) return;
    leaveConversation(s);
    forgetList(s);
    s.orgId = s.memberships[static_cast<size_t>(row)].id;
    s.selectedId.clear();
    refreshNow(s);
}

void onTabChange(MainWindowState& s) {
    LRESULT tab = SendMessageW(s.modeTabs, TCM_GETCURSEL, 0, 0);
    leaveConversation(s);
    forgetList(s);
    s.mode = tab >= 0 && tab <= 2 ? static_cast<int32_t>(tab) : 0;
    s.selectedId.clear();
    refreshNow(s);
}

void showListItem(MainWindowState& s, int32_t mode, const std::wstring& id) {
    leaveConversation(s);
    if (mode != s.mode) {
        forgetList(s);
        s.mode = mode;
        SendMessageW(s.modeTabs, TCM_SETCURSEL, static_cast<WPARAM>(mode), 0);
    }
    s.selectedId = id;
    openDraft(s);
}

void onRowChange(MainWindowState& s) {
    LRESULT row = SendMessageW(s.itemList, LB_GETCURSEL, 0, 0);
    if (row < 0 || static_cast<size_t>(row) >= s.listRows.size()) return;
    showListItem(s, s.mode, s.listRows[static_cast<size_t>(row)].id);
    refreshNow(s);
}

void readListOnWorker(NetResult& r) {
    if (r.job.kind != NetJobKind::Refresh || r.listJson.empty()) return;
    // Most periodic refreshes bring the list shown: reading it would only
    // give the window ten thousand rows to free, and comparing or freeing
    // its bytes there would cost the window thread a megabyte's pass.
    if (r.job.shownList && *r.job.shownList == r.listJson) {
        std::string().swap(r.listJson);
        r.listAsShown = true;
        return;
    }
    auto reading = std::make_shared<ListReading>();
    reading->mode = r.job.mode;
    JsonValue list;
    try {
        list = parse(std::string(r.listJson));
    } catch (const TransportFailure&) {
        // A hostile list may take a long parse to refuse: once is enough.
        r.listUnreadable = true;
        return;
    }
    reading->rows = readListRows(list, reading->mode, &reading->lines);
    r.listReading = std::move(reading);
}

bool applyListPart(MainWindowState& s, NetResult& r) {
    // A reply the worker found equal to the list shown when the job was
    // given has only those bytes left.
    const std::string& reply = r.listAsShown && r.job.shownList ? *r.job.shownList : r.listJson;
    const bool sameBytes = r.listAsShown ? r.job.shownList == s.appliedList
                                         : s.appliedList && *s.appliedList == reply;
    bool sameReply = sameBytes && s.mode == s.appliedListMode &&
                     SendMessageW(s.itemList, LB_GETCOUNT, 0, 0) == static_cast<LRESULT>(s.listLines.size());
    std::vector<std::wstring> lines;
    std::vector<ListRow> shownRows;
    if (!sameReply) {
        s.appliedList.reset();
        std::vector<ListRow> rows;
        // Read on the worker for this tab: the window thread only compares.
        if (r.listReading && r.listReading->mode == s.mode) {
            rows = std::move(r.listReading->rows);
            lines = std::move(r.listReading->lines);
        } else {
            if (r.listUnreadable) throw TransportFailure("json");
            JsonValue list = parse(std::string(reply));
            rows = readListRows(list, s.mode, &lines);
        }
        shownRows = std::move(s.listRows);
        s.listRows = std::move(rows);
        // The reply becomes the one the next refresh is compared with: a
        // long list is not copied.
        if (r.listAsShown && r.job.shownList) s.appliedList = r.job.shownList;
        else s.appliedList = std::make_shared<const std::string>(std::move(r.listJson));
        s.appliedListMode = s.mode;
    }
    // Change the list box only where its lines change, so the periodic
    // refresh neither flickers nor scrolls the list under the operator.
    const LRESULT shownCount = SendMessageW(s.itemList, LB_GETCOUNT, 0, 0);
    if (!sameReply && (lines != s.listLines || shownCount != static_cast<LRESULT>(lines.size()))) {
        const bool editable = shownCount > 0 && shownCount == static_cast<LRESULT>(s.listLines.size()) &&
                              shownRows.size() == s.listLines.size();
        if (!editable || !editList(s.itemList, shownRows, s.listLines, s.listRows, lines)) fillList(s.itemList, lines);
        s.listLines = std::move(lines);
    }
    // The row shown selected is most often the open one (the edits keep it),
    // and a long list is searched only when it is not. Selecting the row the
    // list box already shows selected would scroll it back into view.
    const LRESULT shownRow = SendMessageW(s.itemList, LB_GETCURSEL, 0, 0);
    int found = -1;
    if (!s.selectedId.empty() && shownRow >= 0 && static_cast<size_t>(shownRow) < s.listRows.size() &&
        s.listRows[static_cast<size_t>(shownRow)].id == s.selectedId) {
        found = static_cast<int>(shownRow);
    } else {
        for (size_t i = 0; i < s.listRows.size(); ++i)
            if (s.listRows[i].id == s.selectedId) found = static_cast<int>(i);
    }
    if (shownRow != found) SendMessageW(s.itemList, LB_SETCURSEL, static_cast<WPARAM>(found), 0);
    // The row of a continued session opens again while it is listed.
    std::wstring resume;
    resume.swap(s.resumeRow);
    if (s.selectedId.empty() && !s.listRows.empty()) {
        s.selectedId = s.listRows[0].id;
        for (const ListRow& row : s.listRows)
            if (!resume.empty() && row.id == resume) s.selectedId = row.id;
        s.generation += 1;
        openDraft(s);
        refreshNow(s);
        return false;
    }
    if (r.historyJson.empty()) {
        // Nothing to show (an empty list, no row): finish the exchange with a
        // plain line instead of leaving "Обмен с сервером…" up for good.
        if (s.listRows.empty()) {
            SetWindowTextW(s.statusLabel, (L"Подключено · " + s.userName + L" · Список пуст").c_str());
            updateActionControls(s);
        }
        return false;
    }
    return true;
}
