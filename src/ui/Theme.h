// Visual styles (late bound), installed fonts, the dialog font rewrite, display scaling and
// the icon image list.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "common/WideString.h"
#include "platform/SystemApi.h"
#include "platform/WindowObjects.h"

class ThemeApi {
public:
    ThemeApi();
    ~ThemeApi() { Close(); }
    ThemeApi(const ThemeApi&) = delete;
    ThemeApi& operator=(const ThemeApi&) = delete;

    // With a null class only the library is made ready.
    int Open(HWND window, const wchar_t* themeClass);
    void Close();
    bool HasTheme() const { return m_theme != nullptr; }
    HANDLE Handle() const { return m_theme; }

    // A stale handle (E_HANDLE after a theme change) is reopened once while styles are on.
    int DrawBackground(HDC dc, int part, int state, const RECT* rect);
    int DrawText(HDC dc, int part, int state, const wchar_t* text, int count, DWORD flags, DWORD flags2,
                 const RECT* rect);
    int SetWindowTheme(HWND window, const wchar_t* application, const wchar_t* idList);
    int DrawEdge(HDC dc, int part, int state, const RECT* rect, UINT edge, UINT flags, RECT* content);
    int IsBackgroundPartiallyTransparent(int part, int state);
    int DrawParentBackground(HDC dc, const RECT* rect);
    int HasWindowTheme();

private:
    void* Resolve(void*& slot, const char* name);

    LibraryHolder m_library;
    WideString m_class;
    bool m_hasClass;
    HANDLE m_theme;
    HWND m_window;
    void* m_open;
    void* m_close;
    void* m_isActive;
    void* m_drawBackground;
    void* m_drawText;
    void* m_setWindowTheme;
    void* m_drawEdge;
    void* m_isTransparent;
    void* m_drawParent;
    void* m_getWindowTheme;
};

int FontExists(const wchar_t* family, BYTE charset = DEFAULT_CHARSET, HDC dc = nullptr);

// The face and size a dialog font is rewritten to, from the system's message font.
// Answers 0 when the template keeps its font.
typedef int (*FontTest)(const wchar_t* family);
int ChooseDialogFont(const wchar_t* messageFace, LONG messageHeight, int pixelsPerInch, int classic,
                     FontTest installed, WideString& face, int& pointSize);

// A copy of a dialog template (classic or extended) with another font; empty when the
// template has no DS_SETFONT, another face than the rewritable ones, or is malformed.
int RewriteDialogTemplate(const BYTE* data, size_t size, const wchar_t* face, int pointSize,
                          std::vector<BYTE>& result);

// The same rewrite of a template in memory; 0 when the template keeps its font.
int DialogFontFixTemplate(const BYTE* data, size_t size, int classic, std::vector<BYTE>& rewritten);
// A newly allocated template (free with free()) carrying the system's message font, or
// null when the dialog keeps its own font.
void* DialogFontFix(HINSTANCE instance, int templateId, LANGID language, int classic);
// The languages the template is searched in, in order.
void DialogLanguages(LANGID language, LANGID order[8]);

// Display scale from 96 dots per inch: axis 1 horizontal, else vertical.
double DpiScale(HWND window, int axis);

namespace IconListFlags {
const DWORD Color32 = 0x1;
const DWORD SystemList = 0x2;
const DWORD SmallIcons = 0x4;
const DWORD LargeIcons = 0x8;
}  // namespace IconListFlags

// The colour flags for an image list on a screen of `depth` bits.
UINT ImageListColorFlags(DWORD flags, int depth, DWORD commonControls, bool windows95Family);

class IconImageList {
public:
    IconImageList() : m_flags(0), m_width(0), m_height(0), m_list(nullptr) {}
    ~IconImageList() { Destroy(); }
    IconImageList(const IconImageList&) = delete;
    IconImageList& operator=(const IconImageList&) = delete;

    int Create(DWORD flags, int width, int height, int initial, int grow);
    int AddIcon(HINSTANCE instance, int iconId);
    void RemoveAll();
    int Draw(int index, HDC dc, int x, int y, UINT style) const;
    // Draws as Draw does onto a spot filled with `background` (which the caller has
    // filled): the first time the image is blended over that colour, then copied. Only
    // for 32-bit surfaces; others, and the shared system list, are drawn directly.
    // `surfaceBits` is the depth of `dc`'s surface when the caller knows it.
    int DrawOver(COLORREF background, int index, HDC dc, int x, int y, UINT style);
    int DrawOver(COLORREF background, int index, HDC dc, int x, int y, UINT style, int surfaceBits);
    void Destroy();
    HIMAGELIST Handle() const { return m_list; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

private:
    DWORD m_flags;
    int m_width;
    int m_height;
    HIMAGELIST m_list;
    SystemApi m_api;
    // Images blended over one background colour, side by side; a slot is filled when
    // first drawn. Emptied whenever the list changes through this object.
    MemoryBitmap m_blended;
    std::vector<unsigned char> m_blendedReady;
    COLORREF m_blendedColour = 0;
    UINT m_blendedStyle = 0;
};
