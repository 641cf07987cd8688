#include <gtest/gtest.h>

#include "sysinfo/WindowsVersion.h"

namespace {

OSVERSIONINFOW Version(DWORD platform, DWORD major, DWORD minor, const wchar_t* servicePack = L"")
{
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    info.dwPlatformId = platform;
    info.dwMajorVersion = major;
    info.dwMinorVersion = minor;
    wcscpy(info.szCSDVersion, servicePack);
    return info;
}

const VersionFlags SP1 = 0x2ull << 32, SP2 = 0x4ull << 32, SP3 = 0x8ull << 32;

std::wstring Name(VersionFlags flags)
{
    wchar_t buffer[MAX_PATH];
    return WindowsName(buffer, flags);
}

EditionFacts NoFacts()
{
    EditionFacts facts = {};
    return facts;
}

}  // namespace

TEST(WindowsVersion, ClassifiesEveryRelease)
{
    struct Case {
        DWORD platform, major, minor;
        const wchar_t* servicePack;
        VersionFlags flags;
        const wchar_t* name;
    } cases[] = {
        {VER_PLATFORM_WIN32s, 3, 10, L"", 0x4, L"Windows 3.1"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 0, L"", 0x12, L"Windows 95"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 0, L" C", 0x402, L"Windows 95 OSR2"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 0, L" B", 0x402, L"Windows 95 OSR2"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 10, L"", 0x22, L"Windows 98"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 10, L" A ", 0x802, L"Windows 98 SE"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 90, L"", 0x42, L"Windows ME"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 50, L"", 0x2, L"Unknown DOS Kernel 0x2"},
        {VER_PLATFORM_WIN32_WINDOWS, 5, 0, L"", 0x2, L"Unknown DOS Kernel 0x2"},
        {VER_PLATFORM_WIN32_NT, 3, 51, L"", 0x200001, L"Windows NT3.51"},
        {VER_PLATFORM_WIN32_NT, 4, 0, L"Service Pack 6", 0x81, L"Windows NT4"},
        {VER_PLATFORM_WIN32_NT, 5, 0, L"Service Pack 2", 0x101 | SP2, L"Windows 2000"},
        {VER_PLATFORM_WIN32_NT, 5, 1, L"Service Pack 3", 0x201 | SP3, L"Windows XP"},
        {VER_PLATFORM_WIN32_NT, 5, 2, L"", 0x1001, L"Windows Server 2003"},
        {VER_PLATFORM_WIN32_NT, 6, 0, L"Service Pack 1", 0x2001 | SP1, L"Windows Vista"},
        {VER_PLATFORM_WIN32_NT, 6, 1, L"", 0x4001, L"Windows 7"},
        {VER_PLATFORM_WIN32_NT, 6, 2, L"", 0x40001, L"Windows 8"},
        {VER_PLATFORM_WIN32_NT, 6, 3, L"", 0x80001, L"Windows 8.1"},
        {VER_PLATFORM_WIN32_NT, 10, 0, L"", 0x100001, L"Windows 10"},
        {VER_PLATFORM_WIN32_NT, 11, 0, L"", 0x1, L"Unknown NT Kernel 0x1"},
        {VER_PLATFORM_WIN32_NT, 6, 4, L"Service Pack 12", 0x1 | SP1, L"Unknown NT Kernel 0x200000001"},
        {3, 5, 0, L"", 0, L"Unknown 0x0"},
    };
    for (const Case& c : cases) {
        OSVERSIONINFOW info = Version(c.platform, c.major, c.minor, c.servicePack);
        VersionFlags flags = ClassifyVersion(&info);
        EXPECT_EQ(c.flags, flags) << c.major << "." << c.minor;
        EXPECT_EQ(std::wstring(c.name), Name(flags)) << c.major << "." << c.minor;
    }
    EXPECT_EQ(0u, ClassifyVersion(nullptr));
    EXPECT_EQ(L"Unknown 0x0", Name(0));
}

TEST(WindowsVersion, NamesOtherFamilies)
{
    EXPECT_EQ(L"Windows CE 5.0", Name(0x8 | 0x8000));
    EXPECT_EQ(L"Windows CE 5.2", Name(0x8 | 0x10000));
    EXPECT_EQ(L"Unknown CE Kernel 0x8", Name(0x8));
    EXPECT_EQ(L"Windows 95", Name(0x2 | 0x10 | 0x400)) << "the first match wins";
}

