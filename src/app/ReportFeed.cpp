#include "app/ReportFeed.h"

#include <algorithm>

ReportFeed::ReportFeed() : m_window(nullptr), m_arrived(0), m_started(false)
{
    m_sensors.SetReportObserver(Observe, this);
    m_sensors.SetCallback(Callback, (UINT_PTR)this);
}

ReportFeed::~ReportFeed()
{
    m_window = nullptr;
    m_sensors.ReleaseSensors();
}

void ReportFeed::SetWindow(HWND window, UINT arrived)
{
    m_arrived = arrived;
    m_window = window;
}

void ReportFeed::Add(Listener* listener)
{
    if (!listener) return;
    m_lock.Write();
    bool added = true;
    try {
        if (std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end())
            m_listeners.push_back(listener);
    } catch (...) {
        added = false;
    }
    m_lock.EndWrite();
    // Listeners are in place before the first sensor can report.
    if (added && !m_started) {
        m_started = true;
        m_sensors.EnumerateSensors();
    }
}

void ReportFeed::Remove(Listener* listener)
{
    m_lock.Write();
    m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), listener), m_listeners.end());
    bool last = m_listeners.empty();
    m_lock.EndWrite();
    if (last && m_started) {
        m_started = false;
        m_sensors.ReleaseSensors();
    }
}

void ReportFeed::SensorArrived()
{
    if (m_started) m_sensors.AddArrivedSensors();
}

void ReportFeed::Observe(SensorRecord* record, ISensorDataReport* report, void* self)
{
    ReportFeed* feed = static_cast<ReportFeed*>(self);
    FILETIME arrival;
    GetSystemTimeAsFileTime(&arrival);
    // Read-locked: the sensors' threads call in side by side, and a listener that is being
    // removed waits until they are out.
    feed->m_lock.Read();
    for (Listener* listener : feed->m_listeners) listener->OnReport(record, report, arrival);
    feed->m_lock.EndRead();
}

int ReportFeed::Callback(int kind, SensorRecord* record, UINT_PTR self)
{
    ReportFeed* feed = (ReportFeed*)self;
    if (kind == SensorEntered) {
        HWND window = feed->m_window;
        if (window) PostMessageW(window, feed->m_arrived, 0, 0);
    } else if (kind == DataUpdated && record && record->Left()) {
        feed->m_lock.Read();
        for (Listener* listener : feed->m_listeners) listener->OnLeave(record);
        feed->m_lock.EndRead();
    }
    return 0;
}
