// A data report as lines of a recording: one line per value.
#pragma once

#include <windows.h>
#include <sensorsapi.h>

#include <string>
#include <vector>

class KeyNameCache;

// The recording's header line.
extern const wchar_t RecordingHeader[];

// Appends one line per value of `report`: "Time,Sensor,Sensor ID,Item,Value" — the report's
// time stamp (else `arrival`, both UTC) as local ISO 8601 with milliseconds, the sensor's
// name and ID, the value's name as the tree shows it, and the value: its number with a "."
// and every digit it needs to read back exactly, or else its text as the tree shows it.
// Fields are quoted for a comma-separated file. Answers the number of lines appended.
size_t AppendReportLines(const wchar_t* sensorName, const GUID& sensorId, ISensorDataReport* report,
                         const FILETIME& arrival, KeyNameCache& names, std::vector<std::wstring>& lines);
