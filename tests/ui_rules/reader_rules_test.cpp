// The rules of the readers that need no window (transcript, lists, status
// labels, the action model, the transcript update); tools/fuzz.sh also builds
// this file natively under the sanitizers. Wide literals outside the basic
// plane are spelled as surrogate pairs, as the readers produce them.
#include <doctest/doctest.h>
#include "text/json.h"
#include "ui/dialogs/action_page.h"
#include "ui/main/panel.h"
#include "ui/main/transcript.h"

namespace {
JsonValue doc(const char* text) { return parse(std::string(text)); }
}

TEST_CASE("transcript text of a page") {
    SUBCASE("the full example: edited, pinned, a reply and an own reaction") {
        JsonValue h = doc(u8R"({"items":[{"senderName":"A","createdAt":"2024-05-01T09:30:12Z","editedAt":"x",
            "pinned":true,"replyId":"m1","replySenderName":"B","replyText":"Q","text":"the message text",
            "reactions":[{"emoji":"👍","count":2,"mine":true}]}]})");
        CHECK(buildTranscript(h).text ==
              L"A · 2024-05-01 09:30 UTC · изменено:\r\n[Закреплено]\r\n[Ответ: B · Q]\r\nthe message text\r\n"
              L"\xD83D\xDC4D 2 (ваша)  \r\n\r\n");
    }
    SUBCASE("no reactions: two empty lines follow; short times stay as they are") {
        JsonValue h = doc(u8R"({"items":[{"senderName":"S","createdAt":"2024-05-01","text":"hi"}]})");
        CHECK(buildTranscript(h).text == L"S · 2024-05-01:\r\nhi\r\n\r\n\r\n");
    }
    SUBCASE("a deleted message keeps sender, time and edit mark, nothing else") {
        JsonValue h = doc(u8R"({"items":[{"senderName":"S","createdAt":"2024-05-01T10:00:00Z","editedAt":"e",
            "deleted":true,"pinned":true,"replyId":"r","forwardedName":"F","text":"secret",
            "reactions":[{"emoji":"👍","count":1,"mine":false}],"fileId":"f1","fileName":"a.txt"}]})");
        TranscriptPage p = buildTranscript(h);
        CHECK(p.text == L"S · 2024-05-01 10:00 UTC · изменено:\r\n[Сообщение удалено]\r\n\r\n\r\n");
        // Its file is still offered.
        REQUIRE(p.files.size() == 1);
        CHECK(p.files[0].id == L"f1");
    }
    SUBCASE("a reply to a deleted message and a forward") {
        JsonValue h = doc(u8R"({"items":[{"senderName":"S","createdAt":"","replyId":"r","replyDeleted":true,
            "replySenderName":"B","replyText":"old","forwardedName":"Ф","text":"t"}]})");
        CHECK(buildTranscript(h).text == L"S · :\r\n[Ответ: B · Сообщение удалено]\r\n[Переслано от Ф]\r\nt\r\n\r\n\r\n");
    }
    SUBCASE("several reactions share one line; a missing items array gives nothing") {
        JsonValue h = doc(u8R"({"items":[{"senderName":"S","createdAt":"2024-01-02T03:04:05Z","text":"x",
            "reactions":[{"emoji":"✅","count":1,"mine":false},{"emoji":"👀","count":3,"mine":"true"}]}]})");
        CHECK(buildTranscript(h).text == L"S · 2024-01-02 03:04 UTC:\r\nx\r\n✅ 1  \xD83D\xDC40 3 (ваша)  \r\n\r\n");
        CHECK(buildTranscript(doc("{}")).text.empty());
    }
    SUBCASE("expired files are not offered") {
        JsonValue h = doc(R"({"items":[{"fileId":"a","fileName":"one"},{"fileId":"b","fileName":"two","fileExpired":true},{"fileId":"","fileName":"none"}]})");
        auto files = buildTranscript(h).files;
        REQUIRE(files.size() == 1);
        CHECK(files[0].label == L"one");
    }
}

