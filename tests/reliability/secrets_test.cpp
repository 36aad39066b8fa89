// Secrets: the password and the token leave no copy behind in the jobs, in
// the buffers of the sign-in exchange and of standard input, or in any file
// the program writes; what goes to the server carries them only there.
#include "scenario.h"
#include "process.h"

#include "app/stdin_signin.h"
#include "net/http.h"
#include "net/jobs.h"
#include "text/secret.h"
#include "ui/main/ids.h"

#include <malloc.h>
#include <mutex>

namespace {

struct Released {
    size_t size;
    bool zeros;
};

std::mutex releasedLock;
std::vector<Released> released;

void recordRelease(const char* data, size_t size) {
    bool zeros = true;
    for (size_t i = 0; i < size; ++i)
        if (data[i] != 0) zeros = false;
    std::lock_guard<std::mutex> guard(releasedLock);
    released.push_back(Released{size, zeros});
}

std::vector<Released> takeReleased() {
    std::lock_guard<std::mutex> guard(releasedLock);
    std::vector<Released> all;
    all.swap(released);
    return all;
}

bool allZeros(const std::vector<Released>& all) {
    for (const Released& r : all)
        if (!r.zeros) return false;
    return true;
}

size_t nonEmpty(const std::vector<Released>& all) {
    size_t n = 0;
    for (const Released& r : all)
        if (r.size > 0) ++n;
    return n;
}

// Every bearer token the server saw, from its request log.
std::vector<std::string> tokensSeen() {
    std::vector<std::string> tokens;
    offUiThread([&] {
        for (const LoggedRequest& request : serverLog()) {
            std::wstring header = request.header(L"authorization");
            if (header.rfind(L"Bearer ", 0) == 0) tokens.push_back(utf8(header.substr(7)));
        }
    });
    return tokens;
}


// A secret the test must find in memory without holding it itself: kept
// masked with a key per position and compared unmasked on the fly, so that
// no copy of the test's own lies where the scan looks.
struct Needle {
    std::vector<unsigned char> masked;
    static unsigned char key(size_t i) { return static_cast<unsigned char>(0xA5 ^ (i * 29)); }
    void add(unsigned char byte) { masked.push_back(static_cast<unsigned char>(byte ^ key(masked.size()))); }
    unsigned char at(size_t i) const { return static_cast<unsigned char>(masked[i] ^ key(i)); }
    bool matches(const unsigned char* p) const {
        for (size_t i = 0; i < masked.size(); ++i)
            if ((p[i] ^ key(i)) != masked[i]) return false;
        return true;
    }
};

// The ASCII secret as UTF-8 and as UTF-16 bytes.
struct Secret {
    Needle narrow, wide;
    size_t size() const { return narrow.masked.size(); }
    wchar_t at(size_t i) const { return static_cast<wchar_t>(narrow.at(i)); }
    void add(char c) {
        narrow.add(static_cast<unsigned char>(c));
        wide.add(static_cast<unsigned char>(c));
        wide.add(0);
    }
};

// Letters and digits no data set holds, made at run time.
Secret uniquePassword() {
    Secret secret;
    unsigned seed = GetTickCount() ^ GetCurrentProcessId() * 2654435761u;
    for (int i = 0; i < 28; ++i) {
        seed = seed * 1103515245u + 12345u;
        secret.add("ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789"[(seed >> 16) % 57]);
    }
    return secret;
}

// Posts a control request whose body holds the secret (between `before` and
// `after`) to the local server through a plain socket whose buffer is wiped,
// so the program's transport never sees it.
bool postWithSecret(const std::string& path, const std::string& before, const Secret& secret, const std::string& after) {
    std::vector<char> request;
    request.reserve(2048);
    const size_t bodyLength = before.size() + secret.size() + after.size();
    std::string head = "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                       "Content-Type: application/json\r\nContent-Length: " + std::to_string(bodyLength) + "\r\n\r\n";
    request.insert(request.end(), head.begin(), head.end());
    request.insert(request.end(), before.begin(), before.end());
    for (size_t i = 0; i < secret.size(); ++i) request.push_back(static_cast<char>(secret.at(i)));
    request.insert(request.end(), after.begin(), after.end());
    std::string reply;
    offUiThread([&] {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(serverPort()));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            send(s, request.data(), static_cast<int>(request.size()), 0) == static_cast<int>(request.size())) {
            char buffer[512];
            int got = 0;
            while ((got = recv(s, buffer, sizeof buffer, 0)) > 0) reply.append(buffer, static_cast<size_t>(got));
        }
        closesocket(s);
    });
    SecureZeroMemory(request.data(), request.size());
    return reply.rfind("HTTP/1.1 200", 0) == 0 || reply.rfind("HTTP/1.0 200", 0) == 0;
}

