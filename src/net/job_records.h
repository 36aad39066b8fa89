// The records of a network job, free of any window type: the job kinds, the
// named text slots, the job as the worker gets it and the result it posts.
#pragma once
#ifdef _WIN32
#include <windows.h>
#endif
#include "text/secret.h"
#include <cstdint>
#include <memory>
#include <string>

// windows.h turns SendMessage into SendMessageW. It comes first here on
// Windows, so every file sees the same name and the constant still works.
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
    // A refresh: the list reply the window shows (null: none), which the
    // window never changes once given; the worker compares the new reply
    // with it, so the same list is neither read again nor compared on the
    // window thread.
    std::shared_ptr<const std::string> shownList;

    NetJob() = default;
    NetJob(const NetJob&) = default;
    NetJob(NetJob&&) = default;
    NetJob& operator=(const NetJob&) = default;
    NetJob& operator=(NetJob&&) = default;
    ~NetJob() {
        wipeSecret(params[Slot::token]);
        wipeSecret(params[Slot::password]);
    }
};

// The rows of a list reply as the window keeps them; the window's code
// defines it and reads it (prepareNetResult in jobs.h).
struct ListReading;

struct NetResult {
    NetResult() = default;
    NetResult(const NetResult&) = default;
    NetResult(NetResult&&) = default;
    NetResult& operator=(const NetResult&) = default;
    NetResult& operator=(NetResult&&) = default;
    // `value` is the token of a sign-in (an id otherwise: wiping it costs nothing).
    ~NetResult() { wipeSecret(value); }

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
    // The HTTP status the server refused the job with (0: none did).
    int refusedStatus = 0;
    // The proxy wants a login and password (none given yet, or turned
    // down): the window may ask the operator and give the job again.
    bool proxySignIn = false;
    std::wstring proxyHost;
    // listJson already read into rows on the worker; null when nobody read it
    // there or it could not be read (the window then reads it itself).
    std::shared_ptr<ListReading> listReading;
    // The list reply had the very bytes of job.shownList; listJson was
    // dropped on the worker.
    bool listAsShown = false;
    // The worker found listJson no JSON: the window need not parse it again.
    bool listUnreadable = false;
};
