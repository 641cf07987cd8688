#include "ui/Hyperlink.h"

#include <shellapi.h>
#include <stdio.h>
#include <wchar.h>

#include "common/RegistryKey.h"
#include "sysinfo/WindowsVersion.h"

namespace {

const wchar_t SettingsKey[] = L"Software\\Microsoft\\Internet Explorer\\Settings";
const wchar_t MainKey[] = L"Software\\Microsoft\\Internet Explorer\\Main";

// A browser setting read as text into 260 bytes; empty when missing.
bool ReadSetting(const wchar_t* key, const wchar_t* name, wchar_t* text)
{
    DWORD characters = 130;
    RegistryKey registry;
    text[0] = L'\0';
    return registry.OpenRead(HKEY_CURRENT_USER, key) && registry.ReadString(name, text, characters);
}

bool ReadNumber(const wchar_t* key, const wchar_t* name, DWORD& value)
{
    return RegistryKey::ReadDwordValue(HKEY_CURRENT_USER, key, name, value, value) != 0;
}

}  // namespace

int ParseAnchorColour(const wchar_t* text, COLORREF& colour)
{
    unsigned red = 0, green = 0, blue = 0;
    if (!text || swscanf(text, L"%u,%u,%u", &red, &green, &blue) != 3) return 0;
    colour = (red % 256) + (green % 256) * 256 + (blue % 256) * 65536;
    return 1;
}

int UnderlineMode(const wchar_t* text, int mode)
{
    if (!text) return mode;
    if (_wcsicmp(text, L"yes") == 0) return 2;
    if (_wcsicmp(text, L"no") == 0) return 0;
    if (_wcsicmp(text, L"hover") == 0) return 1;
    return mode;
}

bool OverText(int x, int clientRight, int textWidth, UINT format)
{
    if (format & DT_RIGHT) return x > clientRight - textWidth;
    if (format & DT_CENTER) {
        int margin = (clientRight - textWidth) / 2;
        return margin < x && x < clientRight - margin;
    }
    return x < textWidth;
}

UINT LinkTextFormat(DWORD style, DWORD flags)
{
    UINT format = DT_SINGLELINE;
    if ((style & SS_TYPEMASK) == SS_CENTER) format |= DT_CENTER;
    if ((style & SS_TYPEMASK) == SS_RIGHT) format |= DT_RIGHT;
    if (style & SS_CENTERIMAGE) format |= DT_VCENTER;
    if (flags & LinkFlags::EndEllipsis) format |= DT_END_ELLIPSIS;
    if (flags & LinkFlags::PathEllipsis) format |= DT_PATH_ELLIPSIS;
    return format;
}

// ---------------------------------------------------------------------------------------

MouseLeaveTracker::MouseLeaveTracker() : m_trackMouseEvent(nullptr), m_rect(), m_window(nullptr)
{
    if (m_user32.Load(L"user32.dll")) m_trackMouseEvent = m_user32.Lookup("TrackMouseEvent");
}

MouseLeaveTracker::~MouseLeaveTracker()
{
    Stop();
}

void MouseLeaveTracker::Stop()
{
    if (m_window) KillTimer(m_window, (UINT_PTR)this);
    m_window = nullptr;
}

int MouseLeaveTracker::Track(HWND window)
{
    if (m_trackMouseEvent) {
        TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, window, HOVER_DEFAULT};
        return ((BOOL(WINAPI*)(TRACKMOUSEEVENT*))m_trackMouseEvent)(&track) ? 1 : 0;
    }
    Stop();
    m_window = window;
    GetWindowRect(window, &m_rect);
    return SetTimer(window, (UINT_PTR)this, 100, Tick) != 0;
}

void CALLBACK MouseLeaveTracker::Tick(HWND window, UINT, UINT_PTR id, DWORD)
{
    MouseLeaveTracker* tracker = (MouseLeaveTracker*)id;
    POINT cursor;
    if (GetCursorPos(&cursor) && PtInRect(&tracker->m_rect, cursor) && WindowFromPoint(cursor) == window) return;
    KillTimer(window, id);
    PostMessageW(window, WM_MOUSELEAVE, 0, 0);
    tracker->m_window = nullptr;
}

