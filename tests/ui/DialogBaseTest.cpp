#include <gtest/gtest.h>

#include <string>

#include "ui/DialogBase.h"
#include "ui/SubclassHook.h"

TEST(DialogBase, WindowPositionRules)
{
    DWORD flags = 0;
    WINDOWPOS position = {};
    position.cx = 50;
    position.cy = 40;
    DialogBase::AdjustWindowPos(position, flags, 100, 80);
    EXPECT_EQ(100, position.cx);
    EXPECT_EQ(80, position.cy);

    position.cx = 50;
    position.cy = 40;
    position.flags = SWP_NOSIZE;
    DialogBase::AdjustWindowPos(position, flags, 100, 80);
    EXPECT_EQ(50, position.cx) << "never resized with SWP_NOSIZE";

    position.flags = 0;
    DialogBase::AdjustWindowPos(position, flags, -1, 80);
    EXPECT_EQ(50, position.cx) << "-1 leaves the width free";
    EXPECT_EQ(80, position.cy);

    flags = DialogFlags::StartHidden | DialogFlags::Modeless;
    position.flags = SWP_SHOWWINDOW | SWP_NOSIZE;
    DialogBase::AdjustWindowPos(position, flags, -1, -1);
    EXPECT_EQ(0u, position.flags & SWP_SHOWWINDOW) << "the first show request is removed";
    EXPECT_EQ((DWORD)DialogFlags::Modeless, flags);
    position.flags = SWP_SHOWWINDOW;
    DialogBase::AdjustWindowPos(position, flags, -1, -1);
    EXPECT_NE(0u, position.flags & SWP_SHOWWINDOW) << "only the first";
}

TEST(WindowBase, LargeIconSizes)
{
    EXPECT_EQ(256, WindowBase::LargeIconSize(64));
    EXPECT_EQ(48, WindowBase::LargeIconSize(48 - 8));
    EXPECT_EQ(48, WindowBase::LargeIconSize(48));
    EXPECT_EQ(32, WindowBase::LargeIconSize(32));
    EXPECT_EQ(32, WindowBase::LargeIconSize(24));
    EXPECT_EQ(16, WindowBase::LargeIconSize(16));
}

namespace {

int Answer42(HWND, UINT message, WPARAM, LPARAM, LRESULT* result, void* context)
{
    if (message != WM_APP + 1) return 0;
    (*(int*)context)++;
    *result = 42;
    return 1;
}

}  // namespace

TEST(SubclassHook, AttachRoutesAndDetaches)
{
    wchar_t name[MAX_PATH];
    SubclassHook::PropertyName(0x74726D63, name, MAX_PATH);
    EXPECT_STREQ(L"_C_SubClassing_Property_74726D63", name);

    HWND window = CreateWindowExW(0, L"STATIC", L"text", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    int calls = 0;
    SubclassHook hook(SubclassTag::Link);
    EXPECT_EQ(0, hook.Detach()) << "never attached";
    ASSERT_EQ(1, hook.Attach(window, Answer42, &calls));
    SubclassHook second(SubclassTag::Link);
    EXPECT_EQ(0, second.Attach(window, Answer42, &calls)) << "one hook per tag";
    SubclassHook other(SubclassTag::StyledLabel);
    EXPECT_EQ(1, other.Attach(window, Answer42, &calls)) << "another tag may stack";
    EXPECT_EQ(1, other.Detach());
    SubclassHook unknown(0x12345678);
    EXPECT_EQ(0, unknown.Attach(window, Answer42, &calls));

    EXPECT_EQ(42, SendMessageW(window, WM_APP + 1, 0, 0));
    EXPECT_EQ(1, calls);
    wchar_t text[16];
    EXPECT_EQ(4, GetWindowTextW(window, text, 16)) << "the rest goes to the previous procedure";
    EXPECT_STREQ(L"text", text);

    EXPECT_EQ(1, hook.Detach());
    EXPECT_EQ(0, hook.Detach());
    EXPECT_EQ(0, SendMessageW(window, WM_APP + 1, 0, 0));
    EXPECT_EQ(1, calls);
    SubclassHook::PropertyName(SubclassTag::Link, name, MAX_PATH);
    EXPECT_EQ(nullptr, GetPropW(window, name));

    ASSERT_EQ(1, hook.Attach(window, Answer42, &calls));
    EXPECT_NE(nullptr, GetPropW(window, name)) << "the hooked window carries the property";
    EXPECT_EQ(42, SendMessageW(window, WM_APP + 1, 0, 0));
    DestroyWindow(window);
    EXPECT_EQ(1, hook.Detach()) << "a destroyed window's hook still detaches";
}

namespace {

class TestDialog : public DialogBase {
public:
    int initResult = 1;
    int allowClose = 0;
    int refusals = 0;
    int minWidth = 0;
    SIZE afterShrink = {};
    HICON smallIcon = nullptr;
    bool checked = false;

    int OnInitDialog() override
    {
        SetIcons(201);
        smallIcon = SmallIcon();
        SetChecked(300, 1);
        checked = IsChecked(300);
        SetMinTrackSize(100, 50, 1);
        minWidth = MinTrackWidth();
        if (initResult != 0) PostMessageW(m_window, WM_APP, 0, 0);
        return initResult;
    }
    int CanClose(INT_PTR) override
    {
        if (!allowClose) refusals++;
        return allowClose;
    }
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_APP) {
            SetWindowPos(m_window, nullptr, 0, 0, 10, 10, SWP_NOMOVE | SWP_NOZORDER);
            RECT rect;
            GetWindowRect(m_window, &rect);
            afterShrink.cx = rect.right - rect.left;
            afterShrink.cy = rect.bottom - rect.top;
            Close(5);  // refused
            allowClose = 1;
            if (m_window) PostMessageW(m_window, WM_COMMAND, IDCANCEL, 0);
            return 1;
        }
        return DialogBase::OnMessage(message, wParam, lParam);
    }
};

}  // namespace

TEST(DialogBase, ModalRunCloseAndMinimumSize)
{
    TestDialog dialog;
    EXPECT_EQ(0, dialog.RunModal(GetModuleHandleW(nullptr), 200, 0)) << "Escape's IDCANCEL ends with 0";
    EXPECT_EQ(1, dialog.refusals) << "CanClose refused the first Close";
    EXPECT_EQ(nullptr, dialog.Window());
    EXPECT_GT(dialog.minWidth, 100) << "dialog units and the frame make more pixels";
    EXPECT_GE(dialog.afterShrink.cx, dialog.minWidth);
    EXPECT_GE(dialog.afterShrink.cy, dialog.MinTrackHeight());
    EXPECT_NE(nullptr, dialog.smallIcon);
    EXPECT_NE(nullptr, dialog.LargeIcon());
    EXPECT_TRUE(dialog.checked);
    dialog.Close(3);  // no window: nothing happens

    TestDialog failing;
    failing.initResult = 0;
    failing.allowClose = 1;
    EXPECT_EQ(-1, failing.RunModal(GetModuleHandleW(nullptr), 200, 0)) << "a failed initialisation ends with -1";
    EXPECT_EQ(-1, TestDialog().RunModal(GetModuleHandleW(nullptr), 999, 0)) << "no such template";
}
