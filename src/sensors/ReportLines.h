// A data report as lines of a recording: one line per value.
#pragma once

#include <windows.h>
#include <sensorsapi.h>

#include <string>
#include <utility>
#include <vector>

#include "common/WideString.h"

class KeyNameCache;

// The recording's header line.
extern const wchar_t RecordingHeader[];

// Makes the lines of one sensor's reports: "Time,Sensor,Sensor ID,Item,Value" — the
// report's time stamp (else its arrival, both UTC) as local ISO 8601 with milliseconds, the
// sensor's name and ID, the value's name as the tree shows it, and the value: its number
// with a "." and every digit it needs to read back exactly, or else its text as the tree
// shows it. Fields are quoted for a comma-separated file; the lines are UTF-8, each ending
// in CR LF.
//
// What stays the same from one report to the next (the sensor's fields, its values' names,
// the local time's offset from UTC) is made once and kept, since a fast sensor sends a
// thousand reports a second. One formatter serves one thread at a time.
class ReportFormatter {
public:
    ReportFormatter();
    // The sensor whose reports follow.
    void SetSensor(const wchar_t* name, const GUID& id);
    const GUID& Sensor() const { return m_id; }
    // Appends one line per value of `report` to `lines`; answers how many.
    size_t Append(ISensorDataReport* report, const FILETIME& arrival, KeyNameCache& names, std::string& lines);

private:
    // More distinct keys than this in one sensor's reports are named afresh each time.
    static const size_t MaxItems = 256;
    bool LocalTime(const FILETIME& utc, SYSTEMTIME& local);
    const std::string& ItemField(DWORD index, const PROPERTYKEY& key, KeyNameCache& names);

    GUID m_id;
    std::string m_sensorFields;  // ",name,id," between the time and the item
    std::vector<std::pair<PROPERTYKEY, std::string>> m_items;  // keys and their fields, ended by ","
    std::string m_spare;        // an item field not kept
    WideString m_text;          // a value's text, its buffer kept from value to value
    ULONGLONG m_slot;           // the quarter hour of UTC the offset was taken in
    LONGLONG m_offset;          // local time minus UTC, in 100 ns
};
