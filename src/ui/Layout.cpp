#include "ui/Layout.h"

namespace {

// Half a change, cut toward zero: a shrink by 3 pixels moves a half-anchored control by 1.
int Half(int change)
{
    return (int)(change * 0.5);
}

}  // namespace

AnchorPlacement PlaceAnchored(DWORD flags, const RECT& control, const RECT& reference, int width, int height)
{
    using namespace AnchorFlags;
    int referenceWidth = reference.right - reference.left;
    int referenceHeight = reference.bottom - reference.top;
    int dx = width - referenceWidth;
    int dy = height - referenceHeight;
    int w0 = control.right - control.left;
    int h0 = control.bottom - control.top;
    AnchorPlacement placement;
    // A parent whose client area was empty at set-up leaves proportional positions alone.
    if (flags & FollowRight)
        placement.x = control.left + dx;
    else if ((flags & ProportionalX) && referenceWidth != 0)
        placement.x = (int)((double)control.left / referenceWidth * width);
    else if (flags & HalfX)
        placement.x = control.left + Half(dx);
    else
        placement.x = control.left;
    if (flags & FollowBottom)
        placement.y = control.top + dy;
    else if ((flags & ProportionalY) && referenceHeight != 0)
        placement.y = (int)((double)control.top / referenceHeight * height);
    else if (flags & HalfY)
        placement.y = control.top + Half(dy);
    else
        placement.y = control.top;
    if (flags & StretchWidth)
        placement.width = w0 + dx;
    else if (flags & HalfWidth)
        placement.width = w0 + Half(dx);
    else
        placement.width = w0;
    if (flags & StretchHeight)
        placement.height = h0 + dy;
    else if (flags & HalfHeight)
        placement.height = h0 + Half(dy);
    else
        placement.height = h0;
    return placement;
}

LayoutAnchor::LayoutAnchor() : m_flags(0), m_control(), m_reference(), m_window(nullptr), m_parent(nullptr) {}

void LayoutAnchor::SetUp(HWND control, DWORD flags, int referenceWidth, int referenceHeight)
{
    m_flags = flags;
    m_window = control;
    m_parent = GetParent(control);
    GetWindowRect(control, &m_control);
    MapWindowPoints(nullptr, m_parent, (POINT*)&m_control, 2);
    GetClientRect(m_parent, &m_reference);
    if (referenceWidth != 0 && referenceHeight != 0) {
        SetRect(&m_reference, 0, 0, referenceWidth, referenceHeight);
        MapDialogRect(m_parent, &m_reference);
    }
}

void LayoutAnchor::Move(WPARAM, LPARAM lParam)
{
    if (!m_window) return;
    AnchorPlacement placement = PlaceAnchored(m_flags, m_control, m_reference, LOWORD(lParam), HIWORD(lParam));
    MoveWindow(m_window, placement.x, placement.y, placement.width, placement.height, TRUE);
    InvalidateRect(m_window, nullptr, TRUE);
}

SizeGrip::SizeGrip() : m_dialog(nullptr), m_grip() {}

void SizeGrip::Attach(HWND dialog)
{
    m_dialog = dialog;
    SetRectEmpty(&m_grip);
    m_theme.Open(dialog, L"status");
}

RECT SizeGrip::Corner(const RECT& rect)
{
    RECT corner = rect;
    corner.left = rect.right - GetSystemMetrics(SM_CXHSCROLL);
    corner.top = rect.bottom - GetSystemMetrics(SM_CYVSCROLL);
    return corner;
}

int SizeGrip::Paint()
{
    if (!m_dialog) return 0;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_dialog, &paint);
    if (dc && !IsZoomed(m_dialog)) {
        RECT client;
        GetClientRect(m_dialog, &client);
        m_grip = Corner(client);
        if (!m_theme.DrawBackground(dc, 3, 0, &m_grip)) DrawFrameControl(dc, &m_grip, DFC_SCROLL, DFCS_SCROLLSIZEGRIP);
    }
    EndPaint(m_dialog, &paint);
    return 1;
}

int SizeGrip::HitTest(WPARAM wParam, LPARAM lParam)
{
    LRESULT answer = DefWindowProcW(m_dialog, WM_NCHITTEST, wParam, lParam);
    if ((answer == HTCLIENT || answer == HTBORDER) && !IsZoomed(m_dialog)) {
        RECT window;
        GetWindowRect(m_dialog, &window);
        RECT corner = Corner(window);
        POINT point = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
        if (PtInRect(&corner, point)) answer = HTBOTTOMRIGHT;
    }
    SetWindowLongPtrW(m_dialog, DWLP_MSGRESULT, answer);
    return 1;
}

void SizeGrip::Invalidate()
{
    if (m_dialog) InvalidateRect(m_dialog, &m_grip, TRUE);
}
