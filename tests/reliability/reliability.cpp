#include "reliability.h"
#include "kesta_process.h"

#include "app/startup.h"
#include "net/http.h"
#include "ui/dialogs/actions.h"
#include "ui/main/composer.h"
#include "ui/main/dispatch.h"
#include "ui/main/ids.h"
#include "ui/main/window.h"

#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

// ----- the table ------------------------------------------------------------

namespace {

struct TableRecord {
    std::string area, tried, expected, note;
    bool held = true;
    std::string failures;
};

std::string cell(std::string text) {
    for (char& c : text)
        if (c == '|' || c == '\n' || c == '\r') c = ' ';
    return text;
}

// Written when the program ends, after doctest's own summary, so that the
// count is the last line of the output.
struct Table {
    std::mutex lock;
    std::vector<TableRecord> rows;
    ~Table() {
        if (rows.empty()) return;
        int held = 0;
        std::string text = "| # | area | what was tried | what must hold | held |\n|---|---|---|---|---|\n";
        for (size_t i = 0; i < rows.size(); ++i) {
            const TableRecord& r = rows[i];
            if (r.held) ++held;
            std::string outcome = r.held ? "yes" : "NO: " + r.failures;
            if (!r.note.empty()) outcome += " (" + r.note + ")";
            text += "| " + std::to_string(i + 1) + " | " + cell(r.area) + " | " + cell(r.tried) + " | " +
                    cell(r.expected) + " | " + cell(outcome) + " |\n";
        }
        std::string last = "faults: " + std::to_string(rows.size()) + " tried, " + std::to_string(held) + " held\n";
        std::wstring path = buildFolder() + L"\\reliability.md";
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            std::string whole = "# Reliability run\n\n" + text + "\n" + last;
            DWORD written = 0;
            WriteFile(file, whole.data(), static_cast<DWORD>(whole.size()), &written, nullptr);
            CloseHandle(file);
        }
        std::fputs("\n", stdout);
        std::fputs(text.c_str(), stdout);
        std::fputs(last.c_str(), stdout);
        std::fflush(stdout);
    }
};

Table& table() {
    static Table instance;
    return instance;
}

}  // namespace

TableRow::TableRow(std::string a, std::string t, std::string e)
    : area(std::move(a)), tried(std::move(t)), expected(std::move(e)) {
    // The table is made before the first row, so it outlives them all.
    std::lock_guard<std::mutex> guard(table().lock);
    slot = table().rows.size();
    table().rows.push_back(TableRecord{area, tried, expected, "", false, "not finished"});
}

TableRow::~TableRow() {
    TableRecord record{area, tried, expected, note, failures.empty(), std::string()};
    if (std::uncaught_exceptions() > 0) {
        record.held = false;
        failures.push_back("the case stopped early");
    }
    for (size_t i = 0; i < failures.size(); ++i) record.failures += (i ? "; " : "") + failures[i];
    std::lock_guard<std::mutex> guard(table().lock);
    table().rows[slot] = record;
}

void TableRow::expect(bool ok, const std::string& what) {
    if (!ok) failures.push_back(what);
}

// ----- small helpers ----------------------------------------------------------

void offUiThread(const std::function<void()>& f) {
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            f();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    worker.join();
    if (failure) std::rethrow_exception(failure);
}

void fault(const std::string& json) {
    offUiThread([&] { injectFault(json); });
}

void clearFaults() {
    offUiThread([] { clearServerFaults(); });
}

void resetData() {
    offUiThread([] {
        clearServerFaults();
        resetServer();
    });
}

std::string utf8(const std::wstring& text) { return toUtf8(text); }

std::wstring buildFolder() {
    std::string exe = KESTA_EXE_PATH;
    return windowsPath(exe.substr(0, exe.rfind('/')));
}

unsigned long long nowMs() { return GetTickCount64(); }

// ----- the live window ------------------------------------------------------------

namespace {

void prepareClasses() {
    static bool done = false;
    if (done) return;
    done = true;
    prepareWindowing(GetModuleHandleW(nullptr));
}

void drainQueue() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace

LiveWindow::LiveWindow(const std::wstring& serverUrl) {
    prepareClasses();
    // The window's own thread is the UI thread: a request made on it would be
    // flagged by the transport, which the suite checks after every case.
    uiThreadId = GetCurrentThreadId();
    netJobLauncher = launchNetJobThread;
    state.serverUrl = serverUrl;
    window = createMainWindow(GetModuleHandleW(nullptr), state);
    REQUIRE(window != nullptr);
    layoutMainWindow(state);
    SetWindowTextW(state.serverEdit, serverUrl.c_str());
    KillTimer(window, TIMER_REFRESH);
}

LiveWindow::~LiveWindow() {
    // A late result of this window must not reach the next one.
    settle(*this, 40000);
    if (IsWindow(window)) DestroyWindow(window);
    drainQueue();
}

void pumpFor(unsigned long long ms) {
    unsigned long long end = nowMs() + ms;
    for (;;) {
        drainQueue();
        unsigned long long now = nowMs();
        if (now >= end) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<unsigned long long>(end - now, 50)),
                                  QS_ALLINPUT);
    }
}

