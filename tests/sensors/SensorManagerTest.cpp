// The sensor manager against the platform's Sensor API, answered by the simulator.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Timing.h"
#include "harness/Harness.h"
#include "sensors/SensorManager.h"

namespace {

std::wstring Id(int n)
{
    wchar_t text[64];
    swprintf(text, 64, L"{6B%06X-1111-2222-3333-444444444444}", n);
    return text;
}

void UseScenario(const std::wstring& text)
{
    std::wstring path = harness::ScratchDir(L"sensors-scenario") + L"world.scenario";
    std::string bytes(text.begin(), text.end());
    ASSERT_TRUE(harness::WriteFileBytes(path, bytes));
    SetEnvironmentVariableW(L"SENSORSIM_SCENARIO", path.c_str());
}

struct Row {
    std::wstring name;
    std::vector<std::wstring> fields;
};

std::vector<Row> Snapshot(SensorManager& manager)
{
    std::vector<Row> rows;
    for (SensorRecord* record = manager.EnumerateSensors(); record; record = SensorManager::Next(record)) {
        Row row;
        row.name = record->friendlyName.Text();
        record->Lock();
        for (SensorField* field = manager.ReadFields(record, nullptr); field; field = LockedList<SensorField>::Next(field))
            row.fields.push_back(std::wstring(field->name.Text()) + L"=" + field->valueText.Text());
        record->Unlock();
        rows.push_back(row);
    }
    return rows;
}

struct Events {
    volatile LONG counts[5] = {};
    volatile LONG sleepMilliseconds = 0;
};

int CountingCallback(int kind, SensorRecord*, UINT_PTR userData)
{
    Events* events = (Events*)userData;
    if (kind >= 0 && kind < 5) InterlockedIncrement(&events->counts[kind]);
    if (events->sleepMilliseconds) Sleep((DWORD)events->sleepMilliseconds);
    return 0;
}

}  // namespace

TEST(SensorManager, EnumeratesNamesAndFormatsInPlatformOrder)
{
    UseScenario(L"sensor " + Id(1) + L"\ncategory SENSOR_CATEGORY_MOTION\nname \"Accelerometer\"\n"
                L"value SENSOR_DATA_TYPE_ACCELERATION_X_G r4 const 9.81\n"
                L"value SENSOR_DATA_TYPE_ACCELERATION_Y_G r8 const -0.5\n"
                L"value SENSOR_DATA_TYPE_QUATERNION r8[] const 1,2\n"
                L"value {8E4F0B31-9C1D-4E3A-A1B2-C3D4E5F60718},5 lpwstr const \"  as is \"\n"
                L"value SENSOR_DATA_TYPE_CUSTOM_VALUE1 error const 5\n"
                L"value SENSOR_DATA_TYPE_CUSTOM_VALUE2 i4 const -42\n"
                L"sensor " + Id(2) + L"\nname none\nfault getdata\n"
                L"sensor " + Id(3) + L"\nname \"Third\"\nfault index\n"
                L"sensor " + Id(4) + L"\nname \"Fourth\"\nvalue SENSOR_DATA_TYPE_HUMAN_PRESENCE bool const 1\n");
    SensorManager manager;
    std::vector<Row> rows = Snapshot(manager);
    ASSERT_EQ(3u, rows.size()) << "the sensor whose index fails is skipped";
    EXPECT_EQ(L"Accelerometer", rows[0].name);
    EXPECT_EQ(L"", rows[1].name) << "no friendly name";
    EXPECT_EQ(L"Fourth", rows[2].name);
    ASSERT_EQ(6u, rows[0].fields.size()) << "a value without text keeps its row";
    EXPECT_EQ(L"ACCELERATION X G=9.810000", rows[0].fields[0]);
    EXPECT_EQ(L"ACCELERATION Y G=-0.500000", rows[0].fields[1]);
    EXPECT_EQ(L"QUATERNION=", rows[0].fields[2]);
    EXPECT_EQ(L"{8E4F0B31-9C1D-4E3A-A1B2-C3D4E5F60718}.5=  as is ", rows[0].fields[3]);
    EXPECT_EQ(L"CUSTOM VALUE1=", rows[0].fields[4]);
    EXPECT_EQ(L"CUSTOM VALUE2=-42", rows[0].fields[5]);
    EXPECT_TRUE(rows[1].fields.empty()) << "GetData fails: no fields";
    EXPECT_EQ(std::vector<std::wstring>{L"HUMAN PRESENCE=-1"}, rows[2].fields);

    SensorRecord* first = manager.Sensors().First();
    ASSERT_NE(nullptr, first);
    GUID expected;
    CLSIDFromString(Id(1).c_str(), &expected);
    EXPECT_TRUE(IsEqualGUID(expected, first->id));
    manager.ReleaseSensors();
}

