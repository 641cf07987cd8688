#include "sensors/ValueText.h"

#include <propvarutil.h>

#include "sysinfo/WindowsVersion.h"

namespace {

VARTYPE SafeArrayElement(VARTYPE element)
{
    switch (element) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_I8: case VT_UI8:
    case VT_R4: case VT_R8: case VT_BOOL: case VT_ERROR: case VT_DATE: case VT_CY: case VT_INT: case VT_UINT:
        return element;
    case VT_LPWSTR: case VT_LPSTR: case VT_BSTR:
        return VT_BSTR;
    case VT_FILETIME:
        return VT_DATE;
    case VT_CLSID:
        return VT_BSTR;
    default:
        return VT_EMPTY;
    }
}

size_t ElementSize(VARTYPE element)
{
    switch (element) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_R4: case VT_ERROR: case VT_INT: case VT_UINT: return 4;
    default: return 8;
    }
}

HRESULT FileTimeToDate(const FILETIME& time, DATE& date)
{
    SYSTEMTIME system;
    if (!FileTimeToSystemTime(&time, &system) || !SystemTimeToVariantTime(&system, &date)) return DISP_E_OVERFLOW;
    return S_OK;
}

HRESULT GuidText(const GUID& guid, BSTR& text)
{
    wchar_t buffer[64];
    if (!StringFromGUID2(guid, buffer, 64)) return E_FAIL;
    text = SysAllocString(buffer);
    return text ? S_OK : E_OUTOFMEMORY;
}

HRESULT VectorToArray(const PROPVARIANT& source, VARIANT& target)
{
    VARTYPE element = source.vt & VT_TYPEMASK;
    VARTYPE arrayType = SafeArrayElement(element);
    if (arrayType == VT_EMPTY) return DISP_E_BADVARTYPE;
    ULONG count = source.caub.cElems;
    if (count && !source.caub.pElems) return E_INVALIDARG;
    SAFEARRAY* array = SafeArrayCreateVector(arrayType, 0, count);
    if (!array) return E_OUTOFMEMORY;
    void* data = nullptr;
    HRESULT result = SafeArrayAccessData(array, &data);
    for (ULONG i = 0; SUCCEEDED(result) && i < count; i++) {
        switch (element) {
        case VT_LPWSTR:
            ((BSTR*)data)[i] = SysAllocString(source.calpwstr.pElems[i] ? source.calpwstr.pElems[i] : L"");
            if (!((BSTR*)data)[i]) result = E_OUTOFMEMORY;
            break;
        case VT_LPSTR: {
            const char* narrow = source.calpstr.pElems[i] ? source.calpstr.pElems[i] : "";
            WideString wide;
            if (!wide.AssignNarrow(narrow)) result = E_OUTOFMEMORY;
            else if (!(((BSTR*)data)[i] = wide.DetachBstr())) result = E_OUTOFMEMORY;
            break;
        }
        case VT_BSTR:
            ((BSTR*)data)[i] = SysAllocStringLen(source.cabstr.pElems[i], SysStringLen(source.cabstr.pElems[i]));
            if (!((BSTR*)data)[i]) result = E_OUTOFMEMORY;
            break;
        case VT_FILETIME:
            result = FileTimeToDate(source.cafiletime.pElems[i], ((DATE*)data)[i]);
            break;
        case VT_CLSID:
            result = GuidText(source.cauuid.pElems[i], ((BSTR*)data)[i]);
            break;
        default: {
            size_t size = ElementSize(element);
            memcpy((BYTE*)data + i * size, (const BYTE*)source.caub.pElems + i * size, size);
        }
        }
    }
    if (data) SafeArrayUnaccessData(array);
    if (FAILED(result)) {
        SafeArrayDestroy(array);
        return result;
    }
    V_VT(&target) = VT_ARRAY | arrayType;
    V_ARRAY(&target) = array;
    return S_OK;
}

typedef HRESULT(WINAPI* PropVariantToVariantFunction)(const PROPVARIANT*, VARIANT*);

// Which conversion values go through, decided once for the process. The first values
// arrive on several platform threads at once, so the decision is taken by whichever comes
// first while the others wait for it; propsys, once loaded, stays loaded for the process,
// since any thread may be converting at any time.
struct ConversionChoice {
    volatile LONG state;  // 0 undecided, -1 being decided, 1 platform, 2 own conversion, 3 missing
    PropVariantToVariantFunction function;
    volatile LONG decisions;
};
ConversionChoice g_conversion = {0, nullptr, 0};

LONG DecideConversion()
{
    if (InterlockedCompareExchange(&g_conversion.state, -1, 0) == 0) {
        InterlockedIncrement(&g_conversion.decisions);
        LONG state = 3;
        // Wine's propsys exports a stub under that name that ends the process when called.
        if (IsWine()) {
            state = 2;
        } else {
            UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
            HMODULE propsys = LoadLibraryW(L"propsys.dll");
            SetErrorMode(previous);
            g_conversion.function =
                propsys ? (PropVariantToVariantFunction)(void*)GetProcAddress(propsys, "PropVariantToVariant") : nullptr;
            if (g_conversion.function) state = 1;
        }
        InterlockedExchange(&g_conversion.state, state);
        return state;
    }
    LONG state;
    while ((state = InterlockedCompareExchange(&g_conversion.state, 0, 0)) == -1) Sleep(0);
    return state;
}

