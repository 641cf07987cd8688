// Installing the files of an update next to the running program: download every file,
// move the current ones aside, put the new ones in place. Every change to the program's
// folder is recorded, so that a failure at any step puts the folder back as it was.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/WideString.h"

class HttpClient;

// One "url" entry of the answer's file list.
struct UpdateFileEntry {
    WideString address;
    WideString name;  // relative to the program's folder; none: a setup program
    WideString zip;   // the download is a zip archive of this name
    bool hasName = false;
    bool hasZip = false;
};

// The file operations of an installation, so that tests can make any of them fail.
class InstallSystem {
public:
    virtual ~InstallSystem() {}
    virtual int Download(const wchar_t* address, const wchar_t* target) = 0;
    virtual bool Exists(const wchar_t* path) = 0;
    virtual bool IsFolder(const wchar_t* path) = 0;
    // Renames; refused when the target exists.
    virtual int Move(const wchar_t* from, const wchar_t* to) = 0;
    // Clears the attributes first.
    virtual int Delete(const wchar_t* path) = 0;
    virtual int Extract(const wchar_t* archive, const wchar_t* folder) = 0;
    virtual int CreateFolder(const wchar_t* path) = 0;
    // Removes an empty folder.
    virtual int RemoveFolder(const wchar_t* path) = 0;
    // Every file and folder below `folder` (ending in a backslash), relative to it,
    // folders before what they hold.
    virtual int List(const wchar_t* folder, std::vector<std::wstring>& files, std::vector<std::wstring>& folders) = 0;
};

// The system's file functions, downloads through an HttpClient.
class SystemInstallSystem : public InstallSystem {
public:
    explicit SystemInstallSystem(HttpClient& http) : m_http(http) {}
    int Download(const wchar_t* address, const wchar_t* target) override;
    bool Exists(const wchar_t* path) override;
    bool IsFolder(const wchar_t* path) override;
    int Move(const wchar_t* from, const wchar_t* to) override;
    int Delete(const wchar_t* path) override;
    int Extract(const wchar_t* archive, const wchar_t* folder) override;
    int CreateFolder(const wchar_t* path) override;
    int RemoveFolder(const wchar_t* path) override;
    int List(const wchar_t* folder, std::vector<std::wstring>& files, std::vector<std::wstring>& folders) override;

private:
    HttpClient& m_http;
};

// Paths of an entry: the program's folder ends in a backslash.
void InstalledPath(const wchar_t* folder, const wchar_t* name, WideString& path);
void NewPath(const wchar_t* folder, const wchar_t* name, WideString& path);
void OldPath(const wchar_t* folder, const wchar_t* name, WideString& path);

class UpdateInstallation {
public:
    UpdateInstallation(InstallSystem& system, const wchar_t* programFolder, const wchar_t* desktopFolder);

    // Whether every entry names a file inside the program's folder (or, for a setup
    // program, a plain file name on the desktop). Nothing is downloaded otherwise.
    static bool EntriesAreSafe(const std::vector<UpdateFileEntry>& entries);

    // The download, move-aside and put-in-place passes. `stepResult` is 0 while an entry
    // is worked on and 1 once it is done. Answers 1 when all three passes completed; on
    // any failure the folder is put back as it was and 0 is answered. `installerPath`
    // receives the path of a setup program among the entries.
    int Run(const std::vector<UpdateFileEntry>& entries, volatile LONG& stepResult, WideString& installerPath);

private:
    enum class Change { Created, Moved, MadeFolder };
    struct Record {
        Change change;
        std::wstring path;
        std::wstring to;
    };

    bool Download(const std::vector<UpdateFileEntry>& entries, volatile LONG& stepResult, WideString& installerPath);
    bool MoveAside(const std::vector<UpdateFileEntry>& entries, volatile LONG& stepResult);
    bool PutInPlace(const std::vector<UpdateFileEntry>& entries, volatile LONG& stepResult);
    bool Unpack(const wchar_t* archive);
    // Moves an existing file out of the way to a name of its own; deleted on success.
    bool SetAside(const std::wstring& path);
    bool Move(const std::wstring& from, const std::wstring& to);
    bool MakeFolders(const std::wstring& folder, const std::wstring& relative);
    void RemoveTree(const std::wstring& folder);
    std::wstring FreeName(const std::wstring& base);
    void Commit();
    void RollBack();

    InstallSystem& m_system;
    std::wstring m_folder;
    std::wstring m_desktop;
    std::vector<Record> m_records;
    std::vector<std::wstring> m_setAside;
    std::vector<std::wstring> m_staging;
};
