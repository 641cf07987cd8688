// COM initialisation of the calling thread for the lifetime of one object.
#pragma once

#include <windows.h>
#include <objbase.h>

class ComApartment {
public:
    static const DWORD ApartmentThreaded = 0x2;
    static const DWORD Multithreaded = 0x0;

    ComApartment() : m_initialised(false) {}
    ~ComApartment() { Release(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    // CoInitializeEx(mode | COINIT_DISABLE_OLE1DDE), late bound; when that is missing or
    // fails with anything but RPC_E_CHANGED_MODE, CoInitialize. Answers the result kept.
    HRESULT Initialise(DWORD mode);
    // Undoes a successful initialisation only.
    void Release();
    bool Initialised() const { return m_initialised; }

    // Creates an object by programmatic identifier or class id, in any kind of server.
    static HRESULT CreateByProgId(const wchar_t* progId, REFIID iid, void** object);
    static HRESULT CreateByClassId(REFCLSID clsid, REFIID iid, void** object);

private:
    bool m_initialised;
};

// Owns one COM interface pointer.
template <class T>
class ComPtr {
public:
    ComPtr() : m_pointer(nullptr) {}
    explicit ComPtr(T* pointer) : m_pointer(pointer) {}
    ComPtr(const ComPtr& other) : m_pointer(other.m_pointer)
    {
        if (m_pointer) m_pointer->AddRef();
    }
    ~ComPtr() { Reset(); }
    ComPtr& operator=(const ComPtr& other)
    {
        if (other.m_pointer) other.m_pointer->AddRef();
        Reset();
        m_pointer = other.m_pointer;
        return *this;
    }
    void Reset()
    {
        if (m_pointer) {
            T* old = m_pointer;
            m_pointer = nullptr;
            old->Release();
        }
    }
    T** Receive()
    {
        Reset();
        return &m_pointer;
    }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
    T* Detach()
    {
        T* pointer = m_pointer;
        m_pointer = nullptr;
        return pointer;
    }
    T* Get() const { return m_pointer; }
    T* operator->() const { return m_pointer; }
    explicit operator bool() const { return m_pointer != nullptr; }

private:
    T* m_pointer;
};
