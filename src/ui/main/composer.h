// The composer: send and save, reply and edit modes, attach and download.
#pragma once
#include "ui/main/state.h"
#include "net/jobs.h"

// Ends reply or edit mode; with restore, an edit gives the set-aside draft back.
void leaveComposerMode(MainWindowState& state, bool restore);

std::wstring composerText(const MainWindowState& state);

void onSendCommand(MainWindowState& state);        // 105
void onReplyCommand(MainWindowState& state);       // 151
void onEditCommand(MainWindowState& state);        // 152
void onCancelModeCommand(MainWindowState& state);  // 154
void onAttachCommand(MainWindowState& state);      // 130
void onDownloadCommand(MainWindowState& state);    // 132

void onSendMessageDone(MainWindowState& state, const NetResult& result);

// Key filter of composerEdit: Ctrl+Enter sends.
LRESULT CALLBACK composerKeyFilter(HWND edit, UINT message, WPARAM wParam, LPARAM lParam);

// The system file dialogs, replaceable by tests (a real one would block).
struct FileDialogs {
    bool (*chooseUpload)(HWND owner, std::wstring& path);
    bool (*chooseDownload)(HWND owner, std::wstring& path);  // path holds the suggested name
};
extern FileDialogs fileDialogs;
