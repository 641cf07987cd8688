// Published names of sensor keys and GUIDs, and the texts shown for them.
#pragma once

#include <windows.h>
#include <propsys.h>

#include "common/WideString.h"

struct PropertyKeyName {
    PROPERTYKEY key;
    const wchar_t* name;
};

struct GuidName {
    GUID guid;
    const wchar_t* name;
};

// Data value keys: the names the tree shows.
extern const PropertyKeyName PropertyKeyNames[];
extern const int PropertyKeyNameCount;
// Sensor property keys and event parameters.
extern const PropertyKeyName SensorPropertyNames[];
extern const int SensorPropertyNameCount;
// Sensor types, categories, events and the platform's other GUIDs.
extern const GuidName SensorGuidNames[];
extern const int SensorGuidNameCount;

bool SameKey(const PROPERTYKEY& a, const PROPERTYKEY& b);
// The table's name of a key, or null.
const wchar_t* LookupKeyName(const PROPERTYKEY& key);
// The text shown for a key: its table name (or "{GUID}.pid" when it has none) without the
// published prefixes, with blanks for underscores.
int DisplayName(const wchar_t* tableName, const PROPERTYKEY& key, WideString& text);

// A key or GUID of any of the tables by its published name; false when none has it.
bool KeyByName(const wchar_t* name, PROPERTYKEY& key);
bool GuidByName(const wchar_t* name, GUID& guid);
// The text shown for a sensor property: a property name without "SENSOR_PROPERTY_" or
// "PKEY_Sensor_" (or a
// data key as the tree names it), with blanks for underscores; "{GUID}.pid" when unknown.
int PropertyDisplayName(const PROPERTYKEY& key, WideString& text);
// The text shown for a type, category or other GUID: its name without "SENSOR_TYPE_" or
// "SENSOR_CATEGORY_", with blanks for underscores; "{GUID}" when unknown.
int GuidDisplayName(const GUID& guid, WideString& text);
