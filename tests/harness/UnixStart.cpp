// Starts the Unix command given as its command line and ends at once: exit code 0 when it
// started. Wine keeps descriptors of the command's binary and of the current folder in
// every process that starts a Unix program and never gives them back, so the tests start
// their Unix commands through this short-lived program instead of doing it themselves.
#include <windows.h>

#include <vector>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int)
{
    if (!commandLine || !commandLine[0]) return 2;
    std::vector<wchar_t> line(commandLine, commandLine + lstrlenW(commandLine) + 1);
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 1;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
