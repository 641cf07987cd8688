#include "app/Recording.h"

#include <stdio.h>

#include <string>
#include <vector>

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
    m_running = false;
    return result;
}

void SensorRecording::OnReport(SensorRecord* record, ISensorDataReport* report, const FILETIME& arrival)
{
    if (!m_recorder.Recording()) return;
    std::vector<std::wstring> lines;
    try {
        AppendReportLines(record->friendlyName.Text(), record->id, report, arrival, m_feed.Names(), lines);
    } catch (...) {
        // Without memory for the lines the report is lost as a full queue loses it: counted.
        m_recorder.CountDropped(1);
        return;
    }
    for (std::wstring& line : lines) m_recorder.Add(std::move(line));
}

void RecordingStatusText(LONGLONG written, LONGLONG dropped, WideString& text)
{
    text.Format(L"Recording: %lld rows", written);
    if (dropped > 0) text.AppendFormat(L", %lld dropped", dropped);
}

void DefaultRecordingName(const SYSTEMTIME& local, wchar_t* name, int capacity)
{
    _snwprintf(name, (size_t)capacity, L"Orvane %04u-%02u-%02u %02u-%02u-%02u.csv", local.wYear, local.wMonth,
               local.wDay, local.wHour, local.wMinute, local.wSecond);
    name[capacity - 1] = L'\0';
}
