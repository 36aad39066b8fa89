// Jobs against the local server: which requests each kind makes, in which
// order and with which headers; how failures end a job; the worker thread,
// its posted result and the sign-out thread beside it.
#include <doctest/doctest.h>

#include "net/jobs.h"
#include "text/secret.h"
#include "net_support.h"

#include <memory>
#include <set>

// Run outside with_server.py, a server test fails rather than pass unseen.
#define REQUIRE_TEST_SERVER() REQUIRE_MESSAGE(haveTestServer(), "KESTA_TEST_SERVER is not set: run through ctest")

namespace {

const wchar_t failureText[] = L"Не удалось связаться с сервером или открыть файл";

// What the tests need to know of the signed-in account: found through the
// API, so the tests follow the data set rather than restating it.
struct Account {
    std::wstring token;
    std::wstring orgId;
    std::wstring roomId;
    std::wstring caseId;
    std::wstring caseRoomId;
    std::wstring ticketId;
    std::wstring lineId;
};

std::wstring firstId(const JsonValue& doc, JsonIndex array) {
    std::vector<JsonIndex> items = arrayElements(doc, array);
    return items.empty() ? std::wstring() : memberString(doc, items[0], "id");
}

Account signedInAccount() {
    Account account;
    account.token = signInToken(testLogin, testPassword);
    JsonValue me = parse(call(L"GET", L"/api/me", "", account.token));
    account.orgId = firstId(me, findMember(me, 0, "memberships"));
    JsonValue rooms = parse(call(L"GET", L"/api/rooms?orgId=" + account.orgId, "", account.token));
    account.roomId = firstId(rooms, 0);
    JsonValue work = parse(call(L"GET", L"/api/work?orgId=" + account.orgId, "", account.token));
    account.caseId = firstId(work, findMember(work, 0, "cases"));
    account.ticketId = firstId(work, findMember(work, 0, "tickets"));
    JsonValue item = parse(call(L"GET", L"/api/work/case/" + account.caseId, "", account.token));
    account.caseRoomId = memberString(item, findMember(item, 0, "item"), "room_id");
    JsonValue lines = parse(call(L"GET", L"/api/lines", "", account.token));
    account.lineId = firstId(lines, 0);
    REQUIRE(!account.orgId.empty());
    REQUIRE(!account.roomId.empty());
    REQUIRE(!account.caseId.empty());
    REQUIRE(!account.caseRoomId.empty());
    REQUIRE(!account.ticketId.empty());
    return account;
}

NetJob jobFor(const Account& account, int32_t kind, int32_t mode = 0) {
    NetJob job;
    job.kind = kind;
    job.mode = mode;
    job.generation = 5;
    job.serverUrl = testServer();
    job.params[Slot::token] = account.token;
    job.params[Slot::orgId] = account.orgId;
    job.params[Slot::roomId] = account.roomId;
    return job;
}

std::unique_ptr<NetResult> run(NetJob& job) { return std::unique_ptr<NetResult>(executeNetJob(job)); }

// "METHOD path" of each logged request, in order.
std::vector<std::wstring> requestLines() {
    std::vector<std::wstring> lines;
    for (const auto& entry : serverLog()) lines.push_back(entry.method + L" " + entry.path);
    return lines;
}

bool allZero(const std::wstring& text) {
    for (wchar_t c : text)
        if (c != 0) return false;
    return true;
}

}  // namespace

