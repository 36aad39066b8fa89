// The three modal dialogs, the message actions menu and the nested-modal loop
// they share.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "ui/dialogs/forward_targets.h"
#include "ui/main/state.h"

extern const wchar_t deleteDialogClass[];
extern const wchar_t forwardDialogClass[];
extern const wchar_t newWorkDialogClass[];
extern const wchar_t proxyDialogClass[];

LRESULT CALLBACK deleteDialogProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK forwardDialogProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK newWorkDialogProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK proxyDialogProc(HWND, UINT, WPARAM, LPARAM);

struct DialogControl {
    const wchar_t* className;
    const wchar_t* text;
    int id;
    DWORD style;
    int x, y, width, height;
};

// A dialog's controls in creation order, which is also its tab order and the
// order in which a screen reader looks back for a field's label; where the
// focus goes on opening; and the button Enter presses where no button has
// the focus (DM_GETDEFID; 0 for none: Enter then does nothing).
struct DialogForm {
    const DialogControl* controls;
    size_t count;
    int firstFocus;
    int defaultButton;
};

// Creates a dialog's controls with the main window's font, each rectangle
// (given at 96 DPI) scaled to the DPI that font was made for; handles in order.
std::vector<HWND> createDialogControls(HWND dialog, const DialogForm& form, HFONT font, int dpi);

// The keyboard and the display scale of a dialog window, which is no system
// dialog: the focus back where it was on activation (the first focus on
// opening), WM_NEXTDLGCTL (a multi-line edit's Tab), DM_GETDEFID, and
// WM_DPICHANGED (a font of its own for the new DPI, the controls placed
// again, the suggested rectangle). `font` and `dpi` are the dialog's own.
// True when the message was handled, with its answer in `result`.
bool dialogFormMessage(HWND dialog, const DialogForm& form, UINT message, WPARAM wParam, LPARAM lParam, HFONT& font,
                       int& dpi, LRESULT& result);

struct DialogWindow {
    const wchar_t* className;
    const wchar_t* caption;
    int width, height;     // the window at 96 DPI
    bool holdsRefresh;     // sets modalOpen while open
    bool hiddenInSelfTest;
};

// The one way a dialog is run: created owned by the main window at the
// owner's DPI and centred on the owner's monitor, the owner disabled, shown,
// the nested loop until *done, the owner enabled and brought forward again.
// Returns false when the window was not created.
bool runDialog(MainWindowState& state, const DialogWindow& shape, void* param, const bool& done);

// Ends a dialog: enables its owner first, then destroys it.
void closeModalDialog(HWND dialog);

// Frees what dialogFormMessage kept for the window (its own font).
void dialogFormGone(HWND dialog);

// The procedure the three dialogs share. The state record arrives as the
// creation parameter and is kept in GWLP_USERDATA; the close box ends the
// dialog; destruction sets done. onCommand returns false for commands it
// leaves to default processing (Escape's IDCANCEL among them).
template <class State>
LRESULT dialogProcedure(HWND w, UINT message, WPARAM wParam, LPARAM lParam, const DialogForm& form,
                        void (*onCreate)(HWND, State*), bool (*onCommand)(HWND, State*, int)) {
    try {
        if (message == WM_CREATE) {
            auto* st = static_cast<State*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
            SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(st));
            onCreate(w, st);
            return 0;
        }
        if (message == WM_NCDESTROY) dialogFormGone(w);
        auto* st = reinterpret_cast<State*>(GetWindowLongPtrW(w, GWLP_USERDATA));
        if (st) {
            LRESULT result = 0;
            if (dialogFormMessage(w, form, message, wParam, lParam, st->font, st->dpi, result)) return result;
            switch (message) {
            case WM_COMMAND:
                if (onCommand(w, st, LOWORD(wParam))) return 0;
                break;
            case WM_CLOSE: closeModalDialog(w); return 0;
            case WM_DESTROY: st->done = true; return 0;
            default: break;
            }
        }
        return DefWindowProcW(w, message, wParam, lParam);
    } catch (...) {
        // No exception may cross into the system's frames.
        return 0;
    }
}

// Disables the owner, pumps messages (offering each to the dialog's keyboard
// navigation) until *done, re-posts WM_QUIT if one arrives, and enables the
// owner again before the dialog is destroyed. Returns false when the loop
// ended on WM_QUIT or an error.
bool runModalLoop(HWND owner, HWND dialog, const bool& done);


// "Удалить сообщение?\r\n" + sender + ": " + first 100 code units of the text.
std::wstring deletePrompt(const MessageActions& message);

// True when the operator pressed "Удалить".
bool confirmDeletion(MainWindowState& state, const MessageActions& message);

// 153: a LoadForwardTargets job for the message.
void startForward(MainWindowState& state, const MessageActions& message);

// Result of LoadForwardTargets: the dialog, and on confirmation the forward.
void openForwardDialog(MainWindowState& state, const std::wstring& messageId, const std::string& roomsJson);

// The "Ещё…" menu of a message: four reactions, a separator, pin, delete.
HMENU buildActionsMenu(const MessageActions& message);

// 160: the "Ещё…" menu for the selected message.
void openMessageActionsMenu(MainWindowState& state);

// 107 in modes 1 and 2, and 126: the new work item dialog.
void openNewWorkDialog(MainWindowState& state, bool fromCase);

// Caption of the new work item dialog: a case only from the cases tab.
const wchar_t* newWorkCaption(int mode, bool fromCase);

// "Прокси-сервер " + host + " требует входа".
std::wstring proxyPrompt(const std::wstring& host);

// The proxy's sign-in dialog: true when the operator gave a login (the pair
// then is the transport's, for the proxy only), false on «Отмена».
bool askProxySignIn(MainWindowState& state, const std::wstring& host);
