// The main window: its class, its procedure and its creation.
#pragma once
#include <windows.h>
#include "ui/main/state.h"

extern const wchar_t mainWindowClass[];
extern const wchar_t mainWindowTitle[];

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Creates the main window over the given state (kept in GWLP_USERDATA), at
// its first size for the DPI and work area of the monitor it opens on.
HWND createMainWindow(HINSTANCE instance, MainWindowState& state);

// Runs the layout once; exposed for start-up.
void layoutMainWindow(MainWindowState& state);

// What a freshly created control of the table needs besides its creation:
// the font, its cue banner, its text limit, the tab items.
struct ControlSpec;
void setUpControl(HWND control, const ControlSpec& row, HFONT font);
