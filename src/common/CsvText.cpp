#include "common/CsvText.h"

#include <math.h>
#include <stdlib.h>
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

int FormatInvariantNumber(double number, wchar_t* text, int capacity, bool single)
{
    if (!text || capacity <= 0) return 0;
    const wchar_t* special = isnan(number) ? L"NaN" : isinf(number) ? (number < 0 ? L"-Infinity" : L"Infinity") : nullptr;
    if (special) {
        if ((int)wcslen(special) >= capacity) return 0;
        wcscpy(text, special);
        return (int)wcslen(text);
    }
    // The shortest text that reads back as the same number, as the standard library finds
    // it (no locale, no trial and error: a fast sensor's values go through here).
    char narrow[40];
    std::to_chars_result result = single ? std::to_chars(narrow, narrow + sizeof(narrow), (float)number)
                                         : std::to_chars(narrow, narrow + sizeof(narrow), number);
    if (result.ec != std::errc()) return 0;
    int written = (int)(result.ptr - narrow);
    if (written >= capacity) return 0;
    for (int i = 0; i < written; i++) text[i] = (wchar_t)(unsigned char)narrow[i];
    text[written] = L'\0';
    return written;
}

int FormatIsoLocalTime(const SYSTEMTIME& local, wchar_t* text, int capacity)
{
    int written = swprintf(text, (size_t)capacity, L"%04u-%02u-%02uT%02u:%02u:%02u.%03u", local.wYear, local.wMonth,
                           local.wDay, local.wHour, local.wMinute, local.wSecond, local.wMilliseconds);
    return written > 0 && written < capacity ? written : 0;
}
