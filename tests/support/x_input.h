// Real keyboard and mouse input through the X server, for tests that must see
// keys take the whole way (X, Wine's input, the message loop, the controls).
#pragma once
#include <windows.h>

#include <string>

// Runs xdotool with these arguments (no double quotes in them) and waits until
// it has ended; true when it succeeded.
bool xdotool(const std::string& arguments);

// A real click in the middle of a control of any process's window.
bool clickControl(HWND control);
