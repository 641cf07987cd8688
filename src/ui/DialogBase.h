// The window base of the framework's top-level windows, and the modal dialog built on it.
#pragma once

#include <windows.h>

#include "platform/SystemApi.h"

class WindowBase {
public:
    WindowBase();
    virtual ~WindowBase();
    WindowBase(const WindowBase&) = delete;
    WindowBase& operator=(const WindowBase&) = delete;

    HWND Window() const { return m_window; }
    HINSTANCE Instance() const { return m_instance; }

    // Loads both window icons from an icon group and sets them.
    void SetIcons(int iconId);
    int SetText(const wchar_t* text) { return SetWindowTextW(m_window, text) ? 1 : 0; }
    HWND Item(int id) const { return GetDlgItem(m_window, id); }
    int SetChecked(int id, int state) { return CheckDlgButton(m_window, id, state == 1 ? BST_CHECKED : BST_UNCHECKED) ? 1 : 0; }
    bool IsChecked(int id) const { return IsDlgButtonChecked(m_window, id) == 1; }
    // With `dialogUnits` 1 the size is a client size in dialog units, made a window size
    // with the window's styles; otherwise pixels. -1 leaves a dimension free.
    void SetMinTrackSize(int width, int height, int dialogUnits);
    int MinTrackWidth() const { return m_minWidth; }
    int MinTrackHeight() const { return m_minHeight; }
    HICON SmallIcon() const { return m_smallIcon; }
    HICON LargeIcon() const { return m_largeIcon; }

    // The standard size a large icon is loaded at when the system cannot scale it.
    static int LargeIconSize(int metric);

protected:
    HWND m_window;
    HINSTANCE m_instance;
    HICON m_smallIcon;
    HICON m_largeIcon;
    int m_minWidth;
    int m_minHeight;
    SystemApi m_api;
};

namespace DialogFlags {
const DWORD Modeless = 0x1;       // Close destroys the window instead of ending the dialog
const DWORD DeleteOnClose = 0x2;  // the object deletes itself after Close
const DWORD ClassicFont = 0x4;    // passed to the template font rewrite
const DWORD StartHidden = 0x8;    // the first show request is removed
}  // namespace DialogFlags

class DialogBase : public WindowBase {
public:
    DialogBase();
    ~DialogBase() override;

    INT_PTR RunModal(HINSTANCE instance, int templateId, DWORD flags, HWND owner = nullptr);
    // Creates the dialog without a loop of its own (add DialogFlags::Modeless): its keys
    // (Tab, Enter, Escape, accelerators) are routed through PreTranslate from the loop of
    // whichever dialog runs. Answers the window, or null.
    HWND CreateModeless(HINSTANCE instance, int templateId, DWORD flags, HWND owner = nullptr);
    void Close(INT_PTR result);

    // A message of the thread's dialog loop for this window or one of its children, before
    // the loop handles it; 1 when it was handled here. The base lets a modeless dialog's
    // own keyboard interface handle it.
    virtual int PreTranslate(MSG& message);
    // Makes this dialog see its messages through PreTranslate (while its window exists).
    void RouteMessages(bool on);

    // 0 fails the dialog, 1 lets the system set the focus, 2: focus already set.
    virtual int OnInitDialog() { return 1; }
    virtual int CanClose(INT_PTR) { return 1; }
    virtual int OnCommand(int id, WPARAM wParam, LPARAM lParam);
    virtual int OnClose();
    virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    virtual INT_PTR OnDestroy() { return OnMessage(WM_DESTROY, 0, 0); }

    DWORD Flags() const { return m_flags; }
    // The rule of the base OnMessage for a window that is about to move or resize.
    static void AdjustWindowPos(WINDOWPOS& position, DWORD& flags, int minWidth, int minHeight);
    static INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    DWORD m_flags;
    LibraryHolder m_comctl32;
};
