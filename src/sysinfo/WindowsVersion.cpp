#include "sysinfo/WindowsVersion.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "common/RegistryKey.h"
#include "common/WideString.h"
#include "platform/SystemApi.h"

using namespace WindowsRelease;

namespace {

const wchar_t CurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

inline VersionFlags High(DWORD bits)
{
    return (VersionFlags)bits << 32;
}

wchar_t SecondServicePackCharacter(const OSVERSIONINFOW* info)
{
    return info->szCSDVersion[0] ? info->szCSDVersion[1] : L'\0';
}

bool ServicePackContains(const OSVERSIONINFOW* info, const wchar_t* text)
{
    return wcsstr(info->szCSDVersion, text) != nullptr;
}

struct NtRelease {
    DWORD major;
    DWORD minor;
    DWORD bit;
};

const NtRelease NtReleases[] = {
    {3, 51, NT351}, {4, 0, NT4}, {5, 0, Win2000}, {5, 1, WinXP}, {5, 2, Server2003},
    {6, 0, Vista},  {6, 1, Win7}, {6, 2, Win8},   {6, 3, Win81}, {10, 0, Win10},
};
const int NtReleaseCount = sizeof(NtReleases) / sizeof(NtReleases[0]);

// Position of the running NT release; one past the end for versions the list lacks.
int NtReleaseIndex(const OSVERSIONINFOW* info)
{
    for (int i = 0; i < NtReleaseCount; i++)
        if (NtReleases[i].major == info->dwMajorVersion && NtReleases[i].minor == info->dwMinorVersion) return i;
    return NtReleaseCount;
}

int GetVersionInfo(OSVERSIONINFOW* info)
{
    ZeroMemory(info, sizeof(*info));
    info->dwOSVersionInfoSize = sizeof(*info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return GetVersionExW(info) ? 1 : 0;
#pragma GCC diagnostic pop
}

}  // namespace

VersionFlags ClassifyVersion(const OSVERSIONINFOW* info)
{
    if (!info) return 0;
    switch (info->dwPlatformId) {
    case VER_PLATFORM_WIN32s:
        return Win32s;
    case VER_PLATFORM_WIN32_WINDOWS: {
        if (info->dwMajorVersion != 4) return Family95;
        wchar_t c = SecondServicePackCharacter(info);
        switch (info->dwMinorVersion) {
        case 0:
            return (c == L'C' || c == L'B') ? 0x402 : 0x12;
        case 10:
            return c == L'A' ? 0x802 : 0x22;
        case 90:
            return 0x42;
        default:
            return Family95;
        }
    }
    case VER_PLATFORM_WIN32_NT: {
        DWORD key = (info->dwMajorVersion << 16) | (info->dwMinorVersion & 0xFFFF);
        VersionFlags flags;
        switch (key) {
        case 0x30033: flags = 0x200001; break;
        case 0x40000: flags = 0x81; break;
        case 0x50000: flags = 0x101; break;
        case 0x50001: flags = 0x201; break;
        case 0x50002: flags = 0x1001; break;
        case 0x60000: flags = 0x2001; break;
        case 0x60001: flags = 0x4001; break;
        case 0x60002: flags = 0x40001; break;
        case 0x60003: flags = 0x80001; break;
        case 0xA0000: flags = 0x100001; break;
        default: flags = 0x1; break;
        }
        if (ServicePackContains(info, L"Service Pack 1")) flags |= High(WindowsEdition::ServicePack1);
        if (ServicePackContains(info, L"Service Pack 2")) flags |= High(WindowsEdition::ServicePack2);
        if (ServicePackContains(info, L"Service Pack 3")) flags |= High(WindowsEdition::ServicePack3);
        return flags;
    }
    default:
        return 0;
    }
}

VersionFlags DescribeVersion(VersionFlags flags, const EditionFacts& facts)
{
    using namespace WindowsEdition;
    if (!(flags & NT)) return flags;
    if (facts.haveExtendedVersion) {
        WORD suite = facts.suiteMask;
        if (suite & VER_SUITE_DATACENTER) flags |= High(Datacenter);
        if (suite & VER_SUITE_ENTERPRISE) flags |= High(Enterprise);
        if (suite & VER_SUITE_EMBEDDEDNT) flags |= High(Embedded);
        if (suite & VER_SUITE_PERSONAL) flags |= High(Personal);
        if (suite & VER_SUITE_STORAGE_SERVER) flags |= High(StorageServer);
        if ((suite & VER_SUITE_TERMINAL) && !(suite & VER_SUITE_SINGLEUSERTS)) flags |= High(Terminal);
        if (suite & VER_SUITE_WH_SERVER) flags |= High(HomeServer);
        if (facts.productType == VER_NT_DOMAIN_CONTROLLER) flags |= High(DomainController);
        if (facts.productType == VER_NT_SERVER) flags |= High(Server);
    }
    if (facts.productOptions && _wcsicmp(facts.productOptions, L"WinNT") != 0) {
        if (_wcsicmp(facts.productOptions, L"ServerNT") == 0) flags |= High(Server);
        if (_wcsicmp(facts.productOptions, L"LanmanNT") == 0) flags |= High(AdvancedServer);
    }
    if (facts.miniNT) flags |= High(MiniNT);
    if (facts.peBuilder) flags |= High(PEBuilder);
    if (facts.fundamentals) flags |= High(Fundamentals);
    if (facts.tabletPC) flags |= High(TabletPC);
    if (facts.mediaCenter) flags |= High(MediaCenter);
    if (facts.remoteSession) flags |= High(RemoteSession);
    if (facts.starter) flags |= High(Starter);
    if (facts.serverR2) flags |= High(ServerR2);
    unsigned major = 0, minor = 0;
    if (facts.mediaCenterIdent && swscanf(facts.mediaCenterIdent, L"%u.%u", &major, &minor) >= 1) {
        if (major == 2) flags |= High(MediaCenter2004);
        if (major == 3) flags |= High(MediaCenter2005);
        if (major == 4) flags |= High(MediaCenter2005Ex);
        if (major == 5) flags |= High(MediaCenterVista);
    }
    return flags;
}

int IsVersionAtLeast(const OSVERSIONINFOW* info, DWORD mask, DWORD requirement)
{
    if (!info) return 0;
    switch (info->dwPlatformId) {
    case VER_PLATFORM_WIN32s:
        return (mask & Win32s) ? 1 : 0;
    case VER_PLATFORM_WIN32_WINDOWS: {
        if (info->dwMajorVersion != 4) return (mask & Family95) ? 1 : 0;
        wchar_t c = SecondServicePackCharacter(info);
        bool cb = c == L'C' || c == L'B';
        DWORD satisfied;
        if (info->dwMinorVersion == 0)
            satisfied = cb ? (0x410 | 0x2) : (0x10 | 0x2);
        else if (info->dwMinorVersion == 10)
            satisfied = c == L'A' ? (0x820 | 0x10 | 0x2) : (0x20 | 0x10 | 0x2 | (cb ? 0x410 : 0));
        else
            satisfied = 0xC70 | 0x2;
        return (mask & satisfied) ? 1 : 0;
    }
    case VER_PLATFORM_WIN32_NT: {
        int answer = (mask & NT) ? 1 : 0;
        int running = NtReleaseIndex(info);
        int start = running < NtReleaseCount ? running : NtReleaseCount - 1;
        for (int i = start; i >= 0; i--) {
            if (!(mask & NtReleases[i].bit)) continue;
            if (running > i) {
                answer = 1;
            } else if (!(requirement & 0xE)) {
                answer = 1;
            } else {
                answer = ((requirement & 0x2) && ServicePackContains(info, L"Service Pack 1")) ||
                                 ((requirement & 0x6) && ServicePackContains(info, L"Service Pack 2")) ||
                                 ServicePackContains(info, L"Service Pack 3")
                             ? 1
                             : 0;
            }
        }
        return answer;
    }
    default:
        return 0;
    }
}

VersionFlags ClassifyWindows()
{
    OSVERSIONINFOW info;
    return GetVersionInfo(&info) ? ClassifyVersion(&info) : 0;
}

VersionFlags DescribeWindows()
{
    VersionFlags flags = ClassifyWindows();
    if (!(flags & NT)) return flags;

    EditionFacts facts;
    ZeroMemory(&facts, sizeof(facts));
    OSVERSIONINFOEXW extended;
    ZeroMemory(&extended, sizeof(extended));
    extended.dwOSVersionInfoSize = sizeof(extended);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (GetVersionExW((OSVERSIONINFOW*)&extended)) {
#pragma GCC diagnostic pop
        facts.haveExtendedVersion = true;
        facts.suiteMask = extended.wSuiteMask;
        facts.productType = extended.wProductType;
    }
    WideString productOptions;
    productOptions.Reserve(MAX_PATH);
    RegistryKey key;
    if (key.OpenRead(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\ProductOptions")) {
        wchar_t text[MAX_PATH];
        DWORD characters = MAX_PATH;
        if (key.ReadString(L"ProductType", text, characters) && productOptions.Assign(text))
            facts.productOptions = productOptions;
    }
    facts.miniNT = RegistryKey::KeyExists(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\MiniNT") != 0;
    facts.peBuilder = RegistryKey::KeyExists(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\PE Builder") != 0;
    DWORD installed = 0;
    facts.fundamentals =
        RegistryKey::ReadDwordValue(HKEY_LOCAL_MACHINE, L"SYSTEM\\WPA\\Fundamentals", L"Installed", installed, 0) &&
        installed == 1;
    facts.tabletPC = GetSystemMetrics(SM_TABLETPC) != 0;
    facts.mediaCenter = GetSystemMetrics(SM_MEDIACENTER) != 0;
    facts.remoteSession = GetSystemMetrics(SM_REMOTESESSION) != 0;
    facts.starter = GetSystemMetrics(SM_STARTER) != 0;
    facts.serverR2 = GetSystemMetrics(89) != 0;
    WideString ident;
    if (RegistryKey::ReadStringValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Media Center",
                                     L"Ident", ident, nullptr))
        facts.mediaCenterIdent = ident;
    return DescribeVersion(flags, facts);
}

int IsWindowsAtLeast(DWORD mask, DWORD requirement)
{
    OSVERSIONINFOW info;
    return IsVersionAtLeast(GetVersionInfo(&info) ? &info : nullptr, mask, requirement);
}

const wchar_t* WindowsName(wchar_t* buffer, VersionFlags flags)
{
    using namespace WindowsEdition;
    DWORD low = (DWORD)flags;
    DWORD high = (DWORD)(flags >> 32);
    const size_t capacity = MAX_PATH;
    if (low & NT) {
        static const struct {
            DWORD bit;
            const wchar_t* name;
        } Names[] = {
            {NT351, L"Windows NT3.51"}, {NT4, L"Windows NT4"},     {Win2000, L"Windows 2000"},
            {WinXP, L"Windows XP"},     {Server2003, L"Windows Server 2003"}, {Vista, L"Windows Vista"},
            {Win7, L"Windows 7"},       {Win8, L"Windows 8"},      {Win81, L"Windows 8.1"},
            {Win10, L"Windows 10"},
        };
        const wchar_t* name = nullptr;
        for (const auto& row : Names)
            if (low & row.bit) {
                name = row.name;
                break;
            }
        if (!name) {
            _snwprintf(buffer, capacity, L"Unknown NT Kernel 0x%I64X", flags);
            buffer[capacity - 1] = L'\0';
            return buffer;
        }
        wcscpy(buffer, name);
        auto add = [buffer](const wchar_t* suffix) { wcscat(buffer, suffix); };
        if (high & Server)
            add(L" [Server]");
        else if (high & AdvancedServer)
            add(L" [Advanced Server]");
        if (high & PEBuilder)
            add(L" [PE Builder]");
        else if (high & MiniNT)
            add(L" [MiniNT]");
        if (high & TabletPC) add(L" [TabletPC]");
        if (high & MediaCenter2004)
            add(L" [MediaCenter 2004]");
        else if (high & MediaCenter2005)
            add(L" [MediaCenter 2005]");
        else if (high & MediaCenter2005Ex)
            add(L" [MediaCenter 2005 Ex]");
        else if (high & MediaCenterVista)
            add(L" [MediaCenter Vista]");
        else if (high & MediaCenter)
            add(L" [MediaCenter]");
        static const struct {
            DWORD bit;
            const wchar_t* suffix;
        } Suffixes[] = {
            {Datacenter, L" [Datacenter]"},
            {Enterprise, L" [Enterprise]"},
            {Embedded, L" [Embedded]"},
            {Personal, L" [Home Edition]"},
            {StorageServer, L" [Storage Server]"},
            {Terminal, L" [Terminal Services]"},
            {HomeServer, L" [Home Server]"},
            {DomainController, L" [Domain Controller]"},
            {Fundamentals, L" [Fundamentals for Legacy PCs]"},
            {RemoteSession, L" [TerminalSession]"},
        };
        for (const auto& row : Suffixes)
            if (high & row.bit) add(row.suffix);
        return buffer;
    }
    if (low & Family95) {
        if (low & Win95) return L"Windows 95";
        if (low & Win95OSR2) return L"Windows 95 OSR2";
        if (low & Win98) return L"Windows 98";
        if (low & Win98SE) return L"Windows 98 SE";
        if (low & WinME) return L"Windows ME";
        _snwprintf(buffer, capacity, L"Unknown DOS Kernel 0x%I64X", flags);
        buffer[capacity - 1] = L'\0';
        return buffer;
    }
    if (low & Win32s) return L"Windows 3.1";
    if (low & CE) {
        if (low & CE50) return L"Windows CE 5.0";
        if (low & CE52) return L"Windows CE 5.2";
        _snwprintf(buffer, capacity, L"Unknown CE Kernel 0x%I64X", flags);
        buffer[capacity - 1] = L'\0';
        return buffer;
    }
    _snwprintf(buffer, capacity, L"Unknown 0x%I64X", flags);
    buffer[capacity - 1] = L'\0';
    return buffer;
}

int IsWine()
{
    SystemApi api;
    return api.WineVersion() != nullptr;
}

int IsReactOS()
{
    wchar_t name[MAX_PATH];
    DWORD characters = MAX_PATH;
    RegistryKey key;
    return key.OpenRead(HKEY_LOCAL_MACHINE, CurrentVersionKey) && key.ReadString(L"ProductName", name, characters) &&
           _wcsicmp(name, L"ReactOS") == 0;
}

DWORD UpdateBuildRevision()
{
    DWORD revision = 0;
    RegistryKey::ReadDwordValue(HKEY_LOCAL_MACHINE, CurrentVersionKey, L"UBR", revision, 0);
    return revision;
}

DWORD CommonControlsVersion()
{
    LibraryHolder library;
    if (!library.Load(L"comctl32.dll")) return 0;
    struct VersionInfo {
        DWORD size, major, minor, build, platform;
    } info = {20, 0, 0, 0, 0};
    typedef HRESULT(CALLBACK * DllGetVersionFunction)(VersionInfo*);
    DllGetVersionFunction getVersion = (DllGetVersionFunction)library.Lookup("DllGetVersion");
    if (!getVersion || FAILED(getVersion(&info))) return 0;
    return (info.major << 16) | (info.minor & 0xFFFF);
}
