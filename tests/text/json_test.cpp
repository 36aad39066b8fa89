#include <doctest/doctest.h>

#include "wide_print.h"

#include "text/errors.h"
#include "text/json.h"
#include "text/utf.h"

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

JsonValue doc(const std::string& text) {
    return parse(std::string(text));
}

// The category of the failure, or "" when the text was accepted.
std::string refusal(const std::string& text) {
    try {
        parse(std::string(text));
    } catch (const TransportFailure& failure) {
        return failure.category;
    }
    return "";
}

std::string manyValues(int count) {
    std::string text = "[";
    for (int i = 1; i < count; ++i) text += "0,";
    text += "]";
    return text;
}

// A document whose one token is laid over `text` by hand: the lookups must
// cope with raw text that the tokenizer would never hand them.
JsonValue handMade(const std::string& text, int kind) {
    JsonValue d;
    d.text = text;
    JsonToken token{};
    token.type = static_cast<jsmntype_t>(kind);
    token.start = 0;
    token.end = static_cast<int>(text.size());
    d.tokens.push_back(token);
    return d;
}

}  // namespace

TEST_CASE("parse refuses what is not JSON with the category json") {
    CHECK(refusal("") == "json");
    CHECK(refusal(" \t\r\n") == "json");
    CHECK(refusal(std::string("\0{}", 3)) == "json");
    CHECK(refusal("{") == "json");
    CHECK(refusal("[1,2") == "json");
    CHECK(refusal("{\"a\":[1}") == "json");
    CHECK(refusal("]") == "json");
    CHECK(refusal("{}}") == "json");
    CHECK(refusal("\"abc") == "json");
    CHECK(refusal("{\"a\":\"x\\q\"}") == "json");
    CHECK(refusal("[\"\\u12G4\"]") == "json");
    CHECK(refusal("{\"a\":caf\xc3\xa9}") == "json");
    CHECK(refusal("[1\x01]") == "json");
    CHECK(refusal(std::string("{\"a\":1\0}", 8)) == "json");
}

TEST_CASE("parse takes the text over and keeps one token per value") {
    std::string text = "{\"a\":[1,\"x\"],\"b\":null}";
    const std::string original = text;
    const JsonValue d = parse(std::move(text));
    CHECK(text.empty());
    CHECK(d.text == original);
    REQUIRE(d.tokens.size() == 7);
    CHECK(d.tokens.capacity() >= static_cast<size_t>(jsonTokenCapacity));
    CHECK(d.tokens[0].type == JsonKind::Object);
    CHECK(d.tokens[0].size == 2);
    CHECK(d.tokens[2].type == JsonKind::Array);
    CHECK(d.tokens[4].type == JsonKind::String);
    CHECK(d.tokens[4].start == 9);
    CHECK(d.tokens[4].end == 10);
    CHECK(d.tokens[6].type == JsonKind::Primitive);

    SUBCASE("the caller's text is emptied on refusal too") {
        std::string bad = "{\"token\":\"secret";
        CHECK_THROWS_AS(parse(std::move(bad)), TransportFailure);
        CHECK(bad.empty());
    }
}

TEST_CASE("the empty object has no members") {
    const JsonValue d = doc("{}");
    REQUIRE(d.tokens.size() == 1);
    CHECK(d.tokens[0].type == JsonKind::Object);
    CHECK(d.tokens[0].size == 0);
    CHECK(findMember(d, 0, "") == -1);
    CHECK(findMember(d, 0, "a") == -1);
    CHECK(memberString(d, 0, "a").empty());
    CHECK(memberInt(d, 0, "a") == 0);
    CHECK_FALSE(memberBool(d, 0, "a"));
    CHECK(stringAt(d, 0) == L"{}");
}

