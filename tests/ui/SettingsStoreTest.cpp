#include <gtest/gtest.h>

#include <string>

#include "common/ModuleVersion.h"
#include "common/RegistryKey.h"
#include "harness/Harness.h"
#include "ui/SettingsStore.h"

TEST(SettingsStore, RegistryBackend)
{
    const wchar_t* key = L"Software\\OrvaneTests\\Settings";
    RegDeleteTreeW(HKEY_CURRENT_USER, key);
    SettingsStore store;
    ASSERT_EQ(1, store.Open(SettingsBackend::Registry, HKEY_CURRENT_USER, key));
    EXPECT_EQ(42u, store.ReadNumber(L"LastCheck", 42)) << "never written: the default";
    EXPECT_EQ(1, store.WriteNumber(L"LastCheck", 1234567));
    EXPECT_EQ(1234567u, store.ReadNumber(L"LastCheck", 42));
    EXPECT_EQ(1, store.WriteString(L"Name", L"value", L"Section"));
    WideString value;
    EXPECT_EQ(1, store.ReadString(L"Name", value, nullptr, L"Section"));
    EXPECT_STREQ(L"value", value.Text());
    EXPECT_EQ(1, RegistryKey::KeyExists(HKEY_CURRENT_USER, L"Software\\OrvaneTests\\Settings\\Section"));
    EXPECT_EQ(0, store.ReadString(L"Missing", value, L"fallback"));
    EXPECT_STREQ(L"fallback", value.Text());
    store.Close();
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\OrvaneTests");

    SettingsStore none;
    ASSERT_EQ(1, none.Open(0, HKEY_CURRENT_USER, key));
    EXPECT_EQ(5u, none.ReadNumber(L"x", 5));
    EXPECT_EQ(0, none.WriteNumber(L"x", 1));
    EXPECT_EQ(0, none.WriteString(L"x", L"y"));
}

TEST(SettingsStore, IniBackendBesideTheProgram)
{
    ModuleVersion module;
    ASSERT_EQ(1, module.Load());
    WideString expected(module.FileName());
    expected.CutShortExtension();
    expected.Append(L".ini");
    DeleteFileW(expected);
    {
        SettingsStore store;
        ASSERT_EQ(1, store.Open(SettingsBackend::Ini, nullptr, L"ignored"));
        EXPECT_EQ(7u, store.ReadNumber(L"Count", 7));
        EXPECT_EQ(1, store.WriteNumber(L"Count", 4000000000u));
        EXPECT_EQ(4000000000u, store.ReadNumber(L"Count", 7));
        std::wstring longText(3000, L'x');
        longText += L"end";
        EXPECT_EQ(1, store.WriteString(L"Long", longText.c_str()));
        WideString value;
        EXPECT_EQ(1, store.ReadString(L"Long", value));
        EXPECT_EQ(3003, value.Length()) << "read whole after doubling the buffer";
        EXPECT_EQ(1, store.ReadString(L"Missing", value, L"default"));
        EXPECT_STREQ(L"default", value.Text()) << "INI reads always succeed";
        EXPECT_EQ(1, store.WriteString(L"Word", L"abc"));
        EXPECT_EQ(9u, store.ReadNumber(L"Word", 9)) << "not a number: the default";
    }
    std::string file = harness::ReadFileBytes(expected.Text());
    EXPECT_NE(std::string::npos, file.find("[Settings]")) << "section Settings in the file beside the program";
    EXPECT_NE(std::string::npos, file.find("Count=4000000000"));
    DeleteFileW(expected);
}

TEST(SettingsStore, XmlBackendSavesOnClose)
{
    std::wstring path = harness::ScratchDir(L"settings-xml") + L"store.xml";
    {
        SettingsStore store;
        ASSERT_EQ(1, store.Open(SettingsBackend::Xml, nullptr, L"Orvane", path.c_str()));
        EXPECT_EQ(1, store.WriteNumber(L"LastCheck", 77));
        EXPECT_EQ(1, store.WriteString(L"Main", L"1,2,3,4,5", L"Window"));
        EXPECT_EQ(77u, store.ReadNumber(L"LastCheck", 0));
    }
    std::string text = harness::ReadFileBytes(path);
    EXPECT_NE(std::string::npos, text.find("LastCheck=\"77\"")) << text;
    SettingsStore again;
    ASSERT_EQ(1, again.Open(SettingsBackend::Xml, nullptr, L"Orvane", path.c_str()));
    EXPECT_EQ(77u, again.ReadNumber(L"LastCheck", 0));
    WideString value;
    EXPECT_EQ(1, again.ReadString(L"Main", value, nullptr, L"Window"));
    EXPECT_STREQ(L"1,2,3,4,5", value.Text());
    EXPECT_EQ(0, again.ReadString(L"Absent", value, L"d"));
    EXPECT_STREQ(L"d", value.Text());
    again.Close();

    // A file that does not load stays exactly as the user left it, whatever the store does.
    const std::string damaged = "<Orvane LastCheck=\"5\"><broken";
    ASSERT_TRUE(harness::WriteFileBytes(path, damaged));
    {
        SettingsStore broken;
        EXPECT_EQ(0, broken.Open(SettingsBackend::Xml, nullptr, L"Orvane", path.c_str())) << "an unreadable file";
        broken.WriteNumber(L"LastCheck", 1);
        broken.Close();
        EXPECT_EQ(damaged, harness::ReadFileBytes(path)) << "not saved by Close";
        EXPECT_EQ(0, broken.Open(SettingsBackend::Xml, nullptr, L"Orvane", path.c_str()));
    }
    EXPECT_EQ(damaged, harness::ReadFileBytes(path)) << "not saved by the destructor";
    // A good file after a failed one is saved again.
    DeleteFileW(path.c_str());
    {
        SettingsStore store;
        ASSERT_EQ(1, store.Open(SettingsBackend::Xml, nullptr, L"Orvane", (path + L"x").c_str()));
        store.WriteNumber(L"LastCheck", 9);
    }
    EXPECT_NE(std::string::npos, harness::ReadFileBytes(path + L"x").find("LastCheck=\"9\""));
}

TEST(SettingsStore, IniNumbersReadAsUnsignedScanning)
{
    std::wstring path = harness::ScratchDir(L"settings-ini-numbers") + L"store.ini";
    ASSERT_TRUE(harness::WriteFileBytes(path, "[Settings]\r\nMinus=-1\r\nSpaced=  42 days\r\nPlus=+7\r\n"
                                              "Sign=-\r\nWord=x1\r\nMinusTwo=-2\r\n"));
    SettingsStore store;
    ASSERT_EQ(1, store.Open(SettingsBackend::Ini, nullptr, L"ignored", path.c_str()));
    struct Case {
        const wchar_t* name;
        DWORD expected;
    } cases[] = {{L"Minus", 0xFFFFFFFF}, {L"Spaced", 42}, {L"Plus", 7}, {L"Sign", 3}, {L"Word", 3},
                 {L"MinusTwo", 0xFFFFFFFE}, {L"Absent", 3}};
    for (const Case& c : cases) EXPECT_EQ(c.expected, store.ReadNumber(c.name, 3)) << c.name;
}
