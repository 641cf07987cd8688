// Lists every sensor the platform's sensor service reports, with its current values, using
// nothing but the ordinary Sensor API calls. Handy to see what a machine (or the simulator)
// offers.
#include <windows.h>
#include <propsys.h>
#include <propvarutil.h>
#include <sensors.h>
#include <sensorsapi.h>
#include <stdio.h>

namespace {

void PrintGuid(const GUID& guid)
{
    wchar_t text[64];
    StringFromGUID2(guid, text, 64);
    wprintf(L"%ls", text);
}

void PrintValue(const PROPVARIANT& value)
{
    switch (value.vt) {
    case VT_EMPTY: wprintf(L"(empty)"); break;
    case VT_R4: wprintf(L"%f", value.fltVal); break;
    case VT_R8: wprintf(L"%f", value.dblVal); break;
    case VT_I4: wprintf(L"%ld", value.lVal); break;
    case VT_UI4: wprintf(L"%lu", value.ulVal); break;
    case VT_BOOL: wprintf(L"%ls", value.boolVal ? L"true" : L"false"); break;
    case VT_LPWSTR: wprintf(L"\"%ls\"", value.pwszVal ? value.pwszVal : L""); break;
    case VT_CLSID: PrintGuid(*value.puuid); break;
    case VT_FILETIME: {
        SYSTEMTIME time;
        FileTimeToSystemTime(&value.filetime, &time);
        wprintf(L"%04u-%02u-%02u %02u:%02u:%02u UTC", time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
                time.wSecond);
        break;
    }
    default:
        if (value.vt & VT_VECTOR)
            wprintf(L"vector of type %u, %lu elements", value.vt & VT_TYPEMASK, value.caub.cElems);
        else
            wprintf(L"type %u", value.vt);
    }
}

}  // namespace

int wmain()
{
    HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(result)) return 2;
    CLSID clsid;
    ISensorManager* manager = nullptr;
    if (FAILED(CLSIDFromProgID(L"SensorsApi.SensorManager.1", &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_ISensorManager, (void**)&manager))) {
        wprintf(L"No sensor service.\n");
        CoUninitialize();
        return 1;
    }
    ISensorCollection* sensors = nullptr;
    ULONG count = 0;
    if (FAILED(manager->GetSensorsByCategory(SENSOR_CATEGORY_ALL, &sensors)) || FAILED(sensors->GetCount(&count)))
        count = 0;
    wprintf(L"%lu sensors\n", count);
    for (ULONG i = 0; i < count; i++) {
        ISensor* sensor = nullptr;
        if (FAILED(sensors->GetAt(i, &sensor))) {
            wprintf(L"[%lu] cannot be fetched\n", i);
            continue;
        }
        BSTR name = nullptr;
        sensor->GetFriendlyName(&name);
        GUID category = GUID_NULL;
        sensor->GetCategory(&category);
        wprintf(L"[%lu] %ls  category ", i, name ? name : L"(no name)");
        PrintGuid(category);
        wprintf(L"\n");
        SysFreeString(name);
        ISensorDataReport* report = nullptr;
        IPortableDeviceValues* values = nullptr;
        DWORD fields = 0;
        if (SUCCEEDED(sensor->GetData(&report)) && SUCCEEDED(report->GetSensorValues(nullptr, &values)))
            values->GetCount(&fields);
        else
            wprintf(L"    (no data)\n");
        for (DWORD f = 0; f < fields; f++) {
            PROPERTYKEY key;
            PROPVARIANT value;
            PropVariantInit(&value);
            if (FAILED(values->GetAt(f, &key, &value))) continue;
            wprintf(L"    ");
            PrintGuid(key.fmtid);
            wprintf(L",%lu = ", key.pid);
            PrintValue(value);
            wprintf(L"\n");
            PropVariantClear(&value);
        }
        if (values) values->Release();
        if (report) report->Release();
        sensor->Release();
    }
    if (sensors) sensors->Release();
    manager->Release();
    CoUninitialize();
    return 0;
}
