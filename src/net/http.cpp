#include "net/http.h"
#include "net/causes.h"
#include "net/inflate.h"
#include "net/replies.h"
#include "net/requests.h"

#include "text/errors.h"
#include "text/secret.h"

#include <objbase.h>
#include <winhttp.h>

#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

std::atomic<bool> networkOnUiThread(false);
DWORD uiThreadId = 0;
std::atomic<int> httpSessionsOpened(0);
SessionUse httpSessionUse = SessionUse::Shared;
ProxyAuthCalls proxyAuthCalls = {WinHttpQueryAuthSchemes, WinHttpSetCredentials};

namespace {

const wchar_t userAgent[] = L"Kesta-Support/alpha";
const DWORD hostBufferLength = 512;
const int resolveTimeoutMs = 5000;
const int connectTimeoutMs = 5000;
const int sendTimeoutMs = 5000;
const int receiveTimeoutMs = 10000;
const LONGLONG largestUpload = 100000000;
const size_t largestReply = 8000000;
const DWORD chunkSize = 65536;
// The send time-out bounds each write, so on a slow uplink a whole chunk would
// miss it while data moves: once a chunk's write takes more than a fifth of
// the time-out, the upload goes on in pieces this large. (Always writing
// pieces would cost a fast link two thirds of its speed under Wine.)
const DWORD uploadPiece = 8192;
const ULONGLONG slowChunkMs = sendTimeoutMs / 5;
// The written body may still sit in the socket's buffers when the last write
// returns (megabytes on a Linux loopback under Wine), and the server answers
// only once it has all of it: the head of an upload's reply may take as long
// as the body could at a piece per send time-out, at most this much longer.
const DWORD uploadDrainMsMost = 120000;
const wchar_t downloadSuffix[] = L".kestadownload";

struct InternetHandle {
    HINTERNET handle = nullptr;
    InternetHandle() = default;
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    ~InternetHandle() {
        if (handle) WinHttpCloseHandle(handle);
    }
};

struct FileHandle {
    HANDLE handle = INVALID_HANDLE_VALUE;
    FileHandle() = default;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { close(); }
    bool open() const { return handle != INVALID_HANDLE_VALUE; }
    void close() {
        if (open()) CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
};

// The temporary file of a download: deleted unless the final rename took it.
struct TemporaryDownload {
    FileHandle file;
    std::wstring path;
    bool removeOnExit = false;
    ~TemporaryDownload() {
        file.close();
        if (removeOnExit) DeleteFileW(path.c_str());
    }
};

// Reply chunks may hold a fresh token (the sign-in reply); the buffer is
// wiped before it goes back to the heap, whatever the request was.
struct ChunkBuffer {
    std::vector<char> bytes;
    ChunkBuffer() : bytes(chunkSize) {}
    ~ChunkBuffer() { wipeSecret(bytes.data(), bytes.size()); }
};

std::wstring newIdempotencyKey() {
    GUID guid;
    if (FAILED(CoCreateGuid(&guid))) throw TransportFailure("network");
    wchar_t text[39] = {};
    if (StringFromGUID2(guid, text, 39) != 39) throw TransportFailure("network");
    return text;
}

// The block carries the token: it is built in one allocation, with no
// temporaries, and wiped once sent, so no copy of it goes back to the heap.
struct HeaderBlock {
    std::wstring text;
    ~HeaderBlock() { wipeSecret(text); }
};

void fillHeaderBlock(const HttpRequest& request, std::wstring& headers) {
    headers.reserve(200 + request.token.size());
    headers += L"X-Kesta-Client: 1\r\n";
    if (!request.token.empty()) {
        headers += L"Authorization: Bearer ";
        headers += request.token;
        headers += L"\r\n";
    }
    if (!request.body.empty()) headers += L"Content-Type: application/json\r\n";
    if (asksCompressedReply(request)) headers += L"Accept-Encoding: gzip\r\n";
    if (request.method == L"POST" && request.path.find(L"/messages") != std::wstring::npos) {
        headers += L"Idempotency-Key: ";
        headers += newIdempotencyKey();
        headers += L"\r\n";
    }
}

// A server that closes the connection early can make WinHTTP report a clean
// end of the body; a declared length that was not met is a failed read.
bool bodyComplete(HINTERNET request, unsigned long long received) {
    DWORD declared = 0;
    DWORD size = sizeof(declared);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &declared, &size, WINHTTP_NO_HEADER_INDEX))
        return true;
    return received == declared;
}

}  // namespace

