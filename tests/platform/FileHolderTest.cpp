#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness/Harness.h"
#include "platform/FileHolder.h"

using harness::ReadFileBytes;
using harness::WriteFileBytes;

TEST(FileHolder, ModesOpenAndCreateAsTheirTableSays)
{
    std::wstring folder = harness::ScratchDir(L"file-modes");
    std::wstring missing = folder + L"missing.bin";
    std::wstring existing = folder + L"existing.bin";
    FileHolder file;

    EXPECT_EQ(0, file.Open(missing.c_str(), FileHolder::ReadExisting));
    EXPECT_EQ(0, file.Open(missing.c_str(), FileHolder::WriteExisting));
    EXPECT_EQ(0, file.Open(missing.c_str(), FileHolder::ReadWriteExisting));
    EXPECT_EQ(0, file.Open(missing.c_str(), 6)) << "no such mode";
    EXPECT_EQ(0, file.Open(missing.c_str(), -1));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(missing.c_str())) << "failed opens create nothing";

    ASSERT_TRUE(WriteFileBytes(existing, "0123456789"));
    ASSERT_EQ(1, file.Open(existing.c_str(), FileHolder::WriteAlways));
    EXPECT_EQ(10u, file.Size()) << "OPEN_ALWAYS keeps the content";
    EXPECT_EQ(1, file.Write("ab", 2));
    file.Close();
    EXPECT_EQ("ab23456789", ReadFileBytes(existing));

    ASSERT_EQ(1, file.Open(existing.c_str(), FileHolder::ReadWriteExisting));
    char buffer[4] = {};
    DWORD read = 0;
    EXPECT_EQ(1, file.Read(buffer, 3, &read));
    EXPECT_EQ(std::string("ab2"), std::string(buffer, read));
    EXPECT_EQ(1, file.Seek(4, FILE_BEGIN));
    EXPECT_EQ(1, file.SetEnd());
    file.Close();
    EXPECT_EQ("ab23", ReadFileBytes(existing));

    ASSERT_EQ(1, file.Open(existing.c_str(), FileHolder::WriteNew));
    EXPECT_EQ(0u, file.Size()) << "CREATE_ALWAYS truncates";
    file.Close();

    ASSERT_EQ(1, file.Open(missing.c_str(), FileHolder::ReadWriteAlways));
    EXPECT_EQ(1, file.Write("new", 3));
    file.Close();
    EXPECT_EQ("new", ReadFileBytes(missing));

    ASSERT_EQ(1, file.Open(existing.c_str(), FileHolder::ReadExisting));
    EXPECT_EQ(0, file.Write("x", 1)) << "read-only mode";
}

TEST(FileHolder, MapsReadOnlyAndReadWrite)
{
    std::wstring path = harness::ScratchDir(L"file-map") + L"mapped.bin";
    ASSERT_TRUE(WriteFileBytes(path, "mapped content here"));
    FileHolder file;
    ASSERT_EQ(1, file.Open(path.c_str(), FileHolder::ReadExisting));
    const char* view = (const char*)file.Map(0, 0);
    ASSERT_NE(nullptr, view);
    EXPECT_EQ(0, memcmp(view, "mapped content", 14));
    file.Close();

    ASSERT_EQ(1, file.Open(path.c_str(), FileHolder::ReadWriteExisting));
    char* writable = (char*)file.Map(0, 6);
    ASSERT_NE(nullptr, writable);
    memcpy(writable, "MAPPED", 6);
    file.Close();
    EXPECT_EQ("MAPPED content here", ReadFileBytes(path));

    FileHolder empty;
    EXPECT_EQ(nullptr, empty.Map(0, 0, L"OrvaneNoSuchMapping"));
}

TEST(FileHolder, DeleteClearsReadOnlyFirst)
{
    std::wstring path = harness::ScratchDir(L"file-delete") + L"locked.txt";
    ASSERT_TRUE(WriteFileBytes(path, "x"));
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(1, FileHolder::Delete(path.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));
    EXPECT_EQ(0, FileHolder::Delete(path.c_str()));
}

namespace {

std::vector<DWORD> g_pieces;
DWORD g_shortAt = 0;

BOOL RefusesLargeWrites(HANDLE, const void*, DWORD size, DWORD* written)
{
    if (size > 0x100000) {
        *written = 0;
        SetLastError(ERROR_NO_SYSTEM_RESOURCES);
        return FALSE;
    }
    g_pieces.push_back(size);
    *written = (g_shortAt && g_pieces.size() == g_shortAt) ? size - 1 : size;
    return TRUE;
}

BOOL FailsOtherwise(HANDLE, const void*, DWORD, DWORD* written)
{
    *written = 0;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

}  // namespace

TEST(FileHolder, LargeWritesFallBackToPieces)
{
    std::vector<char> data(3 * 0x100000 + 12345, 'd');
    g_pieces.clear();
    g_shortAt = 0;
    EXPECT_EQ(1, WriteAllBytes(nullptr, data.data(), (DWORD)data.size(), RefusesLargeWrites));
    EXPECT_EQ((std::vector<DWORD>{0x100000, 0x100000, 0x100000, 12345}), g_pieces);

    g_pieces.clear();
    g_shortAt = 2;
    EXPECT_EQ(0, WriteAllBytes(nullptr, data.data(), (DWORD)data.size(), RefusesLargeWrites));
    EXPECT_EQ(2u, g_pieces.size()) << "a short piece ends the write";

    EXPECT_EQ(0, WriteAllBytes(nullptr, data.data(), 10, FailsOtherwise)) << "other errors are not retried";
}
