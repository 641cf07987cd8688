#include "ui/Clipboard.h"

#include <string.h>

namespace {

// Hands `size` bytes to the clipboard as `format`; answers 1 when it took them.
int PutBytes(UINT format, const void* bytes, size_t size)
{
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    void* target = memory ? GlobalLock(memory) : nullptr;
    if (!target) {
        if (memory) GlobalFree(memory);
        return 0;
    }
    memcpy(target, bytes, size);
    GlobalUnlock(memory);
    // From here on the clipboard owns the memory, unless it refused it.
    if (SetClipboardData(format, memory)) return 1;
    GlobalFree(memory);
    return 0;
}

}  // namespace

int PutTextOnClipboard(HWND owner, const std::wstring& text)
{
    return PutOnClipboard(owner, text, nullptr, 0);
}

int PutOnClipboard(HWND owner, const std::wstring& text, const void* dib, size_t dibSize)
{
    if (!OpenClipboard(owner)) return 0;
    int done = 0;
    if (EmptyClipboard()) {
        done = PutBytes(CF_UNICODETEXT, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
        if (done && dib && dibSize) done = PutBytes(CF_DIB, dib, dibSize);
    }
    CloseClipboard();
    return done;
}
