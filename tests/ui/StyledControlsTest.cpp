// The styled label, divider line and link text on real windows of this process.
#include <gtest/gtest.h>

#include <windows.h>

#include "ui/StyledControls.h"

#include "harness/Harness.h"

namespace {

struct Host {
    HWND parent = nullptr;
    Host()
    {
        parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 100, 100, 600, 300, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    }
    ~Host() { DestroyWindow(parent); }
    HWND Static(const wchar_t* text, DWORD style, int x, int y, int cx, int cy)
    {
        return CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE | style, x, y, cx, cy, parent, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    }
};

}  // namespace

TEST(StyledLabel, FittedTitleShrinksUntilItFitsNeverBelowFour)
{
    Host host;
    ASSERT_TRUE(host.parent);
    HWND control = host.Static(L"Orvane has stopped working.", SS_CENTERIMAGE, 10, 10, 555, 23);
    StyledLabel title;
    ASSERT_EQ(1, title.Attach(control, nullptr, 40, 0x753709, 0x753709, 0x04000080, 0, nullptr, 0));
    int height = title.FontHeight();
    EXPECT_LT(height, 40) << "starts at 40 and shrinks";
    EXPECT_GE(height, 4);
    RECT client;
    GetClientRect(control, &client);
    EXPECT_LT(title.TextSize().cx, client.right) << "the text fits the control";
    wchar_t text[64] = {0};
    EXPECT_EQ(27, GetWindowTextW(control, text, 64)) << "the label keeps the text";
    EXPECT_STREQ(L"Orvane has stopped working.", text);
    EXPECT_TRUE(title.Format() & DT_VCENTER);
    EXPECT_TRUE(title.Format() & DT_SINGLELINE);

    // A control too small for any font: the smallest tried is 4.
    HWND tiny = host.Static(L"A long text that cannot fit", 0, 10, 50, 6, 3);
    StyledLabel small;
    ASSERT_EQ(1, small.Attach(tiny, nullptr, 40, 0, 0, 0x04000080, 0, nullptr, 0));
    EXPECT_EQ(4, small.FontHeight());

    // A new text refits.
    SetWindowTextW(control, L"A much longer title than the one before, long enough to need a smaller font");
    EXPECT_LT(title.FontHeight(), height);
    EXPECT_EQ(0u, title.Flags() & StyledFlags::Hovering);
}