TEST(WindowsVersion, EditionSuffixesInOrder)
{
    const VersionFlags win10 = 0x100001;
    auto high = [](DWORD bits) { return (VersionFlags)bits << 32; };
    EXPECT_EQ(L"Windows 10 [Server]", Name(win10 | high(0x8000 | 0x10000)));
    EXPECT_EQ(L"Windows 10 [Advanced Server]", Name(win10 | high(0x10000)));
    EXPECT_EQ(L"Windows 10 [PE Builder]", Name(win10 | high(0x2000 | 0x4000)));
    EXPECT_EQ(L"Windows 10 [MiniNT]", Name(win10 | high(0x4000)));
    EXPECT_EQ(L"Windows XP [TabletPC] [MediaCenter 2005]", Name(0x201 | high(0x40 | 0x80 | 0x200 | 0x400)));
    EXPECT_EQ(L"Windows XP [MediaCenter]", Name(0x201 | high(0x80)));
    EXPECT_EQ(L"Windows Vista [MediaCenter Vista]", Name(0x2001 | high(0x800)));
    EXPECT_EQ(L"Windows XP [MediaCenter 2005 Ex]", Name(0x201 | high(0x400)));
    EXPECT_EQ(L"Windows XP [MediaCenter 2004]", Name(0x201 | high(0x100)));
    EXPECT_EQ(L"Windows Server 2003 [Server] [Datacenter] [Enterprise] [Embedded] [Home Edition] [Storage Server] "
              L"[Terminal Services] [Home Server] [Domain Controller] [Fundamentals for Legacy PCs] [TerminalSession]",
              Name(0x1001 | high(0x8000 | 0x80000 | 0x100000 | 0x200000 | 0x400000 | 0x800000 | 0x1000000 | 0x2000000 |
                                 0x4000000 | 0x1 | 0x1000)));
    EXPECT_EQ(L"Windows 7", Name(0x4001 | high(0x2 | 0x4 | 0x8 | 0x10 | 0x20))) << "no suffix for these bits";
}

TEST(WindowsVersion, DescribeAddsEditionBits)
{
    auto high = [](DWORD bits) { return (VersionFlags)bits << 32; };
    EditionFacts facts = NoFacts();
    facts.haveExtendedVersion = true;
    facts.productType = VER_NT_SERVER;
    EXPECT_EQ(0x100001 | high(0x8000), DescribeVersion(0x100001, facts));
    EXPECT_EQ(L"Windows 10 [Server]", Name(DescribeVersion(0x100001, facts)));

    facts.productType = VER_NT_DOMAIN_CONTROLLER;
    facts.suiteMask = VER_SUITE_TERMINAL | VER_SUITE_SINGLEUSERTS | VER_SUITE_ENTERPRISE;
    EXPECT_EQ(0x4001 | high(0x4000000 | 0x100000), DescribeVersion(0x4001, facts)) << "single-user terminal is not terminal services";
    facts.suiteMask = VER_SUITE_TERMINAL | VER_SUITE_DATACENTER | VER_SUITE_EMBEDDEDNT | VER_SUITE_PERSONAL |
                      VER_SUITE_STORAGE_SERVER | VER_SUITE_WH_SERVER;
    facts.productType = VER_NT_WORKSTATION;
    EXPECT_EQ(0x4001 | high(0x1000000 | 0x80000 | 0x200000 | 0x400000 | 0x800000 | 0x2000000),
              DescribeVersion(0x4001, facts));

    EditionFacts registry = NoFacts();
    registry.productOptions = L"lanmannt";
    registry.miniNT = registry.peBuilder = registry.fundamentals = true;
    registry.mediaCenterIdent = L"4.0";
    EXPECT_EQ(0x201 | high(0x10000 | 0x4000 | 0x2000 | 0x1 | 0x400), DescribeVersion(0x201, registry));
    registry = NoFacts();
    registry.productOptions = L"WINNT";
    registry.tabletPC = registry.mediaCenter = registry.remoteSession = registry.starter = registry.serverR2 = true;
    registry.mediaCenterIdent = L"5.1";
    EXPECT_EQ(0x201 | high(0x40 | 0x80 | 0x1000 | 0x10 | 0x20 | 0x800), DescribeVersion(0x201, registry));
    registry.productOptions = L"ServerNT";
    EXPECT_NE(0u, DescribeVersion(0x201, registry) & high(0x8000));

    EditionFacts everything = registry;
    everything.haveExtendedVersion = true;
    everything.productType = VER_NT_SERVER;
    EXPECT_EQ(0x22u, DescribeVersion(0x22, everything)) << "the 95 family has no edition bits";
}

