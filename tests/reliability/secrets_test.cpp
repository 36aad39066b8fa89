// Secrets: the password and the token leave no copy behind in the jobs, in
// the buffers of the sign-in exchange and of standard input, or in any file
// the program writes; what goes to the server carries them only there.
#include "scenario.h"
#include "process.h"

#include "app/stdin_signin.h"
#include "net/http.h"
#include "net/jobs.h"
#include "ui/main/ids.h"

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
        const std::wstring report = scratch.file(L"report.json");
        ProcessRun run = runKesta({L"--server", testServer(), L"--self-test", report}, credentials, scratch.path);
        HOLDS_EQ(row, run.exitCode, DWORD(0));
        std::vector<std::wstring> written = filesIn(scratch.path);
        HOLDS(row, written.size() == 1 && written[0] == L"report.json");
        std::string text = readWholeFile(report);
        HOLDS(row, text.find("\"result\":\"passed\"") != std::string::npos);
        HOLDS(row, text.find("kesta") == std::string::npos);
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