TEST_CASE("list rows and their lines by mode") {
    JsonValue rooms = doc(u8R"([{"id":"r1","title":"Общий","kind":"room"},{"id":"r2","title":"Второй"}])");
    std::vector<std::wstring> lines;
    auto rows = readListRows(rooms, 0, &lines);
    REQUIRE(rows.size() == 2);
    CHECK(rows[0].ref == L"r1");
    CHECK(rows[0].tag == L"room");
    CHECK(lines == std::vector<std::wstring>{L"Общий", L"Второй"});

    JsonValue work = doc(u8R"({"cases":[{"id":"c1","subject":"Принтер","roomId":"rc","status":"working"},
        {"id":"c2","subject":"Сеть","status":"strange"},{"id":"c3","subject":"Без статуса"}],
        "tickets":[{"id":"t1","subject":"Замена","status":"done"}]})");
    lines.clear();
    rows = readListRows(work, 1, &lines);
    REQUIRE(rows.size() == 3);
    CHECK(rows[0].ref == L"rc");
    CHECK(lines[0] == L"В работе · Принтер");
    CHECK(lines[1] == L"Новая · Сеть");
    CHECK(lines[2] == L"Новая · Без статуса");
    lines.clear();
    rows = readListRows(work, 2, &lines);
    CHECK(lines == std::vector<std::wstring>{L"Выполнена · Замена"});
    CHECK(readListRows(doc("{}"), 0, nullptr).empty());
    CHECK(readListRows(rooms, 1, nullptr).empty());
}

TEST_CASE("the connected status line, and the time of the data a blip kept") {
    CHECK(connectedLine(L"Анна", 0, L"") == L"Подключено · Анна · Страница 1 · Ctrl+Enter — отправить");
    CHECK(connectedLine(L"Анна", 2, L"счёт") == L"Подключено · Анна · Страница 3 · Поиск: счёт · Ctrl+Enter — отправить");
    CHECK(dataTimeText(8, 12, 14, 5, true) == L"14:05");
    CHECK(dataTimeText(8, 12, 14, 5, false) == L"08.12 14:05");
}

TEST_CASE("status labels and the panel's enabling table") {
    CHECK(std::wstring(statusLabelFor(L"queued")) == L"В очереди");
    CHECK(std::wstring(statusLabelFor(L"cancelled")) == L"Отменена");
    CHECK(std::wstring(statusLabelFor(L"Working")) == L"Новая");
    CHECK(std::wstring(statusLabelFor(L"")) == L"Новая");
    struct Row { int mode; bool dispatch, assigned; bool a[6]; bool staff; };
    const Row rows[] = {
        {0, true, true, {false, false, false, false, false, false}, false},
        {1, false, false, {false, false, false, false, false, false}, false},
        {1, true, false, {true, false, false, false, true, true}, true},
        {2, false, true, {false, true, true, true, true, false}, false},
        {2, true, true, {true, true, true, true, true, true}, true},
    };
    for (const Row& r : rows) {
        PanelEnabling e = panelEnabling(r.mode, r.dispatch, r.assigned);
        for (int i = 0; i < 6; ++i) CHECK(e.actions[i] == r.a[i]);
        CHECK(e.staffCombo == r.staff);
    }
    CHECK(std::wstring(workActionName(0)) == L"assign");
    CHECK(std::wstring(workActionName(5)) == L"reopen");
}

TEST_CASE("message actions from a page") {
    JsonValue h = doc(u8R"({"items":[
        {"id":"1","senderName":"A","text":"one\r\ntwo","canReply":true,"canEdit":"true","reactions":[
            {"emoji":"👍","mine":true},{"emoji":"❤️","mine":true}]},
        {"id":"2","senderName":"B","text":"x","deleted":true,"canDelete":true,"reactions":[{"emoji":"❤️","mine":true}]},
        {"id":"3","senderName":"C","text":"y","reactions":[{"emoji":"👍","mine":true},{"emoji":"👍","mine":false}]}]})");
    ActionPage p = readActionPage(h);
    REQUIRE(p.actions.size() == 3);
    CHECK(p.actions[0].canReply);
    CHECK(p.actions[0].canEdit);
    CHECK(p.actions[0].likedByMe);
    CHECK_FALSE(p.actions[1].likedByMe);
    CHECK(p.actions[1].canDelete);
    CHECK_FALSE(p.actions[2].likedByMe);  // the last thumbs-up entry decides
    CHECK(p.lines[0] == L"1 · A · one  two");
    CHECK(p.lines[1] == L"2 · B · [Сообщение удалено]");
    CHECK(p.actions[1].text == L"x");
}