TEST_CASE("sign-in job: token into the worker's job only, new token on the next requests, password wiped") {
    REQUIRE_TEST_SERVER();
    ServerSession session(ServerData::Reset);
    NetJob job;
    job.kind = NetJobKind::SignIn;
    job.serverUrl = testServer();
    job.params[Slot::token] = L"stale-token";
    job.params[Slot::login] = testLogin;
    job.params[Slot::password] = testPassword;
    const size_t passwordLength = job.params[Slot::password].size();

    std::unique_ptr<NetResult> result = run(job);
    REQUIRE(result->ok);
    CHECK(result->errorText.empty());
    CHECK(!result->value.empty());
    CHECK(job.params[Slot::token] == result->value);
    CHECK(result->job.params[Slot::token] == L"stale-token");
    CHECK(result->job.params[Slot::login] == testLogin);
    CHECK(result->meJson.find("memberships") != std::string::npos);
    CHECK(result->linesJson.rfind("[", 0) == 0);
    for (const NetJob* copy : {&job, &result->job}) {
        CHECK(copy->params[Slot::password].size() == passwordLength);
        CHECK(allZero(copy->params[Slot::password]));
    }

    std::vector<LoggedRequest> log = serverLog();
    REQUIRE(log.size() == 3);
    CHECK(log[0].method + L" " + log[0].path == L"POST /api/auth/login");
    CHECK_FALSE(log[0].hasHeader(L"authorization"));
    CHECK(log[0].header(L"content-type") == L"application/json");
    CHECK(log[1].method + L" " + log[1].path == L"GET /api/me");
    CHECK(log[2].method + L" " + log[2].path == L"GET /api/lines");
    for (int i : {1, 2}) {
        CHECK(log[i].header(L"authorization") == L"Bearer " + result->value);
        CHECK_FALSE(log[i].hasHeader(L"content-type"));
    }
}

TEST_CASE("sign-in job failures") {
    REQUIRE_TEST_SERVER();
    ServerSession session(ServerData::Reset);
    NetJob job;
    job.kind = NetJobKind::SignIn;
    job.serverUrl = testServer();
    job.params[Slot::login] = testLogin;
    job.params[Slot::password] = L"wrong password";

    SUBCASE("refused credentials: the server's text, nothing more sent, password wiped") {
        std::unique_ptr<NetResult> result = run(job);
        CHECK_FALSE(result->ok);
        CHECK(!result->errorText.empty());
        CHECK(result->errorText != failureText);
        CHECK(result->value.empty());
        CHECK(requestLines() == std::vector<std::wstring>{L"POST /api/auth/login"});
        CHECK(allZero(job.params[Slot::password]));
        CHECK(allZero(result->job.params[Slot::password]));
        CHECK(result->job.params[Slot::password].size() == 14);
    }
    SUBCASE("a reply that is not JSON") {
        injectFault("{\"path\":\"/api/auth/login\",\"kind\":\"status\",\"status\":200,\"body\":\"{\\\"token\\\":\\\"abc\"}");
        std::unique_ptr<NetResult> result = run(job);
        CHECK_FALSE(result->ok);
        CHECK(result->errorText == failureText);
        CHECK(requestLines().size() == 1);
    }
    SUBCASE("a reply without a token goes on without authorisation") {
        injectFault("{\"path\":\"/api/auth/login\",\"kind\":\"status\",\"status\":200,\"body\":\"{}\"}");
        std::unique_ptr<NetResult> result = run(job);
        CHECK_FALSE(result->ok);  // the profile is refused without a token
        std::vector<LoggedRequest> log = serverLog();
        REQUIRE(log.size() == 2);
        CHECK(log[1].path == L"/api/me");
        CHECK_FALSE(log[1].hasHeader(L"authorization"));
    }
    SUBCASE("plain http to a remote host") {
        job.serverUrl = L"http://support.example";
        std::unique_ptr<NetResult> result = run(job);
        CHECK(result->errorText == L"Для удалённого сервера требуется HTTPS");
        CHECK(allZero(job.params[Slot::password]));
        CHECK(serverLog().empty());
    }
}

namespace {
// Every string storage reported wiped, with whether it was all zeros then.
std::vector<std::pair<const void*, size_t>> wipedStorage;
bool wipedAllZero = true;
void recordWipe(const void* data, size_t size) {
    wipedStorage.emplace_back(data, size);
    for (size_t i = 0; i < size; ++i)
        if (static_cast<const unsigned char*>(data)[i] != 0) wipedAllZero = false;
}
bool wasWiped(const void* data) {
    for (const auto& w : wipedStorage)
        if (w.first == data) return true;
    return false;
}
}  // namespace

