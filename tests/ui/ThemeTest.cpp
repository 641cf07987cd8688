#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "ui/Theme.h"

namespace {

int AllInstalled(const wchar_t*)
{
    return 1;
}
int NoneInstalled(const wchar_t*)
{
    return 0;
}
int OnlyShellDlg2(const wchar_t* family)
{
    return wcscmp(family, L"MS Shell Dlg 2") == 0;
}

void Words(std::vector<BYTE>& bytes, std::initializer_list<WORD> words)
{
    for (WORD w : words) {
        bytes.push_back((BYTE)w);
        bytes.push_back((BYTE)(w >> 8));
    }
}
void Text(std::vector<BYTE>& bytes, const wchar_t* text)
{
    for (; *text; text++) Words(bytes, {(WORD)*text});
    Words(bytes, {0});
}
void Align(std::vector<BYTE>& bytes)
{
    while (bytes.size() % 4) bytes.push_back(0);
}

// A classic template with one item; `face` null leaves DS_SETFONT out.
std::vector<BYTE> Classic(const wchar_t* face, WORD points)
{
    std::vector<BYTE> t;
    DWORD style = WS_POPUP | WS_CAPTION | (face ? DS_SETFONT : 0);
    Words(t, {(WORD)style, (WORD)(style >> 16), 0, 0, 1, 0, 0, 100, 50});
    Words(t, {0, 0});  // no menu, default class
    Text(t, L"Title");
    if (face) {
        Words(t, {points});
        Text(t, face);
    }
    Align(t);
    DWORD itemStyle = WS_CHILD | WS_VISIBLE;
    Words(t, {(WORD)itemStyle, (WORD)(itemStyle >> 16), 0, 0, 5, 5, 40, 12, 1000, 0xFFFF, 0x0080});
    Text(t, L"OK");
    Words(t, {0});
    return t;
}

std::vector<BYTE> Extended(const wchar_t* face, WORD points)
{
    std::vector<BYTE> t;
    DWORD style = WS_POPUP | DS_SETFONT;
    Words(t, {1, 0xFFFF, 0, 0, 0, 0, (WORD)style, (WORD)(style >> 16), 1, 0, 0, 80, 40});
    Words(t, {0, 0});
    Text(t, L"X");
    Words(t, {points, 400});
    t.push_back(0);  // italic
    t.push_back(1);  // character set
    Text(t, face);
    Align(t);
    for (int i = 0; i < 12; i++) t.push_back((BYTE)(0xA0 + i));  // an item's bytes, copied unchanged
    return t;
}

std::wstring FaceAt(const std::vector<BYTE>& bytes, size_t offset)
{
    std::wstring face;
    for (size_t i = offset; i + 1 < bytes.size(); i += 2) {
        wchar_t c = (wchar_t)(bytes[i] | (bytes[i + 1] << 8));
        if (!c) break;
        face += c;
    }
    return face;
}

}  // namespace

TEST(DialogFont, ChoosesFaceAndSize)
{
    WideString face;
    int points = 0;
    ASSERT_EQ(1, ChooseDialogFont(L"Segoe UI", -12, 96, 0, AllInstalled, face, points));
    EXPECT_STREQ(L"Segoe UI", face.Text());
    EXPECT_EQ(9, points);
    ASSERT_EQ(1, ChooseDialogFont(L"Segoe UI", -12, 96, 1, AllInstalled, face, points));
    EXPECT_STREQ(L"MS Shell Dlg 2", face.Text());
    EXPECT_EQ(8, points);
    ASSERT_EQ(1, ChooseDialogFont(L"Tahoma", -11, 96, 1, AllInstalled, face, points));
    EXPECT_STREQ(L"Tahoma", face.Text()) << "the classic switch only replaces Segoe UI";
    EXPECT_EQ(8, points);
    ASSERT_EQ(1, ChooseDialogFont(L"Segoe UI", -18, 144, 0, AllInstalled, face, points));
    EXPECT_EQ(9, points);
    ASSERT_EQ(1, ChooseDialogFont(L"Tahoma", -11, 96, 0, OnlyShellDlg2, face, points));
    EXPECT_STREQ(L"MS Shell Dlg 2", face.Text());
    ASSERT_EQ(1, ChooseDialogFont(L"Tahoma", -11, 96, 0, NoneInstalled, face, points));
    EXPECT_STREQ(L"MS Shell Dlg", face.Text());
    EXPECT_EQ(0, ChooseDialogFont(L"Arial", -12, 96, 0, AllInstalled, face, points));
    EXPECT_EQ(0, ChooseDialogFont(nullptr, -12, 96, 0, AllInstalled, face, points));
}

