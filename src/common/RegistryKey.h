// One open registry key. Every operation answers 1 or 0.
#pragma once

#include <windows.h>

class WideString;

class RegistryKey {
public:
    RegistryKey() : m_key(nullptr) {}
    ~RegistryKey() { Close(); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // `view` may hold KEY_WOW64_64KEY or KEY_WOW64_32KEY; it is dropped unless the
    // process runs under WOW64.
    int OpenRead(HKEY root, const wchar_t* path, REGSAM view = 0);
    int OpenWrite(HKEY root, const wchar_t* path, REGSAM view = 0);
    void Close();
    HKEY Handle() const { return m_key; }

    int ReadDword(const wchar_t* name, DWORD& value) const;
    // `characters` holds the buffer's size in characters; it receives the characters
    // returned, or, when the buffer is too small (answer 0), the size needed.
    int ReadString(const wchar_t* name, wchar_t* buffer, DWORD& characters) const;
    int ReadString(const wchar_t* name, WideString& value) const;
    // `bytes` holds the buffer's size; it receives the bytes read.
    int ReadBinary(const wchar_t* name, void* buffer, DWORD& bytes) const;
    int WriteDword(const wchar_t* name, DWORD value) const;
    int WriteString(const wchar_t* name, const wchar_t* text) const;
    int DeleteValue(const wchar_t* name) const;

    // One value, opened and closed in one call; a failed read leaves the default.
    static int ReadDwordValue(HKEY root, const wchar_t* path, const wchar_t* name, DWORD& value,
                              DWORD defaultValue, REGSAM view = 0);
    static int ReadStringValue(HKEY root, const wchar_t* path, const wchar_t* name, WideString& value,
                               const wchar_t* defaultValue, REGSAM view = 0);
    static int WriteDwordValue(HKEY root, const wchar_t* path, const wchar_t* name, DWORD value, REGSAM view = 0);
    static int WriteStringValue(HKEY root, const wchar_t* path, const wchar_t* name, const wchar_t* text,
                                REGSAM view = 0);
    static int KeyExists(HKEY root, const wchar_t* path, REGSAM view = 0);

    // The view flags that survive on this process (none outside WOW64).
    static REGSAM EffectiveView(REGSAM view);

private:
    HKEY m_key;
};
