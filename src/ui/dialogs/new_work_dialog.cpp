#include "ui/main/state.h"
#include "app/selftest.h"
#include "ui/dialogs/dialogs.h"
#include "ui/main/dispatch.h"
#include "ui/main/ids.h"
#include "ui/main/work_panel.h"

const wchar_t newWorkDialogClass[] = L"KestaNewWork";

namespace {
struct NewWorkDialogState {
    const std::vector<ListRow>* lines = nullptr;
    HFONT font = nullptr;
    int dpi = 96;   // the DPI the font was made for
    bool done = false;
    bool accepted = false;
    std::wstring subject;
    std::wstring description;
    std::wstring lineId;
};

enum { ID_NEW_SUBJECT = 1, ID_NEW_DESCRIPTION = 2, ID_NEW_LINE = 3, ID_NEW_CREATE = 4 };

// Tab goes through the four fields in this order; Enter in the subject or on
// the line list presses «Создать». The hidden label names the line list for
// a screen reader, which would otherwise take "Описание" for its name.
const DialogControl newWorkControls[] = {
    {L"STATIC", L"Тема", 0, WS_CHILD | WS_VISIBLE, 18, 15, 420, 20},
    {L"EDIT", L"", ID_NEW_SUBJECT, WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, 18, 38, 440, 27},
    {L"STATIC", L"Описание", 0, WS_CHILD | WS_VISIBLE, 18, 76, 440, 20},
    // ES_WANTRETURN: Enter starts a new line of the description, as before,
    // instead of pressing «Создать».
    {L"EDIT", L"", ID_NEW_DESCRIPTION,
     WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | WS_BORDER | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN, 18,
     100, 440, 120},
    {L"STATIC", L"Линия поддержки", 0, WS_CHILD | SS_NOPREFIX, 18, 235, 440, 20},
    {L"ComboBox", L"", ID_NEW_LINE, WS_CHILD | WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWNLIST, 18, 235, 440, 200},
    {L"BUTTON", L"Создать", ID_NEW_CREATE, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 350, 280, 108, 30},
};
const DialogForm newWorkForm = {newWorkControls, sizeof newWorkControls / sizeof newWorkControls[0], ID_NEW_SUBJECT,
                                ID_NEW_CREATE};


void onNewWorkCreate(HWND w, NewWorkDialogState* st) {
    createDialogControls(w, newWorkForm, st->font, st->dpi);
    HWND lines = GetDlgItem(w, ID_NEW_LINE);
    for (const ListRow& line : *st->lines)
        SendMessageW(lines, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.label.c_str()));
    SendMessageW(lines, CB_SETCURSEL, 0, 0);
}

void onNewWorkConfirm(HWND w, NewWorkDialogState* st) {
    st->subject = windowText(GetDlgItem(w, ID_NEW_SUBJECT));
    st->description = windowText(GetDlgItem(w, ID_NEW_DESCRIPTION));
    LRESULT index = SendMessageW(GetDlgItem(w, ID_NEW_LINE), CB_GETCURSEL, 0, 0);
    if (st->subject.empty() || index < 0 || static_cast<size_t>(index) >= st->lines->size()) return;
    st->lineId = (*st->lines)[static_cast<size_t>(index)].id;
    st->accepted = true;
    closeModalDialog(w);
}

bool onNewWorkCommand(HWND w, NewWorkDialogState* st, int id) {
    if (id != ID_NEW_CREATE) return false;
    onNewWorkConfirm(w, st);
    return true;
}
}  // namespace

const wchar_t* newWorkCaption(int mode, bool fromCase) {
    return mode == 1 && !fromCase ? L"Новое обращение" : L"Новая заявка";
}

LRESULT CALLBACK newWorkDialogProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    return dialogProcedure<NewWorkDialogState>(w, message, wParam, lParam, newWorkForm, onNewWorkCreate, onNewWorkCommand);
}

void openNewWorkDialog(MainWindowState& s, bool fromCase) {
    if (s.mode == 0 && !fromCase) {
        openWebInterface(s);
        return;
    }
    int32_t given = s.generation;
    NewWorkDialogState st;
    st.lines = &s.lines;
    st.font = s.uiFont;
    st.dpi = s.dpi;
    DialogWindow shape{newWorkDialogClass, newWorkCaption(s.mode, fromCase), 500, 365, false, false};
    if (!runDialog(s, shape, &st, st.done) || !st.accepted) return;
    NetJob job;
    job.kind = NetJobKind::CreateWorkItem;
    job.params[Slot::subject] = st.subject;
    job.params[Slot::text] = st.description;
    job.params[Slot::lineId] = st.lineId;
    job.fromCase = fromCase;
    startUserJob(s, fromCase ? ID_CREATE_TICKET : ID_NEW_WORK, std::move(job), given);
}