TEST(DialogFont, RewritesClassicAndExtendedTemplates)
{
    std::vector<BYTE> classic = Classic(L"MS Sans Serif", 8);
    std::vector<BYTE> result;
    ASSERT_EQ(1, RewriteDialogTemplate(classic.data(), classic.size(), L"Segoe UI", 9, result));
    EXPECT_EQ(classic.size() + 2 * (8 - 13) + 4, result.size());
    // Header, menu, class and "Title" stay: 18 + 4 + 12 bytes, then the point size.
    EXPECT_EQ(0, memcmp(classic.data(), result.data(), 34));
    EXPECT_EQ(9, result[34] | (result[35] << 8));
    EXPECT_EQ(L"Segoe UI", FaceAt(result, 36));
    // The item moved to the first 4-byte boundary after the new face, unchanged.
    size_t oldItem = (36 + 2 * 14 + 3) & ~3u;
    size_t newItem = (36 + 2 * 9 + 3) & ~3u;
    EXPECT_EQ(0, memcmp(classic.data() + oldItem, result.data() + newItem, classic.size() - oldItem));
    DLGTEMPLATE header;
    memcpy(&header, result.data(), sizeof(header));
    EXPECT_EQ(1, header.cdit);

    std::vector<BYTE> extended = Extended(L"MS Shell Dlg", 8);
    ASSERT_EQ(1, RewriteDialogTemplate(extended.data(), extended.size(), L"Tahoma", 8, result));
    size_t faceOffset = 26 + 4 + 4 + 6;
    EXPECT_EQ(L"Tahoma", FaceAt(result, faceOffset));
    size_t newItems = (faceOffset + 2 * 7 + 3) & ~3u;
    for (int i = 0; i < 12; i++) EXPECT_EQ(0xA0 + i, result[newItems + (size_t)i]);

    std::vector<BYTE> tahoma = Classic(L"Tahoma", 8);
    EXPECT_EQ(0, RewriteDialogTemplate(tahoma.data(), tahoma.size(), L"Segoe UI", 9, result)) << "another face stays";
    std::vector<BYTE> noFont = Classic(nullptr, 0);
    EXPECT_EQ(0, RewriteDialogTemplate(noFont.data(), noFont.size(), L"Segoe UI", 9, result)) << "no DS_SETFONT";
    EXPECT_EQ(0, RewriteDialogTemplate(classic.data(), 30, L"Segoe UI", 9, result)) << "a cut template";
    EXPECT_EQ(0, RewriteDialogTemplate(nullptr, 0, L"Segoe UI", 9, result));
}

namespace {

// The font of a classic template: after the header, the menu, class and title fields.
bool ClassicTemplateFont(const BYTE* data, std::wstring& face, WORD& points)
{
    const DLGTEMPLATE* header = (const DLGTEMPLATE*)data;
    if (!(header->style & DS_SETFONT)) return false;
    const WORD* at = (const WORD*)(data + 18);
    for (int field = 0; field < 2; field++) {  // menu, class: 0, 0xFFFF + ordinal, or text
        if (*at == 0xFFFF)
            at += 2;
        else
            while (*at++) {
            }
    }
    while (*at++) {  // title
    }
    points = *at++;
    face = (const wchar_t*)at;
    return true;
}

}  // namespace