namespace {

struct ServerAddress {
    wchar_t host[hostBufferLength] = {};
    INTERNET_PORT port = 0;
    bool secure = false;
    bool local = false;
};

// HTTPS everywhere; plain HTTP only to this machine.
ServerAddress checkAddress(const std::wstring& url) {
    ServerAddress address;
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = address.host;
    parts.dwHostNameLength = hostBufferLength;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) throw TransportFailure("address");
    address.port = parts.nPort;
    std::wstring hostText = address.host;
    address.local = hostText == L"127.0.0.1" || hostText == L"localhost";
    if (parts.nScheme == INTERNET_SCHEME_HTTPS) {
        address.secure = true;
    } else if (parts.nScheme == INTERNET_SCHEME_HTTP) {
        if (!address.local) throw UserMessage(L"Для удалённого сервера требуется HTTPS");
    } else {
        throw TransportFailure("address");
    }
    return address;
}

// The process's WinHTTP session. WinHTTP keeps its pool of open connections
// in it, so it lives as long as the program. A handle must not be closed
// while a call on it runs: every request holds the session until its own
// handles are closed, and the last holder closes it.
struct Session {
    InternetHandle winhttp;
    // The system refused the automatic proxy type (before Windows 8.1): each
    // request looks up the current user's proxy itself.
    bool proxyPerRequest = false;
    // The proxy named for the whole session ("host:port"), if any.
    std::wstring proxyName;
};

struct SessionState {
    std::mutex lock;
    ProxyChoice proxy;               // guarded by lock
    std::shared_ptr<Session> shared;  // guarded by lock
    std::wstring proxyLogin;         // guarded by lock
    std::wstring proxyPassword;      // guarded by lock
};

// Workers are never joined: one may still ask for the session while the
// program's statics are destroyed at exit, so this one never is.
SessionState& sessionState() {
    static SessionState* state = new SessionState();
    return *state;
}

// A proxy can never reach this machine's own loopback.
const wchar_t localHosts[] = L"localhost;127.0.0.1";

// WinHTTP names a proxy "host:port" (Wine refuses the "http://host" form);
// only plain-HTTP proxies exist for it.
std::wstring proxyServerName(const std::wstring& url) {
    wchar_t host[hostBufferLength] = {};
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = hostBufferLength;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts) || parts.nScheme != INTERNET_SCHEME_HTTP || !host[0])
        throw TransportFailure("address");
    std::wstring name = host;
    if (name.find(L':') != std::wstring::npos) name = L"[" + name + L"]";
    return name + L":" + std::to_wstring(parts.nPort);
}

std::shared_ptr<Session> openSession(const ProxyChoice& choice) {
    std::shared_ptr<Session> session = std::make_shared<Session>();
    HINTERNET& handle = session->winhttp.handle;
    if (choice.kind == ProxyChoice::Named) {
        std::wstring name = proxyServerName(choice.url);
        handle = WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, name.c_str(), localHosts, 0);
        session->proxyName = name;
    } else {
        if (choice.kind == ProxyChoice::System) {
            handle = WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, 0);
            session->proxyPerRequest = !handle;
        }
        if (!handle)
            handle = WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, 0);
    }
    if (!handle) throw TransportFailure("network");
    WinHttpSetTimeouts(handle, resolveTimeoutMs, connectTimeoutMs, sendTimeoutMs, receiveTimeoutMs);
    ++httpSessionsOpened;
    return session;
}

// WinHttpOpen touches no network, so making the session under the lock
// holds nobody up; two workers asking at once get the same one.
std::shared_ptr<Session> acquireSession() {
    SessionState& state = sessionState();
    std::lock_guard<std::mutex> hold(state.lock);
    if (httpSessionUse != SessionUse::Shared) return openSession(state.proxy);
    if (!state.shared) state.shared = openSession(state.proxy);
    return state.shared;
}

// The user's proxy settings and what a script made of them: texts WinHTTP
// allocated for the caller, freed however the lookup ends.
struct UserProxy {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG settings = {};
    WINHTTP_PROXY_INFO scripted = {};
    UserProxy() = default;
    UserProxy(const UserProxy&) = delete;
    UserProxy& operator=(const UserProxy&) = delete;
    ~UserProxy() {
        for (LPWSTR text : {settings.lpszAutoConfigUrl, settings.lpszProxy, settings.lpszProxyBypass,
                            scripted.lpszProxy, scripted.lpszProxyBypass})
            if (text) GlobalFree(text);
    }
};

