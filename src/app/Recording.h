// A recording of every data report of every sensor into a comma-separated file, for as
// long as it runs, sensors that arrive meanwhile included.
#pragma once

#include <windows.h>

#include <memory>
#include <unordered_map>

#include "app/ReportFeed.h"
#include "common/CsvRecorder.h"
#include "common/WideString.h"
#include "platform/KernelObjects.h"
#include "sensors/ReportLines.h"

class SensorRecording : public ReportFeed::Listener {
public:
    explicit SensorRecording(ReportFeed& feed);
    ~SensorRecording() override;
    SensorRecording(const SensorRecording&) = delete;
    SensorRecording& operator=(const SensorRecording&) = delete;

    // Creates the file at `path` and starts recording from the feed. `window` gets `failed`
    // posted when a write fails. Answers 1, or 0 with the system's error in `error`.
    int Start(const wchar_t* path, HWND window, UINT failed, DWORD& error);
    // Leaves the feed, writes what is queued and closes the file. Answers 1 when every
    // write succeeded.
    int Stop();

    bool Recording() const { return m_running; }
    const wchar_t* Path() const { return m_path; }
    LONGLONG Written() const { return m_recorder.Written(); }
    LONGLONG Dropped() const { return m_recorder.Dropped(); }
    DWORD Failure() const { return m_recorder.Failure(); }

    void OnReport(SensorRecord* record, ISensorDataReport* report, const FILETIME& arrival) override;

private:
    // The lines of one sensor, made on whichever platform thread reports it.
    struct SensorLines {
        CriticalSectionHolder lock;
        ReportFormatter formatter;
        std::string lines;  // filled with each report's lines, handed over, filled again
    };
    SensorLines* LinesOf(SensorRecord* record);

    ReportFeed& m_feed;
    CsvRecorder m_recorder;
    ReadWriteLock m_sensorsLock;
    std::unordered_map<SensorRecord*, std::unique_ptr<SensorLines>> m_sensors;  // guarded by m_sensorsLock
    WideString m_path;
    bool m_running;
};

// The status shown while recording: "Recording: 1234 rows" and ", 5 dropped" when rows
// were dropped.
void RecordingStatusText(LONGLONG written, LONGLONG dropped, WideString& text);
// The name a new recording is offered: "Orvane yyyy-mm-dd hh-mm-ss.csv".
void DefaultRecordingName(const SYSTEMTIME& local, wchar_t* name, int capacity);
