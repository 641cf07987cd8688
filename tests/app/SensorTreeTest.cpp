#include <gtest/gtest.h>

#include "app/MainDialog.h"
#include "app/SensorTree.h"
#include "harness/Harness.h"

namespace {

SensorSnapshot Sensor(const wchar_t* name, std::vector<std::pair<const wchar_t*, const wchar_t*>> fields)
{
    SensorSnapshot sensor;
    sensor.name = name;
    for (auto& field : fields) {
        sensor.fieldNames.push_back(WideString(field.first));
        sensor.fieldTexts.push_back(WideString(field.second));
    }
    return sensor;
}

std::wstring Describe(const std::vector<TreeRow>& rows)
{
    std::wstring text;
    for (const TreeRow& row : rows) {
        text += std::wstring((size_t)row.level, L' ') + row.text.Text() + L"|" + std::to_wstring(row.image) +
                (row.hasChildren ? L"+" : L"") + (row.select ? L"*" : L"") + L"\n";
    }
    return text;
}

}  // namespace

TEST(SensorTree, RowsInOrderWithTextsImagesAndChildren)
{
    std::vector<SensorSnapshot> sensors = {
        Sensor(L"Accel", {{L"X", L"0.100000"}, {L"Y", L""}}),
        Sensor(L"", {}),
    };
    std::vector<TreeRow> rows;
    BuildTreeRows(sensors, RowIdentity(), true, rows);
    EXPECT_EQ(L"Sensors|0+\n Accel\v|1+\n  X\t0.100000|2\n  Y\t|2\n \v|1\n", Describe(rows));
}

TEST(SensorTree, CellsEndAtTheirFirstNulAndOverlongRowsStayEmpty)
{
    // Values may carry NULs (a BSTR's length is its own); a row shows each text up to
    // its first one.
    SensorSnapshot sensor;
    sensor.name.Assign(L"Acc\0hidden", 10);
    sensor.fieldNames.push_back(WideString());
    sensor.fieldNames.back().Assign(L"X\0Y", 3);
    sensor.fieldTexts.push_back(WideString());
    sensor.fieldTexts.back().Assign(L"1.5\0 m", 6);
    // A row just as long as formatting it would give, and one character longer.
    int limit = WideString::LongestFormattedFromEmpty();
    WideString probe;
    std::wstring longest((size_t)limit - 2, L'n');
    EXPECT_EQ(1, probe.Format(L"%s\t%s", longest.c_str(), L"v"));
    EXPECT_EQ(0, probe.Format(L"%s\t%s", longest.c_str(), L"vw"));
    sensor.fieldNames.push_back(WideString(longest.c_str()));
    sensor.fieldTexts.push_back(WideString(L"v"));
    sensor.fieldNames.push_back(WideString(longest.c_str()));
    sensor.fieldTexts.push_back(WideString(L"vw"));
    std::vector<TreeRow> rows;
    BuildTreeRows({sensor}, RowIdentity(), true, rows);
    ASSERT_EQ(5u, rows.size());
    EXPECT_EQ(4, rows[1].text.Length());
    EXPECT_STREQ(L"Acc\v", rows[1].text.Text());
    EXPECT_EQ(5, rows[2].text.Length());
    EXPECT_STREQ(L"X\t1.5", rows[2].text.Text());
    EXPECT_EQ(limit, rows[3].text.Length());
    EXPECT_EQ(longest + L"\tv", rows[3].text.Text());
    EXPECT_TRUE(rows[4].text.IsEmpty());
    EXPECT_EQ(2, rows[4].image);
}

TEST(SensorTree, EmptyNoteDependsOnTheWindowsVersion)
{
    std::vector<TreeRow> rows;
    BuildTreeRows({}, RowIdentity(), true, rows);
    EXPECT_EQ(L"Sensors|0+\n No Sensors found|0*\n", Describe(rows));
    RowIdentity root;
    root.level = 0;
    BuildTreeRows({}, root, false, rows);
    EXPECT_EQ(L"Sensors|0+*\n No Sensors found\tOnly Windows 7 and above is supported|0*\n", Describe(rows));
}