int ShellExecuteFile(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory, int show, int elevate,
                     const wchar_t* verb, DWORD mask)
{
    SHELLEXECUTEINFOW info;
    ZeroMemory(&info, sizeof(info));
    info.cbSize = sizeof(info);
    info.fMask = mask;
    info.lpVerb = elevate == 1 ? L"runas" : verb;
    info.lpFile = file;
    info.lpParameters = parameters;
    info.lpDirectory = directory;
    info.nShow = show;
    try {
        return ShellExecuteExW(&info) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int OpenUrl(const wchar_t* url)
{
    WideString parameters;
    if (!url || !parameters.Format(L"url.dll,FileProtocolHandler %s", url)) return 0;
    return ShellExecuteFile(L"rundll32.exe", parameters, nullptr, SW_SHOWDEFAULT, 0, L"open");
}

int OpenDocument(const wchar_t* path)
{
    return ShellExecuteFile(path, nullptr, nullptr, SW_SHOWDEFAULT, 0, L"open");
}

// ---------------------------------------------------------------------------------------

HyperlinkLabel::HyperlinkLabel()
    : m_hook(SubclassTag::Link), m_underlined(nullptr), m_plain(nullptr), m_format(DT_SINGLELINE), m_flags(0),
      m_normal(0xCC6600), m_hover(0xFF), m_disabled(0), m_cursorId(0), m_callback(nullptr), m_userCallback(nullptr),
      m_user(nullptr), m_size(), m_underline(2), m_control(nullptr)
{
    m_url[0] = L'\0';
}

HyperlinkLabel::~HyperlinkLabel()
{
    m_hook.Detach();
    DeleteFonts();
}

void HyperlinkLabel::SetText(const wchar_t* text)
{
    StoreText(text);
    if (!m_control) return;
    Measure();
    Repaint();
}

void HyperlinkLabel::DeleteFonts()
{
    if (m_underlined) DeleteObject(m_underlined);
    if (m_plain) DeleteObject(m_plain);
    m_underlined = m_plain = nullptr;
}

void HyperlinkLabel::StoreText(const wchar_t* text)
{
    m_text.Assign(text);
    if (!(m_flags & LinkFlags::Masked)) {
        m_display.Assign(m_text);
        return;
    }
    wchar_t mask = L'*';
    LOGFONTW font;
    if (m_plain && GetObjectW(m_plain, sizeof(font), &font) && _wcsicmp(font.lfFaceName, L"Verdana") == 0) mask = 0x2022;
    m_display.Clear();
    for (int i = 0; i < m_text.Length(); i++) m_display.Append(mask);
}

void HyperlinkLabel::ReadBrowserSettings()
{
    wchar_t text[130];
    if (ReadSetting(SettingsKey, L"Use Anchor Hover Color", text)) {
        if (_wcsicmp(text, L"yes") == 0)
            m_flags |= LinkFlags::HoverColour;
        else
            m_flags &= ~LinkFlags::HoverColour;
    }
    if (ReadSetting(SettingsKey, L"Anchor Color", text)) ParseAnchorColour(text, m_normal);
    if (ReadSetting(SettingsKey, L"Anchor Color Hover", text)) ParseAnchorColour(text, m_hover);
    m_underline = 2;
    if (ReadSetting(MainKey, L"Anchor Underline", text)) m_underline = UnderlineMode(text, 2);
    if (ReadSetting(MainKey, L"Use_DlgBox_Colors", text) && _wcsicmp(text, L"yes") == 0) {
        m_normal = IsWindowsAtLeast(0x2000, 0) ? GetSysColor(COLOR_HOTLIGHT) : 0xCC6600;
        m_hover = GetSysColor(COLOR_HIGHLIGHT);
    }
}

void HyperlinkLabel::MakeFonts()
{
    DeleteFonts();
    if (m_flags & LinkFlags::ControlFont) {
        HFONT font = (HFONT)SendMessageW(m_control, WM_GETFONT, 0, 0);
        if (!font) font = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
        LOGFONTW logical;
        if (!GetObjectW(font, sizeof(logical), &logical)) return;
        m_plain = CreateFontIndirectW(&logical);
        logical.lfUnderline = 1;
        m_underlined = CreateFontIndirectW(&logical);
        return;
    }
    WideString face;
    if (m_flags & LinkFlags::BrowserFace) {
        const wchar_t* international = L"Software\\Microsoft\\Internet Explorer\\International";
        DWORD number = 0;
        wchar_t key[MAX_PATH], name[130];
        if (ReadNumber(international, L"Default_CodePage", number)) {
            swprintf(key, MAX_PATH, L"%ls\\%u", international, (unsigned)number);
            if (ReadSetting(key, L"IEPropFontName", name) && name[0]) face.Assign(name);
        }
        if (face.IsEmpty()) {
            number = 3;
            ReadNumber(L"Software\\Microsoft\\Internet Explorer\\International\\Scripts", L"Default_Script", number);
            swprintf(key, MAX_PATH, L"%ls\\Scripts\\%u", international, (unsigned)number);
            if (ReadSetting(key, L"IEPropFontName", name) && name[0]) face.Assign(name);
        }
        if (face.IsEmpty() && ReadSetting(L"Software\\Microsoft\\Internet Explorer\\Styles", L"IEPropFontName", name) &&
            name[0])
            face.Assign(name);
    }
    if (face.IsEmpty())
        face.Assign(FontExists(L"Segoe UI") ? L"Segoe UI" : FontExists(L"Verdana") ? L"Verdana" : L"Arial");
    HDC dc = GetDC(m_control);
    if (!dc) return;
    int saved = SaveDC(dc);
    TEXTMETRICW metrics;
    ZeroMemory(&metrics, sizeof(metrics));
    GetTextMetricsW(dc, &metrics);
    RECT client;
    GetClientRect(m_control, &client);
    int height = (m_flags & LinkFlags::ClientHeightFont) ? client.bottom : metrics.tmHeight;
    for (;;) {
        m_underlined = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, TRUE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                   CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, metrics.tmPitchAndFamily, face);
        SelectObject(dc, m_underlined);
        SIZE size;
        if (!GetTextExtentPoint32W(dc, m_display, m_display.Length(), &size)) break;
        if (size.cx <= client.right && size.cy < client.bottom) break;
        if (height - 1 <= 3) break;
        height--;
        SelectObject(dc, GetStockObject(SYSTEM_FONT));
        DeleteObject(m_underlined);
        m_underlined = nullptr;
    }
    m_plain = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, metrics.tmPitchAndFamily, face);
    RestoreDC(dc, saved);
    ReleaseDC(m_control, dc);
}

