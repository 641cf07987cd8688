#include <gtest/gtest.h>

#include <string>

#include "common/RegistryKey.h"
#include "common/WideString.h"

namespace {

class RegistryKeyTest : public testing::Test {
protected:
    void SetUp() override
    {
        wchar_t path[128];
        swprintf(path, 128, L"Software\\OrvaneTests\\Registry%lu", GetCurrentProcessId());
        m_path = path;
    }
    void TearDown() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\OrvaneTests");
    }
    std::wstring m_path;
};

}  // namespace

TEST_F(RegistryKeyTest, RoundTripsValues)
{
    RegistryKey key;
    ASSERT_EQ(1, key.OpenWrite(HKEY_CURRENT_USER, m_path.c_str()));
    EXPECT_EQ(1, key.WriteDword(L"Number", 0xDEADBEEF));
    EXPECT_EQ(1, key.WriteString(L"Text", L"Gr\x00FC\x00DF"));
    EXPECT_EQ(1, key.WriteString(L"Empty", L""));
    key.Close();

    ASSERT_EQ(1, key.OpenRead(HKEY_CURRENT_USER, m_path.c_str()));
    DWORD number = 0;
    EXPECT_EQ(1, key.ReadDword(L"Number", number));
    EXPECT_EQ(0xDEADBEEFu, number);
    WideString text;
    EXPECT_EQ(1, key.ReadString(L"Text", text));
    EXPECT_STREQ(L"Gr\x00FC\x00DF", text.Text());
    EXPECT_EQ(1, key.ReadString(L"Empty", text));
    EXPECT_TRUE(text.IsEmpty());

    DWORD bytes = 0;
    DWORD type = 0;
    RegQueryValueExW(key.Handle(), L"Text", nullptr, &type, nullptr, &bytes);
    EXPECT_EQ((DWORD)REG_SZ, type);
    EXPECT_EQ(2u * (4 + 1), bytes) << "the terminating zero is stored";

    EXPECT_EQ(0, key.ReadDword(L"Text", number)) << "a string is not a number";
    EXPECT_EQ(0, key.ReadString(L"Number", text)) << "a number is not a string";
    EXPECT_EQ(0, key.ReadDword(L"Missing", number));
}

TEST_F(RegistryKeyTest, StringsLongerThanTheBuffer)
{
    std::wstring longText(1000, L'k');
    ASSERT_EQ(1, RegistryKey::WriteStringValue(HKEY_CURRENT_USER, m_path.c_str(), L"Long", longText.c_str()));

    RegistryKey key;
    ASSERT_EQ(1, key.OpenRead(HKEY_CURRENT_USER, m_path.c_str()));
    wchar_t small[10];
    DWORD characters = 10;
    EXPECT_EQ(0, key.ReadString(L"Long", small, characters));
    EXPECT_GE(characters, 1001u) << "the needed size is reported";
    EXPECT_STREQ(L"", small);

    WideString text;
    EXPECT_EQ(1, key.ReadString(L"Long", text)) << "a second try after growing";
    EXPECT_EQ(1000, text.Length());

    // A value stored without its terminating zero still reads as exactly its characters.
    const wchar_t raw[3] = {L'a', L'b', L'c'};
    RegistryKey writer;
    ASSERT_EQ(1, writer.OpenWrite(HKEY_CURRENT_USER, m_path.c_str()));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(writer.Handle(), L"Raw", 0, REG_SZ, (const BYTE*)raw, sizeof(raw)));
    wchar_t exact[4];
    characters = 4;
    EXPECT_EQ(1, key.ReadString(L"Raw", exact, characters));
    EXPECT_EQ(3u, characters);
    EXPECT_STREQ(L"abc", exact);
    wchar_t tight[3];
    characters = 3;
    EXPECT_EQ(0, key.ReadString(L"Raw", tight, characters)) << "no room for the terminating zero";
    EXPECT_EQ(4u, characters);
}

TEST_F(RegistryKeyTest, ConvenienceFormsAndDefaults)
{
    DWORD value = 0;
    EXPECT_EQ(0, RegistryKey::ReadDwordValue(HKEY_CURRENT_USER, m_path.c_str(), L"Absent", value, 77));
    EXPECT_EQ(77u, value);
    WideString text;
    EXPECT_EQ(0, RegistryKey::ReadStringValue(HKEY_CURRENT_USER, m_path.c_str(), L"Absent", text, L"fallback"));
    EXPECT_STREQ(L"fallback", text.Text());
    EXPECT_EQ(0, RegistryKey::KeyExists(HKEY_CURRENT_USER, m_path.c_str()));

    EXPECT_EQ(1, RegistryKey::WriteDwordValue(HKEY_CURRENT_USER, m_path.c_str(), L"N", 5));
    EXPECT_EQ(1, RegistryKey::KeyExists(HKEY_CURRENT_USER, m_path.c_str()));
    EXPECT_EQ(1, RegistryKey::ReadDwordValue(HKEY_CURRENT_USER, m_path.c_str(), L"N", value, 77));
    EXPECT_EQ(5u, value);
}

TEST_F(RegistryKeyTest, ViewFlagIsKeptOnlyUnderWow64)
{
#if defined(_WIN64)
    EXPECT_EQ(0u, RegistryKey::EffectiveView(KEY_WOW64_32KEY));
    EXPECT_EQ(0u, RegistryKey::EffectiveView(KEY_WOW64_64KEY));
#else
    // The 32-bit program under WOW64 keeps the view it asks for.
    EXPECT_EQ((DWORD)KEY_WOW64_32KEY, RegistryKey::EffectiveView(KEY_WOW64_32KEY));
    EXPECT_EQ((DWORD)KEY_WOW64_64KEY, RegistryKey::EffectiveView(KEY_WOW64_64KEY | KEY_READ) & KEY_WOW64_64KEY);
#endif
    EXPECT_EQ(1, RegistryKey::WriteStringValue(HKEY_CURRENT_USER, m_path.c_str(), L"Viewed", L"v", KEY_WOW64_32KEY));
    WideString text;
    EXPECT_EQ(1, RegistryKey::ReadStringValue(HKEY_CURRENT_USER, m_path.c_str(), L"Viewed", text, nullptr));
    EXPECT_STREQ(L"v", text.Text());
}