TEST(WindowsVersion, AtLeastOnNt)
{
    OSVERSIONINFOW vista = Version(VER_PLATFORM_WIN32_NT, 6, 0);
    OSVERSIONINFOW win7 = Version(VER_PLATFORM_WIN32_NT, 6, 1);
    OSVERSIONINFOW win81 = Version(VER_PLATFORM_WIN32_NT, 6, 3);
    OSVERSIONINFOW future = Version(VER_PLATFORM_WIN32_NT, 11, 0);
    OSVERSIONINFOW oddOld = Version(VER_PLATFORM_WIN32_NT, 3, 10);
    EXPECT_EQ(0, IsVersionAtLeast(&vista, 0x4000, 0));
    EXPECT_EQ(1, IsVersionAtLeast(&win7, 0x4000, 0));
    EXPECT_EQ(1, IsVersionAtLeast(&win81, 0x4000, 0));
    EXPECT_EQ(1, IsVersionAtLeast(&future, 0x4000, 0)) << "unknown versions count as newest";
    EXPECT_EQ(1, IsVersionAtLeast(&oddOld, 0x4000, 0));
    EXPECT_EQ(1, IsVersionAtLeast(&vista, 0x2000, 0));
    EXPECT_EQ(0, IsVersionAtLeast(&vista, 0x4000 | 0x100000, 0));
    EXPECT_EQ(1, IsVersionAtLeast(&vista, 0x1, 0)) << "the NT bit asks for any NT";
    EXPECT_EQ(0, IsVersionAtLeast(&vista, 0x4, 0));

    OSVERSIONINFOW xpSp1 = Version(VER_PLATFORM_WIN32_NT, 5, 1, L"Service Pack 1");
    OSVERSIONINFOW xpSp2 = Version(VER_PLATFORM_WIN32_NT, 5, 1, L"Service Pack 2");
    OSVERSIONINFOW xpSp3 = Version(VER_PLATFORM_WIN32_NT, 5, 1, L"Service Pack 3");
    OSVERSIONINFOW xp = Version(VER_PLATFORM_WIN32_NT, 5, 1);
    OSVERSIONINFOW server2003 = Version(VER_PLATFORM_WIN32_NT, 5, 2);
    EXPECT_EQ(0, IsVersionAtLeast(&xpSp1, 0x200, 0x4));
    EXPECT_EQ(1, IsVersionAtLeast(&xpSp2, 0x200, 0x4));
    EXPECT_EQ(1, IsVersionAtLeast(&xpSp3, 0x200, 0x4));
    EXPECT_EQ(1, IsVersionAtLeast(&server2003, 0x200, 0x4));
    EXPECT_EQ(1, IsVersionAtLeast(&xpSp1, 0x200, 0x2));
    EXPECT_EQ(0, IsVersionAtLeast(&xp, 0x200, 0x2));
    EXPECT_EQ(0, IsVersionAtLeast(&xpSp2, 0x200, 0x8));
    EXPECT_EQ(1, IsVersionAtLeast(&xpSp3, 0x200, 0x8));
    EXPECT_EQ(1, IsVersionAtLeast(&xp, 0x200, 0));
    // The lowest named release decides: XP with SP2 satisfies "2000, or XP SP3".
    EXPECT_EQ(1, IsVersionAtLeast(&xpSp2, 0x100 | 0x200, 0x8));
    EXPECT_EQ(0, IsVersionAtLeast(nullptr, 0x4000, 0));
}

