#include "ui/Theme.h"

#include <shellapi.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <string>

#include "sysinfo/WindowsVersion.h"

namespace {

typedef HANDLE(WINAPI* OpenThemeDataFunction)(HWND, LPCWSTR);
typedef HRESULT(WINAPI* CloseThemeDataFunction)(HANDLE);
typedef BOOL(WINAPI* IsThemeActiveFunction)();
typedef HRESULT(WINAPI* DrawThemeBackgroundFunction)(HANDLE, HDC, int, int, const RECT*, const RECT*);
typedef HRESULT(WINAPI* DrawThemeTextFunction)(HANDLE, HDC, int, int, LPCWSTR, int, DWORD, DWORD, const RECT*);
typedef HRESULT(WINAPI* SetWindowThemeFunction)(HWND, LPCWSTR, LPCWSTR);
typedef HRESULT(WINAPI* DrawThemeEdgeFunction)(HANDLE, HDC, int, int, const RECT*, UINT, UINT, RECT*);
typedef BOOL(WINAPI* IsTransparentFunction)(HANDLE, int, int);
typedef HRESULT(WINAPI* DrawParentFunction)(HWND, HDC, const RECT*);
typedef HANDLE(WINAPI* GetWindowThemeFunction)(HWND);

int CALLBACK FirstFont(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found)
{
    *(int*)found = 1;
    return 0;
}

// Skips a menu, class or title field: 0xFFFF and an ordinal, or a terminated string.
bool SkipField(const BYTE* data, size_t size, size_t& offset)
{
    if (offset + 2 > size) return false;
    WORD first;
    memcpy(&first, data + offset, 2);
    if (first == 0xFFFF) {
        offset += 4;
        return offset <= size;
    }
    for (;;) {
        if (offset + 2 > size) return false;
        WORD c;
        memcpy(&c, data + offset, 2);
        offset += 2;
        if (c == 0) return true;
    }
}

struct TemplateFont {
    size_t pointOffset;
    size_t faceOffset;
    size_t faceEnd;  // just after the terminator
    std::wstring face;
};

// Finds the font fields of a template; false without DS_SETFONT or when malformed.
bool FindTemplateFont(const BYTE* data, size_t size, TemplateFont& font)
{
    if (!data || size < 18) return false;
    WORD signature;
    memcpy(&signature, data + 2, 2);
    bool extended = signature == 0xFFFF;
    DWORD style;
    memcpy(&style, data + (extended ? 12 : 0), 4);
    size_t offset = extended ? 26 : 18;
    if (offset > size) return false;
    for (int i = 0; i < 3; i++)
        if (!SkipField(data, size, offset)) return false;
    if (!(style & DS_SETFONT)) return false;
    font.pointOffset = offset;
    offset += extended ? 6 : 2;
    font.faceOffset = offset;
    font.face.clear();
    for (;;) {
        if (offset + 2 > size) return false;
        WORD c;
        memcpy(&c, data + offset, 2);
        offset += 2;
        if (c == 0) break;
        font.face += (wchar_t)c;
    }
    font.faceEnd = offset;
    return true;
}

bool RewritableFace(const std::wstring& face)
{
    return face == L"MS Sans Serif" || face == L"MS Shell Dlg" || face == L"System";
}

int InstalledFont(const wchar_t* family)
{
    return FontExists(family, DEFAULT_CHARSET, nullptr);
}

size_t AlignUp(size_t offset)
{
    return (offset + 3) & ~(size_t)3;
}

}  // namespace

// ---------------------------------------------------------------------------------------

ThemeApi::ThemeApi()
    : m_hasClass(false), m_theme(nullptr), m_window(nullptr), m_open(nullptr), m_close(nullptr),
      m_isActive(nullptr), m_drawBackground(nullptr), m_drawText(nullptr), m_setWindowTheme(nullptr),
      m_drawEdge(nullptr), m_isTransparent(nullptr), m_drawParent(nullptr), m_getWindowTheme(nullptr)
{
}

void* ThemeApi::Resolve(void*& slot, const char* name)
{
    if (!slot) {
        if (!m_library.Loaded() && !m_library.Load(L"uxtheme.dll")) return nullptr;
        slot = m_library.Lookup(name);
    }
    return slot;
}

int ThemeApi::Open(HWND window, const wchar_t* themeClass)
{
    Close();
    m_window = window;
    m_hasClass = themeClass != nullptr;
    m_class.Assign(themeClass);
    if (!Resolve(m_open, "OpenThemeData") || !Resolve(m_close, "CloseThemeData") ||
        !Resolve(m_isActive, "IsThemeActive"))
        return 0;
    if (!themeClass) return 1;
    m_theme = ((OpenThemeDataFunction)m_open)(window, themeClass);
    return m_theme != nullptr;
}

