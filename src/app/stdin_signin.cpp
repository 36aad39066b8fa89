#include "app/stdin_signin.h"
#include "app/selftest.h"
#include "app/startup.h"
#include "text/json.h"
#include "ui/main/ids.h"
#include <vector>

void (*signInBufferReleased)(const char* data, size_t size) = nullptr;

namespace {
void wipe(char* data, size_t size) {
    if (size) SecureZeroMemory(data, size);
    if (signInBufferReleased) signInBufferReleased(data, size);
}
}

void applySignInInput(MainWindowState& s, std::string& input) {
    // The document keeps its own copy of the text (it holds the password).
    std::string text(input);
    wipe(&input[0], input.size());
    try {
        JsonValue doc = parse(std::move(text));
        struct Wiper {
            JsonValue& doc;
            ~Wiper() { wipe(&doc.text[0], doc.text.size()); }
        } wiper{doc};
        // The lenient tokenizer takes plain words for a document of bare
        // values; only an object is sign-in data.
        if (doc.tokens.empty() || doc.tokens[0].type != JSMN_OBJECT) return;
        if (selfTest.moderationScenario) {
            selfTest.moderationTarget = memberString(doc, 0, "moderationTarget");
            selfTest.moderationRole = memberString(doc, 0, "moderationRole");
        }
        if (selfTest.actionsScenario) {
            selfTest.replyTarget = memberString(doc, 0, "replyTarget");
            selfTest.editTarget = memberString(doc, 0, "editTarget");
            selfTest.forwardRoom = memberString(doc, 0, "forwardRoom");
        }
        if (selfTest.historyScenario) markerText = memberString(doc, 0, "historyMarker");
        SetWindowTextW(s.loginEdit, memberString(doc, 0, "login").c_str());
        std::wstring password = memberString(doc, 0, "password");
        SetWindowTextW(s.passwordEdit, password.c_str());
        if (!password.empty()) SecureZeroMemory(&password[0], password.size() * sizeof(wchar_t));
        PostMessageW(s.window, WM_COMMAND, MAKEWPARAM(ID_SIGN_IN, 0), 0);
    } catch (...) {
        // Malformed input: no sign-in; the window waits for the operator.
        if (!text.empty()) wipe(&text[0], text.size());
    }
}

void readSignInFromStdin(MainWindowState& s) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    if (!in || in == INVALID_HANDLE_VALUE) return;
    std::vector<char> buffer(4096, 0);
    DWORD got = 0;
    if (!ReadFile(in, buffer.data(), 4096, &got, nullptr) || got == 0) return;
    std::string input(buffer.data(), got);
    wipe(buffer.data(), buffer.size());
    applySignInInput(s, input);
}
