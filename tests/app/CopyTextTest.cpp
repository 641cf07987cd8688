// What copying makes of the tree's rows.
#include <gtest/gtest.h>

#include "app/CopyText.h"

TEST(CopyText, RowsBecomeThreeColumnLines)
{
    std::vector<TreeRowText> rows = {
        {0, L"Sensors\v"},
        {1, L"Light\v"},
        {2, L"LIGHT_LEVEL_LUX\t123.5"},
        {2, L"TIMESTAMP\t2024-03-15"},
        {1, L"Odd\x01name\v"},
        {2, L"RAW\ta\tb\x0C" L"c"},
        {1, L"\v"},
        {1, L"Gps\v"},
        {2, L"LATITUDE\t"},
    };
    EXPECT_EQ(L"Light\tLIGHT_LEVEL_LUX\t123.5\r\n", CopyRowText(rows, 2));
    EXPECT_EQ(L"Light\r\nLight\tLIGHT_LEVEL_LUX\t123.5\r\nLight\tTIMESTAMP\t2024-03-15\r\n", CopyRowText(rows, 1));
    EXPECT_EQ(L"Odd name\tRAW\ta b c\r\n", CopyRowText(rows, 5)) << "control characters never split a cell";
    EXPECT_EQ(L"\r\n", CopyRowText(rows, 6)) << "a sensor without name or values";
    EXPECT_EQ(L"Gps\tLATITUDE\t\r\n", CopyRowText(rows, 8));
    std::wstring all = L"Sensor\tItem\tValue\r\nLight\tLIGHT_LEVEL_LUX\t123.5\r\nLight\tTIMESTAMP\t2024-03-15\r\n"
                       L"Odd name\tRAW\ta b c\r\nGps\tLATITUDE\t\r\n";
    EXPECT_EQ(all, CopyAllText(rows));
    EXPECT_EQ(all, CopyRowText(rows, 0)) << "the root copies the whole tree";
    EXPECT_EQ(L"", CopyRowText(rows, -1)) << "nothing selected";
    EXPECT_EQ(L"", CopyRowText(rows, 9));

    std::vector<TreeRowText> none = {{0, L"No Sensors found\v"}};
    EXPECT_EQ(L"Sensor\tItem\tValue\r\n", CopyRowText(none, 0));
    EXPECT_EQ(L"a b", ClipboardCell(L"a\tb\v"));
}
