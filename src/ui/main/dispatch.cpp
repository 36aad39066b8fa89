#include "ui/main/dispatch.h"
#include "app/selftest.h"
#include "app/scenarios.h"
#include "ui/dialogs/actions.h"
#include "ui/dialogs/dialogs.h"
#include "ui/main/accessibility.h"
#include "ui/main/composer.h"
#include "ui/main/drafts.h"
#include "ui/main/history.h"
#include "ui/main/session.h"
#include "ui/main/transcript.h"
#include "ui/main/work_panel.h"
#include "text/errors.h"
#include <cwchar>
#include <memory>

namespace {
const wchar_t exchanging[] = L"Обмен с сервером…";
const wchar_t unavailable[] = L"Данные недоступны. Выберите другой разговор или войдите снова.";

void systemFlashTaskbar(HWND window) {
    FLASHWINFO flash{};
    flash.cbSize = sizeof flash;
    flash.hwnd = window;
    flash.dwFlags = FLASHW_TRAY | FLASHW_TIMERNOFG;
    FlashWindowEx(&flash);
}
}

void (*flashTaskbar)(HWND window) = systemFlashTaskbar;

void showFlash(MainWindowState& s, const std::wstring& text) {
    s.flashText = text;
    s.flashTick = GetTickCount();
}

void forgetAppliedReplies(MainWindowState& s) {
    s.appliedHistory.clear();
    s.appliedList.reset();
    s.appliedListMode = -1;
}

void clearConversation(MainWindowState& s, const wchar_t* transcript) {
    resetHistoryNavigation(s);
    resetMessageActions(s);
    forgetAppliedReplies(s);
    s.roomId.clear();
    s.shownItemId.clear();
    s.files.clear();
    SendMessageW(s.fileCombo, CB_RESETCONTENT, 0, 0);
    EnableWindow(s.sendButton, FALSE);
    EnableWindow(s.attachButton, FALSE);
    EnableWindow(s.downloadButton, FALSE);
    setTranscriptText(s, transcript);
}

