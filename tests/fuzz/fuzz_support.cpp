#include "fuzz_support.h"

#include "text/errors.h"
#include "text/utf.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

void fuzzFailure(const char* what, const char* file, int line) {
    std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", what, file, line);
    std::abort();
}

bool parseReply(const std::string& text, JsonValue& doc) {
    try {
        doc = parse(std::string(text));
    } catch (const TransportFailure& failure) {
        FUZZ_CHECK(failure.category == "json");
        return false;
    } catch (...) {
        FUZZ_CHECK(!"parse raised something other than TransportFailure");
    }
    FUZZ_CHECK(doc.text == text);
    doc.tokens.shrink_to_fit();
    return true;
}

int tokenizeAlone(const std::string& text, int capacity, std::vector<JsonToken>* tokens) {
    // jsmn fills every token it hands out; the table is only ever grown.
    static std::vector<JsonToken> table;
    if (table.size() < static_cast<size_t>(capacity)) table.resize(static_cast<size_t>(capacity));
    jsmn_parser parser;
    jsmn_init(&parser);
    const int count = jsmn_parse(&parser, text.data(), text.size(), table.data(), static_cast<unsigned>(capacity));
    if (tokens && count > 0) tokens->assign(table.begin(), table.begin() + count);
    return count;
}

void splitAtNul(const uint8_t* data, size_t size, std::string& first, std::string& second, bool& hasSecond) {
    const char* bytes = reinterpret_cast<const char*>(data);
    const char* nul = static_cast<const char*>(std::memchr(bytes, 0, size));
    hasSecond = nul != nullptr;
    if (!hasSecond) {
        first.assign(bytes, size);
        second.clear();
        return;
    }
    first.assign(bytes, static_cast<size_t>(nul - bytes));
    second.assign(nul + 1, size - static_cast<size_t>(nul - bytes) - 1);
}

uint32_t inputHash(const uint8_t* data, size_t size) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 16777619u;
    return h;
}

