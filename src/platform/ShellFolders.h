// Special folders and language identifiers.
#pragma once

#include <windows.h>

// Path of a special folder (CSIDL) without a trailing backslash, into 260 characters.
int SpecialFolder(int csidl, wchar_t* path);

enum LanguageKind {
    UserInterfaceLanguage = 0x1,  // else the locale's language
    SystemLanguage = 0x2,         // else the user's
};
LANGID LanguageId(int kind);
// The user-language rule: an id without a primary language above 6143 becomes English.
LANGID NormaliseUserLanguage(LANGID id);
