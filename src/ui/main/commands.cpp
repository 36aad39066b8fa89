#include "ui/main/commands.h"
#include "ui/main/composer.h"
#include "ui/main/ids.h"
#include "ui/main/session.h"
#include "ui/main/work.h"
#include "ui/main/work_panel.h"

namespace {

const wchar_t fileGone[] = L"Действие не выполнено: файла больше нет в разговоре";
const wchar_t ticketExists[] = L"Действие не выполнено: заявка по обращению уже создана";

struct WorkCommand {
    int first, last;  // control ids
    // The guard besides an idle window, read when the command is given and
    // again when a waiting one gets its turn.
    bool (*applies)(const MainWindowState&);
    // What it acts on, noted when given; why it cannot act on that now (null:
    // it can), asked when given and when a waiting command gets its turn.
    std::wstring (*target)(const MainWindowState&);
    const wchar_t* (*refusal)(const MainWindowState&, const std::wstring& target);
    // A command that starts a job builds it at once from what is shown; one
    // that opens a dialog first opens it when the window is idle.
    NetJob (*buildJob)(const MainWindowState&, int id);
    void (*open)(MainWindowState&, const std::wstring& target);
    // When it must wait; null: while any job runs.
    bool (*mustWait)(const MainWindowState&);
    // What it does, named for the operator while it waits as a command.
    const wchar_t* name;
};

bool signedOut(const MainWindowState& s) { return s.token.empty(); }
bool signedIn(const MainWindowState& s) { return !s.token.empty(); }
bool canSend(const MainWindowState& s) { return !s.roomId.empty() && GetWindowTextLengthW(s.composerEdit) > 0; }
bool itemSelected(const MainWindowState& s) { return !s.selectedId.empty(); }
bool caseForTicket(const MainWindowState& s) { return s.canDispatch && s.mode == 1; }
bool roomOpen(const MainWindowState& s) { return !s.roomId.empty(); }
bool fileChosen(const MainWindowState& s) { return !chosenFileId(s).empty(); }
bool always(const MainWindowState&) { return true; }

NetJob buildSignIn(const MainWindowState& s, int) { return signInJob(s); }
NetJob buildSend(const MainWindowState& s, int) { return sendJob(s); }
NetJob buildWorkAction(const MainWindowState& s, int id) { return workActionJob(s, id - ID_ACTION_FIRST); }

std::wstring selectedItem(const MainWindowState& s) { return s.selectedId; }
std::wstring editInProgress(const MainWindowState& s) { return s.editId; }

// The panel still shows the item before while the first page of a newly
// selected one is on its way: its buttons must not act on the new one.
const wchar_t* panelShowsSelected(const MainWindowState& s, const std::wstring&) {
    return s.shownItemId == s.selectedId ? nullptr : notDoneOtherView;
}
const wchar_t* ticketStillPossible(const MainWindowState& s, const std::wstring& caseId) {
    return createTicketEnabled(s) && s.selectedId == caseId ? nullptr : ticketExists;
}
const wchar_t* roomStillWritable(const MainWindowState& s, const std::wstring&) {
    return s.canWrite && s.editId.empty() ? nullptr : notDoneUnavailable;
}
const wchar_t* fileStillThere(const MainWindowState& s, const std::wstring& fileId) {
    for (const ListRow& f : s.files)
        if (f.id == fileId) return nullptr;
    return fileGone;
}

void openNewWork(MainWindowState& s, const std::wstring&) { onNewWorkCommand(s); }
void openTicketFromCase(MainWindowState& s, const std::wstring&) { onCreateTicketCommand(s); }
void openUpload(MainWindowState& s, const std::wstring&) { onAttachCommand(s); }
void openDownload(MainWindowState& s, const std::wstring& fileId) { onDownloadCommand(s, fileId); }
// Leaving a mode needs no server; it waits only behind the save of the very
// edit it would leave, and once that save ended the edit it has nothing to do.
void leaveMode(MainWindowState& s, const std::wstring& edit) {
    if (edit.empty() || s.editId == edit) onCancelModeCommand(s);
}

const WorkCommand workCommands[] = {
    // ids                             guard        target          refusal              job              dialog
    {ID_SIGN_IN, ID_SIGN_IN,           signedOut,   nullptr,        nullptr,             buildSignIn,     nullptr,
     nullptr, L"вход"},
    {ID_SEND, ID_SEND,                 canSend,     nullptr,        nullptr,             buildSend,       nullptr,
     nullptr, L"отправка сообщения"},
    {ID_ACTION_FIRST, ID_ACTION_LAST,  itemSelected, nullptr,       panelShowsSelected,  buildWorkAction, nullptr,
     nullptr, L"действие"},
    {ID_NEW_WORK, ID_NEW_WORK,         signedIn,    nullptr,        nullptr,             nullptr,         openNewWork,
     nullptr, L"новое обращение или заявка"},
    {ID_CREATE_TICKET, ID_CREATE_TICKET, caseForTicket, selectedItem, ticketStillPossible, nullptr,       openTicketFromCase,
     nullptr, L"создание заявки"},
    {ID_ATTACH, ID_ATTACH,             roomOpen,    nullptr,        roomStillWritable,   nullptr,         openUpload,
     nullptr, L"отправка файла"},
    {ID_DOWNLOAD, ID_DOWNLOAD,         fileChosen,  chosenFileId,   fileStillThere,      nullptr,         openDownload,
     nullptr, L"скачивание файла"},
    // Leaving a mode waits only behind the save of the edit it leaves.
    {ID_CANCEL_MODE, ID_CANCEL_MODE,   always,      editInProgress, nullptr,             nullptr,         leaveMode,
     editSaveInFlight, L"выход из изменения"},
};

const WorkCommand* commandFor(int id) {
    for (const WorkCommand& c : workCommands)
        if (id >= c.first && id <= c.last) return &c;
    return nullptr;
}

}  // namespace

bool isWorkCommand(int id) { return commandFor(id) != nullptr; }

const wchar_t* commandName(int id) {
    const WorkCommand* c = commandFor(id);
    return c ? c->name : L"действие";
}

void giveWorkCommand(MainWindowState& s, int id) {
    const WorkCommand* c = commandFor(id);
    if (!c || !c->applies(s)) return;
    std::wstring target = c->target ? c->target(s) : std::wstring();
    if (c->refusal)
        if (const wchar_t* why = c->refusal(s, target)) {
            SetWindowTextW(s.statusLabel, why);
            return;
        }
    if (c->buildJob) {
        startUserJob(s, id, c->buildJob(s, id), s.generation);
        return;
    }
    bool wait = c->mustWait ? c->mustWait(s) : s.busy;
    if (wait) queueCommand(s, id, std::move(target));
    else c->open(s, target);
}

const wchar_t* replayCommand(MainWindowState& s, int id, const std::wstring& target) {
    const WorkCommand* c = commandFor(id);
    if (!c || !c->open) return nullptr;
    if (!c->applies(s)) return notDoneUnavailable;
    if (c->refusal)
        if (const wchar_t* why = c->refusal(s, target)) return why;
    c->open(s, target);
    return nullptr;
}
