// Seeded random documents, their mutations and a few extreme shapes. Every
// input is either refused with "json" or gives a token table that lies inside
// the text, and every lookup on every index answers without failing and in
// agreement with the text.
#include <doctest/doctest.h>

#include "wide_print.h"

#include "text/errors.h"
#include "text/json.h"
#include "text/utf.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Random {
    uint64_t state;
    uint64_t next() {
        // splitmix64: the same sequence with every compiler and library.
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int n) { return n <= 0 ? 0 : static_cast<int>(next() % static_cast<uint64_t>(n)); }
    bool chance(int percent) { return below(100) < percent; }
};

// ---------------------------------------------------------------------------
// Random well-formed documents with what each lookup must answer.

enum class Kind { Object, Array, String, Number, True, False, Null };

struct Node {
    Kind kind = Kind::Null;
    JsonIndex index = -1;
    std::wstring text;                              // String: the decoded units
    int32_t number = 0;                             // Number: what memberInt reads
    std::vector<std::pair<std::string, Node>> members;  // Object: raw key bytes
    std::vector<Node> elements;                     // Array
};

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void appendEscape(Random& rng, std::string& out, unsigned unit) {
    const char* digits = rng.chance(50) ? "0123456789abcdef" : "0123456789ABCDEF";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += digits[(unit >> shift) & 0xF];
}

// Writes a JSON string body and returns the UTF-16 units it stands for.
std::wstring randomString(Random& rng, std::string& out) {
    std::wstring units;
    const int length = rng.below(rng.chance(10) ? 60 : 8);
    for (int i = 0; i < length; ++i) {
        switch (rng.below(9)) {
        case 0: {  // plain ASCII, raw or escaped
            const unsigned c = 0x20 + static_cast<unsigned>(rng.below(0x5F));
            units += static_cast<wchar_t>(c);
            if (c == '"' || c == '\\') {
                out += '\\';
                out += static_cast<char>(c);
            } else if (rng.chance(20)) {
                appendEscape(rng, out, c);
            } else {
                out += static_cast<char>(c);
            }
            break;
        }
        case 1: {  // short escapes
            static const char letters[] = "nrtbf\"\\/";
            static const wchar_t values[] = L"\n\r\t\b\f\"\\/";
            const int k = rng.below(8);
            out += '\\';
            out += letters[k];
            units += values[k];
            break;
        }
        case 2: {  // control characters only as \u escapes
            const unsigned c = static_cast<unsigned>(rng.below(0x20));
            appendEscape(rng, out, c);
            units += static_cast<wchar_t>(c);
            break;
        }
        case 3:
        case 4: {  // Cyrillic and other BMP text, raw UTF-8 or escaped
            unsigned c = rng.chance(60) ? 0x400 + static_cast<unsigned>(rng.below(0x60))
                                        : 0x80 + static_cast<unsigned>(rng.below(0xD780));
            if (rng.chance(15)) c = 0xE000 + static_cast<unsigned>(rng.below(0x2000));
            units += static_cast<wchar_t>(c);
            if (rng.chance(25)) appendEscape(rng, out, c);
            else appendUtf8(out, c);
            break;
        }
        case 5: {  // outside the BMP: raw four bytes or an escaped pair
            const uint32_t cp = 0x10000 + static_cast<uint32_t>(rng.below(0x100000));
            const unsigned high = 0xD800 + ((cp - 0x10000) >> 10);
            const unsigned low = 0xDC00 + ((cp - 0x10000) & 0x3FF);
            units += static_cast<wchar_t>(high);
            units += static_cast<wchar_t>(low);
            if (rng.chance(50)) {
                appendUtf8(out, cp);
            } else {
                appendEscape(rng, out, high);
                appendEscape(rng, out, low);
            }
            break;
        }
        case 6: {  // a lone surrogate stays a lone unit
            const unsigned s = 0xD800 + static_cast<unsigned>(rng.below(0x800));
            appendEscape(rng, out, s);
            units += static_cast<wchar_t>(s);
            break;
        }
        case 7: {  // raw control bytes are let through by the tokenizer
            const char c = "\x01\x09\x0a\x1f\x7f"[rng.below(5)];
            out += c;
            units += static_cast<wchar_t>(static_cast<unsigned char>(c));
            break;
        }
        default:  // text that looks like the words the lookups compare with
            static const char* const words[] = {"true", "12", "-3", " 7", "null", "{", "]", ":"};
            const char* word = words[rng.below(8)];
            out += word;
            for (const char* p = word; *p; ++p) units += static_cast<wchar_t>(*p);
            break;
        }
    }
    return units;
}

