// The decisions of the update check and installation, over plain values.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/WideString.h"

namespace UpdateOptions {
const DWORD Inventory = 0x1;   // the inventory query and answer root
const DWORD NoWorker = 0x2;    // decide and hook, but start no check
const DWORD IniStore = 0x4;    // keep the values in an INI file instead of the registry
}  // namespace UpdateOptions

// What Start does with the stored time of the last check.
enum class CheckTiming {
    Skip,       // checked less than seven days ago
    ResetOnly,  // the stored "never now" mark: store 0, check next time
    Check,      // due: store `now`, then check
};
CheckTiming DecideCheckTiming(DWORD stored, DWORD now);

// The question address: the query address, "?" or "&", and the plain or inventory query.
void BuildQueryAddress(const wchar_t* queryAddress, DWORD options, const wchar_t* versionText,
                       const wchar_t* identity, const wchar_t* language, const wchar_t* itemType,
                       const wchar_t* itemName, WideString& address);

// The user's two-letter language name; "en" when the system cannot name it.
void UserLanguageName(WideString& name);

// Whether the offered version is newer than the running one (major first, then minor).
bool IsNewerVersion(unsigned runningMajor, unsigned runningMinor, unsigned offeredMajor, unsigned offeredMinor);

// A localised answer text as read from the document. Texts whose characters are bytes
// that form UTF-8 the XML component did not decode (an answer declared in a single-byte
// encoding) are decoded once more; texts that were decoded already stay as they are.
void DecodeLocalisedText(const wchar_t* raw, WideString& text);

// Puts `suffix` before the extension of a path (tool.exe, "_new" → tool_new.exe). The
// extension counts only when its dot is one of the last four characters; otherwise the
// suffix and the extension are appended (help.html → help.html_new.html). Only the last
// part of the path can hold the extension.
void AddNameSuffix(const wchar_t* path, const wchar_t* suffix, WideString& result);

// The file name of a setup program given by its download address (the text after the
// first "=" when there is one, then the part after the last slash or backslash).
void SetupProgramName(const wchar_t* address, WideString& name);

// Whether a name from the answer may name a file below the program's folder: relative,
// no parent or current-folder steps, no drive, stream or device names, no characters
// the file system would reject or strip. `singleName` also refuses folders.
bool IsSafeFileName(const wchar_t* name, bool singleName);

// Whether the answer's help address may be opened: an "http://" or "https://" address
// with a host and no blanks, quotes or control characters.
bool IsWebAddress(const wchar_t* address);

// Whether a file runs as code when the shell opens it or a program loads it: such files
// must carry the maker's signature when the running program carries it.
bool IsExecutableName(const wchar_t* name);

// The program to start after an installation, relative to the program's folder: the
// answer's execute value when it is a safe name of a file that the installation put in
// place (`installed`, as listed there). Empty otherwise: the program restarts itself.
void ChooseRestartProgram(const wchar_t* execute, const std::vector<std::wstring>& installed, WideString& name);

// The index of a relative file name in a list, compared without case and with either
// slash; -1 when it is not there.
int FindName(const std::vector<std::wstring>& names, const wchar_t* name);
