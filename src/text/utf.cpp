#include "text/utf.h"
#include "text/secret.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "text/utf_codec.h"
#endif

#include <climits>

// The system conversions take 32-bit counts. Texts that pass through here are
// replies capped far below 2 GiB, so a larger input is treated like one the
// system cannot convert: it gives an empty result rather than a cut one.

namespace {
// The system's conversions; a build without them (the native fuzzing build)
// has the stand-in with the same call shape and replacement rules.
int wideToUtf8(const wchar_t* text, int units, char* out, int room) {
#ifdef _WIN32
    return WideCharToMultiByte(CP_UTF8, 0, text, units, out, room, nullptr, nullptr);
#else
    return portableUtf16ToUtf8(text, units, out, room);
#endif
}

int utf8ToWide(const char* bytes, int count, wchar_t* out, int room) {
#ifdef _WIN32
    return MultiByteToWideChar(CP_UTF8, 0, bytes, count, out, room);
#else
    return portableUtf8ToUtf16(bytes, count, out, room);
#endif
}
}  // namespace

std::string toUtf8(const std::wstring& text) {
    if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return std::string();
    const int units = static_cast<int>(text.size());
    const int length = wideToUtf8(text.data(), units, nullptr, 0);
    if (length <= 0) return std::string();
    std::string out(static_cast<size_t>(length), '\0');
    const int written = wideToUtf8(text.data(), units, &out[0], length);
    if (written <= 0) return std::string();
    out.resize(static_cast<size_t>(written));
    return out;
}

std::wstring toUtf16(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > static_cast<size_t>(INT_MAX)) return std::wstring();
    const int count = static_cast<int>(bytes.size());
    const int length = utf8ToWide(bytes.data(), count, nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(length), L'\0');
    const int written = utf8ToWide(bytes.data(), count, &out[0], length);
    if (written <= 0) return std::wstring();
    out.resize(static_cast<size_t>(written));
    return out;
}

std::string jsonQuote(const std::wstring& value) {
    std::string utf8 = toUtf8(value);
    // The value may be the password: the UTF-8 copy is wiped, and the result
    // is reserved for the longest escaping so it never moves while growing.
    std::string out;
    out.reserve(utf8.size() * 2 + 2);
    out += '"';
    for (const char c : utf8) {
        const unsigned char byte = static_cast<unsigned char>(c);
        switch (byte) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            // Other control bytes have no short escape; the server gets them
            // dropped rather than as \u escapes.
            if (byte >= 0x20) out += c;
            break;
        }
    }
    out += '"';
    wipeSecret(utf8);
    return out;
}

std::wstring urlEncode(const std::wstring& value) {
    static const char hex[] = "0123456789ABCDEF";
    const std::string utf8 = toUtf8(value);
    std::wstring out;
    out.reserve(utf8.size() * 3);
    for (const char c : utf8) {
        const unsigned char byte = static_cast<unsigned char>(c);
        // Explicit ASCII ranges: isalnum on a plain char would see bytes of
        // multi-byte sequences as negative values, and a non-C locale may
        // count some of them as letters.
        const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_';
        if (plain) {
            out += static_cast<wchar_t>(byte);
        } else {
            out += L'%';
            out += static_cast<wchar_t>(hex[byte >> 4]);
            out += static_cast<wchar_t>(hex[byte & 0x0F]);
        }
    }
    return out;
}

std::wstring visibleText(std::wstring text) {
    for (wchar_t& c : text)
        if (c == L'\0') c = L'\xFFFD';
    return text;
}
