#include <gtest/gtest.h>

#include "common/WideString.h"

TEST(WideString, NewStringIsEmptyWithDefaultCapacity)
{
    WideString s;
    EXPECT_EQ(260, s.Capacity());
    EXPECT_EQ(1, s.StoredLength());
    EXPECT_EQ(0, s.Length());
    EXPECT_STREQ(L"", s.Text());
}

TEST(WideString, AppendGrowthRules)
{
    WideString s;
    std::wstring text(259, L'x');
    ASSERT_EQ(1, s.Assign(text.c_str()));
    EXPECT_EQ(260, s.Capacity()) << "259 characters and the zero fit exactly";
    ASSERT_EQ(1, s.Append(L'y'));
    EXPECT_EQ(260 + 21, s.Capacity()) << "one character grows to length + 21";
    EXPECT_EQ(261, s.StoredLength());

    WideString t;
    std::wstring chunk(300, L'z');
    ASSERT_EQ(1, t.Append(chunk.c_str()));
    EXPECT_EQ(301 + 20, t.Capacity()) << "text grows to the needed length + 20";
    ASSERT_EQ(1, t.Append(L"ab"));
    EXPECT_EQ(321, t.Capacity()) << "no growth while it fits";
    EXPECT_EQ(302, t.Length());
}

TEST(WideString, FormatGrowthSteps)
{
    WideString s;
    std::wstring text(300, L'a');
    ASSERT_EQ(1, s.Format(L"%s", text.c_str()));
    EXPECT_EQ(520, s.Capacity());
    EXPECT_EQ(300, s.Length());

    // 260-character steps up to 10240, then 10240 at a time.
    std::wstring longer(10500, L'b');
    WideString t;
    ASSERT_EQ(1, t.Format(L"%s", longer.c_str()));
    EXPECT_EQ(10400 + 10240, t.Capacity());
    EXPECT_EQ(10500, t.Length());
    EXPECT_EQ(0, wcscmp(t.Text(), longer.c_str()));

    ASSERT_EQ(1, t.Format(L"%d-%s", 42, L"x"));
    EXPECT_STREQ(L"42-x", t.Text());
}

TEST(WideString, FormatGivesUpBeyondLimit)
{
    std::wstring huge((size_t)WideString::FormatLimit + 1, L'c');
    WideString s(L"before");
    EXPECT_EQ(0, s.Format(L"%s", huge.c_str()));
    EXPECT_TRUE(s.IsEmpty());

    // The last step that stays within the limit ends at 10400 + 306 * 10240 characters.
    std::wstring fits(10400 + 306 * 10240 - 1, L'c');
    EXPECT_EQ(1, s.Format(L"%s", fits.c_str()));
    EXPECT_EQ((int)fits.size(), s.Length());
    std::wstring oneMore(fits.size() + 1, L'c');
    EXPECT_EQ(0, s.Format(L"%s", oneMore.c_str()));
}

TEST(WideString, OutOfMemoryLeavesEmptyDefaultString)
{
    WideString s(L"content that goes");
    EXPECT_EQ(0, s.Reserve(0x7FFFFFF0));
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_EQ(260, s.Capacity());
    EXPECT_EQ(1, s.Append(L"usable again"));
    EXPECT_STREQ(L"usable again", s.Text());
}

TEST(WideString, EditingOperations)
{
    WideString s(L"C:\\Folder");
    EXPECT_EQ(1, s.AppendUnlessEndsWith(L'\\'));
    EXPECT_EQ(1, s.AppendUnlessEndsWith(L'\\'));
    EXPECT_STREQ(L"C:\\Folder\\", s.Text());
    EXPECT_EQ(1, s.RemoveTrailing());
    EXPECT_STREQ(L"C:\\Folder", s.Text());
    EXPECT_EQ(1, s.Insert(3, L"My "));
    EXPECT_STREQ(L"C:\\My Folder", s.Text());
    EXPECT_EQ(0, s.Insert(99, L"x"));
    EXPECT_EQ(1, s.Delete(0, 3));
    EXPECT_STREQ(L"My Folder", s.Text());
    EXPECT_EQ(1, s.Delete(2, 1000));
    EXPECT_STREQ(L"My", s.Text());
    EXPECT_EQ(1, s.Truncate(1));
    EXPECT_STREQ(L"M", s.Text());
    EXPECT_EQ(1, s.RemoveTrailing());
    EXPECT_EQ(0, s.RemoveTrailing()) << "nothing left to remove";
    EXPECT_EQ(1, s.StoredLength());
}

