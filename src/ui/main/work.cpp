#include "ui/main/work.h"
#include "ui/dialogs/actions.h"
#include "ui/main/commands.h"
#include "ui/main/drafts.h"
#include "ui/main/history.h"
#include "ui/main/session.h"
#include "text/errors.h"
#include <algorithm>

bool (*netJobLauncher)(NetJob* job) = launchNetJobThread;

const wchar_t notDoneOtherView[] = L"Действие не выполнено: выбран другой разговор";
const wchar_t notDoneUnavailable[] = L"Действие не выполнено: действие больше недоступно";

namespace {
const wchar_t exchanging[] = L"Обмен с сервером…";

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
    if (job.kind == NetJobKind::Refresh && s.appliedListMode == s.mode) job.shownList = s.appliedList;
}

void forgetWaitingRefresh(MainWindowState& s) {
    for (size_t i = 0; i < s.pending.size();) {
        if (s.pending[i].kind == PendingKind::Refresh) s.pending.erase(s.pending.begin() + static_cast<ptrdiff_t>(i));
        else ++i;
    }
}

// The job carries its connection fields already.
bool launch(MainWindowState& s, int command, NetJob job, std::wstring title) {
    s.busy = true;
    s.runningKind = job.kind;
    s.runningCommand = command;
    s.runningJob.reset(new NetJob(job));
    s.runningTitle = std::move(title);
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
    s.runningJob.reset();
    s.runningTitle.clear();
    updateActionControls(s);
    SetWindowTextW(s.statusLabel, unreachableText);
    return false;
}

void queue(MainWindowState& s, PendingWork work) {
    work.generation = s.generation;
    work.title = shownTitle(s);
    // The job a dialog opened by waiting work gives keeps that work's place:
    // what was given after the dialog's command still comes after it.
    if (s.dialogFromQueue && work.kind != PendingKind::Refresh) s.pending.insert(s.pending.begin(), std::move(work));
    else s.pending.push_back(std::move(work));
}

// The same job twice: what the operator gave again is no new work.
bool sameJob(const NetJob& a, const NetJob& b) {
    if (a.kind != b.kind || a.generation != b.generation || a.mode != b.mode || a.serverUrl != b.serverUrl ||
        a.targetRoomId != b.targetRoomId || a.version != b.version || a.fromCase != b.fromCase)
        return false;
    for (int i = 0; i < 16; ++i)
        if (a.params[i] != b.params[i]) return false;
    return true;
}

// The waiting entry of the command, or null.
PendingWork* waitingEntry(MainWindowState& s, int command, PendingKind kind) {
    for (PendingWork& w : s.pending)
        if (w.command == command && w.kind == kind) return &w;
    return nullptr;
}

const wchar_t* actionName(const std::wstring& action) {
    static const wchar_t* const names[][2] = {
        {L"assign", L"назначение"},     {L"start", L"взятие в работу"}, {L"wait", L"перевод в ожидание"},
        {L"finish", L"отметка «Готово»"}, {L"close", L"закрытие"},     {L"reopen", L"открытие"},
    };
    for (const auto& n : names)
        if (action == n[0]) return n[1];
    return L"действие";
}

std::wstring entryName(const PendingWork& w) {
    if (w.job) return workName(*w.job);
    return commandName(w.command);
}

bool belongsToView(const PendingWork& w) { return !(w.job && w.job->kind == NetJobKind::SignIn); }

// One entry's turn; the window is idle.
void runEntry(MainWindowState& s, PendingWork& w) {
    if (belongsToView(w) && w.generation != s.generation) {
        if (w.job) returnUnsentText(s, *w.job);
        SetWindowTextW(s.statusLabel, notDoneOtherView);
        return;
    }
    if (w.kind == PendingKind::Job) {
        // Signed in meanwhile by another way (standard input): one session.
        if (w.job->kind == NetJobKind::SignIn && !s.token.empty()) return;
        launch(s, w.command, std::move(*w.job), std::move(w.title));
        return;
    }
    // Cleared on every way out, or the queue would wait for good.
    struct DialogFromQueue {
        bool& open;
        ~DialogFromQueue() { open = false; }
    } dialog{s.dialogFromQueue};
    s.dialogFromQueue = true;
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
    return launch(s, 0, std::move(job), shownTitle(s));
}

