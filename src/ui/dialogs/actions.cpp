#include "ui/dialogs/actions.h"
#include "ui/main/composer.h"
#include "ui/main/dispatch.h"
#include "text/utf.h"
#include "ui/main/ids.h"
#include <windowsx.h>

namespace {
const wchar_t selectorHint[] = L"Выберите сообщение для действия…";
const wchar_t thumbsUp[] = L"\U0001F44D";
}

namespace {
enum ActionMember {
    Id, SenderName, Text, CanReply, CanEdit, CanForward, CanReact, CanPin, Pinned, CanDelete, Reactions, Deleted,
    ActionMemberCount
};
const char* const actionKeys[ActionMemberCount] = {
    "id", "senderName", "text", "canReply", "canEdit", "canForward", "canReact", "canPin", "pinned", "canDelete",
    "reactions", "deleted",
};
const char* const reactionKeys[] = {"emoji", "mine"};
}  // namespace

ActionPage readActionPage(const JsonValue& history) {
    ActionPage page;
    const std::vector<JsonIndex> items = arrayElements(history, findMember(history, 0, "items"));
    page.actions.reserve(items.size());
    page.lines.reserve(items.size());
    std::wstring emoji;
    JsonIndex v[ActionMemberCount];
    for (JsonIndex item : items) {
        findMembers(history, item, actionKeys, ActionMemberCount, v);
        MessageActions m;
        m.id = stringAt(history, v[Id]);
        m.senderName = visibleText(stringAt(history, v[SenderName]));
        m.text = visibleText(stringAt(history, v[Text]));
        m.canReply = isTrue(history, v[CanReply]);
        m.canEdit = isTrue(history, v[CanEdit]);
        m.canForward = isTrue(history, v[CanForward]);
        m.canReact = isTrue(history, v[CanReact]);
        m.canPin = isTrue(history, v[CanPin]);
        m.pinned = isTrue(history, v[Pinned]);
        m.canDelete = isTrue(history, v[CanDelete]);
        JsonIndex r[2];
        for (JsonIndex e = firstElement(history, v[Reactions]); e >= 0; e = nextElement(history, v[Reactions], e)) {
            findMembers(history, e, reactionKeys, 2, r);
            emoji.clear();
            appendStringAt(history, r[0], emoji);
            if (emoji == thumbsUp) m.likedByMe = isTrue(history, r[1]);
        }
        page.lines.push_back(selectorLine(page.actions.size(), m, isTrue(history, v[Deleted])));
        page.actions.push_back(std::move(m));
    }
    return page;
}

std::wstring selectorLine(size_t position, const MessageActions& message, bool deleted) {
    const size_t excerptLength = 65;
    std::wstring line = std::to_wstring(position + 1);
    line.reserve(line.size() + 6 + message.senderName.size() + excerptLength);
    line += L" · ";
    line += message.senderName;
    line += L" · ";
    if (deleted) {
        line += L"[Сообщение удалено]";
    } else {
        const size_t from = line.size();
        line.append(message.text, 0, excerptLength);
        for (size_t k = from; k < line.size(); ++k)
            if (line[k] == L'\r' || line[k] == L'\n') line[k] = L' ';
    }
    return line;
}

ActionControls actionControlRules(bool busy, bool canWrite, bool replying, bool editing, const MessageActions* sel,
                                  bool savingEdit) {
    ActionControls c{};
    c.reply = !busy && sel && sel->canReply;
    c.more = !busy && !editing && sel && (sel->canReact || sel->canPin || sel->canDelete);
    c.edit = !busy && sel && sel->canEdit;
    c.forward = !busy && sel && sel->canForward;
    // Leaving a mode needs no server: it is never refused while a job runs
    // (behind the edit's own save it waits its turn).
    c.cancelMode = replying || editing;
    c.send = !busy && (canWrite || editing);
    // Locked only while its own edit is being saved: what the operator types
    // during any other job, a periodic refresh above all, must arrive.
    c.composer = (canWrite || editing) && !(savingEdit && editing);
    c.attach = !busy && canWrite && !editing;
    c.sendCaption = editing ? L"Сохранить" : L"Отправить";
    return c;
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
