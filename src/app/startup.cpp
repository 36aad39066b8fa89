#include "app/startup.h"
#include "app/selftest.h"
#include "app/stdin_signin.h"
#include "net/http.h"
#include "ui/main/keyboard.h"
#include "ui/main/window.h"
#include "ui/dialogs/dialogs.h"
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

DWORD startTick = 0;
std::wstring markerText;

CommandLine scanCommandLine(const std::vector<std::wstring>& args) {
    CommandLine line;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& a = args[i];
        bool hasValue = i + 1 < args.size();
        if (a == L"--server") {
            if (!hasValue) continue;
            line.serverUrl = args[++i];
            line.serverGiven = true;
        } else if (a == L"--self-test" || a == L"--history-self-test" || a == L"--message-actions-self-test" ||
                   a == L"--message-moderation-self-test") {
            if (!hasValue) continue;
            line.reportPath = args[++i];
            line.selfTest = true;
            line.readStdin = true;
            if (a == L"--history-self-test") line.historyScenario = true;
            if (a == L"--message-actions-self-test") line.actionsScenario = true;
            if (a == L"--message-moderation-self-test") line.moderationScenario = true;
        } else if (a == L"--proxy") {
            if (!hasValue) continue;
            const std::wstring& value = args[++i];
            line.proxy.kind = value == L"none" ? ProxyChoice::Direct : ProxyChoice::Named;
            line.proxy.url = value == L"none" ? std::wstring() : value;
        } else if (a == L"--login-stdin") {
            line.readStdin = true;
        }
    }
    return line;
}

std::wstring markerFor(DWORD tick) {
    return L"Проверка нативного клиента " + std::to_wstring(static_cast<unsigned long>(tick));
}

void registerWindowClasses(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    struct { const wchar_t* name; WNDPROC proc; } classes[] = {
        {mainWindowClass, mainWindowProc},
        {deleteDialogClass, deleteDialogProc},
        {forwardDialogClass, forwardDialogProc},
        {newWorkDialogClass, newWorkDialogProc},
        {proxyDialogClass, proxyDialogProc},
    };
    for (auto& c : classes) {
        wc.lpszClassName = c.name;
        wc.lpfnWndProc = c.proc;
        RegisterClassExW(&wc);
    }
}

void prepareWindowing(HINSTANCE instance) {
    wchar_t systemDir[260] = {};
    UINT length = GetSystemDirectoryW(systemDir, 260);
    if (length > 0 && length < 260) {
        std::wstring path = std::wstring(systemDir, length) + L"\\Msftedit.dll";
        LoadLibraryW(path.c_str());
    }
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TAB_CLASSES};
    InitCommonControlsEx(&icc);
    registerWindowClasses(instance);
}

namespace {
std::vector<std::wstring> processArguments() {
    std::vector<std::wstring> args;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv) return args;
    for (int i = 1; i < count; ++i) args.push_back(argv[i]);
    LocalFree(argv);
    return args;
}

MainWindowState mainWindowState;
}

int runKesta(HINSTANCE instance, int showCommand) {
    uiThreadId = GetCurrentThreadId();
    startTick = GetTickCount();
    markerText = markerFor(startTick);

    CommandLine line = scanCommandLine(processArguments());
    useHttpProxy(line.proxy);
    mainWindowState.serverUrl = line.serverGiven ? line.serverUrl : std::wstring(KESTA_DEFAULT_SERVER);
    selfTest.active = line.selfTest;
    selfTest.historyScenario = line.historyScenario;
    selfTest.actionsScenario = line.actionsScenario;
    selfTest.moderationScenario = line.moderationScenario;
    selfTest.reportPath = line.reportPath;

    // The shell asks for COM, apartment-threaded, on a thread that hands it
    // work (the web interface opened through ShellExecuteW); once, here.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    prepareWindowing(instance);

    HWND window = createMainWindow(instance, mainWindowState);
    // Without a window there is nothing to show and no loop would ever end.
    if (!window) return line.selfTest ? 1 : 0;
    layoutMainWindow(mainWindowState);
    if (!selfTest.active) ShowWindow(window, showCommand);
    placeSignInFocus(mainWindowState);
    if (line.readStdin) readSignInFromStdin(mainWindowState);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) dispatchMainWindowMessage(mainWindowState, msg);
    // Workers still running keep it until their requests end.
    closeHttpSession();
    if (SUCCEEDED(com)) CoUninitialize();
    if (!line.selfTest) return 0;
    return selfTest.passed ? 0 : 1;
}
