#include "update/Installation.h"

#include <limits.h>

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

// Every file and folder below `root + relative`, as paths relative to `root`, looking at
// no more than `budget` entries. Links to elsewhere (reparse points) are not entered: only
// the tree itself is walked.
void ListBelow(const std::wstring& root, const std::wstring& relative, std::vector<std::wstring>& files,
               std::vector<std::wstring>& folders, int& budget)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((root + relative + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    std::vector<std::wstring> below;
    do {
        if (--budget < 0) break;
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            folders.push_back(relative + name);
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) below.push_back(relative + name + L"\\");
        } else {
            files.push_back(relative + name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    for (const std::wstring& folder : below)
        if (budget > 0) ListBelow(root, folder, files, folders, budget);
}

}  // namespace

bool IsSetAsideName(const wchar_t* name)
{
    const wchar_t* marker = name ? wcsstr(name, L".~aside") : nullptr;
    if (!marker) return false;
    const wchar_t* digits = marker + 7;
    if (!*digits) return false;
    for (const wchar_t* c = digits; *c; c++)
        if (*c < L'0' || *c > L'9') return false;
    return true;
}

int RemoveSetAsideFiles(const wchar_t* programFolder)
{
    // A program folder holds a few dozen files: this many entries is a folder that is not one.
    const int SetAsideScanLimit = 4096;
    if (!programFolder || !programFolder[0]) return 0;
    std::wstring folder = programFolder;
    if (folder.back() != L'\\') folder += L'\\';
    std::vector<std::wstring> files, folders;
    int budget = SetAsideScanLimit, removed = 0;
    ListBelow(folder, L"", files, folders, budget);
    for (const std::wstring& file : files) {
        size_t slash = file.rfind(L'\\');
        if (!IsSetAsideName(file.c_str() + (slash == std::wstring::npos ? 0 : slash + 1))) continue;
        std::wstring path = folder + file;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileW(path.c_str())) removed++;
    }
    return removed;
}

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
    int budget = INT_MAX;
    ListBelow(folder, L"", files, folders, budget);
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

bool SignerTrust::Accepts(const wchar_t* path)
{
    SignerIdentity signer;
    return ReadFileSigner(path, signer) && signer.Same(m_signer);
}

UpdateInstallation::UpdateInstallation(InstallSystem& system, const wchar_t* programFolder,
                                       const wchar_t* desktopFolder, UpdateTrust* trust, InstallGuard* guard)
    : m_system(system), m_trust(trust), m_guard(guard), m_folder(programFolder ? programFolder : L""),
      m_desktop(desktopFolder ? desktopFolder : L"")
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
    m_targets.assign(entries.size(), std::wstring());
    m_staged.assign(entries.size(), Staged());
    m_installed.clear();
    m_refused.clear();
    // Everything is downloaded, unpacked and checked before the first file of the
    // program's folder moves.
    if (Download(entries, stepResult, installerPath) && Unpack(entries, stepResult) && Check(entries) &&
        MoveAside(entries, stepResult) && PutInPlace(entries, stepResult)) {
        Commit();
        return 1;
    }
    InterlockedExchange(&stepResult, 0);
    RollBack();
    m_installed.clear();
    return 0;
}

bool UpdateInstallation::Download(const std::vector<UpdateFileEntry>& entries, volatile LONG& stepResult,
                                  WideString& installerPath)
{
    for (size_t index = 0; index < entries.size(); index++) {
        const UpdateFileEntry& entry = entries[index];
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
            // A file of the user's own with that name stays: the download takes a free one.
            target.Format(L"%s%s", m_desktop.c_str(), name.Text());
            for (unsigned n = 2; m_system.Exists(target) && n < 1000; n++) {
                WideString suffix, free;
                suffix.Format(L" (%u)", n);
                AddNameSuffix(name, suffix, free);
                target.Format(L"%s%s", m_desktop.c_str(), free.Text());
            }
            installerPath = target;
        }
        if (!SetAside(target.Text())) return false;
        // A failed download leaves no file behind; what it wrote is ours to remove later.
        m_records.push_back({Change::Created, target.Text(), L""});
        m_targets[index] = target.Text();
        if (m_guard) m_guard->BeginWait();
        int downloaded = m_system.Download(entry.address, target);
        if (m_guard) m_guard->EndWait();
        if (!downloaded) return false;
        InterlockedExchange(&stepResult, 1);
    }
    return true;
}

