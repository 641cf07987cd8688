// CRC-32 of the zip format (reflected polynomial 0xEDB88320).
#pragma once

#include <stddef.h>
#include <stdint.h>

uint32_t UpdateCrc32(uint32_t crc, const unsigned char* data, size_t size);
inline uint32_t Crc32(const unsigned char* data, size_t size)
{
    return UpdateCrc32(0, data, size);
}
