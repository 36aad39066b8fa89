#include "ui/main/work.h"
#include "ui/dialogs/actions.h"
#include "ui/main/commands.h"
#include "ui/main/history.h"
#include "ui/main/session.h"
#include "text/errors.h"

bool (*netJobLauncher)(NetJob* job) = launchNetJobThread;

const wchar_t notDoneOtherView[] = L"Действие не выполнено: выбран другой разговор";
const wchar_t notDoneUnavailable[] = L"Действие не выполнено: действие больше недоступно";

namespace {
const wchar_t exchanging[] = L"Обмен с сервером…";
const wchar_t queueFull[] = L"Действие не выполнено: слишком много действий ждут очереди";

// A handful of clicks during a slow exchange is normal; more than this is
// no plan anyone can follow any more.
const size_t longestQueue = 16;

// The view the job acts on, as shown now. A sign-in names its own server:
// the address field's text when it was given.
void fillConnection(const MainWindowState& s, NetJob& job) {
    job.generation = s.generation;
    if (job.kind != NetJobKind::SignIn) job.serverUrl = s.serverUrl;
    job.params[Slot::token] = s.token;
    job.params[Slot::orgId] = s.orgId;
    job.params[Slot::itemId] = s.selectedId;
    job.params[Slot::roomId] = s.roomId;
    job.mode = s.mode;
    job.params[Slot::searchQuery] = s.searchText;
    job.params[Slot::beforeCursor] = s.beforeCursor;
}

void forgetWaitingRefresh(MainWindowState& s) {
    for (size_t i = 0; i < s.pending.size();) {
        if (s.pending[i].kind == PendingKind::Refresh) s.pending.erase(s.pending.begin() + static_cast<ptrdiff_t>(i));
        else ++i;
    }
}

// The job carries its connection fields already.
bool launch(MainWindowState& s, int command, NetJob job) {
    s.busy = true;
    s.runningKind = job.kind;
    s.runningCommand = command;
    // A refresh that starts is the one that waited.
    if (job.kind == NetJobKind::Refresh) forgetWaitingRefresh(s);
    // The address a session belongs to is the one its sign-in went to.
    if (job.kind == NetJobKind::SignIn) s.serverUrl = job.serverUrl;
    disablePagingButtons(s);
    updateActionControls(s);
    SetWindowTextW(s.statusLabel, exchanging);
    if (netJobLauncher(new NetJob(std::move(job)))) return true;
    // No worker could be started: nothing will ever post a result, so undo the
    // start rather than leave the window busy for good.
    s.busy = false;
    s.runningKind = 0;
    s.runningCommand = 0;
    updateActionControls(s);
    SetWindowTextW(s.statusLabel, unreachableText);
    return false;
}

bool queue(MainWindowState& s, PendingWork work) {
    if (s.pending.size() >= longestQueue) {
        SetWindowTextW(s.statusLabel, queueFull);
        return false;
    }
    work.generation = s.generation;
    s.pending.push_back(std::move(work));
    return true;
}

bool belongsToView(const PendingWork& w) { return !(w.job && w.job->kind == NetJobKind::SignIn); }

// One entry's turn; the window is idle.
void runEntry(MainWindowState& s, PendingWork& w) {
    if (belongsToView(w) && w.generation != s.generation) {
        SetWindowTextW(s.statusLabel, notDoneOtherView);
        return;
    }
    if (w.kind == PendingKind::Job) {
        // Signed in meanwhile by another way (standard input): one session.
        if (w.job->kind == NetJobKind::SignIn && !s.token.empty()) return;
        launch(s, w.command, std::move(*w.job));
        return;
    }
    if (const wchar_t* why = replayCommand(s, w.command, w.target)) SetWindowTextW(s.statusLabel, why);
}
}  // namespace

bool startNetJob(MainWindowState& s, NetJob job) {
    if (s.busy) {
        // Only a refresh gets here while busy in practice (every command
        // waits in its own right); whatever it was, the window catches up.
        if (!refreshPending(s)) {
            PendingWork w;
            w.kind = PendingKind::Refresh;
            queue(s, std::move(w));
        }
        return false;
    }
    fillConnection(s, job);
    return launch(s, 0, std::move(job));
}

bool startUserJob(MainWindowState& s, int command, NetJob job, int32_t given) {
    if (job.kind != NetJobKind::SignIn && refusedForEndedSession(s)) return false;
    if (given != s.generation) {
        SetWindowTextW(s.statusLabel, notDoneOtherView);
        return false;
    }
    fillConnection(s, job);
    if (!s.busy) return launch(s, command, std::move(job));
    if (commandWaits(s, command)) return false;
    PendingWork w;
    w.kind = PendingKind::Job;
    w.command = command;
    w.job.reset(new NetJob(std::move(job)));
    queue(s, std::move(w));
    updateActionControls(s);
    return false;
}

void refreshNow(MainWindowState& s) {
    if (s.orgId.empty() || s.sessionEnded) return;
    NetJob job;
    job.kind = NetJobKind::Refresh;
    startNetJob(s, std::move(job));
}

void onRefreshTimer(MainWindowState& s) {
    if (!s.token.empty() && !s.busy && !s.modalOpen) refreshNow(s);
}

bool refreshPending(const MainWindowState& s) {
    for (const PendingWork& w : s.pending)
        if (w.kind == PendingKind::Refresh) return true;
    return false;
}

bool commandWaits(const MainWindowState& s, int command) {
    if (command == 0) return false;
    if (s.busy && s.runningCommand == command) return true;
    for (const PendingWork& w : s.pending)
        if (w.command == command) return true;
    return false;
}

bool editSaveInFlight(const MainWindowState& s) {
    if (s.editId.empty()) return false;
    if (s.busy && s.runningKind == NetJobKind::EditMessage) return true;
    for (const PendingWork& w : s.pending)
        if (w.job && w.job->kind == NetJobKind::EditMessage) return true;
    return false;
}

bool queueCommand(MainWindowState& s, int command, std::wstring target) {
    if (commandWaits(s, command)) return true;
    PendingWork w;
    w.kind = PendingKind::Command;
    w.command = command;
    w.target = std::move(target);
    return queue(s, std::move(w));
}

void dropWaitingWork(MainWindowState& s, const wchar_t* why) {
    bool dropped = false;
    for (size_t i = 0; i < s.pending.size();) {
        if (s.pending[i].kind == PendingKind::Refresh) {
            ++i;
            continue;
        }
        s.pending.erase(s.pending.begin() + static_cast<ptrdiff_t>(i));
        dropped = true;
    }
    if (dropped) {
        SetWindowTextW(s.statusLabel, why);
        updateActionControls(s);
    }
}

void forgetWaitingWork(MainWindowState& s) { s.pending.clear(); }

void runWaitingWork(MainWindowState& s, bool afterFailure) {
    HWND window = s.window;
    size_t at = 0;
    while (!s.busy && at < s.pending.size()) {
        if (s.pending[at].kind == PendingKind::Refresh) {
            if (afterFailure) {
                ++at;
                continue;
            }
            s.pending.erase(s.pending.begin() + static_cast<ptrdiff_t>(at));
            refreshNow(s);
            continue;
        }
        PendingWork w = std::move(s.pending[at]);
        s.pending.erase(s.pending.begin() + static_cast<ptrdiff_t>(at));
        runEntry(s, w);
        // A dialog's nested loop may have ended the window.
        if (!IsWindow(window) || stateOf(window) != &s) return;
    }
    updateActionControls(s);
}
