// A live plot of a sensor's numbers: one value, or every value of the sensor that has one,
// over the last minute, from every report the sensor makes.
#pragma once

#include <windows.h>

#include <vector>

#include "app/ReportFeed.h"
#include "common/WideString.h"
#include "platform/KernelObjects.h"
#include "ui/DialogBase.h"
#include "ui/Layout.h"
#include "ui/LineChart.h"

// What a plot takes from the feed: the numbers of one sensor's reports, held until its
// window takes them.
class PlotSource : public ReportFeed::Listener {
public:
    struct Sample {
        int series;
        double time;  // seconds since the source began
        double value;
    };
    // Every numeric value of sensor `id`, or only the one shown as `only`.
    PlotSource(const GUID& id, const wchar_t* only, KeyNameCache& names);

    void OnReport(SensorRecord* record, ISensorDataReport* report, const FILETIME& arrival) override;
    void OnLeave(SensorRecord* record) override;

    // Moves the samples held so far into `samples`, and the names of series that appeared
    // since `known` into `names`.
    void Take(std::vector<Sample>& samples, size_t known, std::vector<WideString>& names);
    bool Gone() const { return m_gone != 0; }
    const GUID& SensorIdentity() const { return m_id; }
    // Seconds since the source began, on the clock its samples use.
    double Now() const;

private:
    // Beyond this many samples waiting the newest are dropped (the window stopped taking them).
    static const size_t MostWaiting = 262144;

    GUID m_id;
    WideString m_only;
    KeyNameCache& m_names;
    LARGE_INTEGER m_start;
    LARGE_INTEGER m_frequency;
    CriticalSectionHolder m_lock;
    // Keys seen, each with its series (-1: not plotted); guarded by m_lock.
    std::vector<std::pair<PROPERTYKEY, int>> m_keys;
    std::vector<WideString> m_seriesNames;
    std::vector<Sample> m_waiting;
    volatile LONG m_gone;
};

class PlotWindow : public DialogBase {
public:
    // A plot of sensor `id` called `sensorName`: of the value `only`, or of all its numbers.
    PlotWindow(ReportFeed& feed, const GUID& id, const wchar_t* sensorName, const wchar_t* only);
    ~PlotWindow() override;

    HWND Open(HINSTANCE instance, HWND owner, int cascade);
    const GUID& SensorId() const { return m_source.SensorIdentity(); }
    const wchar_t* ValueName() const { return m_only; }

    int OnInitDialog() override;
    int CanClose(INT_PTR result) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void Tick();

    ReportFeed& m_feed;
    WideString m_sensorName;
    WideString m_only;
    WideString m_title;
    PlotSource m_source;
    LineChart m_chart;
    SizeGrip m_grip;
    LayoutAnchor m_anchor;
    int m_cascade;
    bool m_listening;
    bool m_gone;
    std::vector<PlotSource::Sample> m_taken;
    std::vector<WideString> m_names;
};