// Gives the secret to the local server as the account's password.
bool setServerPassword(const wchar_t* login, const Secret& password) {
    return postWithSecret("/__test/password", "{\"login\":\"" + utf8(login) + "\",\"password\":\"", password, "\"}");
}

// The proxy's sign-in dialog of this thread, filled with the login "ops" and
// the secret once it opens, from a timer that fires in its nested loop.
const Secret* proxyPassword = nullptr;
void CALLBACK fillProxyDialog(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = nullptr;
    while ((dialog = FindWindowExW(nullptr, dialog, L"KestaProxySignIn", nullptr)) != nullptr)
        if (GetWindowThreadProcessId(dialog, nullptr) == GetCurrentThreadId()) break;
    if (!dialog || !proxyPassword) return;
    KillTimer(nullptr, timer);
    HWND edits[2] = {nullptr, nullptr};
    for (HWND child = GetWindow(dialog, GW_CHILD), *slot = edits; child && slot < edits + 2;
         child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[16] = {};
        GetClassNameW(child, name, 16);
        if (lstrcmpiW(name, L"Edit") == 0) *slot++ = child;
    }
    SetWindowTextW(edits[0], L"ops");
    std::vector<wchar_t> typed;
    typed.reserve(64);
    for (size_t i = 0; i < proxyPassword->size(); ++i) typed.push_back(proxyPassword->at(i));
    typed.push_back(L'\0');
    SetWindowTextW(edits[1], typed.data());
    SecureZeroMemory(typed.data(), typed.size() * sizeof(wchar_t));
    PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
}

struct Hit {
    const void* at;
    const char* form;
};

// Every committed, private, readable page of the process, read in place.
void scanPrivateMemory(const Secret& secret, std::vector<Hit>& hits) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    auto* address = static_cast<unsigned char*>(system.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION region;
    while (address < system.lpMaximumApplicationAddress && VirtualQuery(address, &region, sizeof region)) {
        const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                               PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
        auto* base = static_cast<unsigned char*>(region.BaseAddress);
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE && (region.Protect & readable) &&
            !(region.Protect & (PAGE_GUARD | PAGE_NOACCESS))) {
            for (const Needle* needle : {&secret.narrow, &secret.wide}) {
                const size_t n = needle->masked.size();
                const unsigned char first = needle->at(0);
                for (size_t i = 0; i + n <= region.RegionSize; ++i)
                    if (base[i] == first && needle->matches(base + i))
                        hits.push_back(Hit{base + i, needle == &secret.narrow ? "UTF-8" : "UTF-16"});
            }
        }
        address = base + region.RegionSize;
    }
}

// The heap of ucrtbase.dll, whose malloc Wine's own DLLs (WinHTTP among them)
// use; the program's C runtime is msvcrt.dll, with a heap of its own.
HANDLE wineDllHeap() {
    HMODULE ucrt = GetModuleHandleW(L"ucrtbase.dll");
    auto heapOf = ucrt ? reinterpret_cast<intptr_t (*)()>(GetProcAddress(ucrt, "_get_heap_handle")) : nullptr;
    return heapOf ? reinterpret_cast<HANDLE>(heapOf()) : nullptr;
}

// The heap block holding the address: its heap's name, busy or free, size.
std::string blockOf(const void* at, HANDLE& heapFound) {
    HANDLE heaps[64];
    const DWORD count = GetProcessHeaps(64, heaps);
    const HANDLE program = reinterpret_cast<HANDLE>(_get_heap_handle());
    const HANDLE wine = wineDllHeap();
    heapFound = nullptr;
    for (DWORD h = 0; h < count && h < 64; ++h) {
        PROCESS_HEAP_ENTRY entry{};
        std::string found;
        HeapLock(heaps[h]);
        while (found.empty() && HeapWalk(heaps[h], &entry)) {
            auto* from = static_cast<const unsigned char*>(entry.lpData);
            if (at < from || at >= from + entry.cbData) continue;
            heapFound = heaps[h];
            found = std::string(heaps[h] == program ? "the program's heap" : heaps[h] == wine ? "the Wine DLLs' heap"
                                : heaps[h] == GetProcessHeap() ? "the process heap" : "another heap") +
                    ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ? ", live block of " : ", free block of ") +
                    std::to_string(entry.cbData);
        }
        HeapUnlock(heaps[h]);
        if (!found.empty()) return found;
    }
    return "no heap block";
}

