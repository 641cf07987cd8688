// Process entry: runs the main window.
#include <windows.h>

#include "app/MainDialog.h"
#include "app/Resources.h"

namespace {

// Constructed before the entry runs (its sensor manager initialises COM for this thread)
// and destroyed after it returns. The crash reporter, when present, is constructed before
// it and destroyed after it.
MainDialog g_mainDialog;

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    return (int)g_mainDialog.RunModal(instance, IDD_MAIN, 0, nullptr);
}