namespace {

std::string rawBytes(const JsonValue& doc, JsonIndex i) {
    const JsonToken& t = doc.tokens[static_cast<size_t>(i)];
    return doc.text.substr(static_cast<size_t>(t.start), static_cast<size_t>(t.end - t.start));
}

// The C library's reading of a number, the reference for memberInt.
int32_t cLibraryInt(const std::string& bytes) {
    errno = 0;
    const long long value = std::strtoll(bytes.c_str(), nullptr, 10);
    return value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : static_cast<int32_t>(value);
}

bool wellFormed(const std::string& bytes) { return toUtf8(toUtf16(bytes)) == bytes; }

void checkOutside(const JsonValue& doc, JsonIndex i) {
    FUZZ_CHECK(stringAt(doc, i).empty());
    FUZZ_CHECK(arrayElements(doc, i).empty());
    FUZZ_CHECK(firstElement(doc, i) == -1);
    FUZZ_CHECK(nextElement(doc, 0, i) == -1);
    FUZZ_CHECK(findMember(doc, i, "") == -1);
    FUZZ_CHECK(findMember(doc, i, "id") == -1);
    FUZZ_CHECK(memberString(doc, i, "id").empty());
    FUZZ_CHECK(!memberBool(doc, i, "id"));
    FUZZ_CHECK(memberInt(doc, i, "id") == 0);
    FUZZ_CHECK(unitsAt(doc, i) == 0);
    FUZZ_CHECK(!isTrue(doc, i));
    FUZZ_CHECK(intAt(doc, i) == 0);
    std::wstring out = L"x";
    FUZZ_CHECK(!appendStringAt(doc, i, out) && out == L"x");
}

// The lookups of one index, against the text and against `walked`, the same
// document walked token by token, without searching the starts.
void checkIndex(const JsonValue& doc, const JsonValue& walked, JsonIndex i) {
    const JsonIndex count = static_cast<JsonIndex>(doc.tokens.size());
    const JsonToken& t = doc.tokens[static_cast<size_t>(i)];
    // Containers hold each other: their raw text is compared only while
    // short, or every level of a deep document would convert it all again.
    const bool small = t.end - t.start <= (t.type == JSMN_STRING || t.type == JSMN_PRIMITIVE ? 65536 : 512);
    const std::string raw = small ? rawBytes(doc, i) : std::string();

    const std::wstring text = stringAt(doc, i);
    if (t.type == JSMN_PRIMITIVE) FUZZ_CHECK(text.empty());
    if (small && (t.type == JSMN_STRING || t.type == JSMN_OBJECT || t.type == JSMN_ARRAY)) {
        if (raw.find('\\') == std::string::npos) FUZZ_CHECK(text == toUtf16(raw));
        if (raw.find('\\') == std::string::npos && wellFormed(raw)) FUZZ_CHECK(unitsAt(doc, i) == text.size());
    }
    std::wstring appended = L"x";
    FUZZ_CHECK(appendStringAt(doc, i, appended) == !text.empty());
    FUZZ_CHECK(appended.size() == text.size() + 1 && appended.compare(1, text.size(), text) == 0);
    FUZZ_CHECK(isTrue(doc, i) == (small && raw == "true"));
    if (small && raw.find('\0') == std::string::npos) FUZZ_CHECK(intAt(doc, i) == cLibraryInt(raw));

    const std::vector<JsonIndex> elements = arrayElements(doc, i);
    FUZZ_CHECK(elements == arrayElements(walked, i));
    std::vector<JsonIndex> stepped;
    for (JsonIndex e = firstElement(doc, i); e >= 0; e = nextElement(doc, i, e)) {
        FUZZ_CHECK(stepped.size() <= static_cast<size_t>(count));
        stepped.push_back(e);
    }
    FUZZ_CHECK(stepped == elements);
    if (t.type != JSMN_ARRAY) FUZZ_CHECK(elements.empty());
    int previousEnd = t.start + 1;
    JsonIndex previous = i;
    for (JsonIndex e : elements) {
        FUZZ_CHECK(e > previous && e < count);
        const JsonToken& element = doc.tokens[static_cast<size_t>(e)];
        FUZZ_CHECK(element.start >= previousEnd && element.end <= t.end);
        previous = e;
        previousEnd = element.end;
    }

    // Keys: the bytes of the tokens inside (a sample), and two that are not.
    std::vector<std::string> keys = {"", "missing-key"};
    for (JsonIndex k = i + 1; k < count && doc.tokens[static_cast<size_t>(k)].start < t.end && keys.size() < 20; ++k) {
        const JsonToken& candidate = doc.tokens[static_cast<size_t>(k)];
        if (candidate.end - candidate.start >= 64) continue;
        std::string key = rawBytes(doc, k);
        if (key.find('\0') == std::string::npos) keys.push_back(std::move(key));
    }
    std::vector<const char*> keyList;
    std::vector<JsonIndex> found;
    for (const std::string& key : keys) {
        const JsonIndex member = findMember(doc, i, key.c_str());
        FUZZ_CHECK(member == findMember(walked, i, key.c_str()));
        if (t.type != JSMN_OBJECT) FUZZ_CHECK(member == -1);
        FUZZ_CHECK(memberString(doc, i, key.c_str()) == stringAt(doc, member));
        FUZZ_CHECK(memberBool(doc, i, key.c_str()) == isTrue(doc, member));
        FUZZ_CHECK(memberInt(doc, i, key.c_str()) == intAt(doc, member));
        if (member != -1) {
            FUZZ_CHECK(member > i + 1 && member < count);
            const JsonToken& value = doc.tokens[static_cast<size_t>(member)];
            FUZZ_CHECK(value.start > t.start && value.end <= t.end);
        }
        keyList.push_back(key.c_str());
        found.push_back(member);
    }
    // One walk for many keys answers as one findMember per key does; past
    // 32 keys it asks findMember itself.
    std::vector<JsonIndex> together(keyList.size(), -7);
    findMembers(doc, i, keyList.data(), keyList.size(), together.data());
    FUZZ_CHECK(together == found);
    std::vector<const char*> many;
    while (many.size() <= 33) many.insert(many.end(), keyList.begin(), keyList.end());
    std::vector<JsonIndex> manyFound(many.size(), -7);
    findMembers(doc, i, many.data(), many.size(), manyFound.data());
    for (size_t k = 0; k < many.size(); ++k) FUZZ_CHECK(manyFound[k] == found[k % keyList.size()]);
}

// From the root down through the members and elements the lookups give,
// as a reader goes; `seen` keeps shared values from being walked twice.
void descend(const JsonValue& doc, const JsonValue& walked, JsonIndex i, std::vector<char>& seen, size_t& budget) {
    if (i < 0 || seen[static_cast<size_t>(i)] || budget == 0) return;
    seen[static_cast<size_t>(i)] = 1;
    --budget;
    checkIndex(doc, walked, i);
    for (JsonIndex e : arrayElements(doc, i)) descend(doc, walked, e, seen, budget);
    const JsonToken& t = doc.tokens[static_cast<size_t>(i)];
    if (t.type != JSMN_OBJECT) return;
    const JsonIndex count = static_cast<JsonIndex>(doc.tokens.size());
    for (JsonIndex k = i + 1; k < count && budget > 0 && doc.tokens[static_cast<size_t>(k)].start < t.end; ++k) {
        const JsonToken& candidate = doc.tokens[static_cast<size_t>(k)];
        if (candidate.end - candidate.start >= 64) continue;
        const std::string key = rawBytes(doc, k);
        if (key.find('\0') == std::string::npos) descend(doc, walked, findMember(doc, i, key.c_str()), seen, budget);
    }
}

}  // namespace

void checkEveryLookup(const JsonValue& doc, JsonIndex from) {
    const JsonIndex count = static_cast<JsonIndex>(doc.tokens.size());
    FUZZ_CHECK(count >= 1 && count <= jsonTokenLimit);
    int previousStart = -1;
    for (const JsonToken& t : doc.tokens) {
        FUZZ_CHECK(t.type == JSMN_OBJECT || t.type == JSMN_ARRAY || t.type == JSMN_STRING || t.type == JSMN_PRIMITIVE);
        FUZZ_CHECK(t.start > previousStart && t.end >= t.start);
        FUZZ_CHECK(static_cast<size_t>(t.end) <= doc.text.size());
        previousStart = t.start;
    }
    FUZZ_CHECK(doc.ordered);
    JsonValue walked;
    walked.text = doc.text;
    walked.tokens = doc.tokens;
    walked.tokens.shrink_to_fit();
    FUZZ_CHECK(!walked.ordered);

    for (JsonIndex outside : {JsonIndex(-1), JsonIndex(-2), count, count + 1, JsonIndex(INT32_MIN), JsonIndex(INT32_MAX)})
        checkOutside(doc, outside);
    std::vector<char> seen(static_cast<size_t>(count), 0);
    size_t budget = 600;
    descend(doc, walked, from, seen, budget);
    // Values no reader reaches from there (keys, a lenient text's stray
    // values), up to the same budget; a long table is sampled evenly.
    const JsonIndex step = (count - from) / 600 + 1;
    budget = 600;
    for (JsonIndex i = from; i < count; i += step)
        if (!seen[static_cast<size_t>(i)] && budget-- > 0) checkIndex(doc, walked, i);
    checkIndex(doc, walked, count - 1);
}
