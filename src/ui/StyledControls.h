// Three small controls over existing windows: a self-painted label with its own font and
// colours, a themed separator line, and a link text over the common controls' "SysLink".
#pragma once

#include <windows.h>

#include "common/WideString.h"
#include "platform/KernelObjects.h"
#include "ui/Hyperlink.h"
#include "ui/SubclassHook.h"
#include "ui/Theme.h"

namespace StyledFlags {
const DWORD HoverTracking = 0x00000001;
const DWORD Bold = 0x00000002;
const DWORD Underline = 0x00000004;
const DWORD Italic = 0x00000008;
const DWORD Hovering = 0x00000010;
const DWORD WhiteBackground = 0x00000020;
const DWORD WordWrap = 0x00000040;
const DWORD RefitOnText = 0x00000080;
const DWORD Transparent = 0x00000100;
const DWORD Frame = 0x00000200;
const DWORD EdgeBump = 0x00000400;
const DWORD EdgeEtched = 0x00000800;
const DWORD EdgeRaised = 0x00001000;
const DWORD EdgeSunken = 0x00002000;
const DWORD DoubleFrame = 0x00004000;
const DWORD ControlFont = 0x00008000;
const DWORD IgnoreTransparentStyle = 0x00010000;
const DWORD WholeClient = 0x00020000;
const DWORD EndEllipsis = 0x00040000;
const DWORD Focused = 0x00080000;
const DWORD NoFocus = 0x00100000;
const DWORD Disabled = 0x00200000;
const DWORD SystemCursor = 0x00400000;
const DWORD VerticalCentre = 0x00800000;
const DWORD SendCommand = 0x01000000;
const DWORD Pressed = 0x02000000;
const DWORD FitFromHeight = 0x04000000;
const DWORD KeepTextColour = 0x08000000;
const DWORD FramesAndEdges = Frame | EdgeBump | EdgeEtched | EdgeRaised | EdgeSunken | DoubleFrame;
}  // namespace StyledFlags

// The first family of a list ("," or ";" between) that is installed, else "Verdana".
void ChooseFace(const wchar_t* faceList, WideString& face);

class StyledLabel {
public:
    typedef void (*Callback)(int kind, int zero, UINT_PTR user, StyledLabel* label);

    StyledLabel();
    ~StyledLabel();
    StyledLabel(const StyledLabel&) = delete;
    StyledLabel& operator=(const StyledLabel&) = delete;

    int Attach(HWND control, const wchar_t* faceList, int height, COLORREF normal, COLORREF hover, DWORD flags,
               WORD cursorId, Callback callback, UINT_PTR user);
    void Detach();
    void SetText(const wchar_t* text);

    DWORD Flags() const { return m_flags; }
    const wchar_t* Face() const { return m_face; }
    HFONT Font() const { return m_font; }
    // The height of the font now in use (after fitting).
    int FontHeight() const;
    SIZE TextSize() const { return m_size; }
    UINT Format() const { return m_format; }

private:
    static int HookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result, void* context);
    void BuildFont();
    void Measure();
    void Paint();
    void Repaint(bool throughParent);
    bool PointerOverText();
    void Activate(int kind, bool command);

    SubclassHook m_hook;
    MouseLeaveTracker m_leave;
    CriticalSectionHolder m_lock;
    WideString m_text;
    WideString m_face;
    HFONT m_font;
    COLORREF m_normal;
    COLORREF m_hover;
    COLORREF m_frame;
    COLORREF m_disabled;
    DWORD m_flags;
    UINT m_format;
    int m_height;
    WORD m_cursorId;
    Callback m_callback;
    UINT_PTR m_user;
    SIZE m_size;
    HWND m_control;
};

class DividerLine {
public:
    DividerLine();
    ~DividerLine() { Detach(); }
    DividerLine(const DividerLine&) = delete;
    DividerLine& operator=(const DividerLine&) = delete;

    int Attach(HWND control);
    void Detach();
    bool Horizontal() const { return m_horizontal; }

private:
    static int HookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result, void* context);
    void Paint();

    SubclassHook m_hook;
    ThemeApi m_theme;
    HWND m_control;
    bool m_horizontal;
};

namespace LinkTextFlags {
const DWORD DialogUnits = 0x1;
const DWORD NoTabStop = 0x2;
const DWORD ParentNotWatched = 0x4;
}  // namespace LinkTextFlags

class SysLinkControl {
public:
    typedef void (*Callback)(int index, const wchar_t* id, UINT_PTR user);

    SysLinkControl();
    ~SysLinkControl() { Destroy(); }
    SysLinkControl(const SysLinkControl&) = delete;
    SysLinkControl& operator=(const SysLinkControl&) = delete;

    int Create(HWND parent, int x, int y, int width, int height, const wchar_t* text, DWORD flags, Callback callback,
               UINT_PTR user);
    void Destroy();
    // A WM_NOTIFY of the parent: opens a clicked link's address. 1 when it was this link's.
    int Notify(HWND parent, WPARAM wParam, LPARAM lParam);
    HWND Window() const { return m_window; }

private:
    static int HookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result, void* context);

    DWORD m_flags;
    Callback m_callback;
    UINT_PTR m_user;
    SubclassHook m_hook;
    HWND m_window;
};
