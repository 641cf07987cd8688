// The installation passes on real folders, with downloads taken from local files and any
// one file operation made to fail.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>
#include <string>

#include "harness/Harness.h"
#include "net/HttpClient.h"
#include "update/Installation.h"

namespace {

typedef std::map<std::wstring, std::string> Tree;

Tree ReadTree(const std::wstring& folder)
{
    return harness::ReadFolderTree(folder);
}

std::string Describe(const Tree& tree)
{
    std::string text;
    for (const auto& entry : tree) {
        for (wchar_t c : entry.first) text += (char)c;
        text += "=" + entry.second.substr(0, 24) + "; ";
    }
    return text;
}

// Downloads copy "<source><address>"; the n-th call of the chosen operation fails.
class TestSystem : public SystemInstallSystem {
public:
    enum Operation { None, DownloadOp, MoveOp, ExtractOp, CreateFolderOp };
    TestSystem(const std::wstring& source) : SystemInstallSystem(m_http), m_source(source) {}
    void FailAt(Operation operation, int call)
    {
        m_failing = operation;
        m_failAt = call;
        m_calls = 0;
        m_failed = false;
        m_stopped = false;
    }
    bool Failed() const { return m_failed; }
    int Download(const wchar_t* address, const wchar_t* target) override
    {
        if (Fails(DownloadOp)) {
            // A download that breaks off leaves no file, as the client's does.
            DeleteFileW(target);
            return 0;
        }
        return Seen(CopyFileW((m_source + address).c_str(), target, FALSE) ? 1 : 0);
    }
    int Move(const wchar_t* from, const wchar_t* to) override
    {
        return Fails(MoveOp) ? 0 : Seen(SystemInstallSystem::Move(from, to));
    }
    int Extract(const wchar_t* archive, const wchar_t* folder) override
    {
        return Fails(ExtractOp) ? 0 : Seen(SystemInstallSystem::Extract(archive, folder));
    }
    int CreateFolder(const wchar_t* path) override
    {
        return Fails(CreateFolderOp) ? 0 : Seen(SystemInstallSystem::CreateFolder(path));
    }

private:
    // Only the installation's first failure is made here: what comes after it is the
    // putting back, which must find the operations working.
    bool Fails(Operation operation)
    {
        if (m_failed || m_stopped || operation != m_failing) return false;
        if (++m_calls < m_failAt) return false;
        m_failed = true;
        return true;
    }
    int Seen(int result)
    {
        if (!result) m_stopped = true;
        return result;
    }
    HttpClient m_http;
    std::wstring m_source;
    Operation m_failing = None;
    int m_failAt = 0;
    int m_calls = 0;
    bool m_failed = false;
    bool m_stopped = false;
};

UpdateFileEntry Entry(const wchar_t* address, const wchar_t* name, const wchar_t* zip = nullptr)
{
    UpdateFileEntry entry;
    entry.address = address;
    if (name) {
        entry.hasName = true;
        entry.name = name;
    }
    if (zip) {
        entry.hasZip = true;
        entry.zip = zip;
    }
    return entry;
}

// The archive replaces the tool and the table and brings a new folder; made once.
std::wstring PackArchive()
{
    static std::wstring archive;
    if (!archive.empty()) return archive;
    std::wstring pack = harness::ScratchDir(L"install-pack") + L"pack\\";
    CreateDirectoryW(pack.c_str(), nullptr);
    CreateDirectoryW((pack + L"data").c_str(), nullptr);
    CreateDirectoryW((pack + L"fonts").c_str(), nullptr);
    harness::WriteFileBytes(pack + L"tool.exe", "tool 1.08 zipped");
    harness::WriteFileBytes(pack + L"data\\table.bin", "table 1.08");
    harness::WriteFileBytes(pack + L"fonts\\face.ttf", "face");
    std::string unix = harness::UnixPath(pack);
    EXPECT_EQ(0, harness::RunUnix(L"cd '" + std::wstring(unix.begin(), unix.end()) +
                                  L"' && zip -q -r ../pack.zip tool.exe data fonts"));
    archive = pack + L"..\\pack.zip";
    return archive;
}

// A program folder as an earlier update left it, and the files of the next one.
struct ProgramFolders {
    std::wstring folder;
    std::wstring source;
    std::wstring desktop;
    explicit ProgramFolders(const wchar_t* name)
    {
        std::wstring root = harness::ScratchDir(name);
        folder = root + L"program\\";
        source = root + L"served\\";
        desktop = root + L"desktop\\";
        for (const std::wstring& path : {folder, source, desktop, folder + L"data\\"})
            CreateDirectoryW(path.c_str(), nullptr);
        harness::WriteFileBytes(folder + L"tool.exe", "tool 1.07");
        harness::WriteFileBytes(folder + L"tool_old.exe", "tool 1.06");
        harness::WriteFileBytes(folder + L"help.html", "help 1.07");
        harness::WriteFileBytes(folder + L"data\\table.bin", "table 1.07");
        harness::WriteFileBytes(source + L"tool.exe", "tool 1.08");
        harness::WriteFileBytes(source + L"help.html", "help 1.08");
        harness::WriteFileBytes(source + L"setup.exe", "setup 1.08");
        CopyFileW(PackArchive().c_str(), (source + L"pack.zip").c_str(), FALSE);
        harness::WriteFileBytes(source + L"broken.zip", "PK\x03\x04 not really an archive");
    }
};

}  // namespace

