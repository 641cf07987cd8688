// Layout anchors that keep child controls in place while a dialog is resized, and the
// size grip in the dialog's lower right corner.
#pragma once

#include <windows.h>

#include "ui/Theme.h"

namespace AnchorFlags {
const DWORD FollowRight = 0x001;
const DWORD FollowBottom = 0x002;
const DWORD StretchWidth = 0x004;
const DWORD StretchHeight = 0x008;
const DWORD ProportionalX = 0x010;
const DWORD ProportionalY = 0x020;
const DWORD HalfWidth = 0x040;
const DWORD HalfX = 0x080;
const DWORD HalfHeight = 0x100;
const DWORD HalfY = 0x200;
}  // namespace AnchorFlags

struct AnchorPlacement {
    int x, y, width, height;
};

// Where a control goes for a new client size, from its rectangle and the client rectangle
// at set-up.
AnchorPlacement PlaceAnchored(DWORD flags, const RECT& control, const RECT& reference, int width, int height);

class LayoutAnchor {
public:
    LayoutAnchor();
    // Reference width and height in dialog units; 0 takes the parent's present client area.
    void SetUp(HWND control, DWORD flags, int referenceWidth = 0, int referenceHeight = 0);
    // From WM_SIZE: the new client width and height are the low and high words of lParam.
    void Move(WPARAM wParam, LPARAM lParam);

private:
    DWORD m_flags;
    RECT m_control;
    RECT m_reference;
    HWND m_window;
    HWND m_parent;
};

class SizeGrip {
public:
    SizeGrip();
    void Attach(HWND dialog);
    // WM_PAINT: 1 when it painted (the dialog then paints nothing more).
    int Paint();
    // WM_NCHITTEST: turns the grip corner into the bottom-right sizing border; always 1,
    // the answer is stored as the dialog's message result.
    int HitTest(WPARAM wParam, LPARAM lParam);
    void Invalidate();
    const RECT& GripRect() const { return m_grip; }

    // The grip corner of a rectangle.
    static RECT Corner(const RECT& rect);

private:
    HWND m_dialog;
    RECT m_grip;
    ThemeApi m_theme;
};
