#include "ui/StyledControls.h"

#include <commctrl.h>
#include <string.h>

namespace {

const wchar_t* const DefaultFaces = L"Segoe UI;Verdana;MS Sans Serif";
const int FrameInset = 3;
const int SmallestFont = 4;

}  // namespace

void ChooseFace(const wchar_t* faceList, WideString& face)
{
    WideString list(faceList && faceList[0] ? faceList : DefaultFaces);
    int position = 0;
    WideString family;
    while (list.NextToken(position, L",;", family)) {
        if (!family.IsEmpty() && FontExists(family, DEFAULT_CHARSET)) {
            face = family;
            return;
        }
    }
    face = L"Verdana";
}

// ---------------------------------------------------------------------------------------

StyledLabel::StyledLabel()
    : m_hook(SubclassTag::StyledLabel), m_font(nullptr), m_normal(0xFF0000), m_hover(0xFF80FF), m_frame(0),
      m_disabled(GetSysColor(COLOR_GRAYTEXT)), m_flags(0), m_format(DT_SINGLELINE), m_height(0), m_cursorId(0),
      m_callback(nullptr), m_user(0), m_size(), m_control(nullptr)
{
    m_lock.Initialise();
}

StyledLabel::~StyledLabel()
{
    Detach();
    m_lock.Delete();
}

void StyledLabel::Detach()
{
    m_hook.Detach();
    m_lock.Enter();
    if (m_font) DeleteObject(m_font);
    m_font = nullptr;
    m_lock.Leave();
    m_control = nullptr;
}

int StyledLabel::Attach(HWND control, const wchar_t* faceList, int height, COLORREF normal, COLORREF hover,
                        DWORD flags, WORD cursorId, Callback callback, UINT_PTR user)
{
    Detach();
    if (!control) return 0;
    m_height = height;
    m_normal = normal;
    m_hover = hover;
    m_flags = flags & ~StyledFlags::Hovering;
    m_callback = callback;
    m_control = control;
    m_user = user;
    m_cursorId = cursorId;
    LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
    if (!(style & WS_TABSTOP)) m_flags |= StyledFlags::NoFocus;
    ChooseFace(faceList, m_face);

    int length = GetWindowTextLengthW(control);
    WideString text;
    if (wchar_t* buffer = text.Buffer(length + 1)) {
        GetWindowTextW(control, buffer, length + 1);
        text.SyncLength();
    }
    SetWindowTextW(control, L"");
    m_lock.Enter();
    m_text = text;
    m_lock.Leave();

    if (!(m_flags & StyledFlags::IgnoreTransparentStyle) &&
        (GetWindowLongPtrW(control, GWL_EXSTYLE) & WS_EX_TRANSPARENT))
        m_flags |= StyledFlags::Transparent;
    if (m_flags & StyledFlags::HoverTracking) SetWindowLongPtrW(control, GWL_STYLE, style | SS_NOTIFY);

    m_format = (m_flags & StyledFlags::WordWrap) ? DT_WORDBREAK : DT_SINGLELINE;
    if (m_flags & StyledFlags::EndEllipsis) m_format |= DT_END_ELLIPSIS;
    DWORD kind = (DWORD)(style & SS_TYPEMASK);
    if (kind == SS_CENTER) m_format |= DT_CENTER;
    if (kind == SS_RIGHT) m_format |= DT_RIGHT;
    if ((style & SS_CENTERIMAGE) || (m_flags & StyledFlags::VerticalCentre)) m_format |= DT_VCENTER;
    if (style & SS_NOPREFIX) m_format |= DT_NOPREFIX;

    BuildFont();
    if (!m_hook.Attach(control, HookProc, this)) return 0;
    if (m_flags & StyledFlags::Transparent) Repaint(true);
    return 1;
}

