// Run-time binding of system functions that older systems lack.
#pragma once

#include <windows.h>
#include <objbase.h>

// One library loaded by name.
class LibraryHolder {
public:
    LibraryHolder() : m_module(nullptr) {}
    ~LibraryHolder() { Free(); }
    LibraryHolder(const LibraryHolder&) = delete;
    LibraryHolder& operator=(const LibraryHolder&) = delete;

    // Frees what was loaded, then loads without any system error box.
    int Load(const wchar_t* fileName);
    void* Lookup(const char* name) const;
    void Free();
    HMODULE Module() const { return m_module; }
    bool Loaded() const { return m_module != nullptr; }

private:
    HMODULE m_module;
};

// Late-bound system functions; each answers a fixed value when its function is missing.
// One instance per user; an instance is used by one thread at a time.
class SystemApi {
public:
    enum Library {
        Kernel32, Ntdll, User32, Ole32, Comctl32, Advapi32, Shell32, Shfolder,
        Uxtheme, Propsys, Dbghelp, Wininet, Version, Psapi, Gdi32, Oleaut32,
        LibraryCount
    };

    SystemApi();
    ~SystemApi() {}
    SystemApi(const SystemApi&) = delete;
    SystemApi& operator=(const SystemApi&) = delete;

    // Makes a library come from another file (or from none, for a file that does not
    // exist); forgets what was looked up in it.
    void OverrideLibrary(Library library, const wchar_t* fileName);

    // Any function of a table library; null when missing. Not cached.
    void* Lookup(Library library, const char* name);

    LANGID UserDefaultUILanguage();
    LANGID SystemDefaultUILanguage();
    LONG NtQuerySystemInformation(ULONG infoClass, void* info, ULONG length, ULONG* returned);
    const char* WineVersion();
    HMONITOR MonitorFromPoint(POINT point, DWORD flags);
    BOOL GetMonitorInfo(HMONITOR monitor, MONITORINFO* info);
    HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR descriptor, LONG authServices, void* authList,
                                 void* reserved1, DWORD authnLevel, DWORD impLevel, void* authInfo,
                                 DWORD capabilities, void* reserved3);
    HRESULT CoSetProxyBlanket(IUnknown* proxy, DWORD authnService, DWORD authzService, OLECHAR* serverName,
                              DWORD authnLevel, DWORD impLevel, void* authInfo, DWORD capabilities);
    HRESULT LoadIconMetric(HINSTANCE instance, const wchar_t* name, int metric, HICON* icon);
    HRESULT LoadIconWithScaleDown(HINSTANCE instance, const wchar_t* name, int cx, int cy, HICON* icon);

    // Monitor and work rectangles of the monitor at a point: 0 when no monitor is there.
    int MonitorRects(POINT point, DWORD flags, RECT* monitor, RECT* work);

private:
    enum Function {
        FnUserDefaultUILanguage, FnSystemDefaultUILanguage, FnNtQuerySystemInformation, FnWineGetVersion,
        FnMonitorFromPoint, FnGetMonitorInfoW, FnCoInitializeSecurity, FnCoSetProxyBlanket,
        FnLoadIconMetric, FnLoadIconWithScaleDown, FunctionCount
    };
    void* Resolve(Function function);

    const wchar_t* m_fileNames[LibraryCount];
    LibraryHolder m_libraries[LibraryCount];
    void* m_functions[FunctionCount];
    bool m_looked[FunctionCount];
};