TEST_CASE("every copy of a secret wipes its storage when it goes: jobs, results, requests, a cut sign-in reply") {
    wipedStorage.clear();
    wipedAllZero = true;
    secretWiped = recordWipe;
    SUBCASE("copies and moves of a job, its result and a request") {
        std::vector<const void*> buffers;
        {
            NetJob job;
            job.params[Slot::token] = std::wstring(200, L't');
            job.params[Slot::password] = std::wstring(100, L'p');
            NetJob copy = job;
            NetJob moved = std::move(job);
            NetResult result;
            result.job = copy;
            result.value = std::wstring(200, L'v');
            HttpRequest request;
            request.token = std::wstring(200, L'r');
            HttpRequest requestCopy = request;
            for (const NetJob* j : {&copy, &moved, &result.job}) {
                buffers.push_back(j->params[Slot::token].data());
                buffers.push_back(j->params[Slot::password].data());
            }
            buffers.push_back(result.value.data());
            buffers.push_back(request.token.data());
            buffers.push_back(requestCopy.token.data());
        }
        for (const void* b : buffers) CHECK(wasWiped(b));
    }
    SUBCASE("a sign-in reply cut part-way is wiped before it is freed") {
        REQUIRE_TEST_SERVER();
        ServerSession session;
        // Longer than any other buffer the exchange wipes (the header block).
        const std::string token(4000, 'k');
        injectFault("{\"path\":\"/api/auth/login\",\"kind\":\"cut\",\"sendBytes\":3000,\"body\":\"{\\\"token\\\":\\\"" +
                    token + "\\\"}\"}");
        CHECK(outcomeOf([] { signInToken(testLogin, testPassword); }) == L"failure:network");
        bool replyWiped = false;
        for (const auto& w : wipedStorage)
            if (w.second >= 3000) replyWiped = true;
        CHECK(replyWiped);
    }
    secretWiped = nullptr;
    CHECK(wipedAllZero);
}

