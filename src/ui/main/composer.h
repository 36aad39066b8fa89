// The composer: send and save, reply and edit modes, attach and download.
#pragma once
#include "ui/main/state.h"
#include "net/jobs.h"

// Ends reply or edit mode; with restore, an edit gives the set-aside draft back.
void leaveComposerMode(MainWindowState& state, bool restore);

std::wstring composerText(const MainWindowState& state);

// 105: the send, or the save of the edit in progress, with the composer's text.
NetJob sendJob(const MainWindowState& state);
// Reply mode for the message: its id and the hint above the composer.
void enterReplyMode(MainWindowState& state, const MessageActions& message);
void onReplyCommand(MainWindowState& state);       // 151
void onEditCommand(MainWindowState& state);        // 152
void onCancelModeCommand(MainWindowState& state);  // 154
void onAttachCommand(MainWindowState& state);      // 130
// 132 for the file with this id; nothing when it is no longer listed.
void onDownloadCommand(MainWindowState& state, const std::wstring& fileId);

// The id of the file chosen in fileCombo, or empty.
std::wstring chosenFileId(const MainWindowState& state);

void onSendMessageDone(MainWindowState& state, const NetResult& result);

// Key filter of composerEdit: Ctrl+Enter sends.
LRESULT CALLBACK composerKeyFilter(HWND edit, UINT message, WPARAM wParam, LPARAM lParam);

// The system file dialogs, replaceable by tests (a real one would block).
struct FileDialogs {
    bool (*chooseUpload)(HWND owner, std::wstring& path);
    bool (*chooseDownload)(HWND owner, std::wstring& path);  // path holds the suggested name
};
extern FileDialogs fileDialogs;