void ThemeApi::Close()
{
    if (m_theme && m_close) ((CloseThemeDataFunction)m_close)(m_theme);
    m_theme = nullptr;
    m_open = m_close = m_isActive = m_drawBackground = m_drawText = m_setWindowTheme = nullptr;
    m_drawEdge = m_isTransparent = m_drawParent = m_getWindowTheme = nullptr;
    m_library.Free();
}

int ThemeApi::DrawBackground(HDC dc, int part, int state, const RECT* rect)
{
    DrawThemeBackgroundFunction draw = (DrawThemeBackgroundFunction)Resolve(m_drawBackground, "DrawThemeBackground");
    if (!draw) return 0;
    HRESULT result = draw(m_theme, dc, part, state, rect, nullptr);
    if (result == (HRESULT)0x80070006) {
        if (!m_isActive || !((IsThemeActiveFunction)m_isActive)()) return 0;
        WideString themeClass(m_class);
        if (!Open(m_window, m_hasClass ? themeClass.Text() : nullptr)) return 0;
        draw = (DrawThemeBackgroundFunction)Resolve(m_drawBackground, "DrawThemeBackground");
        if (!draw) return 0;
        result = draw(m_theme, dc, part, state, rect, nullptr);
    }
    return result == S_OK;
}

int ThemeApi::DrawText(HDC dc, int part, int state, const wchar_t* text, int count, DWORD flags, DWORD flags2,
                       const RECT* rect)
{
    DrawThemeTextFunction draw = (DrawThemeTextFunction)Resolve(m_drawText, "DrawThemeText");
    return draw && draw(m_theme, dc, part, state, text, count, flags, flags2, rect) == S_OK;
}

int ThemeApi::SetWindowTheme(HWND window, const wchar_t* application, const wchar_t* idList)
{
    SetWindowThemeFunction set = (SetWindowThemeFunction)Resolve(m_setWindowTheme, "SetWindowTheme");
    if (!set) return 0;
    set(window, application, idList);
    return 1;
}

int ThemeApi::DrawEdge(HDC dc, int part, int state, const RECT* rect, UINT edge, UINT flags, RECT* content)
{
    DrawThemeEdgeFunction draw = (DrawThemeEdgeFunction)Resolve(m_drawEdge, "DrawThemeEdge");
    return draw && draw(m_theme, dc, part, state, rect, edge, flags, content) == S_OK;
}

int ThemeApi::IsBackgroundPartiallyTransparent(int part, int state)
{
    IsTransparentFunction test =
        (IsTransparentFunction)Resolve(m_isTransparent, "IsThemeBackgroundPartiallyTransparent");
    return test && test(m_theme, part, state) ? 1 : 0;
}

int ThemeApi::DrawParentBackground(HDC dc, const RECT* rect)
{
    DrawParentFunction draw = (DrawParentFunction)Resolve(m_drawParent, "DrawThemeParentBackground");
    return draw && draw(m_window, dc, rect) == S_OK;
}

int ThemeApi::HasWindowTheme()
{
    GetWindowThemeFunction get = (GetWindowThemeFunction)Resolve(m_getWindowTheme, "GetWindowTheme");
    return get && get(m_window) ? 1 : 0;
}

// ---------------------------------------------------------------------------------------

int FontExists(const wchar_t* family, BYTE charset, HDC dc)
{
    if (!family) return 0;
    HDC screen = nullptr;
    if (!dc) dc = screen = GetDC(nullptr);
    if (!dc) return 0;
    LOGFONTW font;
    ZeroMemory(&font, sizeof(font));
    font.lfCharSet = charset;
    wcsncpy(font.lfFaceName, family, 31);
    font.lfFaceName[31] = L'\0';
    int found = 0;
    EnumFontFamiliesExW(dc, &font, FirstFont, (LPARAM)&found, 0);
    if (screen) ReleaseDC(nullptr, screen);
    return found;
}

int ChooseDialogFont(const wchar_t* messageFace, LONG messageHeight, int pixelsPerInch, int classic,
                     FontTest installed, WideString& face, int& pointSize)
{
    if (!messageFace || (wcscmp(messageFace, L"MS Sans Serif") != 0 && wcscmp(messageFace, L"Tahoma") != 0 &&
                         wcscmp(messageFace, L"Segoe UI") != 0))
        return 0;
    if (classic && wcscmp(messageFace, L"Segoe UI") == 0 && installed(L"MS Shell Dlg 2")) {
        face.Assign(L"MS Shell Dlg 2");
        pointSize = 8;
    } else if (installed(messageFace) && pixelsPerInch > 0) {
        face.Assign(messageFace);
        pointSize = MulDiv(-messageHeight, 72, pixelsPerInch);
    } else {
        face.Assign(installed(L"MS Shell Dlg 2") ? L"MS Shell Dlg 2" : L"MS Shell Dlg");
        pointSize = 8;
    }
    return 1;
}

