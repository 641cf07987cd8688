#include <gtest/gtest.h>

#include "platform/SystemApi.h"

TEST(LibraryHolder, LoadsLooksUpAndFrees)
{
    LibraryHolder library;
    EXPECT_EQ(nullptr, library.Lookup("GetTickCount"));
    EXPECT_EQ(0, library.Load(L"orvane-no-such-library.dll"));
    EXPECT_FALSE(library.Loaded());
    ASSERT_EQ(1, library.Load(L"kernel32.dll"));
    EXPECT_NE(nullptr, library.Lookup("GetTickCount"));
    EXPECT_EQ(nullptr, library.Lookup("NoSuchFunctionAnywhere"));
    library.Free();
    EXPECT_EQ(nullptr, library.Lookup("GetTickCount"));
    EXPECT_EQ(0, library.Load(nullptr));
}

TEST(SystemApi, MissingFunctionsGiveTheirFixedAnswers)
{
    SystemApi api;
    for (int library = 0; library < SystemApi::LibraryCount; library++)
        api.OverrideLibrary((SystemApi::Library)library, L"orvane-missing.dll");
    EXPECT_EQ(9, api.UserDefaultUILanguage());
    EXPECT_EQ(9, api.SystemDefaultUILanguage());
    EXPECT_EQ((LONG)0xC0000001, api.NtQuerySystemInformation(0, nullptr, 0, nullptr));
    EXPECT_EQ(nullptr, api.WineVersion());
    POINT origin = {0, 0};
    EXPECT_EQ(nullptr, api.MonitorFromPoint(origin, MONITOR_DEFAULTTONULL));
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    EXPECT_EQ(FALSE, api.GetMonitorInfo(nullptr, &info));
    EXPECT_EQ(E_FAIL, api.CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 0, 0, nullptr, 0, nullptr));
    EXPECT_EQ(E_FAIL, api.CoSetProxyBlanket(nullptr, 0, 0, nullptr, 0, 0, nullptr, 0));
    HICON icon = nullptr;
    EXPECT_EQ(E_FAIL, api.LoadIconMetric(nullptr, IDI_APPLICATION, 0, &icon));
    EXPECT_EQ(E_FAIL, api.LoadIconWithScaleDown(nullptr, IDI_APPLICATION, 16, 16, &icon));
    EXPECT_EQ(nullptr, icon);
    RECT monitor, work;
    EXPECT_EQ(0, api.MonitorRects(origin, MONITOR_DEFAULTTONEAREST, &monitor, &work));
    EXPECT_EQ(nullptr, api.Lookup(SystemApi::Kernel32, "GetTickCount"));
}

TEST(SystemApi, PresentFunctionsPassThrough)
{
    SystemApi api;
    EXPECT_NE(nullptr, api.WineVersion()) << "these tests run under Wine";
    EXPECT_EQ(GetUserDefaultUILanguage(), api.UserDefaultUILanguage());
    ULONG returned = 0;
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    struct {
        ULONG reserved;
        ULONG timerResolution, pageSize, physicalPages, lowestPage, highestPage, granularity;
        ULONG_PTR lowestAddress, highestAddress, activeProcessors;
        CCHAR processors;
    } basic = {};
    EXPECT_EQ(0, api.NtQuerySystemInformation(0, &basic, sizeof(basic), &returned));
    EXPECT_EQ(system.dwPageSize, basic.pageSize);

    POINT inside = {10, 10};
    RECT monitor = {}, work = {};
    ASSERT_EQ(1, api.MonitorRects(inside, MONITOR_DEFAULTTONEAREST, &monitor, &work));
    EXPECT_EQ(0, monitor.left);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), monitor.right);
    EXPECT_LE(work.bottom, monitor.bottom);
    EXPECT_GT(work.bottom, work.top);
    POINT distant = {-30000, -30000};
    EXPECT_EQ(0, api.MonitorRects(distant, MONITOR_DEFAULTTONULL, &monitor, &work)) << "no monitor there";
    EXPECT_EQ(1, api.MonitorRects(distant, MONITOR_DEFAULTTONEAREST, &monitor, &work));
}
