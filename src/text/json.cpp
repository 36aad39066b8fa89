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

// The index just past a token and everything inside it: its descendants are
// the following tokens that start before the token's end. Always moves
// forward by at least one.
JsonIndex walkPastSubtree(const JsonValue& doc, JsonIndex index) {
    const int end = doc.tokens[static_cast<size_t>(index)].end;
    const JsonIndex count = tokenCount(doc);
    JsonIndex next = index + 1;
    while (next < count && doc.tokens[static_cast<size_t>(next)].start < end) ++next;
    return next;
}

// The same index for a table whose starts increase: the tokens that start
// before the end form one run right after the token, so its end is found by
// doubling steps over the run and halving back, in the logarithm of the
// subtree's size; a string or a number is passed with one comparison. On a
// table that breaks the order it still answers an index past `index`, at
// most the count.
JsonIndex searchPastSubtree(const JsonValue& doc, JsonIndex index) {
    const JsonToken* tokens = doc.tokens.data();
    const int end = tokens[index].end;
    const JsonIndex count = tokenCount(doc);
    JsonIndex inside = index + 1;
    if (inside >= count || tokens[inside].start >= end) return inside;
    // tokens[inside] lies inside; `past` is the first index known to lie past.
    JsonIndex past = count;
    for (int64_t step = 1; step < count - inside; step *= 2) {
        const JsonIndex probe = inside + static_cast<JsonIndex>(step);
        if (tokens[probe].start >= end) {
            past = probe;
            break;
        }
        inside = probe;
    }
    while (past - inside > 1) {
        const JsonIndex middle = inside + (past - inside) / 2;
        if (tokens[middle].start < end) inside = middle;
        else past = middle;
    }
    return past;
}

JsonIndex pastSubtree(const JsonValue& doc, JsonIndex index) {
    return doc.ordered ? searchPastSubtree(doc, index) : walkPastSubtree(doc, index);
}

