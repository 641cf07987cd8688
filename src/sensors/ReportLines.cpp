#include "sensors/ReportLines.h"

#include <propvarutil.h>

#include "common/CsvText.h"
#include "sensors/SensorManager.h"
#include "sensors/ValueNumber.h"
#include "sensors/ValueText.h"

const wchar_t RecordingHeader[] = L"Time,Sensor,Sensor ID,Item,Value";

namespace {

// The local time of a UTC file time as ISO 8601 text; empty when it has none.
void LocalTimeText(const FILETIME& utc, wchar_t* text, int capacity)
{
    FILETIME local;
    SYSTEMTIME parts;
    text[0] = L'\0';
    if (FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &parts))
        FormatIsoLocalTime(parts, text, capacity);
}

}  // namespace

size_t AppendReportLines(const wchar_t* sensorName, const GUID& sensorId, ISensorDataReport* report,
                         const FILETIME& arrival, KeyNameCache& names, std::vector<std::wstring>& lines)
{
    if (!report) return 0;
    FILETIME when = arrival;
    SYSTEMTIME stamp;
    FILETIME stamped;
    if (SUCCEEDED(report->GetTimestamp(&stamp)) && stamp.wYear && SystemTimeToFileTime(&stamp, &stamped))
        when = stamped;
    wchar_t time[40];
    LocalTimeText(when, time, 40);
    wchar_t id[64] = L"";
    StringFromGUID2(sensorId, id, 64);
    // What every line of this report begins with.
    std::wstring start;
    AppendCsvField(start, time);
    start += L',';
    AppendCsvField(start, sensorName);
    start += L',';
    AppendCsvField(start, id);
    start += L',';

    IPortableDeviceValues* values = nullptr;
    DWORD count = 0;
    size_t appended = 0;
    if (FAILED(report->GetSensorValues(nullptr, &values)) || !values || FAILED(values->GetCount(&count))) count = 0;
    WideString name, text;
    for (DWORD i = 0; i < count; i++) {
        PROPERTYKEY key;
        PROPVARIANT value;
        PropVariantInit(&value);
        if (FAILED(values->GetAt(i, &key, &value))) continue;
        names.Name(key, name);
        double number = 0;
        wchar_t digits[40];
        if (ValueNumber(value, number) && FormatInvariantNumber(number, digits, 40, value.vt == VT_R4)) {
            text.Assign(digits);
        } else {
            ValueTextOnly(value, text);
        }
        PropVariantClear(&value);
        std::wstring line = start;
        AppendCsvField(line, name.Text());
        line += L',';
        AppendCsvField(line, text.Text());
        lines.push_back(std::move(line));
        appended++;
    }
    if (values) values->Release();
    return appended;
}
