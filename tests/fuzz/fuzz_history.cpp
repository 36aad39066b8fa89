// Two history pages in one input (split at the first NUL byte; without one,
// the page is followed by itself): each page as the window reads it — the
// transcript text, the file list, the action list with the selector lines,
// the paging cursor and "canWrite" — then the transcript update from the
// first page to the second, span by span as the rich edit gets it, which
// must leave exactly what a full rebuild from the second page holds.
#include "fuzz_support.h"

#include "text/utf.h"
#include "ui/dialogs/action_page.h"
#include "ui/main/transcript.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct Page {
    std::wstring transcript;
};

bool isHigh(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLow(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

Page readPage(const std::string& reply) {
    Page page;
    JsonValue history;
    // A page that is not JSON never reaches the readers: the window shows
    // its fixed failure text instead.
    if (!parseReply(reply, history)) return page;
    const size_t items = arrayElements(history, findMember(history, 0, "items")).size();

    TranscriptPage transcript = buildTranscript(history);
    FUZZ_CHECK(transcript.files.size() <= items);
    FUZZ_CHECK(transcript.text.find(L'\0') == std::wstring::npos);
    for (const ListRow& file : transcript.files) {
        FUZZ_CHECK(!file.id.empty());
        FUZZ_CHECK(file.label.find(L'\0') == std::wstring::npos);
    }
    // Every message ends with an empty line pair.
    if (items > 0) FUZZ_CHECK(transcript.text.size() >= 4 && transcript.text.compare(transcript.text.size() - 4, 4, L"\r\n\r\n") == 0);
    else FUZZ_CHECK(transcript.text.empty());

    ActionPage actions = readActionPage(history);
    FUZZ_CHECK(actions.actions.size() == items);
    FUZZ_CHECK(actions.lines.size() == items);
    for (size_t k = 0; k < items; ++k) {
        const std::wstring& line = actions.lines[k];
        const std::wstring number = std::to_wstring(k + 1) + L" · ";
        FUZZ_CHECK(line.compare(0, number.size(), number) == 0);
        // The excerpt holds at most 65 units of the text, and no line break.
        const MessageActions& m = actions.actions[k];
        FUZZ_CHECK(line.size() <= number.size() + m.senderName.size() + 3 + std::max<size_t>(65, 19));
        FUZZ_CHECK(m.text.find(L'\0') == std::wstring::npos && m.senderName.find(L'\0') == std::wstring::npos);
        const std::wstring excerpt = line.substr(number.size() + m.senderName.size() + 3);
        FUZZ_CHECK(excerpt.find(L'\r') == std::wstring::npos && excerpt.find(L'\n') == std::wstring::npos);
        for (bool busy : {false, true})
            for (bool editing : {false, true}) {
                ActionControls c = actionControlRules(busy, memberBool(history, 0, "canWrite"), !editing, editing, &m, busy);
                FUZZ_CHECK(!(busy && (c.reply || c.more || c.edit || c.forward || c.send || c.attach)));
            }
    }
    const std::wstring nextBefore = stringAt(history, findMember(history, findMember(history, 0, "page"), "nextBefore"));
    const std::wstring line = connectedLine(L"Оператор", items, nextBefore);
    FUZZ_CHECK(line.find(nextBefore) != std::wstring::npos);
    page.transcript = std::move(transcript.text);
    return page;
}

// What the rich edit holds of a text, position by position: a unit each, a
// CR LF pair one position (marked by a value no unit has).
typedef std::vector<uint32_t> Held;
const uint32_t pairMark = 0x110000;

Held held(const std::wstring& text) {
    Held h;
    h.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
            h.push_back(pairMark);
            ++i;
        } else {
            h.push_back(static_cast<uint32_t>(text[i]));
        }
    }
    return h;
}

// The unit offset in `text` of each rich edit position, and of the end.
std::vector<size_t> unitOffsets(const std::wstring& text) {
    std::vector<size_t> offsets;
    size_t unit = 0;
    while (unit < text.size()) {
        offsets.push_back(unit);
        unit += (text[unit] == L'\r' && unit + 1 < text.size() && text[unit + 1] == L'\n') ? 2 : 1;
    }
    offsets.push_back(unit);
    return offsets;
}

void replace(Held& control, const TextSpan& span) {
    const Held replacement = held(span.replacement);
    control.erase(control.begin() + static_cast<long>(span.start), control.begin() + static_cast<long>(span.end));
    control.insert(control.begin() + static_cast<long>(span.start), replacement.begin(), replacement.end());
}

void checkUpdate(const std::wstring& before, const std::wstring& after) {
    const Held shown = held(before), rebuilt = held(after);
    const size_t beforeLength = richEditLength(before), afterLength = richEditLength(after);
    FUZZ_CHECK(beforeLength == shown.size() && afterLength == rebuilt.size());
    const std::vector<size_t> offsets = unitOffsets(before);

    const std::vector<TextSpan> spans = changedSpans(before, after);
    if (before == after) FUZZ_CHECK(spans.empty());
    // In order, apart, inside the text, and never through a CR LF pair or a
    // surrogate pair of the text they are applied to.
    size_t previousEnd = 0;
    for (const TextSpan& span : spans) {
        FUZZ_CHECK(span.start >= previousEnd && span.start <= span.end && span.end <= beforeLength);
        previousEnd = span.end;
        for (size_t cut : {span.start, span.end}) {
            const size_t unit = offsets[cut];
            if (unit > 0 && unit < before.size()) FUZZ_CHECK(!(isHigh(before[unit - 1]) && isLow(before[unit])));
        }
    }
    // Applied from the last span back, as the window does, position by
    // position: the control then holds exactly what a rebuild puts there.
    Held control = shown;
    for (auto span = spans.rbegin(); span != spans.rend(); ++span) replace(control, *span);
    FUZZ_CHECK(control == rebuilt);

    // The one span used for pages too unlike each other.
    const TextSpan whole = changedSpan(before, after);
    FUZZ_CHECK(whole.start <= whole.end && whole.end <= beforeLength);
    Held single = shown;
    replace(single, whole);
    FUZZ_CHECK(single == rebuilt);

    // The reading place and the selection carried over stay inside the text.
    for (size_t position : {size_t(0), beforeLength / 3, beforeLength / 2, beforeLength}) {
        FUZZ_CHECK(positionAfter(spans, position, PositionKind::character) <= afterLength);
        FUZZ_CHECK(positionAfter(spans, position, PositionKind::caret) <= afterLength);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string first, second;
    bool hasSecond = false;
    splitAtNul(data, size, first, second, hasSecond);
    const Page a = readPage(first);
    const Page b = hasSecond ? readPage(second) : a;
    // Both ways, and from and to an empty view (a view change, a first page).
    checkUpdate(a.transcript, b.transcript);
    checkUpdate(b.transcript, a.transcript);
    checkUpdate(std::wstring(), a.transcript);
    checkUpdate(a.transcript, std::wstring());
    return 0;
}
