#include "ui/main/window.h"
#include "app/selftest.h"
#include "ui/main/accessibility.h"
#include "app/startup.h"
#include "ui/dialogs/actions.h"
#include "ui/dialogs/dialogs.h"
#include "ui/main/commands.h"
#include "ui/main/composer.h"
#include "ui/main/dispatch.h"
#include "ui/main/dpi.h"
#include "ui/main/history.h"
#include "ui/main/ids.h"
#include "ui/main/keyboard.h"
#include "ui/main/layout.h"
#include "ui/main/session.h"
#include "ui/main/work_panel.h"
#include <commctrl.h>
#include <richedit.h>

const wchar_t mainWindowClass[] = L"KestaSupportMain";
const wchar_t mainWindowTitle[] = L"Kesta — Поддержка · прототип";

MainWindowState* stateOf(HWND window) {
    return reinterpret_cast<MainWindowState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

std::wstring windowText(HWND control) {
    int length = GetWindowTextLengthW(control);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    int copied = GetWindowTextW(control, &text[0], length + 1);
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    return text;
}

HWND createMainWindow(HINSTANCE instance, MainWindowState& state) {
    HWND window = CreateWindowExW(0, mainWindowClass, mainWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 1280, 820, nullptr, nullptr, instance, &state);
    if (!window) return nullptr;
    // The window's DPI is known only once it is on a monitor: there it gets
    // its size at that scale, no larger than the monitor's work area.
    RECT placed{};
    GetWindowRect(window, &placed);
    RECT work = workAreaOf(window);
    RECT first = firstWindowRect(placed, {scaled(state, 1280), scaled(state, 820)}, minimumWindowSize(state.dpi, work),
                                 work);
    if (!EqualRect(&first, &placed))
        SetWindowPos(window, nullptr, first.left, first.top, first.right - first.left, first.bottom - first.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    return window;
}

void setUpControl(HWND control, const ControlSpec& row, HFONT font) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    if (row.cueBanner) SendMessageW(control, EM_SETCUEBANNER, FALSE, reinterpret_cast<LPARAM>(row.cueBanner));
    if (row.textLimit > 0) {
        if (row.handle == &MainWindowState::transcriptView)
            SendMessageW(control, EM_EXLIMITTEXT, 0, row.textLimit);
        else
            SendMessageW(control, EM_LIMITTEXT, row.textLimit, 0);
    }
    if (row.handle == &MainWindowState::modeTabs) {
        const wchar_t* tabs[] = {L"Чаты", L"Обращения", L"Заявки"};
        for (const wchar_t* tab : tabs) {
            TCITEMW item{};
            item.mask = TCIF_TEXT;
            item.pszText = const_cast<wchar_t*>(tab);
            LRESULT count = SendMessageW(control, TCM_GETITEMCOUNT, 0, 0);
            SendMessageW(control, TCM_INSERTITEMW, static_cast<WPARAM>(count), reinterpret_cast<LPARAM>(&item));
        }
    }
}

namespace {

void createControls(MainWindowState& state, HINSTANCE instance) {
    for (int i = 0; i < mainControlCount; ++i) {
        const ControlSpec& row = mainControls[i];
        if (const FieldLabel* label = labelBefore(i)) {
            // Without WS_VISIBLE: it names the field and nothing else.
            HWND name = CreateWindowExW(0, L"STATIC", label->name, WS_CHILD | SS_LEFT | SS_NOPREFIX, 0, 0, 10, 10,
                                        state.window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(label->id)),
                                        instance, nullptr);
            if (label->field == &MainWindowState::composerEdit) state.composerLabel = name;
        }
        const wchar_t* text = row.handle == &MainWindowState::serverEdit ? state.serverUrl.c_str() : row.text;
        HWND control = CreateWindowExW(0, row.className, text, WS_CHILD | WS_VISIBLE | row.style, 0, 0, 10, 10,
                                       state.window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.id)), instance,
                                       nullptr);
        controlHandle(state, i) = control;
        setUpControl(control, row, state.uiFont);
    }
    state.composerProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(state.composerEdit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(composerKeyFilter)));
    state.searchProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(state.searchEdit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(searchKeyFilter)));
    makeStatusLiveRegion(state);
}

