#include "ui/main/transcript.h"
#include "ui/main/panel.h"
#include "text/utf.h"
#include <algorithm>
#include <string_view>
#include <unordered_map>

namespace {
void appendTranscriptTime(const std::wstring& createdAt, std::wstring& out) {
    if (createdAt.size() < 16) {
        out += createdAt;
        return;
    }
    out.append(createdAt, 0, 10);
    out += L' ';
    out.append(createdAt, 11, 5);
    out += L" UTC";
}

// The members a message's lines are made of, found in one walk over it.
enum ItemMember {
    CreatedAt, Deleted, Pinned, ReplyId, ReplyDeleted, ReplyText, ReplySenderName, ForwardedName, Text, SenderName,
    EditedAt, Reactions, FileId, FileExpired, FileName, ItemMemberCount
};
const char* const itemKeys[ItemMemberCount] = {
    "createdAt", "deleted", "pinned", "replyId", "replyDeleted", "replyText", "replySenderName", "forwardedName",
    "text", "senderName", "editedAt", "reactions", "fileId", "fileExpired", "fileName",
};
const char* const reactionKeys[] = {"emoji", "count", "mine"};
}  // namespace

std::wstring transcriptTime(const std::wstring& createdAt) {
    std::wstring time;
    appendTranscriptTime(createdAt, time);
    return time;
}

// A page is read on every periodic refresh: the members of every message are
// found first, with about the length of text they make, so the transcript is
// allocated once at about its size (growing it copies a long page several
// times, and the slack would stay with the page shown); the text is then
// appended straight into it, and one scratch string serves every member that
// is only tested or reshaped.
TranscriptPage buildTranscript(const JsonValue& history) {
    // Labels and breaks of one message, and of one reaction, at most.
    const size_t messageLabels = 128, reactionLabels = 24;
    std::vector<JsonIndex> members;
    size_t length = 0;
    const JsonIndex items = findMember(history, 0, "items");
    for (JsonIndex item = firstElement(history, items); item >= 0; item = nextElement(history, items, item)) {
        members.resize(members.size() + ItemMemberCount);
        JsonIndex* m = members.data() + members.size() - ItemMemberCount;
        findMembers(history, item, itemKeys, ItemMemberCount, m);
        length += messageLabels;
        for (ItemMember shown : {SenderName, CreatedAt, ReplySenderName, ReplyText, ForwardedName, Text})
            length += unitsAt(history, m[shown]);
        for (JsonIndex e = firstElement(history, m[Reactions]); e >= 0; e = nextElement(history, m[Reactions], e))
            length += reactionLabels + unitsAt(history, findMember(history, e, "emoji"));
    }

    TranscriptPage page;
    std::wstring& t = page.text;
    t.reserve(length);
    std::wstring scratch;
    for (size_t first = 0; first < members.size(); first += ItemMemberCount) {
        const JsonIndex* m = members.data() + first;
        const bool deleted = isTrue(history, m[Deleted]);
        appendStringAt(history, m[SenderName], t);
        t += L" · ";
        scratch.clear();
        appendStringAt(history, m[CreatedAt], scratch);
        appendTranscriptTime(scratch, t);
        scratch.clear();
        if (appendStringAt(history, m[EditedAt], scratch)) t += L" · изменено";
        t += L":\r\n";
        if (deleted) {
            t += L"[Сообщение удалено]";
        } else {
            if (isTrue(history, m[Pinned])) t += L"[Закреплено]\r\n";
            scratch.clear();
            if (appendStringAt(history, m[ReplyId], scratch)) {
                t += L"[Ответ: ";
                appendStringAt(history, m[ReplySenderName], t);
                t += L" · ";
                if (isTrue(history, m[ReplyDeleted])) t += L"Сообщение удалено";
                else appendStringAt(history, m[ReplyText], t);
                t += L"]\r\n";
            }
            scratch.clear();
            if (appendStringAt(history, m[ForwardedName], scratch)) {
                t += L"[Переслано от ";
                t += scratch;
                t += L"]\r\n";
            }
            appendStringAt(history, m[Text], t);
        }
        t += L"\r\n";
        if (!deleted) {
            JsonIndex r[3];
            for (JsonIndex e = firstElement(history, m[Reactions]); e >= 0; e = nextElement(history, m[Reactions], e)) {
                findMembers(history, e, reactionKeys, 3, r);
                appendStringAt(history, r[0], t);
                t += L" ";
                t += std::to_wstring(intAt(history, r[1]));
                if (isTrue(history, r[2])) t += L" (ваша)";
                t += L"  ";
            }
        }
        t += L"\r\n\r\n";

        scratch.clear();
        if (appendStringAt(history, m[FileId], scratch) && !isTrue(history, m[FileExpired]))
            page.files.push_back({scratch, visibleText(stringAt(history, m[FileName])), L"", L""});
    }
    page.text = visibleText(std::move(page.text));
    return page;
}

size_t richEditLength(std::wstring_view text) {
    size_t pairs = 0;
    for (size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == L'\r' && text[i + 1] == L'\n') ++pairs;
    return text.size() - pairs;
}