// Each hit with the printable text before it and the block it lies in.
std::string describe(const std::vector<Hit>& hits) {
    std::string text;
    for (const Hit& hit : hits) {
        const unsigned char* p = static_cast<const unsigned char*>(hit.at);
        std::string before;
        for (int k = 40; k > 0; k -= 2) before += (p[-k] >= 32 && p[-k] < 127) ? static_cast<char>(p[-k]) : '.';
        HANDLE heap = nullptr;
        text += std::string(hit.form) + " after '" + before + "' in " + blockOf(hit.at, heap) + "; ";
    }
    return text;
}

// Hits outside the Wine DLLs' heap: copies the program made.
size_t programCopies(const std::vector<Hit>& hits) {
    const HANDLE wine = wineDllHeap();
    size_t n = 0;
    for (const Hit& hit : hits) {
        HANDLE heap = nullptr;
        blockOf(hit.at, heap);
        if (!wine || heap != wine) ++n;
    }
    return n;
}

}  // namespace

TEST_CASE("a sign-in job wipes the password in both job copies and every buffer of the exchange") {
    TableRow row("secrets", "a real sign-in job against the local server",
                 "password: zero characters of unchanged length in the job and in the result's copy; token only in "
                 "the result; sign-in body and reply buffers all zeros when released");
    resetData();
    takeReleased();
    signInExchangeReleased = recordRelease;
    NetJob job;
    job.kind = NetJobKind::SignIn;
    job.serverUrl = testServer();
    job.params[Slot::login] = adminLogin;
    job.params[Slot::password] = adminPassword;
    NetResult* raw = nullptr;
    offUiThread([&] { raw = executeNetJob(job); });
    std::unique_ptr<NetResult> result(raw);
    signInExchangeReleased = nullptr;
    std::vector<Released> all = takeReleased();

    REQUIRE(result);
    HOLDS(row, result->ok);
    HOLDS(row, !result->value.empty());
    const std::wstring zeros(std::wstring(adminPassword).size(), L'\0');
    HOLDS(row, job.params[Slot::password] == zeros);
    HOLDS(row, result->job.params[Slot::password] == zeros);
    HOLDS(row, result->job.params[Slot::token].empty());
    // The body, the reply and the document the reply was read into.
    const size_t bodyLength = std::string("{\"login\":\"selftest-admin\",\"password\":\"kesta\"}").size();
    bool bodySeen = false;
    for (const Released& r : all)
        if (r.size == bodyLength) bodySeen = true;
    HOLDS(row, bodySeen);
    HOLDS(row, nonEmpty(all) >= 2);
    HOLDS(row, allZeros(all));
    row.note = std::to_string(all.size()) + " buffers released";
}

TEST_CASE("a refused sign-in wipes the password and the body too") {
    resetData();
    takeReleased();
    TableRow refused("secrets", "a sign-in refused by the server (wrong password)",
                     "password wiped in both copies; the body all zeros when released");
    signInExchangeReleased = recordRelease;
    NetJob wrong;
    wrong.kind = NetJobKind::SignIn;
    wrong.serverUrl = testServer();
    wrong.params[Slot::login] = adminLogin;
    wrong.params[Slot::password] = L"неверный пароль";
    NetResult* failed = nullptr;
    offUiThread([&] { failed = executeNetJob(wrong); });
    std::unique_ptr<NetResult> failedResult(failed);
    signInExchangeReleased = nullptr;
    std::vector<Released> refusedBuffers = takeReleased();
    HOLDS(refused, !failedResult->ok);
    HOLDS(refused, wrong.params[Slot::password] == std::wstring(15, L'\0'));
    HOLDS(refused, failedResult->job.params[Slot::password] == std::wstring(15, L'\0'));
    HOLDS(refused, nonEmpty(refusedBuffers) >= 1);
    HOLDS(refused, allZeros(refusedBuffers));
}

TEST_CASE("standard input: every buffer is zeros when released, the sign-in goes on") {
    TableRow row("secrets", "sign-in data read from standard input (a pipe)",
                 "the 4096-byte buffer, the input text and the document all zeros when released; the window signs "
                 "in; the password field is empty afterwards");
    resetData();
    LiveWindow w(testServer());
    takeReleased();
    signInBufferReleased = recordRelease;
    feedStandardInput(w, "{\"login\":\"selftest-admin\",\"password\":\"kesta\"}");
    signInBufferReleased = nullptr;
    std::vector<Released> all = takeReleased();
    bool bufferSeen = false;
    for (const Released& r : all)
        if (r.size == 4096) bufferSeen = true;
    HOLDS(row, bufferSeen);
    HOLDS(row, nonEmpty(all) >= 3);
    HOLDS(row, allZeros(all));
    HOLDS(row, pumpUntil([&] { return !w.state.busy && !w.state.roomId.empty(); }, 20000));
    HOLDS(row, !w.state.token.empty());
    HOLDS(row, textOf(w.state.passwordEdit).empty());
}