TEST_CASE("refresh job: requests by mode, selection, search and cursor") {
    REQUIRE_TEST_SERVER();
    ServerSession session(ServerData::Reset);
    Account account = signedInAccount();
    clearServerLog();

    SUBCASE("room mode without a selection makes one request") {
        NetJob job = jobFor(account, NetJobKind::Refresh, 0);
        // A reader the window gave that fails fails no job: the window reads
        // the reply itself and tells what it cannot read.
        static bool prepared = false;
        prepareNetResult = [](NetResult& r) {
            prepared = r.ok && !r.listJson.empty();
            throw TransportFailure("json");
        };
        std::unique_ptr<NetResult> result = run(job);
        prepareNetResult = nullptr;
        CHECK(prepared);
        CHECK(result->ok);
        CHECK(requestLines() == std::vector<std::wstring>{L"GET /api/rooms?orgId=" + account.orgId});
        CHECK(result->listJson.rfind("[", 0) == 0);
        CHECK(result->historyJson.empty());
        CHECK(result->workItemJson.empty());
    }
    SUBCASE("room mode on the newest page marks the room read") {
        NetJob job = jobFor(account, NetJobKind::Refresh, 0);
        job.params[Slot::itemId] = account.roomId;
        job.params[Slot::roomId] = L"ignored-by-history";
        std::unique_ptr<NetResult> result = run(job);
        CHECK(result->ok);
        CHECK(requestLines() == std::vector<std::wstring>{L"GET /api/rooms?orgId=" + account.orgId,
                                                          L"GET /api/rooms/" + account.roomId + L"/messages?q=",
                                                          L"POST /api/rooms/" + account.roomId + L"/read"});
        CHECK(result->historyJson.find("\"items\"") != std::string::npos);
        std::vector<LoggedRequest> log = serverLog();
        CHECK_FALSE(log[1].hasHeader(L"content-type"));
        CHECK(log[2].body == L"{}");
        CHECK(log[2].header(L"content-type") == L"application/json");
        CHECK_FALSE(log[2].hasHeader(L"idempotency-key"));
    }
    SUBCASE("a search or a cursor sends no read mark") {
        NetJob job = jobFor(account, NetJobKind::Refresh, 0);
        job.params[Slot::itemId] = account.roomId;
        job.params[Slot::searchQuery] = L"probe 7f3a & Ж";
        std::unique_ptr<NetResult> searched = run(job);
        CHECK(searched->ok);
        CHECK(requestLines() ==
              std::vector<std::wstring>{
                  L"GET /api/rooms?orgId=" + account.orgId,
                  L"GET /api/rooms/" + account.roomId + L"/messages?q=probe%207f3a%20%26%20%D0%96"});
        JsonValue newest = parse(call(L"GET", L"/api/rooms/" + account.roomId + L"/messages?q=", "", account.token));
        std::wstring cursor = memberString(newest, findMember(newest, 0, "page"), "nextBefore");
        REQUIRE(!cursor.empty());
        clearServerLog();
        job.params[Slot::searchQuery].clear();
        job.params[Slot::beforeCursor] = cursor;
        std::unique_ptr<NetResult> paged = run(job);
        CHECK(paged->ok);
        CHECK(paged->historyJson != newest.text);
        CHECK(requestLines() == std::vector<std::wstring>{L"GET /api/rooms?orgId=" + account.orgId,
                                                          L"GET /api/rooms/" + account.roomId +
                                                              L"/messages?q=&before=" + cursor});
    }
    SUBCASE("case and ticket modes load the work item and use its room") {
        for (int mode : {1, 2}) {
            CAPTURE(mode);
            clearServerLog();
            NetJob job = jobFor(account, NetJobKind::Refresh, mode);
            std::wstring id = mode == 1 ? account.caseId : account.ticketId;
            job.params[Slot::itemId] = id;
            std::unique_ptr<NetResult> result = run(job);
            CHECK(result->ok);
            JsonValue item = parse(std::string(result->workItemJson));
            std::wstring room = memberString(item, findMember(item, 0, "item"), "room_id");
            CHECK(!room.empty());
            CHECK(requestLines() ==
                  std::vector<std::wstring>{L"GET /api/work?orgId=" + account.orgId,
                                            std::wstring(L"GET /api/work/") + (mode == 1 ? L"case/" : L"ticket/") + id,
                                            L"GET /api/rooms/" + room + L"/messages?q=",
                                            L"POST /api/rooms/" + room + L"/read"});
            CHECK(!result->listJson.empty());
            CHECK(!result->historyJson.empty());
        }
    }
    SUBCASE("a work item without a room still asks for the history of the empty room") {
        injectFault("{\"path\":\"/api/work/case/" + toUtf8(account.caseId) +
                    "\",\"kind\":\"status\",\"status\":200,\"body\":\"{\\\"item\\\":{}}\"}");
        NetJob job = jobFor(account, NetJobKind::Refresh, 1);
        job.params[Slot::itemId] = account.caseId;
        run(job);
        std::vector<std::wstring> lines = requestLines();
        REQUIRE(lines.size() >= 3);
        CHECK(lines[2] == L"GET /api/rooms//messages?q=");
    }
    SUBCASE("a work item reply that is not JSON ends the job before the history") {
        injectFault("{\"path\":\"/api/work/case/" + toUtf8(account.caseId) +
                    "\",\"kind\":\"status\",\"status\":200,\"body\":\"<html>]\"}");
        NetJob job = jobFor(account, NetJobKind::Refresh, 1);
        job.params[Slot::itemId] = account.caseId;
        std::unique_ptr<NetResult> result = run(job);
        CHECK_FALSE(result->ok);
        CHECK(result->errorText == failureText);
        CHECK(requestLines().size() == 2);
    }
    SUBCASE("a failed history request fails the job at once; the list was fetched") {
        injectFault("{\"path\":\"/api/rooms/" + toUtf8(account.roomId) +
                    "/messages\",\"kind\":\"status\",\"status\":403,"
                    "\"body\":\"{\\\"error\\\":\\\"Нет доступа\\\"}\"}");
        NetJob job = jobFor(account, NetJobKind::Refresh, 0);
        job.params[Slot::itemId] = account.roomId;
        std::unique_ptr<NetResult> result = run(job);
        CHECK_FALSE(result->ok);
        CHECK(result->errorText == L"Нет доступа");
        CHECK(!result->listJson.empty());
        CHECK(requestLines().size() == 2);
    }
    SUBCASE("a failed read mark costs the page fetched before it nothing") {
        injectFault("{\"path\":\"/api/rooms/" + toUtf8(account.roomId) +
                    "/read\",\"kind\":\"status\",\"status\":500,\"body\":\"{}\"}");
        NetJob job = jobFor(account, NetJobKind::Refresh, 0);
        job.params[Slot::itemId] = account.roomId;
        std::unique_ptr<NetResult> result = run(job);
        CHECK(result->ok);
        CHECK(!result->historyJson.empty());
        CHECK(requestLines().size() == 3);
    }
}

