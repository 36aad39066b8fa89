// The main window's control table (creation order, classes, styles, ids,
// texts, cue banners, limits) and its layout: a pure function from the client
// size to one rectangle per control, in the same order.
#pragma once
#include <windows.h>
#include <array>
#include "ui/main/state.h"

const int mainControlCount = 38;

struct ControlSpec {
    const wchar_t* className;
    const wchar_t* text;
    DWORD style;                     // added to WS_CHILD | WS_VISIBLE
    int id;                          // 0 where the control has none
    HWND MainWindowState::*handle;   // null for the action buttons
    int actionIndex;                 // 0..5 for the action buttons, else -1
    const wchar_t* cueBanner;        // null for none
    int textLimit;                   // 0 for the control's default
};

extern const ControlSpec mainControls[mainControlCount];

struct ControlRect {
    int left, top, width, height;
};

std::array<ControlRect, mainControlCount> layoutForClientSize(int width, int height);

// Where the control of table row `index` keeps its handle.
HWND& controlHandle(MainWindowState& state, int index);

// Moves every control to its place for the window's current client size.
void layoutMainWindow(MainWindowState& state);
