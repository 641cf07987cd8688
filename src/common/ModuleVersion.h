// A module's file name, folder and version record.
#pragma once

#include <windows.h>

#include "common/WideString.h"

// Reads "major.minor" the way "%u.%u" does; answers 1 only when both numbers were read.
int ParseVersionPair(const wchar_t* text, unsigned& major, unsigned& minor);

class ModuleVersion {
public:
    ModuleVersion();
    ~ModuleVersion();
    ModuleVersion(const ModuleVersion&) = delete;
    ModuleVersion& operator=(const ModuleVersion&) = delete;

    // Reads the module's name and version record (own module when null). Answers 0 when
    // the name cannot be had; a missing version record is not a failure.
    int Load(HMODULE module = nullptr);
    // Same for a file on disk.
    int LoadFile(const wchar_t* path);

    const wchar_t* FileName() const { return m_fileName; }
    // Folder of the module, ending in a backslash.
    const wchar_t* Folder() const { return m_folder; }
    unsigned Major() const { return m_major; }
    unsigned Minor() const { return m_minor; }
    bool HasVersionRecord() const { return m_data != nullptr; }

    // "%s [%u.%02u]" with the product name and this module's version.
    int BuildTitle(const wchar_t* product, WideString& title) const;
    // A string of the version record, language 0407 first, then 0409.
    int GetString(const wchar_t* name, WideString& value) const;

private:
    void ReadVersion();
    void FreeData();

    WideString m_fileName;
    WideString m_folder;
    void* m_data;
    unsigned m_major;
    unsigned m_minor;
};
