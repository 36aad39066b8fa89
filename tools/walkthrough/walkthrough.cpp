// A walk through the client as a new operator would take it, against a
// running server: the real main window, visible, with real jobs. After each
// step the window is saved as a picture (BMP) into the given folder, and so
// is each of the three dialogs, opened and closed again without acting. Run
// at any display scale: the sizes it gives are 96-DPI ones, scaled.
//
//   walkthrough.exe SERVER_URL OUTPUT_FOLDER
#include "app/startup.h"
#include "net/http.h"
#include "ui/dialogs/actions.h"
#include "ui/dialogs/dialogs.h"
#include "ui/main/dispatch.h"
#include "ui/main/dpi.h"
#include "ui/main/ids.h"
#include "ui/main/window.h"
#include <commctrl.h>
#include <cstdio>
#include <string>
#include <vector>

namespace {
MainWindowState state;
std::wstring folder;
int shot = 0;

void pumpFor(DWORD ms) {
    DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < ms) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
}

// Until no job runs and none is waiting to start.
void settle() {
    for (int i = 0; i < 3000; ++i) {
        pumpFor(20);
        if (!state.busy && !refreshPending(state)) {
            pumpFor(100);
            if (!state.busy) return;
        }
    }
}

void save(HWND window, const char* name) {
    RECT r{};
    GetWindowRect(window, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(dc, bitmap);
    BitBlt(dc, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    BITMAPINFOHEADER bi{sizeof bi, w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    int stride = ((w * 3 + 3) / 4) * 4;
    std::vector<char> pixels(static_cast<size_t>(stride) * h);
    GetDIBits(dc, bitmap, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER bf{};
    bf.bfType = 0x4D42;
    bf.bfOffBits = sizeof bf + sizeof bi;
    bf.bfSize = bf.bfOffBits + static_cast<DWORD>(pixels.size());
    wchar_t file[64];
    swprintf(file, 64, L"\\%02d-", ++shot);
    std::wstring path = folder + file;
    for (const char* c = name; *c; ++c) path += static_cast<wchar_t>(*c);
    path += L".bmp";
    HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(out, &bf, sizeof bf, &written, nullptr);
    WriteFile(out, &bi, sizeof bi, &written, nullptr);
    WriteFile(out, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
    CloseHandle(out);
    std::printf("%02d %s: %ls\n", shot, name, windowText(state.statusLabel).c_str());
    std::fflush(stdout);
}

void save(const char* name) { save(state.window, name); }

// The dialog of this class, once open, is saved and closed from a timer that
// fires inside its own modal loop.
const wchar_t* dialogClass = nullptr;
const char* dialogShot = nullptr;
UINT_PTR dialogTimer = 0;
void CALLBACK shootDialog(HWND, UINT, UINT_PTR timer, DWORD) {
    // Only this thread's: tests sharing the Wine prefix open the same classes.
    HWND dialog = nullptr;
    do dialog = FindWindowExW(nullptr, dialog, dialogClass, nullptr);
    while (dialog && GetWindowThreadProcessId(dialog, nullptr) != GetCurrentThreadId());
    if (!dialog || !IsWindowVisible(dialog)) return;
    KillTimer(nullptr, timer);
    dialogTimer = 0;
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    save(dialog, dialogShot);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
}
void whenDialogOpens(const wchar_t* className, const char* name) {
    dialogClass = className;
    dialogShot = name;
    // A dialog that never opened leaves no timer waiting for the next one.
    if (dialogTimer) KillTimer(nullptr, dialogTimer);
    dialogTimer = SetTimer(nullptr, 0, 300, shootDialog);
}

void command(int id, int code = 0) { SendMessageW(state.window, WM_COMMAND, MAKEWPARAM(id, code), 0); }

void selectRow(int row) {
    SendMessageW(state.itemList, LB_SETCURSEL, row, 0);
    command(ID_ITEM_LIST, LBN_SELCHANGE);
    settle();
}

void selectTab(int tab) {
    TabCtrl_SetCurSel(state.modeTabs, tab);
    NMHDR n{state.modeTabs, 0, static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageW(state.window, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&n));
    settle();
}

int rowTitled(const wchar_t* part) {
    for (size_t i = 0; i < state.listRows.size(); ++i)
        if (state.listRows[i].label.find(part) != std::wstring::npos) return static_cast<int>(i);
    return 0;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    uiThreadId = GetCurrentThreadId();
    startTick = GetTickCount();
    folder = argv[2];
    state.serverUrl = argv[1];
    HINSTANCE instance = GetModuleHandleW(nullptr);
    prepareWindowing(instance);
    createMainWindow(instance, state);
    layoutMainWindow(state);
    SetWindowPos(state.window, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
    ShowWindow(state.window, SW_SHOWNORMAL);
    pumpFor(500);
    save("start");

    SetWindowTextW(state.loginEdit, L"operator");
    SetWindowTextW(state.passwordEdit, L"kesta");
    command(ID_SIGN_IN);
    settle();
    save("signed-in-first-room");

    selectRow(rowTitled(L"Общий"));
    for (int i = 0; i < 3; ++i) {
        command(ID_OLDER);
        settle();
    }
    save("long-room-page-4");
    command(ID_NEWER);
    settle();
    save("long-room-page-3");
    SetWindowTextW(state.searchEdit, L"склад");
    command(ID_FIND);
    settle();
    save("search");
    command(ID_LATEST);
    settle();

    SendMessageW(state.messageCombo, CB_SETCURSEL, state.actions.size(), 0);
    command(ID_MESSAGE_COMBO, CBN_SELCHANGE);
    command(ID_REPLY);
    SetWindowTextW(state.composerEdit, L"Спасибо, принято в работу.");
    save("reply-mode");
    command(ID_SEND);
    settle();
    save("reply-sent");

    SendMessageW(state.messageCombo, CB_SETCURSEL, state.actions.size(), 0);
    command(ID_MESSAGE_COMBO, CBN_SELCHANGE);
    whenDialogOpens(L"KestaForwardMessage", "dialog-forward");
    command(ID_FORWARD);
    settle();
    if (!state.actions.empty()) {
        whenDialogOpens(L"KestaDeleteMessage", "dialog-delete");
        confirmDeletion(state, state.actions.back());
    }

    selectTab(1);
    settle();
    save("cases");
    int queued = 0;
    for (size_t i = 0; i < state.listLines.size(); ++i)
        if (state.listLines[i].rfind(L"В очереди", 0) == 0) queued = static_cast<int>(i);
    selectRow(queued);
    save("case-queued");
    SetWindowTextW(state.reasonEdit, L"Назначаю на первую линию");
    command(ID_ACTION_FIRST);  // assign
    settle();
    save("case-assigned");

    selectTab(2);
    settle();
    save("tickets");
    whenDialogOpens(L"KestaNewWork", "dialog-new-ticket");
    command(ID_NEW_WORK);
    settle();

    // Smallest, large and back to the first size: each control must be drawn whole.
    const struct { const char* name; int width, height; } sizes[] = {
        {"size-minimum", 1100, 650}, {"size-large", 1520, 990}, {"size-default", 1280, 820}};
    for (const auto& size : sizes) {
        SetWindowPos(state.window, nullptr, 0, 0, scaled(state, size.width), scaled(state, size.height),
                     SWP_NOMOVE | SWP_NOZORDER);
        pumpFor(700);
        save(size.name);
    }

    std::printf("done\n");
    DestroyWindow(state.window);
    return 0;
}
