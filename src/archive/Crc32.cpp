#include "archive/Crc32.h"

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#include <emmintrin.h>
#include <wmmintrin.h>
#endif

namespace {

// Eight tables for slicing by eight bytes at a time.
struct Tables {
    uint32_t t[8][256];
    Tables()
    {
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i;
            for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (int s = 1; s < 8; s++)
            for (uint32_t i = 0; i < 256; i++) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
    }
};

const Tables& Table()
{
    static const Tables tables;
    return tables;
}

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define ORVANE_CRC_FOLDING 1

// Processors with carry-less multiplication fold the data 64 bytes at a time: four
// 128-bit lanes are each multiplied by x^(512+64) and x^512 modulo the polynomial (the
// constants are those powers, bit-reflected, with the polynomial's top bit), folded into
// one lane, then into 64 bits, and reduced to 32 with Barrett's method.
bool CanFold()
{
    static const bool can = [] {
        unsigned int a = 0, b = 0, c = 0, d = 0;
        if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
        return (c & bit_PCLMUL) != 0 && (d & bit_SSE2) != 0;
    }();
    return can;
}

#if defined(__i386__)
// 32-bit callers may hand over a stack aligned to 4 bytes only; vectors need 16.
#define ORVANE_ALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define ORVANE_ALIGN_STACK
#endif

// `crc` is the running register (already inverted); `size` is a multiple of 16, at least 64.
__attribute__((target("sse2,pclmul"))) ORVANE_ALIGN_STACK uint32_t Fold(uint32_t crc, const unsigned char* data, size_t size)
{
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);

    __m128i x1 = _mm_loadu_si128((const __m128i*)data);
    __m128i x2 = _mm_loadu_si128((const __m128i*)(data + 16));
    __m128i x3 = _mm_loadu_si128((const __m128i*)(data + 32));
    __m128i x4 = _mm_loadu_si128((const __m128i*)(data + 48));
    x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128((int)crc));
    data += 64;
    size -= 64;
    while (size >= 64) {
        __m128i y1 = _mm_clmulepi64_si128(x1, k1k2, 0x00);
        __m128i y2 = _mm_clmulepi64_si128(x2, k1k2, 0x00);
        __m128i y3 = _mm_clmulepi64_si128(x3, k1k2, 0x00);
        __m128i y4 = _mm_clmulepi64_si128(x4, k1k2, 0x00);
        x1 = _mm_clmulepi64_si128(x1, k1k2, 0x11);
        x2 = _mm_clmulepi64_si128(x2, k1k2, 0x11);
        x3 = _mm_clmulepi64_si128(x3, k1k2, 0x11);
        x4 = _mm_clmulepi64_si128(x4, k1k2, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, y1), _mm_loadu_si128((const __m128i*)data));
        x2 = _mm_xor_si128(_mm_xor_si128(x2, y2), _mm_loadu_si128((const __m128i*)(data + 16)));
        x3 = _mm_xor_si128(_mm_xor_si128(x3, y3), _mm_loadu_si128((const __m128i*)(data + 32)));
        x4 = _mm_xor_si128(_mm_xor_si128(x4, y4), _mm_loadu_si128((const __m128i*)(data + 48)));
        data += 64;
        size -= 64;
    }
    // Four lanes into one, then the remaining 16-byte blocks.
    x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, k3k4, 0x11), x2), _mm_clmulepi64_si128(x1, k3k4, 0x00));
    x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, k3k4, 0x11), x3), _mm_clmulepi64_si128(x1, k3k4, 0x00));
    x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, k3k4, 0x11), x4), _mm_clmulepi64_si128(x1, k3k4, 0x00));
    while (size >= 16) {
        __m128i y = _mm_clmulepi64_si128(x1, k3k4, 0x00);
        x1 = _mm_clmulepi64_si128(x1, k3k4, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, _mm_loadu_si128((const __m128i*)data)), y);
        data += 16;
        size -= 16;
    }
    // 128 bits into 64, then Barrett's reduction to 32.
    __m128i y = _mm_clmulepi64_si128(x1, k3k4, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), y);
    y = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00), y);
    y = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
    y = _mm_clmulepi64_si128(_mm_and_si128(y, low32), poly, 0x00);
    x1 = _mm_xor_si128(x1, y);
    return (uint32_t)_mm_cvtsi128_si32(_mm_srli_si128(x1, 4));
}
#endif

}  // namespace

uint32_t UpdateCrc32(uint32_t crc, const unsigned char* data, size_t size)
{
    const Tables& tables = Table();
    const uint32_t(*t)[256] = tables.t;
    crc = ~crc;
#ifdef ORVANE_CRC_FOLDING
    if (size >= 64 && CanFold()) {
        size_t blocks = size & ~(size_t)15;
        crc = Fold(crc, data, blocks);
        data += blocks;
        size -= blocks;
    }
#endif
    while (size >= 8) {
        uint32_t low = crc ^ ((uint32_t)data[0] | (uint32_t)data[1] << 8 | (uint32_t)data[2] << 16 | (uint32_t)data[3] << 24);
        uint32_t high = (uint32_t)data[4] | (uint32_t)data[5] << 8 | (uint32_t)data[6] << 16 | (uint32_t)data[7] << 24;
        crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
              t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
        data += 8;
        size -= 8;
    }
    while (size--) crc = t[0][(crc ^ *data++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}