LRESULT onCreate(HWND window, const CREATESTRUCTW* create) {
    auto* state = static_cast<MainWindowState*>(create->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    state->window = window;
    netResultWindow = window;
    prepareNetResult = readListOnWorker;
    state->dpi = dpiForWindow(window);
    state->uiFont = createUiFont(state->dpi);
    createControls(*state, create->hInstance);
    resetMessageActions(*state);
    resetHistoryNavigation(*state);
    SetTimer(window, TIMER_REFRESH, TIMER_REFRESH_MS, nullptr);
    SetTimer(window, TIMER_SELF_TEST, TIMER_SELF_TEST_MS, nullptr);
    return 0;
}

bool idle(const MainWindowState& s) { return !s.busy; }

void onCommand(MainWindowState& s, int id, int code) {
    if (id == ID_SIGN_IN && !s.token.empty()) {
        signOut(s);
        return;
    }
    if (commandNeedsSession(id) && refusedForEndedSession(s)) return;
    // Whatever starts work goes through one table, which also decides what
    // waits while a job is in flight.
    if (isWorkCommand(id)) {
        giveWorkCommand(s, id);
        return;
    }
    switch (id) {
    case ID_ORG_COMBO:
        if (code == CBN_SELCHANGE && SendMessageW(s.orgCombo, CB_GETCURSEL, 0, 0) >= 0) onOrgChange(s);
        break;
    case ID_ITEM_LIST:
        if (code == LBN_SELCHANGE) {
            LRESULT row = SendMessageW(s.itemList, LB_GETCURSEL, 0, 0);
            if (row >= 0 && static_cast<size_t>(row) < s.listRows.size()) onRowChange(s);
        }
        break;
    case ID_WEB: openWebInterface(s); break;
    case ID_FIND: case ID_OLDER: case ID_NEWER: case ID_LATEST:
        if (!idle(s) || s.roomId.empty()) break;
        if (id == ID_FIND) onFindCommand(s);
        else if (id == ID_OLDER) onOlderCommand(s);
        else if (id == ID_NEWER) onNewerCommand(s);
        else onLatestCommand(s);
        break;
    case ID_MESSAGE_COMBO:
        if (code == CBN_SELCHANGE) updateActionControls(s);
        break;
    case ID_REPLY: onReplyCommand(s); break;
    case ID_EDIT: onEditCommand(s); break;
    case ID_FORWARD: {
        const MessageActions* sel = selectedMessage(s);
        if (idle(s) && sel && sel->canForward) startForward(s, *sel);
        break;
    }
    case ID_MORE:
        if (idle(s)) openMessageActionsMenu(s);
        break;
    default: break;
    }
}

void onTimer(MainWindowState& s, UINT_PTR timer) {
    if (timer == TIMER_REFRESH) {
        onRefreshTimer(s);
    } else if (timer == TIMER_SELF_TEST) {
        if (selfTest.active && selfTestTimeIsUp(GetTickCount(), startTick)) finishSelfTest(s.window, false);
    }
}

void onMinMaxInfo(HWND window, MINMAXINFO* info, int dpi) {
    SIZE least = minimumWindowSize(dpi, workAreaOf(window));
    info->ptMinTrackSize.x = least.cx;
    info->ptMinTrackSize.y = least.cy;
}

// Windows would scale the whole window, frame included; the layout scales
// the client area, so that is what is asked for.
LRESULT onGetDpiScaledSize(const MainWindowState& s, int dpi, SIZE* size) {
    RECT client{};
    if (dpi <= 0 || IsIconic(s.window) || !GetClientRect(s.window, &client)) return FALSE;
    DWORD style = static_cast<DWORD>(GetWindowLongW(s.window, GWL_STYLE));
    DWORD exStyle = static_cast<DWORD>(GetWindowLongW(s.window, GWL_EXSTYLE));
    *size = dpiScaledWindowSize({client.right, client.bottom}, s.dpi, dpi, frameSizeForDpi(style, exStyle, dpi));
    return TRUE;
}

}  // namespace

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // No exception may leave a window procedure: the system's frames in between
    // cannot unwind them.
    try {
        if (message == WM_CREATE) return onCreate(window, reinterpret_cast<CREATESTRUCTW*>(lParam));
        if (message == WM_GETMINMAXINFO) {
            // Asked for before WM_CREATE too, when there is no state yet.
            const MainWindowState* created = stateOf(window);
            onMinMaxInfo(window, reinterpret_cast<MINMAXINFO*>(lParam), created ? created->dpi : dpiForWindow(window));
            return 0;
        }
        MainWindowState* state = stateOf(window);
        if (!state) {
            // A result that arrives before creation finished (or after) must still be freed.
            if (message == WM_NET_RESULT) delete reinterpret_cast<NetResult*>(lParam);
            return DefWindowProcW(window, message, wParam, lParam);
        }
        switch (message) {
        case WM_SIZE:
            // Minimised, the client area is 0 x 0: laid out there, every
            // control would get a negative size and the long transcript would
            // reflow at no width and back on restore.
            if (wParam != SIZE_MINIMIZED) layoutMainWindow(*state);
            return 0;
        case WM_GETDPISCALEDSIZE:
            return onGetDpiScaledSize(*state, static_cast<int>(wParam), reinterpret_cast<SIZE*>(lParam));
        case WM_DPICHANGED:
            applyDpiChange(*state, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_ACTIVATE:
            if (onMainWindowActivate(*state, wParam)) return 0;
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_NOTIFY: {
            auto* header = reinterpret_cast<NMHDR*>(lParam);
            if (header->hwndFrom == state->modeTabs && header->code == TCN_SELCHANGE) {
                onTabChange(*state);
                return 0;
            }
            return DefWindowProcW(window, message, wParam, lParam);
        }
        case WM_COMMAND: onCommand(*state, LOWORD(wParam), HIWORD(wParam)); return 0;
        case WM_TIMER: onTimer(*state, wParam); return 0;
        case WM_NET_RESULT: onNetResult(*state, reinterpret_cast<NetResult*>(lParam)); return 0;
        case WM_DESTROY:
            forgetStatusLiveRegion(*state);
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            if (netResultWindow == window) netResultWindow = nullptr;
            PostQuitMessage(0);
            return 0;
        default: return DefWindowProcW(window, message, wParam, lParam);
        }
    } catch (...) {
        return 0;
    }
}