TEST(DialogFont, LanguageFallbackAndTheProgramsTemplate)
{
    LANGID order[8];
    DialogLanguages(0x0C07, order);
    const LANGID expected[8] = {0x0C07, 0x0407, 0x0007, 1033, 2057, 1033, 9, 1031};
    for (int i = 0; i < 8; i++) EXPECT_EQ(expected[i], order[i]) << i;

    // The test dialog 200 ("MS Sans Serif", 8 points) is stored in the neutral language and
    // found through the fallback. What it becomes follows from the system's message font.
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = 500;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 500, &metrics, 0));
    HDC screen = GetDC(nullptr);
    int pixelsPerInch = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    WideString face;
    int points = 0;
    int changes = ChooseDialogFont(metrics.lfMessageFont.lfFaceName, metrics.lfMessageFont.lfHeight, pixelsPerInch, 0,
                                   [](const wchar_t* family) { return FontExists(family); }, face, points);
    void* rewritten = DialogFontFix(GetModuleHandleW(nullptr), 200, 0, 0);
    if (!changes) {
        EXPECT_EQ(nullptr, rewritten) << "message font " << std::wstring(metrics.lfMessageFont.lfFaceName).c_str()
                                      << ": the template keeps its own font";
    } else {
        ASSERT_NE(nullptr, rewritten);
        std::wstring gotFace;
        WORD gotPoints = 0;
        ASSERT_TRUE(ClassicTemplateFont((const BYTE*)rewritten, gotFace, gotPoints));
        EXPECT_EQ(std::wstring(face.Text()), gotFace);
        EXPECT_EQ(points, (int)gotPoints);
    }
    free(rewritten);

    // The program's own kind of template, rewritten: the face and size it ends up with.
    HRSRC resource = FindResourceExW(GetModuleHandleW(nullptr), (LPCWSTR)RT_DIALOG, MAKEINTRESOURCEW(200),
                                     MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    ASSERT_NE(nullptr, resource);
    const BYTE* data = (const BYTE*)LockResource(LoadResource(GetModuleHandleW(nullptr), resource));
    DWORD size = SizeofResource(GetModuleHandleW(nullptr), resource);
    std::wstring storedFace;
    WORD storedPoints = 0;
    ASSERT_TRUE(ClassicTemplateFont(data, storedFace, storedPoints));
    EXPECT_EQ(L"MS Sans Serif", storedFace);
    EXPECT_EQ(8, storedPoints);
    std::vector<BYTE> result;
    ASSERT_EQ(1, RewriteDialogTemplate(data, size, L"Segoe UI", 9, result));
    std::wstring newFace;
    WORD newPoints = 0;
    ASSERT_TRUE(ClassicTemplateFont(result.data(), newFace, newPoints));
    EXPECT_EQ(L"Segoe UI", newFace);
    EXPECT_EQ(9, newPoints);
    EXPECT_EQ(((const DLGTEMPLATE*)data)->cdit, ((const DLGTEMPLATE*)result.data())->cdit) << "every control kept";

    EXPECT_EQ(nullptr, DialogFontFix(GetModuleHandleW(nullptr), 4242, 0, 0));
}

