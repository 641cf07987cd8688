// libFuzzer target: the decompressors on raw streams, without the archive around them.
// Input: one selector byte (bit 0: explode instead of inflate; bit 2: 8 KB dictionary;
// bit 3: literal tree), the declared size (32 bits, little-endian), then the stream.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "archive/Explode.h"
#include "archive/Inflate.h"

namespace {

class MemorySource : public InflateSource {
public:
    MemorySource(const uint8_t* data, size_t size) : m_data(data), m_left(size) {}
    size_t Read(unsigned char* buffer, size_t capacity) override
    {
        // Small, uneven reads reach the refill paths of both bit readers.
        size_t n = capacity < m_left ? capacity : m_left;
        if (n > 1 + (m_left % 4093)) n = 1 + (m_left % 4093);
        memcpy(buffer, m_data, n);
        m_data += n;
        m_left -= n;
        return n;
    }

private:
    const uint8_t* m_data;
    size_t m_left;
};

class CountingSink : public InflateSink {
public:
    explicit CountingSink(uint64_t limit) : m_limit(limit) {}
    bool Write(const unsigned char* data, size_t size) override
    {
        // The decompressors promise never to write more than declared.
        if (size > m_limit - m_written) __builtin_trap();
        m_written += size;
        volatile unsigned char touch = size ? data[size - 1] : 0;
        (void)touch;
        return true;
    }

private:
    uint64_t m_limit;
    uint64_t m_written = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5) return 0;
    uint8_t selector = data[0];
    uint64_t declared = (uint64_t)data[1] | (uint64_t)data[2] << 8 | (uint64_t)data[3] << 16 | (uint64_t)data[4] << 24;
    declared &= (1u << 21) - 1;  // at most 2 MB of output per input keeps runs fast
    MemorySource source(data + 5, size - 5);
    CountingSink sink(declared);
    if (selector & 1)
        Explode(source, sink, declared, (selector & 4) != 0, (selector & 8) != 0);
    else
        Inflate(source, sink, declared);
    return 0;
}
