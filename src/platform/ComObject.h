// Reference counting and interface lookup for COM objects that offer one interface
// (besides IUnknown): event sinks, value collections and the like.
#pragma once

#include <windows.h>
#include <unknwn.h>

// An object made with a reference count of 1; the last Release deletes it. Interface
// lookup answers IUnknown and InterfaceId, both as Interface.
template <class Interface, const IID* InterfaceId>
class ComObjectBase : public Interface {
public:
    ComObjectBase() : m_references(1) {}
    virtual ~ComObjectBase() {}
    ComObjectBase(const ComObjectBase&) = delete;
    ComObjectBase& operator=(const ComObjectBase&) = delete;

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

protected:
    volatile LONG m_references;
};