void StyledLabel::BuildFont()
{
    m_lock.Enter();
    if (m_font) DeleteObject(m_font);
    m_font = nullptr;
    if (m_flags & StyledFlags::ControlFont) {
        HFONT own = (HFONT)SendMessageW(m_control, WM_GETFONT, 0, 0);
        if (!own) own = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
        LOGFONTW font;
        if (GetObjectW(own, sizeof(font), &font)) m_font = CreateFontIndirectW(&font);
    } else {
        RECT client = {0, 0, 0, 0};
        GetClientRect(m_control, &client);
        RECT limits = client;
        if (m_flags & StyledFlags::FramesAndEdges) InflateRect(&limits, -FrameInset, -FrameInset);
        bool fitting = m_height == 0 || (m_flags & StyledFlags::FitFromHeight);
        int height = m_height ? m_height : limits.bottom - limits.top;
        HDC dc = GetDC(m_control);
        for (;;) {
            HFONT font = CreateFontW(height, 0, 0, 0, (m_flags & StyledFlags::Bold) ? FW_BOLD : FW_NORMAL,
                                     (m_flags & StyledFlags::Italic) != 0, (m_flags & StyledFlags::Underline) != 0,
                                     FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                     0, m_face);
            if (!fitting || !dc || !font) {
                m_font = font;
                break;
            }
            HGDIOBJ old = SelectObject(dc, font);
            RECT needed = client;
            int drawn = DrawTextW(dc, m_text, m_text.Length(), &needed, DT_CALCRECT | m_format);
            SelectObject(dc, old);
            if (!drawn || (needed.right < limits.right && needed.bottom < limits.bottom) ||
                height - 1 < SmallestFont) {
                m_font = font;
                break;
            }
            height--;
            DeleteObject(font);
        }
        if (dc) ReleaseDC(m_control, dc);
    }
    m_lock.Leave();
    Measure();
}

int StyledLabel::FontHeight() const
{
    LOGFONTW font;
    if (!m_font || !GetObjectW(m_font, sizeof(font), &font)) return 0;
    return font.lfHeight < 0 ? -font.lfHeight : font.lfHeight;
}

void StyledLabel::Measure()
{
    m_lock.Enter();
    m_size.cx = m_size.cy = 0;
    HDC dc = GetDC(m_control);
    if (dc) {
        HGDIOBJ old = m_font ? SelectObject(dc, m_font) : nullptr;
        if (!GetTextExtentPoint32W(dc, m_text, m_text.Length(), &m_size)) m_size.cx = m_size.cy = 0;
        if (old) SelectObject(dc, old);
        ReleaseDC(m_control, dc);
    }
    m_lock.Leave();
}

void StyledLabel::SetText(const wchar_t* text)
{
    m_lock.Enter();
    m_text = text ? text : L"";
    m_lock.Leave();
    if (m_flags & StyledFlags::RefitOnText) {
        if (!(m_flags & StyledFlags::FitFromHeight)) m_height = 0;
        BuildFont();
    } else {
        Measure();
    }
    Repaint((m_flags & StyledFlags::Transparent) != 0);
}

void StyledLabel::Repaint(bool throughParent)
{
    if (!m_control) return;
    if (throughParent) {
        HWND parent = GetParent(m_control);
        RECT rect;
        GetWindowRect(m_control, &rect);
        MapWindowPoints(nullptr, parent, (POINT*)&rect, 2);
        InvalidateRect(parent, &rect, TRUE);
    } else {
        InvalidateRect(m_control, nullptr, TRUE);
    }
}

bool StyledLabel::PointerOverText()
{
    if (m_size.cy == 0) return true;
    POINT cursor;
    if (!GetCursorPos(&cursor) || !ScreenToClient(m_control, &cursor)) return true;
    RECT client;
    GetClientRect(m_control, &client);
    if (!PtInRect(&client, cursor)) return false;
    if (m_flags & StyledFlags::WholeClient) return true;
    return OverText(cursor.x, client.right, m_size.cx, m_format);
}

void StyledLabel::Activate(int kind, bool command)
{
    if (m_callback) m_callback(kind, 0, m_user, this);
    if (command && (m_flags & StyledFlags::SendCommand))
        SendMessageW(GetParent(m_control), WM_COMMAND, (WPARAM)GetDlgCtrlID(m_control), (LPARAM)m_control);
}

