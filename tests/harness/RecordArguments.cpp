// Writes its command line to the file named by ORVANE_RECORD_FILE: stands in for a web
// browser when a test needs to see what a link would open.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int)
{
    wchar_t path[MAX_PATH];
    if (!GetEnvironmentVariableW(L"ORVANE_RECORD_FILE", path, MAX_PATH)) return 1;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    DWORD written = 0;
    WriteFile(file, commandLine, (DWORD)(lstrlenW(commandLine) * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
    return 0;
}
