// What the sensor tree shows, decided apart from the tree control.
#pragma once

#include <windows.h>

#include <vector>

#include "common/WideString.h"

// A sensor as the tree shows it: its name and its values' names and texts.
struct SensorSnapshot {
    WideString name;
    std::vector<WideString> fieldNames;
    std::vector<WideString> fieldTexts;
};

enum TreeImage { RootImage = 0, SensorImage = 1, ValueImage = 2 };

struct TreeRow {
    int level;         // 0 root, 1 sensor or note, 2 value
    WideString text;   // cells separated by a tab; a trailing vertical tab spans the row
    int image;
    bool hasChildren;
    bool select;
};

// The part of a selected row's text that identifies it across rebuilds: the text up to
// its first cell separator or span marker.
void SelectionKey(const wchar_t* rowText, WideString& key);

// The rows of the whole tree, in insertion order.
void BuildTreeRows(const std::vector<SensorSnapshot>& sensors, const WideString& key, bool windows7OrLater,
                   std::vector<TreeRow>& rows);
