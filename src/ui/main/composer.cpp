#include "ui/main/state.h"
#include "ui/main/composer.h"
#include "app/selftest.h"
#include "ui/main/accessibility.h"
#include "ui/dialogs/actions.h"
#include "ui/main/dispatch.h"
#include "ui/main/history.h"
#include "ui/main/ids.h"
#include "text/secret.h"
#include <commdlg.h>
#include <vector>

namespace {


const size_t pathBufferSize = 32768;

bool systemChooseUpload(HWND owner, std::wstring& path) {
    std::vector<wchar_t> buffer(pathBufferSize, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&ofn)) return false;
    path = buffer.data();
    return true;
}

bool systemChooseDownload(HWND owner, std::wstring& path) {
    std::vector<wchar_t> buffer(pathBufferSize, L'\0');
    path.copy(buffer.data(), pathBufferSize - 1);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameW(&ofn)) return false;
    path = buffer.data();
    return true;
}

}  // namespace

FileDialogs fileDialogs = {systemChooseUpload, systemChooseDownload};

std::wstring composerText(const MainWindowState& s) { return windowText(s.composerEdit); }

void leaveComposerMode(MainWindowState& s, bool restore) {
    if (restore && !s.editId.empty()) SetWindowTextW(s.composerEdit, s.savedText.c_str());
    s.replyToId.clear();
    s.editId.clear();
    // The set-aside draft may hold a customer's personal data.
    wipeSecret(s.savedText);
    s.savedText.clear();
    SetWindowTextW(s.hintLabel, L"");
    nameComposer(s, std::wstring());
    updateActionControls(s);
}

NetJob sendJob(const MainWindowState& s) {
    NetJob job;
    bool editing = !s.editId.empty();
    job.kind = editing ? NetJobKind::EditMessage : NetJobKind::SendMessage;
    job.params[Slot::messageId] = editing ? s.editId : s.replyToId;
    job.params[Slot::text] = composerText(s);
    return job;
}

void enterReplyMode(MainWindowState& s, const MessageActions& message) {
    s.replyToId = message.id;
    std::wstring hint = L"Ответ: " + message.senderName + L" · " + message.text.substr(0, 90);
    SetWindowTextW(s.hintLabel, hint.c_str());
    nameComposer(s, message.senderName);
    updateActionControls(s);
}

void onReplyCommand(MainWindowState& s) {
    const MessageActions* sel = selectedMessage(s);
    if (s.busy || !sel || !sel->canReply) return;
    MessageActions message = *sel;
    leaveComposerMode(s, true);
    enterReplyMode(s, message);
    SetFocus(s.composerEdit);
}

void onEditCommand(MainWindowState& s) {
    const MessageActions* sel = selectedMessage(s);
    if (s.busy || !sel || !sel->canEdit) return;
    MessageActions message = *sel;
    leaveComposerMode(s, true);
    s.savedText = composerText(s);
    s.editId = message.id;
    SetWindowTextW(s.composerEdit, message.text.c_str());
    SetWindowTextW(s.hintLabel, L"Изменение сообщения · Ctrl+Enter — сохранить · «Отменить» — вернуть черновик");
    nameComposer(s, std::wstring());
    updateActionControls(s);
    SetFocus(s.composerEdit);
}

void onCancelModeCommand(MainWindowState& s) { leaveComposerMode(s, true); }

void onAttachCommand(MainWindowState& s) {
    int32_t given = s.generation;
    std::wstring path;
    if (!fileDialogs.chooseUpload(s.window, path) || !IsWindow(s.window)) return;
    NetJob job;
    job.kind = NetJobKind::UploadFile;
    job.params[Slot::uploadPath] = path;
    startUserJob(s, ID_ATTACH, std::move(job), given);
}

std::wstring chosenFileId(const MainWindowState& s) {
    LRESULT row = SendMessageW(s.fileCombo, CB_GETCURSEL, 0, 0);
    if (row < 0 || static_cast<size_t>(row) >= s.files.size()) return std::wstring();
    return s.files[static_cast<size_t>(row)].id;
}

void onDownloadCommand(MainWindowState& s, const std::wstring& fileId) {
    const ListRow* chosen = nullptr;
    for (const ListRow& f : s.files)
        if (f.id == fileId) chosen = &f;
    if (!chosen) return;
    ListRow file = *chosen;
    int32_t given = s.generation;
    std::wstring path = file.label.substr(0, pathBufferSize - 1);
    if (!fileDialogs.chooseDownload(s.window, path) || !IsWindow(s.window)) return;
    NetJob job;
    job.kind = NetJobKind::DownloadFile;
    job.params[Slot::assigneeOrFileId] = file.id;
    job.params[Slot::savePath] = path;
    startUserJob(s, ID_DOWNLOAD, std::move(job), given);
}

void onSendMessageDone(MainWindowState& s, const NetResult& r) {
    leaveComposerMode(s, false);
    resetHistoryNavigation(s);
    if (composerText(s) == r.job.params[Slot::text]) SetWindowTextW(s.composerEdit, L"");
    if (selfTest.active && !selfTest.actionsScenario && !selfTest.moderationScenario) selfTest.step = 2;
}

LRESULT CALLBACK composerKeyFilter(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
    MainWindowState* s = stateOf(GetParent(edit));
    if (!s || !s->composerProc) return DefWindowProcW(edit, message, wParam, lParam);
    bool ctrl = GetKeyState(VK_CONTROL) < 0;
    if (message == WM_KEYDOWN && wParam == VK_RETURN && ctrl) {
        PostMessageW(s->window, WM_COMMAND, MAKEWPARAM(ID_SEND, 0), 0);
        return 0;
    }
    // The same Ctrl+Enter also produces a line feed character; left alone it
    // would land in the text just before the send reads it.
    if (message == WM_CHAR && wParam == L'\n' && ctrl) return 0;
    return CallWindowProcW(s->composerProc, edit, message, wParam, lParam);
}
