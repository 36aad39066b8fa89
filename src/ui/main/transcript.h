// Pure text of the conversation view: the transcript of a history page, the
// files it offers, the itemList line of a row and the connected status line.
#pragma once
#include <string>
#include <string_view>
#include <vector>
#include "text/json.h"
#include "ui/main/rows.h"

// "2024-05-01 09:30 UTC" from an ISO time; shorter texts come back unchanged.
std::wstring transcriptTime(const std::wstring& createdAt);

struct TranscriptPage {
    std::wstring text;
    std::vector<ListRow> files;   // id "fileId", label "fileName"; expired ones left out
};

// One pass over the reply's "items": the transcript text and the file list.
TranscriptPage buildTranscript(const JsonValue& history);

// A change of the transcript as the rich edit counts text: a CR LF pair is one
// position there.
struct TextSpan {
    size_t start;               // first position replaced
    size_t end;                 // one past the last position replaced
    std::wstring replacement;   // what goes there, as the transcript writes it
};

// Positions the rich edit holds for a text: CR LF pairs count once.
size_t richEditLength(std::wstring_view text);

// The smallest span that turns `before` into `after`; it never cuts a CR LF
// pair or a surrogate pair.
TextSpan changedSpan(const std::wstring& before, const std::wstring& after);

// Every change that turns `before` into `after`, found line by line: a
// message leaving the top and one arriving at the end are two spans, not
// one span over the whole page. In order, apart, in positions of `before`.
std::vector<TextSpan> changedSpans(const std::wstring& before, const std::wstring& after);

// What a position of the text before names, carried through the spans.
// A character replaced goes to the start of its replacement (and one right
// behind an insertion moves on with the text); a caret inside a replaced
// part goes to the replacement's end, one just before it stays there.
enum class PositionKind { character, caret };
size_t positionAfter(const std::vector<TextSpan>& spans, size_t position, PositionKind kind);

// "Подключено · <name> · Страница <n>[ · Поиск: <q>] · Ctrl+Enter — отправить"
std::wstring connectedLine(const std::wstring& userName, size_t stackDepth, const std::wstring& searchText);

// The time of the data shown, for the status line: "14:05" today, with the
// day and month before it ("08.12 14:05") when it is from another day.
std::wstring dataTimeText(unsigned day, unsigned month, unsigned hour, unsigned minute, bool today);

// The rows of a list reply for a mode: rooms in mode 0, "cases"/"tickets" else.
std::vector<ListRow> readListRows(const JsonValue& list, int mode, std::vector<std::wstring>* lines);
