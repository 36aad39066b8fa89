#include "net/jobs.h"

#include "net/causes.h"
#include "net/http.h"
#include "net/replies.h"
#include "net/requests.h"
#include "text/errors.h"
#include "text/json.h"
#include "text/secret.h"

#include <process.h>

#include <memory>

std::atomic<HWND> netResultWindow(nullptr);
std::atomic<void (*)(NetResult& result)> prepareNetResult(nullptr);
void (*signInExchangeReleased)(const char* data, size_t size) = nullptr;

namespace {

// Wipes a buffer when it goes out of scope, on failure too: the sign-in
// body carries the password and its reply the token.
struct WipeOnExit {
    std::string& bytes;
    ~WipeOnExit() {
        wipeSecret(bytes);
        if (signInExchangeReleased) signInExchangeReleased(bytes.data(), bytes.size());
        bytes.clear();
    }
};

std::wstring obtainToken(const NetJob& job) {
    HttpRequest request = signInRequest(job);
    WipeOnExit bodyWipe{request.body};
    std::string reply = sendHttpRequest(request);
    WipeOnExit replyWipe{reply};
    JsonValue doc = parse(std::move(reply));
    WipeOnExit documentWipe{doc.text};
    return signInToken(doc);
}

void signIn(NetJob& job, NetResult& result) {
    result.value = obtainToken(job);
    // Only the worker's job learns the token; the result's copy keeps the
    // slot as the job started.
    job.params[Slot::token] = result.value;
    result.meJson = sendHttpRequest(profileRequest(job, result.value));
    result.linesJson = sendHttpRequest(linesRequest(job, result.value));
}

void refresh(const NetJob& job, NetResult& result) {
    result.listJson = sendHttpRequest(listRequest(job));
    if (job.params[Slot::itemId].empty()) return;
    std::wstring room;
    if (job.mode == 0) {
        room = job.params[Slot::itemId];
    } else {
        result.workItemJson = sendHttpRequest(workItemRequest(job));
        JsonValue doc = parse(std::string(result.workItemJson));
        room = workItemRoom(doc);
    }
    result.historyJson = sendHttpRequest(historyRequest(job, room));
    if (!refreshMarksRead(job)) return;
    // The page is fetched: a mark that fails costs it nothing, and the next
    // refresh of the newest page sends the mark again.
    try {
        sendHttpRequest(readMarkRequest(job, room));
    } catch (...) {
    }
}

void createWorkItem(const NetJob& job, NetResult& result) {
    JsonValue doc = parse(sendHttpRequest(actionRequest(job)));
    result.value = createdId(doc);
}

void performRequests(NetJob& job, NetResult& result) {
    switch (job.kind) {
    case NetJobKind::SignIn:
        signIn(job, result);
        break;
    case NetJobKind::Refresh:
        refresh(job, result);
        break;
    case NetJobKind::CreateWorkItem:
        createWorkItem(job, result);
        break;
    case NetJobKind::LoadForwardTargets:
        result.listJson = sendHttpRequest(actionRequest(job));
        break;
    default:
        if (isSingleRequestKind(job.kind)) sendHttpRequest(actionRequest(job));
        break;
    }
}

struct SignOutJob {
    std::wstring token;
    std::wstring serverUrl;
    ~SignOutJob() { wipeSecret(token); }
};

void runSignOut(SignOutJob* raw) {
    try {
        std::unique_ptr<SignOutJob> job(raw);
        sendHttpRequest(signOutRequest(job->token, job->serverUrl));
    } catch (...) {
        // Sign-out is best effort: the window forgot the token already.
    }
}

}  // namespace

NetResult* executeNetJob(NetJob& job) {
    std::unique_ptr<NetResult> result(new NetResult());
    result->job = job;
    try {
        performRequests(job, *result);
    } catch (const ProxySignInNeeded& needed) {
        result->ok = false;
        result->proxySignIn = true;
        // No refusal of the server's: what is shown may stand.
        result->transportFailure = true;
        result->proxyHost = needed.proxyHost;
        result->errorText = needed.text;
    } catch (const UserMessage& message) {
        result->ok = false;
        // An empty refusal text would leave the operator an empty status line.
        result->errorText = message.text.empty() ? std::wstring(refusedText) : message.text;
        result->refusedStatus = message.status;
    } catch (const TransportFailure& failure) {
        result->ok = false;
        result->transportFailure = true;
        // A reply that came but cannot be decoded is no failure to reach.
        result->errorText = failure.category == "coding" ? std::wstring(unreadableText)
                                                         : unreachableTextWith(failure.cause);
    } catch (...) {
        result->ok = false;
        result->transportFailure = true;
        result->errorText = unreachableText;
    }
    if (auto prepare = prepareNetResult.load()) {
        try {
            if (result->ok) prepare(*result);
        } catch (...) {
            // The window reads the replies itself and tells what failed.
        }
    }
    wipeSecret(job.params[Slot::password]);
    wipeSecret(result->job.params[Slot::password]);
    return result.release();
}

void runNetJob(NetJob* raw) {
    try {
        std::unique_ptr<NetJob> job(raw);
        std::unique_ptr<NetResult> result(executeNetJob(*job));
        HWND window = netResultWindow.load();
        // If posting fails the window is gone and nobody else would free it.
        if (window && PostMessageW(window, WM_NET_RESULT, 0, reinterpret_cast<LPARAM>(result.get())))
            result.release();
    } catch (...) {
        // Nothing may leave a thread entry; the window then never hears back.
    }
}

namespace {
// The C runtime's own thread start, the handle closed at once: nobody joins a
// worker. (A detached std::thread of this runtime was seen to crash under load
// when one thread ended just as another started.)
unsigned __stdcall jobThread(void* job) {
    runNetJob(static_cast<NetJob*>(job));
    return 0;
}

unsigned __stdcall signOutThread(void* job) {
    runSignOut(static_cast<SignOutJob*>(job));
    return 0;
}

bool startDetached(unsigned(__stdcall* entry)(void*), void* param) {
    uintptr_t handle = _beginthreadex(nullptr, 0, entry, param, 0, nullptr);
    if (!handle) return false;
    CloseHandle(reinterpret_cast<HANDLE>(handle));
    return true;
}
}  // namespace

bool launchNetJobThread(NetJob* job) {
    if (startDetached(jobThread, job)) return true;
    delete job;
    return false;
}

void startSignOutRequest(const std::wstring& token, const std::wstring& serverUrl) {
    SignOutJob* job = nullptr;
    try {
        job = new SignOutJob{token, serverUrl};
    } catch (...) {
        return;
    }
    if (!startDetached(signOutThread, job)) delete job;
}
