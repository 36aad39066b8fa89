// What the window takes from the replies of a sign-in: the operator's name,
// the organisations and the support lines.
#pragma once
#include <string>
#include <vector>
#include "text/json.h"
#include "ui/main/rows.h"

struct SignInReplies {
    std::wstring userName;            // "user"."name"
    std::vector<ListRow> memberships; // id "id", label "name", tag "role"
    std::vector<ListRow> lines;       // id "id", label "name"
};

// `me` is the profile reply, `lines` the support lines reply.
SignInReplies readSignInReplies(const JsonValue& me, const JsonValue& lines);
