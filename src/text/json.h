// A parsed reply: the UTF-8 text plus jsmn's flat token table. Lookups take a
// token index (-1 = missing) and never fail: a missing member or a value of
// another kind reads as empty text, false, 0 or an empty list. Over a table
// parse made, lookups step over nested values by searching the tokens'
// starts, without walking them.
#pragma once
// jsmn is header-only: json.cpp includes it first without JSMN_HEADER to
// compile its functions once; everyone else sees declarations only. With
// parent links its closing brackets and commas find their container by
// following links instead of scanning back over every earlier token (which
// makes a flat list of objects cost time in the square of its length);
// every file must see the same five-integer token record.
#ifndef JSMN_PARENT_LINKS
#define JSMN_PARENT_LINKS
#endif
#ifndef JSMN_HEADER
#define JSMN_HEADER
#endif
#include <jsmn.h>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <utility>
#include <vector>

typedef jsmntok_t JsonToken;
typedef int32_t JsonIndex;

// Typed as jsmn's own enum so that comparing with a token's type is a
// comparison within one enum type (GCC warns across enum types).
namespace JsonKind {
constexpr jsmntype_t Object = JSMN_OBJECT;
constexpr jsmntype_t Array = JSMN_ARRAY;
constexpr jsmntype_t String = JSMN_STRING;
constexpr jsmntype_t Primitive = JSMN_PRIMITIVE;
}

// parse sizes the table for the values of the reply (jsonTokenCapacity at
// least, times a power of two), up to jsonTokenLimit values: more than any
// reply within the transport's 8000000 bytes holds unless it averages under
// four bytes a value. A text with more values is refused.
const int jsonTokenCapacity = 32768;
const int jsonTokenLimit = 2097152;

// Storage for a document's table. parse reserves it in classes of the first
// capacity times a power of two, and under Wine every block that large is
// mapped afresh and faulted in page by page, which costs more than
// tokenizing a small reply and a third of tokenizing a long list; blocks of
// the first four classes therefore go back to a few spares kept for the
// process's life (four of the first, one of each other; larger ones are
// freed). Elements are not cleared when a table grows: whoever sizes it
// writes every element it keeps (jsmn writes each token it reports).
void* takeJsonTableBlock(size_t bytes);
void giveJsonTableBlock(void* block, size_t bytes);

template <typename T>
struct JsonTableAllocator {
    typedef T value_type;
    JsonTableAllocator() = default;
    template <typename U>
    JsonTableAllocator(const JsonTableAllocator<U>&) {}
    T* allocate(size_t n) { return static_cast<T*>(takeJsonTableBlock(n * sizeof(T))); }
    void deallocate(T* p, size_t n) { giveJsonTableBlock(p, n * sizeof(T)); }
    template <typename U>
    void construct(U* p) {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
template <typename T, typename U>
bool operator==(const JsonTableAllocator<T>&, const JsonTableAllocator<U>&) { return true; }
template <typename T, typename U>
bool operator!=(const JsonTableAllocator<T>&, const JsonTableAllocator<U>&) { return false; }

struct JsonValue {
    std::string text;
    std::vector<JsonToken, JsonTableAllocator<JsonToken>> tokens;
    // Set by parse: the tokens start in increasing order, as jsmn writes
    // them, so the tokens inside a value are the run right after it and the
    // lookups find the run's end by search. A table filled by hand leaves it
    // false and is walked token by token.
    bool ordered = false;
};

// Takes the text over (the caller's string is left empty); throws
// TransportFailure("json") for anything that is not JSON.
JsonValue parse(std::string&& text);

JsonIndex findMember(const JsonValue& doc, JsonIndex object, const char* key);
std::wstring stringAt(const JsonValue& doc, JsonIndex index);
std::wstring memberString(const JsonValue& doc, JsonIndex object, const char* key);
bool memberBool(const JsonValue& doc, JsonIndex object, const char* key);
int32_t memberInt(const JsonValue& doc, JsonIndex object, const char* key);
std::vector<JsonIndex> arrayElements(const JsonValue& doc, JsonIndex index);

// For readers that take many members of many objects (a history page):
// findMembers answers findMember for each of `count` keys in one walk over
// the object, and appendStringAt adds stringAt's text to `out` without a
// string of its own; its result says whether anything was added.
void findMembers(const JsonValue& doc, JsonIndex object, const char* const* keys, size_t count, JsonIndex* values);
bool appendStringAt(const JsonValue& doc, JsonIndex index, std::wstring& out);
// About the length of stringAt's text, for reserving room: exact for
// well-formed UTF-8 without escapes, more with escapes, less for malformed text.
size_t unitsAt(const JsonValue& doc, JsonIndex index);
bool isTrue(const JsonValue& doc, JsonIndex index);
int32_t intAt(const JsonValue& doc, JsonIndex index);
// An array's elements one by one, as arrayElements lists them: -1 after the last.
JsonIndex firstElement(const JsonValue& doc, JsonIndex array);
JsonIndex nextElement(const JsonValue& doc, JsonIndex array, JsonIndex element);
