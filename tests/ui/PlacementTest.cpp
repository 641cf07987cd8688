#include <gtest/gtest.h>

#include <vector>

#include "ui/Placement.h"

namespace {

struct FakeMonitors : MonitorQuery {
    std::vector<RECT> monitors;
    std::vector<RECT> work;
    bool available = true;
    bool Available() override { return available; }
    bool OnMonitor(POINT point) override
    {
        for (const RECT& m : monitors)
            if (PtInRect(&m, point)) return true;
        return false;
    }
    RECT NearestWorkArea(POINT point) override
    {
        size_t best = 0;
        long bestDistance = -1;
        for (size_t i = 0; i < monitors.size(); i++) {
            long dx = point.x < monitors[i].left ? monitors[i].left - point.x
                      : point.x >= monitors[i].right ? point.x - monitors[i].right + 1 : 0;
            long dy = point.y < monitors[i].top ? monitors[i].top - point.y
                      : point.y >= monitors[i].bottom ? point.y - monitors[i].bottom + 1 : 0;
            long distance = dx * dx + dy * dy;
            if (bestDistance < 0 || distance < bestDistance) {
                bestDistance = distance;
                best = i;
            }
        }
        return work[best];
    }
};

std::string Text(const RECT& r)
{
    char text[64];
    snprintf(text, sizeof(text), "%ld,%ld,%ld,%ld", r.left, r.top, r.right, r.bottom);
    return text;
}

}  // namespace

TEST(Placement, TextFormAndShowCommands)
{
    UINT command = 99;
    RECT rect = {};
    EXPECT_EQ(1, ParsePlacement(L"1,-10,20,400,300", command, rect));
    EXPECT_EQ(1u, command);
    EXPECT_EQ("-10,20,400,300", Text(rect));
    EXPECT_EQ(1, ParsePlacement(L"3,0x10,010,1,2", command, rect)) << "%i reads hexadecimal and octal";
    EXPECT_EQ("16,8,1,2", Text(rect));
    EXPECT_EQ(0, ParsePlacement(L"1,2,3,4", command, rect)) << "four numbers are ignored";
    EXPECT_EQ(0, ParsePlacement(L"garbage", command, rect));
    EXPECT_EQ(0, ParsePlacement(nullptr, command, rect));
    wchar_t text[64];
    SetRect(&rect, -5, 6, 700, 800);
    FormatPlacement(2, rect, text, 64);
    EXPECT_STREQ(L"2,-5,6,700,800", text);

    using namespace PlacementFlags;
    EXPECT_EQ(1u, AdjustShowCommand(2, 0)) << "minimised opens normal";
    EXPECT_EQ(2u, AdjustShowCommand(2, AllowMinimised));
    EXPECT_EQ(1u, AdjustShowCommand(0, 0));
    EXPECT_EQ(0u, AdjustShowCommand(0, AllowHidden));
    EXPECT_EQ(0u, AdjustShowCommand(3, ForceHidden));
    EXPECT_EQ(7u, AdjustShowCommand(3, ForceHidden | ForceMinimisedInactive)) << "the last rule wins";
    EXPECT_EQ(3u, AdjustShowCommand(3, 0));
}

TEST(Placement, MonitorTest)
{
    FakeMonitors monitors;
    monitors.monitors = {{0, 0, 1280, 1024}, {1280, 0, 2560, 1024}};
    monitors.work = {{0, 0, 1280, 994}, {1280, 30, 2560, 1024}};
    RECT onScreen = {100, 100, 500, 400};
    EXPECT_EQ("100,100,500,400", Text(FitToMonitors(onScreen, 0, monitors)));
    RECT secondMonitorGone = {3000, 200, 3400, 500};
    EXPECT_EQ("1290,40,1690,340", Text(FitToMonitors(secondMonitorGone, 0, monitors)))
        << "10 pixels inside the nearest work area, same size";
    RECT partly = {-200, -100, 300, 300};
    EXPECT_EQ("10,10,510,410", Text(FitToMonitors(partly, 0, monitors)));
    EXPECT_EQ("-200,-100,300,300", Text(FitToMonitors(partly, PlacementFlags::AcceptLowerRight, monitors)));
    EXPECT_EQ("3000,200,3400,500", Text(FitToMonitors(secondMonitorGone, PlacementFlags::SkipMonitorTest, monitors)));
    monitors.available = false;
    EXPECT_EQ("3000,200,3400,500", Text(FitToMonitors(secondMonitorGone, 0, monitors))) << "nobody to ask";
}

#include "harness/Harness.h"
#include "platform/SystemApi.h"
#include "ui/SettingsStore.h"

TEST(Placement, KeptInASettingsStore)
{
    std::wstring path = harness::ScratchDir(L"placement-store") + L"placement.ini";
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                  nullptr);
    SetWindowPos(window, nullptr, 111, 122, 333, 244, SWP_NOZORDER);
    SystemApi api;
    {
        SettingsStore store;
        ASSERT_EQ(1, store.Open(SettingsBackend::Ini, nullptr, nullptr, path.c_str()));
        EXPECT_EQ(1, SaveWindowPlacement(window, nullptr, nullptr, L"Main", nullptr, 0, &store));
        WideString text;
        store.ReadString(L"Main", text);
        EXPECT_STREQ(L"1,111,122,444,366", text.Text());
    }
    HWND other = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                 nullptr);
    SettingsStore store;
    ASSERT_EQ(1, store.Open(SettingsBackend::Ini, nullptr, nullptr, path.c_str()));
    EXPECT_EQ(1, RestoreWindowPlacement(other, nullptr, nullptr, L"Main", PlacementFlags::NoReposition, api, &store));
    RECT rect;
    GetWindowRect(other, &rect);
    EXPECT_EQ(111, rect.left);
    EXPECT_EQ(366, rect.bottom);
    EXPECT_EQ(0, RestoreWindowPlacement(other, nullptr, nullptr, L"Absent", 0, api, &store));
    ShowWindow(window, SW_HIDE);
    EXPECT_EQ(1, SaveWindowPlacement(window, nullptr, nullptr, L"Hidden", nullptr, 0, &store));
    WideString text;
    store.ReadString(L"Hidden", text);
    EXPECT_EQ(0, text.Find(L"0,")) << "a hidden window is saved with show command 0";
    EXPECT_EQ(1, SaveWindowPlacement(window, nullptr, nullptr, L"Hidden", nullptr, PlacementFlags::SaveInvisible, &store));
    store.ReadString(L"Hidden", text);
    EXPECT_NE(0, text.Find(L"0,")) << "unless asked to save the reported state";
    DestroyWindow(window);
    DestroyWindow(other);
}
