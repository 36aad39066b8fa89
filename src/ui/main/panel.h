// The work item panel's pure rules: status labels, which controls are on,
// and what the panel takes from a work item reply.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "text/json.h"
#include "ui/main/rows.h"

// Label of a status code; anything outside the table reads "Новая".
const wchar_t* statusLabelFor(const std::wstring& code);

// The action name sent by action button i (0..5).
const wchar_t* workActionName(int index);

struct PanelEnabling {
    bool actions[6];   // 120..125
    bool staffCombo;
};

PanelEnabling panelEnabling(int mode, bool canDispatch, bool isAssigned);

struct WorkItemReply {
    std::wstring roomId;        // "item"."room_id"
    int32_t version = 0;        // "item"."version"
    bool canDispatch = false;   // "dispatch"
    bool isAssigned = false;    // "assigned"
    bool hasTicket = false;     // "ticketId" not empty
    std::wstring header;        // "item"."subject" + " — " + the status label
    std::vector<ListRow> staff; // id "id", label "name"
};

WorkItemReply readWorkItem(const JsonValue& reply);