TEST_CASE("single-request jobs: method, path, headers, and what the result carries") {
    REQUIRE_TEST_SERVER();
    ServerSession session(ServerData::Reset);
    Account account = signedInAccount();
    ScratchFolder folder;
    writeWholeFile(folder.file(L"отчёт 1.txt"), "report body");
    clearServerLog();

    struct Expected {
        NetJob job;
        std::wstring line;
        bool key;
    };
    std::vector<Expected> plan;
    auto add = [&](NetJob job, std::wstring line, bool key) { plan.push_back(Expected{job, line, key}); };

    NetJob send = jobFor(account, NetJobKind::SendMessage);
    send.params[Slot::text] = L"Проверка\n\"кавычки\" \\";
    add(send, L"POST /api/rooms/" + account.roomId + L"/messages", true);
    send.params[Slot::messageId] = L"st-088";
    add(send, L"POST /api/rooms/" + account.roomId + L"/messages", true);
    NetJob edit = jobFor(account, NetJobKind::EditMessage);
    edit.params[Slot::messageId] = L"st-090";
    edit.params[Slot::text] = L"Правка";
    add(edit, L"PATCH /api/messages/st-090", false);
    NetJob react = jobFor(account, NetJobKind::ReactToMessage);
    react.params[Slot::messageId] = L"st-093";
    react.params[Slot::actionOrEmoji] = L"\U0001F44D";
    add(react, L"POST /api/messages/st-093/reaction", true);
    NetJob pin = jobFor(account, NetJobKind::PinMessage);
    pin.params[Slot::messageId] = L"st-093";
    add(pin, L"POST /api/messages/st-093/pin", true);
    add(pin, L"POST /api/messages/st-093/pin", true);
    NetJob forward = jobFor(account, NetJobKind::ForwardMessage);
    forward.params[Slot::messageId] = L"st-088";
    forward.targetRoomId = L"st-forward";
    add(forward, L"POST /api/messages/st-088/forward", true);
    NetJob targets = jobFor(account, NetJobKind::LoadForwardTargets, 1);
    add(targets, L"GET /api/rooms?orgId=" + account.orgId, false);
    NetJob action = jobFor(account, NetJobKind::WorkAction, 1);
    action.params[Slot::itemId] = account.caseId;
    action.params[Slot::actionOrEmoji] = L"start";
    action.version = -3;
    add(action, L"POST /api/work/case/" + account.caseId + L"/action", false);
    NetJob upload = jobFor(account, NetJobKind::UploadFile, 2);
    upload.params[Slot::itemId] = account.ticketId;
    upload.params[Slot::uploadPath] = folder.file(L"отчёт 1.txt");
    add(upload,
        L"POST /api/files?roomId=" + account.roomId + L"&orgId=" + account.orgId +
            L"&name=%D0%BE%D1%82%D1%87%D1%91%D1%82%201.txt&ticketId=" + account.ticketId,
        false);
    NetJob remove = jobFor(account, NetJobKind::DeleteMessage);
    remove.params[Slot::messageId] = L"st-095";
    add(remove, L"PATCH /api/messages/st-095", false);

    std::vector<std::unique_ptr<NetResult>> results;
    for (Expected& step : plan) results.push_back(run(step.job));

    std::vector<LoggedRequest> log = serverLog();
    REQUIRE(log.size() == plan.size());
    std::set<std::wstring> keys;
    for (size_t i = 0; i < plan.size(); ++i) {
        CAPTURE(toUtf8(plan[i].line));
        CAPTURE(toUtf8(results[i]->errorText));
        CHECK(log[i].method + L" " + log[i].path == plan[i].line);
        CHECK(log[i].header(L"authorization") == L"Bearer " + account.token);
        CHECK(log[i].hasHeader(L"idempotency-key") == plan[i].key);
        if (plan[i].key) keys.insert(log[i].header(L"idempotency-key"));
        bool hasBody = log[i].method != L"GET" && plan[i].job.kind != NetJobKind::UploadFile;
        CHECK(log[i].hasHeader(L"content-type") == hasBody);
        CHECK(results[i]->job.kind == plan[i].job.kind);
        CHECK(results[i]->value.empty());
    }
    CHECK(keys.size() == 6);
    CHECK(log[0].body == L"{\"text\":\"Проверка\\n\\\"кавычки\\\" \\\\\",\"replyId\":null}");
    CHECK(log[1].body == L"{\"text\":\"Проверка\\n\\\"кавычки\\\" \\\\\",\"replyId\":\"st-088\"}");
    CHECK(log[6].body == L"{\"roomId\":\"st-forward\",\"orgId\":\"" + account.orgId + L"\"}");
    CHECK(log[8].body == L"{\"action\":\"start\",\"version\":-3,\"reason\":\"\",\"assignee\":\"\"}");
    CHECK(log[9].body == L"report body");
    for (size_t i : {0, 1, 2, 3, 4, 5, 6, 7, 9, 10}) CHECK_MESSAGE(results[i]->ok, toUtf8(plan[i].line));
    CHECK(results[7]->listJson.rfind("[", 0) == 0);
    // A stale version is refused with the server's own words.
    CHECK_FALSE(results[8]->ok);
    CHECK(!results[8]->errorText.empty());
    CHECK(results[8]->errorText != failureText);
}

