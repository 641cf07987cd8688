// Decompression of raw deflate streams (RFC 1951) with bounded output.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Receives decompressed bytes; answers false to stop (the result is then Stopped).
class InflateSink {
public:
    virtual ~InflateSink() {}
    virtual bool Write(const unsigned char* data, size_t size) = 0;
};

// Supplies compressed bytes; answers the number read, 0 at the end.
class InflateSource {
public:
    virtual ~InflateSource() {}
    virtual size_t Read(unsigned char* buffer, size_t capacity) = 0;
};

enum class InflateResult {
    Ok,          // the final block ended
    Truncated,   // the input ended first
    Corrupt,     // invalid codes, lengths or distances
    TooLarge,    // more output than allowed
    Stopped,     // the sink refused
    NoMemory,
};

// Inflates until the final block; at most `limit` bytes are produced.
InflateResult Inflate(InflateSource& source, InflateSink& sink, uint64_t limit, uint64_t* produced = nullptr);
