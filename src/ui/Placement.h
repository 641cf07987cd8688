// A window's show state and normal rectangle, kept as one text value between runs.
#pragma once

#include <windows.h>

namespace PlacementFlags {
const DWORD KeepSize = 0x001;
const DWORD AllowMinimised = 0x002;
const DWORD NoReposition = 0x004;
const DWORD KeepPosition = 0x008;
const DWORD AllowHidden = 0x010;
const DWORD ForceHidden = 0x020;
const DWORD SaveInvisible = 0x040;
const DWORD ForceMinimisedInactive = 0x080;
const DWORD AcceptLowerRight = 0x100;
const DWORD SkipMonitorTest = 0x200;
}  // namespace PlacementFlags

// "%d,%i,%i,%i,%i": show command and normal rectangle. Answers 0 unless all five convert.
int ParsePlacement(const wchar_t* text, UINT& showCommand, RECT& rect);
void FormatPlacement(UINT showCommand, const RECT& rect, wchar_t* text, int capacity);
UINT AdjustShowCommand(UINT showCommand, DWORD flags);

// What the monitor test needs to ask the system, so that the rule can be tried with any
// arrangement of monitors.
struct MonitorQuery {
    virtual ~MonitorQuery() {}
    // False when monitors cannot be asked at all.
    virtual bool Available() = 0;
    virtual bool OnMonitor(POINT point) = 0;
    // The work area of the monitor nearest to a point.
    virtual RECT NearestWorkArea(POINT point) = 0;
};
// Keeps the rectangle where a monitor shows it, else moves it 10 pixels inside the work
// area of the nearest monitor, keeping its size.
RECT FitToMonitors(const RECT& rect, DWORD flags, MonitorQuery& monitors);

class SystemApi;
class SettingsStore;

// With a settings store the value is kept there under `valueName`; else in the registry.
int SaveWindowPlacement(HWND window, HKEY root, const wchar_t* subkey, const wchar_t* valueName,
                        const RECT* overrideRect, DWORD flags, SettingsStore* store = nullptr);
// Moves a window `steps` steps right and down, so that windows opened one after another
// from one remembered placement do not cover each other exactly.
void CascadeWindow(HWND window, int steps);

int RestoreWindowPlacement(HWND window, HKEY root, const wchar_t* subkey, const wchar_t* valueName, DWORD flags,
                           SystemApi& api, SettingsStore* store = nullptr);
