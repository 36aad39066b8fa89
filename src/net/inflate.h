// Replies sent with "Content-Encoding: gzip", inflated with zlib piece by
// piece as they are read. Free of any system type: the fuzz target and the
// transport run the same code. The bytes come from the network: a stream
// that is cut, corrupt, followed by more bytes, or that inflates past the
// limit, is refused, never partly taken.
#pragma once
#include <cstddef>
#include <memory>
#include <string>

// What a reply's "Content-Encoding" asks of the reader.
enum class ReplyCoding { Identity, Gzip, Unknown };
ReplyCoding replyCoding(const std::string& contentEncoding);

enum class InflateStep { More, Corrupt, Oversize };

struct z_stream_s;
struct ReplyInflater {
    std::unique_ptr<z_stream_s> stream;
    bool ready = false;     // zlib took the stream
    bool finished = false;  // the gzip trailer has been read
    ReplyInflater();
    ~ReplyInflater();
    ReplyInflater(const ReplyInflater&) = delete;
    ReplyInflater& operator=(const ReplyInflater&) = delete;
};

// Inflates `size` raw bytes onto `out`, which may never grow past `limit`.
InflateStep inflatePiece(ReplyInflater& inflater, const char* data, size_t size, std::string& out, size_t limit);

// Whether the raw bytes seen so far ended with a whole gzip stream.
bool inflateComplete(const ReplyInflater& inflater);
