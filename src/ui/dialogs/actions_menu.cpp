#include "app/selftest.h"
#include "ui/dialogs/actions.h"
#include "ui/dialogs/dialogs.h"
#include "ui/main/dispatch.h"
#include "ui/main/ids.h"

namespace {
const wchar_t* const reactionEmoji[4] = {L"\U0001F44D", L"\u2764\uFE0F", L"\u2705", L"\U0001F440"};

struct MenuEntry {
    UINT id;
    const wchar_t* caption;
};

}  // namespace

HMENU buildActionsMenu(const MessageActions& m) {
    HMENU menu = CreatePopupMenu();
    if (!menu) return nullptr;
    const MenuEntry reactions[4] = {
        {ID_MENU_LIKE, L"👍 Нравится — добавить / убрать"},
        {ID_MENU_HEART, L"❤️ Сердце — добавить / убрать"},
        {ID_MENU_DONE, L"✅ Готово — добавить / убрать"},
        {ID_MENU_WATCH, L"👀 Смотрю — добавить / убрать"},
    };
    UINT reactGray = m.canReact ? 0 : MF_GRAYED;
    for (const MenuEntry& e : reactions) {
        UINT check = e.id == ID_MENU_LIKE && m.likedByMe ? MF_CHECKED : 0;
        AppendMenuW(menu, MF_STRING | check | reactGray, e.id, e.caption);
    }
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING | (m.canPin ? 0 : MF_GRAYED), ID_MENU_PIN,
                m.pinned ? L"Снять закрепление" : L"Закрепить сообщение");
    AppendMenuW(menu, MF_STRING | (m.canDelete ? 0 : MF_GRAYED), ID_MENU_DELETE, L"Удалить сообщение…");
    return menu;
}

namespace {
// The moderation self-test takes its scripted command instead of showing the
// menu; an entry that is missing or unavailable ends the run as failed.
bool scriptedChoice(HMENU menu, UINT& command) {
    UINT state = GetMenuState(menu, static_cast<UINT>(selfTest.scriptedCommand), MF_BYCOMMAND);
    if (state == static_cast<UINT>(-1) || (state & (MF_GRAYED | MF_DISABLED))) return false;
    command = static_cast<UINT>(selfTest.scriptedCommand);
    return true;
}
}  // namespace

void openMessageActionsMenu(MainWindowState& s) {
    const MessageActions* selected = selectedMessage(s);
    if (s.busy || !s.editId.empty() || !selected) return;
    MessageActions copy = *selected;
    int32_t given = s.generation;
    HMENU menu = buildActionsMenu(copy);
    if (!menu) return;
    UINT command = 0;
    if (selfTest.moderationScenario) {
        if (!scriptedChoice(menu, command)) {
            DestroyMenu(menu);
            finishSelfTest(s.window, false);
            return;
        }
    } else {
        RECT r{};
        GetWindowRect(s.moreButton, &r);
        s.modalOpen = true;
        command = static_cast<UINT>(
            TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_LEFTALIGN | TPM_TOPALIGN, r.left, r.top, 0, s.window, nullptr));
        s.modalOpen = false;
    }
    DestroyMenu(menu);
    if (!IsWindow(s.window)) return;

    NetJob job;
    job.params[Slot::messageId] = copy.id;
    if (command >= ID_MENU_LIKE && command <= ID_MENU_WATCH && copy.canReact) {
        job.kind = NetJobKind::ReactToMessage;
        job.params[Slot::actionOrEmoji] = reactionEmoji[command - ID_MENU_LIKE];
        startUserJob(s, static_cast<int>(command), std::move(job), given);
    } else if (command == ID_MENU_PIN && copy.canPin) {
        job.kind = NetJobKind::PinMessage;
        startUserJob(s, ID_MENU_PIN, std::move(job), given);
    } else if (command == ID_MENU_DELETE && copy.canDelete) {
        if (!confirmDeletion(s, copy) || !IsWindow(s.window)) return;
        job.kind = NetJobKind::DeleteMessage;
        startUserJob(s, ID_MENU_DELETE, std::move(job), given);
    }
}
