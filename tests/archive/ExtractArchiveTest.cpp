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
