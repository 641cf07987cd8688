#include "common/RegistryKey.h"

#include "common/WideString.h"
#include "common/Wow64.h"

REGSAM RegistryKey::EffectiveView(REGSAM view)
{
    view &= KEY_WOW64_64KEY | KEY_WOW64_32KEY;
    if (view && !IsWow64(nullptr)) view = 0;
    return view;
}

int RegistryKey::OpenRead(HKEY root, const wchar_t* path, REGSAM view)
{
    Close();
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | EffectiveView(view), &key) != ERROR_SUCCESS) return 0;
    m_key = key;
    return 1;
}

int RegistryKey::OpenWrite(HKEY root, const wchar_t* path, REGSAM view)
{
    Close();
    HKEY key = nullptr;
    LONG status;
    REGSAM effective = EffectiveView(view);
    if (view & (KEY_WOW64_64KEY | KEY_WOW64_32KEY))
        status = RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS | effective, nullptr, &key, nullptr);
    else
        status = RegCreateKeyW(root, path, &key);
    if (status != ERROR_SUCCESS) return 0;
    m_key = key;
    return 1;
}

void RegistryKey::Close()
{
    if (m_key) {
        RegCloseKey(m_key);
        m_key = nullptr;
    }
}

int RegistryKey::ReadDword(const wchar_t* name, DWORD& value) const
{
    if (!m_key) return 0;
    DWORD type = 0, data = 0, size = sizeof(data);
    if (RegQueryValueExW(m_key, name, nullptr, &type, (BYTE*)&data, &size) != ERROR_SUCCESS) return 0;
    if (type != REG_DWORD || size != sizeof(data)) return 0;
    value = data;
    return 1;
}

int RegistryKey::ReadString(const wchar_t* name, wchar_t* buffer, DWORD& characters) const
{
    if (!m_key || !buffer || characters == 0) return 0;
    DWORD capacity = characters;
    DWORD type = 0;
    DWORD size = capacity * sizeof(wchar_t);
    LONG status = RegQueryValueExW(m_key, name, nullptr, &type, (BYTE*)buffer, &size);
    if (status == ERROR_MORE_DATA) {
        // The stored size normally includes the terminating zero; callers that grow their
        // buffer add one for values stored without it.
        characters = size / sizeof(wchar_t);
        buffer[0] = L'\0';
        return 0;
    }
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        buffer[0] = L'\0';
        characters = 0;
        return 0;
    }
    DWORD count = size / sizeof(wchar_t);
    while (count > 0 && buffer[count - 1] == L'\0') count--;
    if (count >= capacity) {
        // No room left for the terminating zero.
        characters = count + 1;
        buffer[0] = L'\0';
        return 0;
    }
    buffer[count] = L'\0';
    characters = count;
    return 1;
}

int RegistryKey::ReadString(const wchar_t* name, WideString& value) const
{
    DWORD characters = (DWORD)value.Capacity();
    if (characters < 2) characters = WideString::DefaultCapacity;
    wchar_t* buffer = value.Buffer((int)characters);
    if (!buffer) return 0;
    if (ReadString(name, buffer, characters)) {
        value.SyncLength();
        return 1;
    }
    if (characters <= (DWORD)value.Capacity() || characters > 0x10000000) {
        value.Clear();
        return 0;
    }
    // The value did not fit: one more try with the reported size plus one.
    DWORD grown = characters + 1;
    buffer = value.Buffer((int)grown);
    if (!buffer) return 0;
    characters = grown;
    int ok = ReadString(name, buffer, characters);
    if (!ok) buffer[0] = L'\0';
    value.SyncLength();
    return ok;
}

int RegistryKey::ReadBinary(const wchar_t* name, void* buffer, DWORD& bytes) const
{
    if (!m_key || !buffer) return 0;
    DWORD type = 0;
    if (RegQueryValueExW(m_key, name, nullptr, &type, (BYTE*)buffer, &bytes) != ERROR_SUCCESS) return 0;
    return type == REG_BINARY ? 1 : 0;
}

int RegistryKey::WriteDword(const wchar_t* name, DWORD value) const
{
    if (!m_key) return 0;
    return RegSetValueExW(m_key, name, 0, REG_DWORD, (const BYTE*)&value, sizeof(value)) == ERROR_SUCCESS;
}

int RegistryKey::WriteString(const wchar_t* name, const wchar_t* text) const
{
    if (!m_key) return 0;
    if (!text) text = L"";
    size_t characters = wcslen(text);
    if (characters >= 0x7FFFFFF0 / sizeof(wchar_t)) return 0;
    DWORD bytes = (DWORD)(2 * (characters + 1));
    return RegSetValueExW(m_key, name, 0, REG_SZ, (const BYTE*)text, bytes) == ERROR_SUCCESS;
}

int RegistryKey::DeleteValue(const wchar_t* name) const
{
    if (!m_key) return 0;
    return RegDeleteValueW(m_key, name) == ERROR_SUCCESS;
}

int RegistryKey::ReadDwordValue(HKEY root, const wchar_t* path, const wchar_t* name, DWORD& value,
                                DWORD defaultValue, REGSAM view)
{
    value = defaultValue;
    RegistryKey key;
    return key.OpenRead(root, path, view) && key.ReadDword(name, value);
}

int RegistryKey::ReadStringValue(HKEY root, const wchar_t* path, const wchar_t* name, WideString& value,
                                 const wchar_t* defaultValue, REGSAM view)
{
    RegistryKey key;
    if (key.OpenRead(root, path, view) && key.ReadString(name, value)) return 1;
    value.Assign(defaultValue);
    return 0;
}

int RegistryKey::WriteDwordValue(HKEY root, const wchar_t* path, const wchar_t* name, DWORD value, REGSAM view)
{
    RegistryKey key;
    return key.OpenWrite(root, path, view) && key.WriteDword(name, value);
}

int RegistryKey::WriteStringValue(HKEY root, const wchar_t* path, const wchar_t* name, const wchar_t* text,
                                  REGSAM view)
{
    RegistryKey key;
    return key.OpenWrite(root, path, view) && key.WriteString(name, text);
}

int RegistryKey::KeyExists(HKEY root, const wchar_t* path, REGSAM view)
{
    RegistryKey key;
    return key.OpenRead(root, path, view);
}
