#include "archive/Inflate.h"

#include <stdlib.h>
#include <string.h>

#include <new>

namespace {

const int FastBits = 10;
const size_t WindowSize = 32768;
const size_t ChunkSize = 262144;

struct Huffman {
    uint16_t counts[16];
    uint16_t symbols[320];
    uint16_t fast[1 << FastBits];  // symbol << 4 | length; 0: not in the fast table
};

// Builds a canonical code; false when the lengths over-subscribe the code space.
bool Build(Huffman& h, const uint8_t* lengths, int n)
{
    memset(h.counts, 0, sizeof(h.counts));
    memset(h.fast, 0, sizeof(h.fast));
    for (int i = 0; i < n; i++) h.counts[lengths[i]]++;
    h.counts[0] = 0;
    int left = 1;
    for (int len = 1; len < 16; len++) {
        left <<= 1;
        left -= h.counts[len];
        if (left < 0) return false;
    }
    uint16_t offsets[16];
    offsets[1] = 0;
    for (int len = 1; len < 15; len++) offsets[len + 1] = (uint16_t)(offsets[len] + h.counts[len]);
    for (int i = 0; i < n; i++)
        if (lengths[i]) h.symbols[offsets[lengths[i]]++] = (uint16_t)i;
    // Fast entries: the canonical code of each short symbol, bit-reversed for the stream.
    int code = 0, index = 0;
    for (int len = 1; len <= FastBits; len++) {
        for (int k = 0; k < h.counts[len]; k++, code++, index++) {
            int reversed = 0;
            for (int b = 0; b < len; b++) reversed |= ((code >> b) & 1) << (len - 1 - b);
            uint16_t entry = (uint16_t)(h.symbols[index] << 4 | len);
            for (int fill = reversed; fill < (1 << FastBits); fill += 1 << len) h.fast[fill] = entry;
        }
        code <<= 1;
    }
    return true;
}

// Decodes the symbol at the start of `bits` (at least 15 valid bits) without consuming it;
// -1 for a code the table does not hold.
inline int Peek(const Huffman& h, uint64_t bits, int& length)
{
    uint16_t entry = h.fast[bits & ((1u << FastBits) - 1)];
    if (entry) {
        length = entry & 15;
        return entry >> 4;
    }
    int code = 0, first = 0, index = 0;
    for (int len = 1; len < 16; len++) {
        code |= (int)((bits >> (len - 1)) & 1);
        int n = h.counts[len];
        if (code - first < n) {
            length = len;
            return h.symbols[index + code - first];
        }
        index += n;
        first += n;
        first <<= 1;
        code <<= 1;
    }
    return -1;
}

struct State {
    InflateSource& source;
    InflateSink& sink;
    uint64_t limit;
    uint64_t produced = 0;
    unsigned char input[65536];
    size_t inPos = 0, inLength = 0;
    bool inputEnded = false;
    uint64_t bits = 0;
    int count = 0;
    bool overrun = false;
    unsigned char* out = nullptr;
    size_t pos = 0;      // next write position in `out`
    size_t flushed = 0;  // bytes of `out` already handed to the sink
    InflateResult failure = InflateResult::Ok;

    State(InflateSource& s, InflateSink& k, uint64_t l) : source(s), sink(k), limit(l) {}

