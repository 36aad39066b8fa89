#include "ui/main/state.h"
#include "ui/main/history.h"
#include "ui/dialogs/actions.h"
#include "ui/main/dispatch.h"
#include "ui/main/ids.h"
#include "ui/main/transcript.h"
#include <richedit.h>

void resetHistoryNavigation(MainWindowState& s) {
    s.searchText.clear();
    s.beforeCursor.clear();
    s.nextBefore.clear();
    s.cursorStack.clear();
    SetWindowTextW(s.searchEdit, L"");
    disablePagingButtons(s);
}

void disablePagingButtons(MainWindowState& s) {
    enableControl(s.findButton, false);
    enableControl(s.olderButton, false);
    enableControl(s.newerButton, false);
    enableControl(s.latestButton, false);
}

namespace {
// A new page of the same conversation: the same reply bytes may come back
// (a Find of the newest page), and they must be read again, since the paging
// state they fill was just reset.
void navigate(MainWindowState& s) {
    s.generation += 1;
    forgetAppliedReplies(s);
    refreshNow(s);
}


// Puts the new text in by replacing only what changed: under Wine the rich
// edit takes about a second to clear and refill a long page, while a new
// message at the end costs almost nothing. The whole text is set when the
// control does not hold exactly what was last written.
bool patchTranscript(MainWindowState& s, const std::wstring& text) {
    const size_t limit = 600000;
    if (s.shownTranscript.empty() || s.shownTranscript.size() > limit || text.size() > limit) return false;
    GETTEXTLENGTHEX count{GTL_NUMCHARS | GTL_PRECISE, 1200};
    auto held = [&] {
        return static_cast<size_t>(SendMessageW(s.transcriptView, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&count), 0));
    };
    if (held() != richEditLength(s.shownTranscript)) return false;
    TextSpan span = changedSpan(s.shownTranscript, text);
    // The replacement goes through the selection; the operator's own
    // selection comes back afterwards, moved along with the text behind it.
    DWORD from = 0, to = 0;
    SendMessageW(s.transcriptView, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    SendMessageW(s.transcriptView, EM_SETSEL, span.start, span.end);
    SETTEXTEX replace{ST_SELECTION, 1200};
    SendMessageW(s.transcriptView, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&replace),
                 reinterpret_cast<LPARAM>(span.replacement.c_str()));
    if (held() != richEditLength(text)) return false;
    size_t inserted = richEditLength(span.replacement);
    auto moved = [&](size_t position) {
        if (position <= span.start) return position;
        if (position >= span.end) return position - (span.end - span.start) + inserted;
        return span.start + inserted;
    };
    SendMessageW(s.transcriptView, EM_SETSEL, moved(from), moved(to));
    return true;
}

// Replaces the transcript keeping the reading position: the same first line
// number comes back to the top, or the caret is shown when reading from the top.
void writeTranscript(MainWindowState& s, const std::wstring& text) {
    LRESULT firstLine = SendMessageW(s.transcriptView, EM_GETFIRSTVISIBLELINE, 0, 0);
    SendMessageW(s.transcriptView, WM_SETREDRAW, FALSE, 0);
    if (!patchTranscript(s, text)) SetWindowTextW(s.transcriptView, text.c_str());
    if (firstLine > 0) {
        LRESULT now = SendMessageW(s.transcriptView, EM_GETFIRSTVISIBLELINE, 0, 0);
        SendMessageW(s.transcriptView, EM_LINESCROLL, 0, firstLine - now);
    } else {
        SendMessageW(s.transcriptView, EM_SETSEL, static_cast<WPARAM>(-1), -1);
        SendMessageW(s.transcriptView, EM_SCROLLCARET, 0, 0);
    }
    SendMessageW(s.transcriptView, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(s.transcriptView, nullptr, TRUE);
    s.shownTranscript = text;
}
}  // namespace

void onFindCommand(MainWindowState& s) {
    s.searchText = windowText(s.searchEdit);
    s.beforeCursor.clear();
    s.nextBefore.clear();
    s.cursorStack.clear();
    navigate(s);
}

