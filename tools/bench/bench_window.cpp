// The window thread per refresh, and a day of refreshes.
//
// bench_window refresh ROUNDS
//   A real main window, shown, signed in with results fed to it (jobs are
//   captured, no network). Times the window thread from the arrival of a
//   refresh result to the end of the painting it causes, for a changed and an
//   unchanged page of 50, 200 and 500 messages, against a bare SetWindowTextW
//   of the same transcript into a control of the same class, style and size;
//   then a changed and an unchanged list of 1000 and of 10000 rooms (and the
//   first fill of the 10000), against the same
//   lines put into a list box of the list's class, style and size.
//
// bench_window day SERVER COUNT
//   The same window with its real workers and transport against the local
//   server (demo data, test controls): signs in, opens the first room, then
//   runs COUNT refreshes back to back. The room's history is served by a
//   test-control fault as a 200-message page that alternates between two
//   versions, so every refresh replaces the transcript. Private bytes (and,
//   since Wine reports those as 0, the working set), handles and threads
//   after the first refresh and after the last.
//
// bench_window slowlink SERVER ROUNDS shared|own-session|own-connection
//   The same window with its real workers and transport against SERVER (the
//   local server with TLS behind a slow relay): signs in, opens the first
//   room, then times ROUNDS periodic refreshes and ROUNDS sends, each with
//   the refresh that follows it, from the job's start to the arrival of its
//   (last) result on the window thread. The third argument chooses how the
//   transport comes by its session (shared: the program's way; the others:
//   as before it kept one). Prints per row the median, the requests each job
//   made and the connections the row opened, from the server's request log.
//
// bench_window slowpage SERVER DIRECT ROUNDS
//   The same over a narrow slow link, the room's history served (a
//   test-control fault, set through DIRECT, the server itself) as a
//   200-message page: times ROUNDS periodic refreshes; prints the median and
//   the requests each made, and a line "ready" before the rounds.
#include "replies.h"
#include "timing.h"

#include "app/startup.h"
#include "net/http.h"
#include "net/jobs.h"
#include "text/json.h"
#include "text/utf.h"
#include "ui/main/dispatch.h"
#include "ui/main/ids.h"
#include "ui/main/state.h"
#include "ui/main/window.h"

#include <commctrl.h>
#include <psapi.h>
#include <richedit.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <cstring>

namespace {

std::vector<NetJob> captured;

bool captureJob(NetJob* job) {
    captured.push_back(*job);
    delete job;
    return true;
}

void prepareClasses() {
    prepareWindowing(GetModuleHandleW(nullptr));
}

void pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Everything the window thread owes the screen after a change: pending
// paints of the window and all its controls, then whatever they posted.
void paintNow(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    pump();
}

NetJob takeRefreshJob() {
    NetJob job;
    bool found = false;
    for (NetJob& j : captured)
        if (j.kind == NetJobKind::Refresh) {
            job = j;
            found = true;
        }
    captured.clear();
    if (!found) {
        std::printf("{\"error\": \"the window started no refresh\"}\n");
        std::exit(1);
    }
    return job;
}

const char meReply[] = u8R"({"user": {"id": "u-1", "login": "operator", "name": "Анна Смирнова"},
 "memberships": [{"id": "org-north", "name": "ООО «Северный ветер»", "role": "admin"}]})";
const char linesReply[] = u8R"([{"id": "line-1", "name": "Первая линия"}, {"id": "line-2", "name": "Вторая линия"}])";

struct Window {
    MainWindowState state;
    HWND window = nullptr;
};

void create(Window& w, const std::wstring& server) {
    w.state.serverUrl = server;
    w.window = createMainWindow(GetModuleHandleW(nullptr), w.state);
    layoutMainWindow(w.state);
    ShowWindow(w.window, SW_SHOWNORMAL);
    UpdateWindow(w.window);
    pump();
}

// Seconds of the last delivery spent in the result handler itself, and
// before it on the worker, reading what the window installed to be read there.
double handlerSeconds = 0;
double workerSeconds = 0;

