// jsmn is header-only: this is the one place its functions are compiled, so
// it comes first, before json.h asks for declarations only, and with the
// parent links json.h asks for.
#define JSMN_PARENT_LINKS
#include <jsmn.h>

#include "text/json.h"

#include "text/errors.h"
#include "text/secret.h"
#include "text/utf.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>

// The lookups rely on the lenient grammar; parse relies on parent links for
// its linear time (a token is five integers: kind, start, end, size, parent).
#if defined(JSMN_STRICT) || !defined(JSMN_PARENT_LINKS)
#error "jsmn must be used lenient and with parent links"
#endif
static_assert(sizeof(JsonToken) == 20, "a token is five 32-bit integers");

namespace {

// Token indices are 32-bit; a table can never be addressed past that.
JsonIndex tokenCount(const JsonValue& doc) {
    const size_t n = doc.tokens.size();
    return n > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<JsonIndex>(n);
}

bool inTable(const JsonValue& doc, JsonIndex index) {
    return index >= 0 && index < tokenCount(doc);
}

// The byte range of a token, refused when its offsets do not describe a piece
// of the text. The table is a public member and may have been filled by
// anyone, so nothing here trusts it.
bool tokenBytes(const JsonValue& doc, JsonIndex index, size_t& first, size_t& last) {
    if (!inTable(doc, index)) return false;
    const JsonToken& token = doc.tokens[static_cast<size_t>(index)];
    if (token.start < 0 || token.end < token.start) return false;
    if (static_cast<size_t>(token.end) > doc.text.size()) return false;
    first = static_cast<size_t>(token.start);
    last = static_cast<size_t>(token.end);
    return true;
}

bool tokenEquals(const JsonValue& doc, JsonIndex index, const char* bytes, size_t length) {
    // Most keys compared differ in length; that answer needs no range checks.
    if (inTable(doc, index)) {
        const JsonToken& token = doc.tokens[static_cast<size_t>(index)];
        if (static_cast<int64_t>(token.end) - token.start != static_cast<int64_t>(length)) return false;
    }
    size_t first = 0, last = 0;
    if (!tokenBytes(doc, index, first, last)) return false;
    return last - first == length && (length == 0 || std::memcmp(doc.text.data() + first, bytes, length) == 0);
}

// The index just past a token and everything inside it: jsmn keeps no parent
// links, so descendants are the following tokens that start before the
// token's end. Always moves forward by at least one.
JsonIndex walkPastSubtree(const JsonValue& doc, JsonIndex index) {
    const int end = doc.tokens[static_cast<size_t>(index)].end;
    const JsonIndex count = tokenCount(doc);
    JsonIndex next = index + 1;
    while (next < count && doc.tokens[static_cast<size_t>(next)].start < end) ++next;
    return next;
}

JsonIndex pastSubtree(const JsonValue& doc, JsonIndex index) {
    if (doc.subtreeEnd.size() == doc.tokens.size()) return doc.subtreeEnd[static_cast<size_t>(index)];
    return walkPastSubtree(doc, index);
}

// `candidate` when it still lies inside the array, else -1.
JsonIndex nextElementAt(const JsonValue& doc, JsonIndex array, JsonIndex candidate) {
    if (!inTable(doc, array) || !inTable(doc, candidate)) return -1;
    return doc.tokens[static_cast<size_t>(candidate)].start < doc.tokens[static_cast<size_t>(array)].end ? candidate : -1;
}

// One pass with a stack of the tokens whose subtree is still open: a token
// closes at the first later token that starts at or past its end. That is
// walkPastSubtree's answer as long as every token lies within the tokens
// still open before it, which jsmn's tables always do; a table that does not
// gets no entries and is walked.
void noteSubtreeEnds(JsonValue& doc) {
    const JsonIndex count = tokenCount(doc);
    // The first capacity's block is a spare; a longer table gets its own.
    doc.subtreeEnd.reserve(std::max(static_cast<size_t>(jsonTokenCapacity), static_cast<size_t>(count)));
    doc.subtreeEnd.resize(static_cast<size_t>(count));
    std::vector<JsonIndex> open;
    for (JsonIndex j = 0; j < count; ++j) {
        const JsonToken& token = doc.tokens[static_cast<size_t>(j)];
        while (!open.empty() && doc.tokens[static_cast<size_t>(open.back())].end <= token.start) {
            doc.subtreeEnd[static_cast<size_t>(open.back())] = j;
            open.pop_back();
        }
        if (!open.empty() && token.end > doc.tokens[static_cast<size_t>(open.back())].end) {
            doc.subtreeEnd.clear();
            return;
        }
        open.push_back(j);
    }
    for (JsonIndex i : open) doc.subtreeEnd[static_cast<size_t>(i)] = count;
}

int hexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Resolves the escapes of out[from..] in place; the text only ever gets
// shorter, so what is read is never overwritten first. Runs over UTF-16
// units after conversion, so the escapes it produces can never be mistaken
// for parts of a UTF-8 sequence.
void unescapeTail(std::wstring& out, size_t from) {
    const size_t n = out.size();
    size_t w = from;
    for (size_t p = from; p < n; ++p) {
        const wchar_t c = out[p];
        if (c != L'\\') {
            out[w++] = c;
            continue;
        }
        if (p + 1 >= n) break;
        const wchar_t e = out[p + 1];
        ++p;
        switch (e) {
        case L'n': out[w++] = L'\n'; break;
        case L'r': out[w++] = L'\r'; break;
        case L't': out[w++] = L'\t'; break;
        case L'b': out[w++] = L'\b'; break;
        case L'f': out[w++] = L'\f'; break;
        case L'u': {
            // p is at the 'u'; four more units are needed for an escape.
            if (n - p - 1 < 4) {
                out[w++] = L'u';
                for (size_t k = p + 1; k < n; ++k) out[w++] = out[k];
                out.resize(w);
                return;
            }
            unsigned value = 0;
            bool valid = true;
            for (size_t k = 1; k <= 4; ++k) {
                const int digit = hexValue(out[p + k]);
                if (digit < 0) valid = false;
                value = value * 16 + static_cast<unsigned>(digit < 0 ? 0 : digit);
            }
            // Only raw object text can hold a "\u" that is not an escape (an
            // unquoted value); it reads as the letter and the units after it
            // stay ordinary text.
            if (valid) {
                out[w++] = static_cast<wchar_t>(value);
                p += 4;
            } else {
                out[w++] = L'u';
            }
            break;
        }
        default: out[w++] = e; break;
        }
    }
    out.resize(w);
}

// One unit per lead byte, two for a four-byte sequence: what well-formed
// UTF-8 becomes.
size_t unitsOf(const char* bytes, size_t length) {
    size_t units = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    for (const unsigned char* q = p; q < p + length; ++q) units += ((*q & 0xC0) != 0x80) + (*q >= 0xF0);
    return units;
}

// UTF-8 to UTF-16 for well-formed text only, where every converter agrees;
// anything else is left to the system's conversion and its replacement rules.
// Appends to `out` (left as it was when the text is not well-formed) and
// notes whether a backslash was seen, so text without escapes is not walked
// again for them.
bool decodeWellFormed(const char* bytes, size_t length, std::wstring& out, bool& escaped) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    const unsigned char* const end = p + length;
    // Sized for the units well-formed text gives, not for its bytes: Cyrillic
    // would get twice the room it needs, and texts kept for a whole page
    // would carry it.
    const size_t units = unitsOf(bytes, length);
    const size_t base = out.size();
    out.resize(base + units);
    size_t n = base;
    bool backslash = false;
    // The text may be a secret (a password, a token): what was decoded of it
    // is wiped before the caller's conversion may move the string elsewhere.
    auto fail = [&] {
        wipeSecret(&out[base], units * sizeof(wchar_t));
        out.resize(base);
        return false;
    };
    while (p < end) {
        const unsigned c = *p;
        if (c < 0x80) {
            if (c == '\\') backslash = true;
            out[n++] = static_cast<wchar_t>(c);
            ++p;
            continue;
        }
        // Two-byte sequences (Cyrillic) first: most of the replies' text.
        if (c >= 0xC2 && c <= 0xDF && end - p >= 2 && (p[1] & 0xC0) == 0x80) {
            out[n++] = static_cast<wchar_t>(((c & 0x1F) << 6) | (p[1] & 0x3F));
            p += 2;
            continue;
        }
        unsigned code = 0, more = 0, low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            code = c & 0x1F;
            more = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            code = c & 0x0F;
            more = 2;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;  // no encoded surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            code = c & 0x07;
            more = 3;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;
        } else {
            return fail();
        }
        if (static_cast<size_t>(end - p) <= more) return fail();
        for (unsigned k = 1; k <= more; ++k) {
            const unsigned b = p[k];
            if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF)) return fail();
            code = (code << 6) | (b & 0x3F);
        }
        p += more + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            out[n++] = static_cast<wchar_t>(0xD800 + (code >> 10));
            out[n++] = static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
        } else {
            out[n++] = static_cast<wchar_t>(code);
        }
    }
    out.resize(n);
    escaped = backslash;
    return true;
}