void onOlderCommand(MainWindowState& s) {
    if (s.nextBefore.empty()) return;
    s.cursorStack.push_back(s.beforeCursor);
    s.beforeCursor = s.nextBefore;
    navigate(s);
}

void onNewerCommand(MainWindowState& s) {
    if (s.cursorStack.empty()) return;
    s.beforeCursor = s.cursorStack.back();
    s.cursorStack.pop_back();
    navigate(s);
}

void onLatestCommand(MainWindowState& s) {
    resetHistoryNavigation(s);
    navigate(s);
}

namespace {
void enablePaging(MainWindowState& s) {
    enableControl(s.findButton, true);
    enableControl(s.olderButton, !s.nextBefore.empty());
    enableControl(s.newerButton, !s.cursorStack.empty());
    enableControl(s.latestButton, !s.beforeCursor.empty() || !s.searchText.empty());
}

void enablePageControls(MainWindowState& s) {
    enableControl(s.downloadButton, !s.files.empty());
    enableControl(s.composerEdit, s.canWrite);
    enableControl(s.sendButton, s.canWrite);
    enableControl(s.attachButton, s.canWrite);
}
}  // namespace

std::wstring applyHistoryPage(MainWindowState& s, const JsonValue& history) {
    rebuildMessageActions(s, history);
    s.nextBefore = stringAt(history, findMember(history, findMember(history, 0, "page"), "nextBefore"));
    enablePaging(s);

    std::wstring rememberedFile;
    LRESULT fileRow = SendMessageW(s.fileCombo, CB_GETCURSEL, 0, 0);
    if (fileRow >= 0 && static_cast<size_t>(fileRow) < s.files.size()) rememberedFile = s.files[static_cast<size_t>(fileRow)].id;
    TranscriptPage page = buildTranscript(history);
    int selection = 0;
    for (size_t i = 0; i < page.files.size(); ++i)
        if (page.files[i].id == rememberedFile) selection = static_cast<int>(i);
    bool sameFiles = page.files.size() == s.files.size() &&
                     SendMessageW(s.fileCombo, CB_GETCOUNT, 0, 0) == static_cast<LRESULT>(s.files.size());
    for (size_t i = 0; sameFiles && i < page.files.size(); ++i)
        sameFiles = page.files[i].id == s.files[i].id && page.files[i].label == s.files[i].label;
    // An unchanged file list is left as it is, so a periodic refresh never
    // closes the drop-down under the operator's cursor.
    if (!sameFiles) {
        SendMessageW(s.fileCombo, CB_RESETCONTENT, 0, 0);
        for (const ListRow& f : page.files)
            SendMessageW(s.fileCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(f.label.c_str()));
        s.files = std::move(page.files);
    }
    SendMessageW(s.fileCombo, CB_SETCURSEL, s.files.empty() ? static_cast<WPARAM>(-1) : static_cast<WPARAM>(selection), 0);

    // Compared with what was last written, not with the control's text: the
    // control keeps at most 600000 characters and would never match a longer page.
    if (page.text != s.shownTranscript) writeTranscript(s, page.text);
    enablePageControls(s);
    return page.text;
}

std::wstring reapplyHistoryPage(MainWindowState& s) {
    enablePaging(s);
    enablePageControls(s);
    return s.shownTranscript;
}

LRESULT CALLBACK searchKeyFilter(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
    MainWindowState* s = stateOf(GetParent(edit));
    if (!s || !s->searchProc) return DefWindowProcW(edit, message, wParam, lParam);
    if (message == WM_KEYDOWN && wParam == VK_RETURN) {
        PostMessageW(s->window, WM_COMMAND, MAKEWPARAM(ID_FIND, 0), 0);
        return 0;
    }
    // The carriage return that Enter also produces would only make the
    // single-line edit beep.
    if (message == WM_CHAR && wParam == L'\r') return 0;
    return CallWindowProcW(s->searchProc, edit, message, wParam, lParam);
}

void setTranscriptText(MainWindowState& s, const wchar_t* text) {
    s.shownTranscript = text;
    forgetAppliedReplies(s);
    SetWindowTextW(s.transcriptView, text);
}
