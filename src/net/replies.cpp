#include "net/replies.h"
#include "text/errors.h"

std::wstring signInToken(const JsonValue& reply) { return memberString(reply, 0, "token"); }

std::wstring workItemRoom(const JsonValue& workItem) {
    return memberString(workItem, findMember(workItem, 0, "item"), "room_id");
}

std::wstring createdId(const JsonValue& reply) { return memberString(reply, 0, "id"); }

std::wstring refusalText(std::string body) {
    std::wstring text;
    try {
        JsonValue doc = parse(std::move(body));
        // The lenient tokenizer reads an HTML or plain-text error page as a run
        // of bare values; that is no JSON reply either.
        if (doc.tokens.empty() || doc.tokens[0].type == JsonKind::Primitive) throw TransportFailure("json");
        text = memberString(doc, 0, "error");
    } catch (const UserMessage&) {
        throw;
    } catch (...) {
        throw UserMessage(refusedText);
    }
    return text;
}
