// Process entry. The main window arrives with the sensor viewer; until then the program
// starts and ends at once.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    return 0;
}
