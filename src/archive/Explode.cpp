#include "archive/Explode.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <new>

namespace {

const size_t WindowSize = 8192;
const size_t ChunkSize = 65536;
// The most one step can write: a match of the longest length code (63) with its extra
// byte (255) and the minimum length with a literal tree (3).
const size_t LongestStep = 63 + 255 + 3;

// Decoding table indexed by the next 16 bits of the stream: symbol << 5 | code length.
struct Tree {
    uint16_t table[65536];
};

struct Bits {
    InflateSource& source;
    unsigned char input[65536];
    size_t pos = 0, length = 0;
    bool ended = false;
    uint64_t bits = 0;
    int count = 0;
    bool overrun = false;
    explicit Bits(InflateSource& s) : source(s) {}
    void Fill()
    {
        while (count <= 56) {
            if (pos == length) {
                if (ended) return;
                length = source.Read(input, sizeof(input));
                pos = 0;
                if (!length) {
                    ended = true;
                    return;
                }
            }
            bits |= (uint64_t)input[pos++] << count;
            count += 8;
        }
    }
    // Tops the bit buffer up to at least 56 bits, with one 8-byte load when the input allows:
    // enough for a whole step (a match takes at most 1 + 7 + 16 + 16 + 8 bits).
    void Refill()
    {
        if (length - pos >= 8) {
            uint64_t word;
            memcpy(&word, input + pos, 8);
            bits |= word << count;
            pos += (size_t)((63 - count) >> 3);
            count |= 56;
            return;
        }
        Fill();
    }
    uint32_t Peek16()
    {
        if (count < 16) Fill();
        return (uint32_t)(bits & 0xFFFF);
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
        if (count < n) Fill();
        uint32_t value = (uint32_t)(bits & ((1u << n) - 1));
        Drop(n);
        return value;
    }
    int Byte()
    {
        if (pos == length) {
            if (ended) return -1;
            length = source.Read(input, sizeof(input));
            pos = 0;
            if (!length) {
                ended = true;
                return -1;
            }
        }
        return input[pos++];
    }
};

uint16_t Reverse16(uint16_t value)
{
    uint16_t result = 0;
    for (int i = 0; i < 16; i++) result = (uint16_t)(result | (((value >> i) & 1) << (15 - i)));
    return result;
}

// Reads a tree description (bytes before the bit stream) and builds its decoding table.
bool ReadTree(Bits& bits, Tree& tree, int symbols)
{
    int first = bits.Byte();
    if (first < 0) return false;
    uint8_t lengths[256];
    int n = 0;
    for (int i = 0; i <= first; i++) {
        int value = bits.Byte();
        if (value < 0) return false;
        int count = (value >> 4) + 1, length = (value & 15) + 1;
        if (n + count > symbols) return false;
        while (count--) lengths[n++] = (uint8_t)length;
    }
    if (n != symbols) return false;
    // Codes from the longest length down, counting up; stable by symbol within a length.
    int order[256];
    for (int i = 0; i < symbols; i++) order[i] = i;
    std::stable_sort(order, order + symbols, [&](int a, int b) { return lengths[a] < lengths[b]; });
    uint16_t codes[256];
    uint32_t code = 0, increment = 0;
    int last = 0;
    for (int i = symbols - 1; i >= 0; i--) {
        code += increment;
        if (code > 0xFFFF) return false;  // over-subscribed
        int length = lengths[order[i]];
        if (length != last) {
            last = length;
            increment = 1u << (16 - length);
        }
        codes[order[i]] = (uint16_t)code;
    }
    memset(tree.table, 0, sizeof(tree.table));
    for (int s = 0; s < symbols; s++) {
        int length = lengths[s];
        // The stream carries a code most significant bit first.
        uint16_t stream = Reverse16(codes[s]) & (uint16_t)((1u << length) - 1);
        for (uint32_t fill = stream; fill < 65536; fill += 1u << length)
            tree.table[fill] = (uint16_t)(s << 5 | length);
    }
    return true;
}

int Decode(Bits& bits, const Tree& tree)
{
    uint16_t entry = tree.table[bits.Peek16()];
    if (!entry) return -1;
    bits.Drop(entry & 31);
    return entry >> 5;
}

// Copies a match of `count` bytes from `distance` bytes back, `produced` bytes into the
// output; bytes before the start of the output read as zeros.
void CopyMatch(unsigned char* to, uint64_t produced, uint64_t distance, uint64_t count)
{
    uint64_t done = 0;
    if (distance > produced) {
        done = std::min<uint64_t>(count, distance - produced);
        memset(to, 0, (size_t)done);
    }
    to += done;
    const unsigned char* from = to - distance;
    size_t left = (size_t)(count - done);
    if (distance >= left) {
        memcpy(to, from, left);
    } else if (distance >= 8) {
        // Overlapping by whole words: each reads only bytes already written.
        while (left >= 8) {
            uint64_t word;
            memcpy(&word, from, 8);
            memcpy(to, &word, 8);
            from += 8;
            to += 8;
            left -= 8;
        }
        while (left--) *to++ = *from++;
    } else {
        while (left--) *to++ = *from++;
    }
}

}  // namespace