void randomSpace(Random& rng, std::string& out) {
    if (rng.chance(70)) return;
    static const char spaces[] = " \t\r\n";
    for (int n = 1 + rng.below(3); n > 0; --n) out += spaces[rng.below(4)];
}

// Integer part as written, with a fraction or exponent that must be ignored.
void randomNumber(Random& rng, Node& node, std::string& out) {
    std::string digits;
    if (rng.chance(40)) digits += '-';
    const int length = 1 + rng.below(rng.chance(15) ? 25 : 9);
    for (int i = 0; i < length; ++i) digits += static_cast<char>('0' + rng.below(10));
    if (rng.chance(5)) digits = rng.chance(50) ? "2147483647" : "-2147483648";
    if (rng.chance(3)) digits = rng.chance(50) ? "2147483648" : "-2147483649";
    // The C library's own reader, on a NUL-terminated copy, is the reference.
    errno = 0;
    const long long wide = std::strtoll(digits.c_str(), nullptr, 10);
    node.number = wide > INT32_MAX ? INT32_MAX : wide < INT32_MIN ? INT32_MIN : static_cast<int32_t>(wide);
    out += digits;
    if (rng.chance(20)) out += "." + std::to_string(rng.below(1000));
    if (rng.chance(10)) out += rng.chance(50) ? "e3" : "E-2";
}

const char* const keyPool[] = {"a", "b", "ab", "id", "A", "items", "\xd0\x96", "\\u0061", "\\\"", "", "true"};
const int keyPoolSize = sizeof(keyPool) / sizeof(keyPool[0]);

Node randomNode(Random& rng, std::string& out, JsonIndex& next, int depth) {
    Node node;
    node.index = next++;
    int pick = rng.below(depth >= 6 ? 5 : 9);
    if (depth == 0 && rng.chance(80)) pick = 7 + rng.below(2);
    switch (pick) {
    case 0:
    case 1:
        node.kind = Kind::String;
        out += '"';
        node.text = randomString(rng, out);
        out += '"';
        break;
    case 2:
        node.kind = Kind::Number;
        randomNumber(rng, node, out);
        break;
    case 3:
        node.kind = rng.chance(50) ? Kind::True : Kind::False;
        out += node.kind == Kind::True ? "true" : "false";
        break;
    case 4:
        node.kind = Kind::Null;
        out += "null";
        break;
    case 5:
    case 7: {
        node.kind = Kind::Object;
        out += '{';
        const int count = rng.below(depth == 0 ? 12 : 6);
        for (int i = 0; i < count; ++i) {
            if (i > 0) out += ',';
            randomSpace(rng, out);
            const std::string key = keyPool[rng.below(keyPoolSize)];
            next++;  // the key's own token
            out += '"' + key + '"';
            randomSpace(rng, out);
            out += ':';
            randomSpace(rng, out);
            node.members.emplace_back(key, randomNode(rng, out, next, depth + 1));
            randomSpace(rng, out);
        }
        out += '}';
        break;
    }
    default: {
        node.kind = Kind::Array;
        out += '[';
        const int count = rng.below(depth == 0 ? 12 : 6);
        for (int i = 0; i < count; ++i) {
            if (i > 0) out += ',';
            randomSpace(rng, out);
            node.elements.push_back(randomNode(rng, out, next, depth + 1));
            randomSpace(rng, out);
        }
        out += ']';
        break;
    }
    }
    return node;
}

