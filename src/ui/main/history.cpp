#include "ui/main/state.h"
#include "ui/main/history.h"
#include "ui/dialogs/actions.h"
#include "ui/main/dispatch.h"
#include "ui/main/ids.h"
#include "ui/main/transcript.h"
#include <richedit.h>
#include <cstring>

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


// Every text reaches the transcript as plain text through a stream: handed
// to WM_SETTEXT or EM_SETTEXTEX, a text that begins with "{\rtf" or "{urtf"
// (a sender's name, a message) would be read as a rich text document.
struct PlainSource {
    const BYTE* next;
    size_t left;
};

// The rich edit reads the stream in pieces and takes each piece's line breaks
// on their own: a CR ending one piece and the LF starting the next became two
// breaks under Wine, an empty line in the middle of a message and a control
// that no longer holds what was written (every later refresh then rewrote the
// whole page). A piece therefore never ends inside a CR LF pair, a surrogate
// pair or a UTF-16 unit.
DWORD CALLBACK readPlainText(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* given) {
    auto* source = reinterpret_cast<PlainSource*>(cookie);
    const size_t unit = sizeof(wchar_t);
    size_t room = wanted > 0 ? static_cast<size_t>(wanted) / unit * unit : 0;
    size_t n = source->left < room ? source->left : room;
    if (n < source->left && n >= 2 * unit) {
        wchar_t last;
        std::memcpy(&last, source->next + n - unit, unit);
        if (last == L'\r' || (last >= 0xD800 && last <= 0xDBFF)) n -= unit;
    }
    std::memcpy(buffer, source->next, n);
    source->next += n;
    source->left -= n;
    *given = static_cast<LONG>(n);
    return 0;
}

// The whole text, or (intoSelection) what replaces the selection.
void streamPlainText(HWND view, const std::wstring& text, bool intoSelection) {
    PlainSource source{reinterpret_cast<const BYTE*>(text.data()), text.size() * sizeof(wchar_t)};
    EDITSTREAM stream{reinterpret_cast<DWORD_PTR>(&source), 0, readPlainText};
    WPARAM format = SF_TEXT | SF_UNICODE | (intoSelection ? SFF_SELECTION : 0);
    SendMessageW(view, EM_STREAMIN, format, reinterpret_cast<LPARAM>(&stream));
}

size_t heldLength(HWND view) {
    GETTEXTLENGTHEX count{GTL_NUMCHARS | GTL_PRECISE, 1200};
    return static_cast<size_t>(SendMessageW(view, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&count), 0));
}

// Puts the new text in by replacing only what changed: under Wine the rich
// edit takes about a second to clear and refill a long page, while a message
// leaving the top and one arriving at the end cost almost nothing. Nothing is
// patched when the control does not hold exactly what was last written.
bool patchTranscript(MainWindowState& s, const std::vector<TextSpan>& spans, const std::wstring& text) {
    HWND view = s.transcriptView;
    if (heldLength(view) != richEditLength(s.shownTranscript)) return false;
    // The replacements go through the selection; the operator's own
    // selection comes back afterwards, moved along with the text behind it.
    DWORD from = 0, to = 0;
    SendMessageW(view, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    // From the last span back, so the earlier ones keep their positions.
    for (auto span = spans.rbegin(); span != spans.rend(); ++span) {
        SendMessageW(view, EM_SETSEL, span->start, span->end);
        streamPlainText(view, span->replacement, true);
    }
    if (heldLength(view) != richEditLength(text)) return false;
    SendMessageW(view, EM_SETSEL, positionAfter(spans, from, PositionKind::caret),
                 positionAfter(spans, to, PositionKind::caret));
    return true;
}

int topOf(HWND view, size_t position) {
    POINTL point{};
    SendMessageW(view, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&point), static_cast<LPARAM>(position));
    return point.y;
}

// Where the operator reads: the first character of the top line, how far
// down the view that line starts, and whether the newest message's last line
// is in view.
struct ReadingPlace {
    size_t top;
    int topY;
    bool atEnd;
};

ReadingPlace readingPlace(const MainWindowState& s) {
    HWND view = s.transcriptView;
    ReadingPlace place{};
    LRESULT line = SendMessageW(view, EM_GETFIRSTVISIBLELINE, 0, 0);
    place.top = static_cast<size_t>(SendMessageW(view, EM_LINEINDEX, static_cast<WPARAM>(line), 0));
    place.topY = topOf(view, place.top);
    size_t last = s.shownTranscript.find_last_not_of(L"\r\n");
    if (last == std::wstring::npos) {
        place.atEnd = true;
        return place;
    }
    size_t position = richEditLength(std::wstring_view(s.shownTranscript).substr(0, last));
    size_t held = heldLength(view);
    RECT area{};
    SendMessageW(view, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area));
    place.atEnd = topOf(view, position < held ? position : held) < area.bottom;
    return place;
}

// The page shown: every view change and every paging step counts a new
// generation; the search and the cursor also change when a sent message
// takes the operator back to the latest page.
std::wstring placeOf(const MainWindowState& s) {
    return std::to_wstring(s.generation) + L"\n" + s.searchText + L"\n" + s.beforeCursor;
}

// Replaces the transcript keeping the reading place: the text at the top
// stays at the top, a reader at the end stays at the end and sees what came,
// and a page shown for the first time opens at its end.
void writeTranscript(MainWindowState& s, std::wstring&& text) {
    HWND view = s.transcriptView;
    bool firstShowing = !showsSamePage(s);
    ReadingPlace was = readingPlace(s);
    const size_t limit = 600000;
    std::vector<TextSpan> spans;
    bool patchable = !s.shownTranscript.empty() && s.shownTranscript.size() <= limit && text.size() <= limit;
    if (patchable) spans = changedSpans(s.shownTranscript, text);
    SendMessageW(view, WM_SETREDRAW, FALSE, 0);
    if (!patchable || !patchTranscript(s, spans, text)) streamPlainText(view, text, false);
    if (firstShowing) {
        SendMessageW(view, EM_SETSEL, static_cast<WPARAM>(-1), -1);
        SendMessageW(view, EM_SCROLLCARET, 0, 0);
    } else if (was.atEnd) {
        SendMessageW(view, WM_VSCROLL, SB_BOTTOM, 0);
    } else {
        int moved = topOf(view, positionAfter(spans, was.top, PositionKind::character)) - was.topY;
        if (moved != 0) {
            POINT scroll{};
            SendMessageW(view, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
            scroll.y += moved;
            SendMessageW(view, EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
        }
    }
    SendMessageW(view, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(view, nullptr, TRUE);
    s.shownTranscript = std::move(text);
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

void applyHistoryPage(MainWindowState& s, const JsonValue& history) {
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
    if (page.text != s.shownTranscript) writeTranscript(s, std::move(page.text));
    s.shownPlace = placeOf(s);
    enablePageControls(s);
}

bool showsSamePage(const MainWindowState& s) { return !s.shownPlace.empty() && placeOf(s) == s.shownPlace; }

void reapplyHistoryPage(MainWindowState& s) {
    s.shownPlace = placeOf(s);
    enablePaging(s);
    enablePageControls(s);
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
    s.shownPlace.clear();
    forgetAppliedReplies(s);
    streamPlainText(s.transcriptView, text, false);
}
