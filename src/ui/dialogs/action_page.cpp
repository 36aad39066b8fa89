#include "ui/dialogs/action_page.h"
#include "text/utf.h"

namespace {
// U+1F44D, spelled as the surrogate pair the reply's text decodes to.
const wchar_t thumbsUp[] = L"\xD83D\xDC4D";

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
