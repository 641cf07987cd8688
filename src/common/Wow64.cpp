#include "common/Wow64.h"

int IsWow64(HANDLE process)
{
    typedef BOOL(WINAPI * IsWow64Function)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    IsWow64Function function = kernel ? (IsWow64Function)(void*)GetProcAddress(kernel, "IsWow64Process") : nullptr;
    BOOL wow64 = FALSE;
    if (!function || !function(process ? process : GetCurrentProcess(), &wow64)) return 0;
    return wow64 ? 1 : 0;
}