[[noreturn]] void refuse(std::string& text) {
    // The refused text may be a sign-in reply; it is wiped before it is freed.
    wipeSecret(text);
    throw TransportFailure("json");
}

}  // namespace

namespace {
// With parent links a closing bracket climbs from the last value found up
// its chain of parents to the innermost open container. The chain is short
// in any reply a server writes, but the lenient grammar lets a text repeat a
// long climb: closing brackets that make no token start from the same last
// value, deep nesting closes one level a climb, and a colon hangs the next
// value under the last one, however deep. Within the transport's 8000000
// bytes that can add up to trillions of steps and freeze the window for
// hours. This pass follows the same chain (kept as a stack: every
// new value hangs somewhere on the last value's chain) and counts the steps;
// a text that would cost more than 16384 nested brackets is refused. Each
// climb is a step through scattered parents, slower than the old scan over
// the table: 32768 nested brackets, which the first table held, would cost
// over a second on the window thread, 16384 about what the worst text of the
// old table cost, and no reply a server writes nests a tenth as deep. It gives up, answering no, where jsmn
// refuses the text by itself.

// The chain of the last value found, root first, and where the next value
// hangs on it.
struct Climb {
    std::vector<unsigned char> chain;  // valueKind, objectKind or arrayKind
    std::vector<int32_t> open;         // the open containers on it, in order
    int32_t owner = -1;
    uint64_t steps = 0;
    size_t values = 0;
};

const unsigned char valueKind = 0, objectKind = 1, arrayKind = 2;

// A new value's parent is the current owner: the chain is cut back to it
// first.
void hang(Climb& c, unsigned char kind) {
    const size_t keep = static_cast<size_t>(c.owner + 1);
    c.chain.resize(keep);
    while (!c.open.empty() && static_cast<size_t>(c.open.back()) >= keep) c.open.pop_back();
    c.chain.push_back(kind);
    ++c.values;
}

// False where jsmn refuses the text.
bool climbToClose(Climb& c, unsigned char kind) {
    if (c.chain.empty()) return false;
    const int32_t top = static_cast<int32_t>(c.chain.size()) - 1;
    if (c.open.empty()) {
        // The climb reaches the first value; jsmn goes on only when it is
        // closed, of this kind, and something owns the next value.
        c.steps += static_cast<uint64_t>(top);
        return c.chain[0] == kind && c.owner != -1;
    }
    const int32_t container = c.open.back();
    if (c.chain[static_cast<size_t>(container)] != kind) return false;
    c.steps += static_cast<uint64_t>(top - container);
    c.open.pop_back();
    c.owner = container - 1;
    return true;
}

// Leaves pos on the closing quote: the first one after an even run of
// backslashes, since a backslash takes the next byte with it, as it does for
// jsmn. Escapes jsmn refuses, and a NUL that ends its scan inside a string,
// are left for it to find.
bool skipString(const char* js, size_t length, size_t& pos) {
    size_t from = pos + 1;
    for (;;) {
        const void* quote = from < length ? std::memchr(js + from, '"', length - from) : nullptr;
        if (quote == nullptr) return false;
        const size_t at = static_cast<size_t>(static_cast<const char*>(quote) - js);
        size_t backslashes = 0;
        while (at - backslashes > pos + 1 && js[at - backslashes - 1] == '\\') ++backslashes;
        if (backslashes % 2 == 0) {
            pos = at;
            return true;
        }
        from = at + 1;
    }
}

// Leaves pos on the last byte of the value, as jsmn does.
bool skipPrimitive(const char* js, size_t length, size_t& pos) {
    for (; pos < length && js[pos] != '\0'; ++pos) {
        const char c = js[pos];
        if (c == ':' || c == '\t' || c == '\r' || c == '\n' || c == ' ' || c == ',' || c == ']' || c == '}') break;
        if (c < 32 || c >= 127) return false;
    }
    --pos;
    return true;
}

// Whether the climbs cost more than `budget` steps; `values` is how many
// values jsmn will find in a text it takes.
bool climbsPast(const char* js, size_t length, uint64_t budget, size_t& values) {
    Climb c;
    bool past = false;
    for (size_t pos = 0; pos < length && js[pos] != '\0' && !past; ++pos) {
        const char ch = js[pos];
        bool goesOn = true;
        switch (ch) {
        case '{':
        case '[':
            hang(c, ch == '{' ? objectKind : arrayKind);
            c.owner = static_cast<int32_t>(c.chain.size()) - 1;
            c.open.push_back(c.owner);
            break;
        case '}':
        case ']':
            goesOn = climbToClose(c, ch == '}' ? objectKind : arrayKind);
            past = c.steps > budget;
            break;
        case '"':
            goesOn = skipString(js, length, pos);
            if (goesOn) hang(c, valueKind);
            break;
        case '\t':
        case '\r':
        case '\n':
        case ' ':
            break;
        case ':': c.owner = static_cast<int32_t>(c.chain.size()) - 1; break;
        case ',':
            if (c.owner >= 0 && c.chain[static_cast<size_t>(c.owner)] == valueKind) --c.owner;
            break;
        default:
            goesOn = skipPrimitive(js, length, pos);
            if (goesOn) hang(c, valueKind);
            break;
        }
        if (!goesOn) break;
    }
    values = c.values;
    return past;
}

bool climbsTooLong(const std::string& text, size_t& values) {
    const uint64_t deepest = 16384;
    return climbsPast(text.data(), text.size(), deepest * deepest / 2, values);
}
}  // namespace