// Before Windows 8.1: the current user's proxy settings, applied to each
// request the way WinHTTP's automatic proxy functions expect. A script (found
// or named) decides first; otherwise a fixed proxy; otherwise none.
// Returns the proxy list applied, if any.
std::wstring applyUserProxy(HINTERNET session, HINTERNET call, const ServerAddress& address, const std::wstring& path) {
    UserProxy user;
    if (!WinHttpGetIEProxyConfigForCurrentUser(&user.settings)) return std::wstring();
    const WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& settings = user.settings;
    bool scripted = false;
    if (settings.fAutoDetect || settings.lpszAutoConfigUrl) {
        WINHTTP_AUTOPROXY_OPTIONS options = {};
        if (settings.lpszAutoConfigUrl) {
            options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
            options.lpszAutoConfigUrl = settings.lpszAutoConfigUrl;
        }
        if (settings.fAutoDetect) {
            options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
            options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        }
        // Only non-local requests get here, and those are all HTTPS.
        std::wstring url = L"https://" + std::wstring(address.host) + L":" + std::to_wstring(address.port) + path;
        // Without the user's logon first: WinHTTP caches the script only then.
        scripted = WinHttpGetProxyForUrl(session, url.c_str(), &options, &user.scripted) != FALSE;
        if (!scripted && GetLastError() == ERROR_WINHTTP_LOGIN_FAILURE) {
            options.fAutoLogonIfChallenged = TRUE;
            scripted = WinHttpGetProxyForUrl(session, url.c_str(), &options, &user.scripted) != FALSE;
        }
    }
    WINHTTP_PROXY_INFO info = user.scripted;
    if (!scripted && settings.lpszProxy) {
        info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
        info.lpszProxy = settings.lpszProxy;
        info.lpszProxyBypass = settings.lpszProxyBypass;
    }
    if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || !info.lpszProxy) return std::wstring();
    WinHttpSetOption(call, WINHTTP_OPTION_PROXY, &info, sizeof(info));
    return info.lpszProxy;
}

// This machine is reached directly whatever the session's proxy: Windows
// honours the request's own setting, Wine the session's bypass list. Returns
// who answers for the proxy as far as the program knows: this machine's
// server itself, the proxy named, or nobody known (the system's own choice).
std::wstring routeRequest(const Session& session, HINTERNET call, const ServerAddress& address,
                          const HttpRequest& request) {
    if (address.local) {
        WINHTTP_PROXY_INFO direct = {};
        direct.dwAccessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
        WinHttpSetOption(call, WINHTTP_OPTION_PROXY, &direct, sizeof(direct));
        return address.host;
    }
    if (session.proxyPerRequest) return applyUserProxy(session.winhttp.handle, call, address, request.path);
    return session.proxyName;
}

// Members close in reverse order: request, connection, then this request's
// hold on the session.
struct Exchange {
    std::shared_ptr<Session> session;
    InternetHandle connection;
    InternetHandle call;
    // What WinHTTP's secure-failure notice said of the certificate.
    DWORD secureFlags = 0;
    // Revocation is checked with no way to let an unreachable revocation
    // server pass.
    bool revocationStrict = false;
    // The proxy the request goes through, as far as the program knows.
    std::wstring proxyName;
};

// A secure failure that may be only a revocation server out of reach, met
// where the platform cannot be told to let that pass.
struct RevocationUnknown {};

// The reason a WinHTTP call just failed, read before anything else can
// change the thread's last error.
[[noreturn]] void failNetwork(const Exchange& x) {
    DWORD error = GetLastError();
    if (x.revocationStrict && !(x.secureFlags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED) &&
        (error == ERROR_WINHTTP_SECURE_FAILURE || error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR ||
         error == ERROR_WINHTTP_SECURE_CERT_REV_FAILED))
        throw RevocationUnknown();
    throw TransportFailure("network", failureCause(error, x.secureFlags));
}

// In synchronous mode WinHTTP calls this on the calling thread, inside the
// call that fails; the context is the exchange's flags.
void CALLBACK noteSecureFailure(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD length) {
    if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && context && information && length >= sizeof(DWORD))
        *reinterpret_cast<DWORD*>(context) |= *static_cast<DWORD*>(information);
}

