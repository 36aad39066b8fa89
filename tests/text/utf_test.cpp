#include <doctest/doctest.h>

#include "wide_print.h"

#include "text/json.h"
#include "text/utf.h"
#include "text/utf_codec.h"

#include <clocale>
#include <cstdint>
#include <random>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

}  // namespace

TEST_CASE("toUtf8 and toUtf16 convert both ways") {
    SUBCASE("empty stays empty") {
        CHECK(toUtf8(L"").empty());
        CHECK(toUtf16("").empty());
    }
    SUBCASE("one, two, three and four byte forms") {
        const std::wstring text = L"A\u00e9\u0416\u20ac\xD83D\xDE00";
        const std::string utf8 = bytes({0x41, 0xC3, 0xA9, 0xD0, 0x96, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80});
        CHECK(toUtf8(text) == utf8);
        CHECK(toUtf16(utf8) == text);
    }
    SUBCASE("NUL characters inside the text are kept, not treated as the end") {
        const std::wstring text(L"a\0b", 3);
        CHECK(toUtf8(text) == std::string("a\0b", 3));
        CHECK(toUtf16(std::string("a\0b", 3)) == text);
    }
    SUBCASE("malformed UTF-8 becomes U+FFFD and the rest survives") {
        CHECK(toUtf16(bytes({0xFF, 0x41})) == L"\uFFFDA");
        CHECK(toUtf16(bytes({0x41, 0xD0})) == L"A\uFFFD");
        const std::wstring lone = toUtf16(bytes({0x80, 0x42}));
        CHECK(lone.back() == L'B');
        CHECK(lone.find(L'\uFFFD') != std::wstring::npos);
    }
    SUBCASE("an unpaired surrogate is written as U+FFFD") {
        const std::string replacement = bytes({0xEF, 0xBF, 0xBD});
        CHECK(toUtf8(std::wstring(1, wchar_t(0xD800))) == replacement);
        CHECK(toUtf8(L"x" + std::wstring(1, wchar_t(0xDC00)) + L"y") == "x" + replacement + "y");
        // A low surrogate before a high one is not a pair.
        const std::wstring reversed = {wchar_t(0xDE00), wchar_t(0xD83D)};
        CHECK(toUtf8(reversed) == replacement + replacement);
    }
    SUBCASE("long text converts whole") {
        std::wstring text;
        for (int i = 0; i < 100000; ++i) text += static_cast<wchar_t>(0x410 + i % 32);
        const std::string utf8 = toUtf8(text);
        CHECK(utf8.size() == 200000);
        CHECK(toUtf16(utf8) == text);
    }
}

TEST_CASE("jsonQuote writes a complete JSON string literal") {
    CHECK(jsonQuote(L"") == "\"\"");
    CHECK(jsonQuote(L"plain text") == "\"plain text\"");
    CHECK(jsonQuote(L"q\"b\\n\nr\rt\t.") == "\"q\\\"b\\\\n\\nr\\rt\\t.\"");
    SUBCASE("other control characters are dropped, DEL is kept") {
        CHECK(jsonQuote(L"a\u0007b\u000cc") == "\"abc\"");
        CHECK(jsonQuote(std::wstring(L"\0x", 2)) == "\"x\"");
        CHECK(jsonQuote(L"\u001f\u0020\u007f") == "\" \x7f\"");
    }
    SUBCASE("text outside ASCII goes out as raw UTF-8") {
        CHECK(jsonQuote(L"\u041f\u0440\u0438\u0432\u0435\u0442") == "\"" + toUtf8(L"\u041f\u0440\u0438\u0432\u0435\u0442") + "\"");
        CHECK(jsonQuote(L"\xD83D\xDE00") == bytes({'"', 0xF0, 0x9F, 0x98, 0x80, '"'}));
        CHECK(jsonQuote(L"/").find('\\') == std::string::npos);
    }
    SUBCASE("whatever goes in reads back through the parser") {
        std::mt19937 rng(20240611);
        for (int round = 0; round < 500; ++round) {
            std::wstring value, expected;
            const int length = static_cast<int>(rng() % 40);
            for (int i = 0; i < length; ++i) {
                wchar_t c;
                switch (rng() % 4) {
                case 0: c = static_cast<wchar_t>(rng() % 0x80); break;
                case 1: c = static_cast<wchar_t>(0x400 + rng() % 0x60); break;
                case 2: c = L"\"\\/\n\r\t\b"[rng() % 7]; break;
                default: c = static_cast<wchar_t>(0xE000 + rng() % 0x1000); break;
                }
                value += c;
                if (c >= 0x20 || c == L'\n' || c == L'\r' || c == L'\t') expected += c;
            }
            const std::string quoted = jsonQuote(value);
            const JsonValue doc = parse(std::string(quoted));
            REQUIRE(doc.tokens.size() == 1);
            CHECK(doc.tokens[0].end == static_cast<int>(quoted.size()) - 1);
            CHECK(stringAt(doc, 0) == expected);
        }
    }
}

