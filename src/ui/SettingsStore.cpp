#include "ui/SettingsStore.h"

#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "common/ModuleVersion.h"
#include "common/RegistryKey.h"
#include "platform/ShellFolders.h"
#include "sysinfo/WindowsVersion.h"

namespace {

bool IsAbsolute(const wchar_t* path)
{
    return path && (path[0] == L'\\' || path[0] == L'/' || (path[0] && path[1] == L':'));
}

}  // namespace

int IniFilePath(const wchar_t* name, int location, WideString& path)
{
    path.Clear();
    if (!name) return 0;
    if (location == 1) location = IsWindowsAtLeast(0x2000, 0) ? 4 : 2;
    if (location == 0) return path.Assign(name);
    wchar_t folder[MAX_PATH] = L"";
    if (location == 2) {
        ModuleVersion module;
        if (!module.Load()) return 0;
        wcsncpy(folder, module.Folder(), MAX_PATH - 1);
        folder[MAX_PATH - 1] = L'\0';
    } else if (location == 3) {
        if (!GetCurrentDirectoryW(MAX_PATH, folder)) return 0;
    } else if (location == 4) {
        if (!SpecialFolder(CSIDL_LOCAL_APPDATA, folder)) return 0;
    } else {
        return 0;
    }
    return path.Assign(folder) && path.AppendUnlessEndsWith(L'\\') && path.Append(name);
}

int SettingsStore::Open(DWORD backend, HKEY root, const wchar_t* basePath, const wchar_t* filePath)
{
    Close();
    m_flags = backend;
    m_root = root;
    m_base.Assign(basePath);
    ModuleVersion module;
    module.Load();
    if (filePath) {
        m_file.Assign(filePath);
    } else {
        m_file.Assign(module.FileName());
        m_file.CutShortExtension();
        m_file.Append((backend & SettingsBackend::Xml) && !(backend & SettingsBackend::Ini) ? L".xml" : L".ini");
    }
    if (backend & SettingsBackend::Ini) {
        // A full path stands as given; a bare name lives beside the program.
        if (IsAbsolute(m_file))
            m_ini.Assign(m_file);
        else
            IniFilePath(WideString(m_file.FileName()), 2, m_ini);
    }
    if (backend & SettingsBackend::Xml) {
        if (m_base.IsEmpty()) {
            WideString name(module.FileName());
            name.CutShortExtension();
            m_base.Assign(name.FileName());
        }
        if (!filePath) {
            WideString path(module.Folder());
            path.Append(m_file.FileName());
            m_file = path;
        }
        m_xml.Open(3);
        // A file that exists but cannot be read is the user's: it is never saved over.
        if (GetFileAttributesW(m_file) != INVALID_FILE_ATTRIBUTES && !m_xml.LoadFile(m_file)) {
            m_keepFile = true;
            return 0;
        }
    }
    return 1;
}

void SettingsStore::Close()
{
    if ((m_flags & SettingsBackend::Xml) && m_xml.IsOpen() && !m_keepFile) m_xml.SaveFile(m_file);
    m_xml.Close();
    m_flags = 0;
    m_keepFile = false;
}

void SettingsStore::Place(const wchar_t* section, WideString& place) const
{
    if (section)
        place.Format(L"%s\\%s", m_base.Text(), section);
    else
        place.Assign(m_base);
}

DWORD SettingsStore::ReadNumber(const wchar_t* name, DWORD defaultValue, const wchar_t* section, XmlNode node)
{
    WideString place;
    Place(section, place);
    if (m_flags & SettingsBackend::Registry) {
        DWORD value = defaultValue;
        RegistryKey::ReadDwordValue(m_root, place, name, value, defaultValue);
        return value;
    }
    if (m_flags & SettingsBackend::Ini) {
        WideString text;
        ReadString(name, text, nullptr, section, nullptr);
        // Read as "%I64u" reads: leading blanks, an optional sign, then digits; anything
        // after them is ignored. "-1" is therefore 0xFFFFFFFF.
        const wchar_t* start = text.Text();
        while (*start == L' ' || *start == L'\t') start++;
        const wchar_t* digits = start + (*start == L'-' || *start == L'+');
        if (*digits < L'0' || *digits > L'9') return defaultValue;
        return (DWORD)wcstoull(start, nullptr, 10);
    }
    if (m_flags & SettingsBackend::Xml) {
        WideString path;
        if (node)
            path.Assign(name);
        else
            path.Format(L"%s\\%s", place.Text(), name);
        return m_xml.GetNumber(path, defaultValue, node);
    }
    return defaultValue;
}

int SettingsStore::WriteNumber(const wchar_t* name, DWORD value, const wchar_t* section, XmlNode node)
{
    WideString place;
    Place(section, place);
    if (m_flags & SettingsBackend::Registry) return RegistryKey::WriteDwordValue(m_root, place, name, value);
    WideString text;
    if (m_flags & SettingsBackend::Ini) {
        text.Format(L"%I64u", (unsigned long long)value);
        return WriteString(name, text, section, nullptr);
    }
    if (m_flags & SettingsBackend::Xml) {
        text.Format(L"%u", (unsigned)value);
        return WriteString(name, text, section, node);
    }
    return 0;
}

int SettingsStore::ReadString(const wchar_t* name, WideString& value, const wchar_t* defaultValue,
                              const wchar_t* section, XmlNode node)
{
    WideString place;
    Place(section, place);
    if (m_flags & SettingsBackend::Registry)
        return RegistryKey::ReadStringValue(m_root, place, name, value, defaultValue ? defaultValue : L"");
    if (m_flags & SettingsBackend::Ini) {
        const wchar_t* iniSection = section ? section : L"Settings";
        int size = value.Capacity() > 1 ? value.Capacity() : WideString::DefaultCapacity;
        // A value that filled the buffer may have been cut: twice the room, six tries at most.
        for (int attempt = 0; attempt < 6; attempt++) {
            wchar_t* buffer = value.Buffer(size);
            if (!buffer) return 0;
            DWORD length = GetPrivateProfileStringW(iniSection, name, defaultValue ? defaultValue : L"", buffer,
                                                    (DWORD)size, m_ini);
            value.SyncLength();
            if ((int)length != size - 1) break;
            size *= 2;
        }
        return 1;
    }
    if (m_flags & SettingsBackend::Xml) {
        WideString path;
        if (node)
            path.Assign(name);
        else
            path.Format(L"%s\\%s", place.Text(), name);
        if (m_xml.GetValue(path, value, node)) return 1;
        value.Assign(defaultValue);
        return 0;
    }
    value.Assign(defaultValue);
    return 0;
}

int SettingsStore::WriteString(const wchar_t* name, const wchar_t* text, const wchar_t* section, XmlNode node)
{
    WideString place;
    Place(section, place);
    if (m_flags & SettingsBackend::Registry) return RegistryKey::WriteStringValue(m_root, place, name, text);
    if (m_flags & SettingsBackend::Ini)
        return WritePrivateProfileStringW(section ? section : L"Settings", name, text ? text : L"", m_ini) ? 1 : 0;
    if (m_flags & SettingsBackend::Xml) {
        XmlNode element = node;
        if (element)
            element->AddRef();
        else
            element = m_xml.FindOrCreate(place);
        if (!element) return 0;
        int ok = m_xml.SetAttribute(element, name, text ? text : L"");
        element->Release();
        return ok;
    }
    return 0;
}
