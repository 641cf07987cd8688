// Reference counting shared by the simulator's COM objects; every live object is counted
// so that tests can see that clients release what they get.
#pragma once

#include <windows.h>

#include "platform/ComObject.h"

extern volatile LONG g_liveObjects;

template <class Interface, const IID* InterfaceId>
class ComObject : public ComObjectBase<Interface, InterfaceId> {
public:
    ComObject() { InterlockedIncrement(&g_liveObjects); }
    ~ComObject() override { InterlockedDecrement(&g_liveObjects); }

    // Takes a reference only while the object is still alive (for weak lists).
    bool AddRefIfAlive()
    {
        for (;;) {
            LONG count = this->m_references;
            if (count <= 0) return false;
            if (InterlockedCompareExchange(&this->m_references, count + 1, count) == count) return true;
        }
    }
};

// Holds a critical section for one scope.
class SectionLock {
public:
    explicit SectionLock(CRITICAL_SECTION& section) : m_section(section) { EnterCriticalSection(&m_section); }
    ~SectionLock() { LeaveCriticalSection(&m_section); }
    SectionLock(const SectionLock&) = delete;
    SectionLock& operator=(const SectionLock&) = delete;

private:
    CRITICAL_SECTION& m_section;
};
