#include <gtest/gtest.h>

#include "harness/Harness.h"
#include "ui/Hyperlink.h"

TEST(Hyperlink, SettingRulesAndHitTest)
{
    COLORREF colour = 0;
    EXPECT_EQ(1, ParseAnchorColour(L"255,0,0", colour));
    EXPECT_EQ(0x0000FFu, colour) << "pure red";
    EXPECT_EQ(1, ParseAnchorColour(L"0,102,204", colour));
    EXPECT_EQ(0xCC6600u, colour);
    EXPECT_EQ(1, ParseAnchorColour(L"257,0,0", colour));
    EXPECT_EQ(1u, colour) << "each part modulo 256";
    colour = 7;
    EXPECT_EQ(0, ParseAnchorColour(L"1,2", colour));
    EXPECT_EQ(7u, colour);
    EXPECT_EQ(0, ParseAnchorColour(nullptr, colour));

    EXPECT_EQ(1, UnderlineMode(L"HOVER", 2));
    EXPECT_EQ(2, UnderlineMode(L"Yes", 0));
    EXPECT_EQ(0, UnderlineMode(L"no", 2));
    EXPECT_EQ(2, UnderlineMode(L"sometimes", 2));

    EXPECT_TRUE(OverText(10, 100, 40, DT_SINGLELINE));
    EXPECT_FALSE(OverText(40, 100, 40, DT_SINGLELINE));
    EXPECT_TRUE(OverText(61, 100, 40, DT_RIGHT));
    EXPECT_FALSE(OverText(60, 100, 40, DT_RIGHT));
    EXPECT_TRUE(OverText(31, 100, 40, DT_CENTER));
    EXPECT_FALSE(OverText(30, 100, 40, DT_CENTER));
    EXPECT_FALSE(OverText(70, 100, 40, DT_CENTER));

    EXPECT_EQ((UINT)(DT_SINGLELINE | DT_VCENTER), LinkTextFormat(SS_CENTERIMAGE, 0));
    EXPECT_EQ((UINT)(DT_SINGLELINE | DT_CENTER | DT_END_ELLIPSIS), LinkTextFormat(SS_CENTER, LinkFlags::EndEllipsis));
    EXPECT_EQ((UINT)(DT_SINGLELINE | DT_RIGHT | DT_PATH_ELLIPSIS), LinkTextFormat(SS_RIGHT, LinkFlags::PathEllipsis));
}

namespace {

int g_commands = 0;

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && LOWORD(wParam) == 77) g_commands++;
    return DefWindowProcW(window, message, wParam, lParam);
}

struct Host {
    HWND parent = nullptr;
    HWND label = nullptr;
    Host(DWORD style = SS_CENTERIMAGE)
    {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = ParentProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"OrvaneLinkHost";
        windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
        RegisterClassW(&windowClass);
        parent = CreateWindowExW(WS_EX_TOPMOST, L"OrvaneLinkHost", L"", WS_POPUP | WS_VISIBLE, 300, 300, 300, 100,
                                 nullptr, nullptr, nullptr, nullptr);
        label = CreateWindowExW(0, L"STATIC", L"Static", WS_CHILD | WS_VISIBLE | style, 10, 10, 200, 24, parent,
                                (HMENU)77, nullptr, nullptr);
    }
    ~Host() { DestroyWindow(parent); }
};

void SetIe(const wchar_t* key, const wchar_t* name, const wchar_t* value)
{
    HKEY handle;
    RegCreateKeyW(HKEY_CURRENT_USER, key, &handle);
    if (value)
        RegSetValueExW(handle, name, 0, REG_SZ, (const BYTE*)value, (DWORD)((wcslen(value) + 1) * 2));
    else
        RegDeleteValueW(handle, name);
    RegCloseKey(handle);
}

void Pump()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

}  // namespace