bool pumpUntil(const std::function<bool()>& done, unsigned long long timeoutMs) {
    unsigned long long end = nowMs() + timeoutMs;
    for (;;) {
        drainQueue();
        if (done()) return true;
        unsigned long long now = nowMs();
        if (now >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<unsigned long long>(end - now, 20)),
                                  QS_ALLINPUT);
    }
}

bool settle(LiveWindow& w, unsigned long long timeoutMs) {
    return pumpUntil([&] { return !w.state.busy; }, timeoutMs);
}

void sendCommand(LiveWindow& w, int id, int code) { SendMessageW(w.window, WM_COMMAND, MAKEWPARAM(id, code), 0); }

void tick(LiveWindow& w) { SendMessageW(w.window, WM_TIMER, TIMER_REFRESH, 0); }

bool signInAndOpen(LiveWindow& w, const std::wstring& login, const std::wstring& password) {
    SetWindowTextW(w.state.loginEdit, login.c_str());
    SetWindowTextW(w.state.passwordEdit, password.c_str());
    sendCommand(w, ID_SIGN_IN);
    return pumpUntil([&] { return !w.state.busy && !w.state.roomId.empty(); }, 30000);
}

bool selectMessage(LiveWindow& w, const std::wstring& id) { return selectMessageById(w.state, id); }

bool selectFile(LiveWindow& w, const std::wstring& fileId) {
    for (size_t i = 0; i < w.state.files.size(); ++i) {
        if (w.state.files[i].id != fileId) continue;
        SendMessageW(w.state.fileCombo, CB_SETCURSEL, i, 0);
        return true;
    }
    return false;
}

std::wstring textOf(HWND control) { return windowText(control); }

std::wstring statusText(const LiveWindow& w) { return textOf(w.state.statusLabel); }
std::wstring composer(const LiveWindow& w) { return textOf(w.state.composerEdit); }

bool showsConnectedLine(const LiveWindow& w) { return statusText(w).rfind(L"Подключено · ", 0) == 0; }

std::wstring chosenUpload;
std::wstring chosenDownload;
std::function<void()> beforeUploadChosen;

namespace {
bool scriptedUpload(HWND, std::wstring& path) {
    if (beforeUploadChosen) beforeUploadChosen();
    path = chosenUpload;
    return !path.empty();
}
bool scriptedDownload(HWND, std::wstring& path) {
    path = chosenDownload;
    return !path.empty();
}
}  // namespace

void useScriptedFileDialogs() { fileDialogs = FileDialogs{scriptedUpload, scriptedDownload}; }

// ----- process counters -------------------------------------------------------------

namespace {

// SYSTEM_HANDLE_INFORMATION: Wine answers it, while GetProcessHandleCount
// there always says 0.
struct HandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
};
struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
};

long countHandles() {
    typedef LONG(NTAPI * QueryFn)(ULONG, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    std::vector<char> buffer(1 << 20);
    ULONG needed = 0;
    LONG status;
    while ((status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
           static_cast<LONG>(0xC0000004L))
        buffer.resize(buffer.size() * 2);
    if (status != 0) return -1;
    const HandleTable* handles = reinterpret_cast<const HandleTable*>(buffer.data());
    long own = 0;
    DWORD pid = GetCurrentProcessId();
    for (ULONG i = 0; i < handles->count; ++i)
        if (handles->entries[i].ownerPid == pid) ++own;
    return own;
}

long countThreads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    long own = 0;
    DWORD pid = GetCurrentProcessId();
    if (Thread32First(snapshot, &entry)) {
        do {
            if (entry.th32OwnerProcessID == pid) ++own;
        } while (Thread32Next(snapshot, &entry));
    }
    CloseHandle(snapshot);
    return own;
}

// Committed private memory, summed over the address space: Wine keeps no
// private-bytes counter of its own.
unsigned long long countPrivateBytes() {
    unsigned long long total = 0;
    MEMORY_BASIC_INFORMATION region;
    const char* address = nullptr;
    while (VirtualQuery(address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= address) break;
        address = next;
    }
    return total;
}

}  // namespace

ProcessCounters processCounters() {
    ProcessCounters c;
    c.handles = countHandles();
    c.threads = countThreads();
    c.privateBytes = countPrivateBytes();
    return c;
}

long threadsSettleTo(long limit, unsigned long long timeoutMs) {
    long threads = countThreads();
    unsigned long long end = nowMs() + timeoutMs;
    while (threads > limit && nowMs() < end) {
        pumpFor(20);
        threads = countThreads();
    }
    return threads;
}
