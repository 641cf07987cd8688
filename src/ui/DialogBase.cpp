#include "ui/DialogBase.h"

#include <commctrl.h>
#include <stdlib.h>

#include <algorithm>
#include <vector>

#include "ui/Theme.h"

WindowBase::WindowBase()
    : m_window(nullptr), m_instance(nullptr), m_smallIcon(nullptr), m_largeIcon(nullptr), m_minWidth(-1),
      m_minHeight(-1)
{
}

WindowBase::~WindowBase()
{
    if (m_smallIcon) DestroyIcon(m_smallIcon);
    if (m_largeIcon) DestroyIcon(m_largeIcon);
}

int WindowBase::LargeIconSize(int metric)
{
    if (metric > 48) return 256;
    if (metric > 32) return 48;
    if (metric > 16) return 32;
    return metric;
}

void WindowBase::SetIcons(int iconId)
{
    if (m_smallIcon) DestroyIcon(m_smallIcon);
    m_smallIcon = nullptr;
    HICON icon = nullptr;
    if (FAILED(m_api.LoadIconMetric(m_instance, MAKEINTRESOURCEW(iconId), LIM_SMALL, &icon)) || !icon)
        icon = (HICON)LoadImageW(m_instance, MAKEINTRESOURCEW(iconId), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                 GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR);
    m_smallIcon = icon;
    SendMessageW(m_window, WM_SETICON, ICON_SMALL, (LPARAM)icon);

    if (m_largeIcon) DestroyIcon(m_largeIcon);
    m_largeIcon = nullptr;
    icon = nullptr;
    if (FAILED(m_api.LoadIconMetric(m_instance, MAKEINTRESOURCEW(iconId), LIM_LARGE, &icon)) || !icon)
        icon = (HICON)LoadImageW(m_instance, MAKEINTRESOURCEW(iconId), IMAGE_ICON,
                                 LargeIconSize(GetSystemMetrics(SM_CXICON)), LargeIconSize(GetSystemMetrics(SM_CYICON)),
                                 LR_DEFAULTCOLOR);
    m_largeIcon = icon;
    SendMessageW(m_window, WM_SETICON, ICON_BIG, (LPARAM)icon);
}

void WindowBase::SetMinTrackSize(int width, int height, int dialogUnits)
{
    if (dialogUnits == 1 && m_window) {
        RECT rect = {0, 0, width, height};
        MapDialogRect(m_window, &rect);
        AdjustWindowRectEx(&rect, (DWORD)GetWindowLongPtrW(m_window, GWL_STYLE), FALSE,
                           (DWORD)GetWindowLongPtrW(m_window, GWL_EXSTYLE));
        width = rect.right - rect.left;
        height = rect.bottom - rect.top;
    }
    m_minWidth = width;
    m_minHeight = height;
}

DialogBase::DialogBase() : m_flags(0) {}

DialogBase::~DialogBase()
{
    RouteMessages(false);
    if (m_window) {
        // By now the object is a plain dialog base, whose CanClose allows.
        DWORD flags = m_flags;
        m_flags &= ~DialogFlags::DeleteOnClose;
        Close(0);
        m_flags = flags;
    }
    m_comctl32.Free();
}

INT_PTR DialogBase::RunModal(HINSTANCE instance, int templateId, DWORD flags, HWND owner)
{
    m_flags = flags;
    m_instance = instance;
    {
        LibraryHolder user32;
        typedef BOOL(WINAPI * DpiFunction)();
        if (user32.Load(L"user32.dll")) {
            DpiFunction setAware = (DpiFunction)user32.Lookup("SetProcessDPIAware");
            if (setAware) setAware();
        }
    }
    typedef BOOL(WINAPI * InitFunction)(const INITCOMMONCONTROLSEX*);
    InitFunction initialise = nullptr;
    if (m_comctl32.Loaded() || m_comctl32.Load(L"comctl32.dll"))
        initialise = (InitFunction)m_comctl32.Lookup("InitCommonControlsEx");
    INITCOMMONCONTROLSEX controls = {8, 0x7FFF};
    if (!initialise || !initialise(&controls)) InitCommonControls();
    void* rewritten = DialogFontFix(instance, templateId, 0, (flags & DialogFlags::ClassicFont) ? 1 : 0);
    if (rewritten) {
        INT_PTR result = DialogBoxIndirectParamW(instance, (LPCDLGTEMPLATEW)rewritten, owner, DialogProcedure,
                                                 (LPARAM)this);
        free(rewritten);
        return result;
    }
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(templateId), owner, DialogProcedure, (LPARAM)this);
}

