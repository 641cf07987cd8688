#include <gtest/gtest.h>

#include "app/MainDialog.h"
#include "app/SensorTree.h"

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
    BuildTreeRows(sensors, WideString(), true, rows);
    EXPECT_EQ(L"Sensors|0+\n Accel\v|1+\n  X\t0.100000|2\n  Y\t|2\n \v|1\n", Describe(rows));
}

TEST(SensorTree, EmptyNoteDependsOnTheWindowsVersion)
{
    std::vector<TreeRow> rows;
    BuildTreeRows({}, WideString(), true, rows);
    EXPECT_EQ(L"Sensors|0+\n No Sensors found|0*\n", Describe(rows));
    BuildTreeRows({}, WideString(L"Sensors"), false, rows);
    EXPECT_EQ(L"Sensors|0+*\n No Sensors found\tOnly Windows 7 and above is supported|0*\n", Describe(rows));
}

TEST(SensorTree, SelectionSurvivesRebuilds)
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

    std::vector<SensorSnapshot> sensors = {Sensor(L"A", {{L"X", L"1"}}), Sensor(L"B", {{L"X", L"2"}})};
    std::vector<TreeRow> rows;
    BuildTreeRows(sensors, WideString(L"X"), true, rows);
    int selected = 0;
    for (const TreeRow& row : rows) selected += row.select;
    EXPECT_EQ(2, selected) << "every match is marked; the last one inserted stays selected";
    EXPECT_TRUE(rows.back().select);
    BuildTreeRows(sensors, WideString(L"B"), true, rows);
    EXPECT_TRUE(rows[3].select);
    BuildTreeRows(sensors, WideString(), true, rows);
    for (const TreeRow& row : rows) EXPECT_FALSE(row.select) << "nothing selected without a key";
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