TEST(WideString, AppendingItselfWhileGrowing)
{
    WideString s;
    std::wstring text(200, L'q');
    s.Assign(text.c_str());
    ASSERT_EQ(1, s.Append(s.Text()));
    EXPECT_EQ(std::wstring(400, L'q'), std::wstring(s.Text()));
    ASSERT_EQ(1, s.Assign(s.Text() + 390));
    EXPECT_EQ(std::wstring(10, L'q'), std::wstring(s.Text()));
}

TEST(WideString, ComparisonsAndMissingArguments)
{
    WideString empty;
    WideString s(L"Sensor");
    EXPECT_EQ(0, empty.Compare(nullptr));
    EXPECT_EQ(0, empty.CompareNoCase(nullptr));
    EXPECT_NE(0, s.Compare(nullptr));
    EXPECT_NE(0, s.CompareNoCaseN(nullptr, 3));
    EXPECT_NE(0, s.Compare(L"sensor"));
    EXPECT_EQ(0, s.CompareNoCase(L"SENSOR"));
    EXPECT_EQ(0, s.CompareNoCaseN(L"SENtinel", 3));
    EXPECT_NE(0, s.CompareNoCaseN(L"SENtinel", 4));
    EXPECT_LT(s.Compare(L"Sensors"), 0);
}

TEST(WideString, Finding)
{
    WideString s(L"Accelerometer 3D Accel");
    EXPECT_EQ(0, s.Find(L'A'));
    EXPECT_EQ(17, s.Find(L'A', 1));
    EXPECT_EQ(-1, s.Find(L'Z'));
    EXPECT_EQ(14, s.Find(L"3D"));
    EXPECT_EQ(-1, s.Find(L"3d"));
    EXPECT_EQ(0, s.FindNoCase(L"aCCEL"));
    EXPECT_EQ(17, s.FindNoCase(L"aCCEL", 1));
    EXPECT_EQ(-1, s.FindNoCase(L"aCCEL", 18));
    EXPECT_EQ(-1, s.FindNoCase(L""));
    EXPECT_EQ(21, s.FindLast(L'l'));
}

TEST(WideString, ReplaceAllSearchesAgainFromTheStart)
{
    WideString s(L"aab");
    ASSERT_EQ(1, s.ReplaceAll(L"ab", L"b"));
    EXPECT_STREQ(L"b", s.Text()) << "a replacement that forms a new occurrence is replaced too";

    WideString joined(L"x\\\\\\\\y");
    ASSERT_EQ(1, joined.ReplaceAll(L"\\\\", L"\\"));
    EXPECT_STREQ(L"x\\y", joined.Text());

    WideString growing(L"a-a");
    ASSERT_EQ(1, growing.ReplaceAll(L"a", L"aa")) << "must end although the replacement holds the pattern";
    EXPECT_STREQ(L"aa-aa", growing.Text());

    WideString same(L"abc");
    EXPECT_EQ(0, same.ReplaceAll(L"", L"x"));
    EXPECT_EQ(1, same.ReplaceAll(L"b", nullptr));
    EXPECT_STREQ(L"ac", same.Text());

    WideString chars(L"a/b/c");
    EXPECT_EQ(1, chars.Replace(L'/', L'\\'));
    EXPECT_STREQ(L"a\\b\\c", chars.Text());
}

TEST(WideString, TrimUsesTheSpaceClass)
{
    WideString s(L" \t\r\n\x3000 value  x \x3000\n");
    ASSERT_EQ(1, s.Trim());
    EXPECT_STREQ(L"value  x", s.Text());
    WideString blank(L" \t ");
    ASSERT_EQ(1, blank.Trim());
    EXPECT_TRUE(blank.IsEmpty());
}

