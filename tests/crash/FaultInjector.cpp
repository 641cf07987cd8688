// Loaded into the running program by a test: takes over its main window's procedure and,
// on the main thread, causes the fault that ORVANE_FAULT names.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

namespace {

const UINT FaultMessage = WM_APP + 0x77;
const UINT SecondFaultMessage = WM_APP + 0x78;
WNDPROC g_previous = nullptr;
char g_kind[32];

// Through a pointer the compiler cannot see through.
int* volatile g_address = nullptr;

__attribute__((noinline)) void Read(ULONG_PTR address)
{
    g_address = (int*)address;
    volatile int value = *g_address;
    (void)value;
}

__attribute__((noinline)) void Write(ULONG_PTR address)
{
    g_address = (int*)address;
    *g_address = 1;
}

#pragma GCC diagnostic ignored "-Winfinite-recursion"
__attribute__((noinline)) int Recurse(int depth)
{
    volatile char block[4096];
    block[0] = (char)depth;
    return Recurse(depth + 1) + block[0];
}


__attribute__((noinline)) void FaultNow(HWND window)
{
    // Fatal errors of the runtime libraries, which this library shares with the program
    // (the system's C runtime) or has a copy of its own (the C++ runtime, whose terminate
    // ends in the shared abort).
    if (!strcmp(g_kind, "abort")) {
        abort();
    } else if (!strcmp(g_kind, "terminate")) {
        throw 42;
    }
    if (!strcmp(g_kind, "null-write")) {
        Write(0);
    } else if (!strcmp(g_kind, "bad-read")) {
        Read(0x00000BAD);
    } else if (!strcmp(g_kind, "divide")) {
        volatile int zero = 0;
        volatile int value = 7 / zero;
        (void)value;
    } else if (!strcmp(g_kind, "cpp-exception")) {
        // What a C++ runtime raises for a throw that nobody catches.
        ULONG_PTR parameters[3] = {0x19930520, 0, 0};
        RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 3, parameters);
    } else if (!strcmp(g_kind, "breakpoint")) {
        DebugBreak();
    } else if (!strcmp(g_kind, "overflow")) {
        Recurse(0);
    } else if (!strcmp(g_kind, "quit-queued")) {
        // The program was asked to end just before the fault.
        PostQuitMessage(0);
        Write(0);
    } else if (!strcmp(g_kind, "second-fault")) {
        // Dispatched by the faulting thread while it waits for the first crash's handling.
        PostMessageW(window, SecondFaultMessage, 0, 0);
        Write(0);
    }
}

LRESULT CALLBACK FaultProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == FaultMessage) {
        FaultNow(window);
        return 0;
    }
    if (message == SecondFaultMessage) {
        volatile int zero = 0;
        volatile int value = 11 / zero;
        (void)value;
        return 0;
    }
    return CallWindowProcW(g_previous, window, message, wParam, lParam);
}

BOOL CALLBACK FindMainWindow(HWND window, LPARAM parameter)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t title[64] = {0};
    GetWindowTextW(window, title, 64);
    if (process != GetCurrentProcessId() || wcsncmp(title, L"Orvane [", 8) != 0) return TRUE;
    *(HWND*)parameter = window;
    return FALSE;
}

// Faults on this thread while it holds a lock that the crash handling needs.
void FaultHoldingALock()
{
    if (!strcmp(g_kind, "heap-lock")) {
        HeapLock(GetProcessHeap());
    } else {
        typedef LONG(NTAPI * LockLoader)(ULONG, ULONG*, ULONG_PTR*);
        LockLoader lock = (LockLoader)(void*)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "LdrLockLoaderLock");
        ULONG_PTR cookie = 0;
        if (lock) lock(0, nullptr, &cookie);
    }
    Write(0);
}

DWORD WINAPI TakeOver(void*)
{
    if (!strcmp(g_kind, "heap-lock") || !strcmp(g_kind, "loader-lock")) {
        FaultHoldingALock();
        return 0;
    }
    HWND window = nullptr;
    EnumWindows(FindMainWindow, (LPARAM)&window);
    if (!window) return 1;
    g_previous = (WNDPROC)GetWindowLongPtrW(window, GWLP_WNDPROC);
    SetWindowLongPtrW(window, GWLP_WNDPROC, (LONG_PTR)FaultProc);
    PostMessageW(window, FaultMessage, 0, 0);
    return 0;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH) {
        if (!GetEnvironmentVariableA("ORVANE_FAULT", g_kind, sizeof(g_kind))) g_kind[0] = 0;
        HANDLE thread = CreateThread(nullptr, 0, TakeOver, nullptr, 0, nullptr);
        if (thread) CloseHandle(thread);
    }
    return TRUE;
}