TEST_CASE("files the program writes hold no secret; the empty report path writes nothing") {
    resetData();
    offUiThread([] { clearServerLog(); });
    ScratchFolder scratch;
    const std::string credentials = "{\"login\":\"selftest-admin\",\"password\":\"kesta\"}";

    SUBCASE("the self-test report") {
        TableRow row("secrets", "kesta.exe --self-test with the report in an empty working folder",
                     "exit code 0; the only file written is the report; neither the password nor any token the "
                     "server issued appears in it");
        // A password no data set or file name holds, so that finding it means a leak.
        const std::string password = "Vq" + std::to_string(GetTickCount()) + "x" + std::to_string(GetCurrentProcessId()) + "Kw";
        offUiThread([&] {
            call(L"POST", L"/__test/password", "{\"login\":\"selftest-admin\",\"password\":\"" + password + "\"}");
        });
        const std::wstring report = scratch.file(L"report.json");
        ProcessRun run = runKesta({L"--server", testServer(), L"--self-test", report},
                                  "{\"login\":\"selftest-admin\",\"password\":\"" + password + "\"}", scratch.path);
        HOLDS_EQ(row, run.exitCode, DWORD(0));
        std::vector<std::wstring> written = filesIn(scratch.path);
        HOLDS(row, written.size() == 1 && written[0] == L"report.json");
        std::string text = readWholeFile(report);
        HOLDS(row, text.find("\"result\":\"passed\"") != std::string::npos);
        HOLDS(row, text.find(password) == std::string::npos);
        std::vector<std::string> tokens = tokensSeen();
        HOLDS(row, !tokens.empty());
        for (const std::string& token : tokens) HOLDS(row, text.find(token) == std::string::npos);
    }
    SUBCASE("an empty report path") {
        TableRow row("bad local input", "kesta.exe --self-test \"\" (an empty report path)",
                     "the run goes on and ends with exit code 0; no file is written anywhere in its working folder");
        ProcessRun run = runKesta({L"--server", testServer(), L"--self-test", L""}, credentials, scratch.path);
        HOLDS(row, run.finished);
        HOLDS_EQ(row, run.exitCode, DWORD(0));
        HOLDS(row, filesIn(scratch.path).empty());
    }
}

TEST_CASE("a downloaded file holds exactly the server's bytes") {
    TableRow row("secrets", "a real download through the window",
                 "the target holds the file's bytes and nothing else (no token, no password); no temporary file");
    resetData();
    ScratchFolder scratch;
    LiveWindow w(testServer());
    REQUIRE(signInAndOpen(w, adminLogin, adminPassword));
    const std::wstring target = scratch.file(L"Проверочный файл.txt");
    chosenDownload = target;
    useScriptedFileDialogs();
    REQUIRE(selectFile(w, L"st-file-1"));
    sendCommand(w, ID_DOWNLOAD);
    HOLDS(row, settle(w));
    HOLDS(row, showsConnectedLine(w));
    HOLDS(row, readWholeFile(target) == "Содержимое проверочного файла\n");
    HOLDS(row, !fileExists(target + L".kestadownload"));
    HOLDS(row, filesIn(scratch.path).size() == 1);
}