int RewriteDialogTemplate(const BYTE* data, size_t size, const wchar_t* face, int pointSize, std::vector<BYTE>& result)
{
    result.clear();
    TemplateFont font;
    if (!face || !FindTemplateFont(data, size, font) || !RewritableFace(font.face)) return 0;
    size_t oldLength = font.face.size();
    size_t newLength = wcslen(face);
    long long computed = (long long)size + 2LL * (long long)newLength - 2LL * (long long)oldLength + 4;
    if (computed <= 0 || computed > 0x7FFFFFFF) return 0;
    size_t newSize = (size_t)computed;
    try {
        result.assign(newSize, 0);
    } catch (...) {
        return 0;
    }
    memcpy(result.data(), data, font.faceOffset);
    memcpy(result.data() + font.faceOffset, face, 2 * newLength);  // the terminator is already zero
    size_t oldItems = AlignUp(font.faceEnd);
    size_t newItems = AlignUp(font.faceOffset + 2 * newLength + 2);
    if (oldItems < size && newItems < newSize) {
        size_t count = size - oldItems;
        if (newItems + count > newSize) count = newSize - newItems;
        memcpy(result.data() + newItems, data + oldItems, count);
    }
    WORD points = (WORD)pointSize;
    memcpy(result.data() + font.pointOffset, &points, 2);
    return 1;
}

void DialogLanguages(LANGID language, LANGID order[8])
{
    order[0] = language;
    order[1] = (LANGID)((language & 0x3FF) | 0x400);
    order[2] = (LANGID)(language & 0x3FF);
    order[3] = 1033;
    order[4] = 2057;
    order[5] = 1033;
    order[6] = 9;
    order[7] = 1031;
}

int DialogFontFixTemplate(const BYTE* data, size_t size, int classic, std::vector<BYTE>& rewritten)
{
    rewritten.clear();
    TemplateFont font;
    if (!data || !FindTemplateFont(data, size, font) || !RewritableFace(font.face)) return 0;
    NONCLIENTMETRICSW metrics;
    ZeroMemory(&metrics, sizeof(metrics));
    metrics.cbSize = 500;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 500, &metrics, 0)) return 0;
    HDC screen = GetDC(nullptr);
    int pixelsPerInch = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    WideString face;
    int pointSize = 0;
    if (!ChooseDialogFont(metrics.lfMessageFont.lfFaceName, metrics.lfMessageFont.lfHeight, pixelsPerInch, classic,
                          InstalledFont, face, pointSize))
        return 0;
    return RewriteDialogTemplate(data, size, face, pointSize, rewritten);
}

void* DialogFontFix(HINSTANCE instance, int templateId, LANGID language, int classic)
{
    LANGID languages[8];
    DialogLanguages(language, languages);
    HRSRC resource = nullptr;
    for (LANGID candidate : languages) {
        resource = FindResourceExW(instance, (LPCWSTR)RT_DIALOG, MAKEINTRESOURCEW(templateId), candidate);
        if (resource) break;
    }
    if (!resource) return nullptr;
    HGLOBAL loaded = LoadResource(instance, resource);
    DWORD size = SizeofResource(instance, resource);
    const BYTE* data = loaded && size ? (const BYTE*)LockResource(loaded) : nullptr;
    std::vector<BYTE> rewritten;
    if (!DialogFontFixTemplate(data, size, classic, rewritten)) return nullptr;
    void* copy = malloc(rewritten.size());
    if (copy) memcpy(copy, rewritten.data(), rewritten.size());
    return copy;
}

double DpiScale(HWND window, int axis)
{
    HDC dc = GetDC(window);
    if (!dc) return 1.0;
    int pixels = GetDeviceCaps(dc, axis == 1 ? LOGPIXELSX : LOGPIXELSY);
    ReleaseDC(window, dc);
    return pixels / 96.0;
}

// ---------------------------------------------------------------------------------------

UINT ImageListColorFlags(DWORD flags, int depth, DWORD commonControls, bool windows95Family)
{
    if (flags & IconListFlags::Color32) return ILC_COLOR32 | ILC_MASK;
    if (windows95Family) return ILC_COLOR8 | ILC_MASK;
    int bits = depth > 23 ? 32 : depth > 15 ? 16 : depth >= 8 ? 8 : depth >= 4 ? 4 : 0;
    if (bits == 32 && commonControls < 0x60000) bits = 16;
    UINT color = bits == 32 ? ILC_COLOR32 : bits == 16 ? ILC_COLOR16 : bits == 8 ? ILC_COLOR8 : bits == 4 ? ILC_COLOR4
                                                                                                        : ILC_COLOR;
    return color | ILC_MASK;
}

