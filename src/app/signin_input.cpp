#include "app/signin_input.h"
#include "text/json.h"
#include "text/secret.h"

void (*signInBufferReleased)(const char* data, size_t size) = nullptr;

void wipeSignInBuffer(char* data, size_t size) {
    wipeSecret(data, size);
    if (signInBufferReleased) signInBufferReleased(data, size);
}

SignInInput readSignInInput(std::string& input, bool moderationScenario, bool actionsScenario, bool historyScenario) {
    SignInInput in;
    // The document keeps its own copy of the text (it holds the password).
    std::string text;
    try {
        text = input;
    } catch (...) {
        wipeSignInBuffer(&input[0], input.size());
        return in;
    }
    wipeSignInBuffer(&input[0], input.size());
    try {
        JsonValue doc = parse(std::move(text));
        struct Wiper {
            JsonValue& doc;
            ~Wiper() { wipeSignInBuffer(&doc.text[0], doc.text.size()); }
        } wiper{doc};
        // The lenient tokenizer takes plain words for a document of bare
        // values; only an object is sign-in data.
        if (doc.tokens.empty() || doc.tokens[0].type != JSMN_OBJECT) return in;
        if (moderationScenario) {
            in.moderationTarget = memberString(doc, 0, "moderationTarget");
            in.moderationRole = memberString(doc, 0, "moderationRole");
        }
        if (actionsScenario) {
            in.replyTarget = memberString(doc, 0, "replyTarget");
            in.editTarget = memberString(doc, 0, "editTarget");
            in.forwardRoom = memberString(doc, 0, "forwardRoom");
        }
        if (historyScenario) in.historyMarker = memberString(doc, 0, "historyMarker");
        in.login = memberString(doc, 0, "login");
        in.password = memberString(doc, 0, "password");
        in.valid = true;
    } catch (...) {
        // Malformed input: no sign-in.
        if (!text.empty()) wipeSignInBuffer(&text[0], text.size());
        wipeSecret(in.password);
        in = SignInInput();
    }
    return in;
}