TEST(Theme, HelpersDegradeGracefully)
{
    // Whatever family this system has first must be found.
    struct First {
        static int CALLBACK Take(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM name)
        {
            wcscpy((wchar_t*)name, font->lfFaceName);
            return 0;
        }
    };
    wchar_t installed[LF_FACESIZE] = L"";
    LOGFONTW all = {};
    all.lfCharSet = DEFAULT_CHARSET;
    HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(screen, &all, First::Take, (LPARAM)installed, 0);
    ReleaseDC(nullptr, screen);
    ASSERT_NE(L'\0', installed[0]);
    EXPECT_EQ(1, FontExists(installed));
    EXPECT_EQ(0, FontExists(L"Orvane No Such Font Family"));
    EXPECT_EQ(0, FontExists(nullptr));
    std::wstring longName = std::wstring(L"Orvane No Such Font Family That Is Long") + std::wstring(40, L'x');
    EXPECT_EQ(0, FontExists(longName.c_str())) << "compared by its first 31 characters";

    ThemeApi theme;
    EXPECT_EQ(1, theme.Open(nullptr, nullptr)) << "library only";
    EXPECT_FALSE(theme.HasTheme());
    EXPECT_EQ(0, theme.Open(nullptr, L"NoSuchThemeClass"));
    EXPECT_EQ(1, theme.Open(nullptr, L"BUTTON"));
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(GetDC(nullptr), 20, 20);
    SelectObject(dc, bitmap);
    RECT rect = {0, 0, 16, 16};
    EXPECT_EQ(1, theme.DrawBackground(dc, 3, 1, &rect));
    theme.Close();
    EXPECT_EQ(0, theme.DrawBackground(dc, 3, 1, &rect)) << "without a theme nothing is drawn";
    DeleteDC(dc);
    DeleteObject(bitmap);

    EXPECT_DOUBLE_EQ(1.0, DpiScale(nullptr, 1)) << "96 dots per inch here";
    EXPECT_EQ((UINT)(ILC_COLOR32 | ILC_MASK), ImageListColorFlags(0, 32, 0x60000, false));
    EXPECT_EQ((UINT)(ILC_COLOR16 | ILC_MASK), ImageListColorFlags(0, 32, 0x50051, false)) << "old common controls";
    EXPECT_EQ((UINT)(ILC_COLOR8 | ILC_MASK), ImageListColorFlags(0, 32, 0x60000, true));
    EXPECT_EQ((UINT)(ILC_COLOR32 | ILC_MASK), ImageListColorFlags(IconListFlags::Color32, 4, 0, true));
    EXPECT_EQ((UINT)(ILC_COLOR16 | ILC_MASK), ImageListColorFlags(0, 16, 0x60000, false));
    EXPECT_EQ((UINT)(ILC_COLOR8 | ILC_MASK), ImageListColorFlags(0, 8, 0x60000, false));
    EXPECT_EQ((UINT)(ILC_COLOR4 | ILC_MASK), ImageListColorFlags(0, 4, 0x60000, false));
    EXPECT_EQ((UINT)(ILC_COLOR | ILC_MASK), ImageListColorFlags(0, 1, 0x60000, false));

    IconImageList list;
    ASSERT_EQ(1, list.Create(IconListFlags::SmallIcons, 0, 0, 10, 20));
    EXPECT_EQ(GetSystemMetrics(SM_CXSMICON), list.Width());
    EXPECT_EQ(0, list.AddIcon(GetModuleHandleW(nullptr), 201));
    EXPECT_EQ(1, list.AddIcon(GetModuleHandleW(nullptr), 201));
    EXPECT_EQ(-1, list.AddIcon(GetModuleHandleW(nullptr), 9999));
    EXPECT_EQ(2, ImageList_GetImageCount(list.Handle()));
    list.RemoveAll();
    EXPECT_EQ(0, ImageList_GetImageCount(list.Handle()));
}