TEST_CASE("the lenient tokenizer's texts are read as they come") {
    SUBCASE("a key with nothing after it has no value") {
        const JsonValue d = doc("{\"login\"}");
        CHECK(findMember(d, 0, "login") == -1);
        CHECK(memberString(d, 0, "login").empty());
    }
    SUBCASE("a trailing key does not borrow a value from outside its object") {
        const JsonValue d = doc("[{\"login\"},\"x\"]");
        CHECK(findMember(d, 1, "login") == -1);
    }
    SUBCASE("unquoted keys and missing commas") {
        const JsonValue d = doc("{a:1 b:\"two\"}");
        CHECK(memberInt(d, 0, "a") == 1);
        CHECK(memberString(d, 0, "b") == L"two");
    }
    SUBCASE("several top-level values: the first is the root") {
        const JsonValue d = doc("{\"a\":1} {\"a\":2}");
        CHECK(memberInt(d, 0, "a") == 1);
        CHECK(d.tokens.size() == 6);
    }
    SUBCASE("a bare word or number is a document") {
        CHECK(doc("true").tokens[0].type == JsonKind::Primitive);
        CHECK(doc("-12").tokens.size() == 1);
        CHECK(stringAt(doc("null"), 0).empty());
    }
    SUBCASE("a NUL byte ends the text without error") {
        const JsonValue d = doc(std::string("{\"a\":1}\0{{{", 11));
        CHECK(d.tokens.size() == 3);
        CHECK(memberInt(d, 0, "a") == 1);
    }
}

TEST_CASE("findMember searches direct members only") {
    const JsonValue d = doc(
        "{\"inner\":{\"a\":1,\"b\":{\"a\":2}},\"list\":[{\"a\":3},\"a\"],\"k\":\"a\",\"ab\":4,\"a\":5,\"a\":6}");
    CHECK(memberInt(d, 0, "a") == 5);
    CHECK(memberInt(d, 0, "ab") == 4);
    CHECK(findMember(d, 0, "b") == -1);
    CHECK(findMember(d, 0, "A") == -1);
    CHECK(memberString(d, 0, "k") == L"a");

    const JsonIndex inner = findMember(d, 0, "inner");
    REQUIRE(inner > 0);
    CHECK(memberInt(d, inner, "a") == 1);
    const JsonIndex b = findMember(d, inner, "b");
    CHECK(memberInt(d, b, "a") == 2);
    CHECK(findMember(d, b, "b") == -1);

    SUBCASE("a key of a nested object is not a member of the root") {
        const JsonValue n = doc("{\"x\":{\"a\":1}}");
        CHECK(findMember(n, 0, "a") == -1);
    }
    SUBCASE("keys are compared as raw bytes") {
        const JsonValue e = doc("{\"\\u0061\":1,\"\\\"\":2}");
        CHECK(findMember(e, 0, "a") == -1);
        CHECK(memberInt(e, 0, "\\u0061") == 1);
        CHECK(memberInt(e, 0, "\\\"") == 2);
    }
    SUBCASE("non-Latin keys") {
        const JsonValue c = doc("{\"\xd0\xb8\xd0\xbc\xd1\x8f\":\"\xd0\x96\"}");
        CHECK(memberString(c, 0, "\xd0\xb8\xd0\xbc\xd1\x8f") == L"\u0416");
    }
    SUBCASE("only objects have members") {
        const JsonValue a = doc("[\"a\",1,{\"a\":2}]");
        CHECK(findMember(a, 0, "a") == -1);
        CHECK(findMember(a, 1, "a") == -1);
        CHECK(findMember(a, 2, "a") == -1);
        CHECK(memberInt(a, 3, "a") == 2);
        CHECK(findMember(a, 0, nullptr) == -1);
    }
}

TEST_CASE("arrayElements lists direct elements in order") {
    const JsonValue d = doc("[{\"a\":[1,2]},[],[[3]],\"s\",7,{}]");
    const std::vector<JsonIndex> elements = arrayElements(d, 0);
    CHECK(elements == std::vector<JsonIndex>{1, 6, 7, 10, 11, 12});
    CHECK(arrayElements(d, 3) == std::vector<JsonIndex>{4, 5});
    CHECK(arrayElements(d, 6).empty());
    CHECK(arrayElements(d, 7) == std::vector<JsonIndex>{8});
    CHECK(arrayElements(d, 8) == std::vector<JsonIndex>{9});
    CHECK(arrayElements(d, 1).empty());
    CHECK(arrayElements(d, 10).empty());
    CHECK(arrayElements(d, -1).empty());
    CHECK(arrayElements(d, -7).empty());
    CHECK(arrayElements(d, 13).empty());
    CHECK(stringAt(d, elements[3]) == L"s");

    SUBCASE("a root that is an array has no members") {
        const JsonValue r = doc("[{\"id\":\"1\"},{\"id\":\"2\"}]");
        CHECK(findMember(r, 0, "id") == -1);
        const std::vector<JsonIndex> rows = arrayElements(r, 0);
        REQUIRE(rows.size() == 2);
        CHECK(memberString(r, rows[0], "id") == L"1");
        CHECK(memberString(r, rows[1], "id") == L"2");
    }
}