TEST_CASE("create and download jobs") {
    REQUIRE_TEST_SERVER();
    ServerSession session(ServerData::Reset);
    Account account = signedInAccount();
    ScratchFolder folder;
    clearServerLog();

    NetJob create = jobFor(account, NetJobKind::CreateWorkItem, 1);
    create.params[Slot::lineId] = account.lineId;
    create.params[Slot::subject] = L"Новая тема";
    create.params[Slot::text] = L"Описание";
    std::unique_ptr<NetResult> newCase = run(create);
    CHECK(newCase->ok);
    CHECK(!newCase->value.empty());
    create.fromCase = true;
    create.params[Slot::itemId] = account.caseId;
    std::unique_ptr<NetResult> newTicket = run(create);
    CHECK(newTicket->ok);
    CHECK(!newTicket->value.empty());
    CHECK(newTicket->value != newCase->value);
    std::vector<LoggedRequest> log = serverLog();
    REQUIRE(log.size() == 2);
    CHECK(log[0].path == L"/api/cases");
    CHECK(log[0].body.rfind(L"{\"caseId\":null,\"orgId\":\"" + account.orgId + L"\",\"lineId\":", 0) == 0);
    CHECK(log[1].path == L"/api/tickets");
    CHECK(log[1].body.rfind(L"{\"caseId\":\"" + account.caseId + L"\",", 0) == 0);

    injectFault("{\"path\":\"/api/tickets\",\"kind\":\"status\",\"status\":200,\"body\":\"{created\"}");
    std::unique_ptr<NetResult> unreadable = run(create);
    CHECK_FALSE(unreadable->ok);
    CHECK(unreadable->errorText == failureText);

    NetJob download = jobFor(account, NetJobKind::DownloadFile);
    download.params[Slot::assigneeOrFileId] = L"st-file-1";
    download.params[Slot::savePath] = folder.file(L"saved.txt");
    std::unique_ptr<NetResult> saved = run(download);
    CHECK(saved->ok);
    CHECK(fileExists(folder.file(L"saved.txt")));
    CHECK_FALSE(fileExists(folder.file(L"saved.txt.kestadownload")));

    download.params[Slot::assigneeOrFileId] = L"no-such-file";
    download.params[Slot::savePath] = folder.file(L"missing.txt");
    std::unique_ptr<NetResult> missing = run(download);
    CHECK_FALSE(missing->ok);
    CHECK(!missing->errorText.empty());
    CHECK(missing->errorText != failureText);
    CHECK_FALSE(fileExists(folder.file(L"missing.txt")));

    NetJob upload = jobFor(account, NetJobKind::UploadFile);
    upload.params[Slot::uploadPath] = folder.file(L"absent.bin");
    clearServerLog();
    std::unique_ptr<NetResult> noFile = run(upload);
    CHECK_FALSE(noFile->ok);
    CHECK(noFile->errorText == failureText);
    CHECK(serverLog().empty());
}

