#include "net/inflate.h"

#include "text/secret.h"

#include <zlib.h>

#include <cstring>

ReplyCoding replyCoding(const std::string& contentEncoding) {
    std::string word;
    for (char c : contentEncoding)
        if (c != ' ' && c != '\t') word += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (word.empty() || word == "identity") return ReplyCoding::Identity;
    if (word == "gzip" || word == "x-gzip") return ReplyCoding::Gzip;
    return ReplyCoding::Unknown;
}

ReplyInflater::ReplyInflater() : stream(new z_stream_s()) {
    // 16 + window bits: the gzip wrapper only, no zlib or raw deflate.
    ready = inflateInit2(stream.get(), 16 + MAX_WBITS) == Z_OK;
}

ReplyInflater::~ReplyInflater() {
    if (ready) inflateEnd(stream.get());
}

InflateStep inflatePiece(ReplyInflater& inflater, const char* data, size_t size, std::string& out, size_t limit) {
    if (!inflater.ready) return InflateStep::Corrupt;
    if (size == 0) return InflateStep::More;
    // One gzip member makes a reply: bytes after its trailer are no part of it.
    if (inflater.finished) return InflateStep::Corrupt;
    z_stream_s& z = *inflater.stream;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    z.avail_in = static_cast<uInt>(size);
    // Inflated bytes go through a block of our own: a reply may inflate to
    // far more than it is, and only the limit decides how much is kept.
    unsigned char block[16384];
    for (;;) {
        z.next_out = block;
        z.avail_out = sizeof(block);
        int status = inflate(&z, Z_NO_FLUSH);
        size_t produced = sizeof(block) - z.avail_out;
        if (status != Z_OK && status != Z_STREAM_END && !(status == Z_BUF_ERROR && produced == 0)) {
            wipeSecret(block, sizeof(block));
            return InflateStep::Corrupt;
        }
        if (out.size() + produced > limit) {
            wipeSecret(block, sizeof(block));
            return InflateStep::Oversize;
        }
        appendSecret(out, reinterpret_cast<const char*>(block), produced);
        if (status == Z_STREAM_END) {
            inflater.finished = true;
            wipeSecret(block, sizeof(block));
            return z.avail_in == 0 ? InflateStep::More : InflateStep::Corrupt;
        }
        // All input taken and nothing more to give out: wait for more bytes.
        if (z.avail_in == 0 && z.avail_out != 0) break;
        if (status == Z_BUF_ERROR) break;
    }
    wipeSecret(block, sizeof(block));
    return InflateStep::More;
}

bool inflateComplete(const ReplyInflater& inflater) { return inflater.finished; }