TEST(StyledLabel, FacesFocusAndDialogCodes)
{
    WideString face;
    ChooseFace(L"No Such Face One, No Such Face Two;Also Missing", face);
    EXPECT_STREQ(L"Verdana", face.Text()) << "missing families fall back to Verdana";
    ChooseFace(L"No Such Face;Tahoma", face);
    if (FontExists(L"Tahoma")) {
        EXPECT_STREQ(L"Tahoma", face.Text());
    }

    Host host;
    HWND plain = host.Static(L"Caption", 0, 10, 10, 300, 16);
    StyledLabel caption;
    ASSERT_EQ(1, caption.Attach(plain, L"", 0, 0x606060, 0x606060, StyledFlags::ControlFont, 0, nullptr, 0));
    EXPECT_TRUE(caption.Flags() & StyledFlags::NoFocus) << "no tab stop, no focus handling";
    LRESULT code = SendMessageW(plain, WM_GETDLGCODE, 0, 0);
    EXPECT_EQ(0, code & DLGC_BUTTON) << "the label does not answer for a static without a tab stop";
    SendMessageW(plain, WM_SETFOCUS, 0, 0);
    EXPECT_TRUE(caption.Flags() & StyledFlags::Focused);  // kept, but never drawn

    HWND focusable = host.Static(L"Press", WS_TABSTOP, 10, 40, 300, 16);
    int activations = 0;
    StyledLabel button;
    ASSERT_EQ(1, button.Attach(focusable, nullptr, 12, 0, 0, 0, 0,
                               [](int kind, int, UINT_PTR user, StyledLabel*) {
                                   if (kind == 4) (*(int*)user)++;
                               },
                               (UINT_PTR)&activations));
    EXPECT_EQ(0u, button.Flags() & StyledFlags::NoFocus);
    EXPECT_EQ(DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON, SendMessageW(focusable, WM_GETDLGCODE, 0, 0));
    MSG enter = {focusable, WM_KEYDOWN, VK_RETURN, 0, 0, {0, 0}};
    EXPECT_EQ(DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON | DLGC_WANTMESSAGE,
              SendMessageW(focusable, WM_GETDLGCODE, VK_RETURN, (LPARAM)&enter));
    SendMessageW(focusable, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(1, activations) << "Enter activates with kind 4";
    EXPECT_EQ(HTCLIENT, SendMessageW(focusable, WM_NCHITTEST, 0, 0));
}

namespace {

unsigned long Rgb(COLORREF colour)
{
    return ((unsigned long)GetRValue(colour) << 16) | ((unsigned long)GetGValue(colour) << 8) | GetBValue(colour);
}

// Pixels of one screen row inside a window, left to right, once the window has painted.
struct LabelPixels {
    RECT area = {0, 0, 0, 0};
    harness::Image screen;
    bool Capture(HWND control)
    {
        RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        GdiFlush();
        GetWindowRect(control, &area);
        return harness::CaptureScreen(screen);
    }
    // Pixels of the top row that are not white.
    int MarkedInTopRow() const
    {
        int marked = 0;
        for (int x = area.left; x < area.right; x++)
            if (screen.Pixel(x, area.top) != 0xFFFFFF) marked++;
        return marked;
    }
};

}  // namespace

TEST(StyledLabel, TextInItsColourAndAFocusRectangleOnlyWithTheFocusFlag)
{
    Host host;
    ASSERT_TRUE(host.parent);
    SetWindowPos(host.parent, HWND_TOPMOST, 60, 60, 600, 300, SWP_SHOWWINDOW);
    const COLORREF normal = RGB(0xC0, 0x10, 0x20), hover = RGB(0x10, 0xC0, 0x20);
    const DWORD flags = StyledFlags::WhiteBackground | StyledFlags::VerticalCentre | StyledFlags::HoverTracking;

    // A label that takes the focus: text in the normal colour, never the hover colour.
    HWND focusable = host.Static(L"WWWWWWWW", WS_TABSTOP, 10, 10, 400, 40);
    StyledLabel button;
    ASSERT_EQ(1, button.Attach(focusable, nullptr, 18, normal, hover, flags, 0, nullptr, 0));
    LabelPixels pixels;
    ASSERT_TRUE(pixels.Capture(focusable));
    EXPECT_GT(pixels.screen.Count(pixels.area, Rgb(normal)), 40) << "text pixels in the label's colour";
    EXPECT_EQ(0, pixels.screen.Count(pixels.area, Rgb(hover))) << "not hovering";
    EXPECT_EQ(0, pixels.MarkedInTopRow()) << "no focus rectangle without the focus flag";

    SendMessageW(focusable, WM_SETFOCUS, 0, 0);
    ASSERT_TRUE(button.Flags() & StyledFlags::Focused);
    ASSERT_TRUE(pixels.Capture(focusable));
    int dotted = pixels.MarkedInTopRow();
    EXPECT_GT(dotted, 10) << "the focus rectangle's dotted top edge";
    EXPECT_LE(dotted, button.TextSize().cx) << "around the text, not the whole control";

    SendMessageW(focusable, WM_KILLFOCUS, 0, 0);
    ASSERT_TRUE(pixels.Capture(focusable));
    EXPECT_EQ(0, pixels.MarkedInTopRow()) << "gone with the focus";

    // A label without a tab stop keeps the focus flag but never draws it.
    HWND caption = host.Static(L"WWWWWWWW", 0, 10, 60, 400, 40);
    StyledLabel plain;
    ASSERT_EQ(1, plain.Attach(caption, nullptr, 18, normal, hover, flags, 0, nullptr, 0));
    SendMessageW(caption, WM_SETFOCUS, 0, 0);
    ASSERT_TRUE(plain.Flags() & StyledFlags::Focused);
    ASSERT_TRUE(pixels.Capture(caption));
    EXPECT_GT(pixels.screen.Count(pixels.area, Rgb(normal)), 40);
    EXPECT_EQ(0, pixels.MarkedInTopRow());

    // Disabled: the grey text colour instead.
    EnableWindow(caption, FALSE);
    ASSERT_TRUE(pixels.Capture(caption));
    EXPECT_EQ(0, pixels.screen.Count(pixels.area, Rgb(normal)));
    EXPECT_GT(pixels.screen.Count(pixels.area, Rgb(GetSysColor(COLOR_GRAYTEXT))), 40);
}

TEST(DividerLine, AThinStaticBecomesAFivePixelLine)
{
    Host host;
    HWND line = host.Static(L"", 0, 20, 40, 200, 1);
    DividerLine divider;
    ASSERT_EQ(1, divider.Attach(line));
    EXPECT_TRUE(divider.Horizontal());
    RECT rect;
    GetWindowRect(line, &rect);
    MapWindowPoints(nullptr, host.parent, (POINT*)&rect, 2);
    EXPECT_EQ(18, rect.left);
    EXPECT_EQ(39, rect.top);
    EXPECT_EQ(203, rect.right - rect.left);
    EXPECT_EQ(5, rect.bottom - rect.top);
    EXPECT_TRUE(GetWindowLongPtrW(line, GWL_EXSTYLE) & WS_EX_TRANSPARENT);
    // Painted, themed or etched: a line of more than one colour across the control.
    SetWindowPos(host.parent, HWND_TOPMOST, 60, 60, 600, 300, SWP_SHOWWINDOW);
    LabelPixels pixels;
    ASSERT_TRUE(pixels.Capture(line));
    int x = (pixels.area.left + pixels.area.right) / 2;
    unsigned long first = pixels.screen.Pixel(x, pixels.area.top);
    int differing = 0;
    for (int y = pixels.area.top; y < pixels.area.bottom; y++)
        if (pixels.screen.Pixel(x, y) != first) differing++;
    EXPECT_GT(differing, 0) << "a drawn line, not a flat control";

    HWND upright = host.Static(L"", 0, 300, 10, 1, 100);
    DividerLine vertical;
    ASSERT_EQ(1, vertical.Attach(upright));
    EXPECT_FALSE(vertical.Horizontal());
    GetWindowRect(upright, &rect);
    EXPECT_EQ(5, rect.right - rect.left);
    EXPECT_EQ(103, rect.bottom - rect.top);
}

TEST(SysLinkControl, CreatesALinkInTheParentsFont)
{
    Host host;
    SysLinkControl link;
    int created = link.Create(host.parent, 10, 10, 200, 20, L"See <a href=\"http://halvik.example\">the site</a>",
                              LinkTextFlags::ParentNotWatched, nullptr, 0);
    if (!created) GTEST_SKIP() << "no version 6 common controls in this test program";
    ASSERT_TRUE(IsWindow(link.Window()));
    wchar_t name[32] = {0};
    GetClassNameW(link.Window(), name, 32);
    EXPECT_STREQ(L"SysLink", name);
    EXPECT_TRUE(GetWindowLongPtrW(link.Window(), GWL_STYLE) & WS_TABSTOP);
    NMHDR other = {host.parent, 0, NM_CLICK};
    EXPECT_EQ(0, link.Notify(host.parent, 0, (LPARAM)&other)) << "another window's notification is not its";
    link.Destroy();
    EXPECT_EQ(nullptr, link.Window());
}
