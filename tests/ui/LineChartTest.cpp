#include <gtest/gtest.h>

#include <windows.h>

#include <limits.h>
#include <math.h>

#include <string>

#include "ui/LineChart.h"

TEST(LineChart, RoundTicksCoverTheRangeWithOneTwoOrFiveSteps)
{
    const struct {
        double low, high;
        int most;
        double first, step;
        int count;
    } cases[] = {
        {40.0, 60.0, 11, 40, 2, 11},        // exact ends stay
        {40.2, 59.7, 5, 40, 5, 5},          // widened outward to round marks
        {0.0, 1.0, 6, 0, 0.2, 6},
        {-3.0, 7.0, 11, -3, 1, 11},
        {0.001, 0.0042, 5, 0.001, 0.001, 5},
        {-1e6, 1e6, 5, -1e6, 5e5, 5},
        {5.0, 5.0, 5, 4.5, 0.5, 3},         // no width: a tenth of the value around it
        {0.0, 0.0, 5, -1, 0.5, 5},          // zero: one unit around it
        {60.0, 40.0, 11, 40, 2, 11},        // given the wrong way round
    };
    for (const auto& test : cases) {
        AxisTicks ticks = RoundTicks(test.low, test.high, test.most);
        EXPECT_NEAR(test.first, ticks.first, 1e-9 * fabs(test.step)) << test.low << ".." << test.high;
        EXPECT_NEAR(test.step, ticks.step, 1e-12 * fabs(test.step)) << test.low << ".." << test.high;
        EXPECT_EQ(test.count, ticks.count) << test.low << ".." << test.high;
        EXPECT_LE(ticks.count, test.most);
    }
    // Whatever comes, the marks are finite and few.
    const double odd[][2] = {{NAN, 1}, {0, INFINITY}, {-1e308, 1e308}, {1e-300, 2e-300}};
    for (const auto& range : odd) {
        AxisTicks ticks = RoundTicks(range[0], range[1], 7);
        EXPECT_TRUE(isfinite(ticks.first) && isfinite(ticks.step) && ticks.step > 0);
        EXPECT_GE(ticks.count, 2);
        EXPECT_LE(ticks.count, 7);
    }
}

TEST(LineChart, TickTextsHaveTheDecimalsOfTheirStep)
{
    wchar_t text[32];
    const struct {
        double value, step;
        const wchar_t* expected;
    } cases[] = {
        {40, 2, L"40"}, {0.4, 0.2, L"0.4"}, {-0.25, 0.05, L"-0.25"}, {1e-17, 0.2, L"0.0"},
        {-1e-17, 0.2, L"0.0"}, {0.003, 0.001, L"0.003"}, {2e15, 5e14, L"2e+15"}, {3e-8, 1e-8, L"3e-08"},
    };
    for (const auto& test : cases) {
        TickText(test.value, test.step, text, 32);
        EXPECT_STREQ(test.expected, text) << test.value;
    }
}

TEST(LineChart, ARingKeepsTheNewestSamplesInOrder)
{
    SampleRing ring(5);
    for (int i = 0; i < 3; i++) ring.Add(i, i * 10);
    ASSERT_EQ(3u, ring.Size());
    EXPECT_EQ(0, ring.At(0).time);
    for (int i = 3; i < 8; i++) ring.Add(i, i * 10);
    ASSERT_EQ(5u, ring.Size()) << "full: the oldest made room";
    for (size_t i = 0; i < 5; i++) EXPECT_EQ(30.0 + 10.0 * (double)i, ring.At(i).value);
    EXPECT_EQ(0u, ring.FirstAtOrAfter(-1));
    EXPECT_EQ(2u, ring.FirstAtOrAfter(4.5));
    EXPECT_EQ(5u, ring.FirstAtOrAfter(100));
    ring.DropBefore(6);
    ASSERT_EQ(2u, ring.Size());
    EXPECT_EQ(6, ring.At(0).time);
    ring.DropBefore(100);
    EXPECT_EQ(0u, ring.Size());
    ring.Add(9, 1);
    EXPECT_EQ(1u, ring.Size());
    EXPECT_EQ(9, ring.At(0).time);

    // Growing keeps the order across the wrap.
    SampleRing growing(100000);
    for (int i = 0; i < 1000; i++) {
        growing.Add(i, i);
        if (i % 7 == 0) growing.DropBefore(i - 300);
    }
    for (size_t i = 1; i < growing.Size(); i++) ASSERT_EQ(growing.At(i - 1).time + 1, growing.At(i).time);
    EXPECT_EQ(999, growing.At(growing.Size() - 1).time);
}

TEST(LineChart, AColumnSummaryKeepsFirstLowHighAndLastOfEachStretch)
{
    ColumnSummary summary;
    summary.Reset(0.5, 4);  // stretches of half a second, four kept
    const double samples[][2] = {{-0.3, 5}, {0.0, 3}, {0.1, -2}, {0.2, 7}, {0.4, 1}, {0.5, 4}, {1.2, 9}};
    for (const auto& sample : samples) summary.Add(sample[0], sample[1]);
    const ColumnSummary::Column* first = summary.Find(0);
    ASSERT_TRUE(first);
    EXPECT_EQ(3, first->first);
    EXPECT_EQ(-2, first->low);
    EXPECT_EQ(7, first->high);
    EXPECT_EQ(1, first->last);
    ASSERT_TRUE(summary.Find(1));
    EXPECT_EQ(4, summary.Find(1)->low);
    ASSERT_TRUE(summary.Find(2));
    EXPECT_EQ(9, summary.Find(2)->high);
    ASSERT_TRUE(summary.Find(-1)) << "times before zero have stretches of their own";
    EXPECT_EQ(5, summary.Find(-1)->first);
    // A stretch four further takes the place of one no longer kept.
    summary.Add(1.6, 6);
    EXPECT_TRUE(summary.Find(3));
    EXPECT_FALSE(summary.Find(-1));
    summary.Add(2.1, 6);
    EXPECT_TRUE(summary.Find(4));
    EXPECT_FALSE(summary.Find(0));
    EXPECT_FALSE(summary.Find(LLONG_MIN));
}