namespace {
// Spare blocks of the two first-capacity sizes; taken and given back with one
// atomic exchange each, as parse runs on the window thread and on workers.
const int spareSlots = 4;
std::atomic<void*> spareTokenBlocks[spareSlots];
std::atomic<void*> spareIndexBlocks[spareSlots];

std::atomic<void*>* sparesFor(size_t bytes) {
    if (bytes == sizeof(JsonToken) * static_cast<size_t>(jsonTokenCapacity)) return spareTokenBlocks;
    if (bytes == sizeof(JsonIndex) * static_cast<size_t>(jsonTokenCapacity)) return spareIndexBlocks;
    return nullptr;
}
}  // namespace

void* takeJsonTableBlock(size_t bytes) {
    if (std::atomic<void*>* spares = sparesFor(bytes)) {
        for (int k = 0; k < spareSlots; ++k)
            if (void* block = spares[k].exchange(nullptr)) return block;
    }
    return ::operator new(bytes);
}

void giveJsonTableBlock(void* block, size_t bytes) {
    if (std::atomic<void*>* spares = sparesFor(bytes)) {
        for (int k = 0; k < spareSlots; ++k) {
            void* empty = nullptr;
            if (spares[k].compare_exchange_strong(empty, block)) return;
        }
    }
    ::operator delete(block);
}

