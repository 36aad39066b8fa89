#include "app/selftest.h"
#include "ui/dialogs/dialogs.h"

const wchar_t deleteDialogClass[] = L"KestaDeleteMessage";

namespace {
struct DeleteDialogState {
    std::wstring prompt;
    HFONT font = nullptr;
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

DeleteDialogState* deleteStateOf(HWND w) { return reinterpret_cast<DeleteDialogState*>(GetWindowLongPtrW(w, GWLP_USERDATA)); }

void onDeleteCreate(HWND w, DeleteDialogState* st) {
    SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(st));
    std::vector<HWND> controls = createDialogControls(w, deleteControls, 4, st->font);
    SetWindowTextW(controls[0], st->prompt.c_str());
    if (selfTest.moderationScenario) {
        int target = selfTest.cancelExercised ? ID_DELETE_CONFIRM : ID_DELETE_CANCEL;
        PostMessageW(GetDlgItem(w, target), BM_CLICK, 0, 0);
    }
}
}  // namespace

std::wstring deletePrompt(const MessageActions& m) {
    return L"Удалить сообщение?\r\n" + m.senderName + L": " + m.text.substr(0, 100);
}

LRESULT CALLBACK deleteDialogProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        if (message == WM_CREATE) {
            onDeleteCreate(w, static_cast<DeleteDialogState*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
            return 0;
        }
        DeleteDialogState* st = deleteStateOf(w);
        if (!st) return DefWindowProcW(w, message, wParam, lParam);
        switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == ID_DELETE_CANCEL || LOWORD(wParam) == ID_DELETE_CONFIRM) {
                st->confirmed = LOWORD(wParam) == ID_DELETE_CONFIRM;
                closeModalDialog(w);
                return 0;
            }
            return DefWindowProcW(w, message, wParam, lParam);
        case WM_CLOSE: closeModalDialog(w); return 0;
        case WM_DESTROY: st->done = true; return 0;
        default: return DefWindowProcW(w, message, wParam, lParam);
        }
    } catch (...) {
        return 0;
    }
}

bool confirmDeletion(MainWindowState& s, const MessageActions& message) {
    DeleteDialogState st;
    st.prompt = deletePrompt(message);
    st.font = s.uiFont;
    DialogWindow spec{deleteDialogClass, L"Удаление сообщения", 530, 260, true, true};
    runDialog(s, spec, &st, st.done);
    bool answer = st.confirmed;
    if (selfTest.moderationScenario && !answer) selfTest.cancelExercised = true;
    return answer;
}