#ifndef WINHTTP_OPTION_IGNORE_CERT_REVOCATION_OFFLINE
#define WINHTTP_OPTION_IGNORE_CERT_REVOCATION_OFFLINE 155
#endif

// WinHTTP checks a certificate's revocation only when asked. A revocation
// server out of reach (common behind a proxy) must not fail the request:
// Windows 10 offers an option for that. Older systems and Wine refuse it and
// check strictly; sendHttpRequest then deals with a failure of unknown cause.
void checkRevocation(Exchange& x, bool revocation) {
    HINTERNET call = x.call.handle;
    if (revocation) {
        DWORD feature = WINHTTP_ENABLE_SSL_REVOCATION;
        if (WinHttpSetOption(call, WINHTTP_OPTION_ENABLE_FEATURE, &feature, sizeof(feature))) {
            BOOL ignoreOffline = TRUE;
            x.revocationStrict = !WinHttpSetOption(call, WINHTTP_OPTION_IGNORE_CERT_REVOCATION_OFFLINE,
                                                   &ignoreOffline, sizeof(ignoreOffline));
        }
    }
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&x.secureFlags);
    WinHttpSetOption(call, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context));
    WinHttpSetStatusCallback(call, noteSecureFailure, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
}

void openExchange(Exchange& x, const ServerAddress& address, const HttpRequest& request, bool revocation) {
    x.session = acquireSession();
    x.connection.handle = WinHttpConnect(x.session->winhttp.handle, address.host, address.port, 0);
    if (!x.connection.handle) failNetwork(x);
    x.call.handle = WinHttpOpenRequest(x.connection.handle, request.method.c_str(), request.path.c_str(), nullptr,
                                       WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                       address.secure ? WINHTTP_FLAG_SECURE : 0);
    if (!x.call.handle) failNetwork(x);
    if (address.secure) checkRevocation(x, revocation);
    DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(x.call.handle, WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy, sizeof(redirectPolicy));
    // Wine waits for the response head under this option only; the receive
    // time-out of WinHttpSetTimeouts alone would let a silent server hang us.
    DWORD headTimeout = receiveTimeoutMs;
    WinHttpSetOption(x.call.handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headTimeout, sizeof(headTimeout));
    // The session outlives the request: a cookie one reply sets would ride on
    // later requests, whose headers are fixed.
    DWORD features = WINHTTP_DISABLE_COOKIES;
    if (httpSessionUse == SessionUse::OwnConnection) features |= WINHTTP_DISABLE_KEEP_ALIVE;
    WinHttpSetOption(x.call.handle, WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof(features));
    x.proxyName = routeRequest(*x.session, x.call.handle, address, request);
}

// What a request has offered a proxy that asked who it is: each once.
struct ProxyAttempts {
    bool userCredentials = false;
    bool pair = false;
};

// The host of a proxy list ("host:port", or one by scheme: "https=host:port;…").
std::wstring proxyHostOf(std::wstring list) {
    std::wstring host = list.substr(0, list.find_first_of(L"; "));
    size_t equals = host.find(L'=');
    if (equals != std::wstring::npos) host.erase(0, equals + 1);
    size_t scheme = host.find(L"://");
    if (scheme != std::wstring::npos) host.erase(0, scheme + 3);
    size_t colon = host.rfind(L':');
    if (colon != std::wstring::npos && host.find(L']', colon) == std::wstring::npos) host.erase(colon);
    return host;
}

// The operator's pair for the proxy, under the scheme it asked for.
bool offerProxyPair(HINTERNET call, DWORD scheme) {
    SessionState& state = sessionState();
    std::lock_guard<std::mutex> hold(state.lock);
    if (state.proxyLogin.empty()) return false;
    return proxyAuthCalls.setCredentials(call, WINHTTP_AUTH_TARGET_PROXY, scheme, state.proxyLogin.c_str(),
                                         state.proxyPassword.c_str(), nullptr) != FALSE;
}

