#include "app/selftest.h"
#include "ui/dialogs/dialogs.h"

const wchar_t deleteDialogClass[] = L"KestaDeleteMessage";

namespace {
struct DeleteDialogState {
    std::wstring prompt;
    HFONT font = nullptr;
    int dpi = 96;   // the DPI the font was made for
    bool done = false;
    bool confirmed = false;
};

enum { ID_DELETE_CANCEL = 801, ID_DELETE_CONFIRM = 802 };

const DialogControl deleteControls[] = {
    {L"STATIC", L"", 0, WS_CHILD | WS_VISIBLE, 18, 18, 470, 75},
    {L"STATIC", L"В переписке останется отметка удаления. Предыдущая версия сохранится в серверном журнале.", 0,
     WS_CHILD | WS_VISIBLE, 18, 103, 470, 45},
    {L"BUTTON", L"Отмена", ID_DELETE_CANCEL, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 270, 167, 100, 30},
    {L"BUTTON", L"Удалить", ID_DELETE_CONFIRM, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 380, 167, 110, 30},
};

// Opened on «Отмена», the safe answer.
const DialogForm deleteForm = {deleteControls, sizeof deleteControls / sizeof deleteControls[0], ID_DELETE_CANCEL, 0};

void onDeleteCreate(HWND w, DeleteDialogState* st) {
    std::vector<HWND> controls = createDialogControls(w, deleteForm, st->font, st->dpi);
    SetWindowTextW(controls[0], st->prompt.c_str());
    if (selfTest.moderationScenario) {
        int target = selfTest.cancelExercised ? ID_DELETE_CONFIRM : ID_DELETE_CANCEL;
        PostMessageW(GetDlgItem(w, target), BM_CLICK, 0, 0);
    }
}
bool onDeleteCommand(HWND w, DeleteDialogState* st, int id) {
    if (id != ID_DELETE_CANCEL && id != ID_DELETE_CONFIRM) return false;
    st->confirmed = id == ID_DELETE_CONFIRM;
    closeModalDialog(w);
    return true;
}
}  // namespace

std::wstring deletePrompt(const MessageActions& m) {
    return L"Удалить сообщение?\r\n" + m.senderName + L": " + m.text.substr(0, 100);
}

LRESULT CALLBACK deleteDialogProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    return dialogProcedure<DeleteDialogState>(w, message, wParam, lParam, deleteForm, onDeleteCreate, onDeleteCommand);
}

bool confirmDeletion(MainWindowState& s, const MessageActions& message) {
    DeleteDialogState st;
    st.prompt = deletePrompt(message);
    st.font = s.uiFont;
    st.dpi = s.dpi;
    DialogWindow shape{deleteDialogClass, L"Удаление сообщения", 530, 260, true, true};
    runDialog(s, shape, &st, st.done);
    bool answer = st.confirmed;
    if (selfTest.moderationScenario && !answer) selfTest.cancelExercised = true;
    return answer;
}
