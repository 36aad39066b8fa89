// The sign-in document of standard input read without any window: the
// sign-in fields and the self-test scenario inputs, with every buffer that
// held the text wiped before it is released.
#pragma once
#include <cstddef>
#include <string>

struct SignInInput {
    bool valid = false;   // the text is a JSON object; only then is sign-in started
    std::wstring login, password;
    std::wstring moderationTarget, moderationRole;     // read for the moderation scenario
    std::wstring replyTarget, editTarget, forwardRoom; // read for the message-actions scenario
    std::wstring historyMarker;                        // read for the history scenario
};

// Reads "moderationTarget" and "moderationRole", then "replyTarget",
// "editTarget" and "forwardRoom", then "historyMarker", each group only for
// its scenario, then "login" and "password". The input is wiped (its length
// kept); so is every copy of it before release. Never raises: anything that
// fails gives an input that is not valid.
SignInInput readSignInInput(std::string& input, bool moderationScenario, bool actionsScenario, bool historyScenario);

// Zeros a buffer that held the input, then tells the test seam.
void wipeSignInBuffer(char* data, size_t size);

// Test seam: called with each buffer just before it is released, so tests can
// check that it holds only zero bytes.
extern void (*signInBufferReleased)(const char* data, size_t size);
