// The engine against what a crafted or repeated update archive does to a program folder:
// guarded files, damaged entries, devices, declared sizes, passwords in the OEM code page.
// A stand-in file system keeps the rules of the Windows file functions that the native
// file system does not have.
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "ArchiveTestSupport.h"
#include "archive/PosixFileSystem.h"
#include "archive/ZipExtract.h"

namespace {

using archivetest::Exists;
using archivetest::Read;
using archivetest::Scratch;
using archivetest::Source;

void Write(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// Names in a folder tree that the engine's temporary files would have.
int TemporaryFiles(const std::string& folder)
{
    int count = 0;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return 0;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (name.find(".~") != std::string::npos) count++;
        if (entry->d_type == DT_DIR) count += TemporaryFiles(folder + "/" + name);
    }
    closedir(dir);
    return count;
}

// Output that fails with a full disk after a number of bytes.
class FillingOutput : public OutputFile {
public:
    FillingOutput(OutputFile* inner, size_t room) : m_inner(inner), m_room(room) {}
    bool Write(const void* data, size_t size, bool& diskFull) override
    {
        if (size > m_room) {
            diskFull = true;
            return false;
        }
        m_room -= size;
        return m_inner->Write(data, size, diskFull);
    }
    bool Close() override { return m_inner->Close(); }

private:
    std::unique_ptr<OutputFile> m_inner;
    size_t m_room;
};

// The native file system with the Windows rules the engine must live with: a move over a
// read-only, hidden or system file is refused; attributes are kept per path.
class WindowsRulesFileSystem : public ArchiveFileSystem {
public:
    WindowsRulesFileSystem() : m_inner(CreatePosixFileSystem()) {}
    std::map<std::string, unsigned> attributes;
    uint64_t freeSpace = UINT64_MAX;
    size_t diskRoom = SIZE_MAX;
    std::string failingMove;  // a target whose replacement the system refuses

    char Separator() const override { return '/'; }
    ArchiveFile* OpenArchive(const std::string& path) override { return m_inner->OpenArchive(path); }
    bool Exists(const std::string& path) override { return m_inner->Exists(path); }
    std::vector<std::string> Match(const std::string& pattern) override { return m_inner->Match(pattern); }
    bool MakeFolder(const std::string& path) override { return m_inner->MakeFolder(path); }
    OutputFile* CreateNew(const std::string& path) override
    {
        OutputFile* output = m_inner->CreateNew(path);
        return output && diskRoom != SIZE_MAX ? new FillingOutput(output, diskRoom) : output;
    }
    bool Move(const std::string& from, const std::string& to) override
    {
        if (to == failingMove) return false;
        auto it = attributes.find(to);
        if (it != attributes.end() && (it->second & 0x07)) return false;  // access denied
        if (!m_inner->Move(from, to)) return false;
        attributes.erase(to);
        return true;
    }
    void Remove(const std::string& path) override
    {
        m_inner->Remove(path);
        attributes.erase(path);
    }
    unsigned GetAttributes(const std::string& path) override
    {
        if (!m_inner->Exists(path)) return NoAttributes;
        auto it = attributes.find(path);
        return it == attributes.end() ? 0x80 : it->second;
    }
    uint64_t FreeSpace(const std::string&) override { return freeSpace; }
    void SetTimes(const std::string& path, const EntryTimes& times) override { m_inner->SetTimes(path, times); }
    void SetAttributes(const std::string& path, unsigned value) override { attributes[path] = value; }
    // A two-character OEM page: 0x82 is what the ANSI page calls 0xE9.
    std::string OemToAnsi(const std::string& name) override { return Map(name, '\x82', '\xe9'); }
    std::string AnsiToOem(const std::string& text) override { return Map(text, '\xe9', '\x82'); }

private:
    static std::string Map(std::string text, char from, char to)
    {
        for (char& c : text)
            if (c == from) c = to;
        return text;
    }
    std::unique_ptr<ArchiveFileSystem> m_inner;
};

// Builds an archive from (name, attribute byte, content) with Python's zipfile, as an
// MS-DOS host would record it.
std::string MakeArchive(const std::string& path, const std::vector<std::tuple<std::string, int, std::string>>& entries)
{
    std::string script = path + ".py";
    std::string text = "import zipfile\nz = zipfile.ZipFile(r'''" + path + "''', 'w', zipfile.ZIP_DEFLATED)\n";
    for (const auto& entry : entries) {
        std::string content;
        for (char c : std::get<2>(entry)) content += "\\x" + std::string(1, "0123456789abcdef"[(unsigned char)c >> 4]) +
                                                     std::string(1, "0123456789abcdef"[(unsigned char)c & 15]);
        text += "i = zipfile.ZipInfo(r'''" + std::get<0>(entry) + "''', (2021, 6, 15, 10, 30, 0))\n"
                "i.create_system = 0\ni.external_attr = " + std::to_string(std::get<1>(entry)) +
                "\nz.writestr(i, b'" + content + "')\n";
    }
    text += "z.close()\n";
    Write(script, text);
    EXPECT_EQ(0, system(("python3 '" + script + "'").c_str()));
    return path;
}

int Extract(ArchiveFileSystem& fs, const std::string& archive, const std::string& target)
{
    return ExtractZip(fs, archive, target);
}

}  // namespace

