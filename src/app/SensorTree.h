// What the sensor tree shows, decided apart from the tree control.
#pragma once

#include <windows.h>

#include <vector>

#include "common/WideString.h"

// A sensor as the tree shows it: its name and its values' names and texts.
struct SensorSnapshot {
    GUID id = GUID_NULL;  // not shown; what a sensor's own window is opened for
    WideString name;
    std::vector<WideString> fieldNames;
    std::vector<WideString> fieldTexts;
    std::vector<char> fieldNumeric;  // not shown; whether a value can be plotted
};

enum TreeImage { RootImage = 0, SensorImage = 1, ValueImage = 2 };

struct TreeRow {
    int level;         // 0 root, 1 sensor or note, 2 value
    WideString text;   // cells separated by a tab; a trailing vertical tab spans the row
    int image;
    bool hasChildren;
    bool select;
};

// The part of a row's text that names it: the text up to its first cell separator or
// span marker.
void SelectionKey(const wchar_t* rowText, WideString& key);

// Which row was selected, in terms that survive a rebuild: a name alone is not enough,
// since every sensor has values of the same names and two sensors may share a name.
struct RowIdentity {
    int level = -1;           // -1 none, 0 the root, 1 a sensor, 2 a value
    int sensorPosition = -1;  // the sensor's place among the sensor rows (levels 1 and 2)
    int namesakesBefore = 0;  // sensor rows of the same name before it
    WideString sensorName;    // as SelectionKey gives it
    WideString valueName;     // level 2
};

// The sensor that is `identity`'s: the one of that name with as many namesakes before it
// (so sensors that come or go elsewhere move nothing, and namesakes never swap); when
// fewer namesakes are left, the one of that name nearest to the old position; -1 when no
// sensor has the name.
int FindSensor(const std::vector<SensorSnapshot>& sensors, const RowIdentity& identity);

// The rows of the whole tree, in insertion order; at most one is marked for selection
// (the empty note always is).
// What `rows` already holds is written over: its strings keep their buffers.
void BuildTreeRows(const std::vector<SensorSnapshot>& sensors, const RowIdentity& selected, bool windows7OrLater,
                   std::vector<TreeRow>& rows);
