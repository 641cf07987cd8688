// Finds the running program's main window, selects its first sensor and asks for that
// sensor's window the way the keyboard does (Alt+Enter on the tree), then places the new
// window beside the main one. Answers 0 when the window opened.
// `showcase plot` opens the plot of the first sensor's numbers instead, through the tree's
// context menu (Shift+F10, then "Plot").
#include <windows.h>
#include <commctrl.h>

#include <wchar.h>

#include <initializer_list>

namespace {

BOOL CALLBACK FindMain(HWND window, LPARAM parameter)
{
    wchar_t title[64] = L"";
    GetWindowTextW(window, title, 64);
    if (!IsWindowVisible(window) || wcsncmp(title, L"Orvane [", 8) != 0 || !GetDlgItem(window, 1004)) return TRUE;
    *(HWND*)parameter = window;
    return FALSE;
}

struct Search {
    DWORD process;
    HWND found;
};

int g_childId = 1100;  // the properties window's tree, or the plot's chart

BOOL CALLBACK FindProperties(HWND window, LPARAM parameter)
{
    Search* search = (Search*)parameter;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != search->process || !IsWindowVisible(window) || !GetDlgItem(window, g_childId)) return TRUE;
    search->found = window;
    return FALSE;
}

void Key(WORD key, bool down)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    SendInput(1, &input, sizeof(input));
    Sleep(100);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    bool plot = argc > 1 && wcscmp(argv[1], L"plot") == 0;
    if (plot) g_childId = 1110;
    HWND main = nullptr;
    for (int i = 0; i < 200 && !main; i++) {
        EnumWindows(FindMain, (LPARAM)&main);
        if (!main) Sleep(100);
    }
    if (!main) return 1;
    HWND tree = GetDlgItem(main, 1004);
    HTREEITEM root = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    HTREEITEM sensor = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)root);
    if (!sensor) return 2;
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)sensor);
    if (plot) {
        SetForegroundWindow(main);
        SetFocus(tree);
        Sleep(300);
        Key(VK_SHIFT, true);
        Key(VK_F10, true);
        Key(VK_F10, false);
        Key(VK_SHIFT, false);
        Sleep(500);
        for (WORD key : {VK_UP, VK_UP, VK_RETURN}) {
            Key(key, true);
            Key(key, false);
        }
    } else {
        PostMessageW(tree, WM_SYSKEYDOWN, VK_RETURN, 0x20000001);  // Alt held: the context bit
        PostMessageW(tree, WM_SYSKEYUP, VK_RETURN, (LPARAM)0xE0000001);
    }

    Search search = {0, nullptr};
    GetWindowThreadProcessId(main, &search.process);
    for (int i = 0; i < 200 && !search.found; i++) {
        EnumWindows(FindProperties, (LPARAM)&search);
        if (!search.found) Sleep(100);
    }
    if (!search.found) return 3;
    // Both on the screen: the main window to its left edge, its sensor's window beside it,
    // a plot below it.
    RECT beside;
    GetWindowRect(main, &beside);
    SetWindowPos(main, nullptr, 8, 8, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (plot) {
        SetWindowPos(search.found, HWND_TOP, 8, 8 + (beside.bottom - beside.top) + 8, 720, 400, SWP_NOACTIVATE);
        return 0;
    }
    SetWindowPos(search.found, HWND_TOP, 8 + (beside.right - beside.left) + 8, 8, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    return 0;
}