TEST(WideString, LinesAndTokens)
{
    WideString text(L"one\r\ntwo\n\nthree\rfour");
    std::vector<std::wstring> lines;
    WideString line;
    int position = 0;
    while (text.NextLine(position, line)) lines.push_back(line.Text());
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ(L"one", lines[0]);
    EXPECT_EQ(L"two", lines[1]);
    EXPECT_EQ(L"", lines[2]);
    EXPECT_EQ(L"three\rfour", lines[3]);

    WideString list(L",, alpha,,beta ;gamma;;");
    std::vector<std::wstring> tokens;
    WideString token;
    position = 0;
    while (list.NextToken(position, L",; ", token)) tokens.push_back(token.Text());
    ASSERT_EQ(3u, tokens.size()) << "runs of separators give no empty tokens";
    EXPECT_EQ(L"alpha", tokens[0]);
    EXPECT_EQ(L"beta", tokens[1]);
    EXPECT_EQ(L"gamma", tokens[2]);

    WideString onlySeparators(L";;;");
    position = 0;
    EXPECT_EQ(0, onlySeparators.NextToken(position, L";", token));
}

TEST(WideString, NarrowConversions)
{
    WideString s(L"Gr\x00FC\x00DF \x20AC \xD834\xDD1E");
    std::string utf8 = s.ToUtf8();
    EXPECT_EQ("Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9D\x84\x9E", utf8);
    WideString back;
    ASSERT_EQ(1, back.AssignUtf8(utf8.c_str()));
    EXPECT_EQ(0, back.Compare(s.Text()));
    ASSERT_EQ(1, back.AssignNarrow("plain", 12345));
    EXPECT_STREQ(L"plain", back.Text()) << "an unknown code page falls back to ANSI";
    ASSERT_EQ(1, back.AssignNarrow(nullptr));
    EXPECT_TRUE(back.IsEmpty());
    WideString ansi(L"abc");
    EXPECT_STREQ("abc", ansi.ToAnsi());
    ansi.Append(L'd');
    EXPECT_STREQ("abcd", ansi.ToAnsi()) << "the narrow copy follows changes";
}

TEST(WideString, SystemStringCopies)
{
    WideString s(L"with\0zero");
    BSTR owned = s.ToBstr();
    ASSERT_NE(nullptr, owned);
    EXPECT_EQ(4u, SysStringLen(owned));
    EXPECT_STREQ(L"with", owned);
    BSTR detached = s.DetachBstr();
    EXPECT_STREQ(L"with", detached);
    SysFreeString(detached);
}

struct PathCase {
    const wchar_t* path;
    const wchar_t* fileName;
    const wchar_t* extension;
    const wchar_t* shortCut;
    const wchar_t* lastCut;
};

TEST(WideString, PathPieces)
{
    const PathCase cases[] = {
        {L"C:\\dir\\tool.exe", L"tool.exe", L".exe", L"C:\\dir\\tool", L"C:\\dir\\"},
        {L"help.html", L"help.html", L".html", L"help.html", L""},
        {L"a.b\\c", L"c", L"", L"a.b\\c", L"a.b\\"},
        {L"x?y.z", L"x?y.z", L".z", L"x?y", L""},
        {L"http://host/file.php?p=1", L"file.php?p=1", L".php", L"http://host/file.php?p=1", L"http://host/"},
        {L"dir/name", L"name", L"", L"dir/name", L"dir/"},
        {L"noext", L"noext", L"", L"noext", L""},
        {L"trailing\\", L"", L"", L"trailing\\", L"trailing\\"},
        {L"archive.tar.gz", L"archive.tar.gz", L".gz", L"archive.tar", L""},
        {L"end.", L"end.", L".", L"end", L""},
    };
    for (const PathCase& c : cases) {
        WideString path(c.path);
        EXPECT_STREQ(c.fileName, path.FileName()) << c.path;
        WideString extension;
        path.Extension(extension);
        EXPECT_STREQ(c.extension, extension.Text()) << c.path;
        WideString cut(c.path);
        cut.CutShortExtension();
        EXPECT_STREQ(c.shortCut, cut.Text()) << c.path;
        WideString element(c.path);
        element.CutLastElement();
        EXPECT_STREQ(c.lastCut, element.Text()) << c.path;
    }
}

TEST(WideString, CopiesAndMovesAreIndependent)
{
    WideString a(L"first");
    WideString b(a);
    b.Append(L" second");
    EXPECT_STREQ(L"first", a.Text());
    WideString c(static_cast<WideString&&>(b));
    EXPECT_STREQ(L"first second", c.Text());
    EXPECT_TRUE(b.IsEmpty());
    EXPECT_EQ(260, b.Capacity());
    b = L"reused";
    EXPECT_STREQ(L"reused", b.Text());
}
