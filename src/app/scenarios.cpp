#include "ui/main/state.h"
#include "app/scenarios.h"
#include "app/selftest.h"
#include "app/startup.h"
#include "ui/dialogs/actions.h"
#include "ui/main/ids.h"

void postClick(HWND control) { PostMessageW(control, BM_CLICK, 0, 0); }

bool pressIfEnabled(HWND control) {
    if (!IsWindowEnabled(control)) return false;
    SendMessageW(control, BM_CLICK, 0, 0);
    return true;
}

namespace {


bool contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

void check(bool condition, const char* name) {
    if (!condition) throw ScenarioCheckFailed(name);
}

void roundTripStep(MainWindowState& s, const std::wstring& page) {
    if (selfTest.step == 0) {
        selfTest.step = 1;
        SetWindowTextW(s.composerEdit, markerText.c_str());
        PostMessageW(s.window, WM_COMMAND, MAKEWPARAM(ID_SEND, 0), 0);
    } else if (selfTest.step == 2) {
        if (contains(page, markerText)) finishSelfTest(s.window, true);
    }
}

void historyStep(MainWindowState& s, const JsonValue& history, const std::wstring& page) {
    int shown = GetWindowTextLengthW(s.transcriptView);
    if (shown > selfTest.maxHistoryCharacters) selfTest.maxHistoryCharacters = shown;
    std::wstring view = windowText(s.transcriptView);
    switch (selfTest.step) {
    case 0:
        check(!contains(page, markerText) && !s.nextBefore.empty(), "history fixture");
        selfTest.step = 1;
        postClick(s.olderButton);
        break;
    case 1:
        selfTest.historyPages += 1;
        check(selfTest.historyPages <= 10, "history loop");
        if (selfTest.historyPages == 1) {
            selfTest.step = 10;
            postClick(s.newerButton);
        } else if (!s.nextBefore.empty()) {
            postClick(s.olderButton);
        } else {
            check(contains(view, markerText), "oldest missing");
            selfTest.step = 2;
            SetWindowTextW(s.searchEdit, markerText.c_str());
            postClick(s.findButton);
        }
        break;
    case 10:
        check(s.beforeCursor.empty() && !contains(page, markerText), "newer missing");
        selfTest.step = 1;
        postClick(s.olderButton);
        break;
    case 2: {
        bool oneItem = arrayElements(history, findMember(history, 0, "items")).size() == 1;
        check(contains(view, markerText) && oneItem, "search missing");
        selfTest.step = 3;
        postClick(s.latestButton);
        break;
    }
    case 3:
        check(!contains(page, markerText) && s.searchText.empty() && s.beforeCursor.empty() && s.cursorStack.empty(),
              "latest missing");
        finishSelfTest(s.window, true);
        break;
    default: break;
    }
}

void actionsStep(MainWindowState& s) {
    switch (selfTest.step) {
    case 0: {
        RECT hint{}, send{}, attach{}, composer{}, out{};
        GetWindowRect(s.hintLabel, &hint);
        GetWindowRect(s.sendButton, &send);
        GetWindowRect(s.attachButton, &attach);
        GetWindowRect(s.composerEdit, &composer);
        bool overlap = IntersectRect(&out, &hint, &send) || IntersectRect(&out, &hint, &attach) ||
                       IntersectRect(&out, &composer, &send) || IntersectRect(&out, &composer, &attach);
        check(!overlap, "composer controls overlap");
        check(selectMessageById(s, selfTest.replyTarget) && pressIfEnabled(s.replyButton), "reply selection");
        SetWindowTextW(s.composerEdit, (markerText + L" ответ").c_str());
        selfTest.step = 1;
        postClick(s.sendButton);
        break;
    }
    case 1:
        check(contains(windowText(s.transcriptView), markerText + L" ответ") && s.replyToId.empty(), "reply visible");
        SetWindowTextW(s.composerEdit, L"Сохранённый черновик");
        check(selectMessageById(s, selfTest.editTarget) && pressIfEnabled(s.editButton) &&
                  GetWindowTextLengthW(s.composerEdit) > 0,
              "edit selection");
        SetWindowTextW(s.composerEdit, (markerText + L" изменено").c_str());
        selfTest.step = 2;
        postClick(s.sendButton);
        break;
    case 2:
        check(contains(windowText(s.transcriptView), markerText + L" изменено") && s.editId.empty() &&
                  windowText(s.composerEdit) == L"Сохранённый черновик",
              "edit draft");
        check(selectMessageById(s, selfTest.editTarget) && pressIfEnabled(s.editButton), "cancel selection");
        SetWindowTextW(s.composerEdit, L"Не сохранять эту правку");
        pressIfEnabled(s.cancelModeButton);
        check(windowText(s.composerEdit) == L"Сохранённый черновик" && pressIfEnabled(s.replyButton), "cancel edit");
        pressIfEnabled(s.cancelModeButton);
        check(windowText(s.composerEdit) == L"Сохранённый черновик", "cancel reply");
        selfTest.step = 3;
        postClick(s.forwardButton);
        break;
    case 3:
        if (!selfTest.forwardCompleted) break;
        check(contains(windowText(s.statusLabel), L"Сообщение переслано:"), "forward feedback");
        finishSelfTest(s.window, true);
        break;
    default: break;
    }
}

void moderationStep(MainWindowState& s, const std::wstring& /*page*/) {
    check(selectMessageById(s, selfTest.moderationTarget), "moderation selection");
    const MessageActions* selected = selectedMessage(s);
    check(selected != nullptr, "moderation selection");
    MessageActions m = *selected;
    bool admin = selfTest.moderationRole == L"admin";
    std::wstring view = windowText(s.transcriptView);
    switch (selfTest.step) {
    case 0:
        check(m.canDelete && (admin ? m.canPin : (m.canReact && !m.canPin)), "moderation permissions");
        selfTest.scriptedCommand = admin ? ID_MENU_PIN : ID_MENU_LIKE;
        selfTest.step = 1;
        postClick(s.moreButton);
        break;
    case 1:
        check(admin ? m.pinned : m.likedByMe, "moderation addition");
        check(contains(view, admin ? L"[Закреплено]" : L"👍 1 (ваша)"), "moderation display");
        selfTest.step = 2;
        postClick(s.moreButton);
        break;
    case 2:
        check(admin ? !m.pinned : !m.likedByMe, "moderation removal");
        selfTest.scriptedCommand = ID_MENU_DELETE;
        check(pressIfEnabled(s.moreButton) && selfTest.cancelExercised && !s.busy, "delete cancellation");
        selfTest.step = 3;
        postClick(s.moreButton);
        break;
    case 3:
        check(!m.canDelete && !m.canReact && !m.canPin && !m.canReply && !m.canEdit && !m.canForward && m.text.empty(),
              "deleted capabilities");
        check(contains(view, L"[Сообщение удалено]"), "deleted display");
        finishSelfTest(s.window, true);
        break;
    default: break;
    }
}

}  // namespace

void runScenarioStep(MainWindowState& s, const JsonValue& history, const std::wstring& pageText) {
    if (selfTest.moderationScenario) moderationStep(s, pageText);
    else if (selfTest.actionsScenario) actionsStep(s);
    else if (selfTest.historyScenario) historyStep(s, history, pageText);
    else roundTripStep(s, pageText);
}
