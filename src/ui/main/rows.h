// The records the readers of replies fill, free of any window type: a row of
// every list the main window keeps, and what may be done with one message.
#pragma once
#include <string>

struct ListRow {
    std::wstring id;
    std::wstring label;
    std::wstring ref;
    std::wstring tag;
};

struct MessageActions {
    std::wstring id;
    std::wstring senderName;
    std::wstring text;
    bool canReply = false;
    bool canEdit = false;
    bool canForward = false;
    bool canReact = false;
    bool canPin = false;
    bool pinned = false;
    bool canDelete = false;
    bool likedByMe = false;
};
