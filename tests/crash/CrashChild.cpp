// A program with the crash reporter that faults at once: with no report service ("" as
// argument: before any configuration; "empty-host": configured with an empty host).
#include <windows.h>

#include "crash/CrashReporter.h"

namespace {

CrashReporter g_reporter;
int* volatile g_nowhere = nullptr;

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int)
{
    if (commandLine && !lstrcmpW(commandLine, L"empty-host")) g_reporter.ConfigureReport(101, L"", L"/x", L"child", nullptr);
    *g_nowhere = 1;
    return 0;
}