int expectedKind(Kind kind) {
    switch (kind) {
    case Kind::Object: return JsonKind::Object;
    case Kind::Array: return JsonKind::Array;
    case Kind::String: return JsonKind::String;
    default: return JsonKind::Primitive;
    }
}

long long cLibraryInt(const std::string& bytes) {
    errno = 0;
    const long long value = std::strtoll(bytes.c_str(), nullptr, 10);
    return value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : value;
}

std::string rawBytes(const JsonValue& doc, JsonIndex i) {
    const JsonToken& t = doc.tokens[static_cast<size_t>(i)];
    return doc.text.substr(static_cast<size_t>(t.start), static_cast<size_t>(t.end - t.start));
}

void checkNode(const JsonValue& doc, const Node& node) {
    REQUIRE(node.index < static_cast<JsonIndex>(doc.tokens.size()));
    REQUIRE(static_cast<int>(doc.tokens[static_cast<size_t>(node.index)].type) == expectedKind(node.kind));
    if (node.kind == Kind::String) CHECK(stringAt(doc, node.index) == node.text);
    if (node.kind != Kind::String && node.kind != Kind::Object && node.kind != Kind::Array)
        CHECK(stringAt(doc, node.index).empty());

    std::vector<JsonIndex> expectedElements;
    for (const Node& element : node.elements) expectedElements.push_back(element.index);
    CHECK(arrayElements(doc, node.index) == expectedElements);

    for (const char* key : keyPool) {
        const Node* first = nullptr;
        for (const auto& member : node.members) {
            if (member.first == key) {
                first = &member.second;
                break;
            }
        }
        const JsonIndex found = findMember(doc, node.index, key);
        if (first == nullptr) {
            CHECK(found == -1);
            continue;
        }
        REQUIRE(found == first->index);
        // A string is read from its raw bytes, escapes and all.
        const std::string raw = rawBytes(doc, found);
        const long long number = first->kind == Kind::Number ? first->number
                                 : first->kind == Kind::String ? cLibraryInt(raw)
                                                               : 0;
        CHECK(memberInt(doc, node.index, key) == number);
        CHECK(memberBool(doc, node.index, key) ==
              (first->kind == Kind::True || (first->kind == Kind::String && raw == "true")));
        if (first->kind == Kind::String) CHECK(memberString(doc, node.index, key) == first->text);
    }
    CHECK(findMember(doc, node.index, "missing") == -1);

    for (const auto& member : node.members) checkNode(doc, member.second);
    for (const Node& element : node.elements) checkNode(doc, element);
}

// ---------------------------------------------------------------------------
// Any text at all: refused with "json" or consistent.

