// Named numbers and strings kept between runs in the registry, an INI file or an XML file.
#pragma once

#include <windows.h>

#include "common/WideString.h"
#include "xml/XmlDocument.h"

namespace SettingsBackend {
const DWORD Registry = 0x1;
const DWORD Ini = 0x2;
const DWORD Xml = 0x4;
}  // namespace SettingsBackend

// Where an INI file lives: 0 as given, 1 local application data (Vista or later, else as
// 2), 2 the program's folder, 3 the current folder, 4 local application data.
int IniFilePath(const wchar_t* name, int location, WideString& path);

class SettingsStore {
public:
    SettingsStore() : m_flags(0), m_root(nullptr), m_keepFile(false) {}
    ~SettingsStore() { Close(); }
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    int Open(DWORD backend, HKEY root, const wchar_t* basePath, const wchar_t* filePath = nullptr);
    void Close();

    DWORD ReadNumber(const wchar_t* name, DWORD defaultValue, const wchar_t* section = nullptr, XmlNode node = nullptr);
    int WriteNumber(const wchar_t* name, DWORD value, const wchar_t* section = nullptr, XmlNode node = nullptr);
    int ReadString(const wchar_t* name, WideString& value, const wchar_t* defaultValue = nullptr,
                   const wchar_t* section = nullptr, XmlNode node = nullptr);
    int WriteString(const wchar_t* name, const wchar_t* text, const wchar_t* section = nullptr, XmlNode node = nullptr);

    const wchar_t* FilePath() const { return m_file; }
    XmlDocument& Document() { return m_xml; }

private:
    void Place(const wchar_t* section, WideString& place) const;

    DWORD m_flags;
    WideString m_ini;
    WideString m_file;
    WideString m_base;
    HKEY m_root;
    XmlDocument m_xml;
    bool m_keepFile;  // the file exists but did not load
};
