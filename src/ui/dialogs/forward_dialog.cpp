#include "app/selftest.h"
#include "ui/dialogs/dialogs.h"
#include "ui/main/dispatch.h"
#include "ui/main/ids.h"

const wchar_t forwardDialogClass[] = L"KestaForwardMessage";

namespace {
struct ForwardDialogState {
    std::vector<ListRow> targets;
    std::wstring messageId;
    std::wstring targetRoomId;
    std::wstring targetRoomTitle;
    HFONT font = nullptr;
    int dpi = 96;   // the DPI the font was made for
    bool done = false;
    bool accepted = false;
};

enum { ID_FORWARD_ROOMS = 701, ID_FORWARD_CANCEL = 702, ID_FORWARD_CONFIRM = 703 };

const DialogControl forwardControls[] = {
    {L"STATIC", L"Куда переслать сообщение?", 0, WS_CHILD | WS_VISIBLE, 18, 18, 480, 24},
    {L"ComboBox", L"", ID_FORWARD_ROOMS, WS_CHILD | WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWNLIST, 18, 50, 480, 250},
    {L"STATIC",
     L"Пересылка создаст отдельное сообщение. Для вложения сохраняется исходный срок хранения; квоту и доступ "
     L"проверит сервер.",
     0, WS_CHILD | WS_VISIBLE, 18, 95, 480, 64},
    {L"BUTTON", L"Отмена", ID_FORWARD_CANCEL, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 270, 175, 100, 30},
    {L"BUTTON", L"Переслать", ID_FORWARD_CONFIRM, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 380, 175, 118, 30},
};

// Opened on the room list; Enter keeps doing nothing there.
const DialogForm forwardForm = {forwardControls, sizeof forwardControls / sizeof forwardControls[0], ID_FORWARD_ROOMS, 0};

void onForwardCreate(HWND w, ForwardDialogState* st) {
    std::vector<HWND> controls = createDialogControls(w, forwardForm, st->font, st->dpi);
    HWND rooms = controls[1];
    for (const ListRow& t : st->targets) SendMessageW(rooms, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t.label.c_str()));
    int selection = 0;
    if (selfTest.actionsScenario) {
        for (size_t i = 0; i < st->targets.size(); ++i)
            if (st->targets[i].id == selfTest.forwardRoom) selection = static_cast<int>(i);
    }
    SendMessageW(rooms, CB_SETCURSEL, static_cast<WPARAM>(selection), 0);
    if (selfTest.actionsScenario) PostMessageW(controls[4], BM_CLICK, 0, 0);
}

void onForwardConfirm(HWND w, ForwardDialogState* st) {
    LRESULT index = SendMessageW(GetDlgItem(w, ID_FORWARD_ROOMS), CB_GETCURSEL, 0, 0);
    if (index < 0 || static_cast<size_t>(index) >= st->targets.size()) return;
    st->targetRoomId = st->targets[static_cast<size_t>(index)].id;
    st->targetRoomTitle = st->targets[static_cast<size_t>(index)].label;
    st->accepted = true;
    closeModalDialog(w);
}

bool onForwardCommand(HWND w, ForwardDialogState* st, int id) {
    if (id == ID_FORWARD_CANCEL) closeModalDialog(w);
    else if (id == ID_FORWARD_CONFIRM) onForwardConfirm(w, st);
    else return false;
    return true;
}
}  // namespace

LRESULT CALLBACK forwardDialogProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    return dialogProcedure<ForwardDialogState>(w, message, wParam, lParam, forwardForm, onForwardCreate, onForwardCommand);
}

void startForward(MainWindowState& s, const MessageActions& message) {
    NetJob job;
    job.kind = NetJobKind::LoadForwardTargets;
    job.params[Slot::messageId] = message.id;
    startNetJob(s, std::move(job));
}

void openForwardDialog(MainWindowState& s, const std::wstring& messageId, const std::string& roomsJson) {
    int32_t given = s.generation;
    ForwardDialogState st;
    st.messageId = messageId;
    st.targets = forwardTargets(roomsJson);
    st.font = s.uiFont;
    st.dpi = s.dpi;
    if (st.targets.empty()) {
        SetWindowTextW(s.statusLabel, L"Нет разговоров, в которые разрешена отправка");
        return;
    }
    DialogWindow shape{forwardDialogClass, L"Переслать сообщение", 540, 270, true, true};
    if (!runDialog(s, shape, &st, st.done) || !st.accepted) return;
    NetJob job;
    job.kind = NetJobKind::ForwardMessage;
    job.params[Slot::messageId] = st.messageId;
    job.targetRoomId = st.targetRoomId;
    job.params[Slot::subject] = st.targetRoomTitle;
    startUserJob(s, ID_FORWARD, std::move(job), given);
}
