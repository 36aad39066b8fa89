// The floor of the client's start-up: the Win32 work its main window cannot
// do without and nothing else. It loads the same rich edit library, asks for
// the same control classes, registers the same four window classes, creates
// the main window and the 38 controls of the client's own table (classes,
// styles, texts, ids, font, cue banners, limits, tab items), places them with
// the client's own layout and shows the window. No state, no timers, no
// subclassing, no reading of the command line or standard input.
#include "ui/dialogs/dialogs.h"
#include "ui/main/layout.h"
#include "ui/main/window.h"

#include <commctrl.h>

#include <string>

namespace {

HWND controls[mainControlCount];
HFONT font;

void createControls(HWND window, HINSTANCE instance) {
    for (int i = 0; i < mainControlCount; ++i) {
        const ControlSpec& row = mainControls[i];
        HWND control = CreateWindowExW(0, row.className, row.text, WS_CHILD | WS_VISIBLE | row.style, 0, 0, 10, 10,
                                       window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.id)), instance,
                                       nullptr);
        controls[i] = control;
        setUpControl(control, row, font);
    }
}

void layout(HWND window) {
    RECT client{};
    if (!GetClientRect(window, &client)) return;
    auto rects = layoutForClientSize(client.right - client.left, client.bottom - client.top, 96);
    for (int i = 0; i < mainControlCount; ++i)
        if (controls[i]) MoveWindow(controls[i], rects[i].left, rects[i].top, rects[i].width, rects[i].height, TRUE);
}

LRESULT CALLBACK bareProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        font = CreateFontW(-15, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI");
        createControls(window, reinterpret_cast<CREATESTRUCTW*>(lParam)->hInstance);
        return 0;
    case WM_SIZE:
        layout(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    wchar_t systemDir[260] = {};
    UINT length = GetSystemDirectoryW(systemDir, 260);
    if (length > 0 && length < 260) LoadLibraryW((std::wstring(systemDir, length) + L"\\Msftedit.dll").c_str());
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TAB_CLASSES};
    InitCommonControlsEx(&icc);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpfnWndProc = bareProc;
    for (const wchar_t* name : {mainWindowClass, deleteDialogClass, forwardDialogClass, newWorkDialogClass}) {
        wc.lpszClassName = name;
        RegisterClassExW(&wc);
    }
    HWND window = CreateWindowExW(0, mainWindowClass, mainWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 1280, 820, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    layout(window);
    ShowWindow(window, showCommand);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
