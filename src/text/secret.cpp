#include "text/secret.h"

#ifdef _WIN32
#include <windows.h>
#endif

void wipeSecret(void* data, size_t size) {
    if (!data || size == 0) return;
#ifdef _WIN32
    SecureZeroMemory(data, size);
#else
    // Stores through a volatile pointer, which the compiler must keep.
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) bytes[i] = 0;
#endif
}

void (*secretWiped)(const void* data, size_t size) = nullptr;

// The whole storage, not only the text now in it: a string that was moved
// from, cleared or assigned a shorter text keeps the old bytes past its end.
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