// A 407: true when something new was offered and the request may go again.
// Only the proxy target ever gets credentials; the server never does.
bool answerProxy(HINTERNET call, const std::wstring& proxyName, ProxyAttempts& tried) {
    DWORD supported = 0, first = 0, target = 0;
    if (!proxyAuthCalls.querySchemes(call, &supported, &first, &target) || target != WINHTTP_AUTH_TARGET_PROXY)
        throw TransportFailure("network", proxyRefusedCause);
    const DWORD windowsScheme = (supported & WINHTTP_AUTH_SCHEME_NEGOTIATE) ? WINHTTP_AUTH_SCHEME_NEGOTIATE
                                : (supported & WINHTTP_AUTH_SCHEME_NTLM)    ? WINHTTP_AUTH_SCHEME_NTLM
                                                                            : 0;
    // WinHTTP gives the logged-on user's credentials by itself only to hosts
    // on the bypass list; a proxy asking for Negotiate or NTLM gets them here,
    // a name and password of none meaning the current user's.
    if (windowsScheme && !tried.userCredentials) {
        tried.userCredentials = true;
        if (proxyAuthCalls.setCredentials(call, WINHTTP_AUTH_TARGET_PROXY, windowsScheme, nullptr, nullptr, nullptr))
            return true;
    }
    const DWORD pairScheme = (supported & WINHTTP_AUTH_SCHEME_BASIC) ? WINHTTP_AUTH_SCHEME_BASIC : windowsScheme;
    if (!pairScheme) throw TransportFailure("network", proxyRefusedCause);
    if (!tried.pair) {
        tried.pair = true;
        if (offerProxyPair(call, pairScheme)) return true;
    }
    throw ProxySignInNeeded(proxyHostOf(proxyName));
}

// Reads a refusal to its end before the request goes again on its handle,
// so that the connection is kept for it.
bool drainReply(HINTERNET call, ChunkBuffer& buffer) {
    for (;;) {
        DWORD read = 0;
        if (!WinHttpReadData(call, buffer.bytes.data(), chunkSize, &read)) return false;
        if (read == 0) return true;
    }
}

// The request with its upload streamed from the file, chunk by chunk.
bool sendUpload(HINTERNET call, const HttpRequest& request, const std::wstring& headers, ChunkBuffer& buffer) {
    FileHandle upload;
    upload.handle = CreateFileW(request.uploadPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!upload.open()) throw TransportFailure("file");
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(upload.handle, &size) || size.QuadPart > largestUpload) throw TransportFailure("file");
    const LONGLONG drainMs = size.QuadPart / uploadPiece * sendTimeoutMs;
    DWORD headTimeout = receiveTimeoutMs + static_cast<DWORD>(drainMs < uploadDrainMsMost ? drainMs : uploadDrainMsMost);
    WinHttpSetOption(call, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headTimeout, sizeof(headTimeout));
    if (!WinHttpSendRequest(call, headers.c_str(), static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA, 0,
                            static_cast<DWORD>(size.QuadPart), 0))
        return false;
    // A file that cannot be read to its declared length would leave the
    // server waiting for the rest: fail at once rather than at a time-out.
    LONGLONG remaining = size.QuadPart;
    DWORD pieceSize = chunkSize;
    while (remaining > 0) {
        DWORD wanted = remaining < chunkSize ? static_cast<DWORD>(remaining) : chunkSize;
        DWORD read = 0;
        if (!ReadFile(upload.handle, buffer.bytes.data(), wanted, &read, nullptr) || read == 0) return false;
        const ULONGLONG chunkStarted = GetTickCount64();
        for (DWORD sent = 0; sent < read;) {
            DWORD piece = read - sent < pieceSize ? read - sent : pieceSize;
            DWORD written = 0;
            if (!WinHttpWriteData(call, buffer.bytes.data() + sent, piece, &written)) return false;
            // A short write that reports no error is a link that stopped.
            if (written != piece) {
                SetLastError(ERROR_WINHTTP_TIMEOUT);
                return false;
            }
            sent += piece;
        }
        if (GetTickCount64() - chunkStarted > slowChunkMs) pieceSize = uploadPiece;
        remaining -= read;
    }
    return true;
}

bool sendRequest(HINTERNET call, const HttpRequest& request, ChunkBuffer& buffer) {
    HeaderBlock headers;
    fillHeaderBlock(request, headers.text);
    if (!request.uploadPath.empty()) return sendUpload(call, request, headers.text, buffer);
    void* data = request.body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(request.body.data());
    DWORD length = static_cast<DWORD>(request.body.size());
    return WinHttpSendRequest(call, headers.text.c_str(), static_cast<DWORD>(-1), data, length, length, 0) != FALSE;
}

