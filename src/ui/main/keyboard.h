// Keyboard use of the main window without the dialog manager (which would
// also take Enter from the composer): Tab and Shift+Tab through the tab order
// of layout.h, Enter in the sign-in fields, Escape and Ctrl+Tab in the
// composer, Enter on a push button, Ctrl+Backspace and Ctrl+A in the text
// fields, F6 and Shift+F6 among the window's areas (the list, the transcript,
// the composer, the search field, the work item panel), and where the focus goes at start, sign-in, sign-out and when the
// window is activated again.
#pragma once
#include "ui/main/state.h"
#include <vector>

// For the message loop, before TranslateMessage: true when the key was taken
// here, and the message must go no further (so no WM_CHAR follows it).
bool preTranslateMainWindowKey(MainWindowState& state, const MSG& msg);

// One message of a loop that runs the main window: the keys above, the
// message itself, then keepKeyboardFocus. The main loop and the loop that
// waits for standard input share it.
void dispatchMainWindowMessage(MainWindowState& state, const MSG& msg);

// Where Ctrl+Backspace deletes back to from `caret`: over the spaces before
// it, then over one word (letters and digits) or one run of other signs.
size_t wordStartBefore(const std::wstring& text, size_t caret);

// The position after `current` in an order of stops (before it when
// backward), wrapping, skipping those not usable; from -1 (no stop has the
// focus) the first usable one, or the last backward. -1 when none is usable.
int nextTabStop(const std::vector<bool>& usable, int current, bool backward);

// Where the operator types next: signed out, the login field when it is
// empty, else the password field; signed in, the list. Nothing for a hidden
// window (the self-test modes); an inactive one gets it once activated.
void placeSignInFocus(MainWindowState& state);

// For the message loop, after each message: notes the focused control, and
// gives the focus back to the one last noted once it can take it again (a
// job start disables some buttons, which drops the focus they held).
void keepKeyboardFocus(MainWindowState& state);

// WM_ACTIVATE: notes the focused control when the window is deactivated (a
// dialog, another program) and gives it back on activation. False when the
// message is left to DefWindowProcW.
bool onMainWindowActivate(MainWindowState& state, WPARAM wParam);
