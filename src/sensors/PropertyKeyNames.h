// Names of sensor property keys, and the text shown for a key.
#pragma once

#include <windows.h>
#include <propsys.h>

#include "common/WideString.h"

struct PropertyKeyName {
    PROPERTYKEY key;
    const wchar_t* name;
};

extern const PropertyKeyName PropertyKeyNames[];
extern const int PropertyKeyNameCount;

bool SameKey(const PROPERTYKEY& a, const PROPERTYKEY& b);
// The table's name of a key, or null.
const wchar_t* LookupKeyName(const PROPERTYKEY& key);
// The text shown for a key: its table name (or "{GUID}.pid" when it has none) without the
// published prefixes, with blanks for underscores.
int DisplayName(const wchar_t* tableName, const PROPERTYKEY& key, WideString& text);
