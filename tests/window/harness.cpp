#include "harness.h"
#include "app/startup.h"
#include "ui/main/dispatch.h"
#include "ui/main/window.h"
#include <commctrl.h>

namespace {
std::vector<NetJob> capturedJobs;

bool captureJob(NetJob* job) {
    capturedJobs.push_back(*job);
    delete job;
    return true;
}

void prepareClasses() {
    static bool done = false;
    if (done) return;
    done = true;
    prepareWindowing(GetModuleHandleW(nullptr));
}
}  // namespace

Harness::Harness() {
    prepareClasses();
    netJobLauncher = captureJob;
    capturedJobs.clear();
    state.serverUrl = L"http://127.0.0.1:9";
    window = createMainWindow(GetModuleHandleW(nullptr), state);
    layoutMainWindow(state);
}

Harness::~Harness() {
    if (IsWindow(window)) DestroyWindow(window);
    // The destroyed window posted WM_QUIT; it must not end the next test's loops.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_NET_RESULT) delete reinterpret_cast<NetResult*>(msg.lParam);
    }
    capturedJobs.clear();
}

std::vector<NetJob> takeJobs() {
    std::vector<NetJob> jobs;
    jobs.swap(capturedJobs);
    return jobs;
}

NetResult resultOf(const NetJob& job) {
    NetResult r;
    r.job = job;
    r.ok = true;
    return r;
}

void deliver(Harness& h, const NetJob&, NetResult result) {
    SendMessageW(h.window, WM_NET_RESULT, 0, reinterpret_cast<LPARAM>(new NetResult(std::move(result))));
}

void pumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

std::wstring textOf(HWND control) { return windowText(control); }

std::wstring classOf(HWND control) {
    wchar_t name[128] = {};
    GetClassNameW(control, name, 128);
    return name;
}

HWND findOwnWindow(const wchar_t* className) {
    struct Search {
        const wchar_t* name;
        HWND found;
    } search{className, nullptr};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND w, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            wchar_t name[64] = {};
            GetClassNameW(w, name, 64);
            if (std::wstring(name) != s->name) return TRUE;
            s->found = w;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

namespace {
std::function<void(HWND)> pendingAction;
const wchar_t* pendingClass = nullptr;
void CALLBACK actOnDialog(HWND, UINT, UINT_PTR id, DWORD) {
    HWND dialog = findOwnWindow(pendingClass);
    if (!dialog) return;
    KillTimer(nullptr, id);
    auto action = pendingAction;
    pendingAction = nullptr;
    if (action) action(dialog);
}
}  // namespace

void whenDialogOpens(const wchar_t* className, std::function<void(HWND)> action) {
    pendingClass = className;
    pendingAction = std::move(action);
    SetTimer(nullptr, 0, 30, actOnDialog);
}

namespace {
std::vector<HWND> eventWindows;
void CALLBACK noteEvent(HWINEVENTHOOK, DWORD, HWND window, LONG, LONG, DWORD, DWORD) { eventWindows.push_back(window); }
}  // namespace

WinEvents::WinEvents(DWORD event) {
    eventWindows.clear();
    hook = SetWinEventHook(event, event, nullptr, noteEvent, GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
}

WinEvents::~WinEvents() {
    if (hook) UnhookWinEvent(hook);
    eventWindows.clear();
}

int WinEvents::takeFor(HWND window) {
    pumpMessages();
    int count = 0;
    for (HWND w : eventWindows)
        if (w == window) ++count;
    eventWindows.clear();
    return count;
}