// `candidate` when it still lies inside the array, else -1.
JsonIndex nextElementAt(const JsonValue& doc, JsonIndex array, JsonIndex candidate) {
    if (!inTable(doc, array) || !inTable(doc, candidate)) return -1;
    return doc.tokens[static_cast<size_t>(candidate)].start < doc.tokens[static_cast<size_t>(array)].end ? candidate : -1;
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
// hours. The pass below follows the same chain (kept as a stack: every
// new value hangs somewhere on the last value's chain) and counts the steps;
// a text that would cost more than 16384 nested brackets is refused. It runs
// only for the texts a cheaper bound (further down) cannot clear. Each
// climb is a step through scattered parents, slower than the old scan over
// the table: 32768 nested brackets, which the first table held, would cost
// over a second on the window thread, 16384 about what the worst text of the
// old table cost, and no reply a server writes nests a tenth as deep. It
// gives up, answering no, where jsmn refuses the text by itself.

const unsigned char valueKind = 0, objectKind = 1, arrayKind = 2;

// What a byte outside strings does in the pass, and what a byte does to an
// unquoted value: jsmn ends one only at these separators (or a NUL, or the
// end of the text) and refuses control and non-ASCII bytes in it.
enum : unsigned char { startsValue, blank, opensObject, opensArray, closesObject, closesArray, startsString, colon,
                       comma, endsText };
enum : unsigned char { inValue, endsValue, refusedInValue };

struct ByteRoles {
    unsigned char outside[256];
    unsigned char unquoted[256];
};

constexpr ByteRoles byteRoles() {
    ByteRoles r{};
    for (int c = 0; c < 256; ++c) {
        r.outside[c] = startsValue;
        r.unquoted[c] = c < 32 || c >= 127 ? refusedInValue : inValue;
    }
    const char separators[] = {':', '\t', '\r', '\n', ' ', ',', ']', '}', '\0'};
    for (char c : separators) r.unquoted[static_cast<unsigned char>(c)] = endsValue;
    r.outside[static_cast<unsigned char>('\t')] = r.outside[static_cast<unsigned char>('\r')] = blank;
    r.outside[static_cast<unsigned char>('\n')] = r.outside[static_cast<unsigned char>(' ')] = blank;
    r.outside[static_cast<unsigned char>('{')] = opensObject;
    r.outside[static_cast<unsigned char>('[')] = opensArray;
    r.outside[static_cast<unsigned char>('}')] = closesObject;
    r.outside[static_cast<unsigned char>(']')] = closesArray;
    r.outside[static_cast<unsigned char>('"')] = startsString;
    r.outside[static_cast<unsigned char>(':')] = colon;
    r.outside[static_cast<unsigned char>(',')] = comma;
    r.outside[0] = endsText;
    return r;
}
constexpr ByteRoles roles = byteRoles();

// The first quote or backslash at or after `p`, or `end`, eight bytes a
// step: a byte of the word is zero after the XOR exactly where it matched,
// and the lowest byte the test marks is the first zero one (marks above it
// may be false). Replies are mostly string contents, so this loop is most of
// the pass.
const unsigned char* quoteOrBackslash(const unsigned char* p, const unsigned char* end) {
    const uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
    const uint64_t quotes = ones * '"', backslashes = ones * '\\';
    // The mark's byte is read off the word's lowest set bit where the first
    // byte in memory is the lowest of the word (every target of the client);
    // elsewhere the bytes are compared one by one.
    const uint16_t probe = 1;
    unsigned char first = 0;
    std::memcpy(&first, &probe, 1);
    while (end - p >= 8) {
        uint64_t word;
        std::memcpy(&word, p, sizeof word);
        const uint64_t a = word ^ quotes, b = word ^ backslashes;
        const uint64_t marks = (((a - ones) & ~a) | ((b - ones) & ~b)) & highs;
        if (marks == 0) {
            p += 8;
            continue;
        }
        if (first != 1) break;
        // The lowest mark alone is 0x80 << 8k for the k-th byte; shifted
        // down it is 1 << 8k, and times 0x0001020304050607 it puts k in the
        // top byte.
        const uint64_t lowest = marks & (~marks + 1);
        return p + (((lowest >> 7) * 0x0001020304050607u) >> 56);
    }
    while (p < end && *p != '"' && *p != '\\') ++p;
    return p;
}

// The closing quote of the string whose contents start at `p`, or null: a
// backslash takes the next byte with it, as it does for jsmn. Escapes jsmn
// refuses, and a NUL that ends its scan inside a string, are left for it to
// find.
const unsigned char* closingQuote(const unsigned char* p, const unsigned char* end) {
    for (;;) {
        p = quoteOrBackslash(p, end);
        if (p == end) return nullptr;
        if (*p == '"') return p;
        if (end - p < 2) return nullptr;
        p += 2;
    }
}

// Whether the climbs cost more than `budget` steps. The chain of the last value
// found (root first), the open containers on it and where the next value
// hangs on it (`owner`) live in plain arrays grown by doubling, read through
// local pointers: the pass touches them at every value of every reply, and
// a byte stored through a pointer could be any other variable held in
// memory, which would then be read again after every store.
bool climbsPast(const char* js, size_t length, uint64_t budget) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(js);
    const unsigned char* const end = p + length;
    std::vector<unsigned char> chainBlock(64);
    std::vector<int32_t> openBlock(64);
    unsigned char* chain = chainBlock.data();  // valueKind, objectKind or arrayKind
    int32_t* open = openBlock.data();          // indices into the chain, in order, from open[1]
    // open[0] lies below every index: cutting the stack back needs no test
    // for its bottom.
    open[0] = -1;
    int32_t top = -1, opened = 0, owner = -1;
    uint64_t steps = 0;
    // A new value's parent is the current owner: the chain is cut back to it
    // first.
    auto hang = [&](unsigned char kind) {
        const int32_t keep = owner + 1;
        while (open[opened] >= keep) --opened;
        if (static_cast<size_t>(keep) == chainBlock.size()) {
            chainBlock.resize(chainBlock.size() * 2);
            chain = chainBlock.data();
        }
        chain[keep] = kind;
        top = keep;
    };
    auto openContainer = [&](unsigned char kind) {
        hang(kind);
        owner = top;
        if (static_cast<size_t>(opened) + 1 == openBlock.size()) {
            openBlock.resize(openBlock.size() * 2);
            open = openBlock.data();
        }
        open[++opened] = top;
    };
    // False where jsmn refuses the text.
    auto climbToClose = [&](unsigned char kind) {
        if (top < 0) return false;
        if (opened == 0) {
            // The climb reaches the first value; jsmn goes on only when it is
            // closed, of this kind, and something owns the next value.
            steps += static_cast<uint64_t>(top);
            return chain[0] == kind && owner != -1;
        }
        const int32_t container = open[opened];
        if (chain[container] != kind) return false;
        steps += static_cast<uint64_t>(top - container);
        --opened;
        owner = container - 1;
        return true;
    };
    // A comma after a key's value: the next value hangs beside the key.
    auto afterComma = [&] {
        if (owner >= 0 && chain[owner] == valueKind) --owner;
    };
    // Every stop answers no (where jsmn refuses the text, at a NUL, at the
    // end) but a close past the budget. Strings first, and the colon or
    // comma after one at once: most of a reply's values are strings, most of
    // them keys.
    bool past = false;
    while (p < end) {
        const unsigned char role = roles.outside[*p];
        if (role == startsString) {
            const unsigned char* quote = closingQuote(p + 1, end);
            if (quote == nullptr) break;
            hang(valueKind);
            p = quote + 1;
            if (p < end && *p == ':') {
                owner = top;
                ++p;
            } else if (p < end && *p == ',') {
                afterComma();
                ++p;
            }
            if (p < end && *p == ' ') ++p;
            continue;
        }
        if (role == opensObject || role == opensArray) {
            openContainer(role == opensObject ? objectKind : arrayKind);
            ++p;
        } else if (role == closesObject || role == closesArray) {
            const bool goesOn = climbToClose(role == closesObject ? objectKind : arrayKind);
            past = steps > budget;
            if (!goesOn || past) break;
            ++p;
        } else if (role == colon || role == comma) {
            if (role == colon) owner = top;
            else afterComma();
            // Members are mostly written with one space after these.
            ++p;
            if (p < end && *p == ' ') ++p;
        } else if (role == blank) {
            ++p;
        } else if (role == endsText) {
            break;
        } else {
            // An unquoted value ends before its separator, which the loop
            // reads next.
            const unsigned char* last = p;
            while (last < end && roles.unquoted[*last] == inValue) ++last;
            if (last < end && roles.unquoted[*last] == refusedInValue) break;
            hang(valueKind);
            p = last;
        }
    }
    return past;
}

