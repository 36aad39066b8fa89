// Helpers for the tests that talk to the local support server: its address,
// its test-control API (request log, fault injection) and scratch files.
#pragma once
#include "net/http.h"
#include "text/errors.h"
#include "text/json.h"
#include "text/utf.h"

#include <doctest/doctest.h>

#include <string>
#include <vector>

// Wide texts in failure reports, as UTF-8.
namespace doctest {
template <>
struct StringMaker<std::wstring> {
    static String convert(const std::wstring& value) { return String(toUtf8(value).c_str()); }
};
}  // namespace doctest

// The local server's base address from KESTA_TEST_SERVER; empty when the
// program runs without one (the server tests then skip).
std::wstring testServer();
bool haveTestServer();

// Wide text of the program's environment variable, empty when unset.
std::wstring environmentText(const wchar_t* name);

// One request as the server logged it; header names are lower-cased.
struct LoggedRequest {
    std::wstring method;
    std::wstring path;
    std::vector<std::pair<std::wstring, std::wstring>> headers;
    int bodyLength = 0;
    std::wstring body;
    int connection = 0;  // the server's number of the TCP connection it came on
    bool hasHeader(const std::wstring& lowerName) const;
    std::wstring header(const std::wstring& lowerName) const;
};

// Requests to the server's own control paths ("/__test/") are left out.
std::vector<LoggedRequest> serverLog();
void clearServerLog();
void clearServerFaults();
void resetServer();
// Installs one fault; `json` is the whole fault object.
void injectFault(const std::string& json);

// One test case's hold on the server: its faults and log cleared at the start
// (its data put back too when asked), its faults cleared again at the end,
// however the case ends, so no fault outlives the case that installed it.
enum class ServerData { Kept, Reset };
struct ServerSession {
    explicit ServerSession(ServerData data = ServerData::Kept);
    ~ServerSession();
    ServerSession(const ServerSession&) = delete;
    ServerSession& operator=(const ServerSession&) = delete;
};

// A plain request to the test server; failures propagate.
HttpReply call(const std::wstring& method, const std::wstring& path, const std::string& body = std::string(),
               const std::wstring& token = std::wstring());

// Signs in through the transport and returns the token.
std::wstring signInToken(const std::wstring& login, const std::wstring& password);

// Runs `action` and returns what it raised: "user:<text>", "failure:<category>",
// "ok" or "other".
template <typename F>
std::wstring outcomeOf(F action) {
    try {
        action();
        return L"ok";
    } catch (const UserMessage& message) {
        return L"user:" + message.text;
    } catch (const TransportFailure& failure) {
        return L"failure:" + toUtf16(failure.category);
    } catch (...) {
        return L"other";
    }
}

// A fresh empty folder under the Windows temporary folder, removed (with its
// files) when the holder goes.
struct ScratchFolder {
    std::wstring path;
    ScratchFolder();
    ~ScratchFolder();
    std::wstring file(const std::wstring& name) const { return path + L"\\" + name; }
};

bool fileExists(const std::wstring& path);
std::string readWholeFile(const std::wstring& path);
void writeWholeFile(const std::wstring& path, const std::string& bytes);
// A sparse file of the given size: no disk space is spent on its zeros.
void makeSparseFile(const std::wstring& path, long long size);

// A JSON document's object members as (key, value index) pairs.
std::vector<std::pair<std::string, JsonIndex>> objectMembers(const JsonValue& doc, JsonIndex object);

// The accounts of the server's "selftest" data set used by these tests.
extern const wchar_t* const testLogin;
extern const wchar_t* const testPassword;
