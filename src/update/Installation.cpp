#include "update/Installation.h"

#include <algorithm>

#include "archive/ExtractArchive.h"
#include "net/HttpClient.h"
#include "update/UpdateRules.h"

namespace {

// A path in the ANSI code page, refused when a character has no exact form there.
bool ToAnsi(const wchar_t* path, std::string& ansi)
{
    BOOL lossy = FALSE;
    int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path, -1, nullptr, 0, nullptr, &lossy);
    if (size <= 0 || lossy) return false;
    ansi.assign((size_t)size, '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path, -1, &ansi[0], size, nullptr, &lossy);
    ansi.resize((size_t)size - 1);
    return !lossy;
}

void ListBelow(const std::wstring& root, const std::wstring& relative, std::vector<std::wstring>& files,
               std::vector<std::wstring>& folders)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((root + relative + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    std::vector<std::wstring> below;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            folders.push_back(relative + name);
            below.push_back(relative + name + L"\\");
        } else {
            files.push_back(relative + name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    for (const std::wstring& folder : below) ListBelow(root, folder, files, folders);
}

}  // namespace

int SystemInstallSystem::Download(const wchar_t* address, const wchar_t* target)
{
    return m_http.DownloadFile(address, L"AutoUpdate", target, 0, ApproveAll, nullptr, L"Accept: */*\r\n\r\n", -1,
                               nullptr, (DWORD)-1, 0, nullptr);
}

bool SystemInstallSystem::Exists(const wchar_t* path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

bool SystemInstallSystem::IsFolder(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int SystemInstallSystem::Move(const wchar_t* from, const wchar_t* to)
{
    return MoveFileW(from, to) ? 1 : 0;
}

int SystemInstallSystem::Delete(const wchar_t* path)
{
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(path) ? 1 : 0;
}

int SystemInstallSystem::Extract(const wchar_t* archive, const wchar_t* folder)
{
    std::string ansiArchive, ansiFolder;
    if (!ToAnsi(archive, ansiArchive) || !ToAnsi(folder, ansiFolder)) return 0;
    return ExtractArchive(ansiArchive.c_str(), ansiFolder.c_str());
}

int SystemInstallSystem::CreateFolder(const wchar_t* path)
{
    return CreateDirectoryW(path, nullptr) ? 1 : 0;
}

int SystemInstallSystem::RemoveFolder(const wchar_t* path)
{
    SetFileAttributesW(path, FILE_ATTRIBUTE_DIRECTORY);
    return RemoveDirectoryW(path) ? 1 : 0;
}

int SystemInstallSystem::List(const wchar_t* folder, std::vector<std::wstring>& files,
                              std::vector<std::wstring>& folders)
{
    files.clear();
    folders.clear();
    ListBelow(folder, L"", files, folders);
    return 1;
}

void InstalledPath(const wchar_t* folder, const wchar_t* name, WideString& path)
{
    path.Format(L"%s%s", folder, name);
}

void NewPath(const wchar_t* folder, const wchar_t* name, WideString& path)
{
    WideString installed;
    InstalledPath(folder, name, installed);
    AddNameSuffix(installed, L"_new", path);
}

void OldPath(const wchar_t* folder, const wchar_t* name, WideString& path)
{
    WideString installed;
    InstalledPath(folder, name, installed);
    AddNameSuffix(installed, L"_old", path);
}

UpdateInstallation::UpdateInstallation(InstallSystem& system, const wchar_t* programFolder,
                                       const wchar_t* desktopFolder)
    : m_system(system), m_folder(programFolder ? programFolder : L""), m_desktop(desktopFolder ? desktopFolder : L"")
{
    if (!m_folder.empty() && m_folder.back() != L'\\') m_folder += L'\\';
    if (!m_desktop.empty() && m_desktop.back() != L'\\') m_desktop += L'\\';
}

bool UpdateInstallation::EntriesAreSafe(const std::vector<UpdateFileEntry>& entries)
{
    for (const UpdateFileEntry& entry : entries) {
        if (entry.hasName) {
            if (!IsSafeFileName(entry.name, false)) return false;
            if (entry.hasZip && !IsSafeFileName(entry.zip, false)) return false;
        } else {
            WideString name;
            if (entry.hasZip)
                name = entry.zip;
            else
                SetupProgramName(entry.address, name);
            if (!IsSafeFileName(name, true)) return false;
        }
    }
    return true;
}

int UpdateInstallation::Run(const std::vector<UpdateFileEntry>& entries, volatile LONG& stepResult,
                            WideString& installerPath)
{
    InterlockedExchange(&stepResult, 0);
    if (entries.empty() || !EntriesAreSafe(entries)) return 0;
    m_records.clear();
    m_setAside.clear();
    m_staging.clear();
    if (Download(entries, stepResult, installerPath) && MoveAside(entries, stepResult) &&
        PutInPlace(entries, stepResult)) {
        Commit();
        return 1;
    }
    InterlockedExchange(&stepResult, 0);
    RollBack();
    return 0;
}

bool UpdateInstallation::Download(const std::vector<UpdateFileEntry>& entries, volatile LONG& stepResult,
                                  WideString& installerPath)
{
    for (const UpdateFileEntry& entry : entries) {
        InterlockedExchange(&stepResult, 0);
        WideString target;
        if (entry.hasName) {
            NewPath(m_folder.c_str(), entry.hasZip ? entry.zip : entry.name, target);
        } else {
            WideString name;
            if (entry.hasZip)
                name = entry.zip;
            else
                SetupProgramName(entry.address, name);
            target.Format(L"%s%s", m_desktop.c_str(), name.Text());
            installerPath = target;
        }
        if (!SetAside(target.Text())) return false;
        // A failed download leaves no file behind; what it wrote is ours to remove later.
        m_records.push_back({Change::Created, target.Text(), L""});
        if (!m_system.Download(entry.address, target)) return false;
        InterlockedExchange(&stepResult, 1);
    }
    return true;
}

bool UpdateInstallation::MoveAside(const std::vector<UpdateFileEntry>& entries, volatile LONG& stepResult)
{
    for (const UpdateFileEntry& entry : entries) {
        InterlockedExchange(&stepResult, 0);
        if (entry.hasName) {
            WideString installed, old;
            InstalledPath(m_folder.c_str(), entry.name, installed);
            OldPath(m_folder.c_str(), entry.name, old);
            // The former update's "_old" file goes; it comes back should this one fail.
            if (!SetAside(old.Text())) return false;
            if (!Move(installed.Text(), old.Text())) return false;
        }
        InterlockedExchange(&stepResult, 1);
    }
    return true;
}

bool UpdateInstallation::PutInPlace(const std::vector<UpdateFileEntry>& entries, volatile LONG& stepResult)
{
    for (const UpdateFileEntry& entry : entries) {
        InterlockedExchange(&stepResult, 0);
        if (entry.hasName) {
            if (entry.hasZip) {
                WideString archive;
                NewPath(m_folder.c_str(), entry.zip, archive);
                bool unpacked = Unpack(archive);
                m_system.Delete(archive);
                if (!unpacked) return false;
            } else {
                WideString fresh, installed;
                NewPath(m_folder.c_str(), entry.name, fresh);
                InstalledPath(m_folder.c_str(), entry.name, installed);
                if (!SetAside(installed.Text())) return false;
                if (!Move(fresh.Text(), installed.Text())) return false;
            }
        }
        InterlockedExchange(&stepResult, 1);
    }
    return true;
}

bool UpdateInstallation::Unpack(const wchar_t* archive)
{
    // The archive is unpacked beside the program first: only a whole, sound archive
    // reaches the program's files, and every file it replaces can be put back.
    std::wstring staging = FreeName(m_folder + L"~update") + L"\\";
    if (!m_system.CreateFolder(staging.substr(0, staging.size() - 1).c_str())) return false;
    m_staging.push_back(staging);
    if (!m_system.Extract(archive, staging.c_str())) return false;
    std::vector<std::wstring> files, folders;
    if (!m_system.List(staging.c_str(), files, folders)) return false;
    for (const std::wstring& folder : folders)
        if (!MakeFolders(m_folder, folder)) return false;
    for (const std::wstring& file : files) {
        std::wstring target = m_folder + file;
        size_t slash = file.rfind(L'\\');
        if (slash != std::wstring::npos && !MakeFolders(m_folder, file.substr(0, slash))) return false;
        if (!SetAside(target)) return false;
        if (!Move(staging + file, target)) return false;
    }
    return true;
}

bool UpdateInstallation::SetAside(const std::wstring& path)
{
    if (!m_system.Exists(path.c_str())) return true;
    if (m_system.IsFolder(path.c_str())) return false;
    std::wstring aside = FreeName(path + L".~aside");
    if (!Move(path, aside)) return false;
    m_setAside.push_back(aside);
    return true;
}

bool UpdateInstallation::Move(const std::wstring& from, const std::wstring& to)
{
    if (!m_system.Move(from.c_str(), to.c_str())) return false;
    m_records.push_back({Change::Moved, from, to});
    return true;
}

bool UpdateInstallation::MakeFolders(const std::wstring& folder, const std::wstring& relative)
{
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find(L'\\', start);
        if (end == std::wstring::npos) end = relative.size();
        std::wstring path = folder + relative.substr(0, end);
        if (!m_system.IsFolder(path.c_str())) {
            if (m_system.Exists(path.c_str()) || !m_system.CreateFolder(path.c_str())) return false;
            m_records.push_back({Change::MadeFolder, path, L""});
        }
        start = end + 1;
    }
    return true;
}

void UpdateInstallation::RemoveTree(const std::wstring& folder)
{
    std::vector<std::wstring> files, folders;
    m_system.List(folder.c_str(), files, folders);
    for (const std::wstring& file : files) m_system.Delete((folder + file).c_str());
    std::reverse(folders.begin(), folders.end());
    for (const std::wstring& below : folders) m_system.RemoveFolder((folder + below).c_str());
    m_system.RemoveFolder(folder.substr(0, folder.size() - 1).c_str());
}

std::wstring UpdateInstallation::FreeName(const std::wstring& base)
{
    for (unsigned n = 1;; n++) {
        std::wstring name = base + std::to_wstring(n);
        if (!m_system.Exists(name.c_str())) return name;
    }
}

void UpdateInstallation::Commit()
{
    for (const std::wstring& aside : m_setAside) m_system.Delete(aside.c_str());
    for (const std::wstring& staging : m_staging) RemoveTree(staging);
    m_records.clear();
    m_setAside.clear();
    m_staging.clear();
}

void UpdateInstallation::RollBack()
{
    for (auto record = m_records.rbegin(); record != m_records.rend(); ++record) {
        switch (record->change) {
        case Change::Created:
            if (m_system.Exists(record->path.c_str())) m_system.Delete(record->path.c_str());
            break;
        case Change::Moved:
            if (m_system.Exists(record->to.c_str())) m_system.Move(record->to.c_str(), record->path.c_str());
            break;
        case Change::MadeFolder:
            m_system.RemoveFolder(record->path.c_str());
            break;
        }
    }
    for (const std::wstring& staging : m_staging) RemoveTree(staging);
    m_records.clear();
    m_setAside.clear();
    m_staging.clear();
}
