#include "update/UpdateRules.h"

#include <string.h>
#include <wctype.h>

#include <string>

#include "platform/ShellFolders.h"

namespace {

const DWORD SevenDays = 604800;
const DWORD NeverMark = 0xFFFFFFFF;

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

bool IsDeviceName(const wchar_t* component, int length)
{
    // The part before the first dot, without trailing blanks, is what the system compares.
    int base = 0;
    while (base < length && component[base] != L'.') base++;
    while (base > 0 && component[base - 1] == L' ') base--;
    wchar_t upper[8];
    if (base < 3 || base > 7) return false;
    for (int i = 0; i < base; i++) {
        wchar_t c = component[i];
        upper[i] = (c >= L'a' && c <= L'z') ? (wchar_t)(c - 32) : c;
    }
    upper[base] = 0;
    static const wchar_t* const names[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* name : names)
        if (wcscmp(upper, name) == 0) return true;
    // The system counts the superscript digits one to three as port numbers as well.
    wchar_t digit = upper[3];
    bool portNumber = (digit >= L'1' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
    if (base == 4 && (wcsncmp(upper, L"COM", 3) == 0 || wcsncmp(upper, L"LPT", 3) == 0) && portNumber) return true;
    return false;
}

bool SameName(const wchar_t* a, const wchar_t* b)
{
    for (;; a++, b++) {
        wchar_t x = IsSeparator(*a) ? L'\\' : *a, y = IsSeparator(*b) ? L'\\' : *b;
        if (towlower(x) != towlower(y)) return false;
        if (!x) return true;
    }
}

}  // namespace

CheckTiming DecideCheckTiming(DWORD stored, DWORD now)
{
    if (stored == NeverMark) return CheckTiming::ResetOnly;
    DWORD due = stored + SevenDays;  // 32-bit sum, as stored
    if (due >= now) return CheckTiming::Skip;
    return CheckTiming::Check;
}

void BuildQueryAddress(const wchar_t* queryAddress, DWORD options, const wchar_t* versionText,
                       const wchar_t* identity, const wchar_t* language, const wchar_t* itemType,
                       const wchar_t* itemName, WideString& address)
{
    if (!queryAddress) queryAddress = L"";
    wchar_t separator = wcschr(queryAddress, L'?') ? L'&' : L'?';
    if (options & UpdateOptions::Inventory)
        address.Format(L"%s%ca=updates&d=0&f=16&l=%s&g=%s&i=<Larchmere><Inventory><Item Type=\"%s\" Name=\"%s\" "
                       L"Version=\"%s\" /></Inventory></Larchmere>",
                       queryAddress, separator, language ? language : L"en", identity ? identity : L"",
                       itemType ? itemType : L"", itemName ? itemName : L"", versionText ? versionText : L"");
    else
        address.Format(L"%s%cv=%s&id=%s", queryAddress, separator, versionText ? versionText : L"",
                       identity ? identity : L"");
}

void UserLanguageName(WideString& name)
{
    LANGID language = NormaliseUserLanguage(GetUserDefaultLangID());
    wchar_t buffer[16] = {0};
    if (GetLocaleInfoW(MAKELCID(language, SORT_DEFAULT), LOCALE_SISO639LANGNAME, buffer, 16) > 0 && buffer[0])
        name = buffer;
    else
        name = L"en";
}

bool IsNewerVersion(unsigned runningMajor, unsigned runningMinor, unsigned offeredMajor, unsigned offeredMinor)
{
    if (offeredMajor != runningMajor) return offeredMajor > runningMajor;
    return offeredMinor > runningMinor;
}

void DecodeLocalisedText(const wchar_t* raw, WideString& text)
{
    if (!raw) raw = L"";
    std::string bytes;
    bool high = false;
    for (const wchar_t* c = raw; *c; c++) {
        if (*c > 0xFF) {  // the component decoded it: the text is final
            text = raw;
            return;
        }
        if (*c >= 0x80) high = true;
        bytes += (char)(BYTE)*c;
    }
    if (high) {
        int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), (int)bytes.size(), nullptr, 0);
        if (length > 0) {
            wchar_t* buffer = text.Buffer(length + 1);
            if (buffer) {
                MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), (int)bytes.size(), buffer, length);
                buffer[length] = 0;
                text.SyncLength();
                return;
            }
        }
    }
    text = raw;
}

