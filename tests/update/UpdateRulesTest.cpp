// The update's decisions over plain values, and its reading of real answers.
#include <gtest/gtest.h>

#include "update/AutoUpdate.h"
#include "update/UpdateRules.h"
#include "xml/XmlDocument.h"

#include <stdio.h>

#include <string>

namespace {

// When no document opens: each step the document takes, asked of the system directly, so
// that such a run says where it failed.
std::string WhyNoDocument()
{
    std::string why;
    char text[128];
    HRESULT apartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    snprintf(text, sizeof(text), "apartment %08lx", (unsigned long)apartment);
    why = text;
    const wchar_t* const names[] = {L"Msxml2.DOMDocument.6.0", L"Msxml2.DOMDocument.4.0", L"Msxml.DOMDocument"};
    for (const wchar_t* name : names) {
        CLSID id = {};
        HRESULT named = CLSIDFromProgID(name, &id);
        IUnknown* object = nullptr;
        HRESULT created = SUCCEEDED(named) ? CoCreateInstance(id, nullptr, CLSCTX_ALL, IID_IUnknown, (void**)&object)
                                           : E_FAIL;
        if (object) object->Release();
        snprintf(text, sizeof(text), "; %ls: class %08lx, creation %08lx", name, (unsigned long)named,
                 (unsigned long)created);
        why += text;
    }
    // The legacy XML document object.
    const CLSID legacy = {0xCFC399AF, 0xD876, 0x11D0, {0x9C, 0x10, 0x00, 0xC0, 0x4F, 0xC9, 0x9C, 0x8E}};
    IUnknown* object = nullptr;
    HRESULT created = CoCreateInstance(legacy, nullptr, CLSCTX_ALL, IID_IUnknown, (void**)&object);
    if (object) object->Release();
    if (SUCCEEDED(apartment)) CoUninitialize();
    HMODULE library = LoadLibraryW(L"msxml3.dll");
    DWORD loadError = library ? 0 : GetLastError();
    if (library) FreeLibrary(library);
    snprintf(text, sizeof(text), "; legacy creation %08lx; msxml3 load error %lu", (unsigned long)created,
             (unsigned long)loadError);
    return why + text;
}

}  // namespace

TEST(UpdateRules, CheckTimingAndVersionOrder)
{
    const DWORD now = 1700000000;
    EXPECT_EQ(CheckTiming::Check, DecideCheckTiming(0, now)) << "never checked";
    EXPECT_EQ(CheckTiming::Skip, DecideCheckTiming(now - 6 * 86400, now));
    EXPECT_EQ(CheckTiming::Skip, DecideCheckTiming(now - 604800, now)) << "exactly seven days: not below";
    EXPECT_EQ(CheckTiming::Check, DecideCheckTiming(now - 604801, now));
    EXPECT_EQ(CheckTiming::Check, DecideCheckTiming(now - 8 * 86400, now));
    EXPECT_EQ(CheckTiming::ResetOnly, DecideCheckTiming(0xFFFFFFFF, now));
    EXPECT_EQ(CheckTiming::Check, DecideCheckTiming(0xFFFFFFF0u, now)) << "the 32-bit sum wraps";
    EXPECT_EQ(CheckTiming::Skip, DecideCheckTiming(now + 100, now)) << "a time ahead of the clock";

    struct {
        unsigned major, minor;
        bool newer;
    } offers[] = {{1, 7, false}, {1, 8, true}, {1, 10, true}, {2, 0, true}, {1, 6, false}, {0, 99, false}};
    for (const auto& offer : offers)
        EXPECT_EQ(offer.newer, IsNewerVersion(1, 7, offer.major, offer.minor)) << offer.major << "." << offer.minor;
    unsigned major = 0, minor = 0;
    ASSERT_TRUE(ParseVersionPair(L"1.7", major, minor));
    EXPECT_FALSE(IsNewerVersion(1, 7, major, minor)) << "1.7 is 1.07, not newer";
}

