// The portable-device value store and key collection the sensor interfaces hand out.
#pragma once

#include <windows.h>
#include <portabledevicetypes.h>

#include <vector>

#include "ComBase.h"
#include "sensors/PropertyKeyNames.h"

class ValueStore : public ComObject<IPortableDeviceValues, &IID_IPortableDeviceValues> {
public:
    ValueStore();
    ~ValueStore() override;

    // Makes GetAt fail for one index (a value the platform cannot hand out).
    void FailAt(DWORD index);

    HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override;
    HRESULT STDMETHODCALLTYPE GetAt(const DWORD index, PROPERTYKEY* key, PROPVARIANT* value) override;
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, const PROPVARIANT* value) override;
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override;
    HRESULT STDMETHODCALLTYPE SetStringValue(REFPROPERTYKEY key, LPCWSTR value) override;
    HRESULT STDMETHODCALLTYPE GetStringValue(REFPROPERTYKEY key, LPWSTR* value) override;
    HRESULT STDMETHODCALLTYPE SetUnsignedIntegerValue(REFPROPERTYKEY key, const ULONG value) override;
    HRESULT STDMETHODCALLTYPE GetUnsignedIntegerValue(REFPROPERTYKEY key, ULONG* value) override;
    HRESULT STDMETHODCALLTYPE SetSignedIntegerValue(REFPROPERTYKEY key, const LONG value) override;
    HRESULT STDMETHODCALLTYPE GetSignedIntegerValue(REFPROPERTYKEY key, LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetUnsignedLargeIntegerValue(REFPROPERTYKEY key, const ULONGLONG value) override;
    HRESULT STDMETHODCALLTYPE GetUnsignedLargeIntegerValue(REFPROPERTYKEY key, ULONGLONG* value) override;
    HRESULT STDMETHODCALLTYPE SetSignedLargeIntegerValue(REFPROPERTYKEY key, const LONGLONG value) override;
    HRESULT STDMETHODCALLTYPE GetSignedLargeIntegerValue(REFPROPERTYKEY key, LONGLONG* value) override;
    HRESULT STDMETHODCALLTYPE SetFloatValue(REFPROPERTYKEY key, const FLOAT value) override;
    HRESULT STDMETHODCALLTYPE GetFloatValue(REFPROPERTYKEY key, FLOAT* value) override;
    HRESULT STDMETHODCALLTYPE SetErrorValue(REFPROPERTYKEY key, const HRESULT value) override;
    HRESULT STDMETHODCALLTYPE GetErrorValue(REFPROPERTYKEY key, HRESULT* value) override;
    HRESULT STDMETHODCALLTYPE SetKeyValue(REFPROPERTYKEY key, REFPROPERTYKEY value) override;
    HRESULT STDMETHODCALLTYPE GetKeyValue(REFPROPERTYKEY key, PROPERTYKEY* value) override;
    HRESULT STDMETHODCALLTYPE SetBoolValue(REFPROPERTYKEY key, const WINBOOL value) override;
    HRESULT STDMETHODCALLTYPE GetBoolValue(REFPROPERTYKEY key, WINBOOL* value) override;
    HRESULT STDMETHODCALLTYPE SetIUnknownValue(REFPROPERTYKEY key, IUnknown* value) override;
    HRESULT STDMETHODCALLTYPE GetIUnknownValue(REFPROPERTYKEY key, IUnknown** value) override;
    HRESULT STDMETHODCALLTYPE SetGuidValue(REFPROPERTYKEY key, REFGUID value) override;
    HRESULT STDMETHODCALLTYPE GetGuidValue(REFPROPERTYKEY key, GUID* value) override;
    HRESULT STDMETHODCALLTYPE SetBufferValue(REFPROPERTYKEY key, BYTE* value, DWORD size) override;
    HRESULT STDMETHODCALLTYPE GetBufferValue(REFPROPERTYKEY key, BYTE** value, DWORD* size) override;
    HRESULT STDMETHODCALLTYPE SetIPortableDeviceValuesValue(REFPROPERTYKEY, IPortableDeviceValues*) override;
    HRESULT STDMETHODCALLTYPE GetIPortableDeviceValuesValue(REFPROPERTYKEY, IPortableDeviceValues**) override;
    HRESULT STDMETHODCALLTYPE SetIPortableDevicePropVariantCollectionValue(
        REFPROPERTYKEY, IPortableDevicePropVariantCollection*) override;
    HRESULT STDMETHODCALLTYPE GetIPortableDevicePropVariantCollectionValue(
        REFPROPERTYKEY, IPortableDevicePropVariantCollection**) override;
    HRESULT STDMETHODCALLTYPE SetIPortableDeviceKeyCollectionValue(REFPROPERTYKEY,
                                                                   IPortableDeviceKeyCollection*) override;
    HRESULT STDMETHODCALLTYPE GetIPortableDeviceKeyCollectionValue(REFPROPERTYKEY,
                                                                   IPortableDeviceKeyCollection**) override;
    HRESULT STDMETHODCALLTYPE SetIPortableDeviceValuesCollectionValue(REFPROPERTYKEY,
                                                                      IPortableDeviceValuesCollection*) override;
    HRESULT STDMETHODCALLTYPE GetIPortableDeviceValuesCollectionValue(REFPROPERTYKEY,
                                                                      IPortableDeviceValuesCollection**) override;
    HRESULT STDMETHODCALLTYPE RemoveValue(REFPROPERTYKEY key) override;
    HRESULT STDMETHODCALLTYPE CopyValuesFromPropertyStore(IPropertyStore* store) override;
    HRESULT STDMETHODCALLTYPE CopyValuesToPropertyStore(IPropertyStore* store) override;
    HRESULT STDMETHODCALLTYPE Clear() override;

private:
    struct Entry {
        PROPERTYKEY key;
        PROPVARIANT value;
        bool failAt;
    };
    Entry* Find(REFPROPERTYKEY key);
    HRESULT Typed(REFPROPERTYKEY key, VARTYPE type, PROPVARIANT& value);

    CRITICAL_SECTION m_lock;
    std::vector<Entry> m_entries;
};

class KeyCollection : public ComObject<IPortableDeviceKeyCollection, &IID_IPortableDeviceKeyCollection> {
public:
    HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override;
    HRESULT STDMETHODCALLTYPE GetAt(const DWORD index, PROPERTYKEY* key) override;
    HRESULT STDMETHODCALLTYPE Add(REFPROPERTYKEY key) override;
    HRESULT STDMETHODCALLTYPE Clear() override;
    HRESULT STDMETHODCALLTYPE RemoveAt(const DWORD index) override;

private:
    std::vector<PROPERTYKEY> m_keys;
};