InflateResult Explode(InflateSource& source, InflateSink& sink, uint64_t size, bool largeDictionary, bool literalTree)
{
    Bits* bits = new (std::nothrow) Bits(source);
    Tree* trees = (Tree*)malloc(3 * sizeof(Tree));
    unsigned char* out = (unsigned char*)malloc(WindowSize + ChunkSize);
    InflateResult result = InflateResult::Ok;
    if (!bits || !trees || !out) {
        delete bits;
        free(trees);
        free(out);
        return InflateResult::NoMemory;
    }
    Tree& literals = trees[0];
    Tree& lengths = trees[1];
    Tree& distances = trees[2];
    size_t pos = 0, flushed = 0;
    uint64_t produced = 0;
    int lowBits = largeDictionary ? 7 : 6;
    int minimum = literalTree ? 3 : 2;
    auto flush = [&]() {
        if (pos > flushed && !sink.Write(out + flushed, pos - flushed)) return false;
        if (pos > WindowSize) {
            memmove(out, out + pos - WindowSize, WindowSize);
            pos = WindowSize;
        }
        flushed = pos;
        return true;
    };
    if ((literalTree && !ReadTree(*bits, literals, 256)) || !ReadTree(*bits, lengths, 64) ||
        !ReadTree(*bits, distances, 64)) {
        result = bits->ended ? InflateResult::Truncated : InflateResult::Corrupt;
    }
    while (result == InflateResult::Ok && produced < size) {
        if (pos + LongestStep > WindowSize + ChunkSize && !flush()) {
            result = InflateResult::Stopped;
            break;
        }
        bits->Refill();
        if (bits->count >= 56) {
            // Whole steps without a check of the input: each takes at most 48 bits. A code
            // no tree holds leaves its step to the careful path below, which reports it.
            uint64_t b = bits->bits;
            int c = bits->count;
            const uint64_t lowMask = (1u << lowBits) - 1;
            while (c >= 48 && produced < size && pos + LongestStep <= WindowSize + ChunkSize) {
                uint64_t step = b;
                int stepCount = c;
                if (b & 1) {
                    b >>= 1;
                    unsigned literal;
                    if (literalTree) {
                        uint16_t entry = literals.table[b & 0xFFFF];
                        if (!entry) {
                            b = step;
                            c = stepCount;
                            break;
                        }
                        b >>= entry & 31;
                        c -= 1 + (entry & 31);
                        literal = entry >> 5;
                    } else {
                        literal = (unsigned)(b & 0xFF);
                        b >>= 8;
                        c -= 9;
                    }
                    out[pos++] = (unsigned char)literal;
                    produced++;
                    continue;
                }
                b >>= 1;
                uint64_t low = b & lowMask;
                b >>= lowBits;
                uint16_t high = distances.table[b & 0xFFFF];
                b >>= high & 31;
                uint16_t length = lengths.table[b & 0xFFFF];
                if (!high || !length) {
                    b = step;
                    c = stepCount;
                    break;
                }
                b >>= length & 31;
                c -= 1 + lowBits + (high & 31) + (length & 31);
                uint64_t count = (uint64_t)(length >> 5) + (uint64_t)minimum;
                if ((length >> 5) == 63) {
                    count += b & 0xFF;
                    b >>= 8;
                    c -= 8;
                }
                uint64_t distance = ((uint64_t)(high >> 5) << lowBits | low) + 1;
                if (count > size - produced) count = size - produced;
                CopyMatch(out + pos, produced, distance, count);
                pos += (size_t)count;
                produced += count;
            }
            bits->bits = b;
            bits->count = c;
            if (produced >= size) break;
            // Out of bits or of room: refill or flush first. Else a bad code stopped the
            // steps, and the careful step below reports it.
            if (c < 48 || pos + LongestStep > WindowSize + ChunkSize) continue;
        }
        if (bits->Get(1)) {
            int literal = literalTree ? Decode(*bits, literals) : (int)bits->Get(8);
            if (literal < 0) {
                result = InflateResult::Corrupt;
                break;
            }
            out[pos++] = (unsigned char)literal;
            produced++;
        } else {
            uint32_t low = bits->Get(lowBits);
            int high = Decode(*bits, distances);
            int length = Decode(*bits, lengths);
            if (high < 0 || length < 0) {
                result = InflateResult::Corrupt;
                break;
            }
            uint64_t distance = ((uint64_t)high << lowBits | low) + 1;
            uint64_t count = (uint64_t)length + (length == 63 ? bits->Get(8) : 0) + (uint64_t)minimum;
            if (count > size - produced) count = size - produced;
            CopyMatch(out + pos, produced, distance, count);
            pos += (size_t)count;
            produced += count;
        }
        if (bits->overrun) result = InflateResult::Truncated;
    }
    if (result == InflateResult::Ok && !flush()) result = InflateResult::Stopped;
    delete bits;
    free(trees);
    free(out);
    return result;
}
