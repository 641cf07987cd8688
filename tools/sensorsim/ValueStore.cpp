#include "ValueStore.h"

#include <propvarutil.h>

namespace {

const HRESULT NotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);

}  // namespace

ValueStore::ValueStore()
{
    InitializeCriticalSection(&m_lock);
}

ValueStore::~ValueStore()
{
    Clear();
    DeleteCriticalSection(&m_lock);
}

void ValueStore::FailAt(DWORD index)
{
    SectionLock lock(m_lock);
    if (index < m_entries.size()) m_entries[index].failAt = true;
}

ValueStore::Entry* ValueStore::Find(REFPROPERTYKEY key)
{
    for (Entry& entry : m_entries)
        if (SameKey(entry.key, key)) return &entry;
    return nullptr;
}

HRESULT STDMETHODCALLTYPE ValueStore::GetCount(DWORD* count)
{
    if (!count) return E_POINTER;
    SectionLock lock(m_lock);
    *count = (DWORD)m_entries.size();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValueStore::GetAt(const DWORD index, PROPERTYKEY* key, PROPVARIANT* value)
{
    SectionLock lock(m_lock);
    if (index >= m_entries.size()) return E_INVALIDARG;
    const Entry& entry = m_entries[index];
    if (entry.failAt) return E_FAIL;
    if (key) *key = entry.key;
    if (value) {
        PropVariantInit(value);
        return PropVariantCopy(value, &entry.value);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValueStore::SetValue(REFPROPERTYKEY key, const PROPVARIANT* value)
{
    if (!value) return E_POINTER;
    PROPVARIANT copy;
    PropVariantInit(&copy);
    HRESULT result = PropVariantCopy(&copy, value);
    if (FAILED(result)) return result;
    SectionLock lock(m_lock);
    Entry* existing = Find(key);
    if (existing) {
        PropVariantClear(&existing->value);
        existing->value = copy;
        return S_OK;
    }
    Entry entry;
    entry.key = key;
    entry.value = copy;
    entry.failAt = false;
    try {
        m_entries.push_back(entry);
    } catch (...) {
        PropVariantClear(&copy);
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ValueStore::GetValue(REFPROPERTYKEY key, PROPVARIANT* value)
{
    if (!value) return E_POINTER;
    SectionLock lock(m_lock);
    PropVariantInit(value);
    Entry* entry = Find(key);
    if (!entry) return NotFound;
    return PropVariantCopy(value, &entry->value);
}

HRESULT ValueStore::Typed(REFPROPERTYKEY key, VARTYPE type, PROPVARIANT& value)
{
    PropVariantInit(&value);
    SectionLock lock(m_lock);
    Entry* entry = Find(key);
    if (!entry) return NotFound;
    if (entry->value.vt != type) return DISP_E_TYPEMISMATCH;
    return PropVariantCopy(&value, &entry->value);
}

HRESULT STDMETHODCALLTYPE ValueStore::SetStringValue(REFPROPERTYKEY key, LPCWSTR value)
{
    if (!value) return E_POINTER;
    PROPVARIANT v;
    v.vt = VT_LPWSTR;
    v.pwszVal = const_cast<LPWSTR>(value);
    return SetValue(key, &v);
}

HRESULT STDMETHODCALLTYPE ValueStore::GetStringValue(REFPROPERTYKEY key, LPWSTR* value)
{
    if (!value) return E_POINTER;
    PROPVARIANT v;
    HRESULT result = Typed(key, VT_LPWSTR, v);
    *value = SUCCEEDED(result) ? v.pwszVal : nullptr;
    return result;
}

#define SCALAR_ACCESSORS(Name, CType, Vt, Member)                                      \
    HRESULT STDMETHODCALLTYPE ValueStore::Set##Name(REFPROPERTYKEY key, const CType value) \
    {                                                                                  \
        PROPVARIANT v;                                                                 \
        PropVariantInit(&v);                                                           \
        v.vt = Vt;                                                                     \
        v.Member = value;                                                              \
        return SetValue(key, &v);                                                      \
    }                                                                                  \
    HRESULT STDMETHODCALLTYPE ValueStore::Get##Name(REFPROPERTYKEY key, CType* value)  \
    {                                                                                  \
        if (!value) return E_POINTER;                                                  \
        PROPVARIANT v;                                                                 \
        HRESULT result = Typed(key, Vt, v);                                            \
        if (SUCCEEDED(result)) *value = (CType)v.Member;                               \
        return result;                                                                 \
    }

SCALAR_ACCESSORS(UnsignedIntegerValue, ULONG, VT_UI4, ulVal)
SCALAR_ACCESSORS(SignedIntegerValue, LONG, VT_I4, lVal)
SCALAR_ACCESSORS(UnsignedLargeIntegerValue, ULONGLONG, VT_UI8, uhVal.QuadPart)
SCALAR_ACCESSORS(SignedLargeIntegerValue, LONGLONG, VT_I8, hVal.QuadPart)
SCALAR_ACCESSORS(FloatValue, FLOAT, VT_R4, fltVal)
SCALAR_ACCESSORS(ErrorValue, HRESULT, VT_ERROR, scode)

HRESULT STDMETHODCALLTYPE ValueStore::SetBoolValue(REFPROPERTYKEY key, const WINBOOL value)
{
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return SetValue(key, &v);
}

HRESULT STDMETHODCALLTYPE ValueStore::GetBoolValue(REFPROPERTYKEY key, WINBOOL* value)
{
    if (!value) return E_POINTER;
    PROPVARIANT v;
    HRESULT result = Typed(key, VT_BOOL, v);
    if (SUCCEEDED(result)) *value = v.boolVal ? TRUE : FALSE;
    return result;
}

HRESULT STDMETHODCALLTYPE ValueStore::SetGuidValue(REFPROPERTYKEY key, REFGUID value)
{
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = VT_CLSID;
    v.puuid = const_cast<GUID*>(&value);
    return SetValue(key, &v);
}

HRESULT STDMETHODCALLTYPE ValueStore::GetGuidValue(REFPROPERTYKEY key, GUID* value)
{
    if (!value) return E_POINTER;
    PROPVARIANT v;
    HRESULT result = Typed(key, VT_CLSID, v);
    if (SUCCEEDED(result)) {
        *value = *v.puuid;
        PropVariantClear(&v);
    }
    return result;
}

HRESULT STDMETHODCALLTYPE ValueStore::SetKeyValue(REFPROPERTYKEY, REFPROPERTYKEY)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ValueStore::GetKeyValue(REFPROPERTYKEY, PROPERTYKEY*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ValueStore::SetIUnknownValue(REFPROPERTYKEY key, IUnknown* value)
{
    if (!value) return E_POINTER;
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = VT_UNKNOWN;
    v.punkVal = value;
    return SetValue(key, &v);
}

HRESULT STDMETHODCALLTYPE ValueStore::GetIUnknownValue(REFPROPERTYKEY key, IUnknown** value)
{
    if (!value) return E_POINTER;
    PROPVARIANT v;
    HRESULT result = Typed(key, VT_UNKNOWN, v);
    *value = SUCCEEDED(result) ? v.punkVal : nullptr;
    return result;
}

HRESULT STDMETHODCALLTYPE ValueStore::SetBufferValue(REFPROPERTYKEY key, BYTE* value, DWORD size)
{
    if (!value && size) return E_POINTER;
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = VT_VECTOR | VT_UI1;
    v.caub.cElems = size;
    v.caub.pElems = value;
    return SetValue(key, &v);
}

HRESULT STDMETHODCALLTYPE ValueStore::GetBufferValue(REFPROPERTYKEY key, BYTE** value, DWORD* size)
{
    if (!value || !size) return E_POINTER;
    PROPVARIANT v;
    HRESULT result = Typed(key, VT_VECTOR | VT_UI1, v);
    *value = SUCCEEDED(result) ? v.caub.pElems : nullptr;
    *size = SUCCEEDED(result) ? v.caub.cElems : 0;
    return result;
}

HRESULT STDMETHODCALLTYPE ValueStore::SetIPortableDeviceValuesValue(REFPROPERTYKEY, IPortableDeviceValues*)
{
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE ValueStore::GetIPortableDeviceValuesValue(REFPROPERTYKEY, IPortableDeviceValues**)
{
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE ValueStore::SetIPortableDevicePropVariantCollectionValue(
    REFPROPERTYKEY, IPortableDevicePropVariantCollection*)
{
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE ValueStore::GetIPortableDevicePropVariantCollectionValue(
    REFPROPERTYKEY, IPortableDevicePropVariantCollection**)
{
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE ValueStore::SetIPortableDeviceKeyCollectionValue(REFPROPERTYKEY,
                                                                           IPortableDeviceKeyCollection*)
{
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE ValueStore::GetIPortableDeviceKeyCollectionValue(REFPROPERTYKEY,
                                                                           IPortableDeviceKeyCollection**)
{
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE ValueStore::SetIPortableDeviceValuesCollectionValue(REFPROPERTYKEY,
                                                                              IPortableDeviceValuesCollection*)
{
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE ValueStore::GetIPortableDeviceValuesCollectionValue(REFPROPERTYKEY,
                                                                              IPortableDeviceValuesCollection**)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ValueStore::RemoveValue(REFPROPERTYKEY key)
{
    SectionLock lock(m_lock);
    for (size_t i = 0; i < m_entries.size(); i++)
        if (SameKey(m_entries[i].key, key)) {
            PropVariantClear(&m_entries[i].value);
            m_entries.erase(m_entries.begin() + (ptrdiff_t)i);
            return S_OK;
        }
    return NotFound;
}

HRESULT STDMETHODCALLTYPE ValueStore::CopyValuesFromPropertyStore(IPropertyStore*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ValueStore::CopyValuesToPropertyStore(IPropertyStore*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ValueStore::Clear()
{
    SectionLock lock(m_lock);
    for (Entry& entry : m_entries) PropVariantClear(&entry.value);
    m_entries.clear();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE KeyCollection::GetCount(DWORD* count)
{
    if (!count) return E_POINTER;
    *count = (DWORD)m_keys.size();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE KeyCollection::GetAt(const DWORD index, PROPERTYKEY* key)
{
    if (!key) return E_POINTER;
    if (index >= m_keys.size()) return E_INVALIDARG;
    *key = m_keys[index];
    return S_OK;
}

HRESULT STDMETHODCALLTYPE KeyCollection::Add(REFPROPERTYKEY key)
{
    try {
        m_keys.push_back(key);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE KeyCollection::Clear()
{
    m_keys.clear();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE KeyCollection::RemoveAt(const DWORD index)
{
    if (index >= m_keys.size()) return E_INVALIDARG;
    m_keys.erase(m_keys.begin() + (ptrdiff_t)index);
    return S_OK;
}