void clearConversationAfterFailure(MainWindowState& s) {
    // An edit in progress ends with the set-aside draft back in the composer,
    // and whatever the operator typed stays: a refusal must not eat it.
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

// Operators keep the window behind others all day: a customer's new message on
// the newest page of the open conversation flashes its taskbar button, and is
// told to a screen reader also while the window is in front.
void noticeNewMessages(MainWindowState& s, const std::vector<std::wstring>& shownIds, bool sameView) {
    if (!sameView || selfTest.active || !s.beforeCursor.empty() || !s.searchText.empty()) return;
    std::wstring notice = newMessagesNotice(shownIds, s.actions, s.userName);
    if (notice.empty()) return;
    announce(s.transcriptView, notice);
    if (GetForegroundWindow() != s.window) flashTaskbar(s.window);
}

// Refresh: list, history, panel, status line, controls, then the self-test step.
void applyRefresh(MainWindowState& s, NetResult& r) {
    // The self-test steps read the parsed page, so they always get one; an
    // unchanged page otherwise costs no copy of its (long) transcript.
    const bool samePage = r.historyJson == s.appliedHistory && !selfTest.active;
    // Every reply is read before anything shown changes: one that cannot be
    // read leaves the whole window as it was, the list too.
    JsonValue history;
    if (!samePage && !r.historyJson.empty()) history = parse(std::string(r.historyJson));
    JsonValue workItem;
    if (!r.historyJson.empty() && (s.mode == 1 || s.mode == 2)) workItem = parse(std::string(r.workItemJson));
    if (!applyListPart(s, r)) {
        GetLocalTime(&s.lastRefreshed);
        return;
    }
    if (samePage) {
        reapplyHistoryPage(s);
    } else {
        bool sameView = showsSamePage(s);
        std::vector<std::wstring> shownIds;
        for (const MessageActions& m : s.actions) shownIds.push_back(m.id);
        s.appliedHistory.clear();
        applyHistoryPage(s, history);
        // parse leaves the text as it was, so it serves as the mark of the
        // page applied without another copy of a long reply; only the
        // self-test's steps still read the page.
        if (selfTest.active) s.appliedHistory = r.historyJson;
        else s.appliedHistory = std::move(history.text);
        noticeNewMessages(s, shownIds, sameView);
        applyDraftReply(s);
    }
    applyWorkItemPart(s, r, workItem);
    GetLocalTime(&s.lastRefreshed);
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

void applySuccess(MainWindowState& s, NetResult& r) {
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

// Nothing runs any more: "Обмен с сервером…" must not stay up.
void settleStatus(MainWindowState& s) {
    if (s.busy || windowText(s.statusLabel) != exchanging) return;
    std::wstring line = s.token.empty() ? std::wstring() : connectedLine(s.userName, s.cursorStack.size(), s.searchText);
    SetWindowTextW(s.statusLabel, line.c_str());
}

// A refresh that could not reach the server or read its reply leaves the
// page as it is (a dropped Wi-Fi or a VPN reconnecting must not cost the
// operator their page, reply or search); the status line says how old it is.
void keepPageAfterBlip(MainWindowState& s, const std::wstring& failure) {
    std::wstring line = failure;
    if (s.lastRefreshed.wYear != 0) {
        const SYSTEMTIME& at = s.lastRefreshed;
        SYSTEMTIME now;
        GetLocalTime(&now);
        bool today = at.wYear == now.wYear && at.wMonth == now.wMonth && at.wDay == now.wDay;
        line += L" · показаны данные на " + dataTimeText(at.wDay, at.wMonth, at.wHour, at.wMinute, today);
    }
    restoreIdleControls(s);
    SetWindowTextW(s.statusLabel, line.c_str());
}

// The server refused the session's token, whatever the job was: the page
// stays as after a blip and the session ends. Returns false when the
// self-test ended (a failure like any other).
bool handleSessionEnd(MainWindowState& s) {
    restoreIdleControls(s);
    onSessionEnded(s);
    if (!selfTest.active) return true;
    finishSelfTest(s.window, false);
    return false;
}

// Answers that say the server is passing through a bad moment rather than
// refusing: a gateway or a restarting server (5xx), a time-out (408) or a
// rate limit (429). The data shown still stands.
bool momentaryStatus(int status) { return (status >= 500 && status <= 599) || status == 408 || status == 429; }

// The job that met the proxy's question, given again now that the operator
// gave a pair. False when it no longer fits (another view, or busy).
bool giveJobAgain(MainWindowState& s, const NetResult& r) {
    if (s.busy) return false;
    // The sign-in's password was wiped from the job: it is built again from
    // the sign-in strip, which still holds it.
    if (r.job.kind == NetJobKind::SignIn) return startNetJob(s, signInJob(s));
    if (r.job.generation != s.generation) return false;
    return startNetJob(s, r.job);
}

// Returns false when the window or the self-test ended.
bool handleFailure(MainWindowState& s, std::unique_ptr<NetResult> r) {
    // A proxy wants a login: the operator is asked (never in a self-test),
    // and the job goes again with the pair; «Отмена» shows the failure, and
    // until another job meets the proxy the periodic refresh asks no more.
    if (r->proxySignIn && !selfTest.active && !(s.proxySignInDeclined && r->job.kind == NetJobKind::Refresh)) {
        HWND window = s.window;
        const bool given = askProxySignIn(s, r->proxyHost);
        if (!IsWindow(window) || stateOf(window) != &s) return false;
        s.proxySignInDeclined = !given;
        if (given && giveJobAgain(s, *r)) return true;
    }
    updateActionControls(s);
    SetWindowTextW(s.statusLabel, r->errorText.c_str());
    if (selfTest.active) {
        r.reset();
        finishSelfTest(s.window, false);
        return false;
    }
    // What the operator gave after a command that failed may rest on it (a
    // message saying a case is done): it waits no more, and nothing typed is lost.
    if (r->job.kind != NetJobKind::Refresh) {
        dropWaitingWork(s, r->errorText + L" · не выполнено после неё: ");
        return true;
    }
    if (r->transportFailure || momentaryStatus(r->refusedStatus)) {
        keepPageAfterBlip(s, r->errorText);
        return true;
    }
    // Refused by the server: the data is not this operator's to see, and what
    // waited for it would act on a page no longer shown.
    clearConversationAfterFailure(s);
    dropWaitingWork(s, r->errorText + L" · не выполнено: ");
    return true;
}

// A job given in a view the operator has left failed: what it was and where,
// kept up through the refreshes of the next seconds; a message's text goes
// back to its conversation.
void reportFailureElsewhere(MainWindowState& s, const NetResult& r, const std::wstring& title) {
    std::wstring line;
    if (r.job.kind == NetJobKind::SendMessage) line = L"Сообщение в «" + title + L"» не отправлено: ";
    else if (r.job.kind == NetJobKind::EditMessage) line = L"Изменение сообщения в «" + title + L"» не сохранено: ";
    else line = L"Не выполнено в «" + title + L"» (" + workName(r.job) + L"): ";
    line += r.errorText;
    returnUnsentText(s, r.job);
    showFlash(s, line);
    setStatusLine(s, line);
}

// Returns false when the window or the self-test ended.
bool handleSuccess(MainWindowState& s, std::unique_ptr<NetResult> r) {
    HWND window = s.window;
    try {
        applySuccess(s, *r);
    } catch (...) {
        // A reply that cannot be read, or a failed self-test check.
        if (IsWindow(window)) {
            if (r->job.kind == NetJobKind::Refresh && !selfTest.active) keepPageAfterBlip(s, unreadableText);
            else SetWindowTextW(s.statusLabel, unreadableText);
        }
        if (selfTest.active) {
            r.reset();
            if (IsWindow(window)) finishSelfTest(window, false);
            return false;
        }
    }
    r.reset();
    // A self-test step or a nested loop may have ended the window meanwhile.
    return IsWindow(window) && stateOf(window) == &s;
}

}  // namespace

void onNetResult(MainWindowState& s, NetResult* raw) {
    std::unique_ptr<NetResult> r(raw);
    HWND window = s.window;
    s.busy = false;
    s.runningKind = 0;
    s.runningCommand = 0;
    s.runningJob.reset();
    std::wstring givenIn;
    givenIn.swap(s.runningTitle);
    bool failed = false;
    // A sign-in is no view: its token is taken whatever was clicked meanwhile,
    // or the server's session would be neither used nor closed.
    if (endsSession(s, *r)) {
        // Before the staleness test: a stale result would be followed by a
        // refresh with the very token refused.
        failed = true;
        r.reset();
        if (!handleSessionEnd(s)) return;
    } else if (r->job.generation != s.generation && r->job.kind != NetJobKind::SignIn) {
        // Sent after all: its text ends in its conversation. A failure is
        // told; a success after moving on stays silent.
        if (r->ok && r->job.kind == NetJobKind::SendMessage) endSentDraft(s, r->job);
        if (!r->ok && r->job.kind != NetJobKind::Refresh) reportFailureElsewhere(s, *r, givenIn);
        r.reset();
        // The refresh that waited is this one.
        refreshNow(s);
    } else if (!r->ok) {
        failed = true;
        if (!handleFailure(s, std::move(r))) return;
    } else {
        if (!handleSuccess(s, std::move(r))) return;
    }
    runWaitingWork(s, failed);
    if (IsWindow(window) && stateOf(window) == &s) settleStatus(s);
}
