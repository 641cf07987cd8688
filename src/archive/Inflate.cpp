#include "archive/Inflate.h"

#include <stdlib.h>
#include <string.h>

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#endif

#include <new>

namespace {

const size_t WindowSize = 32768;
const size_t ChunkSize = 262144;
// Match copies move whole 8-byte words and may write up to 15 bytes past a match's end.
const size_t CopySlack = 16;

// A decoding table: a main table indexed by the next `mainBits` bits of the stream, and
// subtables for longer codes. Each entry carries what a symbol means, so that the hot loop
// needs one lookup per symbol:
//   bits 0-5    the bits to consume: the code's full length and the extra bits that
//               follow it (lengths and distances); a subtable pointer: its index bits
//   bits 8-12   the code's full length alone
//   bit 13      a literal (or, in the code-length code, a plain symbol)
//   bit 14      the end of the block
//   bit 15      a pointer to a subtable
//   bits 16-31  the literal, the base of a length or distance, or the subtable's offset
// An entry of 0 is a code the table does not hold (or a symbol that deflate forbids).
const uint32_t LengthMask = 63;
const int CodeShift = 8;
const uint32_t LiteralFlag = 1u << 13;
const uint32_t EndFlag = 1u << 14;
const uint32_t SubtableFlag = 1u << 15;

inline uint32_t EntryLength(uint32_t entry) { return entry & LengthMask; }
inline uint32_t EntryCode(uint32_t entry) { return (entry >> CodeShift) & 31; }
inline uint32_t EntryExtra(uint32_t entry) { return EntryLength(entry) - EntryCode(entry); }
inline uint32_t EntryValue(uint32_t entry) { return entry >> 16; }
// The extra bits of a length or distance whose code starts `bits`: those up to the
// entry's bits to consume (28 at most), past its code.
inline uint32_t ExtraBits(uint32_t entry, uint64_t bits)
{
    return ((uint32_t)bits & ((1u << EntryLength(entry)) - 1)) >> EntryCode(entry);
}

enum class Alphabet { LiteralLength, Distance, Plain };

const int LiteralMainBits = 11;
const int DistanceMainBits = 8;
const int PlainMainBits = 7;

// Room for the largest tables a valid set of lengths can make: the main table, and per
// long code at most one subtable of at most 2^(15 - main bits) entries.
const size_t TableEntries = (1u << LiteralMainBits) + 288 * (1u << (15 - LiteralMainBits));

struct Table {
    int mainBits;
    uint32_t entries[TableEntries];
};

const uint16_t LengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t LengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t DistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                   193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t DistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// What a symbol of the alphabet means, as an entry without its lengths but with its extra
// bits in the place of the code length; 0 when deflate forbids the symbol.
uint32_t Meaning(Alphabet alphabet, int symbol)
{
    switch (alphabet) {
    case Alphabet::LiteralLength:
        if (symbol < 256) return (uint32_t)symbol << 16 | LiteralFlag;
        if (symbol == 256) return EndFlag;
        if (symbol < 286) return (uint32_t)LengthBase[symbol - 257] << 16 | (uint32_t)LengthExtra[symbol - 257] << CodeShift;
        return 0;
    case Alphabet::Distance:
        if (symbol < 30) return (uint32_t)DistanceBase[symbol] << 16 | (uint32_t)DistanceExtra[symbol] << CodeShift;
        return 0;
    case Alphabet::Plain:
        return (uint32_t)symbol << 16 | LiteralFlag;
    }
    return 0;
}

// The entry of `symbol` with a code of `len` bits: its meaning with the code's length and
// the bits to consume (code and extra bits); 0 for a symbol deflate forbids.
inline uint32_t CodeEntry(Alphabet alphabet, int symbol, int len)
{
    uint32_t meaning = Meaning(alphabet, symbol);
    return meaning ? (meaning & ~(31u << CodeShift)) | ((uint32_t)len + EntryCode(meaning)) | (uint32_t)len << CodeShift : 0;
}

// Builds the table of a canonical code; false when the lengths over-subscribe the code
// space. Codes the lengths leave unused decode as 0.
//
// The main table grows with the code lengths: the codes of length 1 are written into a
// table of 2 entries, which is then doubled by copying, the codes of length 2 are written
// into those 4, and so on up to the main table's size; so each short code is written once
// and the copies replicate it wherever its bits come first. Codes are taken in canonical
// order and carried bit-reversed, as the stream carries them.
bool Build(Table& table, const uint8_t* lengths, int n, Alphabet alphabet)
{
    const int mainBits = alphabet == Alphabet::LiteralLength ? LiteralMainBits
                         : alphabet == Alphabet::Distance    ? DistanceMainBits
                                                             : PlainMainBits;
    table.mainBits = mainBits;
    uint16_t counts[16] = {0};
    for (int i = 0; i < n; i++) counts[lengths[i]]++;
    counts[0] = 0;
    int left = 1;
    for (int len = 1; len < 16; len++) {
        left <<= 1;
        left -= counts[len];
        if (left < 0) return false;
    }
    // The symbols by length, each length in symbol order: the canonical order.
    uint16_t offsets[16];
    offsets[1] = 0;
    for (int len = 1; len < 15; len++) offsets[len + 1] = (uint16_t)(offsets[len] + counts[len]);
    uint16_t sorted[320];
    for (int i = 0; i < n; i++)
        if (lengths[i]) sorted[offsets[lengths[i]]++] = (uint16_t)i;

    uint32_t* entries = table.entries;
    const uint32_t mainSize = 1u << mainBits;
    // A complete code fills every entry; an incomplete one leaves holes that must read 0,
    // and zeros in the first table are copied along with it.
    const bool complete = left == 0;
    entries[0] = entries[1] = 0;
    uint16_t reversed[320];
    uint32_t code = 0;  // the next code, bit-reversed
    uint32_t size = 2;
    int next = 0;
    for (int len = 1; len < 16; len++) {
        for (int c = 0; c < counts[len]; c++) {
            int symbol = sorted[next];
            reversed[next++] = (uint16_t)code;  // in canonical order, as `sorted`
            if (len <= mainBits) entries[code] = CodeEntry(alphabet, symbol, len);
            // The canonical successor: add one to the code, seen from its first bit.
            uint32_t bit = 1u << (len - 1);
            while (code & bit) {
                code ^= bit;
                bit >>= 1;
            }
            code |= bit;
        }
        if (len < mainBits) {
            memcpy(entries + size, entries, size * sizeof(uint32_t));
            size <<= 1;
        }
    }
    // Subtables: one per main index that begins longer codes, as deep as its longest code.
    // The long codes come last in canonical order, and the deepest code of a main index
    // comes last among them; until its subtable is made, the main entry of an index that
    // begins long codes reads 0 (no short code has its bits), so it can hold the depth.
    int shortCodes = 0;
    for (int len = 1; len <= mainBits; len++) shortCodes += counts[len];
    for (int k = shortCodes; k < next; k++)
        entries[reversed[k] & (mainSize - 1)] = (uint32_t)(lengths[sorted[k]] - mainBits);
    uint32_t used = mainSize;
    for (int k = shortCodes; k < next; k++) {
        int symbol = sorted[k], len = lengths[symbol];
        uint32_t& pointer = entries[reversed[k] & (mainSize - 1)];
        if (!(pointer & SubtableFlag)) {
            uint32_t subtableSize = 1u << pointer;
            if (used + subtableSize > TableEntries) return false;  // cannot happen with valid lengths
            if (!complete) memset(entries + used, 0, subtableSize * sizeof(uint32_t));
            pointer = used << 16 | SubtableFlag | pointer;
            used += subtableSize;
        }
        uint32_t entry = CodeEntry(alphabet, symbol, len);
        uint32_t base = EntryValue(pointer), bits = EntryLength(pointer);
        for (uint32_t fill = (uint32_t)reversed[k] >> mainBits; fill < (1u << bits); fill += 1u << (len - mainBits))
            entries[base + fill] = entry;
    }
    return true;
}

// The entry for the code at the start of `bits` (at least 15 valid bits, or zeros past the
// end of the input).
inline uint32_t Lookup(const Table& table, uint64_t bits)
{
    uint32_t entry = table.entries[bits & ((1u << table.mainBits) - 1)];
    if (entry & SubtableFlag)
        entry = table.entries[EntryValue(entry) + ((uint32_t)(bits >> table.mainBits) & ((1u << EntryLength(entry)) - 1))];
    return entry;
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
    // The entry of the next code, consumed; 0 for a code no table holds (not consumed).
    uint32_t Decode(const Table& table)
    {
        if (count < 15) Fill();
        uint32_t entry = Lookup(table, bits);
        if (entry) Drop((int)EntryCode(entry));
        return entry;
    }
    // Decode, recording why it failed (input ended, or a code no table holds) as 0.
    uint32_t DecodeChecked(const Table& table)
    {
        uint32_t entry = Decode(table);
        if (overrun) {
            failure = InflateResult::Truncated;
            return 0;
        }
        if (!entry) failure = InflateResult::Corrupt;
        return entry;
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

// Copies a match of `length` bytes from `distance` bytes back, in whole words where the
// distance allows; up to 15 bytes past the end may be written (the output has room for
// them). An overlapping match repeats what it has just written.
inline void CopyMatch(unsigned char* to, size_t distance, size_t length)
{
    const unsigned char* from = to - distance;
    unsigned char* end = to + length;
    if (distance >= 8) {
        // Most matches are short: two words without a loop, then the rest.
        uint64_t word;
        memcpy(&word, from, 8);
        memcpy(to, &word, 8);
        memcpy(&word, from + 8, 8);
        memcpy(to + 8, &word, 8);
        from += 16;
        to += 16;
        while (to < end) {
            memcpy(&word, from, 8);
            memcpy(to, &word, 8);
            from += 8;
            to += 8;
        }
    } else if (distance == 1) {
        uint64_t word = 0x0101010101010101ull * *from;
        do {
            memcpy(to, &word, 8);
            to += 8;
        } while (to < end);
    } else {
        // A short repeating pattern: its first 8 bytes one by one, then words taken as
        // many whole periods back as make 8 bytes or more (all written by then).
        size_t head = length < 8 ? length : 8;
        for (size_t i = 0; i < head; i++) to[i] = from[i];
        to += head;
        size_t step = distance * ((8 + distance - 1) / distance);
        while (to < end) {
            uint64_t word;
            memcpy(&word, to - step, 8);
            memcpy(to, &word, 8);
            to += 8;
        }
    }
}

// The hot loop keeps the bit buffer and the output position in locals: writes through the
// output pointer could otherwise alias the state and force reloads. It is compiled twice on
// x86 (see Codes below), so it is always inlined into its two callers.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((always_inline))
#endif
inline bool CodesBody(State& s, const Table& literals, const Table& distances)
{
    const size_t capacity = WindowSize + ChunkSize;
    unsigned char* out = s.out;
    const uint32_t literalMask = (1u << LiteralMainBits) - 1;
    const uint32_t distanceMask = (1u << DistanceMainBits) - 1;
    for (;;) {
        // The fast path: enough input for 8-byte refills, room for the longest match (and
        // the copy's overrun) in the buffer and within the limit.
        if (s.inLength - s.inPos >= 16 && s.pos + 258 <= capacity && s.limit - s.produced >= 258) {
            uint64_t bits = s.bits;
            // Only the low 6 bits of `count` matter here (the count is 0..63): whole entries
            // are subtracted, as their bits to consume are their low 6 bits, and the shifts
            // by it take those 6 bits alone.
            uint32_t count = (uint32_t)s.count;
            size_t inPos = s.inPos;
            size_t pos = s.pos;
            // Output before the buffer's first byte: what the window has lost, so that the
            // bytes produced so far are pos + before.
            const uint64_t before = s.produced - s.pos;
            // A step refills once, reading 8 bytes.
            const size_t inLimit = s.inLength - 16;
            uint64_t room = s.limit - s.produced - 258;
            const size_t posLimit = capacity - 258 < s.pos + room ? capacity - 258 : (size_t)(s.pos + room);
            const unsigned char* input = s.input;
            const uint32_t* literalEntries = literals.entries;
            const uint32_t* distanceEntries = distances.entries;
            // Branch-free refill to at least 56 bits; bits past `count` are always either
            // zero or the stream's next bits, so refilling a full buffer changes nothing.
            // Right after a refill all 64 bits are the stream's (`count` leaves out the
            // part of the byte at `inPos` that is already there), and a step starts there.
            auto refill = [&] {
                uint64_t word;
                memcpy(&word, input + inPos, 8);
                bits |= word << (count & 63);
                inPos += (size_t)((~count & 63) >> 3);
                count |= 56;
            };
            refill();
            // The main-table entry of the next code is looked up as soon as its bits are
            // there (11 of them), before the work on the current code: the lookup's
            // latency then overlaps that work. A subtable is followed after the next
            // refill, when all 15 bits are. Three literals (15 bits each) leave 19 of the
            // 64; a length and a distance with their extra bits (20 and 28) leave 16.
            uint32_t entry = literalEntries[bits & literalMask];
            while (inPos <= inLimit && pos <= posLimit) {
                refill();
                if (entry & SubtableFlag) entry = Lookup(literals, bits);
                // A code and its extra bits go in one shift; the extra bits are taken from
                // the bits as they were.
                const uint64_t saved = bits;
                bits >>= EntryLength(entry);
                count -= entry;
                if (entry & LiteralFlag) {
                    // Two more literals, and the next lookup from what they leave.
                    out[pos++] = (unsigned char)EntryValue(entry);
                    entry = literalEntries[bits & literalMask];
                    if (!(entry & LiteralFlag)) continue;
                    bits >>= EntryLength(entry);
                    count -= entry;
                    out[pos++] = (unsigned char)EntryValue(entry);
                    entry = literalEntries[bits & literalMask];
                    if (!(entry & LiteralFlag)) continue;
                    bits >>= EntryLength(entry);
                    count -= entry;
                    out[pos++] = (unsigned char)EntryValue(entry);
                    entry = literalEntries[bits & literalMask];
                    continue;
                }
                // Lengths start at 3: only the end of the block and a code no table holds
                // have no value.
                if (entry < (1u << 16)) {
                    // The careful path ends the block or rejects the code.
                    bits = saved;
                    count += entry;
                    break;
                }
                // A length with its extra bits (20 at most) leaves 44 for the distance (28).
                size_t length = EntryValue(entry) + ExtraBits(entry, saved);
                entry = distanceEntries[bits & distanceMask];
                if (entry & SubtableFlag) entry = Lookup(distances, bits);
                const uint64_t distanceBits = bits;
                bits >>= EntryLength(entry);
                count -= entry;
                size_t distance = EntryValue(entry) + ExtraBits(entry, distanceBits);
                // A code no table holds reads 0 and gives distance 0: one test rejects it
                // and a distance beyond the output so far.
                if (distance - 1 >= pos + before) {
                    s.produced = pos + before;
                    s.failure = InflateResult::Corrupt;
                    return false;
                }
                entry = literalEntries[bits & literalMask];
                CopyMatch(out + pos, distance, length);
                pos += length;
            }
            s.bits = bits;
            s.count = (int)(count & 63);
            s.inPos = inPos;
            s.pos = pos;
            s.produced = pos + before;
        }
        // The careful path: one symbol with every check.
        if (s.count < 48) s.Fill();
        uint32_t entry = s.DecodeChecked(literals);
        if (!entry) return false;
        if (entry & LiteralFlag) {
            if (s.produced >= s.limit) {
                s.failure = InflateResult::TooLarge;
                return false;
            }
            if (s.pos >= capacity && !s.Flush()) return false;
            s.out[s.pos++] = (unsigned char)EntryValue(entry);
            s.produced++;
            continue;
        }
        if (entry & EndFlag) return true;
        size_t length = EntryValue(entry) + s.Get((int)EntryExtra(entry));
        entry = s.Decode(distances);
        if (!entry) {
            s.failure = s.overrun ? InflateResult::Truncated : InflateResult::Corrupt;
            return false;
        }
        size_t distance = EntryValue(entry) + s.Get((int)EntryExtra(entry));
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

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
// Processors with BMI2 shift by a register without the count in CL and take the low bits
// of a word in one instruction (SHRX, BZHI): the decoder's shift-and-mask chains get
// shorter. The same loop is compiled once for them and once for any x86.
bool HasBmi2()
{
    static const bool has = [] {
        unsigned int a = 0, b = 0, c = 0, d = 0;
        if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
        return (b & bit_BMI) != 0 && (b & bit_BMI2) != 0;
    }();
    return has;
}

__attribute__((target("bmi,bmi2"))) bool CodesBmi2(State& s, const Table& literals, const Table& distances)
{
    return CodesBody(s, literals, distances);
}

bool CodesPlain(State& s, const Table& literals, const Table& distances)
{
    return CodesBody(s, literals, distances);
}

bool Codes(State& s, const Table& literals, const Table& distances)
{
    return HasBmi2() ? CodesBmi2(s, literals, distances) : CodesPlain(s, literals, distances);
}
#else
bool Codes(State& s, const Table& literals, const Table& distances)
{
    return CodesBody(s, literals, distances);
}
#endif

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
        if (take >= WindowSize) {
            // A long run of stored bytes goes to the sink straight from the input; the
            // window keeps only its last 32 KB.
            if (!s.Flush()) return false;
            if (!s.sink.Write(s.input + s.inPos, take)) {
                s.failure = InflateResult::Stopped;
                return false;
            }
            memcpy(s.out, s.input + s.inPos + take - WindowSize, WindowSize);
            s.pos = s.flushed = WindowSize;
            s.inPos += take;
            s.produced += take;
            length -= (uint32_t)take;
            continue;
        }
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
    Table literals;
    Table distances;
    FixedCodes()
    {
        uint8_t lengths[320];
        for (int i = 0; i < 144; i++) lengths[i] = 8;
        for (int i = 144; i < 256; i++) lengths[i] = 9;
        for (int i = 256; i < 280; i++) lengths[i] = 7;
        for (int i = 280; i < 288; i++) lengths[i] = 8;
        Build(literals, lengths, 288, Alphabet::LiteralLength);
        for (int i = 0; i < 30; i++) lengths[i] = 5;
        Build(distances, lengths, 30, Alphabet::Distance);
    }
};

const FixedCodes& Fixed()
{
    static const FixedCodes codes;
    return codes;
}

bool Dynamic(State& s, Table& literals, Table& distances, Table& lengthCode)
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
    if (s.overrun || !Build(lengthCode, lengths, 19, Alphabet::Plain)) {
        s.failure = s.overrun ? InflateResult::Truncated : InflateResult::Corrupt;
        return false;
    }
    int index = 0;
    while (index < literalCount + distanceCount) {
        uint32_t entry = s.DecodeChecked(lengthCode);
        if (!entry) return false;
        int symbol = (int)EntryValue(entry);
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
    if (lengths[256] == 0 || !Build(literals, lengths, literalCount, Alphabet::LiteralLength) ||
        !Build(distances, lengths + literalCount, distanceCount, Alphabet::Distance)) {
        s.failure = InflateResult::Corrupt;
        return false;
    }
    return true;
}

}  // namespace

InflateResult Inflate(InflateSource& source, InflateSink& sink, uint64_t limit, uint64_t* produced)
{
    State* s = new (std::nothrow) State(source, sink, limit);
    Table* tables = (Table*)malloc(3 * sizeof(Table));
    unsigned char* out = (unsigned char*)malloc(WindowSize + ChunkSize + CopySlack);
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
            ok = Dynamic(*s, tables[0], tables[1], tables[2]) && Codes(*s, tables[0], tables[1]);
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
