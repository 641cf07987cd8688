#include "platform/SystemApi.h"

namespace {

const wchar_t* const DefaultFileNames[SystemApi::LibraryCount] = {
    L"kernel32.dll", L"ntdll.dll", L"user32.dll", L"ole32.dll", L"comctl32.dll", L"advapi32.dll",
    L"shell32.dll", L"shfolder.dll", L"uxtheme.dll", L"propsys.dll", L"dbghelp.dll", L"wininet.dll",
    L"version.dll", L"psapi.dll", L"gdi32.dll", L"oleaut32.dll",
};

struct FunctionRow {
    SystemApi::Library library;
    const char* name;
};

}  // namespace

int LibraryHolder::Load(const wchar_t* fileName)
{
    Free();
    if (!fileName) return 0;
    UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    m_module = LoadLibraryW(fileName);
    SetErrorMode(previous);
    return m_module != nullptr;
}

void* LibraryHolder::Lookup(const char* name) const
{
    if (!m_module || !name) return nullptr;
    return (void*)GetProcAddress(m_module, name);
}

void LibraryHolder::Free()
{
    if (m_module) {
        FreeLibrary(m_module);
        m_module = nullptr;
    }
}

SystemApi::SystemApi()
{
    for (int i = 0; i < LibraryCount; i++) m_fileNames[i] = DefaultFileNames[i];
    for (int i = 0; i < FunctionCount; i++) {
        m_functions[i] = nullptr;
        m_looked[i] = false;
    }
}

void SystemApi::OverrideLibrary(Library library, const wchar_t* fileName)
{
    if (library < 0 || library >= LibraryCount) return;
    m_fileNames[library] = fileName;
    m_libraries[library].Free();
    for (int i = 0; i < FunctionCount; i++) {
        m_functions[i] = nullptr;
        m_looked[i] = false;
    }
}

void* SystemApi::Lookup(Library library, const char* name)
{
    if (library < 0 || library >= LibraryCount) return nullptr;
    LibraryHolder& holder = m_libraries[library];
    if (!holder.Loaded() && !holder.Load(m_fileNames[library])) return nullptr;
    return holder.Lookup(name);
}

void* SystemApi::Resolve(Function function)
{
    static const FunctionRow Rows[FunctionCount] = {
        {Kernel32, "GetUserDefaultUILanguage"}, {Kernel32, "GetSystemDefaultUILanguage"},
        {Ntdll, "NtQuerySystemInformation"},    {Ntdll, "wine_get_version"},
        {User32, "MonitorFromPoint"},           {User32, "GetMonitorInfoW"},
        {Ole32, "CoInitializeSecurity"},        {Ole32, "CoSetProxyBlanket"},
        {Comctl32, "LoadIconMetric"},           {Comctl32, "LoadIconWithScaleDown"},
    };
    if (!m_looked[function]) {
        m_functions[function] = Lookup(Rows[function].library, Rows[function].name);
        m_looked[function] = true;
    }
    return m_functions[function];
}

LANGID SystemApi::UserDefaultUILanguage()
{
    typedef LANGID(WINAPI * F)();
    F f = (F)Resolve(FnUserDefaultUILanguage);
    return f ? f() : (LANGID)LANG_ENGLISH;
}

LANGID SystemApi::SystemDefaultUILanguage()
{
    typedef LANGID(WINAPI * F)();
    F f = (F)Resolve(FnSystemDefaultUILanguage);
    return f ? f() : (LANGID)LANG_ENGLISH;
}

LONG SystemApi::NtQuerySystemInformation(ULONG infoClass, void* info, ULONG length, ULONG* returned)
{
    typedef LONG(WINAPI * F)(ULONG, void*, ULONG, ULONG*);
    F f = (F)Resolve(FnNtQuerySystemInformation);
    return f ? f(infoClass, info, length, returned) : (LONG)0xC0000001;
}

const char* SystemApi::WineVersion()
{
    typedef const char*(CDECL * F)();
    F f = (F)Resolve(FnWineGetVersion);
    return f ? f() : nullptr;
}

HMONITOR SystemApi::MonitorFromPoint(POINT point, DWORD flags)
{
    typedef HMONITOR(WINAPI * F)(POINT, DWORD);
    F f = (F)Resolve(FnMonitorFromPoint);
    return f ? f(point, flags) : nullptr;
}

BOOL SystemApi::GetMonitorInfo(HMONITOR monitor, MONITORINFO* info)
{
    typedef BOOL(WINAPI * F)(HMONITOR, MONITORINFO*);
    F f = (F)Resolve(FnGetMonitorInfoW);
    return f ? f(monitor, info) : FALSE;
}

HRESULT SystemApi::CoInitializeSecurity(PSECURITY_DESCRIPTOR descriptor, LONG authServices, void* authList,
                                        void* reserved1, DWORD authnLevel, DWORD impLevel, void* authInfo,
                                        DWORD capabilities, void* reserved3)
{
    typedef HRESULT(WINAPI * F)(PSECURITY_DESCRIPTOR, LONG, void*, void*, DWORD, DWORD, void*, DWORD, void*);
    F f = (F)Resolve(FnCoInitializeSecurity);
    return f ? f(descriptor, authServices, authList, reserved1, authnLevel, impLevel, authInfo, capabilities,
                 reserved3)
             : E_FAIL;
}

HRESULT SystemApi::CoSetProxyBlanket(IUnknown* proxy, DWORD authnService, DWORD authzService, OLECHAR* serverName,
                                     DWORD authnLevel, DWORD impLevel, void* authInfo, DWORD capabilities)
{
    typedef HRESULT(WINAPI * F)(IUnknown*, DWORD, DWORD, OLECHAR*, DWORD, DWORD, void*, DWORD);
    F f = (F)Resolve(FnCoSetProxyBlanket);
    return f ? f(proxy, authnService, authzService, serverName, authnLevel, impLevel, authInfo, capabilities)
             : E_FAIL;
}

HRESULT SystemApi::LoadIconMetric(HINSTANCE instance, const wchar_t* name, int metric, HICON* icon)
{
    typedef HRESULT(WINAPI * F)(HINSTANCE, const wchar_t*, int, HICON*);
    F f = (F)Resolve(FnLoadIconMetric);
    return f ? f(instance, name, metric, icon) : E_FAIL;
}

HRESULT SystemApi::LoadIconWithScaleDown(HINSTANCE instance, const wchar_t* name, int cx, int cy, HICON* icon)
{
    typedef HRESULT(WINAPI * F)(HINSTANCE, const wchar_t*, int, int, HICON*);
    F f = (F)Resolve(FnLoadIconWithScaleDown);
    return f ? f(instance, name, cx, cy, icon) : E_FAIL;
}

int SystemApi::MonitorRects(POINT point, DWORD flags, RECT* monitor, RECT* work)
{
    HMONITOR handle = MonitorFromPoint(point, flags);
    if (!handle) return 0;
    MONITORINFO info;
    ZeroMemory(&info, sizeof(info));
    info.cbSize = sizeof(info);
    RECT monitorRect, workRect;
    if (GetMonitorInfo(handle, &info)) {
        monitorRect = info.rcMonitor;
        workRect = info.rcWork;
    } else {
        SetRect(&monitorRect, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
        if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &workRect, 0)) workRect = monitorRect;
    }
    if (monitor) *monitor = monitorRect;
    if (work) *work = workRect;
    return 1;
}