JsonValue parse(std::string&& text) {
    JsonValue doc;
    doc.text = std::move(text);
    text.clear();
    // Offsets in tokens are 32-bit.
    if (doc.text.size() >= static_cast<size_t>(INT_MAX)) refuse(doc.text);
    size_t values = 0;
    if (climbsTooLong(doc.text, values)) refuse(doc.text);
    // The table is sized by the count of that pass (the first capacity at
    // least: its block is a spare). Should jsmn still run out of room, it
    // stops with NOMEM before the value that found none and goes on from
    // there when called again with a larger table.
    const size_t limit = static_cast<size_t>(jsonTokenLimit);
    size_t capacity = std::min(std::max(values, static_cast<size_t>(jsonTokenCapacity)), limit);
    doc.tokens.resize(capacity);
    jsmn_parser parser;
    jsmn_init(&parser);
    int count = 0;
    for (;;) {
        count = jsmn_parse(&parser, doc.text.data(), doc.text.size(), doc.tokens.data(),
                           static_cast<unsigned>(capacity));
        if (count != JSMN_ERROR_NOMEM || capacity >= limit) break;
        capacity = std::min(capacity * 2, limit);
        doc.tokens.resize(capacity);
    }
    if (count <= 0 || static_cast<size_t>(count) > capacity) refuse(doc.text);
    doc.tokens.resize(static_cast<size_t>(count));
    noteSubtreeEnds(doc);
    return doc;
}

