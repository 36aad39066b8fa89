// The reliability suite's tools: the table of what was tried and what held, a
// real main window driven with real worker threads against the local server
// (directly or through the network tests' relay), and the process counters
// the long runs watch.
#pragma once
#include "../net/net_support.h"
#include "../net/relay.h"

#include "net/jobs.h"
#include "ui/main/state.h"

#include <winsock2.h>

#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// ----- the table ------------------------------------------------------------

// One row: a fault or check that was tried, and whether everything it
// expected held. The row enters the table when it goes out of scope; a
// REQUIRE that escapes marks it as not held.
struct TableRow {
    std::string area;
    std::string tried;
    std::string expected;
    std::string note;
    std::vector<std::string> failures;
    size_t slot = 0;  // the row's place in the table: the order rows began
    TableRow(std::string area, std::string tried, std::string expected);
    ~TableRow();
    TableRow(const TableRow&) = delete;
    TableRow& operator=(const TableRow&) = delete;
    void expect(bool ok, const std::string& what);
};

// CHECK that also records the outcome in the row.
#define HOLDS(row, ...)                                 \
    do {                                                \
        bool holds_ = static_cast<bool>(__VA_ARGS__);   \
        CHECK_MESSAGE(holds_, #__VA_ARGS__);            \
        (row).expect(holds_, #__VA_ARGS__);             \
    } while (0)

// Equality with both values in the report.
#define HOLDS_EQ(row, actual, wanted)                                         \
    do {                                                                      \
        auto actual_ = (actual);                                              \
        auto wanted_ = (wanted);                                              \
        bool holds_ = actual_ == wanted_;                                     \
        CHECK(actual_ == wanted_);                                            \
        (row).expect(holds_, #actual " == " #wanted);                         \
    } while (0)

// ----- small helpers ----------------------------------------------------------

// Runs f on a thread of its own and waits: the window's thread must never
// make a request itself (the transport would flag it), not even the test's
// own calls to the server's control paths.
void offUiThread(const std::function<void()>& f);
void fault(const std::string& json);
void clearFaults();
void resetData();

std::string utf8(const std::wstring& text);
// The build folder (where kesta.exe lies), as a Windows path.
std::wstring buildFolder();
unsigned long long nowMs();

// ----- the live window ------------------------------------------------------------

// A real main window (never shown) whose jobs run on real worker threads.
// The periodic timer is stopped: the tests send its tick themselves, so that
// an injected fault meets the refresh it was meant for.
struct LiveWindow {
    MainWindowState state;
    HWND window = nullptr;
    explicit LiveWindow(const std::wstring& serverUrl);
    ~LiveWindow();
    LiveWindow(const LiveWindow&) = delete;
    LiveWindow& operator=(const LiveWindow&) = delete;
};

// Runs the message queue until done() or the time is up; true when done.
bool pumpUntil(const std::function<bool()>& done, unsigned long long timeoutMs);
void pumpFor(unsigned long long ms);
// Until no job runs (a successful action's refresh included).
bool settle(LiveWindow& w, unsigned long long timeoutMs = 30000);
void sendCommand(LiveWindow& w, int id, int code = 0);
// What timer 1 does on its tick.
void tick(LiveWindow& w);
// Signs in, lets the first room open; true when its page is shown.
bool signInAndOpen(LiveWindow& w, const std::wstring& login, const std::wstring& password);
bool selectMessage(LiveWindow& w, const std::wstring& id);
bool selectFile(LiveWindow& w, const std::wstring& fileId);
// The whole text of a control.
std::wstring textOf(HWND control);
std::wstring statusText(const LiveWindow& w);
std::wstring composer(const LiveWindow& w);
bool showsConnectedLine(const LiveWindow& w);

// The file dialogs answer with these paths (a path ending the upload by
// deleting its file first simulates a file that vanished after choosing).
extern std::wstring chosenUpload;
extern std::wstring chosenDownload;
extern std::function<void()> beforeUploadChosen;
void useScriptedFileDialogs();

// ----- process counters -------------------------------------------------------------

struct ProcessCounters {
    long handles = 0;
    long threads = 0;
    unsigned long long privateBytes = 0;
};
ProcessCounters processCounters();
// Waits (pumping) until the thread count is back at most at `limit`.
long threadsSettleTo(long limit, unsigned long long timeoutMs);
