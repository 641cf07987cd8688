// The engine through the program's call, on Windows file functions.
#include <gtest/gtest.h>

#include "archive/ExtractArchive.h"
#include "harness/Harness.h"

namespace {

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

ULONGLONG UnixSeconds(const FILETIME& time)
{
    ULONGLONG ticks = ((ULONGLONG)time.dwHighDateTime << 32) | time.dwLowDateTime;
    return ticks / 10000000ULL - 11644473600ULL;
}

}  // namespace

TEST(ExtractArchive, FoldersReadOnlyFilesTimesAndAttributes)
{
    std::wstring folder = harness::ScratchDir(L"extract-windows");
    std::wstring archive = folder + L"update.zip";
    std::wstring script = harness::SourceDir() + L"tests\\archive\\make_windows_archive.py";
    std::string scriptPath = harness::UnixPath(script), archivePath = harness::UnixPath(archive);
    ASSERT_EQ(0, harness::RunUnix(L"/usr/bin/python3 '" + std::wstring(scriptPath.begin(), scriptPath.end()) + L"' '" +
                                  std::wstring(archivePath.begin(), archivePath.end()) + L"'"));
    std::wstring target = folder + L"out";
    CreateDirectoryW(target.c_str(), nullptr);
    CreateDirectoryW((target + L"\\sub").c_str(), nullptr);
    std::wstring locked = target + L"\\sub\\locked.txt";
    ASSERT_TRUE(harness::WriteFileBytes(locked, "old"));
    SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_READONLY);

    EXPECT_EQ(1, ExtractArchive(Narrow(archive).c_str(), Narrow(target).c_str()));
    EXPECT_EQ("read only content\r\n", harness::ReadFileBytes(locked)) << "a read-only file is replaced";
    DWORD attributes = GetFileAttributesW(locked.c_str());
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY) << "the entry's attribute byte";

    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW((target + L"\\stamped.txt").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(1234567890ull, UnixSeconds(data.ftLastWriteTime)) << "the extended-time field wins";
    ASSERT_TRUE(GetFileAttributesExW(locked.c_str(), GetFileExInfoStandard, &data));
    FILETIME local;
    FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
    SYSTEMTIME shown;
    FileTimeToSystemTime(&local, &shown);
    EXPECT_EQ(2021, shown.wYear) << "a DOS time is local time";
    EXPECT_EQ(10, shown.wHour);
    EXPECT_EQ(30, shown.wMinute);
    EXPECT_EQ(20, shown.wSecond);

    // Extracting again over the read-only result still works; a missing archive does not.
    EXPECT_EQ(1, ExtractArchive(Narrow(folder + L"update").c_str(), Narrow(target).c_str())) << "\".zip\" appended";
    EXPECT_EQ(9, ExtractArchiveResult(Narrow(folder + L"absent.zip").c_str(), Narrow(target).c_str()));
    EXPECT_EQ(0, ExtractArchive(Narrow(folder + L"absent.zip").c_str(), Narrow(target).c_str()));
    SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_NORMAL);
}

namespace {

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

}  // namespace

