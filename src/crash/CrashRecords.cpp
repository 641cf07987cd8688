#include "crash/CrashRecords.h"

namespace {

HANDLE volatile g_recordHeap = nullptr;
volatile LONG g_heapTried = 0;

HANDLE RecordHeap()
{
    PrepareCrashHeap();
    return g_recordHeap ? g_recordHeap : GetProcessHeap();
}

}  // namespace

void PrepareCrashHeap()
{
    // Tried once: records must always go back to the heap they came from.
    if (InterlockedExchange(&g_heapTried, 1)) return;
    HANDLE heap = HeapCreate(0, 0, 0);
    if (heap && InterlockedCompareExchangePointer((void* volatile*)&g_recordHeap, heap, nullptr) != nullptr)
        HeapDestroy(heap);
}

void* CrashRecord::operator new(size_t size) noexcept
{
    return HeapAlloc(RecordHeap(), HEAP_ZERO_MEMORY, size);
}

void CrashRecord::operator delete(void* block) noexcept
{
    if (block) HeapFree(RecordHeap(), 0, block);
}

ULONGLONG ReportedAddress(ULONGLONG address)
{
    return (address >> 32) == 0xFFFFFFFF ? (address & 0xFFFFFFFF) : address;
}
