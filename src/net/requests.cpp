#include "net/requests.h"

#include "text/secret.h"
#include "text/utf.h"

#include <stdexcept>

namespace {

HttpRequest makeRequest(const std::wstring& serverUrl, const std::wstring& token, const wchar_t* method,
                        std::wstring path, std::string body = std::string()) {
    HttpRequest request;
    request.serverUrl = serverUrl;
    request.token = token;
    request.method = method;
    request.path = std::move(path);
    request.body = std::move(body);
    return request;
}

HttpRequest jobRequest(const NetJob& job, const wchar_t* method, std::wstring path,
                       std::string body = std::string()) {
    return makeRequest(job.serverUrl, job.params[Slot::token], method, std::move(path), std::move(body));
}

const std::wstring& slot(const NetJob& job, int index) { return job.params[index]; }

std::string quoted(const NetJob& job, int index) { return jsonQuote(slot(job, index)); }

std::string quotedOrNull(const std::wstring& value) { return value.empty() ? std::string("null") : jsonQuote(value); }

HttpRequest roomListRequest(const NetJob& job) {
    return jobRequest(job, L"GET", L"/api/rooms?orgId=" + slot(job, Slot::orgId));
}

HttpRequest sendMessageRequest(const NetJob& job) {
    return jobRequest(job, L"POST", L"/api/rooms/" + slot(job, Slot::roomId) + L"/messages",
                      "{\"text\":" + quoted(job, Slot::text) +
                          ",\"replyId\":" + quotedOrNull(slot(job, Slot::messageId)) + "}");
}

HttpRequest createWorkItemRequest(const NetJob& job) {
    bool createsCase = job.mode == 1 && !job.fromCase;
    std::string body = "{\"caseId\":" + (job.fromCase ? quoted(job, Slot::itemId) : std::string("null")) +
                       ",\"orgId\":" + quoted(job, Slot::orgId) + ",\"lineId\":" + quoted(job, Slot::lineId) +
                       ",\"subject\":" + quoted(job, Slot::subject) + ",\"text\":" + quoted(job, Slot::text) + "}";
    return jobRequest(job, L"POST", createsCase ? L"/api/cases" : L"/api/tickets", std::move(body));
}

HttpRequest workActionRequest(const NetJob& job) {
    std::string body = "{\"action\":" + quoted(job, Slot::actionOrEmoji) + ",\"version\":" +
                       decimalText(job.version) + ",\"reason\":" + quoted(job, Slot::text) +
                       ",\"assignee\":" + quoted(job, Slot::assigneeOrFileId) + "}";
    return jobRequest(job, L"POST",
                      L"/api/work/" + workKindWord(job.mode) + L"/" + slot(job, Slot::itemId) + L"/action",
                      std::move(body));
}

HttpRequest uploadRequest(const NetJob& job) {
    std::wstring path = L"/api/files?roomId=" + slot(job, Slot::roomId) + L"&orgId=" + slot(job, Slot::orgId) +
                        L"&name=" + urlEncode(fileNameOf(slot(job, Slot::uploadPath)));
    if (job.mode == 2) path += L"&ticketId=" + slot(job, Slot::itemId);
    HttpRequest request = jobRequest(job, L"POST", std::move(path));
    request.uploadPath = slot(job, Slot::uploadPath);
    return request;
}

HttpRequest downloadRequest(const NetJob& job) {
    HttpRequest request = jobRequest(job, L"GET", L"/api/files/" + slot(job, Slot::assigneeOrFileId));
    request.downloadPath = slot(job, Slot::savePath);
    return request;
}

std::wstring messagePath(const NetJob& job) { return L"/api/messages/" + slot(job, Slot::messageId); }

}  // namespace

std::wstring workKindWord(int32_t mode) { return mode == 1 ? L"case" : L"ticket"; }

