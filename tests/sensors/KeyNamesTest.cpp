#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "sensors/PropertyKeyNames.h"
#include "sensors/SensorManager.h"

namespace {

PROPERTYKEY Key(const wchar_t* guid, DWORD pid)
{
    PROPERTYKEY key;
    CLSIDFromString(guid, &key.fmtid);
    key.pid = pid;
    return key;
}

std::wstring Shown(const PROPERTYKEY& key)
{
    WideString text;
    EXPECT_EQ(1, DisplayName(LookupKeyName(key), key, text));
    return text.Text();
}

}  // namespace

TEST(PropertyKeyNames, TableHas236DistinctKeysIn14Runs)
{
    ASSERT_EQ(236, PropertyKeyNameCount);
    std::set<std::wstring> keys;
    int runs = 0;
    for (int i = 0; i < PropertyKeyNameCount; i++) {
        const PROPERTYKEY& key = PropertyKeyNames[i].key;
        wchar_t text[80];
        StringFromGUID2(key.fmtid, text, 80);
        keys.insert(std::wstring(text) + L"." + std::to_wstring(key.pid));
        if (i == 0 || !IsEqualGUID(key.fmtid, PropertyKeyNames[i - 1].key.fmtid)) runs++;
        EXPECT_EQ(PropertyKeyNames + i, std::find_if(PropertyKeyNames, PropertyKeyNames + PropertyKeyNameCount,
                                                     [&](const PropertyKeyName& row) { return SameKey(row.key, key); }));
    }
    EXPECT_EQ(236u, keys.size());
    EXPECT_EQ(14, runs);
}

TEST(PropertyKeyNames, DisplayNamesFollowTheRule)
{
    const wchar_t* location = L"{055C74D8-CA6F-47D6-95C6-1ED3637A0FF4}";
    EXPECT_EQ(L"LATITUDE DEGREES", Shown(Key(location, 2)));
    EXPECT_EQ(L"HORIZONAL DILUTION OF PRECISION", Shown(Key(location, 13))) << "the published spelling";
    EXPECT_EQ(L"LIGHT CHROMACITY", Shown(Key(L"{E4C77CE2-DCB7-46E9-8439-4FEC548833A6}", 4)));
    EXPECT_EQ(L"SECOND", Shown(Key(L"{340946F2-9A77-42B0-8176-57D4DF00E5CA}", 4))) << "no SAMPLE left";
    const wchar_t* sensorData = L"{C458F8A7-4AE8-4777-9607-2E9BDD65110A}";
    EXPECT_EQ(L"AccelerationX Gs", Shown(Key(sensorData, 10)));
    EXPECT_EQ(L"HingeAngle", Shown(Key(sensorData, 300)));
    const wchar_t* properties = L"{D4247382-969D-4F24-BB14-FB9671870BBF}";
    EXPECT_EQ(L"PKEY Sensor Type", Shown(Key(properties, 2)));
    EXPECT_EQ(L"PKEY SensorDataField Resolution", Shown(Key(properties, 50)));
    EXPECT_EQ(L"TIMESTAMP", Shown(Key(L"{DB5E0CF2-CF1F-4C18-B46C-D86011D62150}", 2)));
}

TEST(PropertyKeyNames, UnknownKeysShowTheirGuidAndId)
{
    PROPERTYKEY unknownId = Key(L"{DB5E0CF2-CF1F-4C18-B46C-D86011D62150}", 3);
    EXPECT_EQ(nullptr, LookupKeyName(unknownId)) << "a known GUID with another id is not found";
    EXPECT_EQ(L"{DB5E0CF2-CF1F-4C18-B46C-D86011D62150}.3", Shown(unknownId));
    EXPECT_EQ(L"{8E4F0B31-9C1D-4E3A-A1B2-C3D4E5F60718}.4294967295",
              Shown(Key(L"{8E4F0B31-9C1D-4E3A-A1B2-C3D4E5F60718}", 0xFFFFFFFF)));
}

TEST(PropertyKeyNames, PrefixesGoEverywhereTheyOccur)
{
    PROPERTYKEY key = Key(L"{8E4F0B31-9C1D-4E3A-A1B2-C3D4E5F60718}", 1);
    WideString text;
    ASSERT_EQ(1, DisplayName(L"SENSOR_DATA_TYPE_A_SENSOR_DATA_TYPE_B", key, text));
    EXPECT_STREQ(L"A B", text.Text());
    ASSERT_EQ(1, DisplayName(L"SENSOR_DATA_SENSOR_DATA_TYPE_TYPE_X", key, text));
    EXPECT_STREQ(L"X", text.Text()) << "a removal that forms a new prefix removes that too";
    ASSERT_EQ(1, DisplayName(L"sensor_data_type_lower", key, text));
    EXPECT_STREQ(L"sensor data type lower", text.Text()) << "matching is case-sensitive";
    ASSERT_EQ(1, DisplayName(L"", key, text));
    EXPECT_STREQ(L"{8E4F0B31-9C1D-4E3A-A1B2-C3D4E5F60718}.1", text.Text()) << "an empty name takes the fallback";
}

TEST(PropertyKeyNames, CacheAnswersWhatTheRuleGivesForAnyNumberOfKeys)
{
    // Every table key, then many unknown keys that share a GUID and differ in their id
    // (more than the cache keeps), each asked for twice in a mixed order.
    std::vector<PROPERTYKEY> keys;
    for (int i = 0; i < PropertyKeyNameCount; i++) keys.push_back(PropertyKeyNames[i].key);
    for (DWORD pid = 0; pid < 5000; pid++) keys.push_back(Key(L"{8E4F0B31-9C1D-4E3A-A1B2-C3D4E5F60718}", pid * 7919u));
    KeyNameCache cache;
    WideString name;
    for (int pass = 0; pass < 2; pass++) {
        for (size_t n = 0; n < keys.size(); n++) {
            const PROPERTYKEY& key = keys[pass == 0 ? n : keys.size() - 1 - n];
            cache.Name(key, name);
            ASSERT_EQ(Shown(key), std::wstring(name.Text())) << "key " << n << " pass " << pass;
        }
    }
    EXPECT_EQ(4096u, cache.Size()) << "bounded";
}
