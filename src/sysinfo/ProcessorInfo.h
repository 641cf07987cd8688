// The machine's processors as the registry describes them, with their clock.
#pragma once

#include <windows.h>

#include "common/WideString.h"
#include "platform/SystemApi.h"

// The clock sources in the order they are tried; each answers 0 when it knows nothing.
struct ClockSources {
    DWORD registryMHz = 0;     // "~MHz"
    bool kernelAnswered = false;
    DWORD kernelHz = 0;        // second value of information class 43
    bool hasTimeStampCounter = false;
    ULONGLONG counterTicks = 0;
    ULONGLONG elapsedMicroseconds = 0;
};
DWORD ChooseClockMHz(const ClockSources& sources);

class ProcessorInfo {
public:
    ProcessorInfo();
    ~ProcessorInfo();
    ProcessorInfo(const ProcessorInfo&) = delete;
    ProcessorInfo& operator=(const ProcessorInfo&) = delete;

    unsigned Count() const { return m_count; }
    // 1 when the processor's key exists. Texts lose their trailing blanks.
    int Read(unsigned index, WideString& name, WideString* vendor, WideString* identifier, DWORD* mhz);

private:
    DWORD MeasureClock(ClockSources& sources);

    bool m_nt;
    SystemApi m_api;
    unsigned m_count;
    BYTE* m_workArea;
    DWORD m_counters[4];
};