TEST(SensorManager, RebuildsAreIdenticalAndReleaseStartsAfresh)
{
    UseScenario(L"sensor " + Id(1) + L"\nname \"A\"\nvalue SENSOR_DATA_TYPE_CUSTOM_VALUE1 i4 const 1\n"
                L"sensor " + Id(2) + L"\nname \"B\"\nvalue SENSOR_DATA_TYPE_CUSTOM_VALUE1 i4 const 2\n");
    SensorManager manager;
    EXPECT_FALSE(manager.HasPlatformManager());
    std::vector<Row> first = Snapshot(manager);
    LONG afterFirst = SensorRecord::LiveCount();
    std::vector<Row> second = Snapshot(manager);
    ASSERT_EQ(2u, first.size());
    EXPECT_EQ(first.size(), second.size());
    for (size_t i = 0; i < first.size(); i++) {
        EXPECT_EQ(first[i].name, second[i].name);
        EXPECT_EQ(first[i].fields, second[i].fields);
    }
    EXPECT_EQ(afterFirst, SensorRecord::LiveCount()) << "the old records are gone";
    EXPECT_TRUE(manager.HasPlatformManager());

    manager.ReleaseSensors();
    EXPECT_FALSE(manager.HasPlatformManager());
    EXPECT_EQ(nullptr, manager.Sensors().First());
    EXPECT_EQ(2u, Snapshot(manager).size()) << "a new platform manager after the release";
    EXPECT_TRUE(manager.HasPlatformManager());
    manager.ReleaseSensors();
}

TEST(SensorManager, NoSensorsAndNoService)
{
    UseScenario(L"# nothing here\n");
    SensorManager manager;
    EXPECT_EQ(nullptr, manager.EnumerateSensors());
    EXPECT_TRUE(manager.HasPlatformManager()) << "the manager and its sink stay";
    EXPECT_EQ(nullptr, manager.ReadFields(nullptr, nullptr));
    manager.ReleaseSensors();
}

TEST(SensorManager, EventsReachTheCallback)
{
    UseScenario(L"sensor " + Id(1) + L"\nname \"Fast\"\ninterval 20\nvalue SENSOR_DATA_TYPE_CUSTOM_VALUE1 i4 counter 0 1\n"
                L"sensor " + Id(2) + L" absent\nname \"Late\"\n"
                L"at 200 enter " + Id(2) + L"\nat 300 state " + Id(1) + L" error\nat 400 event " + Id(1) +
                L" SENSOR_EVENT_ACCELEROMETER_SHAKE\n");
    Events events;
    SensorManager manager;
    manager.SetCallback(CountingCallback, (UINT_PTR)&events);
    ASSERT_NE(nullptr, manager.EnumerateSensors());
    Sleep(700);
    manager.ReleaseSensors();
    EXPECT_GE(events.counts[DataUpdated], 10);
    EXPECT_EQ(1, events.counts[SensorEntered]);
    EXPECT_EQ(1, events.counts[StateChanged]);
    EXPECT_EQ(1, events.counts[SensorEvent]);
    LONG seen = events.counts[DataUpdated];
    Sleep(200);
    EXPECT_LE(events.counts[DataUpdated], seen + 1) << "nothing after the release but a call already running";
}

LONG SimulatorObjects()
{
    typedef LONG(WINAPI * Function)();
    HMODULE module = GetModuleHandleW(L"sensorsim.dll");
    Function function = module ? (Function)(void*)GetProcAddress(module, "SensorSimulatorLiveObjects") : nullptr;
    return function ? function() : -1;
}

std::wstring FirstText(SensorField* field)
{
    return field ? std::wstring(field->name.Text()) + L"=" + field->valueText.Text() : L"<none>";
}