TEST(ExtractArchive, TheSameArchivesAsTheNativeEngine)
{
    std::wstring data = harness::SourceDir() + L"tests\\archive\\data\\";
    struct Case {
        const wchar_t* archive;
        int result;
        const char* entry;  // compared byte for byte with unzip's, or null
    } archives[] = {
        {L"mixed.zip", 0, nullptr},
        {L"imploding-4Kdict-2trees.zip", 0, nullptr},
        {L"imploding-8Kdict-3trees.zip", 0, nullptr},
        {L"password-encrypted.zip", 1, nullptr},
        {L"bzip2-zip.zip", 1, nullptr},
        {L"lorem-ipsum-deflate64.zip", 1, nullptr},
        {L"moby.zip", 1, nullptr},
    };
    for (const Case& c : archives) {
        std::wstring target = harness::ScratchDir((std::wstring(L"win-") + c.archive).c_str());
        EXPECT_EQ(c.result, ExtractArchiveResult(Narrow(data + c.archive).c_str(), Narrow(target).c_str()))
            << Narrow(c.archive);
        if (c.result != 0) continue;
        // Every extracted file equals what unzip extracts.
        std::wstring reference = harness::ScratchDir((std::wstring(L"unzip-") + c.archive).c_str());
        std::string archivePath = harness::UnixPath(data + c.archive), referencePath = harness::UnixPath(reference);
        ASSERT_EQ(0, harness::RunUnix(L"/usr/bin/unzip -q -o '" + Wide(archivePath) + L"' -d '" + Wide(referencePath) + L"'"));
        std::string diff = harness::UnixPath(target);
        EXPECT_EQ(0, harness::RunUnix(L"/usr/bin/diff -r -q '" + Wide(referencePath) + L"' '" + Wide(diff) + L"'"))
            << Narrow(c.archive);
    }

    std::wstring hostile = harness::ScratchDir(L"win-hostile");
    std::string script = harness::UnixPath(harness::SourceDir() + L"tests\\archive\\make_archives.py");
    ASSERT_EQ(0, harness::RunUnix(L"/usr/bin/python3 '" + Wide(script) + L"' '" + Wide(harness::UnixPath(hostile)) + L"'"));
    std::wstring target = hostile + L"out\\inner";
    CreateDirectoryW((hostile + L"out").c_str(), nullptr);
    struct Hostile {
        const wchar_t* archive;
        int result;
    } cases[] = {{L"traversal.zip", 2}, {L"absolute.zip", 2}, {L"names.zip", 0}, {L"good.zip", 0},
                 {L"crc.zip", 2},       {L"lying.zip", 2},    {L"overlap.zip", 2}, {L"garbage.zip", 3}};
    for (const Hostile& c : cases)
        EXPECT_EQ(c.result, ExtractArchiveResult(Narrow(hostile + c.archive).c_str(), Narrow(target).c_str()))
            << Narrow(c.archive);
    EXPECT_NE(0, ExtractArchiveResult(Narrow(hostile + L"truncated.zip").c_str(), Narrow(target).c_str()));
    for (int i = 1; i <= 6; i++) {
        wchar_t name[32];
        swprintf(name, 32, L"evil%d.txt", i);
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((hostile + L"out\\" + name).c_str())) << i;
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((hostile + name).c_str())) << i;
    }
    EXPECT_EQ("good", harness::ReadFileBytes(target + L"\\good.txt"));
    EXPECT_EQ("2", harness::ReadFileBytes(target + L"\\dir\\sub\\f.txt"));
}

TEST(ExtractArchive, TheSameUpdateTwiceOverGuardedFiles)
{
    std::wstring folder = harness::ScratchDir(L"extract-guarded");
    std::string script = harness::UnixPath(harness::SourceDir() + L"tests\\archive\\make_guarded_archive.py");
    std::wstring first = folder + L"v1.zip", second = folder + L"v2.zip";
    for (const std::wstring& archive : {first, second}) {
        std::string unixArchive = harness::UnixPath(archive);
        ASSERT_EQ(0, harness::RunUnix(L"/usr/bin/python3 '" + std::wstring(script.begin(), script.end()) + L"' '" +
                                      std::wstring(unixArchive.begin(), unixArchive.end()) + L"' " +
                                      (archive == first ? L"one" : L"two")));
    }
    std::wstring target = folder + L"out";
    CreateDirectoryW(target.c_str(), nullptr);
    ASSERT_EQ(1, ExtractArchive(Narrow(first).c_str(), Narrow(target).c_str()));
    DWORD attributes = GetFileAttributesW((target + L"\\sub\\all.txt").c_str());
    EXPECT_EQ((DWORD)0x27, attributes & 0x27);
    EXPECT_EQ(1, ExtractArchive(Narrow(second).c_str(), Narrow(target).c_str()));
    for (const wchar_t* name : {L"hidden.txt", L"system.txt", L"sub\\all.txt", L"plain.txt"})
        EXPECT_EQ("two", harness::ReadFileBytes(target + L"\\" + name)) << Narrow(name);
    // Nothing of the engine's own stays behind.
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((target + L"\\*.~*").c_str(), &data);
    EXPECT_EQ(INVALID_HANDLE_VALUE, find);
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    // The access time is the extraction's own, not the entry's 2021 date.
    WIN32_FILE_ATTRIBUTE_DATA info;
    ASSERT_TRUE(GetFileAttributesExW((target + L"\\plain.txt").c_str(), GetFileExInfoStandard, &info));
    EXPECT_GT(UnixSeconds(info.ftLastAccessTime), UnixSeconds(info.ftLastWriteTime) + 86400);
    for (const wchar_t* name : {L"hidden.txt", L"system.txt", L"sub\\all.txt"})
        SetFileAttributesW((target + L"\\" + name).c_str(), FILE_ATTRIBUTE_NORMAL);
}
