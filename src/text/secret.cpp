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

void wipeSecret(std::string& text) {
    if (!text.empty()) wipeSecret(&text[0], text.size());
}

void wipeSecret(std::wstring& text) {
    if (!text.empty()) wipeSecret(&text[0], text.size() * sizeof(wchar_t));
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