TEST_CASE("what the operator reads after a failed job") {
    REQUIRE_TEST_SERVER();
    ServerSession session(ServerData::Reset);
    Account account = signedInAccount();
    NetJob pin = jobFor(account, NetJobKind::PinMessage);
    pin.params[Slot::messageId] = L"st-093";
    const std::string path = "/api/messages/st-093/pin";
    struct Case {
        std::string fault;
        std::wstring text;
        int status;  // what the window learns of the refusal
    };
    const Case cases[] = {
        {"\"kind\":\"status\",\"status\":403,\"body\":\"{\\\"error\\\":\\\"Нет прав\\\"}\"", L"Нет прав", 403},
        {"\"kind\":\"status\",\"status\":500,\"body\":\"{}\"", L"Сервер отклонил запрос", 500},
        {"\"kind\":\"status\",\"status\":404,\"body\":\"<html><body>Not found</body></html>\"",
         L"Сервер отклонил запрос", 404},
        {"\"kind\":\"status\",\"status\":502,\"body\":\"\"", L"Сервер отклонил запрос", 502},
        // A session ended behind a proxy that answers with its own page.
        {"\"kind\":\"status\",\"status\":401,\"body\":\"<html>Unauthorized</html>\"", L"Сервер отклонил запрос", 401},
        {"\"kind\":\"drop\"", failureText, 0},
        {"\"kind\":\"oversize\",\"bytes\":8000001", failureText, 0},
        {"\"kind\":\"status\",\"status\":407,\"body\":\"\"",
         std::wstring(failureText) + L" (прокси-сервер не пропустил запрос)", 0},
        {"\"kind\":\"silent\",\"seconds\":25", std::wstring(failureText) + L" (нет ответа)", 0},
        {"\"kind\":\"status\",\"status\":200,\"body\":\"{}\",\"headers\":[[\"Content-Encoding\",\"gzip\"]]",
         L"Не удалось прочитать ответ сервера", 0},
    };
    for (const Case& c : cases) {
        CAPTURE(c.fault);
        injectFault("{\"path\":\"" + path + "\"," + c.fault + "}");
        std::unique_ptr<NetResult> result = run(pin);
        CHECK_FALSE(result->ok);
        CHECK(result->errorText == c.text);
        CHECK(result->refusedStatus == c.status);
    }
    std::unique_ptr<NetResult> fine = run(pin);
    CHECK(fine->ok);
    CHECK(fine->errorText.empty());

    // No server to reach: the cause in brackets.
    const struct {
        std::wstring server;
        std::wstring cause;
    } unreachable[] = {
        {L"http://127.0.0.1:9", L" (соединение отклонено)"},
        {L"https://support.kesta.invalid", L" (имя сервера не найдено)"},
    };
    for (const auto& row : unreachable) {
        CAPTURE(toUtf8(row.server));
        pin.serverUrl = row.server;
        std::unique_ptr<NetResult> result = run(pin);
        CHECK(result->transportFailure);
        CHECK(result->errorText == failureText + row.cause);
    }
}

TEST_CASE("kinds without requests succeed empty") {
    for (int32_t kind : {int32_t(0), int32_t(14), int32_t(-7)}) {
        NetJob job;
        job.kind = kind;
        job.generation = 3;
        job.serverUrl = L"http://support.example";
        job.params[Slot::password] = L"secret";
        std::unique_ptr<NetResult> result = run(job);
        CHECK(result->ok);
        CHECK(result->errorText.empty());
        CHECK(result->value.empty());
        CHECK(result->meJson.empty());
        CHECK(result->listJson.empty());
        CHECK(result->job.generation == 3);
        CHECK(result->job.params[Slot::password] == std::wstring(6, L'\0'));
        CHECK(job.params[Slot::password] == std::wstring(6, L'\0'));
    }
}

namespace {

std::vector<NetResult*> receivedResults;

LRESULT CALLBACK resultWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NET_RESULT) {
        receivedResults.push_back(reinterpret_cast<NetResult*>(lParam));
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A hidden message-only window standing in for the main window.
struct ResultWindow {
    HWND handle = nullptr;
    ResultWindow() {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = resultWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"KestaNetTestResults";
        RegisterClassW(&windowClass);
        handle = CreateWindowExW(0, L"KestaNetTestResults", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        REQUIRE(handle != nullptr);
        netResultWindow = handle;
        receivedResults.clear();
    }
    ~ResultWindow() {
        netResultWindow = nullptr;
        DestroyWindow(handle);
        for (NetResult* result : receivedResults) delete result;
        receivedResults.clear();
    }
    // Pumps messages until `count` results arrived or the time is up.
    bool waitFor(size_t count, DWORD milliseconds) {
        DWORD started = GetTickCount();
        while (receivedResults.size() < count && GetTickCount() - started < milliseconds) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        }
        return receivedResults.size() >= count;
    }
};

}  // namespace

