#include "sensors/SensorDetails.h"

#include <new>
#include <portabledevicetypes.h>
#include <propvarutil.h>
#include <wchar.h>

#include "common/SystemErrorText.h"
#include "platform/ComObject.h"
#include "sensors/PropertyKeyNames.h"
#include "sensors/ValueText.h"

namespace {

const IID ValuesId = {0x6848F6F2, 0x3155, 0x4F86, {0xB6, 0xF5, 0x26, 0x3E, 0xEE, 0xAB, 0x31, 0x43}};
const CLSID ValuesClass = {0x0C15D503, 0xD017, 0x47CE, {0x90, 0x16, 0x7B, 0x3F, 0x97, 0x87, 0x21, 0xCC}};
const PROPERTYKEY CurrentReportInterval = {
    {0x7F8383EC, 0xD3EC, 0x495C, {0xA8, 0xCF, 0xB8, 0xBB, 0xE8, 0x5C, 0x29, 0x20}}, 13};

// The values of one request, for systems without the platform's own value collection. It
// holds keys with values and answers the generic calls; typed calls other than unsigned
// integers are not needed for a request and answer E_NOTIMPL.
class RequestValues : public ComObjectBase<IPortableDeviceValues, &ValuesId> {
public:
    RequestValues() {}
    virtual ~RequestValues() { Clear(); }

    HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override
    {
        if (!count) return E_POINTER;
        *count = (DWORD)m_entries.size();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAt(const DWORD index, PROPERTYKEY* key, PROPVARIANT* value) override
    {
        if (index >= m_entries.size()) return E_INVALIDARG;
        if (key) *key = m_entries[index].key;
        return value ? PropVariantCopy(value, &m_entries[index].value) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, const PROPVARIANT* value) override
    {
        if (!value) return E_POINTER;
        PROPVARIANT copy;
        PropVariantInit(&copy);
        HRESULT result = PropVariantCopy(&copy, value);
        if (FAILED(result)) return result;
        RemoveValue(key);
        try {
            m_entries.push_back({key, copy});
        } catch (...) {
            PropVariantClear(&copy);
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override
    {
        if (!value) return E_POINTER;
        for (Entry& entry : m_entries)
            if (SameKey(entry.key, key)) return PropVariantCopy(value, &entry.value);
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }
    HRESULT STDMETHODCALLTYPE SetUnsignedIntegerValue(REFPROPERTYKEY key, const ULONG value) override
    {
        PROPVARIANT variant;
        PropVariantInit(&variant);
        variant.vt = VT_UI4;
        variant.ulVal = value;
        return SetValue(key, &variant);
    }
    HRESULT STDMETHODCALLTYPE GetUnsignedIntegerValue(REFPROPERTYKEY key, ULONG* value) override
    {
        if (!value) return E_POINTER;
        for (Entry& entry : m_entries)
            if (SameKey(entry.key, key)) {
                if (entry.value.vt != VT_UI4) return DISP_E_TYPEMISMATCH;
                *value = entry.value.ulVal;
                return S_OK;
            }
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }
    HRESULT STDMETHODCALLTYPE RemoveValue(REFPROPERTYKEY key) override
    {
        for (size_t i = 0; i < m_entries.size(); i++)
            if (SameKey(m_entries[i].key, key)) {
                PropVariantClear(&m_entries[i].value);
                m_entries.erase(m_entries.begin() + (ptrdiff_t)i);
                return S_OK;
            }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clear() override
    {
        for (Entry& entry : m_entries) PropVariantClear(&entry.value);
        m_entries.clear();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetStringValue(REFPROPERTYKEY, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStringValue(REFPROPERTYKEY, LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSignedIntegerValue(REFPROPERTYKEY, const LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSignedIntegerValue(REFPROPERTYKEY, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetUnsignedLargeIntegerValue(REFPROPERTYKEY, const ULONGLONG) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetUnsignedLargeIntegerValue(REFPROPERTYKEY, ULONGLONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSignedLargeIntegerValue(REFPROPERTYKEY, const LONGLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSignedLargeIntegerValue(REFPROPERTYKEY, LONGLONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetFloatValue(REFPROPERTYKEY, const FLOAT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFloatValue(REFPROPERTYKEY, FLOAT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetErrorValue(REFPROPERTYKEY, const HRESULT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetErrorValue(REFPROPERTYKEY, HRESULT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetKeyValue(REFPROPERTYKEY, REFPROPERTYKEY) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetKeyValue(REFPROPERTYKEY, PROPERTYKEY*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetBoolValue(REFPROPERTYKEY, const WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBoolValue(REFPROPERTYKEY, WINBOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetIUnknownValue(REFPROPERTYKEY, IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIUnknownValue(REFPROPERTYKEY, IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetGuidValue(REFPROPERTYKEY, REFGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetGuidValue(REFPROPERTYKEY, GUID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetBufferValue(REFPROPERTYKEY, BYTE*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBufferValue(REFPROPERTYKEY, BYTE**, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetIPortableDeviceValuesValue(REFPROPERTYKEY, IPortableDeviceValues*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIPortableDeviceValuesValue(REFPROPERTYKEY, IPortableDeviceValues**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetIPortableDevicePropVariantCollectionValue(
        REFPROPERTYKEY, IPortableDevicePropVariantCollection*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIPortableDevicePropVariantCollectionValue(
        REFPROPERTYKEY, IPortableDevicePropVariantCollection**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetIPortableDeviceKeyCollectionValue(REFPROPERTYKEY,
                                                                   IPortableDeviceKeyCollection*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIPortableDeviceKeyCollectionValue(REFPROPERTYKEY,
                                                                   IPortableDeviceKeyCollection**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetIPortableDeviceValuesCollectionValue(REFPROPERTYKEY,
                                                                      IPortableDeviceValuesCollection*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIPortableDeviceValuesCollectionValue(REFPROPERTYKEY,
                                                                      IPortableDeviceValuesCollection**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CopyValuesFromPropertyStore(IPropertyStore*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyValuesToPropertyStore(IPropertyStore*) override { return E_NOTIMPL; }

private:
    struct Entry {
        PROPERTYKEY key;
        PROPVARIANT value;
    };
    std::vector<Entry> m_entries;
};

// Rows are written over in place: a window that refreshes every second keeps its buffers.
DetailRow& NextRow(std::vector<DetailRow>& rows, size_t& used)
{
    if (used == rows.size()) rows.emplace_back();
    return rows[used++];
}

}  // namespace

int StateWord(long state, WideString& word)
{
    static const wchar_t* const Words[] = {L"Ready",        L"Not available", L"No data",
                                           L"Initializing", L"Access denied", L"Error"};
    if (state >= 0 && state < (long)(sizeof(Words) / sizeof(Words[0]))) return word.Assign(Words[state]);
    return word.Format(L"%ld", state);
}

int ResultText(HRESULT result, WideString& text)
{
    wchar_t message[ErrorTextCapacity] = L"";
    SystemErrorText((DWORD)result, message, ErrorTextCapacity);
    if (message[0]) return text.Format(L"%s (0x%08lX)", message, (unsigned long)result);
    return text.Format(L"Error 0x%08lX", (unsigned long)result);
}

size_t ReadSensorDetails(ISensor* sensor, std::vector<DetailRow>& rows)
{
    size_t used = 0;
    if (!sensor) {
        rows.clear();
        return 0;
    }
    SensorState state = SENSOR_STATE_ERROR;
    DetailRow& stateRow = NextRow(rows, used);
    stateRow.name.Assign(L"State");
    HRESULT result = sensor->GetState(&state);
    if (SUCCEEDED(result))
        StateWord((long)state, stateRow.text);
    else
        ResultText(result, stateRow.text);

    // Its GUIDs: the ID as it is, the type and category by their published names.
    typedef HRESULT (STDMETHODCALLTYPE ISensor::*GuidGetter)(GUID*);
    const struct {
        const wchar_t* name;
        GuidGetter get;
        bool published;
    } identity[] = {{L"ID", &ISensor::GetID, false},
                    {L"Type", &ISensor::GetType, true},
                    {L"Category", &ISensor::GetCategory, true}};
    for (const auto& part : identity) {
        DetailRow& row = NextRow(rows, used);
        row.name.Assign(part.name);
        GUID guid = GUID_NULL;
        wchar_t printed[64] = L"";
        if (FAILED((sensor->*part.get)(&guid)))
            row.text.Clear();
        else if (part.published)
            GuidDisplayName(guid, row.text);
        else
            row.text.Assign(StringFromGUID2(guid, printed, 64) ? printed : L"");
    }

    IPortableDeviceValues* values = nullptr;
    result = sensor->GetProperties(nullptr, &values);
    DWORD count = 0;
    if (FAILED(result) || !values || FAILED(result = values->GetCount(&count))) {
        DetailRow& error = NextRow(rows, used);
        error.name.Assign(L"Properties");
        ResultText(FAILED(result) ? result : E_POINTER, error.text);
    } else {
        for (DWORD i = 0; i < count; i++) {
            PROPERTYKEY key;
            PROPVARIANT value;
            PropVariantInit(&value);
            if (FAILED(values->GetAt(i, &key, &value))) continue;
            DetailRow& row = NextRow(rows, used);
            PropertyDisplayName(key, row.name);
            ValueTextOnly(value, row.text);
            PropVariantClear(&value);
        }
    }
    if (values) values->Release();
    rows.resize(used);
    return used;
}

int ParseReportInterval(const wchar_t* text, DWORD& value, WideString& problem)
{
    problem.Clear();
    const wchar_t* start = text ? text : L"";
    while (*start == L' ' || *start == L'\t') start++;
    const wchar_t* end = start + wcslen(start);
    while (end > start && (end[-1] == L' ' || end[-1] == L'\t')) end--;
    if (start == end) {
        problem.Assign(L"Type the report interval in milliseconds (0 for the sensor's default).");
        return 0;
    }
    unsigned long long number = 0;
    for (const wchar_t* at = start; at < end; at++) {
        if (*at < L'0' || *at > L'9') {
            problem.Assign(L"The report interval must be a whole number of milliseconds, without signs or separators.");
            return 0;
        }
        number = number * 10 + (unsigned)(*at - L'0');
        if (number > 0xFFFFFFFFull) {
            problem.Assign(L"The report interval can be at most 4294967295 milliseconds.");
            return 0;
        }
    }
    value = (DWORD)number;
    return 1;
}

int SetReportInterval(ISensor* sensor, DWORD milliseconds, WideString& answer)
{
    answer.Clear();
    if (!sensor) return 0;
    IPortableDeviceValues* request = nullptr;
    // The platform's own collection where it exists; this program's otherwise.
    if (FAILED(CoCreateInstance(ValuesClass, nullptr, CLSCTX_INPROC_SERVER, ValuesId, (void**)&request)) || !request)
        request = new (std::nothrow) RequestValues();
    if (!request) {
        ResultText(E_OUTOFMEMORY, answer);
        return 0;
    }
    HRESULT result = request->SetUnsignedIntegerValue(CurrentReportInterval, milliseconds);
    IPortableDeviceValues* results = nullptr;
    if (SUCCEEDED(result)) result = sensor->SetProperties(request, &results);
    request->Release();

    // The sensor answers per key: an error value for a key it did not take.
    HRESULT keyResult = S_OK;
    if (results) {
        PROPVARIANT answered;
        PropVariantInit(&answered);
        if (SUCCEEDED(results->GetValue(CurrentReportInterval, &answered)) && answered.vt == VT_ERROR)
            keyResult = answered.scode;
        PropVariantClear(&answered);
        results->Release();
    }
    if (FAILED(keyResult) || FAILED(result)) {
        WideString reason;
        ResultText(FAILED(keyResult) ? keyResult : result, reason);
        answer.Format(L"The sensor refused %lu ms: %s", (unsigned long)milliseconds, reason.Text());
        return 0;
    }
    PROPVARIANT now;
    PropVariantInit(&now);
    result = sensor->GetProperty(CurrentReportInterval, &now);
    if (SUCCEEDED(result) && now.vt == VT_UI4)
        answer.Format(L"The sensor now reports every %lu ms.", (unsigned long)now.ulVal);
    else
        answer.Format(L"The sensor accepted %lu ms.", (unsigned long)milliseconds);
    PropVariantClear(&now);
    return 1;
}