void AddNameSuffix(const wchar_t* path, const wchar_t* suffix, WideString& result)
{
    if (!path) path = L"";
    int length = (int)wcslen(path);
    int dot = -1;
    for (int i = length - 1; i >= 0; i--) {
        if (IsSeparator(path[i])) break;  // a dot in a folder's name is no extension
        if (path[i] != L'.') continue;
        wchar_t next = path[i + 1];
        if (next == L' ' || IsSeparator(next)) continue;
        dot = i;
        break;
    }
    if (dot < 0) {
        result.Format(L"%s%s", path, suffix);
        return;
    }
    int end = dot;
    while (end < length && path[end] != L'?') end++;
    WideString extension;
    extension.Assign(path + dot, end - dot);
    if (dot >= length - 4) {
        result.Assign(path, dot);
        result.Append(suffix);
        result.Append(extension);
        result.Append(path + end);
    } else {
        result.Format(L"%s%s%s", path, suffix, extension.Text());
    }
}

void SetupProgramName(const wchar_t* address, WideString& name)
{
    if (!address) address = L"";
    const wchar_t* text = address;
    if (const wchar_t* equals = wcschr(address, L'=')) text = equals + 1;
    const wchar_t* last = nullptr;
    for (const wchar_t* c = text; *c; c++)
        if (IsSeparator(*c)) last = c;
    if (last && last[1]) text = last + 1;
    name = text;
}

bool IsSafeFileName(const wchar_t* name, bool singleName)
{
    if (!name || !name[0] || IsSeparator(name[0])) return false;
    const wchar_t* component = name;
    for (const wchar_t* c = name;; c++) {
        if (*c && !IsSeparator(*c)) {
            if (*c < 0x20 || wcschr(L"<>:\"|?*", *c)) return false;
            continue;
        }
        int length = (int)(c - component);
        if (length == 0) return false;  // empty step, or a trailing separator
        wchar_t last = component[length - 1];
        if (last == L'.' || last == L' ') return false;  // ".", "..", and names the system would strip
        if (IsDeviceName(component, length)) return false;
        if (!*c) break;
        if (singleName) return false;
        component = c + 1;
    }
    return true;
}

bool IsWebAddress(const wchar_t* address)
{
    if (!address) return false;
    size_t scheme = 0;
    if (_wcsnicmp(address, L"http://", 7) == 0)
        scheme = 7;
    else if (_wcsnicmp(address, L"https://", 8) == 0)
        scheme = 8;
    else
        return false;
    const wchar_t* host = address + scheme;
    if (!*host || *host == L'/' || *host == L'\\') return false;
    // Nothing the shell or a command line could read as a second argument or a quote.
    for (const wchar_t* c = address; *c; c++)
        if (*c <= L' ' || *c == L'"' || *c == 0x7F) return false;
    return true;
}

bool IsExecutableName(const wchar_t* name)
{
    if (!name) return false;
    const wchar_t* dot = wcsrchr(name, L'.');
    if (!dot || wcspbrk(dot, L"\\/")) return false;
    static const wchar_t* const extensions[] = {L".exe", L".dll", L".com", L".scr", L".ocx", L".cpl", L".sys",
                                                L".msi", L".bat", L".cmd"};
    for (const wchar_t* extension : extensions)
        if (_wcsicmp(dot, extension) == 0) return true;
    return false;
}

void ChooseRestartProgram(const wchar_t* execute, const std::vector<std::wstring>& installed, WideString& name)
{
    name.Clear();
    if (!execute || !execute[0] || !IsSafeFileName(execute, false)) return;
    for (const std::wstring& file : installed) {
        if (SameName(file.c_str(), execute)) {
            name = file.c_str();
            return;
        }
    }
}

int FindName(const std::vector<std::wstring>& names, const wchar_t* name)
{
    for (size_t i = 0; i < names.size(); i++)
        if (SameName(names[i].c_str(), name)) return (int)i;
    return -1;
}
