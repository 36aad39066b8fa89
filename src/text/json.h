// A parsed reply: the UTF-8 text plus jsmn's flat token table. Lookups take a
// token index (-1 = missing) and never fail: a missing member or a value of
// another kind reads as empty text, false, 0 or an empty list.
#pragma once
// jsmn is header-only: json.cpp includes it first without JSMN_HEADER to
// compile its functions once; everyone else sees declarations only.
#ifndef JSMN_HEADER
#define JSMN_HEADER
#endif
#include <jsmn.h>
#include <cstdint>
#include <string>
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

const int jsonTokenCapacity = 32768;

struct JsonValue {
    std::string text;
    std::vector<JsonToken> tokens;
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