void checkLookups(const JsonValue& doc, JsonIndex i, Random& rng) {
    const JsonIndex count = static_cast<JsonIndex>(doc.tokens.size());
    const bool inside = i >= 0 && i < count;
    const int kind = inside ? static_cast<int>(doc.tokens[static_cast<size_t>(i)].type) : 0;

    const std::wstring text = stringAt(doc, i);
    if (!inside || kind == JsonKind::Primitive) CHECK(text.empty());
    if (kind == JsonKind::String) {
        const std::string raw = rawBytes(doc, i);
        if (raw.find('\\') == std::string::npos) CHECK(text == toUtf16(raw));
        else CHECK(text.size() < toUtf16(raw).size());
    }

    const std::vector<JsonIndex> elements = arrayElements(doc, i);
    if (kind != JsonKind::Array) {
        CHECK(elements.empty());
    } else {
        const JsonToken& array = doc.tokens[static_cast<size_t>(i)];
        JsonIndex previous = i;
        int previousEnd = array.start + 1;
        for (JsonIndex e : elements) {
            REQUIRE(e > previous);
            REQUIRE(e < count);
            const JsonToken& t = doc.tokens[static_cast<size_t>(e)];
            CHECK(t.start >= previousEnd);
            CHECK(t.end <= array.end);
            previous = e;
            previousEnd = t.end;
        }
    }

    std::vector<std::string> keys = {"missing", ""};
    if (inside && i + 1 < count) keys.push_back(rawBytes(doc, i + 1));
    if (count > 0) keys.push_back(rawBytes(doc, rng.below(count)));
    for (const std::string& key : keys) {
        const JsonIndex found = findMember(doc, i, key.c_str());
        if (kind != JsonKind::Object) {
            CHECK(found == -1);
        }
        if (found == -1) {
            CHECK(memberString(doc, i, key.c_str()).empty());
            CHECK(memberInt(doc, i, key.c_str()) == 0);
            CHECK_FALSE(memberBool(doc, i, key.c_str()));
            continue;
        }
        REQUIRE(found > i + 1);
        REQUIRE(found < count);
        const JsonToken& object = doc.tokens[static_cast<size_t>(i)];
        const JsonToken& value = doc.tokens[static_cast<size_t>(found)];
        CHECK(value.start > object.start);
        CHECK(value.end <= object.end);
        const std::string raw = rawBytes(doc, found);
        // The member's value is read, not its key: escape-free strings as
        // their bytes, a number or literal as nothing.
        const int valueKind = static_cast<int>(value.type);
        if (valueKind == JsonKind::Primitive) CHECK(memberString(doc, i, key.c_str()).empty());
        if (valueKind == JsonKind::String && raw.find('\\') == std::string::npos)
            CHECK(memberString(doc, i, key.c_str()) == toUtf16(raw));
        CHECK(memberBool(doc, i, key.c_str()) == (raw == "true"));
        if (raw.find('\0') == std::string::npos) CHECK(memberInt(doc, i, key.c_str()) == cLibraryInt(raw));
    }
    // The first member of an object is found by its own key, unless nothing
    // follows that key inside the object.
    if (kind == JsonKind::Object && i + 2 < count && doc.tokens[static_cast<size_t>(i + 1)].type != JSMN_OBJECT &&
        doc.tokens[static_cast<size_t>(i + 1)].type != JSMN_ARRAY &&
        doc.tokens[static_cast<size_t>(i + 2)].start < doc.tokens[static_cast<size_t>(i)].end) {
        const std::string key = rawBytes(doc, i + 1);
        if (key.find('\0') == std::string::npos) CHECK(findMember(doc, i, key.c_str()) == i + 2);
    }
}

struct Tally {
    int accepted = 0;
    int refused = 0;
};

void checkAnyText(const std::string& input, Random& rng, Tally& tally) {
    JsonValue doc;
    try {
        doc = parse(std::string(input));
    } catch (const TransportFailure& failure) {
        CHECK(failure.category == "json");
        ++tally.refused;
        return;
    } catch (...) {
        FAIL("parse threw something other than TransportFailure");
        return;
    }
    ++tally.accepted;
    REQUIRE(doc.text == input);
    const JsonIndex count = static_cast<JsonIndex>(doc.tokens.size());
    REQUIRE(count >= 1);
    REQUIRE(count <= jsonTokenLimit);
    int previousStart = -1;
    for (const JsonToken& t : doc.tokens) {
        const int kind = static_cast<int>(t.type);
        REQUIRE((kind == JsonKind::Object || kind == JsonKind::Array || kind == JsonKind::String ||
                 kind == JsonKind::Primitive));
        REQUIRE(t.start > previousStart);
        REQUIRE(t.start >= 0);
        REQUIRE(t.end >= t.start);
        REQUIRE(static_cast<size_t>(t.end) <= input.size());
        previousStart = t.start;
        const size_t s = static_cast<size_t>(t.start), e = static_cast<size_t>(t.end);
        if (kind == JsonKind::Object) CHECK((input[s] == '{' && input[e - 1] == '}'));
        if (kind == JsonKind::Array) CHECK((input[s] == '[' && input[e - 1] == ']'));
        if (kind == JsonKind::String) CHECK((s > 0 && input[s - 1] == '"' && e < input.size() && input[e] == '"'));
        if (kind == JsonKind::Primitive) CHECK(e > s);
    }

    std::vector<JsonIndex> indices = {-1, -2, INT32_MIN, INT32_MAX, count, count + 1};
    if (count <= 48) {
        for (JsonIndex i = 0; i < count; ++i) indices.push_back(i);
    } else {
        indices.push_back(0);
        indices.push_back(1);
        indices.push_back(count - 1);
        for (int k = 0; k < 24; ++k) indices.push_back(rng.below(count));
    }
    for (JsonIndex i : indices) checkLookups(doc, i, rng);
}

