// Conversions between the UTF-16 user interface and the UTF-8 wire:
// plain conversion both ways, a JSON string literal for request bodies and a
// percent-encoded query value. None of them fails.
#pragma once
#include <string>

std::string toUtf8(const std::wstring& text);
std::wstring toUtf16(const std::string& bytes);
std::string jsonQuote(const std::wstring& value);
std::wstring urlEncode(const std::wstring& value);

// A server's text as the window shows it: a NUL, which would end the text early
// in every control, becomes U+FFFD. Ids and request bodies never go through it.
std::wstring visibleText(std::wstring text);