TEST(SensorTree, RowNamesAreCutAtTheFirstCell)
{
    WideString key;
    SelectionKey(L"Accel\v", key);
    EXPECT_STREQ(L"Accel", key.Text());
    SelectionKey(L"ACCELERATION X G\t0.5", key);
    EXPECT_STREQ(L"ACCELERATION X G", key.Text());
    SelectionKey(L"Sensor: with colon\v", key);
    EXPECT_STREQ(L"Sensor: with colon", key.Text());
    SelectionKey(L"\v", key);
    EXPECT_TRUE(key.IsEmpty()) << "an unnamed sensor selects nothing";
    SelectionKey(nullptr, key);
    EXPECT_TRUE(key.IsEmpty());

}

namespace {

RowIdentity Identity(int level, int position, const wchar_t* sensor, const wchar_t* value = L"", int namesakes = 0)
{
    RowIdentity identity;
    identity.level = level;
    identity.sensorPosition = position;
    identity.namesakesBefore = namesakes;
    identity.sensorName = sensor;
    identity.valueName = value;
    return identity;
}

// The text of the one row marked for selection, with its row number; "" when none.
std::wstring Selected(const std::vector<TreeRow>& rows)
{
    std::wstring found;
    for (size_t i = 0; i < rows.size(); i++)
        if (rows[i].select) found += std::to_wstring(i) + L":" + rows[i].text.Text() + L";";
    return found;
}

}  // namespace

TEST(SensorTree, SelectionStaysOnItsSensorAndValue)
{
    // Rows: 0 root, 1 A, 2 A.TIMESTAMP, 3 A.X, 4 Twin, 5 Twin.TIMESTAMP, 6 Twin, 7 Twin.TIMESTAMP, 8 B, 9 B.TIMESTAMP
    std::vector<SensorSnapshot> sensors = {
        Sensor(L"A", {{L"TIMESTAMP", L"1"}, {L"X", L"0.5"}}), Sensor(L"Twin", {{L"TIMESTAMP", L"2"}}),
        Sensor(L"Twin", {{L"TIMESTAMP", L"3"}}), Sensor(L"B", {{L"TIMESTAMP", L"4"}})};
    std::vector<SensorSnapshot> withoutFirst(sensors.begin() + 1, sensors.end());
    std::vector<SensorSnapshot> withNewFirst = sensors;
    withNewFirst.insert(withNewFirst.begin(), Sensor(L"New", {{L"TIMESTAMP", L"0"}}));
    struct Case {
        const char* what;
        const std::vector<SensorSnapshot>* tree;
        RowIdentity selected;
        const wchar_t* expected;
    } cases[] = {
        {"the first sensor's timestamp stays there", &sensors, Identity(2, 0, L"A", L"TIMESTAMP"),
         L"2:TIMESTAMP\t1;"},
        {"a value of the last sensor", &sensors, Identity(2, 3, L"B", L"TIMESTAMP"), L"9:TIMESTAMP\t4;"},
        {"the first of two namesakes", &sensors, Identity(2, 1, L"Twin", L"TIMESTAMP"), L"5:TIMESTAMP\t2;"},
        {"the second of two namesakes", &sensors, Identity(2, 2, L"Twin", L"TIMESTAMP", 1), L"7:TIMESTAMP\t3;"},
        {"a sensor row", &sensors, Identity(1, 2, L"Twin", L"", 1), L"6:Twin\v;"},
        {"the root", &sensors, Identity(0, -1, L""), L"0:Sensors;"},
        {"nothing selected", &sensors, RowIdentity(), L""},
        {"a value that is gone", &sensors, Identity(2, 0, L"A", L"Y"), L""},
        {"a sensor that is gone", &sensors, Identity(1, 0, L"Gone"), L""},
        {"a namesake after the first sensor left", &withoutFirst, Identity(2, 2, L"Twin", L"TIMESTAMP", 1),
         L"4:TIMESTAMP\t3;"},
        {"a sensor before it came", &withNewFirst, Identity(2, 3, L"B", L"TIMESTAMP"), L"11:TIMESTAMP\t4;"},
        {"the first namesake after a new first sensor", &withNewFirst, Identity(2, 1, L"Twin", L"TIMESTAMP"),
         L"7:TIMESTAMP\t2;"},
        {"the second namesake after a new first sensor", &withNewFirst, Identity(2, 2, L"Twin", L"TIMESTAMP", 1),
         L"9:TIMESTAMP\t3;"},
    };
    for (const Case& c : cases) {
        std::vector<TreeRow> rows;
        BuildTreeRows(*c.tree, c.selected, true, rows);
        EXPECT_EQ(std::wstring(c.expected), Selected(rows)) << c.what;
    }
}

