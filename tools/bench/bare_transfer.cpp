// The floor of the client's transfers under Wine: the same upload and
// download done with WinHTTP and nothing around it. Same chunk size, same
// request headers, same file handling (the upload streamed from the file in
// chunks; the download written to a file in chunks, flushed and closed); no
// time-out options, no progress checks, no temporary file, no JSON.
//
// bare_transfer SERVER TOKEN ORG ROOM FILE ROUNDS
//   Per round: uploads FILE into ROOM, downloads the file the server names
//   in its reply, prints the seconds of each.
#include "timing.h"

#include <winhttp.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

const DWORD chunkSize = 65536;

std::wstring wide(const char* text) {
    std::wstring out;
    for (const char* p = text; *p; ++p) out += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return out;
}

struct Exchange {
    HINTERNET session = nullptr, connection = nullptr, request = nullptr;
    ~Exchange() {
        if (request) WinHttpCloseHandle(request);
        if (connection) WinHttpCloseHandle(connection);
        if (session) WinHttpCloseHandle(session);
    }
};

bool open(Exchange& x, const std::wstring& server, const wchar_t* method, const std::wstring& path) {
    wchar_t host[512] = {};
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 512;
    if (!WinHttpCrackUrl(server.c_str(), 0, 0, &parts)) return false;
    x.session = WinHttpOpen(L"bare", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!x.session) return false;
    x.connection = WinHttpConnect(x.session, host, parts.nPort, 0);
    if (!x.connection) return false;
    x.request = WinHttpOpenRequest(x.connection, method, path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                   WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
    return x.request != nullptr;
}

bool upload(const std::wstring& server, const std::wstring& path, const std::wstring& headers,
            const std::wstring& file, std::string& reply) {
    Exchange x;
    if (!open(x, server, L"POST", path)) return false;
    HANDLE in = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size = {};
    GetFileSizeEx(in, &size);
    std::vector<char> buffer(chunkSize);
    bool ok = WinHttpSendRequest(x.request, headers.c_str(), static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA, 0,
                                 static_cast<DWORD>(size.QuadPart), 0) != FALSE;
    DWORD read = 0, written = 0;
    while (ok && ReadFile(in, buffer.data(), chunkSize, &read, nullptr) && read > 0)
        ok = WinHttpWriteData(x.request, buffer.data(), read, &written) && written == read;
    CloseHandle(in);
    if (!ok || !WinHttpReceiveResponse(x.request, nullptr)) return false;
    while (WinHttpReadData(x.request, buffer.data(), chunkSize, &read) && read > 0) reply.append(buffer.data(), read);
    return true;
}

bool download(const std::wstring& server, const std::wstring& path, const std::wstring& headers,
              const std::wstring& file) {
    Exchange x;
    if (!open(x, server, L"GET", path)) return false;
    if (!WinHttpSendRequest(x.request, headers.c_str(), static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(x.request, nullptr))
        return false;
    HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    std::vector<char> buffer(chunkSize);
    bool ok = true;
    DWORD read = 0, written = 0;
    while (ok && WinHttpReadData(x.request, buffer.data(), chunkSize, &read) && read > 0)
        ok = WriteFile(out, buffer.data(), read, &written, nullptr) && written == read;
    ok = FlushFileBuffers(out) && ok;
    CloseHandle(out);
    return ok;
}

// The file id from the upload's reply {"id": "...", ...}.
std::wstring replyId(const std::string& reply) {
    const std::string key = "\"id\": \"";
    size_t at = reply.find(key);
    if (at == std::string::npos) return std::wstring();
    size_t end = reply.find('"', at + key.size());
    return wide(reply.substr(at + key.size(), end - at - key.size()).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 7) {
        std::printf("usage: bare_transfer SERVER TOKEN ORG ROOM FILE ROUNDS\n");
        return 2;
    }
    const std::wstring server = wide(argv[1]), token = wide(argv[2]), org = wide(argv[3]), room = wide(argv[4]);
    const std::wstring file = wide(argv[5]);
    const int rounds = std::atoi(argv[6]);
    const std::wstring headers = L"X-Kesta-Client: 1\r\nAuthorization: Bearer " + token + L"\r\n";
    const std::wstring target = file + L".bare";
    for (int i = 0; i < rounds; ++i) {
        std::string reply;
        double start = secondsNow();
        bool sent = upload(server, L"/api/files?roomId=" + room + L"&orgId=" + org + L"&name=bare-upload.bin", headers,
                           file, reply);
        double up = secondsNow() - start;
        std::wstring id = replyId(reply);
        if (!sent || id.empty()) {
            std::printf("{\"error\": \"the bare upload failed\"}\n");
            return 1;
        }
        start = secondsNow();
        bool got = download(server, L"/api/files/" + id, headers, target);
        double down = secondsNow() - start;
        DeleteFileW(target.c_str());
        if (!got) {
            std::printf("{\"error\": \"the bare download failed\"}\n");
            return 1;
        }
        printRecord("bare", "upload", {{"seconds", up}});
        printRecord("bare", "download", {{"seconds", down}});
    }
    return 0;
}
