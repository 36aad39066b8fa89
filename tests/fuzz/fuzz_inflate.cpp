// The inflating reader of compressed replies: the input is the body as sent,
// fed in pieces of sizes the input itself picks (as the network splits it),
// under a small limit so that bomb-shaped streams reach it quickly. Whatever
// the bytes, the kept text never passes the limit, and a stream taken whole
// inflates to exactly what zlib makes of it in one go.
#include "fuzz_support.h"

#include "net/inflate.h"

#include <zlib.h>

#include <string>

namespace {

const size_t limit = 1 << 20;

// zlib in one call over the whole input: the reference.
bool inflateAtOnce(const uint8_t* data, size_t size, std::string& out, bool& oversize) {
    z_stream z = {};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    unsigned char block[4096];
    int status = Z_OK;
    oversize = false;
    while (status == Z_OK) {
        z.next_out = block;
        z.avail_out = sizeof(block);
        status = inflate(&z, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) break;
        out.append(reinterpret_cast<char*>(block), sizeof(block) - z.avail_out);
        if (out.size() > limit) {
            oversize = true;
            break;
        }
    }
    const bool whole = status == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return whole;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReplyInflater inflater;
    std::string out;
    InflateStep step = InflateStep::More;
    uint32_t hash = inputHash(data, size);
    size_t at = 0;
    while (at < size && step == InflateStep::More) {
        size_t piece = 1 + hash % 8192;
        hash = hash * 1103515245u + 12345u;
        if (piece > size - at) piece = size - at;
        step = inflatePiece(inflater, reinterpret_cast<const char*>(data) + at, piece, out, limit);
        FUZZ_CHECK(out.size() <= limit);
        at += piece;
    }
    const bool taken = step == InflateStep::More && inflateComplete(inflater);

    std::string expected;
    bool oversize = false;
    const bool whole = inflateAtOnce(data, size, expected, oversize);
    if (taken) {
        FUZZ_CHECK(whole);
        FUZZ_CHECK(out == expected);
    } else if (whole && !oversize) {
        // A stream zlib takes whole within the limit must be taken here too.
        FUZZ_CHECK(false);
    }
    if (step == InflateStep::Oversize) FUZZ_CHECK(oversize);
    return 0;
}
