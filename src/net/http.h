// One synchronous exchange with the support server over WinHTTP: address
// policy, fixed headers, streamed upload/download, status mapping. Failures
// are UserMessage (shown verbatim) or TransportFailure (a category).
#pragma once
#include <windows.h>
#include <atomic>
#include <string>
#include "net/http_request.h"

// Set when a request ever runs on the UI thread; a self-test then fails.
extern std::atomic<bool> networkOnUiThread;

// The thread that owns the windows. Start-up writes it once, before any
// worker exists, so workers may read it without synchronisation.
extern DWORD uiThreadId;

HttpReply sendHttpRequest(const HttpRequest& request);