TEST(Installation, PlainFilesGoInPlaceAndTheFormerOnesAside)
{
    ProgramFolders setup(L"install-plain");
    TestSystem system(setup.source);
    UpdateInstallation installation(system, setup.folder.c_str(), setup.desktop.c_str());
    std::vector<UpdateFileEntry> entries = {Entry(L"tool.exe", L"tool.exe"), Entry(L"help.html", L"help.html")};
    volatile LONG step = 7;
    WideString installer;
    ASSERT_EQ(1, installation.Run(entries, step, installer));
    EXPECT_EQ(1, step);
    EXPECT_TRUE(installer.IsEmpty());
    Tree expected = {{L"data\\", ""},
                     {L"data\\table.bin", "table 1.07"},
                     {L"help.html", "help 1.08"},
                     {L"help.html_old.html", "help 1.07"},
                     {L"tool.exe", "tool 1.08"},
                     {L"tool_old.exe", "tool 1.07"}};
    EXPECT_EQ(expected, ReadTree(setup.folder)) << Describe(ReadTree(setup.folder));
}

TEST(Installation, ArchivesAreUnpackedWithTheirFolders)
{
    ProgramFolders setup(L"install-zip");
    TestSystem system(setup.source);
    UpdateInstallation installation(system, setup.folder.c_str(), setup.desktop.c_str());
    std::vector<UpdateFileEntry> entries = {Entry(L"pack.zip", L"tool.exe", L"pack.zip")};
    volatile LONG step = 0;
    WideString installer;
    ASSERT_EQ(1, installation.Run(entries, step, installer));
    Tree expected = {{L"data\\", ""},
                     {L"data\\table.bin", "table 1.08"},
                     {L"fonts\\", ""},
                     {L"fonts\\face.ttf", "face"},
                     {L"help.html", "help 1.07"},
                     {L"tool.exe", "tool 1.08 zipped"},
                     {L"tool_old.exe", "tool 1.07"}};
    EXPECT_EQ(expected, ReadTree(setup.folder)) << Describe(ReadTree(setup.folder));
}

TEST(Installation, SetupProgramsLandOnTheDesktop)
{
    ProgramFolders setup(L"install-setup");
    TestSystem system(setup.source);
    UpdateInstallation installation(system, setup.folder.c_str(), setup.desktop.c_str());
    Tree before = ReadTree(setup.folder);
    // The address's text after "=" names the file: "setup.exe" below the served folder.
    std::vector<UpdateFileEntry> entries = {Entry(L"setup.exe", nullptr)};
    volatile LONG step = 0;
    WideString installer;
    ASSERT_EQ(1, installation.Run(entries, step, installer));
    EXPECT_EQ(setup.desktop + L"setup.exe", std::wstring(installer.Text()));
    EXPECT_EQ("setup 1.08", harness::ReadFileBytes(setup.desktop + L"setup.exe"));
    EXPECT_EQ(before, ReadTree(setup.folder));

    // A file of the user's own with the setup program's name stays; the download takes
    // the next free name.
    harness::WriteFileBytes(setup.desktop + L"setup.exe", "the user's own file");
    harness::WriteFileBytes(setup.desktop + L"setup (2).exe", "another of the user's files");
    UpdateInstallation again(system, setup.folder.c_str(), setup.desktop.c_str());
    ASSERT_EQ(1, again.Run(entries, step, installer));
    EXPECT_EQ(setup.desktop + L"setup (3).exe", std::wstring(installer.Text()));
    Tree desktop = {{L"setup (2).exe", "another of the user's files"},
                    {L"setup (3).exe", "setup 1.08"},
                    {L"setup.exe", "the user's own file"}};
    EXPECT_EQ(desktop, ReadTree(setup.desktop)) << Describe(ReadTree(setup.desktop));

    std::vector<UpdateFileEntry> none;
    step = 1;
    EXPECT_EQ(0, installation.Run(none, step, installer)) << "an empty file list installs nothing";
    EXPECT_EQ(0, step);
}