TEST(UpdateRules, QueryAddresses)
{
    WideString address;
    BuildQueryAddress(L"http://halvik.example/common/update.php?p=orvane", 0, L"1.07", L"0010-0000-0000-ED02", L"de",
                      L"1", nullptr, address);
    EXPECT_STREQ(L"http://halvik.example/common/update.php?p=orvane&v=1.07&id=0010-0000-0000-ED02", address.Text());
    BuildQueryAddress(L"http://h/u.php", 0, L"1.07", L"ID", L"de", L"1", nullptr, address);
    EXPECT_STREQ(L"http://h/u.php?v=1.07&id=ID", address.Text());
    BuildQueryAddress(L"http://h/u.php", UpdateOptions::Inventory, L"1.07", L"ID", L"de", L"1", L"Orvane", address);
    EXPECT_STREQ(L"http://h/u.php?a=updates&d=0&f=16&l=de&g=ID&i=<Larchmere><Inventory><Item Type=\"1\" "
                 L"Name=\"Orvane\" Version=\"1.07\" /></Inventory></Larchmere>",
                 address.Text());
    BuildQueryAddress(L"http://h/u.php?x=1", UpdateOptions::Inventory, L"1.07", L"ID", L"en", L"1", nullptr, address);
    EXPECT_EQ(0, wcsncmp(address.Text(), L"http://h/u.php?x=1&a=updates", 28));
    EXPECT_NE(nullptr, wcsstr(address.Text(), L"Name=\"\"")) << "no item name: empty";

    WideString language;
    UserLanguageName(language);
    EXPECT_EQ(2, language.Length()) << language.Text();
}

TEST(UpdateRules, FileNamesOfAnInstallation)
{
    struct {
        const wchar_t* path;
        const wchar_t* result;
    } suffixes[] = {
        {L"C:\\p\\tool.exe", L"C:\\p\\tool_new.exe"},
        {L"C:\\p\\help.html", L"C:\\p\\help.html_new.html"},
        {L"C:\\p\\README", L"C:\\p\\README_new"},
        {L"C:\\p.d\\README", L"C:\\p.d\\README_new"},  // the folder's dot is not the file's
        {L"C:\\Orvane 1.0\\orvane.exe", L"C:\\Orvane 1.0\\orvane_new.exe"},
        {L"C:\\p\\a.b", L"C:\\p\\a_new.b"},
        {L"C:\\p\\name.", L"C:\\p\\name_new."},
        {L"C:\\p\\x. y", L"C:\\p\\x. y_new"},
        {L"C:\\p\\pack.zip", L"C:\\p\\pack_new.zip"},
    };
    for (const auto& suffix : suffixes) {
        WideString result;
        AddNameSuffix(suffix.path, L"_new", result);
        EXPECT_STREQ(suffix.result, result.Text()) << suffix.path;
    }
    struct {
        const wchar_t* address;
        const wchar_t* name;
    } setups[] = {
        {L"http://halvik.example/get.php?file=setup.exe", L"setup.exe"},
        {L"http://halvik.example/files/setup.exe", L"setup.exe"},
        {L"http://halvik.example/get?f=dl/sub/setup.exe", L"setup.exe"},
        {L"http://halvik.example/files/", L"http://halvik.example/files/"},
    };
    for (const auto& setup : setups) {
        WideString name;
        SetupProgramName(setup.address, name);
        EXPECT_STREQ(setup.name, name.Text()) << setup.address;
    }

    const wchar_t* safe[] = {L"orvane.exe", L"data\\readme.txt", L"data/sub/x.bin", L"com10.txt",
                             L"lpt0", L"a.b.c"};
    for (const wchar_t* name : safe) EXPECT_TRUE(IsSafeFileName(name, false)) << name;
    const wchar_t* unsafe[] = {L"COM\u00B9", L"lpt\u00B2.txt", L"Com\u00B3", L"", L"..\\x.exe", L"a\\..\\..\\x", L"\\windows\\x.exe", L"/etc/x", L"C:\\x.exe",
                               L"C:x.exe", L"x.exe:stream", L"NUL", L"nul.txt", L"sub\\COM1", L"Lpt9.log",
                               L"aux .txt", L"con.d\\x", L"CONIN$", L"a\\\\b", L"a\\", L".", L"x.", L"x ", L"a?b", L"a*b",
                               L"a\x01" L"b", L"a|b"};
    for (const wchar_t* name : unsafe) EXPECT_FALSE(IsSafeFileName(name, false)) << name;
    EXPECT_FALSE(IsSafeFileName(L"sub\\setup.exe", true)) << "a setup program is a plain name";
    EXPECT_TRUE(IsSafeFileName(L"setup.exe", true));

    std::vector<UpdateFileEntry> entries(1);
    entries[0].address = L"http://halvik.example/files/";
    EXPECT_FALSE(UpdateInstallation::EntriesAreSafe(entries)) << "no file name in the address";
    entries[0].address = L"http://halvik.example/get.php?file=setup.exe";
    EXPECT_TRUE(UpdateInstallation::EntriesAreSafe(entries));
    entries[0].hasName = true;
    entries[0].name = L"orvane.exe";
    entries[0].hasZip = true;
    entries[0].zip = L"..\\pack.zip";
    EXPECT_FALSE(UpdateInstallation::EntriesAreSafe(entries)) << "the zip value is a path as well";
}

