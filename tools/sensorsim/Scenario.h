// A simulated sensor world: the sensors, their values and a timeline, read from a
// line-oriented text (see README.md).
#pragma once

#include <windows.h>
#include <propsys.h>

#include <string>
#include <vector>

enum class Generator { Constant, Sine, Walk, Counter, Now };

struct ValueDefinition {
    PROPERTYKEY key;
    VARTYPE type;           // VT_R4, VT_R8, VT_LPWSTR, VT_I4, VT_UI4, VT_BOOL, VT_ERROR, VT_FILETIME, VT_CLSID,
                            // VT_EMPTY, or VT_VECTOR with VT_UI1, VT_R8 or VT_UI4
    Generator generator;
    double number;          // constant, sine offset, walk start, counter start
    double amplitude;       // sine amplitude, walk step, counter step
    double period;          // sine period in milliseconds
    std::wstring text;      // VT_LPWSTR constant
    GUID guid;              // VT_CLSID constant
    std::vector<double> elements;  // vector constant
    bool failAt;            // the value store's GetAt fails for this value
};

enum class NameKind { Text, None, Fail };

struct SensorDefinition {
    GUID id;
    GUID category;
    GUID type;
    NameKind nameKind;
    std::wstring name;
    int state;              // SensorState
    DWORD interval;         // milliseconds between data events; 0 for none
    bool present;           // present at the start
    bool failGetData;
    bool failCollectionIndex;
    bool failProperties;    // GetProperty and GetProperties fail
    std::vector<ValueDefinition> values;
    std::vector<ValueDefinition> properties;  // constants; they override the defaults
};

enum class TimelineKind { Enter, Leave, State, Event, Property };

struct TimelineEntry {
    DWORD at;               // milliseconds from the start
    TimelineKind kind;
    int sensor;             // index into Scenario::sensors
    int state;              // for State
    GUID event;             // for Event
    ValueDefinition property;  // for Property: the key and its new constant value
};

struct Scenario {
    std::vector<SensorDefinition> sensors;
    std::vector<TimelineEntry> timeline;  // sorted by time, stable

    // Parses a scenario; on failure answers 0 and describes the first error with its line.
    int Parse(const std::wstring& text, std::wstring& error);
    int FindSensor(const GUID& id) const;
};

// Helpers the parser uses, open for tests.
int ParseGuidText(const std::wstring& text, GUID& guid);
int ParseKeyText(const std::wstring& text, PROPERTYKEY& key);
int ParseStateText(const std::wstring& text, int& state);
// The type of a property every sensor has (manufacturer, model, serial number, intervals),
// or VT_EMPTY for any other key.
VARTYPE DefaultPropertyType(const PROPERTYKEY& key);