// Delivers a refresh result for the pending refresh job, read first as the
// worker reads it; returns the window thread's seconds from arrival to painted.
double deliverRefresh(Window& w, const std::string& list, const std::string& history) {
    NetJob job = takeRefreshJob();
    auto* r = new NetResult;
    r->job = job;
    r->listJson = list;
    if (!job.params[Slot::itemId].empty()) r->historyJson = history;
    double workerStart = secondsNow();
    if (auto prepare = prepareNetResult.load()) prepare(*r);
    workerSeconds = secondsNow() - workerStart;
    double start = secondsNow();
    SendMessageW(w.window, WM_NET_RESULT, 0, reinterpret_cast<LPARAM>(r));
    handlerSeconds = secondsNow() - start;
    paintNow(w.window);
    return secondsNow() - start;
}

void signInFed(Window& w, const std::string& rooms, const std::string& firstPage) {
    SetWindowTextW(w.state.loginEdit, L"operator");
    SetWindowTextW(w.state.passwordEdit, L"kesta");
    SendMessageW(w.window, WM_COMMAND, MAKEWPARAM(ID_SIGN_IN, 0), 0);
    if (captured.size() != 1) {
        std::printf("{\"error\": \"no sign-in job\"}\n");
        std::exit(1);
    }
    auto* r = new NetResult;
    r->job = captured[0];
    captured.clear();
    r->value = L"token-bench";
    r->meJson = meReply;
    r->linesJson = linesReply;
    SendMessageW(w.window, WM_NET_RESULT, 0, reinterpret_cast<LPARAM>(r));
    deliverRefresh(w, rooms, "");          // list only: the first room gets chosen
    deliverRefresh(w, rooms, firstPage);   // the first room's page
}

// A control of the same class, styles, size and font as `control`, in the
// reference's own frame window.
HWND twinControl(HWND control, HWND frame) {
    RECT rect{};
    GetWindowRect(control, &rect);
    wchar_t className[64] = {};
    GetClassNameW(control, className, 64);
    HWND twin = CreateWindowExW(GetWindowLongW(control, GWL_EXSTYLE), className, L"",
                                static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE)), 10, 10,
                                rect.right - rect.left, rect.bottom - rect.top, frame, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    SendMessageW(twin, WM_SETFONT, SendMessageW(control, WM_GETFONT, 0, 0), TRUE);
    return twin;
}

double workingSetBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)
               ? static_cast<double>(counters.WorkingSetSize)
               : 0;
}