std::string mutate(Random& rng, std::string text) {
    static const char* const insertions[] = {
        "" /* a NUL byte, inserted by hand */, "\xff", "\xc0\x80", "\x80", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82",
        "\\ud800", "\\udfff", "\\uD83D", "\\u", "\\", "\"", "{", "}", "[", "]", ":", ",", " ", "\x01", "tru", "1e",
    };
    const int steps = 1 + rng.below(3);
    for (int step = 0; step < steps; ++step) {
        const size_t at = text.empty() ? 0 : static_cast<size_t>(rng.below(static_cast<int>(text.size()) + 1));
        switch (rng.below(7)) {
        case 0:  // truncation
            text.resize(at);
            break;
        case 1:  // a flipped bit
            if (!text.empty()) text[at % text.size()] ^= static_cast<char>(1 << rng.below(8));
            break;
        case 2:  // a NUL byte
            text.insert(at, 1, '\0');
            break;
        case 3: {
            const int k = rng.below(static_cast<int>(sizeof(insertions) / sizeof(insertions[0])));
            if (k == 0) text.insert(at, 1, '\0');
            else text.insert(at, insertions[k]);
            break;
        }
        case 4: {  // a cut-out slice
            const size_t length = static_cast<size_t>(rng.below(8));
            if (at < text.size()) text.erase(at, length);
            break;
        }
        case 5: {  // a repeated slice
            const size_t length = static_cast<size_t>(rng.below(16));
            if (at < text.size()) text.insert(at, text.substr(at, length));
            break;
        }
        default:  // a random byte
            if (!text.empty()) text[at % text.size()] = static_cast<char>(rng.below(256));
            break;
        }
    }
    return text;
}

std::string randomBytes(Random& rng) {
    static const char alphabet[] = "{}[]\":,\\ u0123456789abcdeftrnl-+.eE\t\n";
    std::string text;
    const int length = rng.below(24);
    for (int i = 0; i < length; ++i) {
        text += rng.chance(90) ? alphabet[rng.below(static_cast<int>(sizeof(alphabet)) - 1)]
                               : static_cast<char>(rng.below(256));
    }
    return text;
}

std::string nested(int depth, const char* open, const char* close) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += open;
    for (int i = 0; i < depth; ++i) text += close;
    return text;
}

}  // namespace

TEST_CASE("random well-formed documents read back exactly") {
    Random rng{0x4b657374u};
    for (int round = 0; round < 4000; ++round) {
        std::string text;
        JsonIndex count = 0;
        const Node root = randomNode(rng, text, count, 0);
        const JsonValue doc = parse(std::string(text));
        REQUIRE(static_cast<JsonIndex>(doc.tokens.size()) == count);
        checkNode(doc, root);
    }
}

TEST_CASE("random and mutated texts never break parse or the lookups") {
    Random rng{20240611};
    Tally tally;
    int inputs = 0;
    int unchanged = 0;
    for (int round = 0; round < 16000; ++round) {
        std::string text;
        JsonIndex count = 0;
        randomNode(rng, text, count, 0);
        checkAnyText(text, rng, tally);
        ++inputs;
        for (int k = 0; k < 5; ++k) {
            const std::string mutated = mutate(rng, text);
            if (mutated == text) ++unchanged;
            checkAnyText(mutated, rng, tally);
            ++inputs;
        }
        checkAnyText(randomBytes(rng), rng, tally);
        ++inputs;
    }
    // Mutations that give back their input test nothing new.
    CHECK(unchanged < inputs / 20);
    // Both outcomes must be well represented, or the mutations test nothing.
    CHECK(tally.accepted > inputs / 10);
    CHECK(tally.refused > inputs / 10);
    MESSAGE("accepted " << tally.accepted << ", refused " << tally.refused << ", mutations unchanged " << unchanged);
}

