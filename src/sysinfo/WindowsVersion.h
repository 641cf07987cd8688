// Classification and naming of the running Windows.
#pragma once

#include <windows.h>

#include "common/Wow64.h"

// Low 32 bits: platform family and release; high 32 bits: service pack and edition.
typedef unsigned long long VersionFlags;

namespace WindowsRelease {
const DWORD NT = 0x1, Family95 = 0x2, Win32s = 0x4, CE = 0x8;
const DWORD Win95 = 0x10, Win98 = 0x20, WinME = 0x40, NT4 = 0x80, Win2000 = 0x100, WinXP = 0x200;
const DWORD Win95OSR2 = 0x400, Win98SE = 0x800, Server2003 = 0x1000, Vista = 0x2000, Win7 = 0x4000;
const DWORD CE50 = 0x8000, CE52 = 0x10000, Win8 = 0x40000, Win81 = 0x80000, Win10 = 0x100000, NT351 = 0x200000;
}  // namespace WindowsRelease

namespace WindowsEdition {
const DWORD Fundamentals = 0x1, ServicePack1 = 0x2, ServicePack2 = 0x4, ServicePack3 = 0x8;
const DWORD Starter = 0x10, ServerR2 = 0x20, TabletPC = 0x40, MediaCenter = 0x80;
const DWORD MediaCenter2004 = 0x100, MediaCenter2005 = 0x200, MediaCenter2005Ex = 0x400, MediaCenterVista = 0x800;
const DWORD RemoteSession = 0x1000, PEBuilder = 0x2000, MiniNT = 0x4000, Server = 0x8000, AdvancedServer = 0x10000;
const DWORD Datacenter = 0x80000, Enterprise = 0x100000, Embedded = 0x200000, Personal = 0x400000;
const DWORD StorageServer = 0x800000, Terminal = 0x1000000, HomeServer = 0x2000000, DomainController = 0x4000000;
}  // namespace WindowsEdition

// What the edition rules read from the system, gathered apart so that the rules can be
// tried with any combination.
struct EditionFacts {
    bool haveExtendedVersion;       // GetVersionExW with OSVERSIONINFOEXW succeeded
    WORD suiteMask;
    BYTE productType;
    const wchar_t* productOptions;  // "ProductType" of ProductOptions, null when unread
    bool miniNT;
    bool peBuilder;
    bool fundamentals;              // "Installed" == 1
    bool tabletPC, mediaCenter, remoteSession, starter, serverR2;
    const wchar_t* mediaCenterIdent;  // null when unread
};

// The rules on given version data (null: GetVersionExW failed).
VersionFlags ClassifyVersion(const OSVERSIONINFOW* info);
VersionFlags DescribeVersion(VersionFlags classified, const EditionFacts& facts);
int IsVersionAtLeast(const OSVERSIONINFOW* info, DWORD mask, DWORD requirement);

// The same on the running system.
VersionFlags ClassifyWindows();
VersionFlags DescribeWindows();
int IsWindowsAtLeast(DWORD mask, DWORD requirement);

// Name for the crash report: a fixed text, or `buffer` (at least 260 characters) filled.
const wchar_t* WindowsName(wchar_t* buffer, VersionFlags flags);

int IsWine();
int IsReactOS();
DWORD UpdateBuildRevision();
// (major << 16) | minor of comctl32's DllGetVersion; 0 when unavailable.
DWORD CommonControlsVersion();
