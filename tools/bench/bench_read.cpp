// Reading replies: parse plus every member the client reads, for history pages
// and a rooms list, four ways over the same bytes: the client's own JSON
// layer (through the very functions the window calls), jsmn alone (the floor
// of the fixed tokenizer), a DOM parser reading the same members into the
// same records, and one plain pass; beside them `parse` alone, set against
// jsmn alone.
#include "jsmn_floor.h"
#include "replies.h"
#include "timing.h"

#include "text/errors.h"
#include "text/json.h"
#include "text/utf.h"
#include "ui/dialogs/actions.h"
#include "ui/main/panel.h"
#include "ui/main/transcript.h"

#include <rapidjson/document.h>

#include <cstring>
#include <functional>

namespace {

using Dom = rapidjson::Value;

// The client's lookups, answered from the DOM: same conversions (UTF-8 to
// UTF-16 through the same function), same defaults for missing members.
const Dom* domMember(const Dom& object, const char* key) {
    if (!object.IsObject()) return nullptr;
    auto it = object.FindMember(key);
    return it == object.MemberEnd() ? nullptr : &it->value;
}

std::wstring domString(const Dom* v) {
    if (!v || !v->IsString() || v->GetStringLength() == 0) return std::wstring();
    return toUtf16(std::string(v->GetString(), v->GetStringLength()));
}

std::wstring domMemberString(const Dom& object, const char* key) { return domString(domMember(object, key)); }

bool domMemberBool(const Dom& object, const char* key) {
    const Dom* v = domMember(object, key);
    if (!v) return false;
    return v->IsTrue() || (v->IsString() && std::strcmp(v->GetString(), "true") == 0);
}

int domMemberInt(const Dom& object, const char* key) {
    const Dom* v = domMember(object, key);
    if (!v) return 0;
    if (v->IsInt()) return v->GetInt();
    if (v->IsString()) return std::atoi(v->GetString());
    return 0;
}

const Dom& domArray(const Dom* v) {
    static const Dom empty(rapidjson::kArrayType);
    return v && v->IsArray() ? *v : empty;
}

const wchar_t thumbsUp[] = L"\U0001F44D";

struct Reading {
    TranscriptPage transcript;
    ActionPage actions;
    std::wstring nextBefore;
    bool canWrite = false;
};

// What the window reads of a history reply, with the client's own layer.
Reading readOurs(std::string&& reply) {
    JsonValue doc = parse(std::move(reply));
    Reading r;
    r.actions = readActionPage(doc);
    r.nextBefore = stringAt(doc, findMember(doc, findMember(doc, 0, "page"), "nextBefore"));
    r.canWrite = memberBool(doc, 0, "canWrite");
    r.transcript = buildTranscript(doc);
    return r;
}

// The same reading from the DOM: the transcript and the action page built by
// the same rules, so both sides do the same text work.
Reading readDom(const std::string& reply) {
    rapidjson::Document doc;
    doc.Parse(reply.data(), reply.size());
    if (doc.HasParseError()) throw TransportFailure("json");
    Reading r;
    const Dom& items = domArray(domMember(doc, "items"));
    for (const Dom& item : items.GetArray()) {
        MessageActions m;
        m.id = domMemberString(item, "id");
        m.senderName = domMemberString(item, "senderName");
        m.text = domMemberString(item, "text");
        m.canReply = domMemberBool(item, "canReply");
        m.canEdit = domMemberBool(item, "canEdit");
        m.canForward = domMemberBool(item, "canForward");
        m.canReact = domMemberBool(item, "canReact");
        m.canPin = domMemberBool(item, "canPin");
        m.pinned = domMemberBool(item, "pinned");
        m.canDelete = domMemberBool(item, "canDelete");
        for (const Dom& reaction : domArray(domMember(item, "reactions")).GetArray())
            if (domMemberString(reaction, "emoji") == thumbsUp) m.likedByMe = domMemberBool(reaction, "mine");
        r.actions.lines.push_back(selectorLine(r.actions.actions.size(), m, domMemberBool(item, "deleted")));
        r.actions.actions.push_back(std::move(m));
    }
    const Dom* page = domMember(doc, "page");
    r.nextBefore = page ? domMemberString(*page, "nextBefore") : std::wstring();
    r.canWrite = domMemberBool(doc, "canWrite");

    std::wstring& t = r.transcript.text;
    for (const Dom& item : items.GetArray()) {
        std::wstring time = transcriptTime(domMemberString(item, "createdAt"));
        bool deleted = domMemberBool(item, "deleted");
        std::wstring body;
        if (deleted) {
            body = L"[Сообщение удалено]";
        } else {
            if (domMemberBool(item, "pinned")) body += L"[Закреплено]\r\n";
            if (!domMemberString(item, "replyId").empty()) {
                std::wstring quote = domMemberBool(item, "replyDeleted") ? L"Сообщение удалено"
                                                                         : domMemberString(item, "replyText");
                body += L"[Ответ: " + domMemberString(item, "replySenderName") + L" · " + quote + L"]\r\n";
            }
            std::wstring forwarded = domMemberString(item, "forwardedName");
            if (!forwarded.empty()) body += L"[Переслано от " + forwarded + L"]\r\n";
            body += domMemberString(item, "text");
        }
        t += domMemberString(item, "senderName");
        t += L" · ";
        t += time;
        if (!domMemberString(item, "editedAt").empty()) t += L" · изменено";
        t += L":\r\n";
        t += body;
        t += L"\r\n";
        if (!deleted) {
            for (const Dom& reaction : domArray(domMember(item, "reactions")).GetArray()) {
                t += domMemberString(reaction, "emoji");
                t += L" ";
                t += std::to_wstring(domMemberInt(reaction, "count"));
                if (domMemberBool(reaction, "mine")) t += L" (ваша)";
                t += L"  ";
            }
        }
        t += L"\r\n\r\n";
        std::wstring fileId = domMemberString(item, "fileId");
        if (!fileId.empty() && !domMemberBool(item, "fileExpired"))
            r.transcript.files.push_back({fileId, domMemberString(item, "fileName"), L"", L""});
    }
    return r;
}

ListReading readListOurs(std::string&& reply, int mode = 0) {
    JsonValue doc = parse(std::move(reply));
    ListReading r;
    r.rows = readListRows(doc, mode, &r.lines);
    return r;
}

ListReading readListDom(const std::string& reply, int mode = 0) {
    rapidjson::Document doc;
    doc.Parse(reply.data(), reply.size());
    if (doc.HasParseError()) throw TransportFailure("json");
    ListReading r;
    const Dom& list = mode == 0 ? domArray(&doc) : domArray(domMember(doc, "cases"));
    for (const Dom& e : list.GetArray()) {
        ListRow row;
        row.id = domMemberString(e, "id");
        row.label = visibleText(domMemberString(e, mode == 0 ? "title" : "subject"));
        row.ref = domMemberString(e, mode == 0 ? "id" : "roomId");
        row.tag = domMemberString(e, "kind");
        r.lines.push_back(mode == 0 ? row.label
                                    : std::wstring(statusLabelFor(domMemberString(e, "status"))) + L" · " + row.label);
        r.rows.push_back(std::move(row));
    }
    return r;
}

// Context: the least any reader keeping the window's records does, parse and
// the texts those records hold (id, sender and text of every message; id and
// title of every room) kept as wide strings, nothing else read or built.
size_t parseAndKeep(std::string&& reply, bool history, bool cases = false) {
    static const char* const messageKeys[] = {"id", "senderName", "text"};
    static const char* const roomKeys[] = {"id", "title"};
    static const char* const caseKeys[] = {"id", "subject"};
    JsonValue doc = parse(std::move(reply));
    const char* const* keys = history ? messageKeys : cases ? caseKeys : roomKeys;
    const size_t count = history ? 3 : 2;
    const JsonIndex array = history ? findMember(doc, 0, "items") : cases ? findMember(doc, 0, "cases") : 0;
    std::vector<std::wstring> kept;
    JsonIndex m[3];
    for (JsonIndex e = firstElement(doc, array); e >= 0; e = nextElement(doc, array, e)) {
        findMembers(doc, e, keys, count, m);
        for (size_t k = 0; k < count; ++k) kept.push_back(stringAt(doc, m[k]));
    }
    return kept.size();
}

// Tokens only: the worst reply has no members to read.
size_t parseOurs(std::string&& reply) { return parse(std::move(reply)).tokens.size(); }

size_t parseDom(const std::string& reply) {
    rapidjson::Document doc;
    doc.Parse(reply.data(), reply.size());
    return doc.HasParseError() ? 0 : doc.Size();
}

// The floor: one pass touching every byte, counting what a tokenizer must
// look at (quotes and brackets).
volatile size_t sink;
size_t plainPass(const std::string& reply) {
    size_t marks = 0;
    for (unsigned char c : reply) marks += (c == '"') | (c == '{') | (c == '[');
    return marks;
}

bool sameRows(const std::vector<ListRow>& a, const std::vector<ListRow>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].id != b[i].id || a[i].label != b[i].label || a[i].ref != b[i].ref || a[i].tag != b[i].tag) return false;
    return true;
}

