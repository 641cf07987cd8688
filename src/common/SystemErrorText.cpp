#include "common/SystemErrorText.h"

#include <wchar.h>

wchar_t* LastErrorTextBuffer()
{
    static wchar_t text[ErrorTextCapacity];
    return text;
}

void TidyErrorText(wchar_t* text)
{
    if (!text) return;
    size_t n = 0;
    for (; text[n]; n++)
        if (text[n] == L'\r' || text[n] == L'\n') text[n] = L' ';
    while (n > 0 && text[n - 1] == L' ') text[--n] = L'\0';
}

int SystemErrorText(DWORD code, wchar_t* buffer, int capacity)
{
    if (!buffer) {
        buffer = LastErrorTextBuffer();
        capacity = ErrorTextCapacity;
    }
    if (capacity <= 0) return 0;
    if (capacity > ErrorTextCapacity) capacity = ErrorTextCapacity;
    buffer[0] = L'\0';
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS;
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | flags, nullptr, code,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPWSTR)&text, 0, nullptr);
    if (n == 0) {
        HMODULE wininet = LoadLibraryExW(L"wininet.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (wininet) {
            n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | flags, wininet, code,
                               MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPWSTR)&text, 0, nullptr);
            FreeLibrary(wininet);
        }
    }
    if (n == 0 || !text) {
        if (text) LocalFree(text);
        return 0;
    }
    // Long texts are cut to the buffer.
    wcsncpy(buffer, text, (size_t)capacity - 1);
    buffer[capacity - 1] = L'\0';
    LocalFree(text);
    TidyErrorText(buffer);
    return buffer[0] != L'\0';
}
