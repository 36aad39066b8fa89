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
#include <memory>

namespace {
const wchar_t exchanging[] = L"Обмен с сервером…";
const wchar_t unreadable[] = L"Не удалось прочитать ответ сервера";
const wchar_t unavailable[] = L"Данные недоступны. Выберите другой разговор или войдите снова.";
const wchar_t noWorker[] = L"Не удалось связаться с сервером или открыть файл";

void disableHistoryButtons(MainWindowState& s) {
    EnableWindow(s.findButton, FALSE);
    EnableWindow(s.olderButton, FALSE);
    EnableWindow(s.newerButton, FALSE);
    EnableWindow(s.latestButton, FALSE);
}
}

bool (*netJobLauncher)(NetJob* job) = launchNetJobThread;

bool startNetJob(MainWindowState& s, NetJob job) {
    if (s.busy) {
        s.refreshPending = true;
        return false;
    }
    s.busy = true;
    job.generation = s.generation;
    job.serverUrl = s.serverUrl;
    job.params[Slot::token] = s.token;
    job.params[Slot::orgId] = s.orgId;
    job.params[Slot::itemId] = s.selectedId;
    job.params[Slot::roomId] = s.roomId;
    job.mode = s.mode;
    job.params[Slot::searchQuery] = s.searchText;
    job.params[Slot::beforeCursor] = s.beforeCursor;
    disableHistoryButtons(s);
    updateActionControls(s);
    SetWindowTextW(s.statusLabel, exchanging);
    if (netJobLauncher(new NetJob(std::move(job)))) return true;
    // No worker could be started: nothing will ever post a result, so undo the
    // start rather than leave the window busy for good.
    s.busy = false;
    updateActionControls(s);
    SetWindowTextW(s.statusLabel, noWorker);
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

void clearConversationAfterFailure(MainWindowState& s) {
    resetHistoryNavigation(s);
    // An edit in progress ends with the set-aside draft back in the composer,
    // and whatever the operator typed stays: a network blip must not eat it.
    if (!s.editId.empty()) leaveComposerMode(s, true);
    resetMessageActions(s);
    setTranscriptText(s, unavailable);
    s.roomId.clear();
    s.files.clear();
    SendMessageW(s.fileCombo, CB_RESETCONTENT, 0, 0);
    EnableWindow(s.sendButton, FALSE);
    EnableWindow(s.attachButton, FALSE);
    EnableWindow(s.downloadButton, FALSE);
}

namespace {

// Refresh: list, history, panel, status line, controls, then the self-test step.
void applyRefresh(MainWindowState& s, const NetResult& r) {
    if (!applyListPart(s, r)) return;
    JsonValue history;
    std::wstring page;
    // The self-test steps read the parsed page, so they always get one; an
    // unchanged page otherwise costs no copy of its (long) transcript.
    if (r.historyJson == s.appliedHistory && !selfTest.active) {
        reapplyHistoryPage(s);
    } else {
        s.appliedHistory.clear();
        history = parse(std::string(r.historyJson));
        page = applyHistoryPage(s, history);
        s.appliedHistory = r.historyJson;
    }
    applyWorkItemPart(s, r);
    std::wstring status = connectedLine(s.userName, s.cursorStack.size(), s.searchText);
    if (!s.flashText.empty() && GetTickCount() - s.flashTick < 5000) status = s.flashText;
    SetWindowTextW(s.statusLabel, status.c_str());
    updateActionControls(s);
    if (selfTest.active) runScenarioStep(s, history, page);
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
    case NetJobKind::LoadForwardTargets:
        openForwardDialog(s, r.job.params[Slot::messageId], r.listJson);
        break;
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

// A job chosen in a dialog while another ran starts as soon as the window is
// idle again, unless the view changed in between (it would act elsewhere).
void startDeferredJob(MainWindowState& s) {
    if (!s.deferredJob || s.busy || !IsWindow(s.window)) return;
    std::unique_ptr<NetJob> job(s.deferredJob.release());
    if (s.deferredGeneration != s.generation) {
        SetWindowTextW(s.statusLabel, L"Действие не выполнено: выбран другой разговор");
        return;
    }
    startNetJob(s, std::move(*job));
}

}  // namespace

void onNetResult(MainWindowState& s, NetResult* raw) {
    std::unique_ptr<NetResult> r(raw);
    s.busy = false;
    if (r->job.generation != s.generation) {
        r.reset();
        s.refreshPending = false;
        refreshNow(s);
        startDeferredJob(s);
        return;
    }
    if (!r->ok) {
        updateActionControls(s);
        std::wstring error = r->errorText;
        SetWindowTextW(s.statusLabel, error.c_str());
        if (selfTest.active) {
            r.reset();
            finishSelfTest(s.window, false);
            return;
        }
        if (r->job.kind == NetJobKind::Refresh) clearConversationAfterFailure(s);
        r.reset();
        startDeferredJob(s);
        return;
    }
    HWND window = s.window;
    try {
        applySuccess(s, *r);
    } catch (...) {
        // A reply that cannot be read, or a failed self-test check.
        if (IsWindow(window)) SetWindowTextW(s.statusLabel, unreadable);
        if (selfTest.active) {
            r.reset();
            if (IsWindow(window)) finishSelfTest(window, false);
            return;
        }
    }
    r.reset();
    // A self-test step or a nested loop may have ended the window meanwhile.
    if (!IsWindow(window) || stateOf(window) != &s) return;
    afterSuccess(s);
    startDeferredJob(s);
}