TEST_CASE("worker threads post their result to the result window") {
    ResultWindow window;
    NetJob* empty = new NetJob();
    empty->kind = 14;
    empty->generation = 11;
    REQUIRE(launchNetJobThread(empty));
    REQUIRE(window.waitFor(1, 5000));
    CHECK(receivedResults[0]->ok);
    CHECK(receivedResults[0]->job.generation == 11);

    NetJob* refused = new NetJob();
    refused->kind = NetJobKind::Refresh;
    refused->serverUrl = L"http://support.example";
    REQUIRE(launchNetJobThread(refused));
    REQUIRE(window.waitFor(2, 5000));
    CHECK_FALSE(receivedResults[1]->ok);
    CHECK(receivedResults[1]->errorText == L"Для удалённого сервера требуется HTTPS");

    // With no window to post to, the worker drops the result and ends.
    netResultWindow = nullptr;
    NetJob* orphan = new NetJob();
    orphan->kind = 0;
    runNetJob(orphan);
    CHECK(receivedResults.size() == 2);
}

TEST_CASE("the sign-out request goes out while a job is running") {
    REQUIRE_TEST_SERVER();
    ServerSession session(ServerData::Reset);
    Account account = signedInAccount();
    std::wstring leaving = signInToken(testLogin, testPassword);
    ResultWindow window;
    injectFault("{\"path\":\"/api/rooms\",\"kind\":\"delay\",\"seconds\":4}");
    clearServerLog();

    NetJob* job = new NetJob(jobFor(account, NetJobKind::Refresh, 0));
    REQUIRE(launchNetJobThread(job));
    Sleep(300);
    startSignOutRequest(leaving, testServer());
    bool signedOut = false;
    DWORD started = GetTickCount();
    while (!signedOut && GetTickCount() - started < 2500) {
        for (const auto& entry : serverLog())
            if (entry.path == L"/api/auth/logout") {
                signedOut = entry.header(L"authorization") == L"Bearer " + leaving;
                CHECK(entry.body == L"{}");
            }
        if (!signedOut) Sleep(100);
    }
    CHECK(signedOut);
    MSG pending;
    CHECK_FALSE(PeekMessageW(&pending, window.handle, WM_NET_RESULT, WM_NET_RESULT, PM_NOREMOVE));
    REQUIRE(window.waitFor(1, 10000));
    CHECK(receivedResults[0]->ok);
    // The signed-out token is refused from now on; the job's own token is not.
    CHECK(outcomeOf([&] { call(L"GET", L"/api/me", "", leaving); }).rfind(L"user:", 0) == 0);
    CHECK(outcomeOf([&] { call(L"GET", L"/api/me", "", account.token); }) == L"ok");

    // Failures of the sign-out thread are swallowed: a token the server refuses
    // reaches it and ends there, addresses that may not be used send nothing,
    // and none of them posts anything to the window.
    clearServerLog();
    startSignOutRequest(L"t", L"http://support.example");
    startSignOutRequest(L"t", L"ftp://nowhere");
    startSignOutRequest(L"t", testServer());
    int refusedSignOuts = 0;
    started = GetTickCount();
    while (refusedSignOuts == 0 && GetTickCount() - started < 5000) {
        for (const auto& entry : serverLog())
            if (entry.path == L"/api/auth/logout" && entry.header(L"authorization") == L"Bearer t") ++refusedSignOuts;
        if (refusedSignOuts == 0) Sleep(50);
    }
    CHECK(refusedSignOuts == 1);
    Sleep(300);
    CHECK(serverLog().size() == 1);
    CHECK_FALSE(PeekMessageW(&pending, window.handle, WM_NET_RESULT, WM_NET_RESULT, PM_NOREMOVE));
    CHECK(receivedResults.size() == 1);
}