// Writes the gathered part of the buffer and empties it.
bool writeChunk(HANDLE file, const ChunkBuffer& buffer, DWORD& filled) {
    DWORD written = 0;
    const bool ok = WriteFile(file, buffer.bytes.data(), filled, &written, nullptr) && written == filled;
    filled = 0;
    return ok;
}

// How the reply's body is coded: "Content-Encoding" as WinHTTP received it.
ReplyCoding codingOf(HINTERNET call) {
    wchar_t text[64] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (!WinHttpQueryHeaders(call, WINHTTP_QUERY_CONTENT_ENCODING, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX))
        return GetLastError() == ERROR_WINHTTP_HEADER_NOT_FOUND ? ReplyCoding::Identity : ReplyCoding::Unknown;
    std::string word;
    for (const wchar_t* c = text; *c; ++c) word += *c < 128 ? static_cast<char>(*c) : '?';
    return replyCoding(word);
}

// Reads the body into `collected` (inflated when it came compressed), or into
// the download's temporary file, which then replaces the target. Throws on
// every failed read or write and on a body that cannot be decoded.
void receiveBody(const Exchange& x, const HttpRequest& request, bool toFile, ChunkBuffer& buffer,
                 std::string& collected) {
    HINTERNET call = x.call.handle;
    // A download saves the bytes as sent: it asked for no coding.
    std::unique_ptr<ReplyInflater> inflater;
    if (!toFile) {
        ReplyCoding coding = codingOf(call);
        if (coding == ReplyCoding::Unknown) throw TransportFailure("coding");
        if (coding == ReplyCoding::Gzip) inflater.reset(new ReplyInflater());
    }
    TemporaryDownload download;
    if (toFile) {
        download.path = request.downloadPath + downloadSuffix;
        download.file.handle = CreateFileW(download.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL, nullptr);
        // A stale file of that name is someone else's: it stays untouched.
        if (!download.file.open()) throw TransportFailure("file");
        download.removeOnExit = true;
    }

    unsigned long long received = 0;
    bool readFailed = false;
    DWORD readError = 0;
    // The receive time-out bounds each wait for data, not the body: a server
    // sending a few bytes now and then would hold the worker, and with it every
    // job of the window, for as long as it liked. Each chunk's worth of body
    // must arrive within the receive time-out instead. A synchronous read
    // waits until its whole buffer is filled, so only what is there is read.
    ULONGLONG progressTick = GetTickCount64();
    unsigned long long progressBytes = 0;
    // What is there comes in pieces of WinHTTP's own buffer (8 KB under Wine);
    // a download gathers them and writes whole chunks: an eighth of the
    // writes, and a tenth off the time of a large file.
    DWORD filled = 0;
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(call, &available)) {
            readError = GetLastError();
            readFailed = true;
            break;
        }
        // Read even when nothing is there: WinHTTP gives the connection back
        // to its pool only when a read reports the end, so an empty reply (a
        // 204) skipped here would cost a new connection for the next request.
        DWORD read = 0;
        const DWORD room = chunkSize - filled;
        const DWORD wanted = available == 0 ? 1 : available < room ? available : room;
        if (!WinHttpReadData(call, buffer.bytes.data() + filled, wanted, &read)) {
            readError = GetLastError();
            readFailed = true;
            break;
        }
        if (read == 0) break;
        received += read;
        progressBytes += read;
        if (progressBytes >= chunkSize) {
            progressTick = GetTickCount64();
            progressBytes = 0;
        } else if (GetTickCount64() - progressTick > static_cast<ULONGLONG>(receiveTimeoutMs)) {
            readError = ERROR_WINHTTP_TIMEOUT;
            readFailed = true;
            break;
        }
        if (toFile) {
            filled += read;
            if (filled == chunkSize && !writeChunk(download.file.handle, buffer, filled)) {
                readFailed = true;
                break;
            }
        } else if (inflater) {
            // The limit holds for the bytes as sent and as inflated.
            if (received > largestReply) throw TransportFailure("response");
            InflateStep step = inflatePiece(*inflater, buffer.bytes.data(), read, collected, largestReply);
            if (step == InflateStep::Oversize) throw TransportFailure("response");
            if (step == InflateStep::Corrupt) throw TransportFailure("coding");
        } else {
            if (collected.size() + read > largestReply) throw TransportFailure("response");
            appendSecret(collected, buffer.bytes.data(), read);
        }
    }
    if (toFile && !readFailed && filled > 0 && !writeChunk(download.file.handle, buffer, filled)) readFailed = true;
    if (!readFailed && !bodyComplete(call, received)) readFailed = true;

    if (toFile) {
        bool flushed = FlushFileBuffers(download.file.handle) != FALSE;
        download.file.close();
        if (readFailed || !flushed) throw TransportFailure("file");
        if (!MoveFileExW(download.path.c_str(), request.downloadPath.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            throw TransportFailure("file");
        download.removeOnExit = false;
    }
    if (readFailed) throw TransportFailure("network", failureCause(readError, x.secureFlags));
    // A stream cut at a clean end of the body is no whole reply either.
    if (inflater && received > 0 && !inflateComplete(*inflater)) throw TransportFailure("coding");
}

}  // namespace

