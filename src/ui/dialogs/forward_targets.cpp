#include "ui/dialogs/forward_targets.h"
#include "text/json.h"
#include "text/utf.h"

std::vector<ListRow> forwardTargets(const std::string& roomsJson) {
    JsonValue rooms = parse(std::string(roomsJson));
    std::vector<ListRow> targets;
    for (JsonIndex e : arrayElements(rooms, 0))
        if (memberBool(rooms, e, "canWrite")) targets.push_back({memberString(rooms, e, "id"), visibleText(memberString(rooms, e, "title")), L"", L""});
    return targets;
}