TEST_CASE("stringAt decodes strings and gives raw text of containers") {
    const JsonValue d = doc(
        "{\"id\":42,\"s\":\"a\\nb\\rc\\td\\be\\ff\\\"g\\\\h\\/i\","
        "\"smile\":\"\\uD83D\\uDE00\",\"lone\":\"x\\ud800y\",\"zero\":\"\\u0000\","
        "\"raw\":\"\xd0\x9f\xff!\",\"obj\":{\"k\": \"\\u0416\"},\"t\":true,\"n\":null}");
    CHECK(memberString(d, 0, "id").empty());
    CHECK(memberInt(d, 0, "id") == 42);
    CHECK(memberString(d, 0, "s") == L"a\nb\rc\td\be\ff\"g\\h/i");
    CHECK(memberString(d, 0, "smile") == L"\xD83D\xDE00");
    CHECK(toUtf8(memberString(d, 0, "smile")) == "\xf0\x9f\x98\x80");
    CHECK(memberString(d, 0, "lone") == std::wstring{L'x', wchar_t(0xD800), L'y'});
    CHECK(memberString(d, 0, "zero") == std::wstring(1, L'\0'));
    CHECK(memberString(d, 0, "raw") == L"\u041f\uFFFD!");
    CHECK(memberString(d, 0, "obj") == L"{\"k\": \"\u0416\"}");
    CHECK(memberString(d, 0, "t").empty());
    CHECK(memberString(d, 0, "n").empty());

    SUBCASE("indices outside the table read as empty") {
        for (JsonIndex i : {-1, -2, INT32_MIN, static_cast<JsonIndex>(d.tokens.size()), INT32_MAX})
            CHECK(stringAt(d, i).empty());
    }
}

TEST_CASE("stringAt over raw text that is not a tokenized string") {
    CHECK(stringAt(handMade("a\\u", JsonKind::String), 0) == L"au");
    CHECK(stringAt(handMade("a\\u12", JsonKind::String), 0) == L"au12");
    CHECK(stringAt(handMade("a\\u1\\n", JsonKind::String), 0) == L"au1\\n");
    CHECK(stringAt(handMade("a\\u0041", JsonKind::String), 0) == L"aA");
    CHECK(stringAt(handMade("a\\u00e9x", JsonKind::String), 0) == L"a\u00e9x");
    CHECK(stringAt(handMade("\\uZZZZ", JsonKind::String), 0) == L"uZZZZ");
    CHECK(stringAt(handMade("\\u12G4\\n", JsonKind::String), 0) == L"u12G4\n");
    CHECK(stringAt(handMade("\\u\\u0041", JsonKind::String), 0) == L"uA");
    CHECK(stringAt(handMade("ab\\", JsonKind::String), 0) == L"ab");
    CHECK(stringAt(handMade("\\q\\\\", JsonKind::String), 0) == L"q\\");
    CHECK(stringAt(handMade("true", JsonKind::Primitive), 0).empty());
    CHECK(stringAt(handMade("abc", 0), 0).empty());
    // An unquoted value can hold what a string may not.
    const JsonValue d = doc("{k:a\\uZZZZ\\u0041}");
    CHECK(stringAt(d, 0) == L"{k:auZZZZA}");
}

TEST_CASE("memberBool is true only for the bytes true") {
    const JsonValue d = doc(
        "{\"lit\":true,\"str\":\"true\",\"cap\":\"True\",\"one\":1,\"f\":false,\"long\":\"trueish\","
        "\"short\":\"tru\",\"sp\":\" true\",\"obj\":{\"x\":true}}");
    CHECK(memberBool(d, 0, "lit"));
    CHECK(memberBool(d, 0, "str"));
    CHECK_FALSE(memberBool(d, 0, "cap"));
    CHECK_FALSE(memberBool(d, 0, "one"));
    CHECK_FALSE(memberBool(d, 0, "f"));
    CHECK_FALSE(memberBool(d, 0, "long"));
    CHECK_FALSE(memberBool(d, 0, "short"));
    CHECK_FALSE(memberBool(d, 0, "sp"));
    CHECK_FALSE(memberBool(d, 0, "obj"));
    CHECK_FALSE(memberBool(d, 0, "x"));
    CHECK_FALSE(memberBool(d, 0, "missing"));
}