TEST_CASE("urlEncode percent-encodes a query value") {
    CHECK(urlEncode(L"") == L"");
    CHECK(urlEncode(L"a b~c") == L"a%20b%7Ec");
    CHECK(urlEncode(L"Report_2024-06.final.TXT") == L"Report_2024-06.final.TXT");
    CHECK(urlEncode(L"\u0416") == L"%D0%96");
    CHECK(urlEncode(L"a+b&c=d/e?f#g%") == L"a%2Bb%26c%3Dd%2Fe%3Ff%23g%25");
    CHECK(urlEncode(L"\u00ff\n") == L"%C3%BF%0A");

    SUBCASE("every byte at or above 0x80 is encoded, whatever the locale") {
        // A Western code page locale counts 0xC0..0xFF as letters; a byte
        // test through the locale would let raw bytes through.
        const char* previous = std::setlocale(LC_ALL, nullptr);
        const std::string saved = previous ? previous : "C";
        std::setlocale(LC_ALL, ".1252");
        std::wstring latin;
        for (wchar_t c = 0x80; c <= 0xFF; ++c) latin += c;
        const std::wstring encoded = urlEncode(latin);
        std::setlocale(LC_ALL, saved.c_str());
        REQUIRE(encoded.size() == 128 * 6);
        for (size_t i = 0; i < encoded.size(); i += 3) CHECK(encoded[i] == L'%');
        CHECK(encoded.substr(0, 6) == L"%C2%80");
        CHECK(encoded.substr(encoded.size() - 6) == L"%C3%BF");
    }
    SUBCASE("every ASCII byte is kept or encoded in upper-case hex") {
        for (int c = 0; c < 0x80; ++c) {
            const std::wstring out = urlEncode(std::wstring(1, static_cast<wchar_t>(c)));
            const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                              c == '-' || c == '.' || c == '_';
            if (kept) {
                CHECK(out == std::wstring(1, static_cast<wchar_t>(c)));
            } else {
                static const wchar_t hex[] = L"0123456789ABCDEF";
                CHECK(out == std::wstring{L'%', hex[c >> 4], hex[c & 15]});
            }
        }
    }
}

#ifdef _WIN32
// The stand-in of the native build must replace exactly as the system does:
// every short byte sequence and unit sequence over the values where the
// rules change, and random longer ones, through both with the same buffers.
TEST_CASE("the portable conversion answers as the system's") {
    auto system16 = [](const std::string& bytes) {
        const int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
        std::wstring out(static_cast<size_t>(length > 0 ? length : 0), L'\0');
        if (length > 0) MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &out[0], length);
        return out;
    };
    auto portable16 = [](const std::string& bytes) {
        const int length = portableUtf8ToUtf16(bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
        std::wstring out(static_cast<size_t>(length > 0 ? length : 0), L'\0');
        if (length > 0) CHECK(portableUtf8ToUtf16(bytes.data(), static_cast<int>(bytes.size()), &out[0], length) == length);
        return out;
    };
    auto system8 = [](const std::wstring& units) {
        const int length =
            WideCharToMultiByte(CP_UTF8, 0, units.data(), static_cast<int>(units.size()), nullptr, 0, nullptr, nullptr);
        std::string out(static_cast<size_t>(length > 0 ? length : 0), '\0');
        if (length > 0)
            WideCharToMultiByte(CP_UTF8, 0, units.data(), static_cast<int>(units.size()), &out[0], length, nullptr, nullptr);
        return out;
    };
    auto portable8 = [](const std::wstring& units) {
        const int length = portableUtf16ToUtf8(units.data(), static_cast<int>(units.size()), nullptr, 0);
        std::string out(static_cast<size_t>(length > 0 ? length : 0), '\0');
        if (length > 0) CHECK(portableUtf16ToUtf8(units.data(), static_cast<int>(units.size()), &out[0], length) == length);
        return out;
    };
    int differences = 0;
    auto compareBytes = [&](const std::string& bytes) {
        if (portable16(bytes) != system16(bytes) && ++differences <= 5) CHECK(portable16(bytes) == system16(bytes));
    };
    auto compareUnits = [&](const std::wstring& units) {
        if (portable8(units) != system8(units) && ++differences <= 5) CHECK(portable8(units) == system8(units));
    };
    for (int a = 0; a < 256; ++a) {
        compareBytes(std::string(1, static_cast<char>(a)));
        for (int b = 0; b < 256; ++b) compareBytes(bytes({a, b}));
    }
    const int edges[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF,
                         0xE0, 0xE1, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xFF};
    for (int a : edges)
        for (int b : edges)
            for (int c : edges) {
                compareBytes(bytes({a, b, c}));
                for (int d : edges) compareBytes(bytes({a, b, c, d}));
            }
    for (int u = 0; u < 0x10000; ++u) compareUnits(std::wstring(1, static_cast<wchar_t>(u)));
    const int unitEdges[] = {0x0, 0x41, 0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFD, 0xFFFF};
    for (int a : unitEdges)
        for (int b : unitEdges)
            for (int c : unitEdges)
                compareUnits({static_cast<wchar_t>(a), static_cast<wchar_t>(b), static_cast<wchar_t>(c)});
    std::mt19937 rng(25);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        std::wstring units;
        const int length = static_cast<int>(rng() % 24);
        for (int i = 0; i < length; ++i) {
            text += static_cast<char>(rng() % 3 == 0 ? edges[rng() % 25] : rng() % 256);
            units += static_cast<wchar_t>(rng() % 3 == 0 ? unitEdges[rng() % 14] : rng() % 0x10000);
        }
        compareBytes(text);
        compareUnits(units);
    }
    CHECK(differences == 0);
}
#endif