TEST(SensorManager, DataEventsAreReadWhenTheFieldsAre)
{
    UseScenario(L"sensor " + Id(1) + L"\nname \"Counter\"\ninterval 10\nvalue SENSOR_DATA_TYPE_CUSTOM_VALUE1 i4 counter 100 1\n"
                L"value SENSOR_DATA_TYPE_CUSTOM_VALUE2 r8 const 2.5\n");
    Events events;
    {
        SensorManager manager;
        manager.SetCallback(CountingCallback, (UINT_PTR)&events);
        SensorRecord* record = manager.EnumerateSensors();
        ASSERT_NE(nullptr, record);
        for (int i = 0; i < 200 && events.counts[DataUpdated] < 5; i++) Sleep(10);
        ASSERT_GE(events.counts[DataUpdated], 5);

        // The latest report is read on demand: both values, named and formatted as always.
        record->Lock();
        SensorField* field = manager.CurrentFields(record);
        std::wstring counter = FirstText(field);
        std::wstring constant = FirstText(field ? LockedList<SensorField>::Next(field) : nullptr);
        record->Unlock();
        ASSERT_EQ(0u, counter.find(L"CUSTOM VALUE1=")) << counter;
        EXPECT_GT(_wtoi(counter.c_str() + 14), 100) << "a report of an event, not the first data: " << counter;
        EXPECT_EQ(L"CUSTOM VALUE2=2.500000", constant);

        // Newer events move it on; a fresh read of the sensor's data drops the kept report.
        LONG seen = events.counts[DataUpdated];
        for (int i = 0; i < 200 && events.counts[DataUpdated] < seen + 3; i++) Sleep(10);
        record->Lock();
        std::wstring later = FirstText(manager.CurrentFields(record));
        EXPECT_GT(_wtoi(later.c_str() + 14), _wtoi(counter.c_str() + 14)) << later;
        EXPECT_EQ(L"CUSTOM VALUE2=2.500000", FirstText(LockedList<SensorField>::Next(manager.ReadFields(record, nullptr))));
        record->Unlock();
        manager.ReleaseSensors();
    }
    // Every report kept for an event was given back.
    for (int i = 0; i < 100 && (SensorRecord::LiveCount() > 0 || SimulatorObjects() > 0); i++) Sleep(20);
    EXPECT_EQ(0, SensorRecord::LiveCount());
    EXPECT_EQ(0, SimulatorObjects()) << "no report is held after the records are gone";
}

TEST(SensorManager, RecordsOutliveEventCallsThatAreStillRunning)
{
    // Many fast sensors while the list is rebuilt over and over: every rebuild destroys the
    // records while their sinks are being called on the simulator's threads.
    std::wstring text;
    for (int i = 1; i <= 16; i++)
        text += L"sensor " + Id(i) + L"\nname \"S" + std::to_wstring(i) +
                L"\"\ninterval 1\nvalue SENSOR_DATA_TYPE_CUSTOM_VALUE1 i4 counter 0 1\n"
                L"value SENSOR_DATA_TYPE_CUSTOM_VALUE2 lpwstr const \"text\"\n";
    UseScenario(text);
    Events events;
    {
        SensorManager manager;
        manager.SetCallback(CountingCallback, (UINT_PTR)&events);
        ULONGLONG end = TickCount64() + 3000;
        int rebuilds = 0;
        while (TickCount64() < end) {
            events.sleepMilliseconds = rebuilds % 3;  // widens the window now and then
            std::vector<Row> rows = Snapshot(manager);
            EXPECT_EQ(16u, rows.size());
            rebuilds++;
        }
        events.sleepMilliseconds = 0;
        manager.ReleaseSensors();
        EXPECT_GE(rebuilds, 20);
        EXPECT_GE(events.counts[DataUpdated], 500);
    }
    // Calls that were running at the release end soon; then every record is gone.
    for (int i = 0; i < 100 && SensorRecord::LiveCount() > 0; i++) Sleep(20);
    EXPECT_EQ(0, SensorRecord::LiveCount());
}

#include "sensors/ReportLines.h"

namespace {

// The lines a recording makes of one report, each as wide text without its CR LF.
size_t AppendReportLines(const wchar_t* name, const GUID& id, ISensorDataReport* report, const FILETIME& arrival,
                         KeyNameCache& names, std::vector<std::wstring>& lines)
{
    ReportFormatter formatter;
    formatter.SetSensor(name, id);
    std::string text;
    size_t count = formatter.Append(report, arrival, names, text);
    size_t made = 0;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find("\r\n", at);
        EXPECT_NE(std::string::npos, end) << "every line ends in CR LF";
        if (end == std::string::npos) break;
        int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data() + at, (int)(end - at), nullptr, 0);
        std::wstring line((size_t)(length > 0 ? length : 0), L'\0');
        if (length > 0)
            MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data() + at, (int)(end - at), &line[0], length);
        lines.push_back(line);
        made++;
        at = end + 2;
    }
    EXPECT_EQ(count, made) << "the count answered is the lines made";
    return count;
}

}  // namespace