TEST_CASE("memberInt reads like atoi and saturates") {
    const JsonValue d = doc(
        "{\"n\":42,\"neg\":-7,\"plus\":+5,\"frac\":3.9,\"exp\":1e3,\"str\":\" \\t12\",\"word\":\"abc\","
        "\"trail\":\"12abc\",\"max\":2147483647,\"over\":2147483648,\"min\":-2147483648,"
        "\"under\":-2147483649,\"huge\":99999999999999999999999,\"tiny\":-99999999999999999999999,"
        "\"zeros\":000017,\"gap\":\"- 5\",\"signs\":\"+-1\",\"empty\":\"\",\"obj\":{\"n\":1},\"t\":true,\"nl\":\"\\n9\"}");
    CHECK(memberInt(d, 0, "n") == 42);
    CHECK(memberInt(d, 0, "neg") == -7);
    CHECK(memberInt(d, 0, "plus") == 5);
    CHECK(memberInt(d, 0, "frac") == 3);
    CHECK(memberInt(d, 0, "exp") == 1);
    CHECK(memberInt(d, 0, "str") == 0);  // raw bytes: a backslash, not white space
    CHECK(memberInt(d, 0, "word") == 0);
    CHECK(memberInt(d, 0, "trail") == 12);
    CHECK(memberInt(d, 0, "max") == INT32_MAX);
    CHECK(memberInt(d, 0, "over") == INT32_MAX);
    CHECK(memberInt(d, 0, "min") == INT32_MIN);
    CHECK(memberInt(d, 0, "under") == INT32_MIN);
    CHECK(memberInt(d, 0, "huge") == INT32_MAX);
    CHECK(memberInt(d, 0, "tiny") == INT32_MIN);
    CHECK(memberInt(d, 0, "zeros") == 17);
    CHECK(memberInt(d, 0, "gap") == 0);
    CHECK(memberInt(d, 0, "signs") == 0);
    CHECK(memberInt(d, 0, "empty") == 0);
    CHECK(memberInt(d, 0, "obj") == 0);
    CHECK(memberInt(d, 0, "t") == 0);
    CHECK(memberInt(d, 0, "nl") == 0);
    CHECK(memberInt(d, 0, "missing") == 0);
    CHECK(memberInt(doc("{\"s\":\" \r\n 12 \"}"), 0, "s") == 12);

    SUBCASE("digits stop at the token's end, not at the text's") {
        // Token bytes are not NUL-terminated: reading on would give 1234.
        JsonValue e = doc("{\"a\":1234}");
        e.tokens[2].end = 7;
        CHECK(memberInt(e, 0, "a") == 12);
        e.tokens[2].end = 5;
        CHECK(memberInt(e, 0, "a") == 0);
    }
}

TEST_CASE("the token table grows as a reply needs, up to 2097152 values") {
    // Past the first table: a list of 40000 values read whole.
    std::string list = "{\"items\":[";
    for (int i = 0; i < 40000; ++i) list += "\"r" + std::to_string(i) + "\",";
    list.back() = ']';
    list += ",\"n\":7}";
    const JsonValue grown = doc(list);
    CHECK(grown.tokens.size() == 40005);
    const std::vector<JsonIndex> items = arrayElements(grown, findMember(grown, 0, "items"));
    REQUIRE(items.size() == 40000);
    CHECK(stringAt(grown, items[32768]) == L"r32768");
    CHECK(stringAt(grown, items.back()) == L"r39999");
    CHECK(memberInt(grown, 0, "n") == 7);

    const JsonValue full = doc(manyValues(jsonTokenLimit));
    CHECK(full.tokens.size() == static_cast<size_t>(jsonTokenLimit));
    CHECK(arrayElements(full, 0).size() == static_cast<size_t>(jsonTokenLimit - 1));
    CHECK(refusal(manyValues(jsonTokenLimit + 1)) == "json");
    std::string flat;
    for (int i = 0; i <= jsonTokenLimit; ++i) flat += "1 ";
    CHECK(refusal(flat) == "json");
}

