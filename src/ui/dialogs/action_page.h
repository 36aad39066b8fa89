// The window-free half of the action model: the per-message records and
// selector lines read from a history page, and the rule set that says which
// message and composer controls are on.
#pragma once
#include <string>
#include <vector>
#include "text/json.h"
#include "ui/main/rows.h"

struct ActionPage {
    std::vector<MessageActions> actions;
    std::vector<std::wstring> lines;   // selector lines, item k+1 of messageCombo
};

// Reads "items" of a history reply in order.
ActionPage readActionPage(const JsonValue& history);

// "k+1 · sender · excerpt": 65 code units with CR and LF as spaces, or
// "[Сообщение удалено]" for a deleted message.
std::wstring selectorLine(size_t position, const MessageActions& message, bool deleted);

struct ActionControls {
    bool reply, more, edit, forward, cancelMode, send, composer, attach;
    const wchar_t* sendCaption;
};

// `savingEdit`: the save of the edit in progress is in flight or waits.
ActionControls actionControlRules(bool busy, bool canWrite, bool replying, bool editing, const MessageActions* selected,
                                  bool savingEdit);