// The platform's conversion, or null where it must not or cannot be used.
PropVariantToVariantFunction PlatformConversion(bool& missing)
{
    LONG state = InterlockedCompareExchange(&g_conversion.state, 0, 0);
    if (state <= 0) state = DecideConversion();
    missing = state == 3;
    return state == 1 ? g_conversion.function : nullptr;
}

}  // namespace

LONG ValueConversionDecisions()
{
    return g_conversion.decisions;
}

void ForgetValueConversion()
{
    InterlockedExchange(&g_conversion.decisions, 0);
    InterlockedExchange(&g_conversion.state, 0);
}

HRESULT ConvertPropVariant(const PROPVARIANT& source, VARIANT& target)
{
    VariantInit(&target);
    if (source.vt & VT_VECTOR) return VectorToArray(source, target);
    switch (source.vt) {
    case VT_EMPTY: case VT_NULL:
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_I8: case VT_UI8:
    case VT_R4: case VT_R8: case VT_BOOL: case VT_ERROR: case VT_DATE: case VT_CY: case VT_INT: case VT_UINT:
    case VT_DECIMAL:
        memcpy(&target, &source, sizeof(VARIANT));
        return S_OK;
    case VT_BSTR:
    case VT_LPWSTR: {
        const wchar_t* text = source.vt == VT_BSTR ? source.bstrVal : source.pwszVal;
        BSTR copy = source.vt == VT_BSTR ? SysAllocStringLen(text, SysStringLen(source.bstrVal))
                                         : SysAllocString(text ? text : L"");
        if (!copy) return E_OUTOFMEMORY;
        V_VT(&target) = VT_BSTR;
        V_BSTR(&target) = copy;
        return S_OK;
    }
    case VT_LPSTR: {
        WideString wide;
        if (!wide.AssignNarrow(source.pszVal)) return E_OUTOFMEMORY;
        BSTR copy = wide.DetachBstr();
        if (!copy) return E_OUTOFMEMORY;
        V_VT(&target) = VT_BSTR;
        V_BSTR(&target) = copy;
        return S_OK;
    }
    case VT_FILETIME: {
        DATE date;
        HRESULT result = FileTimeToDate(source.filetime, date);
        if (FAILED(result)) return result;
        V_VT(&target) = VT_DATE;
        V_DATE(&target) = date;
        return S_OK;
    }
    case VT_CLSID: {
        if (!source.puuid) return E_INVALIDARG;
        BSTR text = nullptr;
        HRESULT result = GuidText(*source.puuid, text);
        if (FAILED(result)) return result;
        V_VT(&target) = VT_BSTR;
        V_BSTR(&target) = text;
        return S_OK;
    }
    case VT_UNKNOWN: case VT_DISPATCH:
        V_VT(&target) = source.vt;
        V_UNKNOWN(&target) = source.punkVal;
        if (source.punkVal) source.punkVal->AddRef();
        return S_OK;
    default:
        return DISP_E_BADVARTYPE;
    }
}

void VariantText(const VARIANT& variant, WideString& text)
{
    text.Clear();
    VARTYPE type = V_VT(&variant);
    if (type == VT_R4 || type == VT_R8) {
        double number = type == VT_R4 ? (double)V_R4(&variant) : V_R8(&variant);
        if (!text.Format(L"%f", number)) throw ValueConversionError{E_OUTOFMEMORY};
        return;
    }
    if (type & VT_ARRAY) return;
    if (type == VT_BSTR) {
        if (V_BSTR(&variant) && !text.Assign(V_BSTR(&variant), (int)SysStringLen(V_BSTR(&variant))))
            throw ValueConversionError{E_OUTOFMEMORY};
        return;
    }
    VARIANT converted;
    VariantInit(&converted);
    HRESULT result = VariantChangeType(&converted, const_cast<VARIANT*>(&variant), 0, VT_BSTR);
    if (FAILED(result)) {
        VariantClear(&converted);
        throw ValueConversionError{result};
    }
    bool ok = !V_BSTR(&converted) || text.Assign(V_BSTR(&converted), (int)SysStringLen(V_BSTR(&converted)));
    VariantClear(&converted);
    if (!ok) throw ValueConversionError{E_OUTOFMEMORY};
}

void FormatValue(const PROPVARIANT& value, VARIANT& variant, WideString& text)
{
    VariantClear(&variant);
    bool missing = false;
    PropVariantToVariantFunction platform = PlatformConversion(missing);
    if (platform)
        platform(&value, &variant);
    else if (!missing && FAILED(ConvertPropVariant(value, variant)))
        VariantInit(&variant);
    VariantText(variant, text);
}

void ValueTextOnly(const PROPVARIANT& value, WideString& text)
{
    VARIANT variant;
    VariantInit(&variant);
    try {
        FormatValue(value, variant, text);
    } catch (const ValueConversionError&) {
        text.Clear();
    }
    VariantClear(&variant);
}