    void Fill()
    {
        while (count <= 56) {
            if (inPos == inLength) {
                if (inputEnded) return;
                inLength = source.Read(input, sizeof(input));
                inPos = 0;
                if (inLength == 0) {
                    inputEnded = true;
                    return;
                }
            }
            bits |= (uint64_t)input[inPos++] << count;
            count += 8;
        }
    }
    // Tops the bit buffer up to at least 56 bits with one 8-byte load when the input allows.
    void FastFill()
    {
        if (inLength - inPos >= 8) {
            uint64_t word;
            memcpy(&word, input + inPos, 8);
            bits |= word << count;
            inPos += (size_t)((63 - count) >> 3);
            count |= 56;
            return;
        }
        Fill();
    }
    void Drop(int n)
    {
        if (n > count) {
            overrun = true;
            bits = 0;
            count = 0;
            return;
        }
        bits >>= n;
        count -= n;
    }
    uint32_t Get(int n)
    {
        if (n == 0) return 0;
        if (count < n) Fill();
        uint32_t value = (uint32_t)(bits & ((1ull << n) - 1));
        Drop(n);
        return value;
    }
    int Decode(const Huffman& h)
    {
        if (count < 15) Fill();
        int length;
        int symbol = Peek(h, bits, length);
        if (symbol >= 0) Drop(length);
        return symbol;
    }
    // Decode, recording why it failed (input ended, or a code no table holds) as -1.
    int DecodeChecked(const Huffman& h)
    {
        int symbol = Decode(h);
        if (overrun) {
            failure = InflateResult::Truncated;
            return -1;
        }
        if (symbol < 0) failure = InflateResult::Corrupt;
        return symbol;
    }
    // Hands finished output to the sink and keeps the last 32 KB as the window.
    bool Flush()
    {
        if (pos > flushed && !sink.Write(out + flushed, pos - flushed)) {
            failure = InflateResult::Stopped;
            return false;
        }
        if (pos > WindowSize) {
            memmove(out, out + pos - WindowSize, WindowSize);
            pos = WindowSize;
        }
        flushed = pos;
        return true;
    }
    bool Room(size_t needed)
    {
        if (pos + needed <= WindowSize + ChunkSize) return true;
        return Flush();
    }
};

const uint16_t LengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t LengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t DistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                   193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t DistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Copies a match of `length` bytes from `distance` bytes back; an overlapping match repeats
// what it has just written, byte by byte.
inline void CopyMatch(unsigned char* to, size_t distance, size_t length)
{
    const unsigned char* from = to - distance;
    if (distance >= length) {
        memcpy(to, from, length);
    } else if (distance == 1) {
        memset(to, *from, length);
    } else {
        for (size_t i = 0; i < length; i++) to[i] = from[i];
    }
}

// The hot loop keeps the bit buffer and the output position in locals: writes through the
// output pointer could otherwise alias the state and force reloads.
bool Codes(State& s, const Huffman& literals, const Huffman& distances)
{
    const size_t capacity = WindowSize + ChunkSize;
    unsigned char* out = s.out;
    for (;;) {
        // The fast path: enough input for an 8-byte refill and room for the longest match.
        if (s.inLength - s.inPos >= 8 && s.pos + 258 <= capacity && s.limit - s.produced >= 258) {
            uint64_t bits = s.bits;
            int count = s.count;
            size_t inPos = s.inPos;
            size_t pos = s.pos;
            uint64_t produced = s.produced;
            const size_t inLimit = s.inLength - 8;
            const size_t posLimit = capacity - 258;
            const uint64_t producedLimit = s.limit - 258;
            while (inPos <= inLimit && pos <= posLimit && produced <= producedLimit) {
                if (count < 48) {
                    uint64_t word;
                    memcpy(&word, s.input + inPos, 8);
                    bits |= word << count;
                    inPos += (size_t)((63 - count) >> 3);
                    count |= 56;
                }
                int codeLength;
                int symbol = Peek(literals, bits, codeLength);
                if (symbol < 0 || symbol == 256 || symbol >= 286) break;  // the careful path ends or rejects it
                bits >>= codeLength;
                count -= codeLength;
                if (symbol < 256) {
                    out[pos++] = (unsigned char)symbol;
                    produced++;
                    continue;
                }
                symbol -= 257;
                int extra = LengthExtra[symbol];
                size_t length = LengthBase[symbol] + (size_t)(bits & ((1u << extra) - 1));
                bits >>= extra;
                count -= extra;
                int distanceSymbol = Peek(distances, bits, codeLength);
                if (distanceSymbol < 0 || distanceSymbol >= 30) {
                    s.failure = InflateResult::Corrupt;
                    return false;
                }
                bits >>= codeLength;
                count -= codeLength;
                int distanceBits = DistanceExtra[distanceSymbol];
                size_t distance = DistanceBase[distanceSymbol] + (size_t)(bits & ((1u << distanceBits) - 1));
                bits >>= distanceBits;
                count -= distanceBits;
                if (distance > produced) {
                    s.failure = InflateResult::Corrupt;
                    return false;
                }
                CopyMatch(out + pos, distance, length);
                pos += length;
                produced += length;
            }
            s.bits = bits;
            s.count = count;
            s.inPos = inPos;
            s.pos = pos;
            s.produced = produced;
        }
        // The careful path: one symbol with every check.
        if (s.count < 48) s.Fill();
        int symbol = s.DecodeChecked(literals);
        if (symbol < 0) return false;
        if (symbol < 256) {
            if (s.produced >= s.limit) {
                s.failure = InflateResult::TooLarge;
                return false;
            }
            if (s.pos >= capacity && !s.Flush()) return false;
            s.out[s.pos++] = (unsigned char)symbol;
            s.produced++;
            continue;
        }
        if (symbol == 256) return true;
        symbol -= 257;
        if (symbol >= 29) {
            s.failure = InflateResult::Corrupt;
            return false;
        }
        size_t length = LengthBase[symbol] + s.Get(LengthExtra[symbol]);
        int distanceSymbol = s.Decode(distances);
        if (distanceSymbol < 0 || distanceSymbol >= 30) {
            s.failure = s.overrun ? InflateResult::Truncated : InflateResult::Corrupt;
            return false;
        }
        size_t distance = DistanceBase[distanceSymbol] + s.Get(DistanceExtra[distanceSymbol]);
        if (s.overrun) {
            s.failure = InflateResult::Truncated;
            return false;
        }
        if (distance > s.produced) {
            s.failure = InflateResult::Corrupt;
            return false;
        }
        if (s.produced + length > s.limit) {
            s.failure = InflateResult::TooLarge;
            return false;
        }
        if (!s.Room(length)) return false;
        CopyMatch(s.out + s.pos, distance, length);
        s.pos += length;
        s.produced += length;
    }
}

bool Stored(State& s)
{
    s.Drop(s.count & 7);
    // The fast refill may have left bits of following bytes above `count`; the bytes of a
    // stored block are read from the input directly, so those bits must go.
    s.bits &= s.count ? (~0ull >> (64 - s.count)) : 0;
    uint32_t length = s.Get(16);
    uint32_t complement = s.Get(16);
    if (s.overrun) {
        s.failure = InflateResult::Truncated;
        return false;
    }
    if ((length ^ 0xFFFF) != complement) {
        s.failure = InflateResult::Corrupt;
        return false;
    }
    if (s.produced + length > s.limit) {
        s.failure = InflateResult::TooLarge;
        return false;
    }
    while (length > 0) {
        if (!s.Room(1)) return false;
        size_t room = WindowSize + ChunkSize - s.pos;
        // Bytes still in the bit buffer come first, then straight from the input.
        if (s.count >= 8) {
            s.out[s.pos++] = (unsigned char)s.Get(8);
            s.produced++;
            length--;
            continue;
        }
        if (s.inPos == s.inLength) {
            if (s.inputEnded) {
                s.failure = InflateResult::Truncated;
                return false;
            }
            s.inLength = s.source.Read(s.input, sizeof(s.input));
            s.inPos = 0;
            if (s.inLength == 0) {
                s.inputEnded = true;
                s.failure = InflateResult::Truncated;
                return false;
            }
        }
        size_t take = s.inLength - s.inPos;
        if (take > length) take = length;
        if (take > room) take = room;
        memcpy(s.out + s.pos, s.input + s.inPos, take);
        s.inPos += take;
        s.pos += take;
        s.produced += take;
        length -= (uint32_t)take;
    }
    return true;
}

struct FixedCodes {
    Huffman literals;
    Huffman distances;
    FixedCodes()
    {
        uint8_t lengths[320];
        for (int i = 0; i < 144; i++) lengths[i] = 8;
        for (int i = 144; i < 256; i++) lengths[i] = 9;
        for (int i = 256; i < 280; i++) lengths[i] = 7;
        for (int i = 280; i < 288; i++) lengths[i] = 8;
        Build(literals, lengths, 288);
        for (int i = 0; i < 30; i++) lengths[i] = 5;
        Build(distances, lengths, 30);
    }
};

const FixedCodes& Fixed()
{
    static const FixedCodes codes;
    return codes;
}

bool Dynamic(State& s, Huffman& literals, Huffman& distances)
{
    static const uint8_t Order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    int literalCount = (int)s.Get(5) + 257;
    int distanceCount = (int)s.Get(5) + 1;
    int codeCount = (int)s.Get(4) + 4;
    if (literalCount > 286 || distanceCount > 30) {
        s.failure = InflateResult::Corrupt;
        return false;
    }
    uint8_t lengths[320];
    memset(lengths, 0, sizeof(lengths));
    for (int i = 0; i < codeCount; i++) lengths[Order[i]] = (uint8_t)s.Get(3);
    Huffman lengthCode;
    if (s.overrun || !Build(lengthCode, lengths, 19)) {
        s.failure = s.overrun ? InflateResult::Truncated : InflateResult::Corrupt;
        return false;
    }
    int index = 0;
    while (index < literalCount + distanceCount) {
        int symbol = s.DecodeChecked(lengthCode);
        if (symbol < 0) return false;
        if (symbol < 16) {
            lengths[index++] = (uint8_t)symbol;
            continue;
        }
        uint8_t value = 0;
        int repeat;
        if (symbol == 16) {
            if (index == 0) {
                s.failure = InflateResult::Corrupt;
                return false;
            }
            value = lengths[index - 1];
            repeat = 3 + (int)s.Get(2);
        } else if (symbol == 17) {
            repeat = 3 + (int)s.Get(3);
        } else {
            repeat = 11 + (int)s.Get(7);
        }
        if (index + repeat > literalCount + distanceCount) {
            s.failure = InflateResult::Corrupt;
            return false;
        }
        while (repeat--) lengths[index++] = value;
    }
    if (lengths[256] == 0 || !Build(literals, lengths, literalCount) ||
        !Build(distances, lengths + literalCount, distanceCount)) {
        s.failure = InflateResult::Corrupt;
        return false;
    }
    return true;
}

}  // namespace