TEST(Hyperlink, BrowserSettingsTextAndActivation)
{
    const wchar_t* settings = L"Software\\Microsoft\\Internet Explorer\\Settings";
    const wchar_t* main = L"Software\\Microsoft\\Internet Explorer\\Main";
    SetIe(settings, L"Anchor Color", L"255,0,0");
    SetIe(settings, L"Use Anchor Hover Color", L"no");
    SetIe(main, L"Anchor Underline", L"HOVER");
    Host host;
    HyperlinkLabel link;
    ASSERT_EQ(1, link.Attach(host.label, L"example.org", L"http://example.org/", 104,
                             LinkFlags::ControlFont | LinkFlags::CommandToParent));
    SetIe(settings, L"Anchor Color", nullptr);
    SetIe(settings, L"Use Anchor Hover Color", nullptr);
    SetIe(main, L"Anchor Underline", nullptr);
    EXPECT_EQ(0x0000FFu, link.NormalColour());
    EXPECT_EQ(1, link.Underline());
    EXPECT_EQ(0u, link.Flags() & LinkFlags::HoverColour) << "the browser says no hover colour";
    EXPECT_NE(0u, link.Flags() & LinkFlags::NoFocusRect) << "the control has no tab stop";
    EXPECT_NE(nullptr, link.UnderlinedFont());
    EXPECT_GT(link.TextSize().cx, 0);
    EXPECT_NE(0, GetWindowLongPtrW(host.label, GWL_STYLE) & SS_NOTIFY);

    wchar_t text[64];
    EXPECT_EQ(11, GetWindowTextW(host.label, text, 64));
    EXPECT_STREQ(L"example.org", text);
    EXPECT_EQ(0, SendMessageW(host.label, WM_GETTEXT, 1, (LPARAM)text));
    EXPECT_STREQ(L"", text) << "a buffer of one character gets an empty string";
    EXPECT_EQ(0, SendMessageW(host.label, WM_GETTEXT, 0, (LPARAM)text));
    SetWindowTextW(host.label, L"other.example");
    EXPECT_EQ(13, GetWindowTextLengthW(host.label));

    // Keys activate on release; a press of the button alone never does.
    g_commands = 0;
    SendMessageW(host.label, WM_KEYUP, VK_RETURN, 0);
    SendMessageW(host.label, WM_KEYUP, VK_SPACE, 0);
    EXPECT_EQ(2, g_commands);
    RECT rect;
    GetWindowRect(host.label, &rect);
    SetCursorPos(rect.left + 5, rect.top + 12);
    SendMessageW(host.label, WM_MOUSEMOVE, 0, MAKELPARAM(5, 12));
    EXPECT_NE(0u, link.Flags() & LinkFlags::Hovering);
    SendMessageW(host.label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 12));
    EXPECT_EQ(2, g_commands) << "no activation on press";
    SendMessageW(host.label, WM_LBUTTONUP, 0, MAKELPARAM(5, 12));
    EXPECT_EQ(3, g_commands);
    // Released outside: hover ended first, nothing happens.
    SetCursorPos(rect.right + 50, rect.bottom + 50);
    SendMessageW(host.label, WM_MOUSEMOVE, 0, MAKELPARAM(250, 60));
    EXPECT_EQ(0u, link.Flags() & LinkFlags::Hovering);
    SendMessageW(host.label, WM_LBUTTONUP, 0, MAKELPARAM(250, 60));
    EXPECT_EQ(3, g_commands);
    Pump();
}

TEST(Hyperlink, MaskedTextAndPainting)
{
    Host host;
    LOGFONTW verdana = {};
    verdana.lfHeight = -12;
    wcscpy(verdana.lfFaceName, L"Verdana");
    HFONT font = CreateFontIndirectW(&verdana);
    SendMessageW(host.label, WM_SETFONT, (WPARAM)font, FALSE);
    HyperlinkLabel masked;
    ASSERT_EQ(1, masked.Attach(host.label, L"secret", nullptr, 104, LinkFlags::ControlFont | LinkFlags::Masked));
    EXPECT_STREQ(L"\x2022\x2022\x2022\x2022\x2022\x2022", masked.DisplayText()) << "bullets with Verdana";

    Host other;
    HyperlinkLabel stars;
    ASSERT_EQ(1, stars.Attach(other.label, L"abc", nullptr, 104, LinkFlags::Masked));
    EXPECT_STREQ(L"***", stars.DisplayText());
    EXPECT_EQ(1, stars.Attach(other.label, L"abc", nullptr, 104, 0)) << "attaching again keeps the one hook";

    // The link is drawn in its normal colour.
    Host painted;
    HyperlinkLabel link;
    ASSERT_EQ(1, link.Attach(painted.label, L"WWWWWWWW", L"http://example.org/", 104, LinkFlags::ControlFont));
    SetWindowPos(painted.parent, HWND_TOPMOST, 50, 50, 300, 100, SWP_SHOWWINDOW);
    RedrawWindow(painted.label, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    Sleep(200);
    harness::Image screen;
    ASSERT_TRUE(harness::CaptureScreen(screen));
    RECT area;
    GetWindowRect(painted.label, &area);
    COLORREF normal = link.NormalColour();
    unsigned long rgb = (GetRValue(normal) << 16) | (GetGValue(normal) << 8) | GetBValue(normal);
    EXPECT_GT(screen.Count(area, rgb), 20) << "text pixels in the link colour";
    DeleteObject(font);
}

namespace {

std::string WaitForFile(const std::wstring& path)
{
    for (int i = 0; i < 150; i++) {
        std::string bytes = harness::ReadFileBytes(path);
        if (!bytes.empty()) return bytes;
        Sleep(100);
    }
    return std::string();
}

std::string Narrow(const std::string& wide)
{
    std::string text;
    for (size_t i = 0; i + 1 < wide.size(); i += 2) text += wide[i];
    return text;
}

}  // namespace

TEST(Hyperlink, EnterAndSpaceOpenTheAddressInTheBrowser)
{
    std::wstring folder = harness::ScratchDir(L"link-browser");
    std::wstring record = folder + L"opened.txt";
    harness::RecordingBrowser browser(record);
    const wchar_t* settings = L"Software\\Microsoft\\Internet Explorer\\Settings";
    SetIe(settings, L"Anchor Color Hover", L"0,128,0");
    Host host;
    HyperlinkLabel link;
    ASSERT_EQ(1, link.Attach(host.label, L"example", L"http://example.invalid/orvane?x=1", 104, LinkFlags::ControlFont));
    SetIe(settings, L"Anchor Color Hover", nullptr);
    EXPECT_EQ(0x008000u, link.HoverColour());

    SendMessageW(host.label, WM_KEYUP, VK_RETURN, 0);
    std::string opened = Narrow(WaitForFile(record));
    EXPECT_NE(std::string::npos, opened.find("http://example.invalid/orvane?x=1")) << opened;

    DeleteFileW(record.c_str());
    SendMessageW(host.label, WM_KEYUP, VK_SPACE, 0);
    opened = Narrow(WaitForFile(record));
    EXPECT_NE(std::string::npos, opened.find("example.invalid")) << "Space opens it as well";

    DeleteFileW(record.c_str());
    SendMessageW(host.label, WM_KEYDOWN, VK_RETURN, 0);
    Sleep(1500);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(record.c_str())) << "nothing opens on a key press";
}