// What a text may cost in climbs: 16384 nested brackets.
const uint64_t climbBudget = static_cast<uint64_t>(16384) * 16384 / 2;

// Most texts need no pass of their own: jsmn is run over them a piece at a
// time, and before each piece its climbs are bounded from byte counts alone.
// A close climbs at most over the chain of the last value, whose length the
// parent links give at the piece's start; within the piece the chain grows
// by at most one for each opening bracket or colon (only after one of those
// does a new value hang below the last). The pass above runs only when the
// bounds of the pieces add up past the budget, so the same texts are
// refused, and jsmn never climbs further than the budget before the pass has
// cleared the text.
//
// A piece ends between two bytes past ASCII, which jsmn takes in strings
// only: in a text it takes, the stop falls inside a string, which jsmn
// leaves for the next call (JSMN_ERROR_PART, its position back on the
// opening quote), so the tokens are the same as from one call. Counts are of
// all bytes, strings included: more than jsmn meets, which only loosens the
// bound.
struct Piece {
    size_t end;
    uint64_t closes;  // '}' and ']' up to `end`
    uint64_t raises;  // '{', '[' and ':' up to `end`
};

const size_t pieceBytes = 16384;

// The pieces of a text, about pieceBytes each (longer where no two such
// bytes meet), and `separators`: its commas, colons and opening brackets,
// one less than the values of a reply written without spare separators.
std::vector<Piece> piecesOf(const std::string& text, size_t& separators) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    std::vector<Piece> pieces;
    pieces.reserve(n / pieceBytes + 1);
    uint64_t closes = 0, raises = 0, commas = 0;
    size_t from = 0;
    while (from < n) {
        size_t to = n - from > pieceBytes ? from + pieceBytes : n;
        while (to < n && (bytes[to - 1] < 0x80 || bytes[to] < 0x80)) ++to;
        // Counted in runs of 255 bytes into byte-sized sums, which the
        // compiler turns into whole-register comparisons ('[' and '{', ']'
        // and '}' differ only in the bit 0x20).
        for (size_t k = from; k < to;) {
            const size_t run = std::min(static_cast<size_t>(255), to - k);
            unsigned char c = 0, r = 0, m = 0;
            for (size_t i = k; i < k + run; ++i) {
                const unsigned char b = bytes[i], folded = b | 0x20;
                c += folded == '}';
                r += (folded == '{') + (b == ':');
                m += b == ',';
            }
            closes += c;
            raises += r;
            commas += m;
            k += run;
        }
        pieces.push_back({to, closes, raises});
        from = to;
    }
    separators = static_cast<size_t>(raises + commas);
    return pieces;
}