JsonIndex findMember(const JsonValue& doc, JsonIndex object, const char* key) {
    if (key == nullptr || !inTable(doc, object)) return -1;
    const JsonToken& owner = doc.tokens[static_cast<size_t>(object)];
    if (owner.type != JSMN_OBJECT) return -1;
    const size_t keyLength = std::strlen(key);
    const JsonIndex count = tokenCount(doc);
    if (doc.subtreeEnd.size() == doc.tokens.size()) {
        // The same walk, jumping with the ends parse noted; only keys of the
        // right length are compared.
        const JsonToken* tokens = doc.tokens.data();
        const JsonIndex* next = doc.subtreeEnd.data();
        const int ownerEnd = owner.end;
        JsonIndex i = object + 1;
        while (i < count && tokens[i].start < ownerEnd) {
            const JsonIndex value = next[i];
            const bool hasValue = value < count && tokens[value].start < ownerEnd;
            if (static_cast<int64_t>(tokens[i].end) - tokens[i].start == static_cast<int64_t>(keyLength) &&
                tokenEquals(doc, i, key, keyLength))
                return hasValue ? value : -1;
            if (!hasValue) return -1;
            i = next[value];
        }
        return -1;
    }
    JsonIndex i = object + 1;
    while (i < count && doc.tokens[static_cast<size_t>(i)].start < owner.end) {
        // A lenient text can make a key of a bracketed value; its insides are
        // not the member's value.
        const JsonIndex value = pastSubtree(doc, i);
        const bool hasValue = value < count && doc.tokens[static_cast<size_t>(value)].start < owner.end;
        if (tokenEquals(doc, i, key, keyLength)) return hasValue ? value : -1;
        if (!hasValue) return -1;
        i = pastSubtree(doc, value);
    }
    return -1;
}

namespace {
// The bytes whose text stringAt reads: a string's contents, or the raw text
// of an object or array; none for other tokens.
bool textBytes(const JsonValue& doc, JsonIndex index, size_t& first, size_t& last) {
    if (!inTable(doc, index)) return false;
    const int kind = doc.tokens[static_cast<size_t>(index)].type;
    if (kind != JSMN_STRING && kind != JSMN_OBJECT && kind != JSMN_ARRAY) return false;
    return tokenBytes(doc, index, first, last);
}
}  // namespace

bool appendStringAt(const JsonValue& doc, JsonIndex index, std::wstring& out) {
    size_t first = 0, last = 0;
    if (!textBytes(doc, index, first, last) || first == last) return false;
    const size_t base = out.size();
    bool escaped = false;
    if (!decodeWellFormed(doc.text.data() + first, last - first, out, escaped)) {
        // The copies the system's conversion needs are wiped like the text
        // itself would be: a password or a token may be no well-formed UTF-8.
        std::string bytes = doc.text.substr(first, last - first);
        std::wstring converted = toUtf16(bytes);
        wipeSecret(bytes);
        out += converted;
        wipeSecret(converted);
        escaped = true;
    }
    if (escaped) unescapeTail(out, base);
    return out.size() != base;
}

size_t unitsAt(const JsonValue& doc, JsonIndex index) {
    size_t first = 0, last = 0;
    return textBytes(doc, index, first, last) ? unitsOf(doc.text.data() + first, last - first) : 0;
}

std::wstring stringAt(const JsonValue& doc, JsonIndex index) {
    std::wstring text;
    appendStringAt(doc, index, text);
    return text;
}

std::wstring memberString(const JsonValue& doc, JsonIndex object, const char* key) {
    return stringAt(doc, findMember(doc, object, key));
}

