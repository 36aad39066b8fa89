#include "text/utf_codec.h"

namespace {
const unsigned replacement = 0xFFFD;

// Writes one unit (or byte), or only counts it when the output is full or
// absent.
template <typename Unit>
struct Output {
    Unit* out;
    int room;
    int length = 0;
    bool overflow = false;
    void put(unsigned value) {
        if (room > 0) {
            if (length < room) out[length] = static_cast<Unit>(value);
            else overflow = true;
        }
        ++length;
    }
    int result() const { return overflow ? 0 : length; }
};
typedef Output<wchar_t> Units;
typedef Output<char> Bytes;

void putUtf16(Units& units, unsigned code) {
    if (code >= 0x10000) {
        code -= 0x10000;
        units.put(0xD800 + (code >> 10));
        units.put(0xDC00 + (code & 0x3FF));
    } else {
        units.put(code);
    }
}

void putUtf8(Bytes& bytes, unsigned code) {
    if (code < 0x80) {
        bytes.put(code);
    } else if (code < 0x800) {
        bytes.put(0xC0 | (code >> 6));
        bytes.put(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        bytes.put(0xE0 | (code >> 12));
        bytes.put(0x80 | ((code >> 6) & 0x3F));
        bytes.put(0x80 | (code & 0x3F));
    } else {
        bytes.put(0xF0 | (code >> 18));
        bytes.put(0x80 | ((code >> 12) & 0x3F));
        bytes.put(0x80 | ((code >> 6) & 0x3F));
        bytes.put(0x80 | (code & 0x3F));
    }
}
}  // namespace

// The replacement rules, as the system applies them (checked under Wine):
// a byte that cannot start a sequence, and a lead byte whose next byte is no
// continuation byte, give one U+FFFD each; a continuation byte that cannot
// follow its lead (an overlong form, a surrogate, past U+10FFFF) is taken
// into that U+FFFD; a later byte that is no continuation byte ends the
// U+FFFD and starts afresh; and a sequence cut short by the end of the text
// gives one U+FFFD for all that is left.
int portableUtf8ToUtf16(const char* bytes, int count, wchar_t* out, int room) {
    if (count <= 0 || room < 0) return 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    Units units{out, room};
    int i = 0;
    while (i < count) {
        const unsigned c = p[i];
        if (c < 0x80) {
            units.put(c);
            ++i;
            continue;
        }
        int more = 0;
        unsigned code = 0, low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            code = c & 0x0F;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;  // no encoded surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            code = c & 0x07;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;  // nothing past U+10FFFF
        } else {
            units.put(replacement);
            ++i;
            continue;
        }
        if (count - i - 1 < more) {
            units.put(replacement);
            break;
        }
        int j = i + 1;
        bool complete = true;
        for (int k = 0; k < more; ++k, ++j) {
            const unsigned b = p[j];
            if (b < 0x80 || b > 0xBF) {
                complete = false;
                break;
            }
            if (k == 0 && (b < low || b > high)) {
                complete = false;
                ++j;
                break;
            }
            code = (code << 6) | (b & 0x3F);
        }
        if (complete) putUtf16(units, code);
        else units.put(replacement);
        i = j;
    }
    return units.result();
}

int portableUtf16ToUtf8(const wchar_t* text, int count, char* out, int room) {
    if (count <= 0 || room < 0) return 0;
    Bytes bytes{out, room};
    for (int i = 0; i < count; ++i) {
        const unsigned long unit = static_cast<unsigned long>(text[i]);
        if (unit > 0xFFFF || (unit >= 0xDC00 && unit <= 0xDFFF)) {
            putUtf8(bytes, replacement);
        } else if (unit >= 0xD800 && unit <= 0xDBFF) {
            const unsigned long next = i + 1 < count ? static_cast<unsigned long>(text[i + 1]) : 0;
            if (next >= 0xDC00 && next <= 0xDFFF) {
                putUtf8(bytes, 0x10000 + ((static_cast<unsigned>(unit) - 0xD800) << 10) +
                                   (static_cast<unsigned>(next) - 0xDC00));
                ++i;
            } else {
                putUtf8(bytes, replacement);
            }
        } else {
            putUtf8(bytes, static_cast<unsigned>(unit));
        }
    }
    return bytes.result();
}
