#include "ui/dialogs/actions.h"
#include "ui/main/composer.h"
#include "ui/main/dispatch.h"
#include "ui/main/ids.h"
#include <windowsx.h>

namespace {
const wchar_t selectorHint[] = L"Выберите сообщение для действия…";
}

const MessageActions* selectedMessage(const MainWindowState& state) {
    if (!state.messageCombo) return nullptr;
    LRESULT s = SendMessageW(state.messageCombo, CB_GETCURSEL, 0, 0);
    if (s < 1 || static_cast<size_t>(s) > state.actions.size()) return nullptr;
    return &state.actions[static_cast<size_t>(s) - 1];
}

namespace {
void fillSelector(MainWindowState& state, const std::vector<std::wstring>& lines, int selection) {
    HWND combo = state.messageCombo;
    SendMessageW(combo, WM_SETREDRAW, FALSE, 0);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(selectorHint));
    for (const std::wstring& line : lines) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(selection), 0);
    SendMessageW(combo, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(combo, nullptr, TRUE);
}
}

void rebuildMessageActions(MainWindowState& state, const JsonValue& history) {
    const MessageActions* previous = selectedMessage(state);
    std::wstring previousId = previous ? previous->id : std::wstring();
    ActionPage page = readActionPage(history);
    int selection = 0;
    for (size_t k = 0; k < page.actions.size(); ++k)
        if (previous && page.actions[k].id == previousId) selection = static_cast<int>(k + 1);
    // The combo is refilled only when its lines changed: a periodic refresh of
    // an unchanged page then costs no redraw and never closes an open drop-down.
    bool same = state.selectorLines == page.lines &&
                SendMessageW(state.messageCombo, CB_GETCOUNT, 0, 0) == static_cast<LRESULT>(page.lines.size() + 1);
    state.actions = std::move(page.actions);
    if (same) {
        SendMessageW(state.messageCombo, CB_SETCURSEL, static_cast<WPARAM>(selection), 0);
    } else {
        fillSelector(state, page.lines, selection);
        state.selectorLines = std::move(page.lines);
    }
    state.canWrite = memberBool(history, 0, "canWrite");
    updateActionControls(state);
}

void resetMessageActions(MainWindowState& state) {
    forgetAppliedReplies(state);
    state.canWrite = false;
    state.actions.clear();
    state.selectorLines.clear();
    state.flashText.clear();
    fillSelector(state, {}, 0);
    leaveComposerMode(state, false);
}

void updateActionControls(MainWindowState& state) {
    bool savingEdit = editSaveInFlight(state);
    ActionControls c = actionControlRules(state.busy, state.canWrite, !state.replyToId.empty(), !state.editId.empty(),
                                          selectedMessage(state), savingEdit);
    enableControl(state.replyButton, c.reply);
    enableControl(state.moreButton, c.more);
    enableControl(state.editButton, c.edit);
    enableControl(state.forwardButton, c.forward);
    enableControl(state.cancelModeButton, c.cancelMode);
    enableControl(state.sendButton, c.send);
    // Disabling the focused composer (a refresh during an edit) drops the
    // keyboard focus; it goes back once the composer is enabled again.
    if (!c.composer && GetFocus() == state.composerEdit) state.composerHadFocus = true;
    enableControl(state.composerEdit, c.composer);
    if (c.composer && state.composerHadFocus) {
        state.composerHadFocus = false;
        if (GetActiveWindow() == state.window) SetFocus(state.composerEdit);
    }
    enableControl(state.attachButton, c.attach);
    // A button repaints itself at once on every WM_SETTEXT, even of the same
    // text: the caption is written only when it changes.
    if (windowText(state.sendButton) != c.sendCaption) SetWindowTextW(state.sendButton, c.sendCaption);
}

void enableControl(HWND control, bool enabled) {
    if ((IsWindowEnabled(control) != FALSE) != enabled) EnableWindow(control, enabled);
}

bool selectMessageById(MainWindowState& state, const std::wstring& id) {
    for (size_t k = 0; k < state.actions.size(); ++k) {
        if (state.actions[k].id != id) continue;
        SendMessageW(state.messageCombo, CB_SETCURSEL, k + 1, 0);
        SendMessageW(state.window, WM_COMMAND, MAKEWPARAM(ID_MESSAGE_COMBO, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(state.messageCombo));
        return true;
    }
    return false;
}