bool isTrue(const JsonValue& doc, JsonIndex index) { return tokenEquals(doc, index, "true", 4); }

bool memberBool(const JsonValue& doc, JsonIndex object, const char* key) {
    return isTrue(doc, findMember(doc, object, key));
}

void findMembers(const JsonValue& doc, JsonIndex object, const char* const* keys, size_t count, JsonIndex* values) {
    const size_t most = 32;
    if (count > most) {
        for (size_t k = 0; k < count; ++k) values[k] = findMember(doc, object, keys[k]);
        return;
    }
    size_t lengths[most];
    bool open[most];
    size_t remaining = 0;
    for (size_t k = 0; k < count; ++k) {
        values[k] = -1;
        open[k] = keys[k] != nullptr;
        lengths[k] = open[k] ? std::strlen(keys[k]) : 0;
        remaining += open[k];
    }
    if (!inTable(doc, object)) return;
    const JsonToken& owner = doc.tokens[static_cast<size_t>(object)];
    if (owner.type != JSMN_OBJECT) return;
    const JsonIndex n = tokenCount(doc);
    // findMember's walk once: each key found answers every open key equal to
    // it, a key without a value ends the walk for all of them.
    JsonIndex i = object + 1;
    while (remaining > 0 && i < n && doc.tokens[static_cast<size_t>(i)].start < owner.end) {
        const JsonIndex value = pastSubtree(doc, i);
        const bool hasValue = value < n && doc.tokens[static_cast<size_t>(value)].start < owner.end;
        const JsonToken& key = doc.tokens[static_cast<size_t>(i)];
        const int64_t keyLength = static_cast<int64_t>(key.end) - key.start;
        for (size_t k = 0; k < count; ++k) {
            // Lengths first: most keys differ there and need no range checks.
            if (!open[k] || static_cast<int64_t>(lengths[k]) != keyLength || !tokenEquals(doc, i, keys[k], lengths[k]))
                continue;
            open[k] = false;
            --remaining;
            values[k] = hasValue ? value : -1;
        }
        if (!hasValue) return;
        i = pastSubtree(doc, value);
    }
}

int32_t memberInt(const JsonValue& doc, JsonIndex object, const char* key) {
    return intAt(doc, findMember(doc, object, key));
}

int32_t intAt(const JsonValue& doc, JsonIndex index) {
    size_t p = 0, last = 0;
    if (!tokenBytes(doc, index, p, last)) return 0;
    const std::string& s = doc.text;
    // The token's bytes are not NUL-terminated, so atoi itself cannot be used.
    while (p < last && (s[p] == ' ' || (s[p] >= '\t' && s[p] <= '\r'))) ++p;
    bool negative = false;
    if (p < last && (s[p] == '+' || s[p] == '-')) {
        negative = s[p] == '-';
        ++p;
    }
    const int64_t limit = static_cast<int64_t>(INT32_MAX) + 1;
    int64_t value = 0;
    for (; p < last && s[p] >= '0' && s[p] <= '9'; ++p) {
        value = value * 10 + (s[p] - '0');
        if (value > limit) value = limit;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    return static_cast<int32_t>(value);
}

JsonIndex firstElement(const JsonValue& doc, JsonIndex array) {
    if (!inTable(doc, array) || doc.tokens[static_cast<size_t>(array)].type != JSMN_ARRAY) return -1;
    return nextElementAt(doc, array, array + 1);
}

JsonIndex nextElement(const JsonValue& doc, JsonIndex array, JsonIndex element) {
    if (!inTable(doc, element)) return -1;
    return nextElementAt(doc, array, pastSubtree(doc, element));
}

std::vector<JsonIndex> arrayElements(const JsonValue& doc, JsonIndex index) {
    std::vector<JsonIndex> elements;
    JsonIndex i = firstElement(doc, index);
    if (i < 0) return elements;
    const JsonIndex size = doc.tokens[static_cast<size_t>(index)].size;
    if (size > 0) elements.reserve(static_cast<size_t>(std::min(size, tokenCount(doc) - index)));
    for (; i >= 0; i = nextElement(doc, index, i)) elements.push_back(i);
    return elements;
}
