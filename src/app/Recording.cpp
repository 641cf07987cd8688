#include "app/Recording.h"

#include <stdio.h>

#include <new>
#include <string>
#include <utility>

#include "sensors/ReportLines.h"

SensorRecording::SensorRecording(ReportFeed& feed) : m_feed(feed), m_running(false) {}

SensorRecording::~SensorRecording()
{
    Stop();
}

int SensorRecording::Start(const wchar_t* path, HWND window, UINT failed, DWORD& error)
{
    error = 0;
    if (m_running) return 0;
    if (!m_recorder.Start(path, RecordingHeader, CsvRecorder::DefaultCapacity, error, window, failed)) return 0;
    m_path.Assign(path);
    m_running = true;
    m_feed.Add(this);
    return 1;
}

int SensorRecording::Stop()
{
    if (!m_running) return 1;
    // Once out of the feed no report reaches the recorder any more.
    m_feed.Remove(this);
    int result = m_recorder.Stop();
    m_sensors.clear();
    m_running = false;
    return result;
}

SensorRecording::SensorLines* SensorRecording::LinesOf(SensorRecord* record)
{
    m_sensorsLock.Read();
    auto found = m_sensors.find(record);
    SensorLines* lines = found == m_sensors.end() ? nullptr : found->second.get();
    m_sensorsLock.EndRead();
    if (lines) return lines;
    std::unique_ptr<SensorLines> made(new SensorLines());
    made->lock.Initialise();
    made->formatter.SetSensor(record->friendlyName.Text(), record->id);
    m_sensorsLock.Write();
    try {
        // Another thread may have made them meanwhile: the first made are kept.
        auto placed = m_sensors.emplace(record, std::move(made));
        lines = placed.first->second.get();
    } catch (...) {
        lines = nullptr;
    }
    m_sensorsLock.EndWrite();
    return lines;
}

void SensorRecording::OnReport(SensorRecord* record, ISensorDataReport* report, const FILETIME& arrival)
{
    if (!m_recorder.Recording() || !record) return;
    SensorLines* lines = nullptr;
    try {
        lines = LinesOf(record);
    } catch (...) {
    }
    if (!lines) {
        // Without memory for the lines the report is lost as a full queue loses it: counted.
        m_recorder.CountDropped(1);
        return;
    }
    lines->lock.Enter();
    try {
        // A record stands for one sensor for its whole life; should its place be taken by
        // another one's, the fields follow.
        if (!IsEqualGUID(lines->formatter.Sensor(), record->id))
            lines->formatter.SetSensor(record->friendlyName.Text(), record->id);
        lines->lines.clear();
        size_t rows = lines->formatter.Append(report, arrival, m_feed.Names(), lines->lines);
        m_recorder.AddRows(lines->lines, rows);
    } catch (...) {
        lines->lines.clear();
        m_recorder.CountDropped(1);
    }
    lines->lock.Leave();
}

void RecordingStatusText(LONGLONG written, LONGLONG dropped, WideString& text)
{
    text.Format(L"Recording: %I64d rows", written);
    if (dropped > 0) text.AppendFormat(L", %I64d dropped", dropped);
}

void DefaultRecordingName(const SYSTEMTIME& local, wchar_t* name, int capacity)
{
    _snwprintf(name, (size_t)capacity, L"Orvane %04u-%02u-%02u %02u-%02u-%02u.csv", local.wYear, local.wMonth,
               local.wDay, local.wHour, local.wMinute, local.wSecond);
    name[capacity - 1] = L'\0';
}