TEST(ReportLines, OneQuotedLinePerValueWithInvariantNumbers)
{
    UseScenario(L"sensor " + Id(70) + L"\nname \"Probe, left\"\n"
                L"value SENSOR_DATA_TYPE_CUSTOM_VALUE1 r8 const 0.1\n"
                L"value SENSOR_DATA_TYPE_CUSTOM_VALUE2 i4 const -3\n"
                L"value SENSOR_DATA_TYPE_CUSTOM_VALUE3 lpwstr const \"left, right\"\n"
                L"value SENSOR_DATA_TYPE_CUSTOM_VALUE4 bool const 1\n"
                L"value SENSOR_DATA_TYPE_CUSTOM_VALUE5 r4 const 1e-7\n");
    SensorManager manager;
    SensorRecord* record = manager.EnumerateSensors();
    ASSERT_TRUE(record && record->sensor);
    ISensorDataReport* report = nullptr;
    ASSERT_EQ(S_OK, record->sensor->GetData(&report));
    FILETIME arrival = {0, 0};
    KeyNameCache names;
    std::vector<std::wstring> lines;
    ASSERT_EQ(5u, AppendReportLines(record->friendlyName.Text(), record->id, report, arrival, names, lines));
    report->Release();
    ASSERT_EQ(5u, lines.size());
    // The report's own time stamp, as local ISO 8601 with milliseconds (not the arrival's 1601).
    const std::wstring& first = lines[0];
    ASSERT_GT(first.size(), 24u);
    EXPECT_EQ(L'T', first[10]);
    EXPECT_EQ(L'.', first[19]);
    EXPECT_EQ(L',', first[23]);
    EXPECT_NE(L"1601", first.substr(0, 4)) << "the report's time, not the arrival's";
    const std::wstring rest = L",\"Probe, left\"," + Id(70) + L",";
    const wchar_t* values[] = {L"CUSTOM VALUE1,0.1", L"CUSTOM VALUE2,-3", L"CUSTOM VALUE3,\"left, right\"",
                               L"CUSTOM VALUE4,1", L"CUSTOM VALUE5,1e-07"};
    for (size_t i = 0; i < 5; i++) {
        EXPECT_EQ(first.substr(0, 23), lines[i].substr(0, 23)) << "one time for the report";
        EXPECT_EQ(rest + values[i], lines[i].substr(23)) << i;
    }
    EXPECT_EQ(0u, AppendReportLines(L"x", GUID_NULL, nullptr, arrival, names, lines)) << "no report, no lines";
    manager.ReleaseSensors();
}

namespace {

struct Observed {
    CRITICAL_SECTION lock;
    std::vector<std::wstring> lines;
    SensorManager* manager = nullptr;
};

void Observe(SensorRecord* record, ISensorDataReport* report, void* user)
{
    Observed* observed = (Observed*)user;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    std::vector<std::wstring> lines;
    AppendReportLines(record->friendlyName.Text(), record->id, report, now, observed->manager->KeyNames(), lines);
    EnterCriticalSection(&observed->lock);
    observed->lines.insert(observed->lines.end(), lines.begin(), lines.end());
    LeaveCriticalSection(&observed->lock);
}

}  // namespace

TEST(ReportLines, TheObserverSeesEveryDataReportInOrder)
{
    UseScenario(L"sensor " + Id(71) + L"\nname \"Fast\"\ninterval 15\nvalue SENSOR_DATA_TYPE_CUSTOM_VALUE1 i4 counter 0 1\n");
    Observed observed;
    InitializeCriticalSection(&observed.lock);
    SensorManager manager;
    observed.manager = &manager;
    manager.SetReportObserver(Observe, &observed);
    ASSERT_NE(nullptr, manager.EnumerateSensors());
    const ULONGLONG start = TickCount64();
    for (;;) {
        EnterCriticalSection(&observed.lock);
        size_t seen = observed.lines.size();
        LeaveCriticalSection(&observed.lock);
        if (seen >= 20 || TickCount64() - start > 30000) break;
        Sleep(20);
    }
    manager.ReleaseSensors();
    Sleep(100);  // a call that was already running ends
    EnterCriticalSection(&observed.lock);
    std::vector<std::wstring> lines = observed.lines;
    LeaveCriticalSection(&observed.lock);
    DeleteCriticalSection(&observed.lock);
    ASSERT_GE(lines.size(), 20u);
    // Nothing but the data events made reports here: the counter's values, each once, in order.
    for (size_t i = 0; i < lines.size(); i++) {
        size_t comma = lines[i].rfind(L',');
        ASSERT_NE(std::wstring::npos, comma);
        EXPECT_EQ(std::to_wstring(i), lines[i].substr(comma + 1)) << lines[i];
        EXPECT_NE(std::wstring::npos, lines[i].find(L",Fast," + Id(71) + L",CUSTOM VALUE1,")) << lines[i];
    }
}

