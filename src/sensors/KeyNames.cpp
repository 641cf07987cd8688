#include "sensors/PropertyKeyNames.h"

#include <string.h>
#include <wchar.h>

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

bool KeyByName(const wchar_t* name, PROPERTYKEY& key)
{
    if (!name) return false;
    const PropertyKeyName* tables[2] = {PropertyKeyNames, SensorPropertyNames};
    const int counts[2] = {PropertyKeyNameCount, SensorPropertyNameCount};
    for (int t = 0; t < 2; t++)
        for (int i = 0; i < counts[t]; i++)
            if (wcscmp(tables[t][i].name, name) == 0) {
                key = tables[t][i].key;
                return true;
            }
    return false;
}

bool GuidByName(const wchar_t* name, GUID& guid)
{
    if (!name) return false;
    for (int i = 0; i < SensorGuidNameCount; i++)
        if (wcscmp(SensorGuidNames[i].name, name) == 0) {
            guid = SensorGuidNames[i].guid;
            return true;
        }
    return false;
}

int PropertyDisplayName(const PROPERTYKEY& key, WideString& text)
{
    const wchar_t* name = nullptr;
    for (int i = 0; i < SensorPropertyNameCount && !name; i++)
        if (SameKey(SensorPropertyNames[i].key, key)) name = SensorPropertyNames[i].name;
    if (!name) name = LookupKeyName(key);
    // A property's published prefix goes as a data key's does; other names follow the
    // data keys' rule.
    const wchar_t* rest = nullptr;
    if (name && wcsncmp(name, L"SENSOR_PROPERTY_", 16) == 0) rest = name + 16;
    if (name && wcsncmp(name, L"PKEY_Sensor_", 12) == 0) rest = name + 12;
    if (rest) return text.Assign(rest) && text.Replace(L'_', L' ');
    return DisplayName(name, key, text);
}

int GuidDisplayName(const GUID& guid, WideString& text)
{
    for (int i = 0; i < SensorGuidNameCount; i++)
        if (IsEqualGUID(SensorGuidNames[i].guid, guid))
            return text.Assign(SensorGuidNames[i].name) && text.ReplaceAll(L"SENSOR_TYPE_", L"") &&
                   text.ReplaceAll(L"SENSOR_CATEGORY_", L"") && text.Replace(L'_', L' ');
    wchar_t printed[64];
    if (!StringFromGUID2(guid, printed, 64)) printed[0] = L'\0';
    return text.Assign(printed);
}
