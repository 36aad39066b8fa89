// Any bytes as a reply: parse, then every lookup over every value. The same
// bytes also go, for a share of the inputs, into a document at the token
// table's limit (exactly 2097152 values, then one more), into one of
// exactly 8000000 bytes, the largest reply the transport keeps, and between
// two long strings of letters, which make the document long enough to be
// tokenized in pieces.
#include "fuzz_support.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

// Whether parse must agree with jsmn alone: the guard against closing
// brackets that climb long chains again and again refuses some texts jsmn
// takes, and only those. A shorter text cannot climb as far as the guard's
// budget (a close per byte, each over at most half the bytes).
bool climbGuardSilent(const std::string& text) { return text.size() < 16384; }

// parse against jsmn alone; the document when both accept.
bool parseAgainstJsmn(const std::string& text, JsonValue& doc) {
    std::vector<JsonToken> reference;
    const int count = tokenizeAlone(text, jsonTokenLimit + 2, &reference);
    const bool accepted = parseReply(text, doc);
    if (count <= 0 || count > jsonTokenLimit) {
        FUZZ_CHECK(!accepted);
        return false;
    }
    if (climbGuardSilent(text)) FUZZ_CHECK(accepted);
    if (!accepted) return false;
    FUZZ_CHECK(doc.tokens.size() == reference.size());
    FUZZ_CHECK(std::memcmp(doc.tokens.data(), reference.data(), reference.size() * sizeof(JsonToken)) == 0);
    return true;
}

std::string padded(size_t zeros, const std::string& text) {
    std::string out = "[";
    out.reserve(zeros * 2 + text.size() + 2);
    for (size_t k = 0; k < zeros; ++k) out += "0,";
    out += text;
    out += ']';
    return out;
}

// The input behind as many plain values as make the table exactly full, so
// its own values are the last ones of the table; one value more is refused.
void checkTokenLimit(const std::string& text, JsonIndex ownCount) {
    if (ownCount >= jsonTokenLimit - 1) return;
    const size_t first = static_cast<size_t>(jsonTokenLimit - 1 - ownCount);
    const int count = tokenizeAlone(padded(first, text), jsonTokenLimit * 2, nullptr);
    if (count <= 0) return;
    // What the input adds in this place (the lenient grammar may read it a
    // little differently inside an array).
    const long added = static_cast<long>(count) - 1 - static_cast<long>(first);
    if (added < 1 || added >= jsonTokenLimit - 1) return;
    const std::string full = padded(static_cast<size_t>(jsonTokenLimit - 1 - added), text);
    JsonValue doc;
    if (!parseAgainstJsmn(full, doc)) return;
    if (doc.tokens.size() != static_cast<size_t>(jsonTokenLimit)) return;
    // The input's own values, the last of the table.
    checkEveryLookup(doc, static_cast<JsonIndex>(jsonTokenLimit - added));
    FUZZ_CHECK(arrayElements(doc, 0).size() >= static_cast<size_t>(jsonTokenLimit - 1 - added));
    JsonValue more;
    FUZZ_CHECK(!parseAgainstJsmn(padded(static_cast<size_t>(jsonTokenLimit - added), text), more));
}

// The input as the last value of a reply of exactly 8000000 bytes, after one
// long string.
void checkLargestReply(const std::string& text) {
    const size_t largest = 8000000;
    const std::string head = "[\"", middle = "\",", tail = "]";
    if (text.size() + head.size() + middle.size() + tail.size() >= largest) return;
    std::string reply = head;
    reply.reserve(largest);
    reply.append(largest - text.size() - head.size() - middle.size() - tail.size(), 'x');
    const size_t padding = reply.size() - head.size();
    reply += middle;
    reply += text;
    reply += tail;
    FUZZ_CHECK(reply.size() == largest);
    JsonValue doc;
    if (!parseAgainstJsmn(reply, doc)) return;
    FUZZ_CHECK(stringAt(doc, 1).size() == padding);
    FUZZ_CHECK(unitsAt(doc, 1) == padding);
    if (doc.tokens.size() > 2) checkEveryLookup(doc, 2);
}

// The input between two strings of letters past ASCII, each longer than the
// pieces a long text is tokenized in, so that stops fall inside them and
// inside the input's own strings. The document climbs no further than the
// input and one close, so a short input jsmn takes is still taken.
void checkInPieces(const std::string& text) {
    std::string letters;
    for (int k = 0; k < 12000; ++k) letters += "\xd0\xb6";
    const std::string padded = "[\"" + letters + "\"," + text + ",\"" + letters + "\"]";
    JsonValue doc;
    const bool accepted = parseAgainstJsmn(padded, doc);
    const int count = tokenizeAlone(padded, jsonTokenLimit + 2, nullptr);
    if (text.size() < 16000 && count > 0 && count <= jsonTokenLimit) FUZZ_CHECK(accepted);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    JsonValue doc;
    if (!parseAgainstJsmn(text, doc)) return 0;
    checkEveryLookup(doc);
    const uint32_t hash = inputHash(data, size);
    // A document at the table's limit is four megabytes, read five times.
    if (hash % 1024 == 0 && text.find('\0') == std::string::npos)
        checkTokenLimit(text, static_cast<JsonIndex>(doc.tokens.size()));
    if (hash % 4096 == 1) checkLargestReply(text);
    if (hash % 16 == 2) checkInPieces(text);
    return 0;
}
