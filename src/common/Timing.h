// Millisecond tick count and a stopwatch.
#pragma once

#include <windows.h>

// Milliseconds since system start: GetTickCount64 when the kernel exports it, else the
// 32-bit count widened with a zero high half.
ULONGLONG TickCount64();

class Stopwatch {
public:
    Stopwatch();
    void Start();
    void Stop();
    // Elapsed time between Start and Stop.
    ULONGLONG Milliseconds() const;
    ULONGLONG Microseconds() const;
    bool UsesPerformanceCounter() const { return m_frequency != 0; }

private:
    ULONGLONG Now() const;

    ULONGLONG m_frequency;  // 0: the count is in milliseconds
    ULONGLONG m_start;
    ULONGLONG m_elapsed;
};
