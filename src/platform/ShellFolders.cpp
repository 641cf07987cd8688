#include "platform/ShellFolders.h"

#include <shlobj.h>
#include <wchar.h>

#include "platform/SystemApi.h"

int SpecialFolder(int csidl, wchar_t* path)
{
    if (!path) return 0;
    path[0] = L'\0';
    int ok = 0;
    LPITEMIDLIST items = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, csidl, &items)) && items) {
        ok = SHGetPathFromIDListW(items, path) ? 1 : 0;
        IMalloc* allocator = nullptr;
        if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator) {
            allocator->Free(items);
            allocator->Release();
        }
    }
    if (!ok) {
        SystemApi api;
        typedef HRESULT(WINAPI * FolderPathFunction)(HWND, int, HANDLE, DWORD, LPWSTR);
        FolderPathFunction folderPath = (FolderPathFunction)api.Lookup(SystemApi::Shfolder, "SHGetFolderPathW");
        ok = folderPath && SUCCEEDED(folderPath(nullptr, csidl, nullptr, 0, path)) ? 1 : 0;
    }
    if (!ok) {
        path[0] = L'\0';
        return 0;
    }
    size_t n = wcslen(path);
    while (n > 0 && path[n - 1] == L'\\') path[--n] = L'\0';
    return n > 0;
}

LANGID NormaliseUserLanguage(LANGID id)
{
    if ((id & 0x3FF) == 0 && id > 6143) return LANG_ENGLISH;
    return id;
}

LANGID LanguageId(int kind)
{
    bool system = (kind & SystemLanguage) != 0;
    LANGID id;
    if (kind & UserInterfaceLanguage) {
        SystemApi api;
        id = system ? api.SystemDefaultUILanguage() : api.UserDefaultUILanguage();
    } else {
        id = system ? GetSystemDefaultLangID() : GetUserDefaultLangID();
    }
    return system ? id : NormaliseUserLanguage(id);
}