void StyledLabel::Paint()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_control, &paint);
    if (!dc) return;
    m_lock.Enter();
    RECT client;
    GetClientRect(m_control, &client);
    HGDIOBJ oldFont = m_font ? SelectObject(dc, m_font) : nullptr;
    SetBkMode(dc, TRANSPARENT);
    if (!(m_flags & StyledFlags::Transparent)) {
        HBRUSH brush = nullptr;
        if (!(m_flags & StyledFlags::WhiteBackground))
            brush = (HBRUSH)SendMessageW(GetParent(m_control), WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)m_control);
        FillRect(dc, &client, brush ? brush : (HBRUSH)GetStockObject(WHITE_BRUSH));
        SetBkMode(dc, TRANSPARENT);
    }
    if (m_flags & StyledFlags::Disabled)
        SetTextColor(dc, m_disabled);
    else if ((m_flags & StyledFlags::HoverTracking) && (m_flags & StyledFlags::Hovering))
        SetTextColor(dc, m_hover);
    else if (!(m_flags & StyledFlags::KeepTextColour))
        SetTextColor(dc, m_normal);
    RECT text = client;
    if (m_flags & StyledFlags::FramesAndEdges) InflateRect(&text, -FrameInset, -FrameInset);
    DrawTextW(dc, m_text, m_text.Length(), &text, m_format);
    if (m_flags & (StyledFlags::Frame | StyledFlags::DoubleFrame)) {
        HBRUSH frame = CreateSolidBrush(m_frame);
        if (m_flags & StyledFlags::Frame) FrameRect(dc, &client, frame);
        if (m_flags & StyledFlags::DoubleFrame) {
            RECT inner = client;
            InflateRect(&inner, -1, -1);
            FrameRect(dc, &inner, frame);
            InflateRect(&inner, -1, -1);
            FrameRect(dc, &inner, frame);
        }
        DeleteObject(frame);
    }
    RECT edge = client;
    if (m_flags & StyledFlags::EdgeBump) DrawEdge(dc, &edge, EDGE_BUMP, BF_RECT);
    if (m_flags & StyledFlags::EdgeEtched) DrawEdge(dc, &edge, EDGE_ETCHED, BF_RECT);
    if (m_flags & StyledFlags::EdgeRaised) DrawEdge(dc, &edge, EDGE_RAISED, BF_RECT);
    if (m_flags & StyledFlags::EdgeSunken) DrawEdge(dc, &edge, EDGE_SUNKEN, BF_RECT);
    if ((m_flags & StyledFlags::Focused) && !(m_flags & StyledFlags::NoFocus)) {
        RECT focus = client;
        if (!(m_flags & StyledFlags::WholeClient) && m_size.cx < client.right) {
            if (m_format & DT_RIGHT)
                focus.left = client.right - m_size.cx;
            else if (m_format & DT_CENTER)
                focus.left = (client.right - m_size.cx) / 2, focus.right = focus.left + m_size.cx;
            else
                focus.right = m_size.cx;
        }
        DrawFocusRect(dc, &focus);
    }
    if (oldFont) SelectObject(dc, oldFont);
    m_lock.Leave();
    EndPaint(m_control, &paint);
}

