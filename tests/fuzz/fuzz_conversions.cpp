// The conversions between the UTF-16 user interface and the UTF-8 wire. The
// input is read three ways: as UTF-8 bytes; as UTF-16 units, two bytes each,
// stored one per wchar_t whatever its size; and as 32-bit values, which only
// a wide wchar_t can hold and which are no UTF-16 units. Checked: the round
// trips, the JSON string decoder of the document against the conversion,
// jsonQuote read back by parse, urlEncode decoded back, and the stand-in
// conversion's exact-size and too-small output buffers.
#include "fuzz_support.h"

#include "text/utf.h"
#include "text/utf_codec.h"

#include <string>
#include <vector>

namespace {

bool isHigh(unsigned u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLow(unsigned u) { return u >= 0xDC00 && u <= 0xDFFF; }

// UTF-16 with each unit that is not part of a pair (and each value that is
// no unit at all) as U+FFFD: what a round trip through UTF-8 must give.
std::wstring repaired(const std::wstring& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned long u = static_cast<unsigned long>(text[i]);
        const unsigned long next = i + 1 < text.size() ? static_cast<unsigned long>(text[i + 1]) : 0;
        if (u <= 0xFFFF && isHigh(static_cast<unsigned>(u)) && next <= 0xFFFF && isLow(static_cast<unsigned>(next))) {
            out += text[i];
            out += text[++i];
        } else if (u > 0xFFFF || isHigh(static_cast<unsigned>(u)) || isLow(static_cast<unsigned>(u))) {
            out += wchar_t(0xFFFD);
        } else {
            out += text[i];
        }
    }
    return out;
}

bool validUtf16(const std::wstring& text) { return repaired(text) == text; }

// The stand-in conversion into a buffer of exactly the size it asks for,
// which must give `expected`, and into one a unit smaller, which it must
// refuse without writing past it.
template <typename In, typename Out>
void checkBuffers(int (*convert)(const In*, int, Out*, int), const std::basic_string<In>& input,
                  const std::basic_string<Out>& expected) {
    const int count = static_cast<int>(input.size());
    const int length = convert(input.data(), count, nullptr, 0);
    FUZZ_CHECK(static_cast<size_t>(length) == expected.size());
    if (length == 0) return;
    std::vector<Out> exact(static_cast<size_t>(length));
    FUZZ_CHECK(convert(input.data(), count, exact.data(), length) == length);
    FUZZ_CHECK(std::basic_string<Out>(exact.begin(), exact.end()) == expected);
    if (length == 1) return;
    std::vector<Out> shorter(static_cast<size_t>(length - 1));
    FUZZ_CHECK(convert(input.data(), count, shorter.data(), length - 1) == 0);
}

void checkUtf8(const std::string& bytes) {
    const std::wstring wide = toUtf16(bytes);
    FUZZ_CHECK(validUtf16(wide));
    FUZZ_CHECK(wide.size() <= bytes.size());
    const std::string back = toUtf8(wide);
    FUZZ_CHECK(toUtf16(back) == wide);
    // Well-formed text comes back byte for byte; anything else had a U+FFFD put in.
    if (back != bytes) FUZZ_CHECK(wide.find(wchar_t(0xFFFD)) != std::wstring::npos);

    // The document's own decoder (well-formed text) and its fall-back to the
    // conversion (anything else) read a string member as the conversion does.
    std::string plain;
    for (const char c : bytes)
        if (c != '"' && c != '\\' && c != '\0') plain += c;
    JsonValue doc;
    FUZZ_CHECK(parseReply("[\"" + plain + "\"]", doc));
    FUZZ_CHECK(stringAt(doc, 1) == toUtf16(plain));

    checkBuffers(portableUtf8ToUtf16, bytes, wide);
}

void checkWide(const std::wstring& wide) {
    const std::string utf8 = toUtf8(wide);
    FUZZ_CHECK(toUtf16(utf8) == repaired(wide));
    FUZZ_CHECK(toUtf8(toUtf16(utf8)) == utf8);

    checkBuffers(portableUtf16ToUtf8, wide, utf8);

    // jsonQuote gives one string literal that reads back as the text, less
    // the control characters it drops.
    const std::string quoted = jsonQuote(wide);
    JsonValue doc;
    FUZZ_CHECK(parseReply(quoted, doc));
    FUZZ_CHECK(doc.tokens.size() == 1 && doc.tokens[0].type == JSMN_STRING);
    FUZZ_CHECK(doc.tokens[0].end == static_cast<int>(quoted.size()) - 1);
    std::wstring expected;
    for (const wchar_t c : repaired(wide))
        if (static_cast<unsigned long>(c) >= 0x20 || c == L'\n' || c == L'\r' || c == L'\t') expected += c;
    FUZZ_CHECK(stringAt(doc, 0) == expected);

    // urlEncode: only unreserved characters and %XX, which decode to the UTF-8.
    const std::wstring encoded = urlEncode(wide);
    std::string decoded;
    auto hex = [](wchar_t c) { return c >= L'0' && c <= L'9' ? c - L'0' : c >= L'A' && c <= L'F' ? c - L'A' + 10 : -1; };
    for (size_t i = 0; i < encoded.size(); ++i) {
        const wchar_t c = encoded[i];
        if (c == L'%') {
            FUZZ_CHECK(i + 2 < encoded.size() && hex(encoded[i + 1]) >= 0 && hex(encoded[i + 2]) >= 0);
            decoded += static_cast<char>(hex(encoded[i + 1]) * 16 + hex(encoded[i + 2]));
            i += 2;
        } else {
            FUZZ_CHECK((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'-' ||
                       c == L'.' || c == L'_');
            decoded += static_cast<char>(c);
        }
    }
    FUZZ_CHECK(decoded == utf8);

    const std::wstring shown = visibleText(wide);
    FUZZ_CHECK(shown.size() == wide.size() && shown.find(L'\0') == std::wstring::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkUtf8(std::string(reinterpret_cast<const char*>(data), size));
    std::wstring units;
    for (size_t i = 0; i + 1 < size; i += 2) units += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    checkWide(units);
    if (sizeof(wchar_t) >= 4) {
        std::wstring values;
        for (size_t i = 0; i + 3 < size; i += 4)
            values += static_cast<wchar_t>(static_cast<uint32_t>(data[i]) | (static_cast<uint32_t>(data[i + 1]) << 8) |
                                           (static_cast<uint32_t>(data[i + 2]) << 16) |
                                           (static_cast<uint32_t>(data[i + 3]) << 24));
        checkWide(values);
    }
    return 0;
}