namespace {

// The dialogs that see their messages first, and the hook that shows them the messages of
// every dialog loop of the thread. One window thread: no lock.
std::vector<DialogBase*> g_routed;
HHOOK g_filter = nullptr;

LRESULT CALLBACK MessageFilter(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == MSGF_DIALOGBOX && lParam) {
        MSG& message = *(MSG*)lParam;
        // A copy: a dialog may end its routing while it handles the message.
        std::vector<DialogBase*> routed = g_routed;
        for (DialogBase* dialog : routed) {
            if (std::find(g_routed.begin(), g_routed.end(), dialog) == g_routed.end()) continue;
            HWND window = dialog->Window();
            if (!window || (message.hwnd != window && !IsChild(window, message.hwnd))) continue;
            if (dialog->PreTranslate(message)) return 1;
        }
    }
    return CallNextHookEx(g_filter, code, wParam, lParam);
}

}  // namespace

void DialogBase::RouteMessages(bool on)
{
    auto at = std::find(g_routed.begin(), g_routed.end(), this);
    if (on && at == g_routed.end()) {
        if (!g_filter) g_filter = SetWindowsHookExW(WH_MSGFILTER, MessageFilter, nullptr, GetCurrentThreadId());
        try {
            g_routed.push_back(this);
        } catch (...) {
        }
    } else if (!on && at != g_routed.end()) {
        g_routed.erase(at);
    }
    if (g_routed.empty() && g_filter) {
        UnhookWindowsHookEx(g_filter);
        g_filter = nullptr;
    }
}

int DialogBase::PreTranslate(MSG& message)
{
    return (m_flags & DialogFlags::Modeless) && m_window && IsDialogMessageW(m_window, &message) ? 1 : 0;
}

HWND DialogBase::CreateModeless(HINSTANCE instance, int templateId, DWORD flags, HWND owner)
{
    m_flags = flags | DialogFlags::Modeless;
    m_instance = instance;
    void* rewritten = DialogFontFix(instance, templateId, 0, (flags & DialogFlags::ClassicFont) ? 1 : 0);
    HWND window = rewritten ? CreateDialogIndirectParamW(instance, (LPCDLGTEMPLATEW)rewritten, owner,
                                                         DialogProcedure, (LPARAM)this)
                            : CreateDialogParamW(instance, MAKEINTRESOURCEW(templateId), owner, DialogProcedure,
                                                 (LPARAM)this);
    free(rewritten);
    if (window) RouteMessages(true);
    return window;
}

void DialogBase::Close(INT_PTR result)
{
    if (!m_window || !CanClose(result)) return;
    RouteMessages(false);
    HWND window = m_window;
    if (m_flags & DialogFlags::Modeless)
        DestroyWindow(window);
    else
        EndDialog(window, result);
    m_window = nullptr;
    if (m_flags & DialogFlags::DeleteOnClose) {
        // A modal dialog's window outlives this call (its WM_DESTROY comes when the dialog's
        // loop ends): it must not find the object any more.
        if (IsWindow(window)) SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        delete this;
    }
}

int DialogBase::OnCommand(int id, WPARAM, LPARAM)
{
    if (id == IDCANCEL || id == IDCLOSE) {
        Close(0);
        return 1;
    }
    return 0;
}

int DialogBase::OnClose()
{
    Close(0);
    return 1;
}

void DialogBase::AdjustWindowPos(WINDOWPOS& position, DWORD& flags, int minWidth, int minHeight)
{
    if ((flags & DialogFlags::StartHidden) && (position.flags & SWP_SHOWWINDOW)) {
        flags &= ~DialogFlags::StartHidden;
        position.flags &= ~SWP_SHOWWINDOW;
    }
    if (position.flags & SWP_NOSIZE) return;
    if (minWidth != -1 && position.cx < minWidth) position.cx = minWidth;
    if (minHeight != -1 && position.cy < minHeight) position.cy = minHeight;
}

INT_PTR DialogBase::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDCLOSE)) {
        Close(0);
        return 1;
    }
    if (message == WM_WINDOWPOSCHANGING && lParam) {
        AdjustWindowPos(*(WINDOWPOS*)lParam, m_flags, m_minWidth, m_minHeight);
        return 1;
    }
    return 0;
}

INT_PTR CALLBACK DialogBase::DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DialogBase* dialog = (DialogBase*)GetWindowLongPtrW(window, GWLP_USERDATA);
    if (message == WM_INITDIALOG) {
        dialog = (DialogBase*)lParam;
        if (!dialog) return FALSE;
        SetWindowLongPtrW(window, GWLP_USERDATA, (LONG_PTR)dialog);
        dialog->m_window = window;
        int result = dialog->OnInitDialog();
        if (result == 0) {
            dialog->Close(-1);
            return FALSE;
        }
        return result == 2 ? FALSE : TRUE;
    }
    if (!dialog) return FALSE;
    switch (message) {
    case WM_DESTROY:
        dialog->RouteMessages(false);
        return dialog->OnDestroy();
    case WM_CLOSE:
        return dialog->OnClose();
    case WM_COMMAND:
        return dialog->OnCommand(LOWORD(wParam), wParam, lParam);
    default:
        return dialog->OnMessage(message, wParam, lParam);
    }
}
