// Texts of system error codes.
#pragma once

#include <windows.h>

// The process's last-error text: the text of the last failed network call.
wchar_t* LastErrorTextBuffer();
const int ErrorTextCapacity = 260;

// Writes the text of `code` into `buffer` (at most `capacity` characters, default 260),
// or into the process's last-error text when no buffer is given. Line breaks become
// blanks, trailing blanks go. Answers 0 and leaves an empty text when none exists.
int SystemErrorText(DWORD code, wchar_t* buffer = nullptr, int capacity = ErrorTextCapacity);

// The clean-up rule on its own: CR and LF become blanks, trailing blanks are removed.
void TidyErrorText(wchar_t* text);
