// Wiping memory that held a secret (a password, a token, a sign-in reply)
// before it goes back to the heap: the program's one way to do it.
#pragma once
#include <cstddef>
#include <string>

// Overwrites with zeros in a way the compiler may not drop. A string is
// wiped over its whole capacity and keeps its length, all zeros.
void wipeSecret(void* data, size_t size);
void wipeSecret(std::string& text);
void wipeSecret(std::wstring& text);

// Appends to a buffer that may hold a secret: when it must grow, the old
// storage is wiped before it is released.
void appendSecret(std::string& to, const char* data, size_t size);

// Test seam: called with a string's whole storage right after it was wiped.
extern void (*secretWiped)(const void* data, size_t size);
