// A context menu made from a list of items, shown where the user asked for it.
#pragma once

#include <windows.h>

#include <vector>

struct MenuItem {
    UINT command;        // 0 with no text: a separator
    const wchar_t* text;
    bool enabled;
};

// Shows the items and answers the command chosen, 0 when none was.
UINT TrackContextMenu(HWND owner, POINT screen, const std::vector<MenuItem>& items);
