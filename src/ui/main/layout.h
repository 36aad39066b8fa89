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

// A screen reader names an edit, a list, a combo box, a tab control or a rich
// edit by the nearest STATIC created before it (walking back through the
// earlier siblings). Each such field gets a label of its own, created just
// before it and never shown, moved or enabled: the window looks and lays out
// as without them, and the labels take no focus.
struct FieldLabel {
    HWND MainWindowState::*field;
    int id;               // ID_LABEL_FIRST..ID_LABEL_LAST
    const wchar_t* name;
};

const int fieldLabelCount = 13;
extern const FieldLabel fieldLabels[fieldLabelCount];

// The label created before table row `index`, or null.
const FieldLabel* labelBefore(int index);

// The composer's name: plain, replying to `sender`, or editing.
std::wstring composerName(bool replying, bool editing, const std::wstring& sender);

// The order in which Tab moves the keyboard focus through the controls above:
// reading order, the sign-in strip and the left column first, then the right
// side top to bottom and left to right, the web link last. The main window is
// no dialog, so no control carries WS_TABSTOP; this table alone decides.
struct TabStop {
    HWND MainWindowState::*handle;  // null for the action buttons
    int actionIndex;                // 0..5 for the action buttons, else -1
};

inline constexpr TabStop mainTabOrder[] = {
    {&MainWindowState::serverEdit, -1},
    {&MainWindowState::loginEdit, -1},
    {&MainWindowState::passwordEdit, -1},
    {&MainWindowState::signInButton, -1},
    {&MainWindowState::orgCombo, -1},
    {&MainWindowState::modeTabs, -1},
    {&MainWindowState::itemList, -1},
    {&MainWindowState::newWorkButton, -1},
    {&MainWindowState::reasonEdit, -1},
    {&MainWindowState::createTicketButton, -1},
    {&MainWindowState::staffCombo, -1},
    {nullptr, 0}, {nullptr, 1}, {nullptr, 2}, {nullptr, 3}, {nullptr, 4}, {nullptr, 5},
    {&MainWindowState::searchEdit, -1},
    {&MainWindowState::findButton, -1},
    {&MainWindowState::olderButton, -1},
    {&MainWindowState::newerButton, -1},
    {&MainWindowState::latestButton, -1},
    {&MainWindowState::transcriptView, -1},
    {&MainWindowState::messageCombo, -1},
    {&MainWindowState::moreButton, -1},
    {&MainWindowState::replyButton, -1},
    {&MainWindowState::editButton, -1},
    {&MainWindowState::forwardButton, -1},
    {&MainWindowState::cancelModeButton, -1},
    {&MainWindowState::fileCombo, -1},
    {&MainWindowState::downloadButton, -1},
    {&MainWindowState::composerEdit, -1},
    {&MainWindowState::attachButton, -1},
    {&MainWindowState::sendButton, -1},
    {&MainWindowState::webButton, -1},
};
const int mainTabStopCount = static_cast<int>(sizeof mainTabOrder / sizeof mainTabOrder[0]);

// Each control once, and none of the labels, which take no focus.
constexpr bool tabOrderSound() {
    for (int i = 0; i < mainTabStopCount; ++i) {
        HWND MainWindowState::*h = mainTabOrder[i].handle;
        if (h == &MainWindowState::statusLabel || h == &MainWindowState::headerLabel ||
            h == &MainWindowState::hintLabel)
            return false;
        for (int j = i + 1; j < mainTabStopCount; ++j)
            if (h == mainTabOrder[j].handle && mainTabOrder[i].actionIndex == mainTabOrder[j].actionIndex) return false;
    }
    return true;
}
static_assert(mainTabStopCount == mainControlCount - 3, "every control but the three labels is a tab stop");
static_assert(tabOrderSound(), "each control is a tab stop once, no label is one");

struct ControlRect {
    int left, top, width, height;
};

// At a DPI every offset and size of the table is its 96-DPI value scaled
// (MulDiv(v, dpi, 96)); the client size is taken as it is.
std::array<ControlRect, mainControlCount> layoutForClientSize(int width, int height, int dpi);

// Where the control of table row `index` keeps its handle.
HWND& controlHandle(MainWindowState& state, int index);

// Moves every control to its place for the window's current client size and DPI.
void layoutMainWindow(MainWindowState& state);