namespace {
bool isHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// A cut between `left` and `right` that must not be made.
bool unsafeCut(wchar_t left, wchar_t right) {
    return (left == L'\r' && right == L'\n') || (isHighSurrogate(left) && isLowSurrogate(right));
}
}  // namespace

TextSpan changedSpan(const std::wstring& before, const std::wstring& after) {
    size_t shorter = before.size() < after.size() ? before.size() : after.size();
    size_t prefix = 0;
    while (prefix < shorter && before[prefix] == after[prefix]) ++prefix;
    // Back off while the cut would split a pair in either text.
    while (prefix > 0 && ((prefix < before.size() && unsafeCut(before[prefix - 1], before[prefix])) ||
                          (prefix < after.size() && unsafeCut(after[prefix - 1], after[prefix]))))
        --prefix;
    size_t suffix = 0;
    while (suffix < shorter - prefix && before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) ++suffix;
    while (suffix > 0) {
        size_t b = before.size() - suffix, a = after.size() - suffix;
        bool unsafe = (b > 0 && unsafeCut(before[b - 1], before[b])) || (a > 0 && unsafeCut(after[a - 1], after[a]));
        if (!unsafe) break;
        --suffix;
    }
    TextSpan span;
    span.start = richEditLength(std::wstring_view(before).substr(0, prefix));
    span.end = richEditLength(std::wstring_view(before).substr(0, before.size() - suffix));
    span.replacement = after.substr(prefix, after.size() - suffix - prefix);
    return span;
}

namespace {
// Lines end after their line feed; the last one may have none.
std::vector<std::wstring_view> splitLines(const std::wstring& text) {
    std::vector<std::wstring_view> lines;
    size_t from = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n') {
            lines.emplace_back(text.data() + from, i + 1 - from);
            from = i + 1;
        }
    }
    if (from < text.size()) lines.emplace_back(text.data() + from, text.size() - from);
    return lines;
}

struct LineHunk {
    size_t beforeFrom, beforeTo, afterFrom, afterTo;
};

// Lines of `a` removed and lines of `b` added by a shortest line edit (Myers),
// as flags. False when more than `limit` lines would change.
bool shortestEdit(const std::vector<int>& a, const std::vector<int>& b, int limit, std::vector<char>& removed,
                  std::vector<char>& added) {
    const int n = static_cast<int>(a.size()), m = static_cast<int>(b.size());
    const int most = n + m < limit ? n + m : limit;
    const int offset = most + 1;
    std::vector<int> v(static_cast<size_t>(2 * most + 3), 0);
    std::vector<std::vector<int>> trace;
    int found = -1;
    for (int d = 0; d <= most && found < 0; ++d) {
        trace.push_back(v);
        for (int k = -d; k <= d; k += 2) {
            int x = (k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1])) ? v[offset + k + 1]
                                                                                   : v[offset + k - 1] + 1;
            int y = x - k;
            while (x < n && y < m && a[static_cast<size_t>(x)] == b[static_cast<size_t>(y)]) ++x, ++y;
            v[offset + k] = x;
            if (x >= n && y >= m) {
                found = d;
                break;
            }
        }
    }
    if (found < 0) return false;
    removed.assign(a.size(), 0);
    added.assign(b.size(), 0);
    int x = n, y = m;
    for (int d = found; d > 0; --d) {
        const std::vector<int>& w = trace[static_cast<size_t>(d)];
        int k = x - y;
        int previous = (k == -d || (k != d && w[offset + k - 1] < w[offset + k + 1])) ? k + 1 : k - 1;
        int px = w[offset + previous], py = px - previous;
        x = px;
        y = py;
        // The step into the diagonal that followed is one line removed or added.
        if (previous == k + 1) added[static_cast<size_t>(py)] = 1;
        else removed[static_cast<size_t>(px)] = 1;
    }
    return true;
}
}  // namespace

