#include "ui/dialogs/dialogs.h"
#include "app/selftest.h"
#include "ui/main/dpi.h"

namespace {
bool typesEscapeInMultilineEdit(HWND dialog, const MSG& msg) {
    bool escape = (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) || (msg.message == WM_CHAR && msg.wParam == 0x1B);
    if (!escape || !IsWindow(dialog) || !IsChild(dialog, msg.hwnd)) return false;
    wchar_t name[16] = {};
    GetClassNameW(msg.hwnd, name, 16);
    return lstrcmpiW(name, L"Edit") == 0 && (GetWindowLongW(msg.hwnd, GWL_STYLE) & ES_MULTILINE);
}
}  // namespace

bool runModalLoop(HWND owner, HWND dialog, const bool& done) {
    MSG msg;
    bool quit = false;
    while (!done) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            // WM_QUIT belongs to the main loop: hand it back so that closing the
            // program while a dialog is open still ends the process.
            if (got == 0) {
                quit = true;
                PostQuitMessage(static_cast<int>(msg.wParam));
            }
            break;
        }
        // A multi-line edit in a dialog closes it on Escape (it posts
        // WM_CLOSE): here that would throw away what was typed.
        if (typesEscapeInMultilineEdit(dialog, msg)) continue;
        if (!IsWindow(dialog) || !IsDialogMessageW(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    // The owner is enabled before the dialog goes away, or the system would
    // activate some other program's window in between.
    if (owner) EnableWindow(owner, TRUE);
    return !quit && done;
}

void closeModalDialog(HWND dialog) {
    HWND owner = GetWindow(dialog, GW_OWNER);
    if (owner) EnableWindow(owner, TRUE);
    DestroyWindow(dialog);
}

namespace {
const wchar_t focusProperty[] = L"KestaDialogFocus";
const wchar_t fontProperty[] = L"KestaDialogFont";
// The owner's font the dialog opened with. The dialog answers WM_GETFONT
// with it until it closes, so that the owner, changing its own font
// meanwhile, leaves it to runDialog to delete once the dialog is gone,
// also when the controls show a font of the dialog's own by then.
const wchar_t openedFontProperty[] = L"KestaDialogOpenedFont";

void placeDialogControl(HWND control, const DialogControl& c, int dpi) {
    MoveWindow(control, scaleToDpi(c.x, dpi), scaleToDpi(c.y, dpi), scaleToDpi(c.width, dpi),
               scaleToDpi(c.height, dpi), FALSE);
}

bool takesFocus(HWND dialog, HWND control) {
    return control && IsChild(dialog, control) && IsWindowVisible(control) && IsWindowEnabled(control);
}

void focusDialogControl(HWND control) {
    SetFocus(control);
    // As the dialog manager does: a field reached from the keyboard is selected whole.
    if (SendMessageW(control, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) SendMessageW(control, EM_SETSEL, 0, -1);
}

// Deactivated, the dialog notes the focused control; activated (also when it
// first opens), it gives the focus back, or to its first focus. Left to
// DefWindowProcW, the focus would go to the dialog window itself, where a
// screen reader hears the caption and nothing else.
void onDialogActivate(HWND dialog, const DialogForm& form, WPARAM wParam) {
    if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(dialog, focus)) SetPropW(dialog, focusProperty, focus);
        return;
    }
    if (HIWORD(wParam)) return;  // minimised
    HWND target = static_cast<HWND>(GetPropW(dialog, focusProperty));
    if (!takesFocus(dialog, target)) target = GetDlgItem(dialog, form.firstFocus);
    if (takesFocus(dialog, target)) SetFocus(target);
    else SetFocus(dialog);
}

void onNextDialogControl(HWND dialog, WPARAM wParam, LPARAM lParam) {
    HWND focus = GetFocus();
    if (focus && !IsChild(dialog, focus)) focus = nullptr;
    HWND target = LOWORD(lParam) ? reinterpret_cast<HWND>(wParam) : GetNextDlgTabItem(dialog, focus, wParam != 0);
    if (takesFocus(dialog, target)) focusDialogControl(target);
}

// Moved to a monitor of another scale: the controls take a font made for it
// (the dialog's own, deleted when replaced or when the dialog goes; the one
// it opened with is the owner's), then their places, then the window its
// suggested rectangle.
void onDialogDpiChanged(HWND dialog, const DialogForm& form, int newDpi, const RECT& suggested, HFONT& font, int& dpi) {
    if (newDpi <= 0) return;
    HFONT made = createUiFont(newDpi);
    if (!made) return;
    size_t i = 0;
    for (HWND c = GetWindow(dialog, GW_CHILD); c && i < form.count; c = GetWindow(c, GW_HWNDNEXT), ++i) {
        SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(made), FALSE);
        placeDialogControl(c, form.controls[i], newDpi);
    }
    HFONT own = static_cast<HFONT>(GetPropW(dialog, fontProperty));
    SetPropW(dialog, fontProperty, made);
    if (own) DeleteObject(own);
    font = made;
    dpi = newDpi;
    SetWindowPos(dialog, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(dialog, nullptr, TRUE);
}
}  // namespace

