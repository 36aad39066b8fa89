// The records of a network job, free of any window type: the job kinds, the
// named text slots, the job as the worker gets it and the result it posts.
#pragma once
#ifdef _WIN32
#include <windows.h>
#endif
#include <cstdint>
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

struct NetJob {
    int32_t kind = 0;
    int32_t generation = 0;
    int32_t mode = 0;
    std::wstring serverUrl;
    std::wstring params[16];
    std::wstring targetRoomId;
    int32_t version = 0;
    bool fromCase = false;
};

struct NetResult {
    NetJob job;
    std::string meJson;
    std::string linesJson;
    std::string listJson;
    std::string historyJson;
    std::string workItemJson;
    std::wstring errorText;
    std::wstring value;
    bool ok = true;
};