TEST(ZipHardening, GuardedFilesAreReplacedOnTheNextUpdate)
{
    std::string work = Scratch("guarded");
    std::string first = MakeArchive(work + "/v1.zip", {{"hidden.txt", 0x02, "one"},
                                                        {"system.txt", 0x04, "one"},
                                                        {"sub/all.txt", 0x07 | 0x20, "one"},
                                                        {"plain.txt", 0x20, "one"}});
    std::string second = MakeArchive(work + "/v2.zip", {{"hidden.txt", 0x02, "two"},
                                                         {"system.txt", 0x04, "two"},
                                                         {"sub/all.txt", 0x07 | 0x20, "two"},
                                                         {"plain.txt", 0x20, "two"}});
    std::string target = Scratch("guarded/out");
    WindowsRulesFileSystem fs;
    ASSERT_EQ(ZipResult::Ok, Extract(fs, first, target));
    EXPECT_EQ(0x07u | 0x20u, fs.GetAttributes(target + "/sub/all.txt"));
    EXPECT_EQ(ZipResult::Ok, Extract(fs, second, target)) << "the same update a second time";
    for (const char* name : {"hidden.txt", "system.txt", "sub/all.txt", "plain.txt"})
        EXPECT_EQ("two", Read(target + "/" + name)) << name;
    EXPECT_EQ(0x02u, fs.GetAttributes(target + "/hidden.txt")) << "the entry's attributes again";
    EXPECT_EQ(0, TemporaryFiles(target));

    // When the system still refuses, the old file keeps its content and its attributes.
    fs.failingMove = target + "/system.txt";
    EXPECT_EQ(ZipResult::Error, Extract(fs, first, target));
    EXPECT_EQ("two", Read(target + "/system.txt"));
    EXPECT_EQ(0x04u, fs.GetAttributes(target + "/system.txt"));
    EXPECT_EQ("one", Read(target + "/hidden.txt")) << "the other entries went on";
    EXPECT_EQ(0, TemporaryFiles(target));
}

TEST(ZipHardening, DamagedEntriesLeaveTheExistingFile)
{
    std::string work = Scratch("damaged");
    ASSERT_EQ(0, system(("python3 '" + Source() + "/tests/archive/make_archives.py' '" + work + "'").c_str()));
    std::string target = Scratch("damaged/out");
    WindowsRulesFileSystem fs;
    for (const char* archive : {"crc.zip", "truncated.zip", "lying.zip"}) {
        Write(target + "/text.txt", "the good old file");
        EXPECT_NE(ZipResult::Ok, Extract(fs, work + "/" + archive, target)) << archive;
        EXPECT_EQ("the good old file", Read(target + "/text.txt")) << archive;
        EXPECT_EQ(0, TemporaryFiles(target)) << archive;
    }
    // A disk that fills up halfway through the entry.
    fs.diskRoom = 3000;
    EXPECT_EQ(ZipResult::DiskFull, Extract(fs, work + "/good.zip", target));
    EXPECT_EQ("the good old file", Read(target + "/text.txt"));
    EXPECT_EQ(0, TemporaryFiles(target));
    fs.diskRoom = SIZE_MAX;
    EXPECT_EQ(ZipResult::Ok, Extract(fs, work + "/good.zip", target));
    EXPECT_EQ(9000u, Read(target + "/text.txt").size());
}

