#include "sensors/PropertyKeyNames.h"

#include <string.h>

bool SameKey(const PROPERTYKEY& a, const PROPERTYKEY& b)
{
    return a.pid == b.pid && memcmp(&a.fmtid, &b.fmtid, sizeof(GUID)) == 0;
}

const wchar_t* LookupKeyName(const PROPERTYKEY& key)
{
    for (int i = 0; i < PropertyKeyNameCount; i++)
        if (SameKey(PropertyKeyNames[i].key, key)) return PropertyKeyNames[i].name;
    return nullptr;
}

int DisplayName(const wchar_t* tableName, const PROPERTYKEY& key, WideString& text)
{
    if (!text.Assign(tableName)) return 0;
    if (text.IsEmpty()) {
        wchar_t guid[128];
        if (!StringFromGUID2(key.fmtid, guid, 128)) guid[0] = L'\0';
        if (!text.Format(L"%s.%u", guid, (unsigned)key.pid)) return 0;
    }
    // The longer prefix goes first, so that no "SAMPLE_" is left behind.
    return text.ReplaceAll(L"SAMPLE_SENSOR_DATA_TYPE_", L"") && text.ReplaceAll(L"SENSOR_DATA_TYPE_", L"") &&
           text.ReplaceAll(L"PKEY_SensorData_", L"") && text.Replace(L'_', L' ');
}
