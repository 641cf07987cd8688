// What the dump library reports of the crashed process: its modules and threads.
#pragma once

#include <windows.h>

#include "common/LockedList.h"

// Records are made while the dump library holds every other thread suspended, one of
// which may hold the process heap's lock: they come from a heap of their own.
class CrashRecord : public LockedListItem {
public:
    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;
};

// Creates the records' heap (done before the dump; later calls do nothing).
void PrepareCrashHeap();

struct ModuleRecord : CrashRecord {
    ULONGLONG base = 0;  // a high half of 0xFFFFFFFF is stored as 0
    DWORD imageSize = 0;
    DWORD checksum = 0;
    DWORD timeStamp = 0;  // seconds since 1970-01-01 UTC
    VS_FIXEDFILEINFO version = {};
    wchar_t path[MAX_PATH] = {};
};

struct ThreadRecord : CrashRecord {
    DWORD id = 0;
    ULONGLONG stackBase = 0;
    ULONGLONG stackEnd = 0;
    char name[100] = {};
    DWORD startAddress = 0;
};

typedef LockedList<ModuleRecord> ModuleList;
typedef LockedList<ThreadRecord> ThreadList;

// A 64-bit address as the reports keep it: a high half of 0xFFFFFFFF counts as 0.
ULONGLONG ReportedAddress(ULONGLONG address);