int StyledLabel::HookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result, void* context)
{
    StyledLabel* label = static_cast<StyledLabel*>(context);
    *result = 0;
    switch (message) {
    case WM_SETFOCUS:
        label->m_flags |= StyledFlags::Focused;
        label->Repaint(false);
        return 1;
    case WM_KILLFOCUS:
        label->m_flags &= ~StyledFlags::Focused;
        label->Repaint((label->m_flags & StyledFlags::Transparent) != 0);
        return 1;
    case WM_ENABLE:
        if (wParam)
            label->m_flags &= ~StyledFlags::Disabled;
        else
            label->m_flags |= StyledFlags::Disabled;
        label->Repaint(false);
        return 1;
    case WM_SETTEXT:
        label->SetText((const wchar_t*)lParam);
        *result = TRUE;
        return 1;
    case WM_GETTEXT: {
        wchar_t* buffer = (wchar_t*)lParam;
        if (!buffer || wParam == 0) return 1;
        label->m_lock.Enter();
        int count = label->m_text.Length();
        if (count > (int)wParam - 1) count = (int)wParam - 1;
        memcpy(buffer, label->m_text.Text(), (size_t)count * sizeof(wchar_t));
        buffer[count] = L'\0';
        label->m_lock.Leave();
        *result = count;
        return 1;
    }
    case WM_GETTEXTLENGTH:
        *result = label->m_text.Length();
        return 1;
    case WM_PAINT:
        label->Paint();
        return 1;
    case WM_CANCELMODE:
        label->m_flags &= ~StyledFlags::Hovering;
        label->Repaint(false);
        return 1;
    case WM_SETCURSOR: {
        HCURSOR cursor = nullptr;
        if ((label->m_flags & StyledFlags::Hovering) && label->m_cursorId)
            cursor = (label->m_flags & StyledFlags::SystemCursor)
                         ? LoadCursorW(nullptr, MAKEINTRESOURCEW(label->m_cursorId))
                         : LoadCursorW((HINSTANCE)GetWindowLongPtrW(window, GWLP_HINSTANCE),
                                       MAKEINTRESOURCEW(label->m_cursorId));
        SetCursor(cursor ? cursor : LoadCursorW(nullptr, IDC_ARROW));
        *result = TRUE;
        return 1;
    }
    case WM_NCHITTEST:
        *result = HTCLIENT;
        return 1;
    case WM_GETDLGCODE: {
        if (label->m_flags & StyledFlags::NoFocus) return 0;
        LRESULT code = DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
        const MSG* queried = (const MSG*)lParam;
        if (queried && queried->message == WM_KEYDOWN && (queried->wParam == VK_RETURN || queried->wParam == VK_SPACE))
            code |= DLGC_WANTMESSAGE;
        *result = code;
        return 1;
    }
    case WM_KEYDOWN:
        if (wParam == VK_RETURN) label->Activate(4, true);
        if (wParam == VK_SPACE) label->Activate(3, true);
        return 1;
    case WM_MOUSEMOVE: {
        if (!(label->m_flags & StyledFlags::HoverTracking)) return 0;
        bool over = label->PointerOverText();
        bool hovering = (label->m_flags & StyledFlags::Hovering) != 0;
        if (over && !hovering) {
            label->m_flags |= StyledFlags::Hovering;
            label->m_leave.Track(window);
            if (wParam & MK_LBUTTON) label->m_flags |= StyledFlags::Pressed;
            label->Repaint(false);
            if (label->m_cursorId) SendMessageW(window, WM_SETCURSOR, (WPARAM)window, HTCLIENT);
        } else if (!over && hovering) {
            label->m_flags &= ~StyledFlags::Hovering;
            label->Repaint(false);
            if (label->m_cursorId) SetCursor(LoadCursorW(nullptr, IDC_ARROW));
        }
        return 1;
    }
    case WM_UPDATEUISTATE:
        return 1;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        label->m_flags |= StyledFlags::Pressed;
        label->Activate(1, false);
        label->Repaint(false);
        return 1;
    case WM_LBUTTONUP:
        label->m_flags &= ~StyledFlags::Pressed;
        if (label->m_flags & StyledFlags::Hovering) label->Activate(2, true);
        label->Repaint(false);
        return 1;
    case WM_MOUSELEAVE:
        if (!(label->m_flags & StyledFlags::HoverTracking)) return 0;
        label->m_flags &= ~(StyledFlags::Hovering | StyledFlags::Pressed);
        label->Repaint(false);
        return 1;
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------------------

DividerLine::DividerLine() : m_hook(SubclassTag::Divider), m_control(nullptr), m_horizontal(true) {}

int DividerLine::Attach(HWND control)
{
    Detach();
    if (!control) return 0;
    m_control = control;
    m_theme.Open(control, L"Toolbar");
    if (!m_hook.Attach(control, HookProc, this)) return 0;
    LONG_PTR extended = GetWindowLongPtrW(control, GWL_EXSTYLE);
    SetWindowLongPtrW(control, GWL_EXSTYLE, (extended | WS_EX_TRANSPARENT) & ~(LONG_PTR)WS_EX_STATICEDGE);
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), (POINT*)&rect, 2);
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    m_horizontal = width > height;
    if (m_horizontal)
        SetWindowPos(control, nullptr, rect.left - 2, rect.top - 1, width + 3, 5, SWP_NOZORDER | SWP_NOACTIVATE);
    else
        SetWindowPos(control, nullptr, rect.left - 1, rect.top - 2, 5, height + 3, SWP_NOZORDER | SWP_NOACTIVATE);
    return 1;
}

