#include "ui/main/sign_in_reply.h"
#include "text/utf.h"

SignInReplies readSignInReplies(const JsonValue& me, const JsonValue& lines) {
    SignInReplies r;
    r.userName = visibleText(memberString(me, findMember(me, 0, "user"), "name"));
    for (JsonIndex m : arrayElements(me, findMember(me, 0, "memberships")))
        r.memberships.push_back({memberString(me, m, "id"), visibleText(memberString(me, m, "name")), L"", memberString(me, m, "role")});
    for (JsonIndex l : arrayElements(lines, 0))
        r.lines.push_back({memberString(lines, l, "id"), visibleText(memberString(lines, l, "name")), L"", L""});
    return r;
}
