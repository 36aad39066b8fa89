// One fault against a signed-in window with work in progress: the operator
// has typed a draft (and is replying or editing, or has a file to send or
// fetch), the fault meets the next refresh or action, and afterwards the
// window must have survived it with nothing lost, then recover on the next
// periodic refresh once the server behaves again.
#pragma once
#include "reliability.h"

#include <functional>
#include <string>

extern const wchar_t cannotReach[];
// The same with the cause the platform named.
extern const wchar_t connectionRefused[];
extern const wchar_t noAnswer[];
extern const wchar_t unreadable[];
extern const wchar_t refusedStatus[];
extern const wchar_t unavailableText[];
extern const wchar_t adminLogin[];
extern const wchar_t adminPassword[];

// Where the fault meets the window.
enum class Trigger {
    Refresh,   // the periodic refresh, with a draft in the composer
    Reply,     // sending a reply, with the reply mode on
    EditSave,  // saving an edit, with the draft set aside
    Upload,    // attaching a file, with a draft in the composer
    Download,  // saving a file over an existing target, with a draft
};

struct Fixture {
    Relay& relay;
    LiveWindow& window;
    std::wstring uploadPath;    // the file the attach dialog chooses
    std::wstring downloadPath;  // the existing target the save dialog chooses
};

struct Scenario {
    std::string tried;
    Trigger trigger = Trigger::Refresh;
    // Arms the fault (server fault, relay rule, local file state).
    std::function<void(Fixture&)> arm;
    // The status line after the fault; empty: the ordinary connected line.
    std::wstring status;
    // The result must be handled within this many milliseconds.
    unsigned long long limitMs = 8000;
    // Runs on a helper thread while the window waits for the result.
    std::function<void(LiveWindow&)> whileWaiting;
    // Further checks right after the fault, and after the recovery.
    std::function<void(Fixture&, TableRow&)> afterFault;
    std::function<void(Fixture&, TableRow&)> afterRecovery;
    bool uploadFileMayChange = false;
    std::string area = "fault";
};

int serverPort();
void runScenario(const Scenario& scenario);
