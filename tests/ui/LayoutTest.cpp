#include <gtest/gtest.h>

#include "ui/Layout.h"

namespace {

std::string Place(DWORD flags, int width, int height)
{
    RECT control = {10, 20, 110, 60};   // 100 x 40
    RECT reference = {0, 0, 400, 300};
    AnchorPlacement p = PlaceAnchored(flags, control, reference, width, height);
    char text[64];
    snprintf(text, sizeof(text), "%d,%d %dx%d", p.x, p.y, p.width, p.height);
    return text;
}

}  // namespace

TEST(LayoutAnchor, EveryRuleAndItsPrecedence)
{
    EXPECT_EQ("10,20 100x40", Place(0, 500, 350)) << "no flag: unchanged";
    EXPECT_EQ("110,70 100x40", Place(0x001 | 0x002, 500, 350));
    EXPECT_EQ("10,20 200x90", Place(0x004 | 0x008, 500, 350));
    EXPECT_EQ("12,23 100x40", Place(0x010 | 0x020, 500, 350)) << "10/400*500 = 12.5, 20/300*350 = 23.3";
    EXPECT_EQ("10,20 150x65", Place(0x040 | 0x100, 500, 350));
    EXPECT_EQ("60,45 100x40", Place(0x080 | 0x200, 500, 350));
    EXPECT_EQ("110,20 100x40", Place(0x001 | 0x010 | 0x080, 500, 300)) << "0x001 wins";
    EXPECT_EQ("12,20 100x40", Place(0x010 | 0x080, 500, 300)) << "0x010 before 0x080";
    EXPECT_EQ("10,20 200x40", Place(0x004 | 0x040, 500, 300)) << "0x004 wins";
    EXPECT_EQ("10,70 100x90", Place(0x002 | 0x008 | 0x200 | 0x100, 400, 350));
    // Shrinking by 3: half rules truncate toward zero (-1.5 becomes -1).
    EXPECT_EQ("9,19 99x39", Place(0x080 | 0x200 | 0x040 | 0x100, 397, 297));
    EXPECT_EQ("7,17 97x37", Place(0x001 | 0x002 | 0x004 | 0x008, 397, 297));
    RECT control = {10, 20, 110, 60};
    RECT empty = {0, 0, 0, 0};
    AnchorPlacement p = PlaceAnchored(0x010 | 0x020, control, empty, 500, 300);
    EXPECT_EQ(10, p.x) << "an empty reference leaves proportional positions alone";
    EXPECT_EQ(20, p.y);
}

TEST(LayoutAnchor, MovesARealControlAndTheGripAnswersHitTests)
{
    HWND parent = CreateWindowExW(0, L"#32770", L"", WS_POPUP | WS_THICKFRAME | WS_VISIBLE, 50, 50, 400, 300, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, parent);
    RECT client;
    GetClientRect(parent, &client);
    HWND button = CreateWindowExW(0, L"BUTTON", L"b", WS_CHILD | WS_VISIBLE, client.right - 60, client.bottom - 30, 50,
                                  20, parent, nullptr, nullptr, nullptr);
    LayoutAnchor anchor;
    anchor.SetUp(button, AnchorFlags::FollowRight | AnchorFlags::FollowBottom);
    anchor.Move(0, MAKELPARAM(client.right + 100, client.bottom + 50));
    RECT moved;
    GetWindowRect(button, &moved);
    MapWindowPoints(nullptr, parent, (POINT*)&moved, 2);
    EXPECT_EQ(client.right + 40, moved.left);
    EXPECT_EQ(client.bottom + 20, moved.top);
    EXPECT_EQ(50, moved.right - moved.left);

    LayoutAnchor never;
    never.Move(0, MAKELPARAM(10, 10));  // no window: nothing happens

    SizeGrip grip;
    EXPECT_EQ(0, grip.Paint()) << "no window yet";
    grip.Attach(parent);
    // Inside the client area, in the grip's corner.
    auto corner = [&]() {
        RECT inner;
        GetClientRect(parent, &inner);
        POINT point = {inner.right - 4, inner.bottom - 4};
        ClientToScreen(parent, &point);
        return MAKELPARAM(point.x, point.y);
    };
    EXPECT_EQ(1, grip.HitTest(0, corner()));
    EXPECT_EQ(HTBOTTOMRIGHT, GetWindowLongPtrW(parent, DWLP_MSGRESULT));
    RECT window;
    GetWindowRect(parent, &window);
    EXPECT_EQ(1, grip.HitTest(0, MAKELPARAM(window.left + 100, window.top + 100)));
    EXPECT_EQ(HTCLIENT, GetWindowLongPtrW(parent, DWLP_MSGRESULT));
    SetWindowLongPtrW(parent, GWL_STYLE, GetWindowLongPtrW(parent, GWL_STYLE) | WS_MAXIMIZE);
    EXPECT_TRUE(IsZoomed(parent));
    grip.HitTest(0, corner());
    EXPECT_EQ(HTCLIENT, GetWindowLongPtrW(parent, DWLP_MSGRESULT)) << "a maximised window has no grip";
    DestroyWindow(parent);
}
