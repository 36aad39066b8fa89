// One synchronous exchange with the support server over WinHTTP: address
// policy, fixed headers, streamed upload/download, status mapping. Failures
// are UserMessage (shown verbatim) or TransportFailure (a category). Every
// exchange runs on the one WinHTTP session of the process, which keeps the
// server's connection open between exchanges.
#pragma once
#include <windows.h>
#include <winhttp.h>
#include <atomic>
#include <string>
#include "net/http_request.h"

// Set when a request ever runs on the UI thread; a self-test then fails.
extern std::atomic<bool> networkOnUiThread;

// The thread that owns the windows. Start-up writes it once, before any
// worker exists, so workers may read it without synchronisation.
extern DWORD uiThreadId;

HttpReply sendHttpRequest(const HttpRequest& request);

// Which proxy the session goes through: the system's settings, none, or one
// named by its address ("http://host:port"). Requests to "localhost" or
// "127.0.0.1" never take a proxy.
struct ProxyChoice {
    enum Kind { System, Direct, Named };
    Kind kind = System;
    std::wstring url;
};

// Start-up calls it once, before any request. The session is made by the
// first request after it; one already open serves the requests running on it
// and is closed after the last of them.
void useHttpProxy(const ProxyChoice& choice);

// Closes the process's session once the requests running on it are done.
void closeHttpSession();

// The login and password the operator gave for the proxy: kept in memory for
// the process only, offered to the proxy (never to the server) when it asks,
// replaced by the next pair given, wiped by closeHttpSession.
void setProxyCredentials(const std::wstring& login, const std::wstring& password);
bool haveProxyCredentials();

// Test seam: the two WinHTTP calls of a proxy's sign-in (Wine has no domain
// to answer Negotiate or NTLM), WinHTTP's own by default.
struct ProxyAuthCalls {
    BOOL(WINAPI* querySchemes)(HINTERNET, LPDWORD, LPDWORD, LPDWORD);
    BOOL(WINAPI* setCredentials)(HINTERNET, DWORD, DWORD, LPCWSTR, LPCWSTR, LPVOID);
};
extern ProxyAuthCalls proxyAuthCalls;

// Sessions the transport has opened so far (tests count them).
extern std::atomic<int> httpSessionsOpened;

// Benchmark seam: how a request comes by its session. Shared is the
// program's way; the other two reproduce the transport before it kept one:
// a session of each request's own, and that with the connection closed after
// the request, as Windows does when a session goes (Wine keeps its pool of
// connections for the whole process instead). Set before the first request.
enum class SessionUse { Shared, OwnSession, OwnConnection };
extern SessionUse httpSessionUse;
