// Sign-in data from standard input: one JSON object of at most 4096 bytes
// with "login", "password" and the self-test scenario inputs.
#pragma once
#include <string>
#include "app/signin_input.h"
#include "ui/main/state.h"

// Applies an input document: scenario inputs by the active flags, then the
// sign-in fields, then posts the sign-in command. Malformed input changes
// nothing. The buffer is wiped.
void applySignInInput(MainWindowState& state, std::string& input);

// One read of at most 4096 bytes from standard input, then applySignInInput.
// The read runs on a thread of its own; the window's messages flow meanwhile.
void readSignInFromStdin(MainWindowState& state);
