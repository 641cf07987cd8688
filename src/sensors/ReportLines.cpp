#include "sensors/ReportLines.h"

#include <propvarutil.h>

#include "common/CsvText.h"
#include "sensors/PropertyKeyNames.h"
#include "sensors/SensorManager.h"
#include "sensors/ValueNumber.h"
#include "sensors/ValueText.h"

const wchar_t RecordingHeader[] = L"Time,Sensor,Sensor ID,Item,Value";

namespace {

// A quarter of an hour in 100 ns: every time zone changes its offset at the start of one.
const ULONGLONG QuarterHour = 15ull * 60 * 10000000;

ULONGLONG Ticks(const FILETIME& time)
{
    return ((ULONGLONG)time.dwHighDateTime << 32) | time.dwLowDateTime;
}

FILETIME FileTime(ULONGLONG ticks)
{
    FILETIME time;
    time.dwLowDateTime = (DWORD)ticks;
    time.dwHighDateTime = (DWORD)(ticks >> 32);
    return time;
}

// A field as the file holds it: quoted where it must be, UTF-8.
void AppendField(std::string& out, const wchar_t* text)
{
    std::wstring field;
    AppendCsvField(field, text);
    AppendUtf8(out, field.data(), field.size());
}

}  // namespace

ReportFormatter::ReportFormatter() : m_id(GUID_NULL), m_slot(~0ull), m_offset(0) {}

void ReportFormatter::SetSensor(const wchar_t* name, const GUID& id)
{
    m_id = id;
    wchar_t idText[64] = L"";
    StringFromGUID2(id, idText, 64);
    m_sensorFields.assign(1, ',');
    AppendField(m_sensorFields, name);
    m_sensorFields += ',';
    AppendField(m_sensorFields, idText);
    m_sensorFields += ',';
}

bool ReportFormatter::LocalTime(const FILETIME& utc, SYSTEMTIME& local)
{
    ULONGLONG ticks = Ticks(utc);
    // The offset holds for the whole quarter hour, so it is asked for once in each.
    if (ticks / QuarterHour != m_slot) {
        FILETIME shifted;
        if (!FileTimeToLocalFileTime(&utc, &shifted)) return false;
        m_offset = (LONGLONG)(Ticks(shifted) - ticks);
        m_slot = ticks / QuarterHour;
    }
    FILETIME shifted = FileTime(ticks + (ULONGLONG)m_offset);
    return FileTimeToSystemTime(&shifted, &local) != 0;
}

const std::string& ReportFormatter::ItemField(DWORD index, const PROPERTYKEY& key, KeyNameCache& names)
{
    // A sensor sends its values in the same order report after report.
    if (index < m_items.size() && SameKey(m_items[index].first, key)) return m_items[index].second;
    for (const auto& item : m_items)
        if (SameKey(item.first, key)) return item.second;
    WideString name;
    names.Name(key, name);
    std::string field;
    AppendField(field, name.Text());
    field += ',';
    if (m_items.size() < MaxItems) {
        m_items.emplace_back(key, std::move(field));
        return m_items.back().second;
    }
    m_spare = std::move(field);
    return m_spare;
}

size_t ReportFormatter::Append(ISensorDataReport* report, const FILETIME& arrival, KeyNameCache& names,
                               std::string& lines)
{
    if (!report) return 0;
    FILETIME when = arrival;
    SYSTEMTIME stamp;
    FILETIME stamped;
    if (SUCCEEDED(report->GetTimestamp(&stamp)) && stamp.wYear && SystemTimeToFileTime(&stamp, &stamped))
        when = stamped;
    char time[32] = "";
    SYSTEMTIME local;
    int timeLength = LocalTime(when, local) ? FormatIsoLocalTime(local, time, 32) : 0;

    IPortableDeviceValues* values = nullptr;
    DWORD count = 0;
    size_t appended = 0;
    if (FAILED(report->GetSensorValues(nullptr, &values)) || !values || FAILED(values->GetCount(&count))) count = 0;
    for (DWORD i = 0; i < count; i++) {
        PROPERTYKEY key;
        PROPVARIANT value;
        PropVariantInit(&value);
        if (FAILED(values->GetAt(i, &key, &value))) continue;
        lines.append(time, (size_t)timeLength);
        lines += m_sensorFields;
        lines += ItemField(i, key, names);
        double number = 0;
        char digits[40];
        int length = 0;
        if (ValueNumber(value, number) && (length = FormatInvariantNumber(number, digits, 40, value.vt == VT_R4)) > 0) {
            lines.append(digits, (size_t)length);
        } else {
            ValueTextOnly(value, m_text);
            AppendField(lines, m_text.Text());
        }
        PropVariantClear(&value);
        lines += "\r\n";
        appended++;
    }
    if (values) values->Release();
    return appended;
}
