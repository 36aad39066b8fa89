#include "app/stdin_signin.h"
#include "app/selftest.h"
#include "app/startup.h"
#include "text/secret.h"
#include "ui/main/ids.h"
#include "ui/main/keyboard.h"
#include <memory>
#include <vector>

void applySignInInput(MainWindowState& s, std::string& input) {
    SignInInput in = readSignInInput(input, selfTest.moderationScenario, selfTest.actionsScenario, selfTest.historyScenario);
    struct Wiper {
        std::wstring& password;
        ~Wiper() { wipeSecret(password); }
    } wiper{in.password};
    // Malformed input: no sign-in; the window waits for the operator.
    if (!in.valid) return;
    try {
        if (selfTest.moderationScenario) {
            selfTest.moderationTarget = in.moderationTarget;
            selfTest.moderationRole = in.moderationRole;
        }
        if (selfTest.actionsScenario) {
            selfTest.replyTarget = in.replyTarget;
            selfTest.editTarget = in.editTarget;
            selfTest.forwardRoom = in.forwardRoom;
        }
        if (selfTest.historyScenario) markerText = in.historyMarker;
        SetWindowTextW(s.loginEdit, in.login.c_str());
        SetWindowTextW(s.passwordEdit, in.password.c_str());
        PostMessageW(s.window, WM_COMMAND, MAKEWPARAM(ID_SIGN_IN, 0), 0);
    } catch (...) {
        // Start-up goes on without a sign-in; the window waits for the operator.
    }
}

namespace {
// The one read of standard input runs on a thread of its own: a pipe whose
// writer neither writes nor closes would otherwise hold the window before the
// message loop ever runs (no answer to the operator, no self-test time limit),
// and not every system can tell whether bytes wait in a pipe. Whoever lets go
// of the record last wipes its buffer.
struct StdinRead {
    HANDLE in = nullptr;
    HANDLE done = nullptr;
    std::vector<char> buffer = std::vector<char>(4096, 0);
    DWORD got = 0;
    bool ok = false;
    StdinRead() = default;
    StdinRead(const StdinRead&) = delete;
    StdinRead& operator=(const StdinRead&) = delete;
    ~StdinRead() {
        wipeSignInBuffer(buffer.data(), buffer.size());
        if (done) CloseHandle(done);
    }
};

// A system thread, not a detached std::thread: under load, this reader ending
// just as the sign-in job's std::thread started was seen to crash the program
// or lose that job (the runtime recycles a thread's record as it ends).
DWORD WINAPI readStdin(LPVOID param) {
    std::unique_ptr<std::shared_ptr<StdinRead>> holder(static_cast<std::shared_ptr<StdinRead>*>(param));
    StdinRead& read = **holder;
    read.ok = ReadFile(read.in, read.buffer.data(), 4096, &read.got, nullptr) != FALSE;
    SetEvent(read.done);
    return 0;
}

// Runs the window's messages until the read is done. False when a quit came
// first (posted again for the message loop) or the wait failed.
bool waitWithMessages(MainWindowState& s, HANDLE done) {
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return false;
            }
            // The window is shown meanwhile and keeps its keyboard handling.
            dispatchMainWindowMessage(s, msg);
        }
        DWORD woke = MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0) return true;
        if (woke != WAIT_OBJECT_0 + 1) return false;
    }
}
}  // namespace

void readSignInFromStdin(MainWindowState& s) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    if (!in || in == INVALID_HANDLE_VALUE) return;
    std::shared_ptr<StdinRead> read;
    try {
        read = std::make_shared<StdinRead>();
        read->in = in;
        read->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!read->done) return;
        std::unique_ptr<std::shared_ptr<StdinRead>> holder(new std::shared_ptr<StdinRead>(read));
        HANDLE thread = CreateThread(nullptr, 0, readStdin, holder.get(), 0, nullptr);
        if (!thread) return;
        holder.release();
        CloseHandle(thread);
    } catch (...) {
        return;
    }
    if (!waitWithMessages(s, read->done) || !IsWindow(s.window)) return;
    // The operator signed in by hand while standard input was silent.
    if (!s.token.empty() || s.busy) return;
    if (!read->ok || read->got == 0) return;
    std::string input(read->buffer.data(), read->got);
    wipeSignInBuffer(read->buffer.data(), read->buffer.size());
    applySignInInput(s, input);
}
