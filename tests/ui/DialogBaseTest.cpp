#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    SIZE expectedMinimum = {};  // 100 x 50 dialog units of this dialog, plus its frame
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
        RECT units = {0, 0, 100, 50};
        MapDialogRect(m_window, &units);
        AdjustWindowRectEx(&units, (DWORD)GetWindowLongPtrW(m_window, GWL_STYLE), FALSE,
                           (DWORD)GetWindowLongPtrW(m_window, GWL_EXSTYLE));
        expectedMinimum.cx = units.right - units.left;
        expectedMinimum.cy = units.bottom - units.top;
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
    EXPECT_GT(dialog.expectedMinimum.cx, 100) << "dialog units and the frame make more pixels";
    EXPECT_EQ(dialog.expectedMinimum.cx, dialog.minWidth);
    EXPECT_EQ(dialog.expectedMinimum.cy, dialog.MinTrackHeight());
    EXPECT_EQ(dialog.expectedMinimum.cx, dialog.afterShrink.cx) << "a shrink stops at the minimum";
    EXPECT_EQ(dialog.expectedMinimum.cy, dialog.afterShrink.cy);
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

namespace {

// Each stacked hook answers its own message and counts every message it sees.
struct StackedHook {
    UINT message;
    int seen = 0;
};

int AnswerOwnMessage(HWND, UINT message, WPARAM, LPARAM, LRESULT* result, void* context)
{
    StackedHook* hook = (StackedHook*)context;
    hook->seen++;
    if (message != hook->message) return 0;
    *result = (LRESULT)hook->message;
    return 1;
}

}  // namespace