void HyperlinkLabel::Measure()
{
    m_size.cx = m_size.cy = 0;
    HDC dc = GetDC(m_control);
    if (!dc) return;
    HGDIOBJ old = SelectObject(dc, m_underlined);
    SIZE size;
    if (GetTextExtentPoint32W(dc, m_display, m_display.Length(), &size)) m_size = size;
    SelectObject(dc, old);
    ReleaseDC(m_control, dc);
}

int HyperlinkLabel::Attach(HWND control, const wchar_t* text, const wchar_t* url, int cursorId, DWORD flags)
{
    if (!control) return 0;
    // Attaching again (to this control or another) starts from scratch.
    m_hook.Detach();
    m_callback = nullptr;
    m_userCallback = nullptr;
    m_control = control;
    m_flags = flags | LinkFlags::HoverColour;
    m_theme.Open(control, L"TOOLBAR");
    DWORD style = (DWORD)GetWindowLongPtrW(control, GWL_STYLE);
    if (!(style & WS_TABSTOP)) m_flags |= LinkFlags::NoFocusRect;
    StoreText(text);
    // A longer address would be cut to a different one: such a link opens nothing.
    if (url && wcslen(url) < MAX_PATH)
        wcscpy(m_url, url);
    else
        m_url[0] = L'\0';
    m_cursorId = (WORD)cursorId;
    SetWindowLongPtrW(control, GWL_STYLE, style | SS_NOTIFY);
    SetWindowTextW(control, L"");
    if (!(m_flags & LinkFlags::IgnoreTransparent) && (GetWindowLongPtrW(control, GWL_EXSTYLE) & WS_EX_TRANSPARENT))
        m_flags |= LinkFlags::Transparent;
    m_normal = 0xCC6600;
    m_disabled = GetSysColor(COLOR_GRAYTEXT);
    m_hover = GetSysColorBrush(COLOR_HOTLIGHT) ? GetSysColor(COLOR_HOTLIGHT) : 0x0000FF;
    ReadBrowserSettings();
    MakeFonts();
    m_format = LinkTextFormat(style, m_flags);
    StoreText(text);
    wchar_t name[MAX_PATH];
    SubclassHook::PropertyName(SubclassTag::Link, name, MAX_PATH);
    if (!GetPropW(control, name)) m_hook.Attach(control, Hook, this);
    Measure();
    Repaint();
    return m_hook.Attached() ? 1 : 0;
}