TEST(WindowsVersion, AtLeastOnOtherFamilies)
{
    OSVERSIONINFOW win95 = Version(VER_PLATFORM_WIN32_WINDOWS, 4, 0);
    OSVERSIONINFOW osr2 = Version(VER_PLATFORM_WIN32_WINDOWS, 4, 0, L" C");
    OSVERSIONINFOW win98 = Version(VER_PLATFORM_WIN32_WINDOWS, 4, 10);
    OSVERSIONINFOW win98se = Version(VER_PLATFORM_WIN32_WINDOWS, 4, 10, L" A");
    OSVERSIONINFOW winme = Version(VER_PLATFORM_WIN32_WINDOWS, 4, 90);
    OSVERSIONINFOW future95 = Version(VER_PLATFORM_WIN32_WINDOWS, 5, 0);
    OSVERSIONINFOW win32s = Version(VER_PLATFORM_WIN32s, 3, 10);
    EXPECT_EQ(1, IsVersionAtLeast(&win95, 0x10, 0));
    EXPECT_EQ(0, IsVersionAtLeast(&win95, 0x400, 0));
    EXPECT_EQ(1, IsVersionAtLeast(&osr2, 0x400, 0));
    EXPECT_EQ(0, IsVersionAtLeast(&osr2, 0x20, 0));
    EXPECT_EQ(1, IsVersionAtLeast(&win98, 0x10, 0)) << "later releases satisfy earlier ones";
    EXPECT_EQ(0, IsVersionAtLeast(&win98, 0x800, 0));
    EXPECT_EQ(1, IsVersionAtLeast(&win98se, 0x800, 0));
    EXPECT_EQ(1, IsVersionAtLeast(&winme, 0x800 | 0x40, 0));
    EXPECT_EQ(0, IsVersionAtLeast(&winme, 0x4000, 0));
    EXPECT_EQ(1, IsVersionAtLeast(&winme, 0x2, 0));
    EXPECT_EQ(1, IsVersionAtLeast(&future95, 0x2, 0));
    EXPECT_EQ(0, IsVersionAtLeast(&future95, 0x10, 0));
    EXPECT_EQ(1, IsVersionAtLeast(&win32s, 0x4, 0));
    EXPECT_EQ(0, IsVersionAtLeast(&win32s, 0x1, 0));
    OSVERSIONINFOW ce = Version(3, 5, 0);
    EXPECT_EQ(0, IsVersionAtLeast(&ce, 0xFFFFFFFF, 0));
}

TEST(WindowsVersion, SystemThatReportsSixTwo)
{
    // Windows 8.1 and 10 report 6.2 to programs that do not declare them.
    OSVERSIONINFOW reported = Version(VER_PLATFORM_WIN32_NT, 6, 2);
    EXPECT_EQ(L"Windows 8", Name(ClassifyVersion(&reported)));
    EXPECT_EQ(1, IsVersionAtLeast(&reported, 0x4000, 0));
    EXPECT_EQ(0, IsVersionAtLeast(&reported, 0x80000, 0));
}

TEST(WindowsVersion, ProbesOfTheRunningSystem)
{
    EXPECT_EQ(1, IsWine());
    EXPECT_EQ(0, IsReactOS());
#if defined(_WIN64)
    EXPECT_EQ(0, IsWow64(nullptr)) << "a 64-bit process";
#else
    // The 32-bit program runs in a 64-bit prefix, as on 64-bit Windows.
    EXPECT_EQ(1, IsWow64(nullptr)) << "a 32-bit process on a 64-bit system";
#endif
    VersionFlags flags = ClassifyWindows();
    EXPECT_EQ(1u, flags & 0x1);
    EXPECT_EQ(flags & 0xFFFFFFFF, DescribeWindows() & 0xFFFFFFFF);
    EXPECT_EQ(IsWindowsAtLeast(0x4000, 0), (flags & 0x1C4000) ? 1 : 0);
    EXPECT_NE(0u, CommonControlsVersion());
    EXPECT_GE(CommonControlsVersion() >> 16, 5u);
    DWORD revision = UpdateBuildRevision();
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0, KEY_READ, &key) == 0) {
        DWORD value = 0, size = sizeof(value);
        DWORD expected = RegQueryValueExW(key, L"UBR", nullptr, nullptr, (BYTE*)&value, &size) == 0 ? value : 0;
        RegCloseKey(key);
        EXPECT_EQ(expected, revision);
    }
}
