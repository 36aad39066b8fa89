#include "ui/main/state.h"
#include "ui/main/work_panel.h"
#include "ui/dialogs/actions.h"
#include "ui/dialogs/dialogs.h"
#include "ui/main/dispatch.h"
#include "ui/main/history.h"
#include "ui/main/panel.h"
#include "ui/main/session.h"
#include <commctrl.h>
#include <shellapi.h>

namespace {

void applyWorkItem(MainWindowState& s, const JsonValue& w) {
    WorkItemReply item = readWorkItem(w);
    s.roomId = std::move(item.roomId);
    s.workVersion = item.version;
    s.canDispatch = item.canDispatch;
    s.isAssigned = item.isAssigned;
    s.caseHasTicket = item.hasTicket;
    EnableWindow(s.createTicketButton, createTicketEnabled(s));
    SetWindowTextW(s.headerLabel, item.header.c_str());

    std::wstring remembered;
    LRESULT row = SendMessageW(s.staffCombo, CB_GETCURSEL, 0, 0);
    if (row >= 0 && static_cast<size_t>(row) < s.staff.size()) remembered = s.staff[static_cast<size_t>(row)].id;
    std::vector<ListRow> staff = std::move(item.staff);
    int selection = 0;
    for (size_t i = 0; i < staff.size(); ++i)
        if (!remembered.empty() && staff[i].id == remembered) selection = static_cast<int>(i);
    bool same = staff.size() == s.staff.size() &&
                SendMessageW(s.staffCombo, CB_GETCOUNT, 0, 0) == static_cast<LRESULT>(staff.size());
    for (size_t i = 0; same && i < staff.size(); ++i) same = staff[i].id == s.staff[i].id && staff[i].label == s.staff[i].label;
    if (!same) {
        SendMessageW(s.staffCombo, CB_RESETCONTENT, 0, 0);
        for (const ListRow& r : staff) SendMessageW(s.staffCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(r.label.c_str()));
        s.staff = std::move(staff);
    }
    SendMessageW(s.staffCombo, CB_SETCURSEL, s.staff.empty() ? static_cast<WPARAM>(-1) : static_cast<WPARAM>(selection), 0);
}

void applyRoomHeader(MainWindowState& s) {
    s.roomId = s.selectedId;
    s.canDispatch = s.isAssigned = s.caseHasTicket = false;
    enableControl(s.createTicketButton, false);
    std::wstring header = L"Переписка";
    for (const ListRow& row : s.listRows)
        if (row.id == s.selectedId) {
            header = row.label;
            break;
        }
    if (windowText(s.headerLabel) != header) SetWindowTextW(s.headerLabel, header.c_str());
}
}  // namespace

void applyWorkItemPart(MainWindowState& s, const NetResult& r, const JsonValue& workItem) {
    s.shownItemId = r.job.params[Slot::itemId];
    if (s.mode == 1 || s.mode == 2) {
        applyWorkItem(s, workItem);
    } else {
        applyRoomHeader(s);
    }
    PanelEnabling e = panelEnabling(s.mode, s.canDispatch, s.isAssigned);
    for (int i = 0; i < 6; ++i) enableControl(s.actionButtons[i], e.actions[i]);
    enableControl(s.staffCombo, e.staffCombo);
}

bool createTicketEnabled(const MainWindowState& s) { return s.canDispatch && s.mode == 1 && !s.caseHasTicket; }

NetJob workActionJob(const MainWindowState& s, int index) {
    NetJob job;
    job.kind = NetJobKind::WorkAction;
    job.params[Slot::actionOrEmoji] = workActionName(index);
    job.version = s.workVersion;
    job.params[Slot::text] = windowText(s.reasonEdit);
    LRESULT row = SendMessageW(s.staffCombo, CB_GETCURSEL, 0, 0);
    if (row >= 0 && static_cast<size_t>(row) < s.staff.size()) job.params[Slot::assigneeOrFileId] = s.staff[static_cast<size_t>(row)].id;
    return job;
}

bool isWebAddress(const std::wstring& url) {
    auto startsWith = [&](const wchar_t* prefix) {
        size_t n = wcslen(prefix);
        if (url.size() < n) return false;
        for (size_t i = 0; i < n; ++i)
            if (towlower(url[i]) != prefix[i]) return false;
        return true;
    };
    return startsWith(L"http://") || startsWith(L"https://");
}

void openWebInterface(MainWindowState& s) {
    // Whatever is typed into the server field must never be run as a program
    // or opened as a local file: only web addresses go to the shell.
    if (!isWebAddress(s.serverUrl)) return;
    std::wstring target = s.serverUrl + L"/";
    ShellExecuteW(s.window, L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void onNewWorkCommand(MainWindowState& s) { openNewWorkDialog(s, false); }

void onCreateTicketCommand(MainWindowState& s) { openNewWorkDialog(s, true); }

void onCreateWorkItemDone(MainWindowState& s, const NetResult& r) {
    if (r.value.empty()) return;
    // A view change like a click on its row: what was given for the item
    // shown before must not reach the new one, whose page opens afresh.
    showListItem(s, r.job.fromCase ? 2 : s.mode, r.value);
}
