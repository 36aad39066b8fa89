// The records the readers of replies fill, free of any window type: a row of
// every list the main window keeps, and what may be done with one message.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct ListRow {
    std::wstring id;
    std::wstring label;
    std::wstring ref;
    std::wstring tag;
};

// A list reply read for the tab of `mode`: its rows and the list box's line
// of each.
struct ListReading {
    int32_t mode = 0;
    std::vector<ListRow> rows;
    std::vector<std::wstring> lines;
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