InflateResult Inflate(InflateSource& source, InflateSink& sink, uint64_t limit, uint64_t* produced)
{
    State* s = new (std::nothrow) State(source, sink, limit);
    Huffman* tables = (Huffman*)malloc(2 * sizeof(Huffman));
    unsigned char* out = (unsigned char*)malloc(WindowSize + ChunkSize);
    if (!s || !tables || !out) {
        delete s;
        free(tables);
        free(out);
        return InflateResult::NoMemory;
    }
    s->out = out;
    bool last = false;
    while (!last && s->failure == InflateResult::Ok) {
        last = s->Get(1) != 0;
        uint32_t type = s->Get(2);
        if (s->overrun) {
            s->failure = InflateResult::Truncated;
            break;
        }
        bool ok;
        if (type == 0) {
            ok = Stored(*s);
        } else if (type == 1) {
            ok = Codes(*s, Fixed().literals, Fixed().distances);
        } else if (type == 2) {
            ok = Dynamic(*s, tables[0], tables[1]) && Codes(*s, tables[0], tables[1]);
        } else {
            s->failure = InflateResult::Corrupt;
            ok = false;
        }
        if (!ok && s->failure == InflateResult::Ok) s->failure = InflateResult::Corrupt;
    }
    if (s->failure == InflateResult::Ok) s->Flush();
    InflateResult result = s->failure;
    if (produced) *produced = s->produced;
    free(out);
    free(tables);
    delete s;
    return result;
}
