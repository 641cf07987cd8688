// A plain window of a known class and colour for the harness's own GUI checks. It ends
// with the exit code given as its argument when closed; the argument "crash" makes it
// fault at once, to show that a crash ends a test instead of hanging it.
#include <windows.h>
#include <stdlib.h>

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int)
{
    if (lstrcmpW(commandLine, L"crash") == 0) *(volatile int*)nullptr = 1;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = CreateSolidBrush(RGB(0x12, 0xC4, 0x56));
    windowClass.lpszClassName = L"OrvaneHarnessWindow";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(WS_EX_TOPMOST, L"OrvaneHarnessWindow", L"Harness window", WS_POPUP | WS_VISIBLE,
                                  100, 100, 200, 150, nullptr, nullptr, instance, nullptr);
    if (!window) return 2;
    UpdateWindow(window);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return _wtoi(commandLine);
}