std::wstring fileNameOf(const std::wstring& path) {
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

std::string decimalText(int32_t value) { return std::to_string(value); }

HttpRequest signInRequest(const NetJob& job) {
    // The quoted password is a copy of the secret: wiped here, and the body is
    // reserved up front so that no reallocation leaves a copy behind.
    std::string login = quoted(job, Slot::login);
    std::string password = quoted(job, Slot::password);
    std::string body;
    body.reserve(login.size() + password.size() + 32);
    body += "{\"login\":";
    body += login;
    body += ",\"password\":";
    body += password;
    body += "}";
    wipeSecret(password);
    return makeRequest(job.serverUrl, std::wstring(), L"POST", L"/api/auth/login", std::move(body));
}

HttpRequest profileRequest(const NetJob& job, const std::wstring& token) {
    return makeRequest(job.serverUrl, token, L"GET", L"/api/me");
}

HttpRequest linesRequest(const NetJob& job, const std::wstring& token) {
    return makeRequest(job.serverUrl, token, L"GET", L"/api/lines");
}

HttpRequest listRequest(const NetJob& job) {
    if (job.mode == 0) return roomListRequest(job);
    return jobRequest(job, L"GET", L"/api/work?orgId=" + slot(job, Slot::orgId));
}

bool refreshLoadsWorkItem(const NetJob& job) { return job.mode != 0 && !slot(job, Slot::itemId).empty(); }

HttpRequest workItemRequest(const NetJob& job) {
    return jobRequest(job, L"GET", L"/api/work/" + workKindWord(job.mode) + L"/" + slot(job, Slot::itemId));
}

HttpRequest historyRequest(const NetJob& job, const std::wstring& room) {
    std::wstring path = L"/api/rooms/" + room + L"/messages?q=" + urlEncode(slot(job, Slot::searchQuery));
    if (!slot(job, Slot::beforeCursor).empty()) path += L"&before=" + slot(job, Slot::beforeCursor);
    return jobRequest(job, L"GET", std::move(path));
}

bool refreshMarksRead(const NetJob& job) {
    return slot(job, Slot::searchQuery).empty() && slot(job, Slot::beforeCursor).empty();
}

HttpRequest readMarkRequest(const NetJob& job, const std::wstring& room) {
    return jobRequest(job, L"POST", L"/api/rooms/" + room + L"/read", "{}");
}

bool isSingleRequestKind(int32_t kind) { return kind >= NetJobKind::SendMessage && kind <= NetJobKind::DeleteMessage; }

HttpRequest actionRequest(const NetJob& job) {
    switch (job.kind) {
    case NetJobKind::SendMessage:
        return sendMessageRequest(job);
    case NetJobKind::CreateWorkItem:
        return createWorkItemRequest(job);
    case NetJobKind::WorkAction:
        return workActionRequest(job);
    case NetJobKind::UploadFile:
        return uploadRequest(job);
    case NetJobKind::DownloadFile:
        return downloadRequest(job);
    case NetJobKind::EditMessage:
        return jobRequest(job, L"PATCH", messagePath(job), "{\"text\":" + quoted(job, Slot::text) + "}");
    case NetJobKind::LoadForwardTargets:
        return roomListRequest(job);
    case NetJobKind::ForwardMessage:
        return jobRequest(job, L"POST", messagePath(job) + L"/forward",
                          "{\"roomId\":" + jsonQuote(job.targetRoomId) + ",\"orgId\":" + quoted(job, Slot::orgId) +
                              "}");
    case NetJobKind::ReactToMessage:
        return jobRequest(job, L"POST", messagePath(job) + L"/reaction",
                          "{\"emoji\":" + quoted(job, Slot::actionOrEmoji) + "}");
    case NetJobKind::PinMessage:
        return jobRequest(job, L"POST", messagePath(job) + L"/pin", "{}");
    case NetJobKind::DeleteMessage:
        return jobRequest(job, L"PATCH", messagePath(job), "{\"deleted\":true}");
    default:
        throw std::invalid_argument("job kind without a single request");
    }
}

HttpRequest signOutRequest(const std::wstring& token, const std::wstring& serverUrl) {
    return makeRequest(serverUrl, token, L"POST", L"/api/auth/logout", "{}");
}

bool asksCompressedReply(const HttpRequest& request) {
    return request.downloadPath.empty() && request.path.rfind(L"/api/", 0) == 0 &&
           request.path.rfind(L"/api/auth/login", 0) != 0;
}