std::vector<TextSpan> changedSpans(const std::wstring& before, const std::wstring& after) {
    std::vector<TextSpan> spans;
    if (before == after) return spans;
    std::vector<std::wstring_view> a = splitLines(before), b = splitLines(after);
    // The edit search would walk the equal lines at the start first anyway;
    // leaving them out spares numbering a whole long page for an edit or a
    // reaction near its end.
    size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
    // Lines as numbers: equal lines, equal numbers.
    std::unordered_map<std::wstring_view, int> numbers;
    std::vector<int> an, bn;
    for (size_t k = head; k < a.size(); ++k)
        an.push_back(numbers.emplace(a[k], static_cast<int>(numbers.size())).first->second);
    for (size_t k = head; k < b.size(); ++k)
        bn.push_back(numbers.emplace(b[k], static_cast<int>(numbers.size())).first->second);

    std::vector<LineHunk> hunks;
    std::vector<char> removed, added;
    // Past a few hundred changed lines the page is another one: one span.
    if (!shortestEdit(an, bn, 400, removed, added)) {
        spans.push_back(changedSpan(before, after));
        return spans;
    }
    removed.insert(removed.begin(), head, 0);
    added.insert(added.begin(), head, 0);
    size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
        if ((i < a.size() && removed[i]) || (j < b.size() && added[j])) {
            LineHunk h{i, i, j, j};
            while (i < a.size() && removed[i]) ++i;
            while (j < b.size() && added[j]) ++j;
            h.beforeTo = i;
            h.afterTo = j;
            // Lines only removed or only added slide up over equal lines: of
            // equal headers and empty lines, the change starts where a message does.
            size_t floorA = hunks.empty() ? 0 : hunks.back().beforeTo;
            size_t floorB = hunks.empty() ? 0 : hunks.back().afterTo;
            if (h.afterFrom == h.afterTo) {
                while (h.beforeFrom > floorA && h.afterFrom > floorB && a[h.beforeFrom - 1] == a[h.beforeTo - 1])
                    --h.beforeFrom, --h.beforeTo, --h.afterFrom, --h.afterTo;
            } else if (h.beforeFrom == h.beforeTo) {
                while (h.beforeFrom > floorA && h.afterFrom > floorB && b[h.afterFrom - 1] == b[h.afterTo - 1])
                    --h.beforeFrom, --h.beforeTo, --h.afterFrom, --h.afterTo;
            }
            hunks.push_back(h);
        } else {
            ++i;
            ++j;
        }
    }

    // Rich edit positions where each line of `before` starts.
    std::vector<size_t> lineStart(a.size() + 1, 0);
    for (size_t k = 0; k < a.size(); ++k) lineStart[k + 1] = lineStart[k] + richEditLength(a[k]);
    auto joined = [](const std::vector<std::wstring_view>& lines, size_t from, size_t to) {
        std::wstring text;
        for (size_t k = from; k < to; ++k) text += lines[k];
        return text;
    };
    for (const LineHunk& h : hunks) {
        TextSpan span = changedSpan(joined(a, h.beforeFrom, h.beforeTo), joined(b, h.afterFrom, h.afterTo));
        span.start += lineStart[h.beforeFrom];
        span.end += lineStart[h.beforeFrom];
        spans.push_back(std::move(span));
    }
    return spans;
}

size_t positionAfter(const std::vector<TextSpan>& spans, size_t position, PositionKind kind) {
    long long shift = 0;
    for (const TextSpan& span : spans) {
        bool ahead = kind == PositionKind::caret ? position <= span.start : position < span.start;
        if (ahead) break;
        long long inserted = static_cast<long long>(richEditLength(span.replacement));
        if (position < span.end) {
            long long start = static_cast<long long>(span.start) + shift;
            return static_cast<size_t>(kind == PositionKind::caret ? start + inserted : start);
        }
        shift += inserted - static_cast<long long>(span.end - span.start);
    }
    return static_cast<size_t>(static_cast<long long>(position) + shift);
}

std::wstring connectedLine(const std::wstring& userName, size_t stackDepth, const std::wstring& searchText) {
    std::wstring line = L"Подключено · " + userName + L" · Страница " + std::to_wstring(stackDepth + 1);
    if (!searchText.empty()) line += L" · Поиск: " + searchText;
    line += L" · Ctrl+Enter — отправить";
    return line;
}

std::wstring dataTimeText(unsigned day, unsigned month, unsigned hour, unsigned minute, bool today) {
    auto two = [](unsigned n) { return std::wstring(1, static_cast<wchar_t>(L'0' + n / 10 % 10)) + static_cast<wchar_t>(L'0' + n % 10); };
    std::wstring text = today ? std::wstring() : two(day) + L"." + two(month) + L" ";
    return text + two(hour) + L":" + two(minute);
}

std::vector<ListRow> readListRows(const JsonValue& list, int mode, std::vector<std::wstring>* lines) {
    JsonIndex array = 0;
    if (mode == 1) array = findMember(list, 0, "cases");
    else if (mode == 2) array = findMember(list, 0, "tickets");
    // All members of a row in one walk over it, each text decoded straight
    // into its field: a list may hold ten thousand rows.
    static const char* const roomKeys[] = {"id", "title", "kind"};
    static const char* const workKeys[] = {"id", "subject", "kind", "roomId", "status"};
    const char* const* keys = mode == 0 ? roomKeys : workKeys;
    const size_t count = mode == 0 ? 3 : 5;
    std::vector<ListRow> rows;
    JsonIndex e = firstElement(list, array);
    if (e >= 0) rows.reserve(static_cast<size_t>(std::max(0, std::min(list.tokens[array].size,
                                                                      static_cast<int>(list.tokens.size())))));
    for (; e >= 0; e = nextElement(list, array, e)) {
        JsonIndex v[5];
        findMembers(list, e, keys, count, v);
        ListRow row;
        appendStringAt(list, v[0], row.id);
        appendStringAt(list, v[1], row.label);
        row.label = visibleText(std::move(row.label));
        if (mode == 0) row.ref = row.id;
        else appendStringAt(list, v[3], row.ref);
        appendStringAt(list, v[2], row.tag);
        if (lines) {
            lines->push_back(mode == 0 ? row.label
                                       : std::wstring(statusLabelFor(stringAt(list, v[4]))) + L" · " + row.label);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}