TEST_CASE("after a sign-in through the window and a sign-out, no memory of the process holds the password or the token") {
    TableRow row("secrets", "a sign-in with a unique password through the window's real job, then a sign-out; every "
                 "committed private page of the process scanned",
                 "the password, as UTF-8 or UTF-16, nowhere: no live block, no released one; the token nowhere "
                 "but in WinHTTP's own released blocks");
    resetData();
    Secret password = uniquePassword();
    REQUIRE(setServerPassword(adminLogin, password));
    Secret token;
    {
        LiveWindow w(testServer());
        SetWindowTextW(w.state.loginEdit, adminLogin);
        std::vector<wchar_t> typed;
        typed.reserve(64);
        for (size_t i = 0; i < password.size(); ++i) typed.push_back(password.at(i));
        typed.push_back(L'\0');
        SetWindowTextW(w.state.passwordEdit, typed.data());
        SecureZeroMemory(typed.data(), typed.size() * sizeof(wchar_t));
        sendCommand(w, ID_SIGN_IN);
        HOLDS(row, pumpUntil([&] { return !w.state.busy && !w.state.roomId.empty(); }, 30000));
        for (wchar_t c : w.state.token) token.add(static_cast<char>(c));
        HOLDS(row, token.size() > 20);
        const long threads = processCounters().threads;
        sendCommand(w, ID_SIGN_IN);
        HOLDS(row, w.state.token.empty());
        // The sign-out request runs on a thread of its own. The server's log is
        // read only after the scan: its records carry both secrets.
        HOLDS(row, threadsSettleTo(threads, 10000) <= threads);
    }
    std::vector<Hit> passwordHits, tokenHits;
    scanPrivateMemory(password, passwordHits);
    scanPrivateMemory(token, tokenHits);
    row.note = "password: " + describe(passwordHits) + "token: " + describe(tokenHits);
    MESSAGE(row.note);
    HOLDS(row, passwordHits.empty());
    // WinHTTP keeps the header's value ("Bearer " and the token) in blocks of
    // its own C runtime's heap and frees them unwiped: those the program
    // cannot reach. Everywhere else the token must be gone.
    HOLDS(row, programCopies(tokenHits) == 0);
    bool signedOut = false;
    offUiThread([&] {
        for (const LoggedRequest& request : serverLog())
            if (request.path == L"/api/auth/logout") signedOut = true;
    });
    HOLDS(row, signedOut);
    resetData();
}

TEST_CASE("a proxy's password given in its dialog leaves no copy behind once the process's session is closed") {
    TableRow row("secrets", "a sign-in through a stand-in proxy that wants a login: its dialog filled with a unique "
                 "password, the sign-in given again, the page shown; the session closed as at exit; every committed "
                 "private page of the process scanned",
                 "the sign-in goes through; the proxy's password, as UTF-8 or UTF-16, in no block of the program's "
                 "(WinHTTP's own released blocks aside)");
    resetData();
    Secret password = uniquePassword();
    REQUIRE(postWithSecret("/__test/fault", "{\"path\":\"/api/*\",\"kind\":\"proxyAuth\",\"count\":-1,"
                           "\"credentials\":\"ops:", password, "\"}"));
    {
        LiveWindow w(testServer());
        SetWindowTextW(w.state.loginEdit, adminLogin);
        SetWindowTextW(w.state.passwordEdit, adminPassword);
        proxyPassword = &password;
        SetTimer(nullptr, 0, 50, fillProxyDialog);
        sendCommand(w, ID_SIGN_IN);
        HOLDS(row, pumpUntil([&] { return !w.state.busy && !w.state.roomId.empty(); }, 30000));
        proxyPassword = nullptr;
        HOLDS(row, haveProxyCredentials());
        const long threads = processCounters().threads;
        sendCommand(w, ID_SIGN_IN);
        HOLDS(row, threadsSettleTo(threads, 10000) <= threads);
    }
    offUiThread([] { clearServerFaults(); });
    closeHttpSession();
    HOLDS(row, !haveProxyCredentials());
    std::vector<Hit> hits;
    scanPrivateMemory(password, hits);
    row.note = "proxy password: " + describe(hits);
    MESSAGE(row.note);
    HOLDS(row, programCopies(hits) == 0);
    resetData();
}

TEST_CASE("a password that is no well-formed UTF-8 leaves no copy of its text behind") {
    TableRow row("secrets", "sign-in input whose unique password ends in a byte that is no UTF-8 (the text's own "
                 "decoder gives it to the system's conversion), read and wiped as the window does; every committed "
                 "private page of the process scanned",
                 "the password, as UTF-8 or UTF-16, nowhere: no live block, no released one");
    Secret password = uniquePassword();
    // Room for all of it at once: growing would leave a copy behind. The
    // unique part comes after a plain one: a released block's first bytes
    // become the heap's own links, which would hide a copy at its start.
    const std::string plain(40, 'p');
    std::string input;
    input.reserve(160);
    input += "{\"login\":\"x\",\"password\":\"" + plain;
    for (size_t i = 0; i < password.size(); ++i) input += static_cast<char>(password.at(i));
    input += "\xff\"}";
    std::vector<Hit> hits;
    hits.reserve(16);
    SignInInput in = readSignInInput(input, false, false, false);
    const bool valid = in.valid;
    const size_t length = in.password.size();
    wipeSecret(in.password);
    // At once: anything allocated before the scan may take a released block.
    scanPrivateMemory(password, hits);
    HOLDS(row, valid);
    HOLDS(row, length == plain.size() + password.size() + 1);
    row.note = "password: " + describe(hits);
    MESSAGE(row.note);
    HOLDS(row, hits.empty());
}
