// Process entry: runs the main window.
#include <windows.h>

#include "app/MainDialog.h"
#include "app/Resources.h"
#include "crash/CrashReporter.h"

namespace {

// The first object of the process: constructing it installs the filter that captures a
// fault anywhere after it, during the rest of the start too. Destroyed last.
CrashReporter g_crashReporter;

// Constructed before the entry runs (its sensor manager initialises COM for this thread)
// and destroyed after it returns.
MainDialog g_mainDialog;

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    return (int)g_mainDialog.RunModal(instance, IDD_MAIN, 0, nullptr);
}