TEST(UpdateRules, LocalisedTextsWhicheverWayTheAnswerWasEncoded)
{
    WideString text;
    DecodeLocalisedText(L"Gr\x00FC\x00DF Gott", text);
    EXPECT_STREQ(L"Gr\x00FC\x00DF Gott", text.Text()) << "decoded by the component already";
    DecodeLocalisedText(L"Gr\x00C3\x00BC\x00C3\x009F Gott", text);
    EXPECT_STREQ(L"Gr\x00FC\x00DF Gott", text.Text()) << "UTF-8 bytes read as single bytes";
    DecodeLocalisedText(L"\x65E5\x672C", text);
    EXPECT_STREQ(L"\x65E5\x672C", text.Text());
    DecodeLocalisedText(L"plain", text);
    EXPECT_STREQ(L"plain", text.Text());

    // German first, then English; one answer in UTF-8, one declared as Latin-1 that
    // carries UTF-8 bytes, one with only English.
    struct {
        const char* answer;
        const wchar_t* language;
        const wchar_t* expected;
    } answers[] = {
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><update><info><de>Gr\xC3\xBC\xC3\x9F</de><en>Hello</en></info>"
         "</update>",
         L"de", L"Gr\x00FC\x00DF"},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><update><info><de>Gr\xC3\xBC\xC3\x9F</de></info></update>",
         L"de", L"Gr\x00FC\x00DF"},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><update><info><en>\xE6\x97\xA5\xE6\x9C\xAC</en></info></update>",
         L"de", L"\x65E5\x672C"},
        {"<update><info><fr>Bonjour</fr><en>Hello</en></info></update>", L"fr", L"Bonjour"},
    };
    for (const auto& answer : answers) {
        XmlDocument document;
        ASSERT_TRUE(document.Open(3)) << WhyNoDocument();
        WideString wide;
        for (const char* c = answer.answer; *c; c++) wide.Append((wchar_t)(BYTE)*c);
        ASSERT_TRUE(document.LoadText(wide)) << answer.answer;
        WideString found;
        ASSERT_TRUE(AutoUpdate::LocalisedText(document, L"update\\info", answer.language, nullptr, found))
            << answer.answer;
        EXPECT_STREQ(answer.expected, found.Text()) << answer.answer;
    }
    XmlDocument document;
    ASSERT_TRUE(document.Open(3)) << WhyNoDocument();
    ASSERT_TRUE(document.LoadText(L"<update><restart><fr>x</fr></restart></update>"));
    WideString found;
    EXPECT_FALSE(AutoUpdate::LocalisedText(document, L"update\\restart", L"de", nullptr, found)) << "neither de nor en";
}

