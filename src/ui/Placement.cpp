#include "ui/Placement.h"

#include <stdio.h>
#include <wchar.h>

#include "platform/SystemApi.h"
#include "ui/SettingsStore.h"

int ParsePlacement(const wchar_t* text, UINT& showCommand, RECT& rect)
{
    if (!text) return 0;
    int command = 0;
    int left = 0, top = 0, right = 0, bottom = 0;
    if (swscanf(text, L"%d,%i,%i,%i,%i", &command, &left, &top, &right, &bottom) != 5) return 0;
    showCommand = (UINT)command;
    SetRect(&rect, left, top, right, bottom);
    return 1;
}

void FormatPlacement(UINT showCommand, const RECT& rect, wchar_t* text, int capacity)
{
    _snwprintf(text, (size_t)capacity, L"%d,%i,%i,%i,%i", (int)showCommand, (int)rect.left, (int)rect.top,
               (int)rect.right, (int)rect.bottom);
    text[capacity - 1] = L'\0';
}

UINT AdjustShowCommand(UINT command, DWORD flags)
{
    using namespace PlacementFlags;
    if (!(flags & AllowMinimised) && command == SW_SHOWMINIMIZED) command = SW_SHOWNORMAL;
    if (!(flags & AllowHidden) && command == SW_HIDE) command = SW_SHOWNORMAL;
    if (flags & ForceHidden) command = SW_HIDE;
    if (flags & ForceMinimisedInactive) command = SW_SHOWMINNOACTIVE;
    return command;
}

RECT FitToMonitors(const RECT& rect, DWORD flags, MonitorQuery& monitors)
{
    if ((flags & PlacementFlags::SkipMonitorTest) || !monitors.Available()) return rect;
    POINT corner = {rect.left, rect.top};
    if (monitors.OnMonitor(corner)) return rect;
    if (flags & PlacementFlags::AcceptLowerRight) {
        corner.x = rect.right;
        corner.y = rect.bottom;
        if (monitors.OnMonitor(corner)) return rect;
    }
    RECT work = monitors.NearestWorkArea(corner);
    RECT moved = rect;
    OffsetRect(&moved, work.left + 10 - rect.left, work.top + 10 - rect.top);
    return moved;
}

namespace {

class SystemMonitors : public MonitorQuery {
public:
    explicit SystemMonitors(SystemApi& api) : m_api(api) {}
    bool Available() override
    {
        POINT origin = {0, 0};
        RECT monitor, work;
        // MonitorFromPoint with the nearest rule always finds one where the function exists.
        return m_api.MonitorRects(origin, MONITOR_DEFAULTTONEAREST, &monitor, &work) != 0;
    }
    bool OnMonitor(POINT point) override { return m_api.MonitorFromPoint(point, MONITOR_DEFAULTTONULL) != nullptr; }
    RECT NearestWorkArea(POINT point) override
    {
        RECT monitor, work;
        if (!m_api.MonitorRects(point, MONITOR_DEFAULTTONEAREST, &monitor, &work)) {
            SetRect(&work, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
            SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        }
        return work;
    }

private:
    SystemApi& m_api;
};

}  // namespace

int SaveWindowPlacement(HWND window, HKEY root, const wchar_t* subkey, const wchar_t* valueName,
                        const RECT* overrideRect, DWORD flags, SettingsStore* store)
{
    UINT command;
    RECT rect;
    if (overrideRect) {
        command = SW_SHOW;
        rect = *overrideRect;
    } else {
        WINDOWPLACEMENT placement;
        ZeroMemory(&placement, sizeof(placement));
        placement.length = sizeof(placement);
        if (!GetWindowPlacement(window, &placement)) return 0;
        command = placement.showCmd;
        if (!(flags & PlacementFlags::SaveInvisible) && !(GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE))
            command = SW_HIDE;
        rect = placement.rcNormalPosition;
    }
    wchar_t text[MAX_PATH];
    FormatPlacement(command, rect, text, MAX_PATH);
    if (store) return store->WriteString(valueName, text);
    HKEY key = nullptr;
    if (RegCreateKeyW(root, subkey, &key) != ERROR_SUCCESS) return 0;
    LONG status = RegSetValueExW(key, valueName, 0, REG_SZ, (const BYTE*)text,
                                 (DWORD)((wcslen(text) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

int RestoreWindowPlacement(HWND window, HKEY root, const wchar_t* subkey, const wchar_t* valueName, DWORD flags,
                           SystemApi& api, SettingsStore* store)
{
    wchar_t text[130];  // 260 bytes
    if (store) {
        WideString stored;
        if (!store->ReadString(valueName, stored) || stored.Length() >= 130) return 0;
        wcscpy(text, stored);
    } else {
        DWORD size = sizeof(text) - sizeof(wchar_t);
        DWORD type = 0;
        HKEY key = nullptr;
        if (RegOpenKeyExW(root, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
        LONG status = RegQueryValueExW(key, valueName, nullptr, &type, (BYTE*)text, &size);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS || type != REG_SZ) return 0;
        text[size / sizeof(wchar_t)] = L'\0';
    }

    WINDOWPLACEMENT placement;
    ZeroMemory(&placement, sizeof(placement));
    placement.length = sizeof(placement);
    UINT command = 0;
    RECT rect;
    if (!ParsePlacement(text, command, rect)) return 0;
    command = AdjustShowCommand(command, flags);
    WINDOWPLACEMENT present;
    ZeroMemory(&present, sizeof(present));
    present.length = sizeof(present);
    if ((flags & PlacementFlags::KeepSize) && GetWindowPlacement(window, &present)) {
        rect.right = rect.left + (present.rcNormalPosition.right - present.rcNormalPosition.left);
        rect.bottom = rect.top + (present.rcNormalPosition.bottom - present.rcNormalPosition.top);
    }
    if ((flags & PlacementFlags::KeepPosition) && GetWindowPlacement(window, &present))
        OffsetRect(&rect, present.rcNormalPosition.left - rect.left, present.rcNormalPosition.top - rect.top);
    SystemMonitors monitors(api);
    rect = FitToMonitors(rect, flags, monitors);

    placement.showCmd = command;
    placement.rcNormalPosition = rect;
    if (!SetWindowPlacement(window, &placement)) return 0;
    if (!(flags & PlacementFlags::NoReposition) && command != SW_SHOWMAXIMIZED) SendMessageW(window, DM_REPOSITION, 0, 0);
    return 1;
}

void CascadeWindow(HWND window, int steps)
{
    const int step = 24;
    RECT rect;
    if (steps <= 0 || !GetWindowRect(window, &rect)) return;
    SetWindowPos(window, nullptr, rect.left + step * steps, rect.top + step * steps, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