void HyperlinkLabel::Repaint()
{
    if (m_flags & LinkFlags::Transparent) {
        RECT rect;
        HWND parent = GetParent(m_control);
        GetWindowRect(m_control, &rect);
        MapWindowPoints(nullptr, parent, (POINT*)&rect, 2);
        InvalidateRect(parent, &rect, FALSE);
    } else {
        InvalidateRect(m_control, nullptr, FALSE);
    }
}

bool HyperlinkLabel::PointerOverText()
{
    if (m_size.cy == 0) return true;
    POINT cursor;
    if (!GetCursorPos(&cursor) || !ScreenToClient(m_control, &cursor)) return true;
    RECT client;
    GetClientRect(m_control, &client);
    if (!PtInRect(&client, cursor)) return false;
    return OverText(cursor.x, client.right, m_size.cx, m_format);
}

void HyperlinkLabel::SetLinkCursor()
{
    HCURSOR cursor = LoadCursorW((HINSTANCE)GetWindowLongPtrW(m_control, GWLP_HINSTANCE), MAKEINTRESOURCEW(m_cursorId));
    if (!cursor) cursor = LoadCursorW(nullptr, IDC_HAND);
    SetCursor(cursor);
}

void HyperlinkLabel::Paint()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_control, &paint);
    if (!dc) return;
    int saved = SaveDC(dc);
    RECT client;
    GetClientRect(m_control, &client);
    bool underlined = m_underline == 2 || (m_underline == 1 && (m_flags & LinkFlags::Hovering));
    SelectObject(dc, underlined ? m_underlined : m_plain);
    SetBkMode(dc, TRANSPARENT);
    if (!(m_flags & LinkFlags::Transparent)) {
        HBRUSH brush = (HBRUSH)SendMessageW(GetParent(m_control), WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)m_control);
        if (!brush) brush = (HBRUSH)GetStockObject(WHITE_BRUSH);
        FillRect(dc, &client, brush);
        SetBkMode(dc, TRANSPARENT);
    }
    if ((m_flags & LinkFlags::ThemedParent) && m_theme.IsBackgroundPartiallyTransparent(1, 1))
        m_theme.DrawParentBackground(dc, &client);
    COLORREF colour = (m_flags & LinkFlags::Disabled) ? m_disabled
                      : ((m_flags & LinkFlags::Hovering) && (m_flags & LinkFlags::HoverColour)) ? m_hover
                                                                                                  : m_normal;
    SetTextColor(dc, colour);
    DrawTextW(dc, m_display, m_display.Length(), &client, m_format);
    if (!(m_flags & LinkFlags::Disabled) && (m_flags & LinkFlags::Focused) && !(m_flags & LinkFlags::NoFocusRect)) {
        RECT focus;
        focus.top = (m_format & DT_VCENTER) ? (client.bottom - m_size.cy) / 2 : 0;
        focus.left = (m_format & DT_CENTER) ? (client.right - m_size.cx) / 2
                     : (m_format & DT_RIGHT) ? client.right - m_size.cx
                                             : 0;
        focus.right = focus.left + m_size.cx;
        focus.bottom = focus.top + m_size.cy;
        DrawFocusRect(dc, &focus);
    }
    RestoreDC(dc, saved);
    EndPaint(m_control, &paint);
}

