// What the fuzz targets share: a check that ends the run with a message
// (libFuzzer then keeps the input as a finding), parsing a reply the way the
// window does, and the walk of every lookup over every value of a document.
#pragma once
#include "text/json.h"

#include <cstddef>
#include <cstdint>
#include <string>

#define FUZZ_CHECK(condition) ((condition) ? (void)0 : fuzzFailure(#condition, __FILE__, __LINE__))
[[noreturn]] void fuzzFailure(const char* what, const char* file, int line);

// parse of a copy of the text. A refusal must be TransportFailure "json";
// anything else thrown is a finding. On success the token tables are cut to
// their size, so that a read past the last token is a read past the block.
bool parseReply(const std::string& text, JsonValue& doc);

// Every lookup on every index of the document from `from` on (a sample of a
// large one) and on indices outside it, recursively from `from`, checked
// against the text and against the same lookups walking token by token
// (the document must come from parse).
void checkEveryLookup(const JsonValue& doc, JsonIndex from = 0);

// jsmn alone over the text with room for `capacity` tokens: its count (or
// error), and the tokens it wrote when `tokens` is given.
int tokenizeAlone(const std::string& text, int capacity, std::vector<JsonToken>* tokens);

// The input's bytes split at the first NUL byte: two replies in one input.
void splitAtNul(const uint8_t* data, size_t size, std::string& first, std::string& second, bool& hasSecond);

// A cheap, stable hash of the input, to give rarely taken checks to a fixed
// share of inputs.
uint32_t inputHash(const uint8_t* data, size_t size);