TEST(ZipHardening, DeviceNamesAreNeverOpened)
{
    bool folder = false, unsafe = false;
    struct Case {
        const char* name;
        bool unsafe;
    } cases[] = {{"NUL", true},         {"con", true},          {"sub/com1.txt", true}, {"Lpt9", true},
                 {"aux.tar.gz", true},  {"PRN .txt", true},     {"nul/inner.txt", true}, {"console.txt", false},
                 {"com10.txt", false},  {"lpt0", false},        {"nul_ok.txt", false},   {"sub/comx.txt", false},
                 {"ab:c", false}};
    for (const Case& c : cases) {
        std::string path = SafeEntryPath(c.name, '/', folder, unsafe);
        EXPECT_EQ(c.unsafe, unsafe) << c.name;
        EXPECT_EQ(c.unsafe, path.empty()) << c.name;
    }
    EXPECT_EQ("ab_c", SafeEntryPath("ab:c", '/', folder, unsafe)) << "no stream part survives the character rules";
    EXPECT_EQ("del\x7f.txt", SafeEntryPath("del\x7f.txt", '/', folder, unsafe)) << "DEL is no control character";
    EXPECT_EQ("bell.txt", SafeEntryPath("bell\x07.txt", '/', folder, unsafe));

    std::string work = Scratch("devices");
    std::string archive = MakeArchive(work + "/devices.zip", {{"NUL", 0x20, "lost"},
                                                              {"sub/com1.txt", 0x20, "port"},
                                                              {"console.txt", 0x20, "kept"}});
    std::string target = Scratch("devices/out");
    WindowsRulesFileSystem fs;
    EXPECT_EQ(ZipResult::Error, Extract(fs, archive, target));
    EXPECT_EQ("kept", Read(target + "/console.txt"));
    EXPECT_FALSE(Exists(target + "/NUL"));
    EXPECT_FALSE(Exists(target + "/sub/com1.txt"));
}

TEST(ZipHardening, DeclaredSizesMustFitTheArchiveAndTheVolume)
{
    std::string work = Scratch("declared");
    ASSERT_EQ(0, system(("python3 '" + Source() + "/tests/archive/make_archives.py' '" + work + "'").c_str()));
    // The good archive with a second entry that claims 4 GB in its few bytes.
    std::string inflated = MakeArchive(work + "/claims.zip", {{"first.txt", 0x20, "first"}, {"huge.bin", 0x20, "x"}});
    std::string bytes = Read(inflated);
    size_t central = bytes.rfind(std::string("PK\x01\x02", 4));
    ASSERT_NE(std::string::npos, central);
    bytes.replace(central + 24, 4, std::string("\xF0\xFF\xFF\xFF", 4));
    Write(work + "/claims.zip", bytes);

    std::string target = Scratch("declared/out");
    WindowsRulesFileSystem fs;
    EXPECT_EQ(ZipResult::Error, Extract(fs, work + "/claims.zip", target));
    EXPECT_FALSE(Exists(target + "/first.txt")) << "refused before anything was written";

    fs.freeSpace = 1000;
    EXPECT_EQ(ZipResult::Error, Extract(fs, work + "/good.zip", target)) << "9000 bytes do not fit in 1000";
    EXPECT_FALSE(Exists(target + "/text.txt"));
    fs.freeSpace = 9000;
    EXPECT_EQ(ZipResult::Ok, Extract(fs, work + "/good.zip", target));
}

namespace {

std::string g_password;
int GivePassword(char* buffer, int size, const char*, const char*)
{
    snprintf(buffer, (size_t)size, "%s", g_password.c_str());
    return 1;
}

}  // namespace

TEST(ZipHardening, PasswordsAreTriedAsGivenThenInTheOemPage)
{
    // Archives made by zip -P: "oem" has the OEM form ("caf" and OEM 0x82) as its password.
    std::string data = Source() + "/tests/archive/data/";
    WindowsRulesFileSystem fs;
    ExtractAnswers answers;
    answers.password = GivePassword;
    struct Case {
        const char* archive;
        const char* password;
        int result;
    } cases[] = {{"oem-password.zip", "caf\xe9", ZipResult::Ok},  // found by the second try
                 {"oem-password.zip", "caf\x82", ZipResult::Ok},  // given as stored
                 {"oem-password.zip", "cafe", ZipResult::Warning},
                 {"plain-password.zip", "plain", ZipResult::Ok},
                 {"plain-password.zip", "Plain", ZipResult::Warning},
                 {"plain-password.zip", "", ZipResult::Warning}};
    for (const Case& c : cases) {
        std::string target = Scratch("oem-password/out");
        std::string archive = data + c.archive;
        ExtractOptions options;
        options.archive = archive.c_str();
        options.target = target.c_str();
        g_password = c.password;
        EXPECT_EQ(c.result, ExtractZip(fs, options, answers)) << c.archive << " " << c.password;
        EXPECT_EQ(c.result == ZipResult::Ok ? "locked\n" : "", Read(target + "/locked.txt")) << c.password;
    }
}

