#include "common/CsvText.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <charconv>

void AppendCsvField(std::wstring& line, const wchar_t* text)
{
    if (!text) text = L"";
    size_t length = wcslen(text);
    bool quoted = wcspbrk(text, L",\"\r\n") != nullptr ||
                  (length && (text[0] == L' ' || text[0] == L'\t' || text[length - 1] == L' ' || text[length - 1] == L'\t'));
    if (!quoted) {
        line.append(text, length);
        return;
    }
    line += L'"';
    for (const wchar_t* at = text; *at; at++) {
        if (*at == L'"') line += L'"';
        line += *at;
    }
    line += L'"';
}

int FormatInvariantNumber(double number, char* text, int capacity, bool single)
{
    if (!text || capacity <= 0) return 0;
    const char* special = isnan(number) ? "NaN" : isinf(number) ? (number < 0 ? "-Infinity" : "Infinity") : nullptr;
    if (special) {
        int length = (int)strlen(special);
        if (length >= capacity) return 0;
        memcpy(text, special, (size_t)length + 1);
        return length;
    }
    // The shortest text that reads back as the same number, as the standard library finds
    // it (no locale, no trial and error: a fast sensor's values go through here).
    std::to_chars_result result = single ? std::to_chars(text, text + capacity - 1, (float)number)
                                         : std::to_chars(text, text + capacity - 1, number);
    if (result.ec != std::errc()) return 0;
    *result.ptr = '\0';
    return (int)(result.ptr - text);
}

int FormatInvariantNumber(double number, wchar_t* text, int capacity, bool single)
{
    if (!text || capacity <= 0) return 0;
    char narrow[40];
    int written = FormatInvariantNumber(number, narrow, capacity < 40 ? capacity : 40, single);
    if (!written) return 0;
    for (int i = 0; i <= written; i++) text[i] = (wchar_t)(unsigned char)narrow[i];
    return written;
}

namespace {

// Writes `value` as `digits` decimal digits, leading zeros kept.
char* PutDigits(char* at, unsigned value, int digits)
{
    for (int i = digits - 1; i >= 0; i--) {
        at[i] = (char)('0' + value % 10);
        value /= 10;
    }
    return at + digits;
}

}  // namespace

int FormatIsoLocalTime(const SYSTEMTIME& local, char* text, int capacity)
{
    // Written by hand: a recording formats one for every report.
    const int Length = 23;
    if (!text || capacity <= Length || local.wYear > 9999 || local.wMonth > 99 || local.wDay > 99 ||
        local.wHour > 99 || local.wMinute > 99 || local.wSecond > 99 || local.wMilliseconds > 999) {
        if (text && capacity > 0) text[0] = '\0';
        return 0;
    }
    char* at = PutDigits(text, local.wYear, 4);
    *at++ = '-';
    at = PutDigits(at, local.wMonth, 2);
    *at++ = '-';
    at = PutDigits(at, local.wDay, 2);
    *at++ = 'T';
    at = PutDigits(at, local.wHour, 2);
    *at++ = ':';
    at = PutDigits(at, local.wMinute, 2);
    *at++ = ':';
    at = PutDigits(at, local.wSecond, 2);
    *at++ = '.';
    at = PutDigits(at, local.wMilliseconds, 3);
    *at = '\0';
    return Length;
}

int FormatIsoLocalTime(const SYSTEMTIME& local, wchar_t* text, int capacity)
{
    char narrow[32];
    int written = FormatIsoLocalTime(local, narrow, capacity < 32 ? capacity : 32);
    if (!written) {
        if (text && capacity > 0) text[0] = L'\0';
        return 0;
    }
    for (int i = 0; i <= written; i++) text[i] = (wchar_t)(unsigned char)narrow[i];
    return written;
}

void AppendUtf8(std::string& out, const wchar_t* text, size_t length)
{
    if (!length) return;
    // ASCII, by far the most common, needs no conversion call.
    size_t at = out.size();
    size_t i = 0;
    out.resize(at + length);
    for (; i < length && text[i] < 0x80; i++) out[at + i] = (char)text[i];
    if (i == length) return;
    out.resize(at + i);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text + i, (int)(length - i), nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return;
    at = out.size();
    out.resize(at + (size_t)bytes);
    WideCharToMultiByte(CP_UTF8, 0, text + i, (int)(length - i), &out[at], bytes, nullptr, nullptr);
}
