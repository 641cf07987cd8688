#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness/Harness.h"
#include "xml/XmlDocument.h"

namespace {

const wchar_t* Answer =
    L"<?xml version=\"1.0\"?>"
    L"<update version=\"2.5\" application=\"Orvane\">"
    L"<version>9.9</version><info>Hello <b>world</b></info><count>12abc</count><word>abc</word>"
    L"<files><file name=\"a.exe\"/><file name=\"b.zip\"/></files></update>";

struct Visit {
    int kind;
    std::wstring name;
    std::wstring value;
};

int Record(int kind, XmlNode, const wchar_t* name, const wchar_t* value, void* data, XmlDocument*)
{
    std::vector<Visit>* visits = (std::vector<Visit>*)data;
    visits->push_back(Visit{kind, name, value});
    return visits->size() >= 100 ? 1 : 0;
}

int StopAtSecond(int, XmlNode, const wchar_t*, const wchar_t*, void* data, XmlDocument*)
{
    return ++*(int*)data == 2 ? 1 : 0;
}

}  // namespace

TEST(XmlDocument, PathsAttributesBeforeElementsIgnoringCase)
{
    XmlDocument document;
    WideString value;
    EXPECT_EQ(0, document.GetValue(L"update\\version", value)) << "closed";
    ASSERT_EQ(1, document.Open(3));
    ASSERT_EQ(1, document.LoadText(Answer));
    EXPECT_EQ(1, document.GetValue(L"update\\version", value));
    EXPECT_STREQ(L"2.5", value.Text()) << "the attribute comes before the element";
    EXPECT_EQ(1, document.GetValue(L"UPDATE\\APPLICATION", value));
    EXPECT_STREQ(L"Orvane", value.Text());
    EXPECT_EQ(1, document.GetValue(L"\\update\\\\info\\", value)) << "empty names are skipped";
    EXPECT_STREQ(L"Hello world", value.Text());
    EXPECT_EQ(1, document.GetValue(L"update\\info\\#text", value));
    EXPECT_STREQ(L"Hello world", value.Text());
    EXPECT_EQ(0, document.GetValue(L"update\\missing", value));
    EXPECT_TRUE(value.IsEmpty());
    EXPECT_EQ(0, document.GetValue(L"other\\version", value)) << "the root must match";
    EXPECT_EQ(12u, document.GetNumber(L"update\\count", 7));
    EXPECT_EQ(7u, document.GetNumber(L"update\\word", 7));
    EXPECT_EQ(7u, document.GetNumber(L"update\\nothing", 7));
}

TEST(XmlDocument, ForEachChildVisitsAttributesThenChildren)
{
    XmlDocument document;
    ASSERT_EQ(1, document.Open(3));
    ASSERT_EQ(1, document.LoadText(Answer));
    std::vector<Visit> visits;
    EXPECT_EQ(0, document.ForEachChild(L"update\\files", Record, &visits));
    ASSERT_EQ(2u, visits.size());
    EXPECT_EQ(0, visits[0].kind);
    EXPECT_EQ(L"file", visits[0].name);
    visits.clear();
    EXPECT_EQ(0, document.ForEachChild(L"update", Record, &visits));
    ASSERT_GE(visits.size(), 7u);
    EXPECT_EQ(1, visits[0].kind);
    EXPECT_EQ(L"version", visits[0].name);
    EXPECT_EQ(L"2.5", visits[0].value);
    EXPECT_EQ(1, visits[1].kind);
    EXPECT_EQ(0, visits[2].kind);
    EXPECT_EQ(L"version", visits[2].name);
    EXPECT_EQ(L"9.9", visits[2].value);
    visits.clear();
    EXPECT_EQ(0, document.ForEachChild(L"update\\nowhere", Record, &visits));
    EXPECT_TRUE(visits.empty()) << "a missing path visits nothing";
    int seen = 0;
    EXPECT_EQ(1, document.ForEachChild(L"update", StopAtSecond, &seen)) << "a visitor stops the walk";
    EXPECT_EQ(2, seen);
    visits.clear();
    EXPECT_EQ(0, document.ForEachChild(L"", Record, &visits));
    ASSERT_EQ(1u, visits.size()) << "an empty path visits the root alone";
    EXPECT_EQ(L"update", visits[0].name);
}

TEST(XmlDocument, TextsInTheirDeclaredEncodings)
{
    XmlDocument document;
    ASSERT_EQ(1, document.Open(3));
    WideString value;
    // Bytes made into characters one per byte, as an HTTP body is read.
    std::wstring latin = L"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>Gr\xFC\xDF</a>";
    ASSERT_EQ(1, document.LoadText(latin.c_str()));
    EXPECT_EQ(1, document.GetValue(L"a", value));
    EXPECT_STREQ(L"Gr\x00FC\x00DF", value.Text());
    std::wstring utf8 = L"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>Gr\xC3\xBC\xC3\x9F</a>";
    ASSERT_EQ(1, document.LoadText(utf8.c_str()));
    EXPECT_EQ(1, document.GetValue(L"a", value));
    EXPECT_STREQ(L"Gr\x00FC\x00DF", value.Text());
    ASSERT_EQ(1, document.LoadText(L"<?xml version='1.0' encoding='no-such-encoding'?><a>plain</a>"))
        << "the declaration goes when nothing else loads";
    EXPECT_EQ(1, document.GetValue(L"a", value));
    EXPECT_STREQ(L"plain", value.Text());
    EXPECT_EQ(0, document.LoadText(L"<a><b></a>"));
    EXPECT_EQ(0, document.LoadText(L""));
}