TEST(ZipHardening, AccessTimeComesOnlyFromTheExtendedField)
{
    std::string work = Scratch("access-time");
    std::string archive = MakeArchive(work + "/dos.zip", {{"dos.txt", 0x20, "dos"}});
    std::string target = Scratch("access-time/out");
    std::unique_ptr<ArchiveFileSystem> fs(CreatePosixFileSystem());
    ASSERT_EQ(ZipResult::Ok, Extract(*fs, archive, target));
    struct stat info;
    ASSERT_EQ(0, stat((target + "/dos.txt").c_str(), &info));
    EXPECT_GT(info.st_atime, info.st_mtime + 86400) << "the access time is not the entry's 2021 date";
}

TEST(ZipHardening, OemNamesByHostVersionAndMarking)
{
    struct Case {
        uint16_t madeBy;
        uint16_t flags;
        uint32_t external;
        bool oem;
    } cases[] = {{0x0014, 0, 0x20, true},                 // FAT 2.0
                 {0x0019, 0, 0x20, true},                 // FAT 2.5, not marked
                 {0x0019, 0, 0x81A40020u, false},         // FAT 2.5, marked ANSI
                 {0x001A, 0, 0x00010000u, false},         // FAT 2.6, marked
                 {0x001B, 0, 0x81A40020u, true},          // FAT 2.7: the marking means nothing
                 {0x0014, 0x800, 0x20, false},            // UTF-8 flag
                 {0x0614, 0, 0, true},                    // HPFS
                 {0x0B32, 0, 0, true},                    // NTFS 5.0
                 {0x0B14, 0, 0, false},                   // NTFS 2.0
                 {0x0314, 0, 0x81A40000u, false},         // Unix
                 {0x0A14, 0, 0, false}};                  // Windows NTFS-type host 10
    for (const Case& c : cases)
        EXPECT_EQ(c.oem, NameIsOem(c.madeBy, c.flags, c.external)) << std::hex << c.madeBy << " " << c.external;

    // The same OEM byte in three entries: only the marked 2.5 entry keeps it unconverted.
    std::string work = Scratch("oem-names");
    std::string script = work + "/make.py";
    Write(script,
          "import zipfile\n"
          "z = zipfile.ZipFile(r'''" + work + "/names.zip''', 'w')\n"
          "for name, version, external in (('plain_a.txt', 20, 0x20), ('plain_b.txt', 25, 0x20),"
          " ('plain_c.txt', 25, 0x81A40020)):\n"
          "    i = zipfile.ZipInfo(name, (2021, 6, 15, 10, 30, 0))\n"
          "    i.create_system = 0\n    i.create_version = version\n    i.external_attr = external\n"
          "    z.writestr(i, name.upper().encode())\n"
          "z.close()\n"
          "data = open(r'''" + work + "/names.zip''', 'rb').read().replace(b'plain_', b'plain\\x82')\n"
          "open(r'''" + work + "/names.zip''', 'wb').write(data)\n");
    ASSERT_EQ(0, system(("python3 '" + script + "'").c_str()));
    std::string target = Scratch("oem-names/out");
    WindowsRulesFileSystem fs;
    ASSERT_EQ(ZipResult::Ok, Extract(fs, work + "/names.zip", target));
    EXPECT_EQ("PLAIN_A.TXT", Read(target + "/plain\xe9" "a.txt")) << "FAT 2.0 names are OEM";
    EXPECT_EQ("PLAIN_B.TXT", Read(target + "/plain\xe9" "b.txt")) << "an unmarked 2.5 name is OEM";
    EXPECT_EQ("PLAIN_C.TXT", Read(target + "/plain\x82" "c.txt")) << "a marked 2.5 name is already ANSI";
    EXPECT_FALSE(Exists(target + "/plain\xe9" "c.txt"));
}
