// A real main window, hidden, fed with results built from reply texts: no
// network, no worker threads. Jobs the window starts are captured instead.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>
#include "net/jobs.h"
#include "ui/main/state.h"

struct Harness {
    MainWindowState state;
    HWND window = nullptr;
    Harness();
    ~Harness();
    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;
};

// Jobs started since the last call (the window's startNetJob went through).
std::vector<NetJob> takeJobs();

// Hands a result to the window as a worker would, for the given job.
void deliver(Harness& h, const NetJob& job, NetResult result);

// A successful result of the job with these replies.
NetResult resultOf(const NetJob& job);

// Runs the message queue until it is empty.
void pumpMessages();

std::wstring textOf(HWND control);
std::wstring classOf(HWND control);

// A window of this thread only: other test programs running at the same time
// open dialogs of the same classes.
HWND findOwnWindow(const wchar_t* className);

// Runs `action` on the first window of `className` once it exists, from a
// timer that fires inside whatever nested loop is running.
void whenDialogOpens(const wchar_t* className, std::function<void(HWND)> action);

// The WinEvents of one kind raised in this process, as a screen reader's
// out-of-context hook receives them: they arrive while the queue is pumped.
struct WinEvents {
    explicit WinEvents(DWORD event);
    ~WinEvents();
    WinEvents(const WinEvents&) = delete;
    WinEvents& operator=(const WinEvents&) = delete;
    // How many arrived for the window since the last call (pumps first).
    int takeFor(HWND window);
    HWINEVENTHOOK hook = nullptr;
};
