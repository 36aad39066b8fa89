// Network jobs: a job filled on the UI thread runs on a detached worker that
// makes its one to four requests and posts a NetResult back as WM_NET_RESULT.
// At most one job runs at a time; sign-out runs on a thread of its own.
#pragma once
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

const UINT WM_NET_RESULT = WM_APP + 1;

// windows.h turns SendMessage into SendMessageW; that happens the same way in
// every file that includes this header, so the constant still works.
namespace NetJobKind {
enum : int32_t {
    SignIn = 1,
    Refresh = 2,
    SendMessage = 3,
    CreateWorkItem = 4,
    WorkAction = 5,
    UploadFile = 6,
    DownloadFile = 7,
    EditMessage = 8,
    LoadForwardTargets = 9,
    ForwardMessage = 10,
    ReactToMessage = 11,
    PinMessage = 12,
    DeleteMessage = 13,
};
}

// Slots of NetJob::params.
namespace Slot {
enum : int {
    token = 0, orgId = 1, itemId = 2, roomId = 3, login = 4, password = 5,
    lineId = 6, subject = 7, text = 8, actionOrEmoji = 9, assigneeOrFileId = 10,
    uploadPath = 11, savePath = 12, searchQuery = 13, beforeCursor = 14, messageId = 15,
};
}

// A job and a result are each the owner of the secrets they carry (the
// token and password slots, a sign-in's token): whichever copy goes, its
// storage is wiped first, on every path.
struct NetJob {
    int32_t kind = 0;
    int32_t generation = 0;
    int32_t mode = 0;
    std::wstring serverUrl;
    std::wstring params[16];
    std::wstring targetRoomId;
    int32_t version = 0;
    bool fromCase = false;

    NetJob() = default;
    NetJob(const NetJob&) = default;
    NetJob(NetJob&&) = default;
    NetJob& operator=(const NetJob&) = default;
    NetJob& operator=(NetJob&&) = default;
    ~NetJob();
};

struct NetResult {
    NetResult() = default;
    NetResult(const NetResult&) = default;
    NetResult(NetResult&&) = default;
    NetResult& operator=(const NetResult&) = default;
    NetResult& operator=(NetResult&&) = default;
    ~NetResult();

    NetJob job;
    std::string meJson;
    std::string linesJson;
    std::string listJson;
    std::string historyJson;
    std::string workItemJson;
    std::wstring errorText;
    std::wstring value;
    bool ok = true;
    // Failed in the transport (no connection, cut, timed out, unreadable),
    // not refused by the server: what is shown may still stand.
    bool transportFailure = false;
};

// The window that receives WM_NET_RESULT; the main window sets it when it is
// created. Workers read it only at the moment they post.
extern std::atomic<HWND> netResultWindow;

// The requests of one job, made in order on the calling thread; the first
// failure ends the job. Fills a fresh result (ok, errorText, replies) and
// wipes the password slot in both the job and the result's copy.
NetResult* executeNetJob(NetJob& job);

// Thread body: executeNetJob, post the result to netResultWindow, free the job.
void runNetJob(NetJob* job);

// Starts a detached worker on the heap job. Returns false (and frees the job)
// when no thread could be started.
bool launchNetJobThread(NetJob* job);

// Test seam: called with each sign-in request body and reply buffer just
// before it is released, so tests can check that it holds only zero bytes.
extern void (*signInExchangeReleased)(const char* data, size_t size);

// Tells the server about a sign-out on a detached thread of its own; reports
// nothing back and swallows every failure.
void startSignOutRequest(const std::wstring& token, const std::wstring& serverUrl);
