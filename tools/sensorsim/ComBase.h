// Reference counting shared by the simulator's COM objects; every live object is counted
// so that tests can see that clients release what they get.
#pragma once

#include <windows.h>

extern volatile LONG g_liveObjects;

template <class Interface, const IID* InterfaceId>
class ComObject : public Interface {
public:
    ComObject() : m_references(1) { InterlockedIncrement(&g_liveObjects); }
    virtual ~ComObject() { InterlockedDecrement(&g_liveObjects); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, *InterfaceId)) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return (ULONG)InterlockedIncrement(&m_references); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG count = InterlockedDecrement(&m_references);
        if (count == 0) delete this;
        return (ULONG)count;
    }
    // Takes a reference only while the object is still alive (for weak lists).
    bool AddRefIfAlive()
    {
        for (;;) {
            LONG count = m_references;
            if (count <= 0) return false;
            if (InterlockedCompareExchange(&m_references, count + 1, count) == count) return true;
        }
    }

private:
    volatile LONG m_references;
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
