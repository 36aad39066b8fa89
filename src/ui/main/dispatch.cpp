#include "ui/main/dispatch.h"
#include "app/selftest.h"
#include "app/scenarios.h"
#include "ui/dialogs/actions.h"
#include "ui/dialogs/dialogs.h"
#include "ui/main/composer.h"
#include "ui/main/history.h"
#include "ui/main/session.h"
#include "ui/main/transcript.h"
#include "ui/main/work_panel.h"
#include "text/errors.h"
#include <memory>

namespace {
const wchar_t exchanging[] = L"Обмен с сервером…";
const wchar_t unavailable[] = L"Данные недоступны. Выберите другой разговор или войдите снова.";
const wchar_t notDone[] = L"Действие не выполнено: выбран другой разговор";

void systemFlashTaskbar(HWND window) {
    FLASHWINFO flash{};
    flash.cbSize = sizeof flash;
    flash.hwnd = window;
    flash.dwFlags = FLASHW_TRAY | FLASHW_TIMERNOFG;
    FlashWindowEx(&flash);
}
}

void (*flashTaskbar)(HWND window) = systemFlashTaskbar;

bool (*netJobLauncher)(NetJob* job) = launchNetJobThread;

bool startNetJob(MainWindowState& s, NetJob job) {
    if (s.busy) {
        s.refreshPending = true;
        return false;
    }
    s.busy = true;
    s.runningKind = job.kind;
    job.generation = s.generation;
    job.serverUrl = s.serverUrl;
    job.params[Slot::token] = s.token;
    job.params[Slot::orgId] = s.orgId;
    job.params[Slot::itemId] = s.selectedId;
    job.params[Slot::roomId] = s.roomId;
    job.mode = s.mode;
    job.params[Slot::searchQuery] = s.searchText;
    job.params[Slot::beforeCursor] = s.beforeCursor;
    disablePagingButtons(s);
    updateActionControls(s);
    SetWindowTextW(s.statusLabel, exchanging);
    if (netJobLauncher(new NetJob(std::move(job)))) return true;
    // No worker could be started: nothing will ever post a result, so undo the
    // start rather than leave the window busy for good.
    s.busy = false;
    s.runningKind = 0;
    updateActionControls(s);
    SetWindowTextW(s.statusLabel, unreachableText);
    return false;
}

bool startUserJob(MainWindowState& s, NetJob job) {
    if (!s.busy) return startNetJob(s, std::move(job));
    // Chosen in a dialog while a refresh ran: keep it and start it once the
    // running job's result has been handled, instead of losing it.
    s.deferredJob.reset(new NetJob(std::move(job)));
    s.deferredGeneration = s.generation;
    return false;
}

void refreshNow(MainWindowState& s) {
    if (s.orgId.empty()) return;
    NetJob job;
    job.kind = NetJobKind::Refresh;
    startNetJob(s, std::move(job));
}

void showFlash(MainWindowState& s, const std::wstring& text) {
    s.flashText = text;
    s.flashTick = GetTickCount();
}

void onRefreshTimer(MainWindowState& s) {
    if (!s.token.empty() && !s.busy && !s.modalOpen) refreshNow(s);
}

bool deferCommand(MainWindowState& s, int id) {
    if (!s.busy || s.runningKind != NetJobKind::Refresh) return false;
    s.deferredCommand = id;
    s.deferredCommandGeneration = s.generation;
    return true;
}

void forgetAppliedReplies(MainWindowState& s) {
    s.appliedHistory.clear();
    s.appliedList.clear();
    s.appliedListMode = -1;
}

void clearConversation(MainWindowState& s, const wchar_t* transcript) {
    resetHistoryNavigation(s);
    resetMessageActions(s);
    forgetAppliedReplies(s);
    s.roomId.clear();
    s.files.clear();
    SendMessageW(s.fileCombo, CB_RESETCONTENT, 0, 0);
    EnableWindow(s.sendButton, FALSE);
    EnableWindow(s.attachButton, FALSE);
    EnableWindow(s.downloadButton, FALSE);
    setTranscriptText(s, transcript);
}