bool sameReading(const Reading& a, const Reading& b) {
    if (a.transcript.text != b.transcript.text || !sameRows(a.transcript.files, b.transcript.files)) return false;
    if (a.actions.lines != b.actions.lines || a.actions.actions.size() != b.actions.actions.size()) return false;
    for (size_t i = 0; i < a.actions.actions.size(); ++i) {
        const MessageActions &x = a.actions.actions[i], &y = b.actions.actions[i];
        if (x.id != y.id || x.text != y.text || x.senderName != y.senderName || x.canReply != y.canReply ||
            x.canEdit != y.canEdit || x.canForward != y.canForward || x.canReact != y.canReact ||
            x.canPin != y.canPin || x.pinned != y.pinned || x.canDelete != y.canDelete || x.likedByMe != y.likedByMe)
            return false;
    }
    return a.nextBefore == b.nextBefore && a.canWrite == b.canWrite;
}

// The floor of the fixed tokenizer: jsmn alone, with parent links as the
// client uses it, over the same bytes and a table large enough for them,
// nothing read afterwards.
std::vector<JsonToken> jsmnTable(static_cast<size_t>(jsonTokenLimit));
int jsmnAlone(const std::string& reply) {
    jsmn_parser parser;
    jsmn_init(&parser);
    return jsmn_parse(&parser, reply.data(), reply.size(), jsmnTable.data(), static_cast<unsigned>(jsmnTable.size()));
}

