#include "common/ModuleVersion.h"

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

int ParseVersionPair(const wchar_t* text, unsigned& major, unsigned& minor)
{
    if (!text) return 0;
    unsigned a = 0, b = 0;
    if (swscanf(text, L"%u.%u", &a, &b) != 2) return 0;
    major = a;
    minor = b;
    return 1;
}

ModuleVersion::ModuleVersion() : m_data(nullptr), m_major(1), m_minor(1) {}

ModuleVersion::~ModuleVersion()
{
    FreeData();
}

void ModuleVersion::FreeData()
{
    free(m_data);
    m_data = nullptr;
    m_major = 1;
    m_minor = 1;
}

int ModuleVersion::Load(HMODULE module)
{
    wchar_t path[MAX_PATH + 1];
    DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        m_fileName.Clear();
        m_folder.Clear();
        FreeData();
        return 0;
    }
    path[n] = L'\0';
    return LoadFile(path);
}

int ModuleVersion::LoadFile(const wchar_t* path)
{
    FreeData();
    if (!path || !m_fileName.Assign(path) || !m_folder.Assign(path)) return 0;
    int slash = m_folder.FindLast(L'\\');
    m_folder.Truncate(slash + 1);
    ReadVersion();
    return 1;
}

void ModuleVersion::ReadVersion()
{
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(m_fileName, &ignored);
    if (size == 0) return;
    m_data = malloc(size);
    if (!m_data) return;
    if (!GetFileVersionInfoW(m_fileName, 0, size, m_data)) {
        FreeData();
        return;
    }
    WideString text;
    if (GetString(L"FileVersion", text) && ParseVersionPair(text, m_major, m_minor)) return;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(m_data, L"\\", (void**)&fixed, &length) && fixed && length == sizeof(VS_FIXEDFILEINFO)) {
        m_major = HIWORD(fixed->dwProductVersionMS);
        m_minor = LOWORD(fixed->dwProductVersionMS);
    }
}

int ModuleVersion::GetString(const wchar_t* name, WideString& value) const
{
    value.Clear();
    if (!m_data || !name) return 0;
    static const wchar_t* const Blocks[] = {L"\\StringFileInfo\\040704B0\\%s", L"\\StringFileInfo\\040904B0\\%s"};
    for (const wchar_t* block : Blocks) {
        WideString query;
        if (!query.Format(block, name)) return 0;
        wchar_t* text = nullptr;
        UINT length = 0;
        if (VerQueryValueW(m_data, query, (void**)&text, &length) && text) return value.Assign(text);
    }
    return 0;
}

int ModuleVersion::BuildTitle(const wchar_t* product, WideString& title) const
{
    return title.Format(L"%s [%u.%02u]", product ? product : L"", m_major, m_minor);
}
