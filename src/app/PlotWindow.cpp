#include "app/PlotWindow.h"

#include <propvarutil.h>

#include "app/Endpoints.h"
#include "app/Resources.h"
#include "sensors/PropertyKeyNames.h"
#include "sensors/ValueNumber.h"
#include "ui/Placement.h"

namespace {

const UINT_PTR FrameTimer = 1;
const UINT FrameInterval = 33;  // at most 30 frames a second

}  // namespace

PlotSource::PlotSource(const GUID& id, const wchar_t* only, KeyNameCache& names) : m_id(id), m_names(names), m_gone(0)
{
    m_only.Assign(only ? only : L"");
    m_lock.Initialise();
    QueryPerformanceFrequency(&m_frequency);
    QueryPerformanceCounter(&m_start);
}

double PlotSource::Now() const
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)(now.QuadPart - m_start.QuadPart) / (double)(m_frequency.QuadPart ? m_frequency.QuadPart : 1);
}

void PlotSource::OnReport(SensorRecord* record, ISensorDataReport* report, const FILETIME&)
{
    if (!IsEqualGUID(record->id, m_id) || !report) return;
    double time = Now();
    IPortableDeviceValues* values = nullptr;
    DWORD count = 0;
    if (FAILED(report->GetSensorValues(nullptr, &values)) || !values) return;
    if (FAILED(values->GetCount(&count))) count = 0;
    WideString name;
    m_lock.Enter();
    try {
        for (DWORD i = 0; i < count; i++) {
            PROPERTYKEY key;
            PROPVARIANT value;
            PropVariantInit(&value);
            if (FAILED(values->GetAt(i, &key, &value))) continue;
            double number = 0;
            bool numeric = ValueNumber(value, number);
            PropVariantClear(&value);
            if (!numeric) continue;
            int series = -2;
            for (const auto& known : m_keys)
                if (SameKey(known.first, key)) series = known.second;
            if (series == -2) {
                // A key seen for the first time: plotted when it is the one asked for.
                m_names.Name(key, name);
                series = m_only.IsEmpty() || m_only.Equals(name) ? (int)m_seriesNames.size() : -1;
                m_keys.push_back({key, series});
                if (series >= 0) m_seriesNames.push_back(name);
            }
            if (series >= 0 && m_waiting.size() < MostWaiting) m_waiting.push_back({series, time, number});
        }
    } catch (...) {
        // Without memory this report is not plotted; the next one may be.
    }
    m_lock.Leave();
    values->Release();
}

void PlotSource::OnLeave(SensorRecord* record)
{
    if (IsEqualGUID(record->id, m_id)) InterlockedExchange(&m_gone, 1);
}

void PlotSource::Take(std::vector<Sample>& samples, size_t known, std::vector<WideString>& names)
{
    samples.clear();
    names.clear();
    m_lock.Enter();
    samples.swap(m_waiting);
    for (size_t i = known; i < m_seriesNames.size(); i++) names.push_back(m_seriesNames[i]);
    m_lock.Leave();
}

PlotWindow::PlotWindow(ReportFeed& feed, const GUID& id, const wchar_t* sensorName, const wchar_t* only)
    : m_feed(feed), m_source(id, only, feed.Names()), m_cascade(0), m_listening(false), m_gone(false)
{
    m_sensorName.Assign(sensorName);
    m_only.Assign(only ? only : L"");
}

PlotWindow::~PlotWindow()
{
    if (m_listening) m_feed.Remove(&m_source);
    m_chart.Detach();
}

HWND PlotWindow::Open(HINSTANCE instance, HWND owner, int cascade)
{
    m_cascade = cascade;
    if (!LineChart::Register(instance)) return nullptr;
    return CreateModeless(instance, IDD_PLOT, DialogFlags::Modeless, owner);
}

int PlotWindow::OnInitDialog()
{
    SetIcons(IDI_APPLICATION_ICON);
    m_title.Format(L"Plot of %ls", m_sensorName.Text());
    if (!m_only.IsEmpty()) m_title.AppendFormat(L": %ls", m_only.Text());
    SetText(m_title);
    m_chart.Attach(Item(IDC_CHART));
    m_grip.Attach(m_window);
    m_anchor.SetUp(Item(IDC_CHART), AnchorFlags::StretchWidth | AnchorFlags::StretchHeight, 0, 0);
    SetMinTrackSize(240, 160, 1);
    RestoreWindowPlacement(m_window, HKEY_CURRENT_USER, ORVANE_REGISTRY_KEY, L"Plot", 0, m_api);
    CascadeWindow(m_window, m_cascade);
    m_feed.Add(&m_source);
    m_listening = true;
    SetTimer(m_window, FrameTimer, FrameInterval, nullptr);
    ShowWindow(m_window, SW_SHOW);
    SetFocus(Item(IDC_CHART));
    return 2;
}

int PlotWindow::CanClose(INT_PTR)
{
    KillTimer(m_window, FrameTimer);
    if (m_listening) m_feed.Remove(&m_source);
    m_listening = false;
    SaveWindowPlacement(m_window, HKEY_CURRENT_USER, ORVANE_REGISTRY_KEY, L"Plot", nullptr, 0);
    m_chart.Detach();
    return 1;
}

void PlotWindow::Tick()
{
    try {
        m_source.Take(m_taken, (size_t)m_chart.SeriesCount(), m_names);
    } catch (...) {
        return;
    }
    for (const WideString& name : m_names) m_chart.AddSeries(name);
    for (const PlotSource::Sample& sample : m_taken) m_chart.AddSample(sample.series, sample.time, sample.value);
    // A sensor that left keeps its curve where it ended.
    if (!m_gone && m_source.Gone()) {
        m_gone = true;
        m_chart.SetNote(L"Not connected: the sensor left");
        m_title.Append(L" (Not connected)");
        SetText(m_title);
    }
    m_chart.SetNow(m_source.Now());
    m_chart.Refresh();
}

INT_PTR PlotWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        if (wParam == FrameTimer) {
            Tick();
            return 1;
        }
        break;
    case WM_SIZE:
        m_grip.Invalidate();
        m_anchor.Move(wParam, lParam);
        break;
    case WM_PAINT:
        if (m_grip.Paint()) return 1;
        break;
    case WM_NCHITTEST:
        if (m_grip.HitTest(wParam, lParam)) return 1;
        break;
    default:
        break;
    }
    return DialogBase::OnMessage(message, wParam, lParam);
}
