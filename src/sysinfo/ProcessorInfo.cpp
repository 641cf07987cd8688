#include "sysinfo/ProcessorInfo.h"

#include <intrin.h>
// After intrin.h: it defines a macro of a name that intrin.h declares as a function.
#include <cpuid.h>
#include <stdio.h>
#include <string.h>

#include <new>

#include "common/RegistryKey.h"
#include "common/Timing.h"
#include "sysinfo/WindowsVersion.h"

namespace {

const wchar_t* const ProcessorKeyFormat = L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\%u";
const unsigned MaxProcessorKeys = 1024;
const ULONG ProcessorSpeedInformation = 43;
const DWORD PerformanceRecordSize = 48;

void ProcessorKey(unsigned index, wchar_t* path)
{
    swprintf(path, 96, ProcessorKeyFormat, index);
}

bool CpuHasTimeStampCounter()
{
    // Asked only where the processor has the instruction and its first leaf (the oldest
    // x86 processors have neither).
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid_max(0, nullptr) < 1 || !__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    return (edx & 0x10) != 0;
}

void TrimTrailingBlanks(WideString& text)
{
    while (text.EndsWith(L' ')) text.RemoveTrailing();
}

}  // namespace

DWORD ChooseClockMHz(const ClockSources& sources)
{
    DWORD mhz = sources.registryMHz;
    if (sources.kernelAnswered && sources.kernelHz != 0) mhz = sources.kernelHz / 1000000;
    if (mhz == 0 && sources.hasTimeStampCounter && sources.elapsedMicroseconds != 0)
        mhz = (DWORD)(sources.counterTicks / sources.elapsedMicroseconds);
    return mhz;
}

ProcessorInfo::ProcessorInfo() : m_nt((ClassifyWindows() & 0x1) != 0), m_count(1), m_workArea(nullptr), m_counters()
{
    if (!m_nt) return;
    unsigned count = 0;
    wchar_t path[96];
    for (; count < MaxProcessorKeys; count++) {
        ProcessorKey(count, path);
        if (!RegistryKey::KeyExists(HKEY_LOCAL_MACHINE, path)) break;
    }
    m_count = count ? count : 1;
    m_workArea = new (std::nothrow) BYTE[PerformanceRecordSize * m_count];
    if (m_workArea) memset(m_workArea, 0, PerformanceRecordSize * m_count);
}

ProcessorInfo::~ProcessorInfo()
{
    if (m_nt) {
        delete[] m_workArea;
        return;
    }
    // The 95 family keeps a processor-usage statistic running once it was read.
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_DYN_DATA, L"PerfStats\\StopStat", 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD value = 0, size = sizeof(value);
        RegQueryValueExW(key, L"KERNEL\\CPUUsage", nullptr, nullptr, (BYTE*)&value, &size);
        RegCloseKey(key);
    }
}

int ProcessorInfo::Read(unsigned index, WideString& name, WideString* vendor, WideString* identifier, DWORD* mhz)
{
    wchar_t path[96];
    ProcessorKey(index, path);
    RegistryKey key;
    name.Clear();
    if (!key.OpenRead(HKEY_LOCAL_MACHINE, path)) return 0;
    key.ReadString(m_nt ? L"ProcessorNameString" : L"Identifier", name);
    TrimTrailingBlanks(name);
    if (vendor) {
        vendor->Clear();
        key.ReadString(L"VendorIdentifier", *vendor);
        TrimTrailingBlanks(*vendor);
    }
    if (identifier) {
        identifier->Clear();
        if (m_nt) key.ReadString(L"Identifier", *identifier);
    }
    if (mhz) {
        ClockSources sources;
        key.ReadDword(L"~MHz", sources.registryMHz);
        BYTE answer[15] = {0};
        sources.kernelAnswered = m_api.NtQuerySystemInformation(ProcessorSpeedInformation, answer, sizeof(answer),
                                                                nullptr) == 0;
        memcpy(&sources.kernelHz, answer + 4, sizeof(DWORD));
        *mhz = ChooseClockMHz(sources);
        if (*mhz == 0) *mhz = MeasureClock(sources);
    }
    return 1;
}

DWORD ProcessorInfo::MeasureClock(ClockSources& sources)
{
    sources.hasTimeStampCounter = CpuHasTimeStampCounter();
    if (!sources.hasTimeStampCounter) return 0;
    Stopwatch stopwatch;
    ULONGLONG before = __rdtsc();
    stopwatch.Start();
    Sleep(1);
    ULONGLONG after = __rdtsc();
    stopwatch.Stop();
    sources.counterTicks = after - before;
    sources.elapsedMicroseconds = stopwatch.Microseconds();
    return ChooseClockMHz(sources);
}
