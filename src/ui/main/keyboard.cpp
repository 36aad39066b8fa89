#include "ui/main/keyboard.h"
#include "ui/main/ids.h"
#include "ui/main/layout.h"
#include <cwctype>

namespace {

HWND stopHandle(const MainWindowState& s, const TabStop& stop) {
    return stop.actionIndex >= 0 ? s.actionButtons[stop.actionIndex] : s.*(stop.handle);
}

bool usable(HWND control) { return control && IsWindowVisible(control) && IsWindowEnabled(control); }

// The main window's own child that holds `focus` (itself or an ancestor).
HWND topControl(const MainWindowState& s, HWND focus) {
    while (focus && focus != s.window) {
        HWND parent = GetParent(focus);
        if (parent == s.window) return focus;
        focus = parent;
    }
    return nullptr;
}

bool singleLineEdit(HWND control) {
    wchar_t name[16] = {};
    GetClassNameW(control, name, 16);
    return lstrcmpiW(name, L"Edit") == 0 && !(GetWindowLongW(control, GWL_STYLE) & ES_MULTILINE);
}

void focusControl(MainWindowState& s, HWND control, bool selectText) {
    // SetFocus would activate an inactive window, taking it from the program
    // the operator is in; the focus waits for the activation instead.
    if (GetActiveWindow() != s.window) {
        s.lastFocus = control;
        return;
    }
    SetFocus(control);
    // As in a dialog: a field reached from the keyboard is typed over whole.
    if (selectText && singleLineEdit(control)) SendMessageW(control, EM_SETSEL, 0, -1);
}

void moveFocus(MainWindowState& s, HWND from, bool backward) {
    // No control focused: go on from the one that last was.
    if (!from) from = topControl(s, s.lastFocus);
    std::vector<bool> usableStops(mainTabStopCount);
    int current = -1;
    for (int i = 0; i < mainTabStopCount; ++i) {
        HWND control = stopHandle(s, mainTabOrder[i]);
        usableStops[i] = usable(control);
        if (control == from) current = i;
    }
    int next = nextTabStop(usableStops, current, backward);
    if (next < 0) return;
    // Focus rectangles are hidden until the keyboard is used, as in a dialog.
    SendMessageW(s.window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    focusControl(s, stopHandle(s, mainTabOrder[next]), true);
}

// The window's areas, for F6 and Shift+F6 (the Windows keys for moving among
// panes). Each starts at a stop of the tab order and runs to the next one's
// start; F6 puts the focus on its target, or, for the work item panel, on its
// first usable control.
struct Pane {
    HWND MainWindowState::*start;
    HWND MainWindowState::*target;
};
const Pane panes[] = {
    {&MainWindowState::serverEdit, &MainWindowState::itemList},  // with the sign-in strip, organisations, tabs
    {&MainWindowState::reasonEdit, nullptr},                      // the work item panel
    {&MainWindowState::searchEdit, &MainWindowState::searchEdit},
    {&MainWindowState::transcriptView, &MainWindowState::transcriptView},  // with the message and file strips
    {&MainWindowState::composerEdit, &MainWindowState::composerEdit},
};
const int paneCount = static_cast<int>(sizeof panes / sizeof panes[0]);
// The order F6 visits them: the list, the transcript, the composer, the
// search field, the work item panel.
const int paneOrder[] = {0, 3, 4, 2, 1};

int tabIndexOf(HWND MainWindowState::*handle) {
    for (int i = 0; i < mainTabStopCount; ++i)
        if (mainTabOrder[i].actionIndex < 0 && mainTabOrder[i].handle == handle) return i;
    return -1;
}

// The tab stops [first, last) of pane p.
void paneRange(int p, int& first, int& last) {
    first = tabIndexOf(panes[p].start);
    last = mainTabStopCount;
    for (int q = 0; q < paneCount; ++q) {
        int start = tabIndexOf(panes[q].start);
        if (start > first && start < last) last = start;
    }
}

HWND paneTarget(const MainWindowState& s, int p) {
    if (panes[p].target) {
        HWND target = s.*(panes[p].target);
        return usable(target) ? target : nullptr;
    }
    int first = 0, last = 0;
    paneRange(p, first, last);
    for (int i = first; i < last; ++i)
        if (usable(stopHandle(s, mainTabOrder[i]))) return stopHandle(s, mainTabOrder[i]);
    return nullptr;
}

void moveAmongPanes(MainWindowState& s, HWND from, bool backward) {
    if (!from) from = topControl(s, s.lastFocus);
    int current = -1;
    for (int k = 0; k < paneCount; ++k) {
        int first = 0, last = 0;
        paneRange(paneOrder[k], first, last);
        for (int i = first; i < last; ++i)
            if (from && stopHandle(s, mainTabOrder[i]) == from) current = k;
    }
    std::vector<bool> reachable(paneCount);
    for (int k = 0; k < paneCount; ++k) reachable[static_cast<size_t>(k)] = paneTarget(s, paneOrder[k]) != nullptr;
    int next = nextTabStop(reachable, current, backward);
    if (next < 0) return;
    SendMessageW(s.window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    focusControl(s, paneTarget(s, paneOrder[next]), true);
}

void click(MainWindowState& s, int id, HWND button) {
    SendMessageW(s.window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

bool pushButton(HWND control) {
    wchar_t name[16] = {};
    GetClassNameW(control, name, 16);
    if (lstrcmpiW(name, L"Button") != 0) return false;
    LONG type = GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

bool isWordUnit(wchar_t c) { return IsCharAlphaNumericW(c) != FALSE || c == L'_'; }

// A plain edit control types Ctrl+Backspace as the character U+007F; here it
// deletes the word before the caret (or the selection) as text fields do.
void deleteWordBefore(HWND edit) {
    DWORD from = 0, to = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    if (from == to) {
        std::wstring text = windowText(edit);
        size_t caret = to < text.size() ? to : text.size();
        from = static_cast<DWORD>(wordStartBefore(text, caret));
        if (from == to) return;
        SendMessageW(edit, EM_SETSEL, from, to);
    }
    // EM_REPLACESEL keeps the operation undoable.
    SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L""));
}

}  // namespace

size_t wordStartBefore(const std::wstring& text, size_t caret) {
    size_t at = caret < text.size() ? caret : text.size();
    while (at > 0 && iswspace(text[at - 1])) --at;
    if (at == 0) return 0;
    bool word = isWordUnit(text[at - 1]);
    while (at > 0 && !iswspace(text[at - 1]) && isWordUnit(text[at - 1]) == word) --at;
    return at;
}

int nextTabStop(const std::vector<bool>& usable, int current, bool backward) {
    int count = static_cast<int>(usable.size());
    int at = current >= 0 && current < count ? current : backward ? count : -1;
    for (int tried = 0; tried < count; ++tried) {
        at = backward ? (at + count - 1) % count : (at + 1) % count;
        if (usable[static_cast<size_t>(at)]) return at;
    }
    return -1;
}

bool preTranslateMainWindowKey(MainWindowState& s, const MSG& msg) {
    // With no control focused, keys reach the active window as WM_SYSKEYDOWN;
    // with Alt held they are the system's (Alt+Tab).
    if (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN) return false;
    if (!s.window || (msg.hwnd != s.window && !IsChild(s.window, msg.hwnd))) return false;
    if (msg.lParam & (1 << 29)) return false;
    HWND control = topControl(s, msg.hwnd);
    bool ctrl = GetKeyState(VK_CONTROL) < 0;
    switch (msg.wParam) {
    case VK_TAB:
        // EM_REPLACESEL keeps the composer's text limit and its undo.
        if (ctrl && control == s.composerEdit)
            SendMessageW(s.composerEdit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"\t"));
        else
            moveFocus(s, control, GetKeyState(VK_SHIFT) < 0);
        return true;
    case VK_RETURN: {
        // A held key repeats: one action per press.
        bool repeat = (msg.lParam & (1 << 30)) != 0;
        // As in a dialog, Enter presses the focused push button (Space does
        // by itself).
        if (control && pushButton(control)) {
            if (!repeat && IsWindowEnabled(control)) click(s, GetDlgCtrlID(control), control);
            return true;
        }
        bool signInField = control && (control == s.serverEdit || control == s.loginEdit || control == s.passwordEdit);
        // The reason field has no Enter action; its carriage return would only beep.
        if (!signInField && !(control && control == s.reasonEdit)) return false;
        if (signInField && !repeat && s.token.empty()) click(s, ID_SIGN_IN, s.signInButton);
        return true;
    }
    case VK_F6:
        moveAmongPanes(s, control, GetKeyState(VK_SHIFT) < 0);
        return true;
    case VK_ESCAPE:
        if (!control || control != s.composerEdit || (s.replyToId.empty() && s.editId.empty())) return false;
        click(s, ID_CANCEL_MODE, s.cancelModeButton);
        return true;
    case VK_BACK:
        if (!ctrl || !control || (control != s.composerEdit && control != s.searchEdit)) return false;
        deleteWordBefore(control);
        return true;
    case 'A':
        if (!ctrl || !control || (control != s.composerEdit && control != s.searchEdit)) return false;
        SendMessageW(control, EM_SETSEL, 0, -1);
        return true;
    default: return false;
    }
}

void dispatchMainWindowMessage(MainWindowState& s, const MSG& msg) {
    if (!preTranslateMainWindowKey(s, msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    keepKeyboardFocus(s);
}

void placeSignInFocus(MainWindowState& s) {
    if (!s.window || !IsWindowVisible(s.window)) return;
    HWND target = !s.token.empty()                          ? s.itemList
                  : GetWindowTextLengthW(s.loginEdit) == 0 ? s.loginEdit
                                                            : s.passwordEdit;
    focusControl(s, target, false);
}

// Only a shown, active window: the self-test modes never show theirs, and an
// inactive window gets its focus back on activation. The window itself holds
// the focus only by default (activated with its last control disabled, or a
// focused field hidden), never because the operator put it there.
void keepKeyboardFocus(MainWindowState& s) {
    if (!s.window || !IsWindowVisible(s.window) || GetActiveWindow() != s.window) return;
    HWND focus = GetFocus();
    if (focus && IsChild(s.window, focus))
        s.lastFocus = focus;
    else if ((!focus || focus == s.window) && s.lastFocus && IsChild(s.window, s.lastFocus) && usable(s.lastFocus))
        SetFocus(s.lastFocus);
}

bool onMainWindowActivate(MainWindowState& s, WPARAM wParam) {
    if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(s.window, focus)) s.lastFocus = focus;
        return false;
    }
    HWND target = s.lastFocus;
    // Minimized, the window keeps no focus; a control since hidden or
    // disabled takes none: both are left to the default handling.
    if (HIWORD(wParam) || !target || !IsChild(s.window, target) || !usable(target)) return false;
    SetFocus(target);
    return true;
}