TEST_CASE("selector excerpts cut at 65 code units") {
    MessageActions m;
    m.senderName = L"S";
    m.text = std::wstring(65, L'я');
    CHECK(selectorLine(0, m, false) == L"1 · S · " + std::wstring(65, L'я'));
    m.text = std::wstring(66, L'я');
    CHECK(selectorLine(4, m, false) == L"5 · S · " + std::wstring(65, L'я'));
}

TEST_CASE("the action-control rule set") {
    MessageActions all;
    all.canReply = all.canEdit = all.canForward = all.canReact = all.canPin = all.canDelete = true;
    MessageActions none;
    MessageActions pinOnly;
    pinOnly.canPin = true;

    ActionControls c = actionControlRules(false, true, false, false, &all, false);
    CHECK((c.reply && c.more && c.edit && c.forward && !c.cancelMode && c.send && c.composer && c.attach));
    CHECK(std::wstring(c.sendCaption) == L"Отправить");

    c = actionControlRules(true, true, false, false, &all, false);  // busy
    CHECK((!c.reply && !c.more && !c.edit && !c.forward && !c.cancelMode && !c.send && !c.attach));
    CHECK(c.composer);  // typing goes on during a refresh

    c = actionControlRules(false, true, false, true, &all, false);  // editing
    CHECK((!c.more && !c.attach && c.cancelMode && c.send));
    CHECK(std::wstring(c.sendCaption) == L"Сохранить");

    // A refresh while editing leaves the composer open; only the edit's own
    // save locks it.
    c = actionControlRules(true, false, false, true, &all, false);
    CHECK(c.composer);
    c = actionControlRules(true, false, false, true, &all, true);
    CHECK_FALSE(c.composer);
    // Leaving a mode needs no server: never refused while a job runs.
    CHECK(c.cancelMode);
    CHECK(actionControlRules(true, true, true, false, &all, false).cancelMode);

    c = actionControlRules(false, false, false, false, nullptr, false);  // room without canWrite
    CHECK((!c.send && !c.composer && !c.attach && !c.reply));

    c = actionControlRules(false, false, true, false, nullptr, false);  // hint chosen while replying
    CHECK((c.cancelMode && !c.reply && !c.edit && !c.forward && !c.more));

    c = actionControlRules(false, true, false, false, &pinOnly, false);
    CHECK((c.more && !c.reply && !c.edit && !c.forward));
    c = actionControlRules(false, true, false, false, &none, false);
    CHECK_FALSE(c.more);
}