namespace {

int g_leaves = 0;

LRESULT CALLBACK LeaveProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_MOUSELEAVE) g_leaves++;
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

TEST(Hyperlink, LeaveTrackerTimerWithoutTrackMouseEvent)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = LeaveProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"OrvaneLeaveHost";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(WS_EX_TOPMOST, L"OrvaneLeaveHost", L"", WS_POPUP | WS_VISIBLE, 400, 400, 100, 100,
                                  nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    SetCursorPos(450, 450);
    g_leaves = 0;
    {
        MouseLeaveTracker tracker;
        tracker.UseTimer();
        ASSERT_EQ(1, tracker.Track(window));
        Pump();
        Sleep(250);
        Pump();
        EXPECT_EQ(0, g_leaves) << "still inside";
        SetCursorPos(50, 50);
        for (int i = 0; i < 10 && g_leaves == 0; i++) {
            Sleep(60);
            Pump();
        }
        EXPECT_EQ(1, g_leaves) << "the timer noticed the pointer leave";
        Sleep(250);
        Pump();
        EXPECT_EQ(1, g_leaves) << "and stopped";
    }
    DestroyWindow(window);
}

TEST(Hyperlink, SetTextMeasuresAndRepaintsAndAttachingAgainLeaksNothing)
{
    Host host;
    HyperlinkLabel link;
    ASSERT_EQ(1, link.Attach(host.label, L"ab", L"http://example.org/", 104, LinkFlags::ControlFont));
    SIZE shortSize = link.TextSize();
    SetWindowPos(host.parent, HWND_TOPMOST, 50, 50, 300, 100, SWP_SHOWWINDOW);
    UpdateWindow(host.label);
    link.SetText(L"a much longer text");
    EXPECT_GT(link.TextSize().cx, shortSize.cx) << "SetText measures the new text";
    RECT dirty;
    EXPECT_TRUE(GetUpdateRect(host.label, &dirty, FALSE)) << "and asks for a repaint";

    // A second attach replaces the fonts of the first: these are deleted.
    HFONT plain = link.PlainFont(), underlined = link.UnderlinedFont();
    ASSERT_NE(0, GetObjectType(plain));
    ASSERT_EQ(1, link.Attach(host.label, L"again", nullptr, 104, LinkFlags::ControlFont));
    EXPECT_EQ(0u, GetObjectType(plain)) << "the first plain font is gone";
    EXPECT_EQ(0u, GetObjectType(underlined)) << "the first underlined font is gone";
    EXPECT_NE(0u, GetObjectType(link.PlainFont()));
    EXPECT_STREQ(L"again", link.DisplayText());

    // Attaching to another control moves the hook there.
    Host other;
    ASSERT_EQ(1, link.Attach(other.label, L"moved", nullptr, 104, LinkFlags::ControlFont));
    wchar_t text[16] = L"";
    SendMessageW(other.label, WM_GETTEXT, 16, (LPARAM)text);
    EXPECT_STREQ(L"moved", text);
}
