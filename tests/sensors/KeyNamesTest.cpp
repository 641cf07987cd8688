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

#include "sensors/SensorDetails.h"

TEST(SensorNames, PropertiesTypesAndCategoriesFromTheOneTable)
{
    // Every name of every table leads back to its own key or GUID, and no name is given twice.
    std::set<std::wstring> names;
    for (int i = 0; i < PropertyKeyNameCount; i++) names.insert(PropertyKeyNames[i].name);
    for (int i = 0; i < SensorPropertyNameCount; i++) {
        PROPERTYKEY key;
        ASSERT_TRUE(KeyByName(SensorPropertyNames[i].name, key)) << SensorPropertyNames[i].name;
        EXPECT_TRUE(SameKey(key, SensorPropertyNames[i].key));
        EXPECT_TRUE(names.insert(SensorPropertyNames[i].name).second) << SensorPropertyNames[i].name;
        EXPECT_EQ(nullptr, LookupKeyName(key)) << "the tree's names of data keys stay as they are";
    }
    for (int i = 0; i < SensorGuidNameCount; i++) {
        GUID guid;
        ASSERT_TRUE(GuidByName(SensorGuidNames[i].name, guid)) << SensorGuidNames[i].name;
        EXPECT_TRUE(IsEqualGUID(guid, SensorGuidNames[i].guid));
        EXPECT_TRUE(names.insert(SensorGuidNames[i].name).second) << SensorGuidNames[i].name;
    }
    PROPERTYKEY key;
    GUID guid;
    EXPECT_FALSE(KeyByName(L"SENSOR_PROPERTY_NOTHING", key));
    EXPECT_FALSE(KeyByName(nullptr, key));
    EXPECT_FALSE(GuidByName(L"SENSOR_TYPE_NOTHING", guid));
    ASSERT_TRUE(KeyByName(L"SENSOR_DATA_TYPE_LATITUDE_DEGREES", key)) << "data keys too";

    // Shown as data keys are: the published prefix goes, blanks for underscores.
    WideString text;
    ASSERT_TRUE(KeyByName(L"SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL", key));
    ASSERT_EQ(1, PropertyDisplayName(key, text));
    EXPECT_STREQ(L"CURRENT REPORT INTERVAL", text.Text());
    ASSERT_TRUE(KeyByName(L"PKEY_Sensor_MinimumDataInterval_Ms", key));
    ASSERT_EQ(1, PropertyDisplayName(key, text));
    EXPECT_STREQ(L"MinimumDataInterval Ms", text.Text());
    ASSERT_TRUE(KeyByName(L"SENSOR_DATA_TYPE_LATITUDE_DEGREES", key));
    ASSERT_EQ(1, PropertyDisplayName(key, text));
    EXPECT_STREQ(L"LATITUDE DEGREES", text.Text()) << "a data key as the tree names it";
    PROPERTYKEY unknown = Key(L"{6C0000FF-1111-2222-3333-444444444444}", 7);
    ASSERT_EQ(1, PropertyDisplayName(unknown, text));
    EXPECT_STREQ(L"{6C0000FF-1111-2222-3333-444444444444}.7", text.Text());
    ASSERT_TRUE(GuidByName(L"SENSOR_TYPE_ACCELEROMETER_3D", guid));
    ASSERT_EQ(1, GuidDisplayName(guid, text));
    EXPECT_STREQ(L"ACCELEROMETER 3D", text.Text());
    ASSERT_TRUE(GuidByName(L"SENSOR_CATEGORY_ENVIRONMENTAL", guid));
    ASSERT_EQ(1, GuidDisplayName(guid, text));
    EXPECT_STREQ(L"ENVIRONMENTAL", text.Text());
    ASSERT_EQ(1, GuidDisplayName(unknown.fmtid, text));
    EXPECT_STREQ(L"{6C0000FF-1111-2222-3333-444444444444}", text.Text());
}

TEST(SensorDetails, StateWordsAndIntervalInput)
{
    const wchar_t* words[] = {L"Ready", L"Not available", L"No data", L"Initializing", L"Access denied", L"Error"};
    WideString word;
    for (long state = 0; state < 6; state++) {
        ASSERT_EQ(1, StateWord(state, word));
        EXPECT_STREQ(words[state], word.Text());
    }
    StateWord(6, word);
    EXPECT_STREQ(L"6", word.Text());
    StateWord(-1, word);
    EXPECT_STREQ(L"-1", word.Text());

    const struct {
        const wchar_t* typed;
        int accepted;
        DWORD value;
    } cases[] = {
        {L"0", 1, 0},           {L"16", 1, 16},         {L"\t 250 ", 1, 250}, {L"4294967295", 1, 0xFFFFFFFF},
        {L"007", 1, 7},         {L"4294967296", 0, 0},  {L"", 0, 0},          {L"   ", 0, 0},
        {L"+5", 0, 0},          {L"-0", 0, 0},          {L"1e3", 0, 0},       {L"1 000", 0, 0},
        {L"\x0661\x0662", 0, 0}, {L"18446744073709551617", 0, 0},
    };
    for (const auto& c : cases) {
        DWORD value = 12345;
        WideString problem;
        EXPECT_EQ(c.accepted, ParseReportInterval(c.typed, value, problem)) << c.typed;
        if (c.accepted) {
            EXPECT_EQ(c.value, value) << c.typed;
            EXPECT_TRUE(problem.IsEmpty());
        } else {
            EXPECT_EQ(12345u, value) << "untouched: " << c.typed;
            EXPECT_FALSE(problem.IsEmpty()) << c.typed;
        }
    }
    DWORD none = 0;
    EXPECT_EQ(0, ParseReportInterval(nullptr, none, word)) << "no text at all";
}
