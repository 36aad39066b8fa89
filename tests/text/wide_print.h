// Lets doctest show wide strings in failure messages: printable ASCII as it
// is, every other unit as \uXXXX so lone surrogates and controls stay visible.
#pragma once
#include <doctest/doctest.h>

#include <string>

namespace doctest {
template <>
struct StringMaker<std::wstring> {
    static String convert(const std::wstring& value) {
        static const char hex[] = "0123456789ABCDEF";
        std::string out = "L\"";
        for (const wchar_t c : value) {
            const unsigned unit = static_cast<unsigned>(c) & 0xFFFF;
            if (unit >= 0x20 && unit < 0x7F && unit != '\\') {
                out += static_cast<char>(unit);
            } else {
                out += "\\u";
                for (int shift = 12; shift >= 0; shift -= 4) out += hex[(unit >> shift) & 0xF];
            }
        }
        out += '"';
        return String(out.c_str());
    }
};
}  // namespace doctest