bool UpdateInstallation::Unpack(const std::vector<UpdateFileEntry>& entries, volatile LONG& stepResult)
{
    // An archive is unpacked beside the program first: only a whole, sound archive that
    // holds the file its entry names reaches the program's files.
    for (size_t index = 0; index < entries.size(); index++) {
        const UpdateFileEntry& entry = entries[index];
        if (!entry.hasName || !entry.hasZip) continue;
        InterlockedExchange(&stepResult, 0);
        Staged& staged = m_staged[index];
        staged.folder = FreeName(m_folder + L"~update") + L"\\";
        if (!m_system.CreateFolder(staged.folder.substr(0, staged.folder.size() - 1).c_str())) return false;
        m_staging.push_back(staged.folder);
        bool unpacked = m_system.Extract(m_targets[index].c_str(), staged.folder.c_str()) != 0;
        m_system.Delete(m_targets[index].c_str());
        if (!unpacked || !m_system.List(staged.folder.c_str(), staged.files, staged.folders)) return false;
        if (FindName(staged.files, entry.name) < 0) return false;
        InterlockedExchange(&stepResult, 1);
    }
    return true;
}

bool UpdateInstallation::Check(const std::vector<UpdateFileEntry>& entries)
{
    if (!m_trust) return true;
    for (size_t index = 0; index < entries.size(); index++) {
        const UpdateFileEntry& entry = entries[index];
        if (!entry.hasName) {
            // A setup program is started whatever its name; a setup archive is only shown.
            if (!entry.hasZip && !CheckFile(m_targets[index], m_targets[index])) return false;
        } else if (!entry.hasZip) {
            if (IsExecutableName(entry.name) && !CheckFile(m_targets[index], entry.name.Text())) return false;
        } else {
            for (const std::wstring& file : m_staged[index].files)
                if (IsExecutableName(file.c_str()) && !CheckFile(m_staged[index].folder + file, file)) return false;
        }
    }
    return true;
}

bool UpdateInstallation::CheckFile(const std::wstring& path, const std::wstring& shownName)
{
    if (m_trust->Accepts(path.c_str())) return true;
    m_refused = shownName;
    return false;
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
    for (size_t index = 0; index < entries.size(); index++) {
        const UpdateFileEntry& entry = entries[index];
        InterlockedExchange(&stepResult, 0);
        if (entry.hasName) {
            if (entry.hasZip) {
                if (!PlaceStaged(m_staged[index])) return false;
            } else {
                WideString installed;
                InstalledPath(m_folder.c_str(), entry.name, installed);
                if (!SetAside(installed.Text())) return false;
                if (!Move(m_targets[index], installed.Text())) return false;
                m_installed.push_back(entry.name.Text());
            }
        }
        InterlockedExchange(&stepResult, 1);
    }
    return true;
}

bool UpdateInstallation::PlaceStaged(const Staged& staged)
{
    // Every file the archive replaces is set aside, so that it can be put back.
    for (const std::wstring& folder : staged.folders)
        if (!MakeFolders(m_folder, folder)) return false;
    for (const std::wstring& file : staged.files) {
        std::wstring target = m_folder + file;
        size_t slash = file.rfind(L'\\');
        if (slash != std::wstring::npos && !MakeFolders(m_folder, file.substr(0, slash))) return false;
        if (!SetAside(target)) return false;
        if (!Move(staged.folder + file, target)) return false;
        m_installed.push_back(file);
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
    // Another program may hold one of the files open for a moment (a virus scanner looking
    // at a new program, an indexer, a backup): each step of putting the folder back is
    // tried again for a while before it is left as it is.
    const int Attempts = 50;
    const DWORD Pause = 100;
    for (auto record = m_records.rbegin(); record != m_records.rend(); ++record) {
        const wchar_t* path = record->path.c_str();
        switch (record->change) {
        case Change::Created:
            for (int i = 0; m_system.Exists(path) && !m_system.Delete(path) && i < Attempts; i++) Sleep(Pause);
            break;
        case Change::Moved: {
            const wchar_t* to = record->to.c_str();
            for (int i = 0; m_system.Exists(to) && !m_system.Exists(path) && !m_system.Move(to, path) && i < Attempts; i++)
                Sleep(Pause);
            break;
        }
        case Change::MadeFolder:
            for (int i = 0; m_system.Exists(path) && !m_system.RemoveFolder(path) && i < Attempts; i++) Sleep(Pause);
            break;
        }
    }
    for (const std::wstring& staging : m_staging) RemoveTree(staging);
    m_records.clear();
    m_setAside.clear();
    m_staging.clear();
}