// Seconds per reading by the client's layer. The client reads a reply it has
// just received and parse takes the text over, so every call gets a copy of
// its own, made before the clock starts; one call at a time, as the client
// reads them.
double secondsPerReading(const std::string& reply, const std::function<void(std::string&&)>& read,
                         double minimum = 0.004) {
    int calls = 0;
    double elapsed = 0;
    do {
        std::string copy = reply;
        double start = secondsNow();
        read(std::move(copy));
        elapsed += secondsNow() - start;
        ++calls;
    } while (elapsed < minimum);
    return elapsed / calls;
}

// Seconds per parse alone, from a copy made before the clock starts, as for
// the readings; the document is freed after the clock stops, as jsmn's own
// table outlives its figure.
double secondsPerParse(const std::string& reply, double minimum = 0.004) {
    int calls = 0;
    double elapsed = 0;
    do {
        std::string copy = reply;
        const double start = secondsNow();
        JsonValue doc = parse(std::move(copy));
        elapsed += secondsNow() - start;
        sink = doc.tokens.size();
        ++calls;
    } while (elapsed < minimum);
    return elapsed / calls;
}

// Rounds alternate the ways so drift on a shared machine hits them alike.
void measure(const std::string& name, const std::string& reply, int rounds,
             const std::function<void(std::string&&)>& ours, const std::function<void()>& dom,
             const std::function<void(std::string&&)>& kept) {
    std::vector<double> a, b, c, d, e, f, g;
    for (int i = 0; i < rounds; ++i) {
        a.push_back(secondsPerReading(reply, ours));
        g.push_back(secondsPerParse(reply));
        e.push_back(secondsPerReading(reply, kept));
        b.push_back(secondsPerCall([&] { sink = static_cast<size_t>(jsmnAlone(reply)); }));
        f.push_back(secondsPerCall([&] { sink = static_cast<size_t>(jsmnWithoutParentLinks(reply)); }));
        c.push_back(secondsPerCall(dom));
        d.push_back(secondsPerCall([&] { sink = plainPass(reply); }));
    }
    printRecord("read", name,
                {{"bytes", static_cast<double>(reply.size())},
                 {"ours", median(a)},
                 {"jsmn", median(b)},
                 {"dom", median(c)},
                 {"floor", median(d)},
                 {"kept", median(e)},
                 {"jsmnOld", median(f)},
                 {"parse", median(g)}});
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 11;
    for (int count : {50, 200, 500}) {
        std::string reply = historyReply(count);
        Reading x = readOurs(std::string(reply)), y = readDom(reply);
        if (!sameReading(x, y) || x.actions.actions.size() != static_cast<size_t>(count)) {
            std::printf("{\"error\": \"the two readers disagree on history %d\"}\n", count);
            return 1;
        }
        measure("history" + std::to_string(count), reply, rounds, [](std::string&& r) { readOurs(std::move(r)); },
                [&] { readDom(reply); }, [](std::string&& r) { sink = parseAndKeep(std::move(r), true); });
    }
    for (int count : {1000, 10000}) {
        std::string reply = roomsReply(count);
        ListReading x = readListOurs(std::string(reply)), y = readListDom(reply);
        if (!sameRows(x.rows, y.rows) || x.lines != y.lines || x.rows.size() != static_cast<size_t>(count)) {
            std::printf("{\"error\": \"the two readers disagree on the rooms list\"}\n");
            return 1;
        }
        measure("rooms" + std::to_string(count), reply, count > 1000 && rounds > 5 ? 5 : rounds,
                [](std::string&& r) { readListOurs(std::move(r)); }, [&] { readListDom(reply); },
                [](std::string&& r) { sink = parseAndKeep(std::move(r), false); });
    }
    {
        std::string reply = casesReply(2000);
        ListReading x = readListOurs(std::string(reply), 1), y = readListDom(reply, 1);
        if (!sameRows(x.rows, y.rows) || x.lines != y.lines || x.rows.size() != 2000) {
            std::printf("{\"error\": \"the two readers disagree on the cases list\"}\n");
            return 1;
        }
        measure("cases2000", reply, rounds, [](std::string&& r) { readListOurs(std::move(r), 1); },
                [&] { readListDom(reply, 1); }, [](std::string&& r) { sink = parseAndKeep(std::move(r), false, true); });
    }
    {
        std::string reply = worstReply();
        if (parseOurs(std::string(reply)) != 32768 || parseDom(reply) != 32767) {
            std::printf("{\"error\": \"the worst reply is not 32768 values\"}\n");
            return 1;
        }
        measure("worst32768", reply, rounds < 5 ? rounds : 5, [](std::string&& r) { sink = parseOurs(std::move(r)); },
                [&] { sink = parseDom(reply); }, [](std::string&& r) { sink = parseOurs(std::move(r)); });
    }
    {
        // Deep nesting, the costliest shape parse still takes: 16384 nested
        // arrays, every closing bracket climbing over the levels closed
        // before it (twice as deep costs four times as much).
        const std::string reply = std::string(16384, '[') + std::string(16384, ']');
        if (parseOurs(std::string(reply)) != 16384) {
            std::printf("{\"error\": \"the nested reply is not 16384 values\"}\n");
            return 1;
        }
        measure("nested16384", reply, rounds < 3 ? rounds : 3, [](std::string&& r) { sink = parseOurs(std::move(r)); },
                [&] {
                    rapidjson::Document doc;
                    doc.Parse<rapidjson::kParseIterativeFlag>(reply.data(), reply.size());
                    sink = doc.HasParseError() ? 0 : doc.Size();
                },
                [](std::string&& r) { sink = parseOurs(std::move(r)); });
    }
    return 0;
}