TEST(UpdateRules, FileEntriesOfAnAnswer)
{
    XmlDocument document;
    ASSERT_TRUE(document.Open(3)) << WhyNoDocument();
    ASSERT_TRUE(document.LoadText(
        L"<update><files execute=\"run.exe\">"
        L"<url name=\"tool.exe\">http://h/tool.exe</url>"
        L"<URL name=\"tool.exe\" zip=\"pack.zip\">http://h/pack.zip</URL>"
        L"<other name=\"x\">http://h/x</other>"
        L"<url>http://h/get.php?file=setup.exe</url>"
        L"</files></update>"));
    std::vector<UpdateFileEntry> entries;
    AutoUpdate::ReadFileEntries(document, nullptr, entries);
    ASSERT_EQ(3u, entries.size()) << "url children of any case, nothing else";
    EXPECT_STREQ(L"http://h/tool.exe", entries[0].address.Text());
    EXPECT_TRUE(entries[0].hasName);
    EXPECT_FALSE(entries[0].hasZip);
    EXPECT_STREQ(L"tool.exe", entries[0].name.Text());
    EXPECT_TRUE(entries[1].hasZip);
    EXPECT_STREQ(L"pack.zip", entries[1].zip.Text());
    EXPECT_FALSE(entries[2].hasName);
    EXPECT_STREQ(L"http://h/get.php?file=setup.exe", entries[2].address.Text());
}

TEST(UpdateRules, WhatAnAnswerMayOpenOrStart)
{
    const wchar_t* web[] = {L"http://halvik.example/help", L"HTTPS://halvik.example", L"http://h/x?a=b&c=%20"};
    for (const wchar_t* address : web) EXPECT_TRUE(IsWebAddress(address)) << address;
    const wchar_t* other[] = {nullptr, L"", L"C:\\windows\\system32\\cmd.exe", L"\\\\server\\share\\x.exe",
                              L"file:///C:/x.exe", L"http://", L"http:///x", L"https://\\\\server\\x",
                              L"ftp://halvik.example", L"http://a.example/\" -x", L"http://a.example/ b",
                              L"javascript:alert(1)", L" http://a.example"};
    for (const wchar_t* address : other) EXPECT_FALSE(IsWebAddress(address)) << (address ? address : L"(null)");

    EXPECT_TRUE(IsExecutableName(L"orvane.exe"));
    EXPECT_TRUE(IsExecutableName(L"sub\\Helper.DLL"));
    EXPECT_TRUE(IsExecutableName(L"run.cmd"));
    EXPECT_FALSE(IsExecutableName(L"help.html"));
    EXPECT_FALSE(IsExecutableName(L"data.exe\\table"));
    EXPECT_FALSE(IsExecutableName(L"exe"));

    std::vector<std::wstring> installed = {L"orvane.exe", L"tools\\helper.exe"};
    struct {
        const wchar_t* execute;
        const wchar_t* chosen;
    } choices[] = {
        {L"tools/HELPER.exe", L"tools\\helper.exe"}, {L"orvane.exe", L"orvane.exe"}, {L"..\\x.exe", L""},
        {L"C:\\windows\\system32\\cmd.exe", L""}, {L"\\\\server\\x.exe", L""}, {L"other.exe", L""},
        {L"tools\\..\\orvane.exe", L""}, {L"", L""}, {nullptr, L""},
    };
    for (const auto& choice : choices) {
        WideString name;
        ChooseRestartProgram(choice.execute, installed, name);
        EXPECT_STREQ(choice.chosen, name.Text()) << (choice.execute ? choice.execute : L"(null)");
    }
}
