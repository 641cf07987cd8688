// Text and pictures to the clipboard.
#pragma once

#include <windows.h>

#include <string>

// Puts `text` on the clipboard as Unicode text. Another program holding the clipboard:
// nothing is copied, and the answer is 0.
int PutTextOnClipboard(HWND owner, const std::wstring& text);
// The same, and with it a device-independent bitmap (a BITMAPINFOHEADER and its pixels)
// when `dib` is given. Answers 1 when both went on.
int PutOnClipboard(HWND owner, const std::wstring& text, const void* dib, size_t dibSize);
