#include "common/Timing.h"

#include <mmsystem.h>

#include "sysinfo/WindowsVersion.h"

namespace {

typedef ULONGLONG(WINAPI* TickCount64Function)();

ULONGLONG WINAPI TickCountWidened()
{
    return (ULONGLONG)GetTickCount();
}

// The system's 64-bit tick count where it has one, looked up once: the count is read with
// every sensor event. Threads that look it up at the same moment find the same answer.
TickCount64Function volatile g_tickCount64 = nullptr;

}  // namespace

ULONGLONG TickCount64()
{
    TickCount64Function function = g_tickCount64;
    if (!function) {
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        function = kernel ? (TickCount64Function)(void*)GetProcAddress(kernel, "GetTickCount64") : nullptr;
        if (!function) function = TickCountWidened;
        g_tickCount64 = function;
    }
    return function();
}

Stopwatch::Stopwatch() : m_frequency(0), m_start(0), m_elapsed(0)
{
    if (IsWindowsAtLeast(0x2000, 0)) {
        LARGE_INTEGER frequency;
        LARGE_INTEGER probe;
        if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0 && QueryPerformanceCounter(&probe))
            m_frequency = (ULONGLONG)frequency.QuadPart;
    }
}

ULONGLONG Stopwatch::Now() const
{
    if (m_frequency) {
        LARGE_INTEGER count;
        QueryPerformanceCounter(&count);
        return (ULONGLONG)count.QuadPart;
    }
    return (ULONGLONG)timeGetTime();
}

void Stopwatch::Start()
{
    m_start = Now();
    m_elapsed = 0;
}

void Stopwatch::Stop()
{
    ULONGLONG now = Now();
    // timeGetTime wraps after 49.7 days; the 32-bit difference stays right across it.
    m_elapsed = m_frequency ? now - m_start : (ULONGLONG)(DWORD)((DWORD)now - (DWORD)m_start);
}

ULONGLONG Stopwatch::Milliseconds() const
{
    if (!m_frequency) return m_elapsed;
    return m_elapsed / m_frequency * 1000 + m_elapsed % m_frequency * 1000 / m_frequency;
}

ULONGLONG Stopwatch::Microseconds() const
{
    if (!m_frequency) return m_elapsed * 1000;
    return m_elapsed / m_frequency * 1000000 + m_elapsed % m_frequency * 1000000 / m_frequency;
}
