#include "text/secret.h"

#include <windows.h>

void wipeSecret(void* data, size_t size) {
    if (!data || size == 0) return;
    SecureZeroMemory(data, size);
}

// The whole storage, not only the text now in it: a string that was moved
// from, cleared or assigned a shorter text keeps the old bytes past its end.
void (*secretWiped)(const void* data, size_t size) = nullptr;

// The length stays: the text reads as that many zeros.
void wipeSecret(std::string& text) {
    size_t length = text.size();
    text.resize(text.capacity());
    if (!text.empty()) wipeSecret(&text[0], text.size());
    if (secretWiped) secretWiped(text.data(), text.size());
    text.resize(length);
}

void wipeSecret(std::wstring& text) {
    size_t length = text.size();
    text.resize(text.capacity());
    if (!text.empty()) wipeSecret(&text[0], text.size() * sizeof(wchar_t));
    if (secretWiped) secretWiped(text.data(), text.size() * sizeof(wchar_t));
    text.resize(length);
}

void appendSecret(std::string& to, const char* data, size_t size) {
    if (to.size() + size > to.capacity()) {
        // std::string would free the old storage unwiped when it grows.
        std::string grown;
        grown.reserve((to.size() + size) * 2);
        grown = to;
        wipeSecret(&to[0], to.size());
        to.swap(grown);
    }
    to.append(data, size);
}
