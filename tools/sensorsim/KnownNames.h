// Published names of sensor GUIDs and property keys, for scenarios.
#pragma once

#include <windows.h>
#include <propsys.h>

struct NamedGuid {
    const wchar_t* name;
    const GUID* guid;
};
struct NamedKey {
    const wchar_t* name;
    const PROPERTYKEY* key;
};

extern const NamedGuid KnownGuids[];
extern const int KnownGuidCount;
extern const NamedKey KnownKeys[];
extern const int KnownKeyCount;
