// Installing the files of an update next to the running program: download every file,
// move the current ones aside, put the new ones in place. Every change to the program's
// folder is recorded, so that a failure at any step puts the folder back as it was.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/WideString.h"
#include "platform/Authenticode.h"

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

// Whether a file may be put in place: asked for every program and library an update
// would install, and for a setup program, while they are still outside the folder.
class UpdateTrust {
public:
    virtual ~UpdateTrust() {}
    virtual bool Accepts(const wchar_t* path) = 0;
};

// Told when an installation starts to wait on the network, where it may be ended from
// outside, and when it goes back to work on files, where it must not be. EndWait does not
// return when the installation was ended meanwhile.
class InstallGuard {
public:
    virtual ~InstallGuard() {}
    virtual void BeginWait() = 0;
    virtual void EndWait() = 0;
};

// Accepts a file whose valid signature was made by the given signer (same subject, same
// public key).
class SignerTrust : public UpdateTrust {
public:
    explicit SignerTrust(const SignerIdentity& signer) : m_signer(signer) {}
    bool Accepts(const wchar_t* path) override;

private:
    SignerIdentity m_signer;
};

// Removes the files an earlier installation set aside but could not delete (a program
// still running at the time): names ending in ".~aside" and a number, in the program's
// folder and below it. Looks at no more than a few thousand entries. Answers the count.
int RemoveSetAsideFiles(const wchar_t* programFolder);

// Whether a file name is one that an installation gave a file it set aside.
bool IsSetAsideName(const wchar_t* name);

// Paths of an entry: the program's folder ends in a backslash.
void InstalledPath(const wchar_t* folder, const wchar_t* name, WideString& path);
void NewPath(const wchar_t* folder, const wchar_t* name, WideString& path);
void OldPath(const wchar_t* folder, const wchar_t* name, WideString& path);

class UpdateInstallation {
public:
    // Without a trust, every file is accepted.
    UpdateInstallation(InstallSystem& system, const wchar_t* programFolder, const wchar_t* desktopFolder,
                       UpdateTrust* trust = nullptr, InstallGuard* guard = nullptr);

    // Whether every entry names a file inside the program's folder (or, for a setup
    // program, a plain file name on the desktop). Nothing is downloaded otherwise.
    static bool EntriesAreSafe(const std::vector<UpdateFileEntry>& entries);

    // The download, unpack, check, move-aside and put-in-place passes. `stepResult` is 0
    // while an entry is worked on and 1 once it is done. Answers 1 when every pass
    // completed; on any failure the folder is put back as it was and 0 is answered.
    // `installerPath` receives the path of a setup program among the entries. An archive
    // that lacks the file its entry names fails the installation; so does a file the
    // trust refuses, before anything in the folder was moved.
    int Run(const std::vector<UpdateFileEntry>& entries, volatile LONG& stepResult, WideString& installerPath);

    // After Run: the files put in place, relative to the program's folder.
    const std::vector<std::wstring>& Installed() const { return m_installed; }
    // After a failed Run: the file the trust refused (its name as it would be installed,
    // or a setup program's path); empty when the failure had another cause.
    const std::wstring& Refused() const { return m_refused; }

    // Puts back everything a Run did so far; for a Run whose thread was ended while its
    // guard said it waited on the network. Nothing to do after a Run that returned.
    void RollBack();

private:
    enum class Change { Created, Moved, MadeFolder };
    struct Record {
        Change change;
        std::wstring path;
        std::wstring to;
    };

    // An archive unpacked beside the program, waiting to be put in place.
    struct Staged {
        std::wstring folder;  // ends in a backslash
        std::vector<std::wstring> files;
        std::vector<std::wstring> folders;
    };

    bool Download(const std::vector<UpdateFileEntry>& entries, volatile LONG& stepResult, WideString& installerPath);
    bool Unpack(const std::vector<UpdateFileEntry>& entries, volatile LONG& stepResult);
    bool Check(const std::vector<UpdateFileEntry>& entries);
    bool CheckFile(const std::wstring& path, const std::wstring& shownName);
    bool MoveAside(const std::vector<UpdateFileEntry>& entries, volatile LONG& stepResult);
    bool PutInPlace(const std::vector<UpdateFileEntry>& entries, volatile LONG& stepResult);
    bool PlaceStaged(const Staged& staged);
    // Moves an existing file out of the way to a name of its own; deleted on success.
    bool SetAside(const std::wstring& path);
    bool Move(const std::wstring& from, const std::wstring& to);
    bool MakeFolders(const std::wstring& folder, const std::wstring& relative);
    void RemoveTree(const std::wstring& folder);
    std::wstring FreeName(const std::wstring& base);
    void Commit();

    InstallSystem& m_system;
    UpdateTrust* m_trust;
    InstallGuard* m_guard;
    std::wstring m_folder;
    std::wstring m_desktop;
    std::vector<std::wstring> m_targets;  // where each entry was downloaded to
    std::vector<Staged> m_staged;         // per entry; empty for a plain file
    std::vector<std::wstring> m_installed;
    std::wstring m_refused;
    std::vector<Record> m_records;
    std::vector<std::wstring> m_setAside;
    std::vector<std::wstring> m_staging;
};