std::vector<HWND> createDialogControls(HWND dialog, const DialogForm& form, HFONT font, int dpi) {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE));
    SetPropW(dialog, openedFontProperty, font);
    std::vector<HWND> handles;
    for (size_t i = 0; i < form.count; ++i) {
        const DialogControl& c = form.controls[i];
        int x = scaleToDpi(c.x, dpi), y = scaleToDpi(c.y, dpi), w = scaleToDpi(c.width, dpi), h = scaleToDpi(c.height, dpi);
        HWND control = CreateWindowExW(0, c.className, c.text, c.style, x, y, w, h, dialog,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        // A combo box keeps as its list the height it was made with less its
        // box's height in the font it had then; placed again, the list ends
        // where the given height does, for the font it has now (the larger
        // the scale, the more that differs).
        if (lstrcmpiW(c.className, L"ComboBox") == 0) placeDialogControl(control, c, dpi);
        handles.push_back(control);
    }
    return handles;
}

bool dialogFormMessage(HWND dialog, const DialogForm& form, UINT message, WPARAM wParam, LPARAM lParam, HFONT& font,
                       int& dpi, LRESULT& result) {
    result = 0;
    switch (message) {
    case WM_ACTIVATE: onDialogActivate(dialog, form, wParam); return true;
    case WM_GETFONT: result = reinterpret_cast<LRESULT>(GetPropW(dialog, openedFontProperty)); return true;
    case WM_NEXTDLGCTL: onNextDialogControl(dialog, wParam, lParam); return true;
    case DM_GETDEFID:
        if (!form.defaultButton) return false;
        result = MAKELRESULT(form.defaultButton, DC_HASDEFID);
        return true;
    case WM_DPICHANGED:
        onDialogDpiChanged(dialog, form, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam), font, dpi);
        return true;
    default: return false;
    }
}

void dialogFormGone(HWND dialog) {
    RemovePropW(dialog, focusProperty);
    RemovePropW(dialog, openedFontProperty);
    // The controls are gone by now: nothing shows the dialog's own font any more.
    if (HANDLE own = RemovePropW(dialog, fontProperty)) DeleteObject(own);
}

bool runDialog(MainWindowState& s, const DialogWindow& shape, void* param, const bool& done) {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(s.window, GWLP_HINSTANCE));
    const DWORD style = WS_CAPTION | WS_SYSMENU, exStyle = WS_EX_DLGMODALFRAME;
    // Opened on the owner's monitor, so that it gets the owner's DPI there
    // (the DPI its font and controls are made for); the frame is that DPI's.
    RECT r = dialogWindowRect({shape.width, shape.height}, frameSizeForDpi(style, exStyle, baseDpi),
                              frameSizeForDpi(style, exStyle, s.dpi), s.dpi, workAreaOf(s.window));
    HFONT font = s.uiFont;
    HWND dialog = CreateWindowExW(exStyle, shape.className, shape.caption, style, r.left, r.top, r.right - r.left,
                                  r.bottom - r.top, s.window, nullptr, instance, param);
    if (!dialog) return false;
    HWND owner = s.window;
    if (shape.holdsRefresh) s.modalOpen = true;
    EnableWindow(owner, FALSE);
    if (!(shape.hiddenInSelfTest && selfTest.active)) ShowWindow(dialog, SW_SHOWNORMAL);
    runModalLoop(owner, dialog, done);
    if (shape.holdsRefresh) s.modalOpen = false;
    if (IsWindow(owner) && !(shape.hiddenInSelfTest && selfTest.active)) SetForegroundWindow(owner);
    if (!done && IsWindow(dialog)) {
        // Left by a quit request: the window must not outlive the state it points to.
        SetWindowLongPtrW(dialog, GWLP_USERDATA, 0);
        DestroyWindow(dialog);
    }
    // The owner's DPI may have changed while the dialog was open: the font
    // it kept is deleted now that no control shows it.
    retireFont(font, s.uiFont);
    return true;
}
