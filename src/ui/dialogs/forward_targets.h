// The rooms a message may be forwarded to, read from a rooms reply.
#pragma once
#include <string>
#include <vector>
#include "ui/main/rows.h"

// Rooms of a rooms reply whose "canWrite" is true, in reply order.
std::vector<ListRow> forwardTargets(const std::string& roomsJson);