// The parent links climbed from the last token up to a first value, or
// past `most` when it is further.
uint64_t chainLength(const JsonToken* tokens, unsigned found, uint64_t most) {
    uint64_t length = 0;
    if (found == 0) return 0;
    int t = static_cast<int>(found) - 1;
    while (tokens[t].parent != -1 && length <= most) {
        t = tokens[t].parent;
        ++length;
    }
    return length;
}

// Whether the climbs of the pieces `next` to `last`, after the `found`
// tokens jsmn wrote so far, are bounded within what is left of the budget
// after `bound`; their bound is then added to it. Each close climbs at most
// the chain's length at the start plus one (the next value may hang below
// the last) plus the raises among the pieces.
bool piecesFit(const std::vector<Piece>& pieces, size_t next, size_t last, const JsonToken* tokens, unsigned found,
               uint64_t& bound) {
    const uint64_t closes = pieces[last].closes - (next > 0 ? pieces[next - 1].closes : 0);
    if (closes == 0) return true;
    const uint64_t raises = pieces[last].raises - (next > 0 ? pieces[next - 1].raises : 0);
    const uint64_t most = (climbBudget - bound) / closes;
    const uint64_t climb = chainLength(tokens, found, most) + 1 + raises;
    if (climb > most) return false;
    bound += closes * climb;
    return true;
}
}  // namespace

namespace {
// Spare blocks of the table's first classes: four of the first capacity's
// size, one each of the three classes above it (up to 262144 tokens, a list
// of ten thousand rooms); at most 11.8 MB kept, of which only the pages once
// written are resident. Taken and given back with one atomic exchange each,
// as parse runs on the window thread and on workers.
const int spareClasses = 4, mostSpareSlots = 4;
const int spareSlots[spareClasses] = {mostSpareSlots, 1, 1, 1};
std::atomic<void*> spareBlocks[spareClasses][mostSpareSlots];

int spareClassOf(size_t bytes) {
    size_t size = sizeof(JsonToken) * static_cast<size_t>(jsonTokenCapacity);
    for (int k = 0; k < spareClasses; ++k, size *= 2)
        if (bytes == size) return k;
    return -1;
}
}  // namespace