TEST_CASE("lookups over token tables filled with garbage") {
    // The table is a public member: whatever it holds, the lookups stay on
    // the text and answer.
    Random rng{99};
    const int edges[] = {INT_MIN, -1, 0, 1, INT_MAX};
    for (int round = 0; round < 3000; ++round) {
        JsonValue doc;
        doc.text = randomBytes(rng);
        const int size = static_cast<int>(doc.text.size());
        const int count = rng.below(12);
        for (int k = 0; k < count; ++k) {
            JsonToken t{};
            t.type = static_cast<jsmntype_t>(rng.below(6));
            t.start = rng.chance(10) ? edges[rng.below(5)] : rng.below(size + 4) - 2;
            t.end = rng.chance(10) ? edges[rng.below(5)] : rng.below(size + 4) - 2;
            t.size = rng.below(3);
            doc.tokens.push_back(t);
        }
        for (JsonIndex i = -2; i <= count + 1; ++i) {
            const bool inRange = i >= 0 && i < count;
            const JsonToken t = inRange ? doc.tokens[static_cast<size_t>(i)] : JsonToken{};
            const bool onText = inRange && t.start >= 0 && t.end >= t.start && t.end <= size;
            const std::wstring text = stringAt(doc, i);
            if (!onText) CHECK(text.empty());
            for (JsonIndex e : arrayElements(doc, i)) CHECK((e > i && e < count));
            const char* keys[] = {"", "a", "true", "1"};
            for (const char* key : keys) {
                const JsonIndex found = findMember(doc, i, key);
                CHECK((found == -1 || (found > i && found < count)));
                const std::wstring member = memberString(doc, i, key);
                const int32_t number = memberInt(doc, i, key);
                const bool flag = memberBool(doc, i, key);
                if (found == -1) CHECK((member.empty() && number == 0 && !flag));
            }
        }
    }
}

TEST_CASE("extreme shapes") {
    Random rng{7};
    Tally tally;
    SUBCASE("10000-deep nesting") {
        const std::string arrays = nested(10000, "[", "]");
        checkAnyText(arrays, rng, tally);
        const JsonValue doc = parse(std::string(arrays));
        CHECK(doc.tokens.size() == 10000);
        CHECK(arrayElements(doc, 0) == std::vector<JsonIndex>{1});
        CHECK(arrayElements(doc, 9999).empty());

        const std::string objects = nested(10000, "{\"a\":", "}");
        checkAnyText(objects, rng, tally);
        const JsonValue chain = parse(std::string(objects));
        CHECK(chain.tokens.size() == 20000);
        CHECK(findMember(chain, 0, "a") == 2);
        CHECK(findMember(chain, 19998, "a") == -1);

        checkAnyText(arrays.substr(0, arrays.size() - 1), rng, tally);
        checkAnyText(objects.substr(0, 15000), rng, tally);
        std::string crossed = arrays;
        crossed[15000] = '}';
        checkAnyText(crossed, rng, tally);
        CHECK(tally.accepted == 2);
        CHECK(tally.refused == 3);
    }
    SUBCASE("exactly 32768 values, and across the edge of the first table") {
        std::string text = "{";
        for (int i = 0; i < 16382; ++i) text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
        text += "\"z\":[true]}";
        const JsonValue doc = parse(std::string(text));
        CHECK(doc.tokens.size() == 32768);
        CHECK(memberInt(doc, 0, "k16381") == 16381);
        CHECK(arrayElements(doc, findMember(doc, 0, "z")) == std::vector<JsonIndex>{32767});
        checkAnyText(text, rng, tally);
        std::string more = text;
        more.insert(more.size() - 2, ",0");
        checkAnyText(more, rng, tally);
        const JsonValue past = parse(std::string(more));
        CHECK(past.tokens.size() == 32769);
        CHECK(arrayElements(past, findMember(past, 0, "z")) == std::vector<JsonIndex>{32767, 32768});
        // Values after the root count as well.
        checkAnyText(text + " 1", rng, tally);
        CHECK(tally.accepted == 3);
        CHECK(tally.refused == 0);
    }
}
