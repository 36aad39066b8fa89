#include "ui/main/transcript.h"
#include "ui/main/panel.h"
#include "text/utf.h"

std::wstring transcriptTime(const std::wstring& createdAt) {
    if (createdAt.size() < 16) return createdAt;
    return createdAt.substr(0, 10) + L" " + createdAt.substr(11, 5) + L" UTC";
}

TranscriptPage buildTranscript(const JsonValue& history) {
    TranscriptPage page;
    std::wstring& t = page.text;
    for (JsonIndex item : arrayElements(history, findMember(history, 0, "items"))) {
        std::wstring time = transcriptTime(memberString(history, item, "createdAt"));
        bool deleted = memberBool(history, item, "deleted");
        std::wstring body;
        if (deleted) {
            body = L"[Сообщение удалено]";
        } else {
            if (memberBool(history, item, "pinned")) body += L"[Закреплено]\r\n";
            if (!memberString(history, item, "replyId").empty()) {
                std::wstring quote = memberBool(history, item, "replyDeleted") ? L"Сообщение удалено"
                                                                               : memberString(history, item, "replyText");
                body += L"[Ответ: " + memberString(history, item, "replySenderName") + L" · " + quote + L"]\r\n";
            }
            std::wstring forwarded = memberString(history, item, "forwardedName");
            if (!forwarded.empty()) body += L"[Переслано от " + forwarded + L"]\r\n";
            body += memberString(history, item, "text");
        }
        t += memberString(history, item, "senderName");
        t += L" · ";
        t += time;
        if (!memberString(history, item, "editedAt").empty()) t += L" · изменено";
        t += L":\r\n";
        t += body;
        t += L"\r\n";
        if (!deleted) {
            for (JsonIndex r : arrayElements(history, findMember(history, item, "reactions"))) {
                t += memberString(history, r, "emoji");
                t += L" ";
                t += std::to_wstring(memberInt(history, r, "count"));
                if (memberBool(history, r, "mine")) t += L" (ваша)";
                t += L"  ";
            }
        }
        t += L"\r\n\r\n";

        std::wstring fileId = memberString(history, item, "fileId");
        if (!fileId.empty() && !memberBool(history, item, "fileExpired"))
            page.files.push_back({fileId, visibleText(memberString(history, item, "fileName")), L"", L""});
    }
    page.text = visibleText(std::move(page.text));
    return page;
}

size_t richEditLength(const std::wstring& text) {
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
    span.start = richEditLength(before.substr(0, prefix));
    span.end = richEditLength(before.substr(0, before.size() - suffix));
    span.replacement = after.substr(prefix, after.size() - suffix - prefix);
    return span;
}

std::wstring connectedLine(const std::wstring& userName, size_t stackDepth, const std::wstring& searchText) {
    std::wstring line = L"Подключено · " + userName + L" · Страница " + std::to_wstring(stackDepth + 1);
    if (!searchText.empty()) line += L" · Поиск: " + searchText;
    line += L" · Ctrl+Enter — отправить";
    return line;
}

std::vector<ListRow> readListRows(const JsonValue& list, int mode, std::vector<std::wstring>* lines) {
    JsonIndex array = 0;
    if (mode == 1) array = findMember(list, 0, "cases");
    else if (mode == 2) array = findMember(list, 0, "tickets");
    std::vector<ListRow> rows;
    for (JsonIndex e : arrayElements(list, array)) {
        ListRow row;
        row.id = memberString(list, e, "id");
        row.label = visibleText(memberString(list, e, mode == 0 ? "title" : "subject"));
        row.ref = memberString(list, e, mode == 0 ? "id" : "roomId");
        row.tag = memberString(list, e, "kind");
        if (lines) {
            lines->push_back(mode == 0 ? row.label
                                       : std::wstring(statusLabelFor(memberString(list, e, "status"))) + L" · " + row.label);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}