TEST(XmlDocument, CreateSaveAndLoadAgain)
{
    std::wstring path = harness::ScratchDir(L"xml-document") + L"settings.xml";
    {
        XmlDocument document;
        ASSERT_EQ(1, document.Open(3));
        XmlNode node = document.FindOrCreate(L"Settings\\Main\\Window");
        ASSERT_NE(nullptr, node);
        EXPECT_EQ(1, document.SetAttribute(node, L"value", L"1,2,3,4,5"));
        EXPECT_EQ(1, document.SetAttribute(node, L"value", L"replaced"));
        node->Release();
        XmlNode again = document.FindOrCreate(L"settings\\main\\window");
        ASSERT_NE(nullptr, again);
        again->Release();
        XmlNode created = nullptr;
        XmlNode root = document.FindOrCreate(L"Settings");
        EXPECT_EQ(1, document.AddElement(root, L"Note", L"text & more", &created));
        root->Release();
        if (created) created->Release();
        ASSERT_EQ(1, document.SaveFile(path.c_str()));
    }
    XmlDocument loaded;
    ASSERT_EQ(1, loaded.Open(3));
    ASSERT_EQ(1, loaded.LoadFile(path.c_str()));
    WideString value;
    EXPECT_EQ(1, loaded.GetValue(L"Settings\\Main\\Window\\value", value));
    EXPECT_STREQ(L"replaced", value.Text()) << "one attribute of that name";
    EXPECT_EQ(1, loaded.GetValue(L"Settings\\Note", value));
    EXPECT_STREQ(L"text & more", value.Text());
    std::vector<Visit> visits;
    loaded.ForEachChild(L"Settings", Record, &visits);
    EXPECT_EQ(2u, visits.size()) << "FindOrCreate made no second Main";
    EXPECT_EQ(0, loaded.LoadFile((path + L".missing").c_str()));
    loaded.Close();
    EXPECT_EQ(nullptr, loaded.FindOrCreate(L"a"));
    EXPECT_EQ(5u, loaded.GetNumber(L"a", 5));
}

TEST(XmlDocument, LegacyComponentWhenNoDomDocument)
{
    XmlDocument document;
    ASSERT_EQ(1, document.Open(3 | XmlOpenFlags::LegacyOnly));
    ASSERT_EQ(1, document.LoadText(L"<update version=\"2.5\"><version>9.9</version><info>Hello</info>"
                                   L"<files><file name=\"a.exe\"/><file name=\"b.zip\"/></files></update>"));
    WideString value;
    EXPECT_EQ(1, document.GetValue(L"update\\version", value));
    EXPECT_STREQ(L"2.5", value.Text()) << "the attribute comes first here too";
    EXPECT_EQ(1, document.GetValue(L"Update\\Info", value));
    EXPECT_STREQ(L"Hello", value.Text());
    EXPECT_EQ(0, document.GetValue(L"update\\missing", value));
    std::vector<Visit> visits;
    EXPECT_EQ(0, document.ForEachChild(L"update\\files", Record, &visits));
    ASSERT_EQ(2u, visits.size());
    EXPECT_EQ(0, visits[0].kind);
    visits.clear();
    XmlNode files = document.FindOrCreate(L"update\\files");
    ASSERT_NE(nullptr, files);
    files->Release();
    EXPECT_EQ(0, document.ForEachChild(L"update", Record, &visits));
    // Attributes come first where the component can list them (this one cannot).
    ASSERT_GE(visits.size(), 3u);
    EXPECT_EQ(L"9.9", visits[visits.size() - 3].value);
    EXPECT_EQ(0, visits.back().kind);

    std::wstring path = harness::ScratchDir(L"xml-legacy") + L"legacy.xml";
    {
        XmlDocument created;
        ASSERT_EQ(1, created.Open(3 | XmlOpenFlags::LegacyOnly));
        XmlNode node = created.FindOrCreate(L"Settings\\Main");
        WideString rootValue;
        EXPECT_EQ(1, created.GetValue(L"settings", rootValue)) << "the root is made from text";
        // Some systems' legacy component cannot name new elements (this one cannot): then
        // creation fails cleanly instead of leaving nameless elements behind.
        if (!node) {
            std::vector<Visit> children;
            created.ForEachChild(L"settings", Record, &children);
            for (const Visit& child : children) EXPECT_FALSE(child.kind == 0 && child.name.empty());
            EXPECT_EQ(nullptr, created.FindOrCreate(L"Settings\\Other")) << "and keeps failing the same way";
            EXPECT_EQ(0, created.SaveFile(path.c_str())) << "nor can it save";
            GTEST_SKIP() << "this system's legacy XML component cannot name new elements";
        }
        EXPECT_EQ(1, created.SetAttribute(node, L"value", L"1,2,3,4,5"));
        node->Release();
        ASSERT_EQ(1, created.SaveFile(path.c_str()));
    }
    XmlDocument loaded;
    ASSERT_EQ(1, loaded.Open(3));
    ASSERT_EQ(1, loaded.LoadFile(path.c_str())) << harness::ReadFileBytes(path);
    EXPECT_EQ(1, loaded.GetValue(L"settings\\main\\value", value));
    EXPECT_STREQ(L"1,2,3,4,5", value.Text());
}