namespace {

// When a move fails, another program opens `busy` for a moment, sharing it only for reading,
// as a virus scanner does with a file that just changed: the roll-back meets a file that it
// cannot move back at once.
class BusyFileSystem : public TestSystem {
public:
    BusyFileSystem(const std::wstring& source, const std::wstring& busy) : TestSystem(source), m_busy(busy) {}
    ~BusyFileSystem() override
    {
        if (m_closer) {
            WaitForSingleObject(m_closer, INFINITE);
            CloseHandle(m_closer);
        }
    }
    int Move(const wchar_t* from, const wchar_t* to) override
    {
        int moved = TestSystem::Move(from, to);
        if (!moved && !m_closer) {
            m_file = CreateFileW(m_busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            EXPECT_NE(INVALID_HANDLE_VALUE, m_file) << "the file to hold is there";
            m_closer = CreateThread(nullptr, 0, CloseLater, this, 0, nullptr);
        }
        return moved;
    }

private:
    static DWORD WINAPI CloseLater(void* self)
    {
        BusyFileSystem* system = static_cast<BusyFileSystem*>(self);
        Sleep(500);
        CloseHandle(system->m_file);
        return 0;
    }
    std::wstring m_busy;
    HANDLE m_file = INVALID_HANDLE_VALUE;
    HANDLE m_closer = nullptr;
};

}  // namespace

TEST(Installation, AFileHeldOpenForAMomentStillGoesBack)
{
    // The program moves aside, then a file the folder does not have cannot be moved: the
    // installation rolls back while another program reads the moved program.
    ProgramFolders setup(L"install-busy");
    Tree before = ReadTree(setup.folder);
    BusyFileSystem system(setup.source, setup.folder + L"tool_old.exe");
    UpdateInstallation installation(system, setup.folder.c_str(), setup.desktop.c_str());
    std::vector<UpdateFileEntry> entries = {Entry(L"tool.exe", L"tool.exe"), Entry(L"help.html", L"absent.dll")};
    volatile LONG step = 0;
    WideString installer;
    EXPECT_EQ(0, installation.Run(entries, step, installer));
    EXPECT_EQ(before, ReadTree(setup.folder)) << Describe(ReadTree(setup.folder));
}

TEST(Installation, AFailureAtAnyStepPutsTheFolderBack)
{
    // Every download, move, folder and extraction of two installations is made to fail in
    // turn; each time the program folder (with an earlier update's _old file) must be
    // byte for byte what it was, with nothing left on the desktop.
    struct Plan {
        const char* what;
        std::vector<UpdateFileEntry> entries;
    } plans[] = {
        {"plain files", {Entry(L"tool.exe", L"tool.exe"), Entry(L"help.html", L"help.html"), Entry(L"setup.exe", nullptr)}},
        {"an archive and a file", {Entry(L"pack.zip", L"tool.exe", L"pack.zip"), Entry(L"help.html", L"help.html")}},
        {"a broken archive", {Entry(L"help.html", L"help.html"), Entry(L"broken.zip", L"tool.exe", L"broken.zip")}},
        {"a file that is not there", {Entry(L"tool.exe", L"tool.exe"), Entry(L"help.html", L"missing.dll")}},
        {"an archive without the named file", {Entry(L"pack.zip", L"other.exe", L"pack.zip")}},
    };
    const TestSystem::Operation operations[] = {TestSystem::DownloadOp, TestSystem::MoveOp, TestSystem::ExtractOp,
                                                TestSystem::CreateFolderOp};
    int failures = 0;
    for (const Plan& plan : plans) {
        for (TestSystem::Operation operation : operations) {
            for (int call = 1; call < 40; call++) {
                ProgramFolders setup(L"install-failing");
                Tree before = ReadTree(setup.folder);
                TestSystem system(setup.source);
                system.FailAt(operation, call);
                UpdateInstallation installation(system, setup.folder.c_str(), setup.desktop.c_str());
                volatile LONG step = 1;
                WideString installer;
                int result = installation.Run(plan.entries, step, installer);
                if (!system.Failed()) {
                    // Past the last call of this operation: the plan's own outcome.
                    bool sound = std::string(plan.what) != "a broken archive" &&
                                 std::string(plan.what) != "a file that is not there" &&
                                 std::string(plan.what) != "an archive without the named file";
                    EXPECT_EQ(sound ? 1 : 0, result) << plan.what;
                    if (!sound) {
                        EXPECT_EQ(before, ReadTree(setup.folder)) << plan.what;
                    }
                    break;
                }
                failures++;
                EXPECT_EQ(0, result) << plan.what << ", operation " << operation << " call " << call;
                EXPECT_EQ(0, step);
                EXPECT_EQ(before, ReadTree(setup.folder))
                    << plan.what << ", operation " << operation << " call " << call << ": "
                    << Describe(ReadTree(setup.folder));
                EXPECT_TRUE(ReadTree(setup.desktop).empty()) << plan.what;
            }
        }
    }
    EXPECT_GT(failures, 20) << "the failures reached every pass";
}

namespace {

// Refuses the files whose names hold a given text; each question must come while every
// file of the program's folder is still as it was.
class TestTrust : public UpdateTrust {
public:
    TestTrust(const std::wstring& folder, const wchar_t* refused) : m_folder(folder), m_refused(refused)
    {
        m_before = ReadTree(folder);
    }
    bool Accepts(const wchar_t* path) override
    {
        std::wstring name = path;
        asked.push_back(name.substr(name.find_last_of(L'\\') + 1));
        // Downloads and unpacked archives wait beside the files; those are all still there.
        Tree now = ReadTree(m_folder);
        for (const auto& file : m_before) {
            auto found = now.find(file.first);
            if (found == now.end() || found->second != file.second) folderChanged = true;
        }
        return !m_refused || name.find(m_refused) == std::wstring::npos;
    }
    std::vector<std::wstring> asked;
    bool folderChanged = false;

private:
    std::wstring m_folder;
    const wchar_t* m_refused;
    Tree m_before;
};

}  // namespace

TEST(Installation, EveryProgramIsCheckedBeforeTheFolderChanges)
{
    struct Case {
        const char* what;
        std::vector<UpdateFileEntry> entries;
        const wchar_t* refused;  // part of the refused file's path
        std::vector<std::wstring> asked;
        const wchar_t* reported;  // Refused()
    } cases[] = {
        {"a plain program and a page", {Entry(L"tool.exe", L"tool.exe"), Entry(L"help.html", L"help.html")}, nullptr,
         {L"tool_new.exe"}, L""},
        {"a refused program", {Entry(L"help.html", L"help.html"), Entry(L"tool.exe", L"tool.exe")}, L"tool",
         {L"tool_new.exe"}, L"tool.exe"},
        {"an archive's program", {Entry(L"pack.zip", L"tool.exe", L"pack.zip")}, nullptr, {L"tool.exe"}, L""},
        {"an archive's refused program", {Entry(L"help.html", L"help.html"), Entry(L"pack.zip", L"tool.exe", L"pack.zip")},
         L"tool", {L"tool.exe"}, L"tool.exe"},
        {"a setup program", {Entry(L"setup.exe", nullptr)}, L"setup", {L"setup.exe"}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramFolders setup(L"install-trust");
        Tree before = ReadTree(setup.folder);
        TestSystem system(setup.source);
        TestTrust trust(setup.folder, c.refused);
        UpdateInstallation installation(system, setup.folder.c_str(), setup.desktop.c_str(), &trust);
        volatile LONG step = 0;
        WideString installer;
        int result = installation.Run(c.entries, step, installer);
        EXPECT_EQ(c.asked, trust.asked);
        EXPECT_FALSE(trust.folderChanged) << "asked only while the folder was untouched";
        if (!c.refused) {
            EXPECT_EQ(1, result);
            EXPECT_TRUE(installation.Refused().empty());
            continue;
        }
        EXPECT_EQ(0, result);
        EXPECT_EQ(before, ReadTree(setup.folder)) << Describe(ReadTree(setup.folder));
        EXPECT_TRUE(ReadTree(setup.desktop).empty());
        std::wstring reported = c.reported ? c.reported : setup.desktop + L"setup.exe";
        EXPECT_EQ(reported, installation.Refused());
        EXPECT_TRUE(installation.Installed().empty());
    }

    // What was put in place is what the restart may start.
    ProgramFolders setup(L"install-listed");
    TestSystem system(setup.source);
    UpdateInstallation installation(system, setup.folder.c_str(), setup.desktop.c_str());
    volatile LONG step = 0;
    WideString installer;
    ASSERT_EQ(1, installation.Run({Entry(L"help.html", L"help.html"), Entry(L"pack.zip", L"tool.exe", L"pack.zip")},
                                  step, installer));
    std::vector<std::wstring> installed = installation.Installed();
    std::sort(installed.begin(), installed.end());
    EXPECT_EQ((std::vector<std::wstring>{L"data\\table.bin", L"fonts\\face.ttf", L"help.html", L"tool.exe"}),
              installed);
}