TEST_CASE("the changed span of a transcript") {
    auto apply = [](const std::wstring& before, const TextSpan& span) {
        // Apply in rich-edit positions: work on the text with CR LF folded.
        std::wstring folded;
        for (size_t i = 0; i < before.size(); ++i) {
            if (before[i] == L'\r' && i + 1 < before.size() && before[i + 1] == L'\n') ++i;
            folded += before[i];
        }
        std::wstring replacement;
        for (size_t i = 0; i < span.replacement.size(); ++i) {
            if (span.replacement[i] == L'\r' && i + 1 < span.replacement.size() && span.replacement[i + 1] == L'\n') ++i;
            replacement += span.replacement[i];
        }
        return folded.substr(0, span.start) + replacement + folded.substr(span.end);
    };
    auto fold = [&](const std::wstring& t) { return apply(t, TextSpan{0, 0, L""}); };
    const std::wstring page = L"A · 1:\r\nпривет\r\n\r\n\r\nB · 2:\r\nответ\r\n\xD83D\xDC4D 1  \r\n\r\n";
    struct Case { std::wstring before, after; };
    const Case cases[] = {
        {page, page + L"C · 3:\r\nновое\r\n\r\n\r\n"},                       // a new message
        {page, L"A · 1:\r\nпривет\r\n\r\n\r\nB · 2:\r\nответ\r\n\xD83D\xDC4D 2 (ваша)  \r\n\r\n"},  // a reaction
        {page, L"A · 1:\r\n[Сообщение удалено]\r\n\r\n\r\nB · 2:\r\nответ\r\n\xD83D\xDC4D 1  \r\n\r\n"},
        {page, L"B · 2:\r\nответ\r\n\xD83D\xDC4D 1  \r\n\r\n"},                        // the first message gone
        {page, page},
        {L"", page},
        {page, L""},
        {L"x\r\ny", L"x\ny"},                                                  // a pair becomes a line feed
        {L"a\xD83D\xDC4D" L"b", L"a\xD83D\xDC40" L"b"},  // emoji sharing a high surrogate
        {L"a\r\r\nb", L"a\r\nb"},
    };
    for (const Case& c : cases) {
        TextSpan span = changedSpan(c.before, c.after);
        CHECK(apply(c.before, span) == fold(c.after));
        CHECK(span.start <= span.end);
        CHECK(span.end <= richEditLength(c.before));
    }
    auto applyAll = [&](const std::wstring& before, const std::vector<TextSpan>& spans) {
        std::wstring text = fold(before);
        for (auto span = spans.rbegin(); span != spans.rend(); ++span)
            text = text.substr(0, span->start) + fold(span->replacement) + text.substr(span->end);
        return text;
    };
    for (const Case& c : cases) CHECK(applyAll(c.before, changedSpans(c.before, c.after)) == fold(c.after));

    // A full page moving on: the first message leaves, a new one arrives.
    // Equal headers and empty lines must not blur where each change starts.
    auto message = [](int i) { return L"S · 1:\r\nтекст " + std::to_wstring(i) + L"\r\n\r\n\r\n"; };
    std::wstring before, after;
    for (int i = 0; i < 5; ++i) before += message(i);
    for (int i = 1; i < 6; ++i) after += message(i);
    std::vector<TextSpan> spans = changedSpans(before, after);
    CHECK(applyAll(before, spans) == fold(after));
    REQUIRE(spans.size() == 2);
    size_t second = richEditLength(message(0)), third = 2 * second;
    CHECK(spans[0].start == 0);
    CHECK(spans[0].end == second);
    // Characters: the top of the second message becomes the top; one inside
    // the message that left goes where it was; the third message follows.
    CHECK(positionAfter(spans, second, PositionKind::character) == 0);
    CHECK(positionAfter(spans, 3, PositionKind::character) == 0);
    CHECK(positionAfter(spans, third + 2, PositionKind::character) == second + 2);
    // Carets: one inside a replaced part goes behind its replacement, one
    // right before an insertion stays before it.
    CHECK(positionAfter(spans, 3, PositionKind::caret) == 0);
    std::vector<TextSpan> insert{{4, 4, L"ab"}};
    CHECK(positionAfter(insert, 4, PositionKind::caret) == 4);
    CHECK(positionAfter(insert, 4, PositionKind::character) == 6);
    std::vector<TextSpan> replace{{4, 8, L"x"}};
    CHECK(positionAfter(replace, 6, PositionKind::caret) == 5);
    CHECK(positionAfter(replace, 6, PositionKind::character) == 4);
    CHECK(positionAfter(replace, 9, PositionKind::character) == 6);

    TextSpan add = changedSpan(page, page + L"C");
    CHECK(add.start == richEditLength(page));
    CHECK(add.replacement == L"C");
    TextSpan emoji = changedSpan(L"a\xD83D\xDC4D" L"b", L"a\xD83D\xDC40" L"b");
    CHECK(emoji.replacement == L"\xD83D\xDC40");  // whole pairs only
    CHECK(richEditLength(L"a\r\nb\nc\r") == 6);
}