void HyperlinkLabel::Activate(int kind)
{
    if (m_callback) {
        m_callback(kind, m_text, m_url);
        return;
    }
    if (m_userCallback) {
        m_userCallback(kind, m_text, m_url, m_user, this);
        return;
    }
    if ((m_flags & LinkFlags::CommandToParent) && kind != 1) {
        SendMessageW(GetParent(m_control), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(m_control), 0), (LPARAM)m_control);
        return;
    }
    if (m_url[0] && kind != 1) OpenUrl(m_url);
}

int HyperlinkLabel::Hook(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result, void* context)
{
    HyperlinkLabel* link = (HyperlinkLabel*)context;
    *result = 0;
    switch (message) {
    case WM_SETFOCUS:
        link->m_flags |= LinkFlags::Focused;
        link->Repaint();
        return 1;
    case WM_KILLFOCUS:
        link->m_flags &= ~LinkFlags::Focused;
        link->Repaint();
        return 1;
    case WM_ENABLE:
        if (wParam) {
            link->m_flags &= ~LinkFlags::Disabled;
            if (!(link->m_flags & LinkFlags::Hovering) && link->PointerOverText()) {
                link->m_flags |= LinkFlags::Hovering;
                link->SetLinkCursor();
            }
        } else {
            link->m_flags |= LinkFlags::Disabled;
        }
        link->Repaint();
        return 1;
    case WM_SETTEXT:
        link->SetText((const wchar_t*)lParam);
        *result = TRUE;
        return 1;
    case WM_GETTEXT: {
        wchar_t* buffer = (wchar_t*)lParam;
        if (!buffer || wParam == 0) return 1;
        int count = link->m_text.Length();
        if (count > (int)wParam - 1) count = (int)wParam - 1;
        memcpy(buffer, link->m_text.Text(), (size_t)count * sizeof(wchar_t));
        buffer[count] = L'\0';
        *result = count;
        return 1;
    }
    case WM_GETTEXTLENGTH:
        *result = link->m_text.Length();
        return 1;
    case WM_PAINT:
        link->Paint();
        return 1;
    case WM_CANCELMODE:
    case WM_MOUSELEAVE:
        link->m_flags &= ~LinkFlags::Hovering;
        link->Repaint();
        return 1;
    case WM_SETCURSOR:
        if (link->m_flags & LinkFlags::Hovering)
            link->SetLinkCursor();
        else
            SetCursor(LoadCursorW(nullptr, IDC_ARROW));
        *result = TRUE;
        return 1;
    case WM_KEYUP:
        if (wParam == VK_RETURN) link->Activate(2);
        if (wParam == VK_SPACE) link->Activate(3);
        return 1;
    case WM_MOUSEMOVE: {
        bool over = link->PointerOverText();
        if (!(link->m_flags & LinkFlags::Hovering) && over) {
            link->m_flags |= LinkFlags::Hovering;
            link->m_tracker.Track(link->m_control);
            link->Repaint();
            link->SetLinkCursor();
        } else if ((link->m_flags & LinkFlags::Hovering) && !over) {
            link->m_flags &= ~LinkFlags::Hovering;
            link->Repaint();
            SetCursor(LoadCursorW(nullptr, IDC_ARROW));
        }
        return 1;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        if (link->m_flags & LinkFlags::Hovering) link->Activate(1);
        return 1;
    case WM_LBUTTONUP:
        if (link->m_flags & LinkFlags::Hovering) link->Activate(4);
        return 1;
    default:
        (void)lParam;
        return 0;
    }
}