void clearConversationAfterFailure(MainWindowState& s) {
    // An edit in progress ends with the set-aside draft back in the composer,
    // and whatever the operator typed stays: a network blip must not eat it.
    if (!s.editId.empty()) leaveComposerMode(s, true);
    clearConversation(s, unavailable);
}


namespace {

// After a job that changed nothing shown (a dialog closed without acting): the
// paging, page and message controls as the shown page has them.
void restoreIdleControls(MainWindowState& s) {
    if (!s.roomId.empty()) reapplyHistoryPage(s);
    updateActionControls(s);
}

// Whether a page holds a message, not by `userName`, whose id is not shown yet.
bool bringsNewMessage(const std::vector<std::wstring>& shownIds, const std::vector<MessageActions>& page,
                      const std::wstring& userName) {
    for (const MessageActions& m : page) {
        if (m.senderName == userName) continue;
        bool known = false;
        for (const std::wstring& id : shownIds)
            if (id == m.id) {
                known = true;
                break;
            }
        if (!known) return true;
    }
    return false;
}

// Operators keep the window behind others all day: a customer's new message on
// the newest page of the open conversation flashes its taskbar button.
void noticeNewMessages(MainWindowState& s, const std::vector<std::wstring>& shownIds, bool sameView) {
    if (!sameView || selfTest.active || !s.beforeCursor.empty() || !s.searchText.empty()) return;
    if (GetForegroundWindow() == s.window) return;
    if (bringsNewMessage(shownIds, s.actions, s.userName)) flashTaskbar(s.window);
}

// Refresh: list, history, panel, status line, controls, then the self-test step.
void applyRefresh(MainWindowState& s, const NetResult& r) {
    if (!applyListPart(s, r)) return;
    JsonValue history;
    // The self-test steps read the parsed page, so they always get one; an
    // unchanged page otherwise costs no copy of its (long) transcript.
    if (r.historyJson == s.appliedHistory && !selfTest.active) {
        reapplyHistoryPage(s);
    } else {
        bool sameView = showsSamePage(s);
        std::vector<std::wstring> shownIds;
        for (const MessageActions& m : s.actions) shownIds.push_back(m.id);
        s.appliedHistory.clear();
        history = parse(std::string(r.historyJson));
        applyHistoryPage(s, history);
        // parse leaves the text as it was, so it serves as the mark of the
        // page applied without another copy of a long reply; only the
        // self-test's steps still read the page.
        if (selfTest.active) s.appliedHistory = r.historyJson;
        else s.appliedHistory = std::move(history.text);
        noticeNewMessages(s, shownIds, sameView);
    }
    applyWorkItemPart(s, r);
    std::wstring status = connectedLine(s.userName, s.cursorStack.size(), s.searchText);
    if (!s.flashText.empty() && GetTickCount() - s.flashTick < 5000) status = s.flashText;
    SetWindowTextW(s.statusLabel, status.c_str());
    updateActionControls(s);
    if (selfTest.active) {
        const std::wstring page = s.shownTranscript;
        runScenarioStep(s, history, page);
    }
}

void applyAction(MainWindowState& s, const NetResult& r) {
    const NetJob& job = r.job;
    switch (job.kind) {
    case NetJobKind::DeleteMessage:
        if (job.params[Slot::messageId] == s.replyToId || job.params[Slot::messageId] == s.editId)
            leaveComposerMode(s, true);
        showFlash(s, L"Сообщение удалено");
        break;
    case NetJobKind::ReactToMessage: showFlash(s, L"Реакция обновлена"); break;
    case NetJobKind::PinMessage: showFlash(s, L"Закрепление обновлено"); break;
    case NetJobKind::EditMessage: leaveComposerMode(s, true); break;
    case NetJobKind::ForwardMessage:
        selfTest.forwardCompleted = true;
        showFlash(s, L"Сообщение переслано: " + job.params[Slot::subject]);
        break;
    case NetJobKind::SendMessage: onSendMessageDone(s, r); break;
    case NetJobKind::CreateWorkItem: onCreateWorkItemDone(s, r); break;
    default: break;
    }
    SetWindowTextW(s.statusLabel, L"Готово");
    refreshNow(s);
}

void applySuccess(MainWindowState& s, const NetResult& r) {
    switch (r.job.kind) {
    case NetJobKind::SignIn: onSignInDone(s, r); break;
    case NetJobKind::Refresh: applyRefresh(s, r); break;
    case NetJobKind::LoadForwardTargets: {
        HWND window = s.window;
        openForwardDialog(s, r.job.params[Slot::messageId], r.listJson);
        // Closed without forwarding: nothing else will give the controls back.
        if (IsWindow(window) && stateOf(window) == &s && !s.busy) restoreIdleControls(s);
        break;
    }
    default:
        if (r.job.kind >= NetJobKind::SendMessage && r.job.kind <= NetJobKind::DeleteMessage) applyAction(s, r);
        break;
    }
}

void afterSuccess(MainWindowState& s) {
    if (s.refreshPending && !s.busy) {
        s.refreshPending = false;
        refreshNow(s);
    }
}

// Work held back while a job ran starts as soon as the window is idle again:
// first a job chosen in a dialog, then a command given during a refresh;
// either is dropped when the view changed in between (it would act elsewhere).
void startDeferredWork(MainWindowState& s) {
    HWND window = s.window;
    if (s.deferredJob && !s.busy) {
        std::unique_ptr<NetJob> job(s.deferredJob.release());
        if (s.deferredGeneration != s.generation) SetWindowTextW(s.statusLabel, notDone);
        else startNetJob(s, std::move(*job));
    }
    if (s.deferredCommand && !s.busy) {
        int id = s.deferredCommand;
        s.deferredCommand = 0;
        if (s.deferredCommandGeneration != s.generation) SetWindowTextW(s.statusLabel, notDone);
        else SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    }
}

// A failed refresh empties the conversation: what waited for it would go out
// without a room.
void dropDeferredWork(MainWindowState& s) {
    if (!s.deferredJob && !s.deferredCommand) return;
    s.deferredJob.reset();
    s.deferredCommand = 0;
    SetWindowTextW(s.statusLabel, notDone);
}

// Nothing runs any more: "Обмен с сервером…" must not stay up.
void settleStatus(MainWindowState& s) {
    if (s.busy || windowText(s.statusLabel) != exchanging) return;
    std::wstring line = s.token.empty() ? std::wstring() : connectedLine(s.userName, s.cursorStack.size(), s.searchText);
    SetWindowTextW(s.statusLabel, line.c_str());
}

// Returns false when the window or the self-test ended.
bool handleFailure(MainWindowState& s, std::unique_ptr<NetResult> r) {
    updateActionControls(s);
    SetWindowTextW(s.statusLabel, r->errorText.c_str());
    if (selfTest.active) {
        r.reset();
        finishSelfTest(s.window, false);
        return false;
    }
    if (r->job.kind == NetJobKind::Refresh) {
        clearConversationAfterFailure(s);
        dropDeferredWork(s);
    }
    return true;
}

// Returns false when the window or the self-test ended.
bool handleSuccess(MainWindowState& s, std::unique_ptr<NetResult> r) {
    HWND window = s.window;
    try {
        applySuccess(s, *r);
    } catch (...) {
        // A reply that cannot be read, or a failed self-test check.
        if (IsWindow(window)) SetWindowTextW(s.statusLabel, unreadableText);
        if (selfTest.active) {
            r.reset();
            if (IsWindow(window)) finishSelfTest(window, false);
            return false;
        }
    }
    r.reset();
    // A self-test step or a nested loop may have ended the window meanwhile.
    if (!IsWindow(window) || stateOf(window) != &s) return false;
    afterSuccess(s);
    return true;
}

}  // namespace

void onNetResult(MainWindowState& s, NetResult* raw) {
    std::unique_ptr<NetResult> r(raw);
    HWND window = s.window;
    s.busy = false;
    s.runningKind = 0;
    // A sign-in is no view: its token is taken whatever was clicked meanwhile,
    // or the server's session would be neither used nor closed.
    if (r->job.generation != s.generation && r->job.kind != NetJobKind::SignIn) {
        r.reset();
        s.refreshPending = false;
        refreshNow(s);
    } else if (!r->ok) {
        if (!handleFailure(s, std::move(r))) return;
    } else {
        if (!handleSuccess(s, std::move(r))) return;
    }
    startDeferredWork(s);
    if (IsWindow(window) && stateOf(window) == &s) settleStatus(s);
}
