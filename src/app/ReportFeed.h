// Every data report of every sensor as it arrives, for those who must see each one: a
// recording, plots. The feed keeps sensor records of its own, made when its first listener
// comes and kept until its last goes, so that the tree's rebuilds (which make all records
// anew) never open a gap between two reports. Sensors that arrive are added to them.
#pragma once

#include <windows.h>

#include <vector>

#include "platform/KernelObjects.h"
#include "sensors/SensorManager.h"

class ReportFeed {
public:
    struct Listener {
        virtual ~Listener() {}
        // On a platform thread, for every data report; `arrival` is when it came (UTC).
        // Never waits on the window's thread.
        virtual void OnReport(SensorRecord* record, ISensorDataReport* report, const FILETIME& arrival) = 0;
        // On a platform thread: the sensor left.
        virtual void OnLeave(SensorRecord*) {}
    };

    ReportFeed();
    ~ReportFeed();
    ReportFeed(const ReportFeed&) = delete;
    ReportFeed& operator=(const ReportFeed&) = delete;

    // `window` gets `arrived` posted when a sensor arrives: answer with SensorArrived on
    // the window's thread.
    void SetWindow(HWND window, UINT arrived);
    // On the window's thread. The first listener starts the feed's sensors.
    void Add(Listener* listener);
    // Answers once no call into `listener` runs any more; the last one lets the sensors go.
    void Remove(Listener* listener);
    void SensorArrived();
    KeyNameCache& Names() { return m_sensors.KeyNames(); }

private:
    static void Observe(SensorRecord* record, ISensorDataReport* report, void* self);
    static int Callback(int kind, SensorRecord* record, UINT_PTR self);

    SensorManager m_sensors;
    ReadWriteLock m_lock;
    std::vector<Listener*> m_listeners;  // guarded by m_lock
    HWND volatile m_window;
    UINT m_arrived;
    bool m_started;
};