void DividerLine::Detach()
{
    m_hook.Detach();
    m_theme.Close();
    m_control = nullptr;
}

void DividerLine::Paint()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_control, &paint);
    if (!dc) return;
    RECT client;
    GetClientRect(m_control, &client);
    int part = m_horizontal ? 6 : 5;
    bool drawn = false;
    if (m_theme.HasTheme()) {
        if (m_theme.IsBackgroundPartiallyTransparent(part, 1)) m_theme.DrawParentBackground(dc, &client);
        drawn = m_theme.DrawBackground(dc, part, 1, &client) != 0;
    }
    if (!drawn) {
        RECT line = client;
        line.top += 2;
        line.left += 1;
        line.bottom -= 1;
        DrawEdge(dc, &line, EDGE_ETCHED, m_horizontal ? BF_TOP : BF_LEFT);
    }
    EndPaint(m_control, &paint);
}

int DividerLine::HookProc(HWND, UINT message, WPARAM, LPARAM, LRESULT* result, void* context)
{
    if (message != WM_PAINT) return 0;
    static_cast<DividerLine*>(context)->Paint();
    *result = 0;
    return 1;
}

// ---------------------------------------------------------------------------------------

SysLinkControl::SysLinkControl()
    : m_flags(0), m_callback(nullptr), m_user(0), m_hook(SubclassTag::SysLink), m_window(nullptr)
{
}

int SysLinkControl::Create(HWND parent, int x, int y, int width, int height, const wchar_t* text, DWORD flags,
                           Callback callback, UINT_PTR user)
{
    Destroy();
    m_flags = flags;
    m_callback = callback;
    m_user = user;
    RECT rect = {x, y, x + width, y + height};
    if (flags & LinkTextFlags::DialogUnits) MapDialogRect(parent, &rect);
    DWORD style = WS_CHILD | WS_VISIBLE | ((flags & LinkTextFlags::NoTabStop) ? 0 : WS_TABSTOP);
    m_window = CreateWindowExW(0, L"SysLink", text ? text : L"", style, rect.left, rect.top, rect.right - rect.left,
                               rect.bottom - rect.top, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!m_window) return 0;
    SendMessageW(m_window, WM_SETFONT, SendMessageW(parent, WM_GETFONT, 0, 0), TRUE);
    if (!(flags & LinkTextFlags::ParentNotWatched)) m_hook.Attach(parent, HookProc, this);
    return 1;
}

void SysLinkControl::Destroy()
{
    m_hook.Detach();
    if (m_window && IsWindow(m_window)) DestroyWindow(m_window);
    m_window = nullptr;
}

int SysLinkControl::Notify(HWND, WPARAM, LPARAM lParam)
{
    const NMHDR* header = (const NMHDR*)lParam;
    if (!header || !m_window || header->hwndFrom != m_window) return 0;
    if (header->code != NM_CLICK && header->code != NM_RETURN) return 0;
    const NMLINK* link = (const NMLINK*)lParam;
    if (link->item.szUrl[0])
        OpenDocument(link->item.szUrl);
    else if (m_callback)
        m_callback(link->item.iLink, link->item.szID, m_user);
    return 1;
}

int SysLinkControl::HookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT*, void* context)
{
    if (message == WM_NOTIFY) static_cast<SysLinkControl*>(context)->Notify(window, wParam, lParam);
    return 0;  // the dialog's own procedure sees every notification too
}
