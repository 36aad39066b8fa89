#include "net_support.h"

#include <doctest/doctest.h>

#include <algorithm>
#include <cwctype>

const wchar_t* const testLogin = L"selftest-admin";
const wchar_t* const testPassword = L"kesta";

std::wstring environmentText(const wchar_t* name) {
    wchar_t buffer[4096];
    DWORD length = GetEnvironmentVariableW(name, buffer, 4096);
    if (length == 0 || length >= 4096) return std::wstring();
    return std::wstring(buffer, length);
}

std::wstring testServer() { return environmentText(L"KESTA_TEST_SERVER"); }

bool haveTestServer() { return !testServer().empty(); }

bool LoggedRequest::hasHeader(const std::wstring& lowerName) const {
    for (const auto& h : headers)
        if (h.first == lowerName) return true;
    return false;
}

std::wstring LoggedRequest::header(const std::wstring& lowerName) const {
    for (const auto& h : headers)
        if (h.first == lowerName) return h.second;
    return std::wstring();
}

std::vector<std::pair<std::string, JsonIndex>> objectMembers(const JsonValue& doc, JsonIndex object) {
    std::vector<std::pair<std::string, JsonIndex>> members;
    if (object < 0 || object >= static_cast<JsonIndex>(doc.tokens.size()) ||
        doc.tokens[object].type != JSMN_OBJECT)
        return members;
    JsonIndex end = static_cast<JsonIndex>(doc.tokens.size());
    JsonIndex i = object + 1;
    while (i + 1 < end && doc.tokens[i].start < doc.tokens[object].end) {
        const JsonToken& key = doc.tokens[i];
        members.emplace_back(doc.text.substr(key.start, key.end - key.start), i + 1);
        int valueEnd = doc.tokens[i + 1].end;
        i += 2;
        while (i < end && doc.tokens[i].start < valueEnd) ++i;
    }
    return members;
}

HttpReply call(const std::wstring& method, const std::wstring& path, const std::string& body,
               const std::wstring& token) {
    HttpRequest request;
    request.serverUrl = testServer();
    request.method = method;
    request.path = path;
    request.body = body;
    request.token = token;
    return sendHttpRequest(request);
}

std::vector<LoggedRequest> serverLog() {
    JsonValue doc = parse(call(L"GET", L"/__test/log"));
    std::vector<LoggedRequest> log;
    for (JsonIndex entry : arrayElements(doc, 0)) {
        LoggedRequest record;
        record.method = memberString(doc, entry, "method");
        record.path = memberString(doc, entry, "path");
        if (record.path.rfind(L"/__test/", 0) == 0) continue;
        record.bodyLength = memberInt(doc, entry, "bodyLength");
        record.body = memberString(doc, entry, "body");
        record.connection = memberInt(doc, entry, "connection");
        for (const auto& member : objectMembers(doc, findMember(doc, entry, "headers"))) {
            std::wstring name = toUtf16(member.first);
            std::transform(name.begin(), name.end(), name.begin(), [](wchar_t c) { return std::towlower(c); });
            record.headers.emplace_back(name, stringAt(doc, member.second));
        }
        log.push_back(record);
    }
    return log;
}

void clearServerLog() { call(L"POST", L"/__test/log/clear", "{}"); }

void clearServerFaults() { call(L"POST", L"/__test/faults/clear", "{}"); }

void resetServer() { call(L"POST", L"/__test/reset", "{}"); }

void injectFault(const std::string& json) { call(L"POST", L"/__test/fault", json); }

ServerSession::ServerSession(ServerData data) {
    if (data == ServerData::Reset) resetServer();
    clearServerFaults();
    clearServerLog();
}

ServerSession::~ServerSession() {
    try {
        clearServerFaults();
    } catch (...) {
    }
}

std::wstring signInToken(const std::wstring& login, const std::wstring& password) {
    JsonValue doc = parse(call(L"POST", L"/api/auth/login",
                               "{\"login\":" + jsonQuote(login) + ",\"password\":" + jsonQuote(password) + "}"));
    std::wstring token = memberString(doc, 0, "token");
    REQUIRE_MESSAGE(!token.empty(), "the test account could not sign in");
    return token;
}

namespace {

void removeTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(full);
            else
                DeleteFileW(full.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

}  // namespace

ScratchFolder::ScratchFolder() {
    wchar_t base[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, base);
    static int counter = 0;
    for (;;) {
        path = std::wstring(base) + L"kesta-net-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(++counter);
        if (CreateDirectoryW(path.c_str(), nullptr)) break;
        REQUIRE(GetLastError() == ERROR_ALREADY_EXISTS);
    }
}

ScratchFolder::~ScratchFolder() { removeTree(path); }

bool fileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string readWholeFile(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) bytes.append(chunk, read);
    CloseHandle(file);
    return bytes;
}

void writeWholeFile(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    REQUIRE(written == bytes.size());
}

void makeSparseFile(const std::wstring& path, long long size) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = size;
    bool ok = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    REQUIRE(ok);
}
