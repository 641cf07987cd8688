// The least a dialog program with a tree view does to start: common controls, one modal
// dialog from a template, the message loop. The start-up benchmark measures the viewer
// against it.
#include <windows.h>
#include <commctrl.h>

namespace {

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_CLOSE || (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL)) {
        EndDialog(window, 0);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    return (int)DialogBoxParamW(instance, MAKEINTRESOURCEW(100), nullptr, DialogProc, 0);
}