int IconImageList::Create(DWORD flags, int width, int height, int initial, int grow)
{
    Destroy();
    m_flags = flags;
    if (flags & IconListFlags::SmallIcons) {
        width = GetSystemMetrics(SM_CXSMICON);
        height = GetSystemMetrics(SM_CYSMICON);
    } else if (flags & IconListFlags::LargeIcons) {
        width = GetSystemMetrics(SM_CXICON);
        height = GetSystemMetrics(SM_CYICON);
    }
    m_width = width;
    m_height = height;
    if (flags & IconListFlags::SystemList) {
        wchar_t windows[MAX_PATH];
        if (!GetWindowsDirectoryW(windows, MAX_PATH)) return 0;
        bool small = (flags & IconListFlags::SmallIcons) ||
                     (!(flags & IconListFlags::LargeIcons) && height == GetSystemMetrics(SM_CYSMICON));
        SHFILEINFOW info;
        ZeroMemory(&info, sizeof(info));
        m_list = (HIMAGELIST)SHGetFileInfoW(windows, 0, &info, sizeof(info),
                                            SHGFI_SYSICONINDEX | (small ? SHGFI_SMALLICON : 0));
        return m_list != nullptr;
    }
    HDC screen = GetDC(nullptr);
    int depth = screen ? GetDeviceCaps(screen, PLANES) * GetDeviceCaps(screen, BITSPIXEL) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    UINT colors = ImageListColorFlags(flags, depth, CommonControlsVersion(), (ClassifyWindows() & 0x2) != 0);
    m_list = ImageList_Create(width, height, colors, initial, grow);
    return m_list != nullptr;
}

int IconImageList::AddIcon(HINSTANCE instance, int iconId)
{
    if (!m_list) return -1;
    HICON icon = nullptr;
    if (FAILED(m_api.LoadIconWithScaleDown(instance, MAKEINTRESOURCEW(iconId), m_width, m_height, &icon)) || !icon)
        icon = (HICON)LoadImageW(instance, MAKEINTRESOURCEW(iconId), IMAGE_ICON, m_width, m_height, LR_DEFAULTCOLOR);
    if (!icon) return -1;
    int index = ImageList_ReplaceIcon(m_list, -1, icon);
    m_blended.Delete();
    DestroyIcon(icon);
    return index;
}

void IconImageList::RemoveAll()
{
    if (m_list && !(m_flags & IconListFlags::SystemList)) ImageList_Remove(m_list, -1);
    m_blended.Delete();
}

int IconImageList::Draw(int index, HDC dc, int x, int y, UINT style) const
{
    return m_list && ImageList_Draw(m_list, index, dc, x, y, style) ? 1 : 0;
}

int IconImageList::DrawOver(COLORREF background, int index, HDC dc, int x, int y, UINT style)
{
    return DrawOver(background, index, dc, x, y, style, SurfaceBitsPerPixel(dc));
}

int IconImageList::DrawOver(COLORREF background, int index, HDC dc, int x, int y, UINT style, int surfaceBits)
{
    if (!m_list || (m_flags & IconListFlags::SystemList) || surfaceBits != 32)
        return Draw(index, dc, x, y, style);
    int count = ImageList_GetImageCount(m_list);
    if (index < 0 || index >= count) return Draw(index, dc, x, y, style);
    if (!m_blended.Dc() || m_blendedReady.size() != (size_t)count || m_blendedColour != background ||
        m_blendedStyle != style) {
        if (!m_blended.Create32(m_width * count, m_height)) return Draw(index, dc, x, y, style);
        m_blendedReady.assign((size_t)count, 0);
        m_blendedColour = background;
        m_blendedStyle = style;
    }
    if (!m_blendedReady[(size_t)index]) {
        RECT slot = {index * m_width, 0, (index + 1) * m_width, m_height};
        HBRUSH brush = CreateSolidBrush(background);
        if (!brush) return Draw(index, dc, x, y, style);
        FillRect(m_blended.Dc(), &slot, brush);
        DeleteObject(brush);
        if (!ImageList_Draw(m_list, index, m_blended.Dc(), slot.left, 0, style)) return 0;
        m_blendedReady[(size_t)index] = 1;
    }
    return BitBlt(dc, x, y, m_width, m_height, m_blended.Dc(), index * m_width, 0, SRCCOPY) ? 1 : 0;
}

void IconImageList::Destroy()
{
    if (m_list && !(m_flags & IconListFlags::SystemList)) ImageList_Destroy(m_list);
    m_list = nullptr;
    m_blended.Delete();
}