TEST(RefreshThrottle, OnePostPerSecond)
{
    EXPECT_FALSE(RefreshDue(6000, 5000)) << "exactly 1000 ms is dropped";
    EXPECT_TRUE(RefreshDue(6001, 5000));
    EXPECT_FALSE(RefreshDue(5500, 5000));
    EXPECT_TRUE(RefreshDue(4000, 5000)) << "a clock that runs backwards posts";
    EXPECT_TRUE(RefreshDue(5000 + 0x100000000ull, 5000)) << "high half set";
    EXPECT_TRUE(RefreshDue(1001, 0)) << "the first event after start";
    EXPECT_FALSE(RefreshDue(1000, 0));
}

TEST(SensorTree, RowsWrittenOverOlderOnesAreThoseOfAFreshVector)
{
    std::vector<SensorSnapshot> big = {
        Sensor(L"Accel", {{L"X", L"0.100000"}, {L"Y", L"0.200000"}, {L"Z", L"0.300000"}}),
        Sensor(L"Light", {{L"Lux", L"12.000000"}}),
    };
    std::vector<SensorSnapshot> small = {Sensor(L"Compass", {{L"Heading", L"7"}})};
    RowIdentity onY;
    onY.level = 2;
    onY.sensorName.Assign(L"Accel");
    onY.valueName.Assign(L"Y");
    std::vector<TreeRow> reused;
    BuildTreeRows(big, onY, true, reused);
    const std::vector<std::pair<const std::vector<SensorSnapshot>*, RowIdentity>> builds = {
        {&small, RowIdentity()}, {&big, RowIdentity()}, {&big, onY}, {nullptr, RowIdentity()}};
    for (const auto& build : builds) {
        std::vector<SensorSnapshot> none;
        const std::vector<SensorSnapshot>& sensors = build.first ? *build.first : none;
        std::vector<TreeRow> fresh;
        BuildTreeRows(sensors, build.second, true, fresh);
        BuildTreeRows(sensors, build.second, true, reused);
        EXPECT_EQ(Describe(fresh), Describe(reused));
    }
}

TEST(SensorTree, SnapshotsReadOverOlderOnesAreThoseOfAFreshVector)
{
    std::wstring path = harness::ScratchDir(L"app-snapshots") + L"world.scenario";
    ASSERT_TRUE(harness::WriteFileBytes(path, "sensor {6D000001-1111-2222-3333-444444444444}\nname \"A\"\n"
                                              "value SENSOR_DATA_TYPE_CUSTOM_VALUE1 i4 const 1\n"
                                              "sensor {6D000002-1111-2222-3333-444444444444}\nname \"B\"\n"));
    SetEnvironmentVariableW(L"SENSORSIM_SCENARIO", path.c_str());
    SensorManager manager;
    std::vector<SensorSnapshot> fresh;
    ReadSensorSnapshots(manager, fresh);
    // Left from a larger world: more sensors, more values, other texts.
    std::vector<SensorSnapshot> reused = {
        Sensor(L"Old one", {{L"a", L"1"}, {L"b", L"2"}, {L"c", L"3"}}),
        Sensor(L"Old two", {{L"d", L"4"}, {L"e", L"5"}}),
        Sensor(L"Old three", {{L"f", L"6"}}),
    };
    ReadSensorSnapshots(manager, reused);
    ASSERT_EQ(2u, fresh.size());
    EXPECT_EQ(1u, fresh[0].fieldNames.size());
    EXPECT_TRUE(fresh[1].fieldNames.empty());
    std::vector<TreeRow> freshRows, reusedRows;
    BuildTreeRows(fresh, RowIdentity(), true, freshRows);
    BuildTreeRows(reused, RowIdentity(), true, reusedRows);
    EXPECT_EQ(Describe(freshRows), Describe(reusedRows));
    for (size_t i = 0; i < fresh.size() && i < reused.size(); i++)
        EXPECT_EQ(fresh[i].fieldTexts.size(), reused[i].fieldTexts.size());
    manager.ReleaseSensors();
    SetEnvironmentVariableW(L"SENSORSIM_SCENARIO", nullptr);
}
