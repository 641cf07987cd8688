// A static control turned into a web link in the browser's link colours, and the shell
// helpers it uses.
#pragma once

#include <windows.h>

#include "common/WideString.h"
#include "platform/SystemApi.h"
#include "ui/SubclassHook.h"
#include "ui/Theme.h"

namespace LinkFlags {
const DWORD HoverColour = 0x0001;
const DWORD ControlFont = 0x0002;
const DWORD Hovering = 0x0004;
const DWORD Disabled = 0x0008;
const DWORD Transparent = 0x0010;
const DWORD ClientHeightFont = 0x0020;
const DWORD Focused = 0x0040;
const DWORD NoFocusRect = 0x0080;
const DWORD Masked = 0x0100;
const DWORD BrowserFace = 0x0200;
const DWORD ThemedParent = 0x0400;
const DWORD CommandToParent = 0x0800;
const DWORD EndEllipsis = 0x1000;
const DWORD PathEllipsis = 0x2000;
const DWORD IgnoreTransparent = 0x4000;
}  // namespace LinkFlags

// "r,g,b" as a colour; answers 0 when the text is not three numbers.
int ParseAnchorColour(const wchar_t* text, COLORREF& colour);
// "yes" 2, "no" 0, "hover" 1 (any case); anything else leaves `mode`.
int UnderlineMode(const wchar_t* text, int mode);
// Whether x lies over the text of the given measured width in a client area of `clientRight`.
bool OverText(int x, int clientRight, int textWidth, UINT format);
UINT LinkTextFormat(DWORD style, DWORD flags);

// Notices when the pointer leaves a window: TrackMouseEvent, or a 100 ms timer without it.
class MouseLeaveTracker {
public:
    MouseLeaveTracker();
    virtual ~MouseLeaveTracker();
    MouseLeaveTracker(const MouseLeaveTracker&) = delete;
    MouseLeaveTracker& operator=(const MouseLeaveTracker&) = delete;
    int Track(HWND window);
    // Without TrackMouseEvent (for tests: as on systems that lack it).
    void UseTimer() { m_trackMouseEvent = nullptr; }

private:
    static void CALLBACK Tick(HWND window, UINT message, UINT_PTR id, DWORD time);
    void Stop();

    LibraryHolder m_user32;
    void* m_trackMouseEvent;
    RECT m_rect;
    HWND m_window;
};

// `mask` adds SEE_MASK_* flags, for example SEE_MASK_FLAG_NO_UI for a caller that tells
// the user itself when the start fails.
int ShellExecuteFile(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory, int show, int elevate,
                     const wchar_t* verb, DWORD mask = 0);
int OpenUrl(const wchar_t* url);
int OpenDocument(const wchar_t* path);

class HyperlinkLabel {
public:
    typedef void (*Callback)(int kind, const wchar_t* text, const wchar_t* url);
    typedef void (*UserCallback)(int kind, const wchar_t* text, const wchar_t* url, void* user, HyperlinkLabel* label);

    HyperlinkLabel();
    ~HyperlinkLabel();
    HyperlinkLabel(const HyperlinkLabel&) = delete;
    HyperlinkLabel& operator=(const HyperlinkLabel&) = delete;

    int Attach(HWND control, const wchar_t* text, const wchar_t* url, int cursorId, DWORD flags);
    // Takes a new text, measures it and repaints the label (as WM_SETTEXT does).
    void SetText(const wchar_t* text);
    void SetCallback(Callback callback) { m_callback = callback; }
    void SetUserCallback(UserCallback callback, void* user)
    {
        m_userCallback = callback;
        m_user = user;
    }

    DWORD Flags() const { return m_flags; }
    COLORREF NormalColour() const { return m_normal; }
    COLORREF HoverColour() const { return m_hover; }
    int Underline() const { return m_underline; }
    const wchar_t* DisplayText() const { return m_display; }
    const wchar_t* Url() const { return m_url; }
    HFONT UnderlinedFont() const { return m_underlined; }
    HFONT PlainFont() const { return m_plain; }
    SIZE TextSize() const { return m_size; }

private:
    static int Hook(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result, void* context);
    void ReadBrowserSettings();
    void StoreText(const wchar_t* text);
    void MakeFonts();
    void DeleteFonts();
    void Measure();
    void Repaint();
    bool PointerOverText();
    void Paint();
    void Activate(int kind);
    void SetLinkCursor();

    SubclassHook m_hook;
    MouseLeaveTracker m_tracker;
    WideString m_display;
    WideString m_text;
    ThemeApi m_theme;
    wchar_t m_url[MAX_PATH];
    HFONT m_underlined;
    HFONT m_plain;
    UINT m_format;
    DWORD m_flags;
    COLORREF m_normal, m_hover, m_disabled;
    WORD m_cursorId;
    Callback m_callback;
    UserCallback m_userCallback;
    void* m_user;
    SIZE m_size;
    int m_underline;
    HWND m_control;
};