TEST_CASE("lookups survive tables that the tokenizer never makes") {
    JsonValue d;
    d.text = "{\"a\":1}";
    auto token = [](int kind, int start, int end) {
        JsonToken t{};
        t.type = static_cast<jsmntype_t>(kind);
        t.start = start;
        t.end = end;
        return t;
    };
    d.tokens = {token(JsonKind::Object, 0, 7), token(JsonKind::String, 2, 3), token(JsonKind::Primitive, 5, 6)};
    CHECK(memberInt(d, 0, "a") == 1);

    SUBCASE("offsets past the text") {
        d.tokens[2].end = 1000;
        CHECK(memberInt(d, 0, "a") == 0);
        CHECK_FALSE(memberBool(d, 0, "a"));
        d.tokens[0].end = INT_MAX;
        CHECK(stringAt(d, 0).empty());
        CHECK(arrayElements(d, 0).empty());
    }
    SUBCASE("negative and reversed offsets") {
        d.tokens[1].start = -5;
        CHECK(findMember(d, 0, "a") == -1);
        d.tokens[1] = token(JsonKind::String, 3, 2);
        CHECK(findMember(d, 0, "a") == -1);
        d.tokens[0].end = -1;
        CHECK(findMember(d, 0, "a") == -1);
        CHECK(stringAt(d, 0).empty());
    }
    SUBCASE("an array that never ends") {
        d.text = "[1,2";
        d.tokens = {token(JsonKind::Array, 0, INT_MAX), token(JsonKind::Primitive, 1, 2),
                    token(JsonKind::Primitive, 3, 4)};
        CHECK(arrayElements(d, 0) == std::vector<JsonIndex>{1, 2});
        CHECK(stringAt(d, 0).empty());
    }
    SUBCASE("an empty table") {
        d.tokens.clear();
        CHECK(findMember(d, 0, "a") == -1);
        CHECK(stringAt(d, 0).empty());
        CHECK(arrayElements(d, 0).empty());
    }
}

TEST_CASE("separators that make no tokens cannot stall the tokenizer") {
    // Colon-comma pairs after many tokens, and closing brackets that climb
    // again and again over the same deep chain of values, would each take
    // minutes; the pairs now cost a step each, the climbs are refused.
    std::string pairs = "[";
    for (int i = 0; i < 32766; ++i) pairs += "1,";
    pairs += "1";
    for (int i = 0; i < 2000000; ++i) pairs += ":,";
    pairs += "]";
    CHECK(parse(std::move(pairs)).tokens.size() == 32768);
    std::string climbs = std::string(20000, '[') + std::string(20000, ']') + ":" + std::string(3000000, ']');
    CHECK(refusal(climbs) == "json");
    // Nesting deeper than the guard allows: each close climbs over every level.
    CHECK(refusal(std::string(20000, '[') + std::string(20000, ']')) == "json");

    // A long reply is tokenized a piece at a time, stopping inside strings of
    // letters past ASCII: a string over many pieces, and deep nesting that
    // comes only after many pieces, read as in one call, the nesting refused
    // or taken as when it comes first.
    std::string letters;
    for (int i = 0; i < 60000; ++i) letters += "\xd0\xb6";
    std::string rooms = "[\"" + letters + "\"";
    for (int i = 0; rooms.size() < 200000; ++i) rooms += ",{\"title\": \"\xd0\xa7\xd0\xb0\xd1\x82 " + std::to_string(i) + "\"}";
    const std::string deep = std::string(12000, '[') + std::string(12000, ']');
    for (const std::string& text : {rooms + "]", rooms + "," + deep + "]"}) {
        std::vector<JsonToken> alone(100000);
        jsmn_parser parser;
        jsmn_init(&parser);
        const int count = jsmn_parse(&parser, text.data(), text.size(), alone.data(), 100000);
        const JsonValue d = parse(std::string(text));
        REQUIRE(static_cast<int>(d.tokens.size()) == count);
        CHECK(std::memcmp(d.tokens.data(), alone.data(), sizeof(JsonToken) * d.tokens.size()) == 0);
        CHECK(stringAt(d, 1).size() == 60000);
    }
    CHECK(refusal(rooms + "," + std::string(20000, '[') + std::string(20000, ']') + "]") == "json");

    // The most colons a document that fits the table can hold still parse,
    // and colons inside strings do not count.
    std::string members = "{";
    for (int i = 0; i < 16383; ++i) members += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":\"a:b:c\"";
    members += "}";
    JsonValue doc = parse(std::move(members));
    CHECK(doc.tokens.size() == 32767);
    CHECK(memberString(doc, 0, "k16382") == L"a:b:c");
}
