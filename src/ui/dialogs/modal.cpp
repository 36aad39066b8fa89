#include "ui/dialogs/dialogs.h"
#include "app/selftest.h"
#include "ui/main/dpi.h"

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

std::vector<HWND> createDialogControls(HWND dialog, const DialogControl* controls, size_t count, HFONT font, int dpi) {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE));
    std::vector<HWND> handles;
    for (size_t i = 0; i < count; ++i) {
        const DialogControl& c = controls[i];
        int x = scaleToDpi(c.x, dpi), y = scaleToDpi(c.y, dpi), w = scaleToDpi(c.width, dpi), h = scaleToDpi(c.height, dpi);
        HWND control = CreateWindowExW(0, c.className, c.text, c.style, x, y, w, h, dialog,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        // A combo box keeps as its list the height it was made with less its
        // box's height in the font it had then; placed again, the list ends
        // where the given height does, for the font it has now (the larger
        // the scale, the more that differs).
        if (lstrcmpiW(c.className, L"ComboBox") == 0) MoveWindow(control, x, y, w, h, FALSE);
        handles.push_back(control);
    }
    return handles;
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