void* takeJsonTableBlock(size_t bytes) {
    const int k = spareClassOf(bytes);
    for (int slot = 0; k >= 0 && slot < spareSlots[k]; ++slot)
        if (void* block = spareBlocks[k][slot].exchange(nullptr)) return block;
    return ::operator new(bytes);
}

void giveJsonTableBlock(void* block, size_t bytes) {
    const int k = spareClassOf(bytes);
    for (int slot = 0; k >= 0 && slot < spareSlots[k]; ++slot) {
        void* empty = nullptr;
        if (spareBlocks[k][slot].compare_exchange_strong(empty, block)) return;
    }
    ::operator delete(block);
}

JsonValue parse(std::string&& text) {
    JsonValue doc;
    doc.text = std::move(text);
    text.clear();
    // Offsets in tokens are 32-bit.
    const size_t n = doc.text.size();
    if (n >= static_cast<size_t>(INT_MAX)) refuse(doc.text);
    // A close climbs over fewer values than came before it, and closes and
    // values each take bytes of their own, so a text of n bytes climbs fewer
    // than (n/2)(n/2) steps in all: a short one (a reply of a few messages)
    // is cleared at once, in one piece, and holds fewer values than bytes.
    bool cleared = (n / 2) * ((n + 1) / 2) <= climbBudget;
    size_t values = n;
    std::vector<Piece> pieces;
    if (cleared) pieces.push_back({n, 0, 0});
    else pieces = piecesOf(doc.text, values);
    // The table is sized by that estimate, in whole classes of the first
    // capacity times a power of two (their blocks are spares). Should jsmn
    // run out of room, it stops with NOMEM before the value that found none
    // and goes on from there when called again with a larger table.
    const size_t limit = static_cast<size_t>(jsonTokenLimit);
    size_t capacity = static_cast<size_t>(jsonTokenCapacity);
    while (capacity <= values && capacity < limit) capacity *= 2;
    doc.tokens.resize(capacity);
    jsmn_parser parser;
    jsmn_init(&parser);
    uint64_t bound = 0;
    size_t next = 0, span = 1;  // the first piece jsmn has not had, how many it gets
    int count = 0;
    for (;;) {
        size_t last = cleared ? pieces.size() - 1 : std::min(next + span, pieces.size()) - 1;
        if (!cleared && !piecesFit(pieces, next, last, doc.tokens.data(), parser.toknext, bound)) {
            if (climbsPast(doc.text.data(), n, climbBudget)) refuse(doc.text);
            cleared = true;
            last = pieces.size() - 1;
        }
        const size_t stop = pieces[last].end;
        for (;;) {
            count = jsmn_parse(&parser, doc.text.data(), stop, doc.tokens.data(), static_cast<unsigned>(capacity));
            if (count != JSMN_ERROR_NOMEM || capacity >= limit) break;
            capacity = std::min(capacity * 2, limit);
            doc.tokens.resize(capacity);
        }
        if (stop == n) break;
        if (count != JSMN_ERROR_PART || parser.pos >= stop || doc.text[parser.pos] != '"') break;
        // A string that began before these pieces spans them all: twice as
        // many next time, so a long one is read again only a few times.
        const size_t first = next > 0 ? pieces[next - 1].end : 0;
        span = parser.pos < first ? span * 2 : 1;
        next = last + 1;
    }
    // Anything but a count from the last piece is jsmn's answer for the
    // whole text: a refusal, or the tokens before a NUL byte that ends it.
    if (count <= 0 || static_cast<size_t>(count) > capacity) refuse(doc.text);
    doc.tokens.resize(static_cast<size_t>(count));
    doc.ordered = true;
    return doc;
}

JsonIndex findMember(const JsonValue& doc, JsonIndex object, const char* key) {
    if (key == nullptr || !inTable(doc, object)) return -1;
    const JsonToken& owner = doc.tokens[static_cast<size_t>(object)];
    if (owner.type != JSMN_OBJECT) return -1;
    const size_t keyLength = std::strlen(key);
    const JsonIndex count = tokenCount(doc);
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