TEST(SubclassHook, StackedHooksDetachInAnyOrder)
{
    const DWORD tags[3] = {SubclassTag::Link, SubclassTag::StyledLabel, SubclassTag::Divider};
    // Every order of detaching two and three stacked hooks.
    std::vector<std::vector<int>> orders = {{0, 1}, {1, 0}, {0, 1, 2}, {0, 2, 1}, {1, 0, 2},
                                            {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    for (const std::vector<int>& order : orders) {
        HWND window =
            CreateWindowExW(0, L"STATIC", L"text", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, window);
        size_t count = order.size();
        SubclassHook* hooks[3] = {};
        StackedHook state[3];
        for (size_t i = 0; i < count; i++) {
            hooks[i] = new SubclassHook(tags[i]);
            state[i].message = WM_APP + 10 + (UINT)i;
            ASSERT_EQ(1, hooks[i]->Attach(window, AnswerOwnMessage, &state[i]));
        }
        std::vector<bool> attached(count, true);
        std::string what;
        for (int index : order) {
            what += std::to_string(index);
            ASSERT_EQ(1, hooks[index]->Detach());
            attached[(size_t)index] = false;
            // Deleting the detached hook proves nothing of it is used any more.
            delete hooks[index];
            hooks[index] = nullptr;
            for (size_t i = 0; i < count; i++) {
                LRESULT answer = SendMessageW(window, state[i].message, 0, 0);
                EXPECT_EQ(attached[i] ? (LRESULT)state[i].message : 0, answer) << "order " << what << " hook " << i;
            }
            wchar_t text[16] = L"";
            EXPECT_EQ(4, GetWindowTextW(window, text, 16)) << "the window itself still works, order " << what;
        }
        EXPECT_EQ((LONG_PTR)GetClassLongPtrW(window, GCLP_WNDPROC), GetWindowLongPtrW(window, GWLP_WNDPROC))
            << "the window's own procedure is back, order " << what;
        // Attaching again after all were detached works as on a fresh window.
        SubclassHook again(tags[0]);
        StackedHook againState;
        againState.message = WM_APP + 20;
        ASSERT_EQ(1, again.Attach(window, AnswerOwnMessage, &againState));
        EXPECT_EQ((LRESULT)(WM_APP + 20), SendMessageW(window, WM_APP + 20, 0, 0));
        EXPECT_EQ(1, again.Detach());
        DestroyWindow(window);
    }
}

TEST(SubclassHook, ForeignSubclassAboveKeepsTheChain)
{
    HWND window = CreateWindowExW(0, L"STATIC", L"text", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    StackedHook state;
    state.message = WM_APP + 30;
    SubclassHook hook(SubclassTag::Link);
    ASSERT_EQ(1, hook.Attach(window, AnswerOwnMessage, &state));
    // Another party subclasses above ours, then ours goes first.
    struct Foreign {
        static WNDPROC& Below()
        {
            static WNDPROC below = nullptr;
            return below;
        }
        static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp)
        {
            if (m == WM_APP + 31) return 31;
            return CallWindowProcW(Below(), w, m, wp, lp);
        }
    };
    Foreign::Below() = (WNDPROC)SetWindowLongPtrW(window, GWLP_WNDPROC, (LONG_PTR)Foreign::Proc);
    EXPECT_EQ((LRESULT)(WM_APP + 30), SendMessageW(window, WM_APP + 30, 0, 0));
    EXPECT_EQ(1, hook.Detach());
    EXPECT_EQ(0, SendMessageW(window, WM_APP + 30, 0, 0)) << "our hook no longer answers";
    EXPECT_EQ(31, SendMessageW(window, WM_APP + 31, 0, 0)) << "the foreign one still does";
    wchar_t text[16] = L"";
    EXPECT_EQ(4, GetWindowTextW(window, text, 16)) << "and the window's own procedure is reached through ours";
    SubclassHook again(SubclassTag::Link);
    EXPECT_EQ(0, again.Attach(window, AnswerOwnMessage, &state)) << "refused while the pass-through remains";
    DestroyWindow(window);
    EXPECT_EQ(1, again.Attach(CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                                              nullptr),
                              AnswerOwnMessage, &state))
        << "a new window is free";
    DestroyWindow(again.Window());
    again.Detach();
}

TEST(SubclassHook, HookWorksWhenItsPropertyIsRemoved)
{
    HWND window = CreateWindowExW(0, L"STATIC", L"text", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    StackedHook state;
    state.message = WM_APP + 40;
    SubclassHook hook(SubclassTag::Link);
    ASSERT_EQ(1, hook.Attach(window, AnswerOwnMessage, &state));
    wchar_t name[MAX_PATH];
    SubclassHook::PropertyName(SubclassTag::Link, name, MAX_PATH);
    RemovePropW(window, name);  // a foreign party
    EXPECT_EQ((LRESULT)(WM_APP + 40), SendMessageW(window, WM_APP + 40, 0, 0)) << "found without the property";
    EXPECT_EQ(1, hook.Detach());
    EXPECT_EQ(0, SendMessageW(window, WM_APP + 40, 0, 0));
    DestroyWindow(window);
}

namespace {

struct Lifetime {
    int destroyed = 0;
    LONG_PTR linkAfterClose = -1;  // the window's pointer to its object once Close returned
    int messagesAfterDeath = 0;
    int destroyMessages = 0;
};
Lifetime g_lifetime;

// Deletes itself on Close; counts what reaches it after its destructor ran.
class SelfDeletingDialog : public DialogBase {
public:
    ~SelfDeletingDialog() override { g_lifetime.destroyed++; }
    int OnInitDialog() override
    {
        PostMessageW(m_window, WM_APP, 0, 0);
        return 1;
    }
    INT_PTR OnDestroy() override
    {
        if (g_lifetime.destroyed) g_lifetime.messagesAfterDeath++;
        g_lifetime.destroyMessages++;
        return 0;
    }
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (g_lifetime.destroyed) g_lifetime.messagesAfterDeath++;
        if (message == WM_APP) {
            HWND window = m_window;
            Close(0);  // deletes this object: only locals from here on
            g_lifetime.linkAfterClose = GetWindowLongPtrW(window, GWLP_USERDATA);
            return 1;
        }
        return DialogBase::OnMessage(message, wParam, lParam);
    }
};

}  // namespace

TEST(DialogBase, SelfDeletingModalDialogIsNotReachedAfterClose)
{
    g_lifetime = Lifetime();
    SelfDeletingDialog* dialog = new SelfDeletingDialog;
    EXPECT_EQ(0, dialog->RunModal(GetModuleHandleW(nullptr), 200, DialogFlags::DeleteOnClose));
    EXPECT_EQ(1, g_lifetime.destroyed) << "Close deleted the object";
    EXPECT_EQ(0, g_lifetime.linkAfterClose) << "the still open window no longer points at it";
    EXPECT_EQ(0, g_lifetime.messagesAfterDeath) << "no message of the closing window reached the deleted object";
    EXPECT_EQ(0, g_lifetime.destroyMessages);
}