bool startUserJob(MainWindowState& s, int command, NetJob job, int32_t given) {
    if (job.kind != NetJobKind::SignIn && refusedForEndedSession(s)) return false;
    if (given != s.generation) {
        SetWindowTextW(s.statusLabel, notDoneOtherView);
        return false;
    }
    fillConnection(s, job);
    if (!s.busy) return launch(s, command, std::move(job), shownTitle(s));
    if (s.runningCommand == command && s.runningJob && sameJob(*s.runningJob, job)) return false;
    if (PendingWork* waiting = waitingEntry(s, command, PendingKind::Job)) {
        if (sameJob(*waiting->job, job)) return false;
        // Corrected while it waited, in the same view: the new job takes its
        // place. One given in a view left waits for its own word.
        if (waiting->generation == s.generation) {
            waiting->job.reset(new NetJob(std::move(job)));
            waiting->title = shownTitle(s);
            return false;
        }
    }
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

bool editSaveInFlight(const MainWindowState& s) {
    if (s.editId.empty()) return false;
    if (s.busy && s.runningKind == NetJobKind::EditMessage) return true;
    for (const PendingWork& w : s.pending)
        if (w.job && w.job->kind == NetJobKind::EditMessage) return true;
    return false;
}

void queueCommand(MainWindowState& s, int command, std::wstring target) {
    if (s.busy && s.runningCommand == command) return;
    PendingWork* waiting = waitingEntry(s, command, PendingKind::Command);
    if (waiting && waiting->generation == s.generation) {
        // Given again for another file or edit: the later choice stands.
        waiting->target = std::move(target);
        return;
    }
    PendingWork w;
    w.kind = PendingKind::Command;
    w.command = command;
    w.target = std::move(target);
    queue(s, std::move(w));
}

bool dropWaitingWork(MainWindowState& s, const std::wstring& lead) {
    std::vector<std::wstring> names;
    for (size_t i = 0; i < s.pending.size();) {
        PendingWork& w = s.pending[i];
        if (w.kind == PendingKind::Refresh || !belongsToView(w)) {
            ++i;
            continue;
        }
        std::wstring name = entryName(w);
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(std::move(name));
        PendingWork gone = std::move(w);
        s.pending.erase(s.pending.begin() + static_cast<ptrdiff_t>(i));
        if (gone.job) returnUnsentText(s, *gone.job);
    }
    if (names.empty()) return false;
    std::wstring line = lead;
    for (size_t i = 0; i < names.size(); ++i) line += (i ? L", " : L"") + names[i];
    setStatusLine(s, line);
    updateActionControls(s);
    return true;
}

void setStatusLine(MainWindowState& s, const std::wstring& text) { SetWindowTextW(s.statusLabel, text.c_str()); }

std::wstring workName(const NetJob& job) {
    switch (job.kind) {
    case NetJobKind::SignIn: return L"вход";
    case NetJobKind::SendMessage: return L"отправка сообщения";
    case NetJobKind::EditMessage: return L"сохранение изменения";
    case NetJobKind::CreateWorkItem: return job.fromCase || job.mode == 2 ? L"создание заявки" : L"создание обращения";
    case NetJobKind::WorkAction: return actionName(job.params[Slot::actionOrEmoji]);
    case NetJobKind::UploadFile: return L"отправка файла";
    case NetJobKind::DownloadFile: return L"скачивание файла";
    case NetJobKind::LoadForwardTargets:
    case NetJobKind::ForwardMessage: return L"пересылка";
    case NetJobKind::ReactToMessage: return L"реакция";
    case NetJobKind::PinMessage: return L"закрепление";
    case NetJobKind::DeleteMessage: return L"удаление сообщения";
    default: return L"обновление";
    }
}

std::wstring shownTitle(const MainWindowState& s) {
    for (const ListRow& row : s.listRows)
        if (row.id == s.selectedId) return row.label;
    return L"Переписка";
}

void forgetWaitingWork(MainWindowState& s) { s.pending.clear(); }

void runWaitingWork(MainWindowState& s, bool afterFailure) {
    HWND window = s.window;
    size_t at = 0;
    while (!s.busy && at < s.pending.size()) {
        // Under a dialog opened by waiting work only the refresh goes on.
        if (s.dialogFromQueue && s.pending[at].kind != PendingKind::Refresh) {
            ++at;
            continue;
        }
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