namespace {

// A bitmap to draw on, filled with one colour.
struct Surface {
    Surface(int bits, COLORREF colour)
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = 64;
        info.bmiHeader.biHeight = -32;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = (WORD)bits;
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
        original = SelectObject(dc, bitmap);
        RECT all = {0, 0, 64, 32};
        HBRUSH brush = CreateSolidBrush(colour);
        FillRect(dc, &all, brush);
        DeleteObject(brush);
        GdiFlush();
        size = (size_t)(64 * bits / 8) * 32;
    }
    ~Surface()
    {
        SelectObject(dc, original);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    bool Same(const Surface& other)
    {
        GdiFlush();
        return size == other.size && memcmp(pixels, other.pixels, size) == 0;
    }
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ original;
    void* pixels = nullptr;
    size_t size = 0;
};

// A small icon whose pixels run through every degree of transparency.
HICON TranslucentIcon(int size)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = size;
    info.bmiHeader.biHeight = -size;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP colour = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    DWORD* pixel = (DWORD*)bits;
    for (int y = 0; y < size; y++)
        for (int x = 0; x < size; x++) {
            DWORD alpha = (DWORD)((x + y * size) * 255 / (size * size - 1));
            // Premultiplied red fading in, blue constant.
            pixel[y * size + x] = (alpha << 24) | ((alpha * (DWORD)(x * 16 % 256) / 255) << 16) | (alpha / 2);
        }
    HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
    ICONINFO icon = {TRUE, 0, 0, mask, colour};
    HICON result = CreateIconIndirect(&icon);
    DeleteObject(mask);
    DeleteObject(colour);
    return result;
}

}  // namespace

TEST(IconImageList, DrawingOverAColourGivesTheListsOwnPixels)
{
    IconImageList list;
    ASSERT_EQ(1, list.Create(IconListFlags::SmallIcons | IconListFlags::Color32, 0, 0, 4, 4));
    HICON icon = TranslucentIcon(list.Width());
    ASSERT_NE(nullptr, icon);
    ASSERT_EQ(0, ImageList_ReplaceIcon(list.Handle(), -1, icon));
    DestroyIcon(icon);

    const COLORREF colours[] = {GetSysColor(COLOR_WINDOW), RGB(10, 200, 30), GetSysColor(COLOR_WINDOW)};
    for (COLORREF colour : colours) {
        Surface copied(32, colour), blended(32, colour);
        // Twice: once blended anew, once from the kept copy, each at its own place.
        EXPECT_EQ(1, list.DrawOver(colour, 0, copied.dc, 3, 5, ILD_TRANSPARENT));
        EXPECT_EQ(1, list.DrawOver(colour, 0, copied.dc, 30, 9, ILD_TRANSPARENT));
        ImageList_Draw(list.Handle(), 0, blended.dc, 3, 5, ILD_TRANSPARENT);
        ImageList_Draw(list.Handle(), 0, blended.dc, 30, 9, ILD_TRANSPARENT);
        EXPECT_TRUE(copied.Same(blended)) << "over " << std::hex << colour;
        Surface background(32, colour);
        EXPECT_FALSE(copied.Same(background)) << "something was drawn";
    }

    // An icon added later is drawn, and the first one still is.
    ASSERT_EQ(1, list.AddIcon(GetModuleHandleW(nullptr), 201));
    COLORREF window = GetSysColor(COLOR_WINDOW);
    Surface copied(32, window), blended(32, window);
    EXPECT_EQ(1, list.DrawOver(window, 1, copied.dc, 0, 0, ILD_TRANSPARENT));
    EXPECT_EQ(1, list.DrawOver(window, 0, copied.dc, 20, 0, ILD_TRANSPARENT));
    ImageList_Draw(list.Handle(), 1, blended.dc, 0, 0, ILD_TRANSPARENT);
    ImageList_Draw(list.Handle(), 0, blended.dc, 20, 0, ILD_TRANSPARENT);
    EXPECT_TRUE(copied.Same(blended));

    // Other surfaces, and images the list does not have, are the list's own business.
    Surface copied16(16, window), blended16(16, window);
    EXPECT_EQ(1, list.DrawOver(window, 0, copied16.dc, 3, 5, ILD_TRANSPARENT));
    ImageList_Draw(list.Handle(), 0, blended16.dc, 3, 5, ILD_TRANSPARENT);
    EXPECT_TRUE(copied16.Same(blended16));
    EXPECT_EQ(0, list.DrawOver(window, 7, copied.dc, 0, 0, ILD_TRANSPARENT));
    list.RemoveAll();
    EXPECT_EQ(0, list.DrawOver(window, 0, copied.dc, 0, 0, ILD_TRANSPARENT));
}