int refreshPart(int rounds) {
    prepareClasses();
    netJobLauncher = captureJob;
    Window w;
    create(w, L"http://127.0.0.1:9");
    // The periodic refresh would start jobs between the measured results.
    KillTimer(w.window, 1);
    KillTimer(w.window, 2);
    const std::string rooms = roomsReply(30);

    // The reference: a control of the transcript's class, style and size in
    // a window of its own, written with one SetWindowTextW and painted.
    RECT rect{};
    GetWindowRect(w.state.transcriptView, &rect);
    HWND frame = CreateWindowExW(0, L"STATIC", L"bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                 rect.right - rect.left + 40, rect.bottom - rect.top + 60, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    HWND bare = twinControl(w.state.transcriptView, frame);
    SendMessageW(bare, EM_EXLIMITTEXT, 0, 600000);
    paintNow(frame);

    signInFed(w, rooms, historyReply(50));
    for (int count : {50, 200, 500}) {
        const std::string pages[2] = {historyReply(count, 1), historyReply(count, 2)};
        std::wstring texts[2];
        for (int k = 0; k < 2; ++k) {
            refreshNow(w.state);
            deliverRefresh(w, rooms, pages[k]);
            texts[k] = w.state.shownTranscript;
        }
        if (texts[0] == texts[1] || texts[0].empty()) {
            std::printf("{\"error\": \"the two page versions render alike\"}\n");
            return 1;
        }
        std::vector<double> changed, unchanged, reference, changedHandler, unchangedHandler;
        int version = 0;
        for (int i = 0; i < rounds; ++i) {
            version ^= 1;
            refreshNow(w.state);
            changed.push_back(deliverRefresh(w, rooms, pages[version]));
            changedHandler.push_back(handlerSeconds);
            refreshNow(w.state);
            unchanged.push_back(deliverRefresh(w, rooms, pages[version]));
            unchangedHandler.push_back(handlerSeconds);
            const std::wstring& text = texts[i % 2];
            double start = secondsNow();
            SetWindowTextW(bare, text.c_str());
            paintNow(frame);
            reference.push_back(secondsNow() - start);
        }
        if (w.state.shownTranscript != texts[version]) {
            std::printf("{\"error\": \"the window did not show the page\"}\n");
            return 1;
        }
        printRecord("window", "messages" + std::to_string(count),
                    {{"changed", median(changed)},
                     {"unchanged", median(unchanged)},
                     {"changedHandler", median(changedHandler)},
                     {"unchangedHandler", median(unchangedHandler)},
                     {"bare", median(reference)},
                     {"chars", static_cast<double>(texts[0].size())}});
    }

    // A list refresh: 1000 and 10000 rooms, changed (one title differs) and
    // unchanged, with the open room's page the same small one each time. The
    // reference fills a list box of the list's class, style and size with
    // the same lines. For 10000 rooms also the first fill (the list box
    // empty, as after sign-in) and what the list keeps: the bytes of the
    // window's own records of it, and the working set it added.
    ShowWindow(bare, SW_HIDE);
    for (int count : {1000, 10000}) {
        const std::string lists[2] = {roomsReply(count, 1), roomsReply(count, 2)};
        const std::string page = historyReply(10);
        const double before = workingSetBytes();
        for (const std::string& list : lists) {
            refreshNow(w.state);
            deliverRefresh(w, list, page);
        }
        if (w.state.listLines.size() != static_cast<size_t>(count)) {
            std::printf("{\"error\": \"the window did not show the %d rooms\"}\n", count);
            return 1;
        }
        const double kept = workingSetBytes() - before;
        double records = w.state.appliedList ? static_cast<double>(w.state.appliedList->capacity()) : 0;
        for (const ListRow& row : w.state.listRows)
            records += static_cast<double>(sizeof row + (row.id.capacity() + row.label.capacity() + row.ref.capacity() +
                                                         row.tag.capacity()) * sizeof(wchar_t));
        for (const std::wstring& line : w.state.listLines)
            records += static_cast<double>(sizeof line + line.capacity() * sizeof(wchar_t));
        HWND bareList = twinControl(w.state.itemList, frame);
        const std::vector<std::wstring> lines = w.state.listLines;
        std::vector<double> changed, unchanged, reference, changedHandler, unchangedHandler, first, firstHandler,
            changedWorker;
        int version = 1;
        for (int i = 0; i < rounds; ++i) {
            version ^= 1;
            refreshNow(w.state);
            changed.push_back(deliverRefresh(w, lists[version], page));
            changedHandler.push_back(handlerSeconds);
            changedWorker.push_back(workerSeconds);
            refreshNow(w.state);
            unchanged.push_back(deliverRefresh(w, lists[version], page));
            unchangedHandler.push_back(handlerSeconds);
            // The first fill: the list box emptied as sign-out leaves it.
            SendMessageW(w.state.itemList, LB_RESETCONTENT, 0, 0);
            w.state.listLines.clear();
            w.state.listRows.clear();
            w.state.appliedList.reset();
            refreshNow(w.state);
            first.push_back(deliverRefresh(w, lists[version], page));
            firstHandler.push_back(handlerSeconds);
            double start = secondsNow();
            SendMessageW(bareList, WM_SETREDRAW, FALSE, 0);
            SendMessageW(bareList, LB_RESETCONTENT, 0, 0);
            for (const std::wstring& line : lines)
                SendMessageW(bareList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
            SendMessageW(bareList, WM_SETREDRAW, TRUE, 0);
            InvalidateRect(bareList, nullptr, TRUE);
            paintNow(frame);
            reference.push_back(secondsNow() - start);
        }
        DestroyWindow(bareList);
        printRecord("window", "rooms" + std::to_string(count),
                    {{"changed", median(changed)},
                     {"unchanged", median(unchanged)},
                     {"changedHandler", median(changedHandler)},
                     {"changedWorker", median(changedWorker)},
                     {"unchangedHandler", median(unchangedHandler)},
                     {"first", median(first)},
                     {"firstHandler", median(firstHandler)},
                     {"bare", median(reference)},
                     {"rows", static_cast<double>(lines.size())},
                     {"records", records},
                     {"workingSet", kept}});
    }
    DestroyWindow(frame);
    DestroyWindow(w.window);
    return 0;
}

// --- a day of refreshes -----------------------------------------------------

struct Usage {
    double privateBytes = 0;
    double workingSet = 0;
    double handles = 0;
    double threads = 0;
};

// Wine answers GetProcessHandleCount with 0; the system handle table it
// keeps in its server lists every handle with its owner.
double handleCount() {
    typedef LONG(WINAPI * Query)(ULONG, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    struct Entry {
        ULONG ownerPid;
        BYTE objectType, flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    std::vector<char> buffer(1 << 20);
    for (int attempt = 0; attempt < 6; ++attempt, buffer.resize(buffer.size() * 2)) {
        ULONG length = 0;
        if (query(16 /* SystemHandleInformation */, buffer.data(), static_cast<ULONG>(buffer.size()), &length) != 0)
            continue;
        ULONG n = *reinterpret_cast<ULONG*>(buffer.data());
        const Entry* e = reinterpret_cast<const Entry*>(buffer.data() + sizeof(void*));
        double mine = 0;
        for (ULONG i = 0; i < n; ++i)
            if (e[i].ownerPid == GetCurrentProcessId()) mine += 1;
        return mine;
    }
    return -1;
}

Usage usageNow() {
    Usage u;
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters)) {
        u.privateBytes = static_cast<double>(counters.PrivateUsage);
        u.workingSet = static_cast<double>(counters.WorkingSetSize);
    }
    DWORD handles = 0;
    u.handles = GetProcessHandleCount(GetCurrentProcess(), &handles) && handles > 0 ? handles : handleCount();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        THREADENTRY32 entry{};
        entry.dwSize = sizeof entry;
        DWORD self = GetCurrentProcessId();
        for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
            if (entry.th32OwnerProcessID == self) u.threads += 1;
        CloseHandle(snapshot);
    }
    return u;
}

// Runs the window's loop until no job is running, at most `seconds`.
bool waitIdle(Window& w, double seconds) {
    double end = secondsNow() + seconds;
    while (w.state.busy) {
        if (secondsNow() > end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        pump();
    }
    pump();
    return true;
}

// Workers are detached: give the last one time to leave before threads are
// counted.
void settle() {
    for (int i = 0; i < 10; ++i) {
        Sleep(30);
        pump();
    }
}

void control(const std::wstring& server, const std::wstring& path, const std::string& body) {
    HttpRequest request;
    request.serverUrl = server;
    request.method = L"POST";
    request.path = path;
    request.body = body;
    sendHttpRequest(request);
}

// The window with its periodic refresh stopped, signed in as the demo
// operator through its real workers, the first room open.
bool signInLive(Window& w, const std::wstring& server) {
    prepareClasses();
    create(w, server);
    KillTimer(w.window, 1);
    KillTimer(w.window, 2);
    SetWindowTextW(w.state.serverEdit, server.c_str());
    SetWindowTextW(w.state.loginEdit, L"operator");
    SetWindowTextW(w.state.passwordEdit, L"kesta");
    SendMessageW(w.window, WM_COMMAND, MAKEWPARAM(ID_SIGN_IN, 0), 0);
    // Sign-in, the list, the first room's page.
    for (int step = 0; step < 3; ++step) {
        if (!waitIdle(w, 30)) break;
        if (!w.state.busy && !w.state.roomId.empty()) break;
        if (!w.state.busy) refreshNow(w.state);
    }
    if (!waitIdle(w, 30) || w.state.selectedId.empty()) {
        std::printf("{\"error\": \"could not sign in and open a room\"}\n");
        return false;
    }
    return true;
}

int dayPart(const std::wstring& server, int count) {
    Window w;
    if (!signInLive(w, server)) return 1;
    const std::string pages[2] = {historyReply(200, 1), historyReply(200, 2)};
    std::string faultPath = "/api/rooms/" + toUtf8(w.state.selectedId) + "/messages";
    auto serve = [&](int version) {
        control(server, L"/__test/faults/clear", "{}");
        control(server, L"/__test/fault",
                "{\"path\": \"" + faultPath + "\", \"kind\": \"raw\", \"count\": -1, \"body\": " +
                    jsonQuote(toUtf16(pages[version])) + "}");
    };
    Usage first, last;
    double start = 0;
    int done = 0, failed = 0;
    for (int i = 0; i <= count; ++i) {
        serve(i % 2);
        refreshNow(w.state);
        if (!waitIdle(w, 30)) {
            std::printf("{\"error\": \"a refresh did not finish\"}\n");
            return 1;
        }
        if (w.state.shownTranscript.empty() || w.state.actions.size() != 200) ++failed;
        if (i == 0) {
            settle();
            first = usageNow();
            start = secondsNow();
        } else {
            ++done;
        }
    }
    double seconds = secondsNow() - start;
    settle();
    last = usageNow();
    control(server, L"/__test/faults/clear", "{}");
    printRecord("day", "refresh200",
                {{"refreshes", static_cast<double>(done)},
                 {"failed", static_cast<double>(failed)},
                 {"seconds", seconds},
                 {"privateFirst", first.privateBytes},
                 {"privateLast", last.privateBytes},
                 {"workingSetFirst", first.workingSet},
                 {"workingSetLast", last.workingSet},
                 {"handlesFirst", first.handles},
                 {"handlesLast", last.handles},
                 {"threadsFirst", first.threads},
                 {"threadsLast", last.threads}});
    DestroyWindow(w.window);
    return 0;
}

// --- over a slow link ----------------------------------------------------------

// Runs the window's loop until the `results`-th WM_NET_RESULT from now has
// arrived and no job runs any more; returns the arrival time of that result,
// or 0 when it did not come in time.
double arrivalOfResult(Window& w, int results, double seconds) {
    double end = secondsNow() + seconds;
    double arrived = 0;
    int seen = 0;
    while (seen < results || w.state.busy) {
        if (secondsNow() > end) return 0;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;
            if (msg.message == WM_NET_RESULT && ++seen == results) arrived = secondsNow();
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return arrived;
}

std::string controlRequest(const std::wstring& server, const wchar_t* method, const std::wstring& path) {
    HttpRequest request;
    request.serverUrl = server;
    request.method = method;
    request.path = path;
    return sendHttpRequest(request);
}

// What the server's log holds since it was last cleared: the requests and
// the connections they came on that were opened after `before`.
struct LogCount {
    int requests = 0;
    int newConnections = 0;
    int lastConnection = 0;
};

LogCount countLog(const std::wstring& server, int before) {
    JsonValue doc = parse(controlRequest(server, L"GET", L"/__test/log"));
    LogCount count;
    count.lastConnection = before;
    for (JsonIndex entry : arrayElements(doc, 0)) {
        int connection = memberInt(doc, entry, "connection");
        ++count.requests;
        if (connection > count.lastConnection) {
            ++count.newConnections;
            count.lastConnection = connection;
        }
    }
    return count;
}

int slowLinkPart(const std::wstring& server, int rounds, const std::string& use) {
    if (use == "own-session") httpSessionUse = SessionUse::OwnSession;
    else if (use == "own-connection") httpSessionUse = SessionUse::OwnConnection;
    else if (use != "shared") {
        std::printf("{\"error\": \"unknown session use %s\"}\n", use.c_str());
        return 1;
    }
    Window w;
    if (!signInLive(w, server)) return 1;
    // The connections sign-in opened are not the rows'.
    int lastConnection = countLog(server, 0).lastConnection;
    struct Row {
        const char* name;
        int results;  // a send's result, then its refresh's
    };
    for (Row row : {Row{"refresh", 1}, Row{"send", 2}}) {
        controlRequest(server, L"POST", L"/__test/log/clear");
        std::vector<double> times;
        for (int i = 0; i < rounds; ++i) {
            // Not back to back: the periodic refresh comes every few seconds.
            Sleep(500);
            pump();
            std::wstring text;
            double start = secondsNow();
            if (row.results == 1) {
                refreshNow(w.state);
            } else {
                text = L"Медленная линия " + std::to_wstring(i) + L" " + std::to_wstring(GetTickCount());
                SetWindowTextW(w.state.composerEdit, text.c_str());
                start = secondsNow();
                SendMessageW(w.window, WM_COMMAND, MAKEWPARAM(ID_SEND, 0), 0);
            }
            double arrived = arrivalOfResult(w, row.results, 30);
            if (arrived == 0 || (!text.empty() && w.state.shownTranscript.find(text) == std::wstring::npos)) {
                std::printf("{\"error\": \"a %s over the slow link did not come back whole\"}\n", row.name);
                return 1;
            }
            times.push_back(arrived - start);
        }
        LogCount count = countLog(server, lastConnection);
        lastConnection = count.lastConnection;
        printRecord("slowlink", row.name,
                    {{"seconds", median(times)},
                     {"requests", static_cast<double>(count.requests) / rounds},
                     {"connections", static_cast<double>(count.newConnections)},
                     {"rounds", static_cast<double>(rounds)}});
    }
    DestroyWindow(w.window);
    return 0;
}

int slowPagePart(const std::wstring& server, const std::wstring& direct, int rounds) {
    Window w;
    if (!signInLive(w, server)) return 1;
    std::string faultPath = "/api/rooms/" + toUtf8(w.state.selectedId) + "/messages";
    control(direct, L"/__test/faults/clear", "{}");
    control(direct, L"/__test/fault",
            "{\"path\": \"" + faultPath + "\", \"kind\": \"raw\", \"count\": -1, \"body\": " +
                jsonQuote(toUtf16(historyReply(200, 1))) + "}");
    // The first refresh of the page fills the window; the rows are the next.
    refreshNow(w.state);
    if (!waitIdle(w, 60) || w.state.actions.size() != 200) {
        std::printf("{\"error\": \"the 200-message page did not come over the slow link\"}\n");
        return 1;
    }
    controlRequest(direct, L"POST", L"/__test/log/clear");
    // The caller reads the relay's count now and at the end: the rounds'
    // bytes alone (the test controls go to the server directly).
    std::printf("{\"part\": \"slowpage\", \"case\": \"ready\"}\n");
    std::fflush(stdout);
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        Sleep(500);
        pump();
        double start = secondsNow();
        refreshNow(w.state);
        double arrived = arrivalOfResult(w, 1, 60);
        if (arrived == 0 || w.state.actions.size() != 200) {
            std::printf("{\"error\": \"a refresh over the slow link did not come back whole\"}\n");
            return 1;
        }
        times.push_back(arrived - start);
    }
    LogCount count = countLog(direct, 0);
    control(direct, L"/__test/faults/clear", "{}");
    printRecord("slowpage", "refresh200",
                {{"seconds", median(times)},
                 {"requests", static_cast<double>(count.requests) / rounds},
                 {"rounds", static_cast<double>(rounds)}});
    DestroyWindow(w.window);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "refresh") return refreshPart(argc > 2 ? std::atoi(argv[2]) : 9);
    if (mode == "day" && argc > 3) return dayPart(toUtf16(argv[2]), std::atoi(argv[3]));
    if (mode == "slowlink" && argc > 4) return slowLinkPart(toUtf16(argv[2]), std::atoi(argv[3]), argv[4]);
    if (mode == "slowpage" && argc > 4) return slowPagePart(toUtf16(argv[2]), toUtf16(argv[3]), std::atoi(argv[4]));
    std::printf("usage: bench_window refresh ROUNDS | day SERVER COUNT | slowlink SERVER ROUNDS USE | slowpage SERVER DIRECT ROUNDS\n");
    return 2;
}
