#include "ui/ContextMenu.h"

UINT TrackContextMenu(HWND owner, POINT screen, const std::vector<MenuItem>& items)
{
    HMENU menu = CreatePopupMenu();
    if (!menu) return 0;
    for (const MenuItem& item : items) {
        if (!item.text)
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        else
            AppendMenuW(menu, MF_STRING | (item.enabled ? MF_ENABLED : MF_GRAYED), item.command, item.text);
    }
    UINT command = (UINT)TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, screen.x, screen.y, 0,
                                        owner, nullptr);
    DestroyMenu(menu);
    return command;
}