namespace {

HttpReply exchangeOnce(const ServerAddress& address, const HttpRequest& request, bool revocation) {
    Exchange exchange;
    openExchange(exchange, address, request, revocation);
    HINTERNET call = exchange.call.handle;
    ChunkBuffer buffer;
    ProxyAttempts proxyTried;
    DWORD status = 0;
    // Each time a proxy asks who we are and there is something new to offer,
    // the request goes again, its body read anew (an upload from the file's
    // start).
    do {
        if (!sendRequest(call, request, buffer) || !WinHttpReceiveResponse(call, nullptr)) failNetwork(exchange);
        status = 0;
        DWORD statusSize = sizeof(status);
        WinHttpQueryHeaders(call, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                            &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
    } while (status == 407 && answerProxy(call, exchange.proxyName, proxyTried) && drainReply(call, buffer));
    std::string collected;
    try {
        receiveBody(exchange, request, !request.downloadPath.empty() && status == 200, buffer, collected);
    } catch (...) {
        // A reply cut part-way may hold a token (a sign-in's) all the same.
        wipeSecret(collected);
        throw;
    }

    if (status >= 200 && status <= 299) {
        if (collected.empty()) return "{}";
        return collected;
    }
    // The status goes with the text, also for a body that is no JSON (a
    // proxy's page): a 401 tells the window that its session is over.
    std::wstring text;
    try {
        text = refusalText(std::move(collected));
    } catch (const UserMessage& unreadable) {
        text = unreadable.text;
    }
    throw UserMessage(std::move(text), static_cast<int>(status));
}

}  // namespace

HttpReply sendHttpRequest(const HttpRequest& request) {
    if (GetCurrentThreadId() == uiThreadId) networkOnUiThread.exchange(true);
    ServerAddress address = checkAddress(request.serverUrl);
    try {
        return exchangeOnce(address, request, true);
    } catch (const RevocationUnknown&) {
        // Where an unreachable revocation server cannot be let pass (Wine,
        // Windows before 10), a failure that did not say "revoked" is tried
        // once more without the check: a certificate fails it then only for
        // a reason of its own. Nothing reached the server the first time.
        return exchangeOnce(address, request, false);
    }
}

void useHttpProxy(const ProxyChoice& choice) {
    SessionState& state = sessionState();
    std::lock_guard<std::mutex> hold(state.lock);
    state.proxy = choice;
    state.shared.reset();
}

void closeHttpSession() {
    SessionState& state = sessionState();
    std::lock_guard<std::mutex> hold(state.lock);
    state.shared.reset();
    wipeSecret(state.proxyLogin);
    wipeSecret(state.proxyPassword);
    state.proxyLogin.clear();
    state.proxyPassword.clear();
}

void setProxyCredentials(const std::wstring& login, const std::wstring& password) {
    SessionState& state = sessionState();
    std::lock_guard<std::mutex> hold(state.lock);
    // Assigned in place over wiped storage: no copy of the old pair is left
    // to the heap when the new one is longer.
    wipeSecret(state.proxyLogin);
    wipeSecret(state.proxyPassword);
    state.proxyLogin.clear();
    state.proxyPassword.clear();
    state.proxyLogin.reserve(256);
    state.proxyPassword.reserve(256);
    state.proxyLogin = login;
    state.proxyPassword = password;
}

bool haveProxyCredentials() {
    SessionState& state = sessionState();
    std::lock_guard<std::mutex> hold(state.lock);
    return !state.proxyLogin.empty();
}
