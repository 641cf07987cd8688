// Measures the viewer against baselines measured in the same run. Every figure comes from
// several rounds that alternate baseline and subject; the median is reported with the
// spread of the rounds and the load the rest of the machine put on it meanwhile.
//   viewer_bench rebuild                   a full tree rebuild (100 sensors x 30 values)
//                                          against inserting the same rows into a plain
//                                          tree view, in the same process
//   viewer_bench stream <sensors> <ms>     sensors reporting every <ms> milliseconds for
//                                          10 s: CPU per wall second of the viewer above a
//                                          client that only counts the same events; the
//                                          viewer's private memory over the 10 s
//   viewer_bench startup <program> <base>  from process start to the first paint of a filled
//                                          tree, against the same for a dialog program with
//                                          one empty tree view; private memory after start
// The sensor platform simulator must be registered; the bench writes its scenario beside
// itself and points the simulator at it (the start-up rounds use its demo world).
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <sensorsapi.h>
#include <stdio.h>

#include <algorithm>
#include <math.h>
#include <string>
#include <vector>

#include "app/MainDialog.h"
#include "app/Resources.h"
#include "app/SensorTree.h"
#include "common/ComApartment.h"
#include "common/Timing.h"
#include "sensors/ReportLines.h"

namespace {

std::wstring BesideProgram(const wchar_t* name)
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + name;
}

void WriteScenario(int sensors, int values, int interval)
{
    std::string text;
    for (int s = 0; s < sensors; s++) {
        char line[200];
        snprintf(line, sizeof(line), "sensor {7B%06X-1111-2222-3333-444444444444}\nname \"Sensor %03d\"\n", s, s);
        text += line;
        if (interval) {
            snprintf(line, sizeof(line), "interval %d\n", interval);
            text += line;
        }
        for (int v = 0; v < values; v++) {
            snprintf(line, sizeof(line), "value {8E4F0B31-9C1D-4E3A-A1B2-C3D4E5F60718},%d r8 sine 5 %d %d\n", v + 2,
                     700 + v * 10, v);
            text += line;
        }
    }
    std::wstring path = BesideProgram(L"bench.scenario");
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, text.data(), (DWORD)text.size(), &written, nullptr);
    CloseHandle(file);
    SetEnvironmentVariableW(L"SENSORSIM_SCENARIO", path.c_str());
}

// The median of a set of rounds, its middle half and its whole range.
struct Spread {
    double median = 0, lowQuarter = 0, highQuarter = 0, low = 0, high = 0;
};

double Quantile(const std::vector<double>& sorted, double q)
{
    double at = q * (double)(sorted.size() - 1);
    size_t below = (size_t)at;
    if (below + 1 >= sorted.size()) return sorted.back();
    return sorted[below] + (at - (double)below) * (sorted[below + 1] - sorted[below]);
}

Spread SpreadOf(std::vector<double> values)
{
    Spread spread;
    if (values.empty()) return spread;
    std::sort(values.begin(), values.end());
    spread.median = Quantile(values, 0.5);
    spread.lowQuarter = Quantile(values, 0.25);
    spread.highQuarter = Quantile(values, 0.75);
    spread.low = values.front();
    spread.high = values.back();
    return spread;
}

// "median (middle half q1..q3, all low..high)"
std::string Figure(const Spread& spread, const char* format)
{
    char median[32], q1[32], q3[32], low[32], high[32], text[200];
    snprintf(median, sizeof(median), format, spread.median);
    snprintf(q1, sizeof(q1), format, spread.lowQuarter);
    snprintf(q3, sizeof(q3), format, spread.highQuarter);
    snprintf(low, sizeof(low), format, spread.low);
    snprintf(high, sizeof(high), format, spread.high);
    snprintf(text, sizeof(text), "%s (middle half %s..%s, all %s..%s)", median, q1, q3, low, high);
    return text;
}

// A figure is only as good as its rounds. The target counts as met or missed when the
// middle half of the rounds lies on one side of it; and a figure says so when its rounds
// scatter wider than the gap it measures (its distance from `neutral`: no difference).
std::string Verdict(const Spread& spread, double target, double neutral)
{
    std::string text;
    if (spread.highQuarter <= target)
        text = "target met";
    else if (spread.lowQuarter > target)
        text = "target missed";
    else
        text = "rounds on both sides of the target: not decided";
    if (spread.highQuarter - spread.lowQuarter > fabs(spread.median - neutral))
        text += "; the rounds scatter wider than the gap measured";
    return text;
}

ULONGLONG FileTimeValue(const FILETIME& time)
{
    return ((ULONGLONG)time.dwHighDateTime << 32) | time.dwLowDateTime;
}

ULONGLONG ProcessCpuMicroseconds(HANDLE process = GetCurrentProcess())
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (FileTimeValue(kernel) + FileTimeValue(user)) / 10;
}

// Busy time of all processors of the machine (kernel time includes the idle time).
ULONGLONG MachineBusyMicroseconds()
{
    FILETIME idle, kernel, user;
    if (!GetSystemTimes(&idle, &kernel, &user)) return 0;
    return (FileTimeValue(kernel) + FileTimeValue(user) - FileTimeValue(idle)) / 10;
}

SIZE_T PrivateBytes(HANDLE process = GetCurrentProcess())
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(process, (PROCESS_MEMORY_COUNTERS*)&counters, sizeof(counters));
    // Some systems leave the private count empty; the page-file count is the same figure.
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

// What the rest of the machine did during a measurement: processors busy outside this
// process, as a share of one processor.
class LoadMeter {
public:
    void Start()
    {
        m_busy = MachineBusyMicroseconds();
        m_own = ProcessCpuMicroseconds();
        m_wall = TickCount64();
    }
    double OtherCores() const
    {
        double wall = (double)(TickCount64() - m_wall) * 1000.0;
        double other = (double)(MachineBusyMicroseconds() - m_busy) - (double)(ProcessCpuMicroseconds() - m_own);
        return wall > 0 && other > 0 ? other / wall : 0.0;
    }

private:
    ULONGLONG m_busy = 0, m_own = 0, m_wall = 0;
};

unsigned ProcessorCount()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors;
}

void PrintLoad(const std::vector<double>& load)
{
    printf("  machine: %u processors; other load during the rounds %s of a core\n", ProcessorCount(),
           Figure(SpreadOf(load), "%.2f").c_str());
}

const UINT RunBench = WM_APP + 1;

class BenchDialog : public MainDialog {
public:
    // `extra`: 1 records every report to a file, 2 plots the first sensor's numbers.
    BenchDialog(bool stream, const wchar_t* out, int extra = 0) : m_stream(stream), m_out(out), m_extra(extra) {}

    int OnInitDialog() override
    {
        int result = MainDialog::OnInitDialog();
        PostMessageW(m_window, RunBench, 0, 0);
        return result;
    }
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_NOTIFY && m_phaseList && ((NMHDR*)lParam)->hwndFrom == m_phaseList->Tree()) {
            LRESULT result = 0;
            if (m_phaseList->HandleNotify(m_window, wParam, (NMHDR*)lParam, &result)) return (INT_PTR)result;
            return 0;
        }
        if (message == RunBench) {
            if (m_stream)
                Stream();
            else
                Rebuilds();
            Close(0);
            return 1;
        }
        return MainDialog::OnMessage(message, wParam, lParam);
    }

private:
    void Rebuilds()
    {
        HWND tree = Item(IDC_SENSOR_TREE);
        // The rows as the viewer made them, to insert the very same texts in the baseline.
        std::vector<std::pair<int, std::wstring>> rows = {{0, Text(tree, TreeView_GetRoot(tree))}};
        for (HTREEITEM sensor = TreeView_GetChild(tree, TreeView_GetRoot(tree)); sensor;
             sensor = TreeView_GetNextSibling(tree, sensor)) {
            rows.push_back({1, Text(tree, sensor)});
            for (HTREEITEM value = TreeView_GetChild(tree, sensor); value; value = TreeView_GetNextSibling(tree, value))
                rows.push_back({2, Text(tree, value)});
        }
        std::vector<double> viewer, bare, ratios, load;
        RECT rect;
        GetWindowRect(tree, &rect);
        MapWindowPoints(nullptr, m_window, (POINT*)&rect, 2);
        HWND plain = CreateWindowExW(0, WC_TREEVIEWW, L"", WS_CHILD | WS_VISIBLE | WS_BORDER | TVS_HASBUTTONS,
                                     rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, m_window,
                                     nullptr, m_instance, nullptr);
        // The same font as the viewer's tree: text widths are measured for every row.
        SendMessageW(plain, WM_SETFONT, (WPARAM)SendMessageW(tree, WM_GETFONT, 0, 0), FALSE);
        ShowWindow(plain, SW_HIDE);
        for (int round = 0; round < 21; round++) {
            LoadMeter meter;
            meter.Start();
            // Baseline and subject take turns, the baseline first in even rounds.
            double times[2] = {0, 0};
            for (int turn = 0; turn < 2; turn++) {
                bool subject = (turn == 0) == (round % 2 == 1);
                Stopwatch watch;
                if (subject) {
                    watch.Start();
                    RebuildTree();
                    UpdateWindow(tree);
                    watch.Stop();
                    times[0] = (double)watch.Microseconds() / 1000.0;
                    continue;
                }
                ShowWindow(tree, SW_HIDE);
                ShowWindow(plain, SW_SHOW);
                UpdateWindow(plain);
                double steps[4];
                FillPlainTree(plain, rows, steps);
                times[1] = steps[0] + steps[1] + steps[2] + steps[3];
                ShowWindow(plain, SW_HIDE);
                ShowWindow(tree, SW_SHOW);
                UpdateWindow(tree);
            }
            load.push_back(meter.OtherCores());
            if (round == 0) continue;  // the first round warms caches and the heap
            viewer.push_back(times[0]);
            bare.push_back(times[1]);
            if (times[1] > 0) ratios.push_back(times[0] / times[1]);
        }
        DestroyWindow(plain);
        Spread v = SpreadOf(viewer), b = SpreadOf(bare), r = SpreadOf(ratios);
        printf("rebuild of %zu rows, painted, %zu alternating rounds:\n", rows.size(), ratios.size());
        printf("  viewer %s ms\n  plain tree insertion %s ms\n", Figure(v, "%.1f").c_str(), Figure(b, "%.1f").c_str());
        printf("  ratio %s, target <= 1.20: %s\n", Figure(r, "%.2f").c_str(), Verdict(r, 1.2, 1.0).c_str());
        PrintLoad(load);
        Phases(rect);
    }

    // Where a rebuild's time goes: the same steps one by one, each with its own objects.
    void Phases(const RECT& rect)
    {
        std::vector<double> reading, building, inserting, steps[4];
        HWND copy = CreateWindowExW(0, WC_TREEVIEWW, L"", GetWindowLongW(Item(IDC_SENSOR_TREE), GWL_STYLE) & ~WS_VISIBLE,
                                    rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, m_window,
                                    nullptr, m_instance, nullptr);
        HFONT font = (HFONT)SendMessageW(Item(IDC_SENSOR_TREE), WM_GETFONT, 0, 0);
        SendMessageW(copy, WM_SETFONT, (WPARAM)font, FALSE);
        TreeList list;
        list.AttachTreeList(copy, m_instance,
                            TreeListFlags::KeepChildrenOnCollapse | TreeListFlags::KeepImages | TreeListFlags::StaticHeader);
        list.SetExtendedStyle(0x54, 0x54);
        list.AddIcon(IDI_TREE_ROOT);
        list.AddIcon(IDI_TREE_SENSOR);
        list.AddIcon(IDI_TREE_VALUE);
        list.AddColumn(L"Item", 0, 400, 0);
        list.AddColumn(L"Value", 1, 500, 0);
        m_phaseList = &list;  // its rows are painted as the viewer's are
        SensorManager manager;
        ShowWindow(Item(IDC_SENSOR_TREE), SW_HIDE);
        ShowWindow(copy, SW_SHOW);
        // Kept from round to round, as the viewer keeps them from rebuild to rebuild.
        std::vector<SensorSnapshot> sensors;
        std::vector<TreeRow> rows;
        for (int round = 0; round < 11; round++) {
            Stopwatch watch;
            watch.Start();
            ReadSensorSnapshots(manager, sensors);
            watch.Stop();
            double read = (double)watch.Microseconds() / 1000.0;
            watch.Start();
            BuildTreeRows(sensors, RowIdentity(), true, rows);
            watch.Stop();
            double build = (double)watch.Microseconds() / 1000.0;
            Stopwatch whole;
            whole.Start();
            watch.Start();
            list.SetRedraw(false);
            list.DeleteAllRows();
            watch.Stop();
            double deleted = (double)watch.Microseconds() / 1000.0;
            watch.Start();
            HTREEITEM parents[3] = {TVI_ROOT, nullptr, nullptr};
            std::vector<HTREEITEM> sensorRows;
            for (const TreeRow& row : rows) {
                HTREEITEM item = list.InsertRow(parents[row.level], TVI_LAST, row.text, row.image, row.image,
                                                row.hasChildren ? 1 : 0, 0);
                if (row.level < 2) parents[row.level + 1] = item;
                if (row.level == 1) sensorRows.push_back(item);
            }
            watch.Stop();
            double inserted = (double)watch.Microseconds() / 1000.0;
            watch.Start();
            for (HTREEITEM item : sensorRows) list.ExpandRow(item, TVE_EXPAND);
            list.ExpandRow(parents[1], TVE_EXPAND);
            watch.Stop();
            double expanded = (double)watch.Microseconds() / 1000.0;
            watch.Start();
            list.SetRedraw(true);
            UpdateWindow(copy);
            watch.Stop();
            whole.Stop();
            if (round == 0) continue;
            reading.push_back(read);
            building.push_back(build);
            inserting.push_back((double)whole.Microseconds() / 1000.0);
            steps[0].push_back(deleted);
            steps[1].push_back(inserted);
            steps[2].push_back(expanded);
            steps[3].push_back((double)watch.Microseconds() / 1000.0);
        }
        // The same steps in a plain tree view with the same texts and no images.
        std::vector<double> plainSteps[4];
        std::vector<std::pair<int, std::wstring>> plainRows;
        ReadSensorSnapshots(manager, sensors);
        BuildTreeRows(sensors, RowIdentity(), true, rows);
        for (const TreeRow& row : rows) plainRows.push_back({row.level, row.text.Text()});
        HWND plain = CreateWindowExW(0, WC_TREEVIEWW, L"", WS_CHILD | WS_BORDER | TVS_HASBUTTONS, rect.left, rect.top,
                                     rect.right - rect.left, rect.bottom - rect.top, m_window, nullptr, m_instance,
                                     nullptr);
        SendMessageW(plain, WM_SETFONT, (WPARAM)font, FALSE);
        ShowWindow(copy, SW_HIDE);
        ShowWindow(plain, SW_SHOW);
        for (int round = 0; round < 11; round++) {
            double times[4];
            FillPlainTree(plain, plainRows, times);
            if (round == 0) continue;
            for (int i = 0; i < 4; i++) plainSteps[i].push_back(times[i]);
        }
        DestroyWindow(plain);
        manager.ReleaseSensors();
        m_phaseList = nullptr;
        list.Detach();
        DestroyWindow(copy);
        ShowWindow(Item(IDC_SENSOR_TREE), SW_SHOW);
        printf("  its steps apart: enumerate and read the sensors %s ms, make the rows %s ms,\n"
               "  delete, insert, expand and paint in the tree-list %s ms\n",
               Figure(SpreadOf(reading), "%.1f").c_str(), Figure(SpreadOf(building), "%.1f").c_str(),
               Figure(SpreadOf(inserting), "%.1f").c_str());
        printf("  of which delete %.1f ms, insert %.1f ms, expand %.1f ms, paint %.1f ms (medians)\n",
               SpreadOf(steps[0]).median, SpreadOf(steps[1]).median, SpreadOf(steps[2]).median,
               SpreadOf(steps[3]).median);
        printf("  the plain tree: delete %.1f ms, insert %.1f ms, expand %.1f ms, paint %.1f ms (medians)\n",
               SpreadOf(plainSteps[0]).median, SpreadOf(plainSteps[1]).median, SpreadOf(plainSteps[2]).median,
               SpreadOf(plainSteps[3]).median);
    }

    void Stream()
    {
        // Warm up, then measure ten seconds of streaming with the message loop running.
        if (m_extra == 1) RecordTo(BesideProgram(L"bench-recording.csv").c_str());
        if (m_extra == 2) {
            const GUID first = {0x7B000000, 0x1111, 0x2222, {0x33, 0x33, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44}};
            OpenPlot(first, L"Sensor 000", L"");
        }
        Pump(1000);
        unsigned long rebuilds = RebuildCount();
        SIZE_T memory = PrivateBytes();
        ULONGLONG cpu = ProcessCpuMicroseconds();
        LoadMeter meter;
        meter.Start();
        Stopwatch wall;
        wall.Start();
        Pump(10000);
        wall.Stop();
        double seconds = (double)wall.Microseconds() / 1e6;
        double load = (double)(ProcessCpuMicroseconds() - cpu) / 1e6 / seconds;
        LONGLONG dropped = Recording().Dropped(), written = Recording().Written();
        if (FILE* out = _wfopen(m_out, L"w")) {
            fprintf(out, "%.6f 0 %lu %zu %zu %.3f %.4f %lld %lld\n", load, RebuildCount() - rebuilds,
                    (size_t)(memory / 1024), (size_t)(PrivateBytes() / 1024), seconds, meter.OtherCores(), dropped,
                    written);
            fclose(out);
        }
    }

    static void Pump(DWORD milliseconds)
    {
        ULONGLONG end = TickCount64() + milliseconds;
        while (TickCount64() < end) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
    }

    static std::wstring Text(HWND tree, HTREEITEM item)
    {
        wchar_t text[MAX_PATH] = L"";
        TVITEMW request = {};
        request.mask = TVIF_TEXT;
        request.hItem = item;
        request.pszText = text;
        request.cchTextMax = MAX_PATH;
        TreeView_GetItem(tree, &request);
        return text;
    }

    // Delete, insert (levels 0 to 2), expand and paint in a plain tree view, each step's
    // time in ms.
    static void FillPlainTree(HWND plain, const std::vector<std::pair<int, std::wstring>>& rows, double times[4])
    {
        Stopwatch watch;
        watch.Start();
        SendMessageW(plain, WM_SETREDRAW, FALSE, 0);
        TreeView_DeleteAllItems(plain);
        watch.Stop();
        times[0] = (double)watch.Microseconds() / 1000.0;
        watch.Start();
        HTREEITEM parents[3] = {TVI_ROOT, nullptr, nullptr};
        std::vector<HTREEITEM> sensorRows;
        for (const auto& row : rows) {
            HTREEITEM item = Insert(plain, parents[row.first], row.second.c_str());
            if (row.first < 2) parents[row.first + 1] = item;
            if (row.first == 1) sensorRows.push_back(item);
        }
        watch.Stop();
        times[1] = (double)watch.Microseconds() / 1000.0;
        watch.Start();
        for (HTREEITEM item : sensorRows) TreeView_Expand(plain, item, TVE_EXPAND);
        TreeView_Expand(plain, parents[1], TVE_EXPAND);
        watch.Stop();
        times[2] = (double)watch.Microseconds() / 1000.0;
        watch.Start();
        SendMessageW(plain, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(plain, nullptr, TRUE);
        UpdateWindow(plain);
        watch.Stop();
        times[3] = (double)watch.Microseconds() / 1000.0;
    }

    static HTREEITEM Insert(HWND tree, HTREEITEM parent, const wchar_t* text)
    {
        TVINSERTSTRUCTW insert = {};
        insert.hParent = parent;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT;
        insert.item.pszText = const_cast<wchar_t*>(text);
        return TreeView_InsertItem(tree, &insert);
    }

    bool m_stream;
    const wchar_t* m_out;
    int m_extra;
    TreeList* m_phaseList = nullptr;
};

// The same events with a client that only counts them: what the platform itself costs.
class CountingSink : public ISensorEvents {
public:
    volatile LONG calls = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        *object = (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISensorEvents)) ? this : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnStateChanged(ISensor*, SensorState) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDataUpdated(ISensor*, ISensorDataReport*) override
    {
        InterlockedIncrement(&calls);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEvent(ISensor*, REFGUID, IPortableDeviceValues*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnLeave(REFSENSOR_ID) override { return S_OK; }
};

void CountingClient(const wchar_t* outName)
{
    ComApartment apartment;
    apartment.Initialise(ComApartment::Multithreaded);
    ISensorManager* manager = nullptr;
    if (FAILED(ComApartment::CreateByProgId(L"SensorsApi.SensorManager.1", IID_ISensorManager, (void**)&manager)))
        return;
    const GUID all = {0xC317C286, 0xC468, 0x4288, {0x99, 0x75, 0xD4, 0xC4, 0x58, 0x7C, 0x44, 0x2C}};
    ISensorCollection* collection = nullptr;
    manager->GetSensorsByCategory(all, &collection);
    ULONG count = 0;
    if (collection) collection->GetCount(&count);
    CountingSink sink;
    std::vector<ISensor*> sensors;
    for (ULONG i = 0; i < count; i++) {
        ISensor* sensor = nullptr;
        if (SUCCEEDED(collection->GetAt(i, &sensor))) {
            sensor->SetEventSink(&sink);
            sensors.push_back(sensor);
        }
    }
    Sleep(1000);
    SIZE_T memory = PrivateBytes();
    ULONGLONG cpu = ProcessCpuMicroseconds();
    LONG calls = sink.calls;
    LoadMeter meter;
    meter.Start();
    Stopwatch wall;
    wall.Start();
    Sleep(10000);
    wall.Stop();
    double seconds = (double)wall.Microseconds() / 1e6;
    if (FILE* out = _wfopen(outName, L"w")) {
        fprintf(out, "%.6f %.1f 0 %zu %zu %.3f %.4f\n", (double)(ProcessCpuMicroseconds() - cpu) / 1e6 / seconds,
                (sink.calls - calls) / seconds, (size_t)(memory / 1024), (size_t)(PrivateBytes() / 1024), seconds,
                meter.OtherCores());
        fclose(out);
    }
    for (ISensor* sensor : sensors) {
        sensor->SetEventSink(nullptr);
        sensor->Release();
    }
    if (collection) collection->Release();
    manager->Release();
}

// Runs a program to its end; 1 when it could be started.
int RunProgram(const std::wstring& commandLine, DWORD* exitCode = nullptr)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 0;
    WaitForSingleObject(process.hProcess, INFINITE);
    if (exitCode) GetExitCodeProcess(process.hProcess, exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
}

struct StreamRound {
    double cpu = 0, events = 0, seconds = 0, other = 0;
    unsigned long rebuilds = 0;
    double memoryBefore = 0, memoryAfter = 0;
    long long dropped = 0, written = 0;  // rows of a recording
};

int RunStreamRound(const wchar_t* mode, int sensors, int interval, StreamRound& round)
{
    std::wstring out = BesideProgram(L"bench-round.txt");
    DeleteFileW(out.c_str());
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    wchar_t line[MAX_PATH * 3];
    _snwprintf(line, MAX_PATH * 3, L"\"%ls\" %ls %d %d \"%ls\"", self, mode, sensors, interval, out.c_str());
    line[MAX_PATH * 3 - 1] = 0;
    if (!RunProgram(line)) return 0;
    FILE* in = _wfopen(out.c_str(), L"r");
    if (!in) return 0;
    int fields = fscanf(in, "%lf %lf %lu %lf %lf %lf %lf %lld %lld", &round.cpu, &round.events, &round.rebuilds,
                        &round.memoryBefore, &round.memoryAfter, &round.seconds, &round.other, &round.dropped,
                        &round.written);
    fclose(in);
    return fields >= 7;
}

void StreamBench(int sensors, int interval)
{
    const int rounds = 5;
    std::vector<double> above, viewerCpu, counterCpu, events, growth, load;
    unsigned long rebuilds = 0;
    double seconds = 0;
    for (int round = 0; round < rounds; round++) {
        StreamRound viewer, counter;
        if (!RunStreamRound(L"stream-counter", sensors, interval, counter) ||
            !RunStreamRound(L"stream-viewer", sensors, interval, viewer)) {
            printf("a round could not be measured (is the simulator registered?)\n");
            return;
        }
        above.push_back(viewer.cpu - counter.cpu);
        viewerCpu.push_back(viewer.cpu);
        counterCpu.push_back(counter.cpu);
        events.push_back(counter.events);
        growth.push_back(viewer.memoryAfter - viewer.memoryBefore);
        load.push_back(viewer.other);
        load.push_back(counter.other);
        rebuilds += viewer.rebuilds;
        seconds += viewer.seconds;
    }
    Spread a = SpreadOf(above), v = SpreadOf(viewerCpu), c = SpreadOf(counterCpu), e = SpreadOf(events),
           m = SpreadOf(growth);
    printf("streaming %d sensors every %d ms, %d alternating rounds of 10 s (%.0f events per second):\n", sensors,
           interval, rounds, e.median);
    printf("  viewer %s of a core\n  counting client %s of a core\n", Figure(v, "%.3f").c_str(),
           Figure(c, "%.3f").c_str());
    printf("  above the counting client %s of a core, target <= 0.05: %s\n", Figure(a, "%.3f").c_str(),
           Verdict(a, 0.05, 0.0).c_str());
    printf("  viewer private memory over 10 s %s KB; %.2f rebuilds per second\n", Figure(m, "%+.0f").c_str(),
           seconds > 0 ? rebuilds / seconds : 0.0);
    PrintLoad(load);
}

// Recording every report of every sensor, against the counting client (`extra` 1), or
// plotting the first sensor's three numbers, against the viewer without the plot (2).
void ExtraBench(int extra, int sensors, int interval)
{
    const int rounds = 5;
    const wchar_t* baselineMode = extra == 1 ? L"stream-counter" : L"stream-viewer";
    const wchar_t* subjectMode = extra == 1 ? L"stream-recording" : L"stream-plot";
    std::vector<double> above, subjectCpu, baselineCpu, growth, load, events, rows;
    long long dropped = 0, written = 0;
    for (int round = 0; round < rounds; round++) {
        StreamRound subject, baseline;
        // Subject and baseline take turns, the baseline first in even rounds.
        bool ok = round % 2 == 0 ? RunStreamRound(baselineMode, sensors, interval, baseline) &&
                                       RunStreamRound(subjectMode, sensors, interval, subject)
                                 : RunStreamRound(subjectMode, sensors, interval, subject) &&
                                       RunStreamRound(baselineMode, sensors, interval, baseline);
        if (!ok) {
            printf("a round could not be measured (is the simulator registered?)\n");
            return;
        }
        above.push_back(subject.cpu - baseline.cpu);
        subjectCpu.push_back(subject.cpu);
        baselineCpu.push_back(baseline.cpu);
        growth.push_back(subject.memoryAfter - subject.memoryBefore);
        load.push_back(subject.other);
        load.push_back(baseline.other);
        dropped += subject.dropped;
        written += subject.written;
        events.push_back(baseline.events);
        rows.push_back(subject.seconds > 0 ? (double)subject.written / subject.seconds : 0);
    }
    Spread a = SpreadOf(above), v = SpreadOf(subjectCpu), c = SpreadOf(baselineCpu), m = SpreadOf(growth);
    double target = extra == 1 ? 0.10 : 0.05;
    if (extra == 1) {
        printf("recording %d sensors every %d ms to a file, %d alternating rounds of 10 s:\n", sensors, interval, rounds);
        printf("  viewer recording %s of a core\n  counting client %s of a core\n", Figure(v, "%.3f").c_str(),
               Figure(c, "%.3f").c_str());
        printf("  above the counting client %s of a core, target <= 0.10: %s\n", Figure(a, "%.3f").c_str(),
               Verdict(a, target, 0.0).c_str());
        printf("  rows written %lld, dropped %lld (target 0)\n", written, dropped);
        // The simulator makes as many events as the processors leave it time for: compare
        // the rates before the processor times.
        printf("  events per second to the counting client %s; rows per second recorded %s (3 a report)\n",
               Figure(SpreadOf(events), "%.0f").c_str(), Figure(SpreadOf(rows), "%.0f").c_str());
    } else {
        printf("plotting the 3 values of one of %d sensors every %d ms, %d alternating rounds of 10 s:\n", sensors,
               interval, rounds);
        printf("  viewer with the plot %s of a core\n  viewer without it %s of a core\n", Figure(v, "%.3f").c_str(),
               Figure(c, "%.3f").c_str());
        printf("  above the viewer without the plot %s of a core, target <= 0.05: %s\n", Figure(a, "%.3f").c_str(),
               Verdict(a, target, 0.0).c_str());
    }
    printf("  private memory over 10 s %s KB\n", Figure(m, "%+.0f").c_str());
    PrintLoad(load);
}

// Finds a visible top-level window of the process and its tree view.
struct ProgramWindows {
    DWORD processId;
    HWND top;
};

BOOL CALLBACK FindTop(HWND window, LPARAM context)
{
    ProgramWindows* windows = (ProgramWindows*)context;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == windows->processId && IsWindowVisible(window)) {
        windows->top = window;
        return FALSE;
    }
    return TRUE;
}

// The program's window is shown, its tree holds rows (when `rows`), and nothing of either is
// waiting to be painted: the first paint has happened.
bool FirstPaintDone(DWORD processId, bool rows)
{
    ProgramWindows windows = {processId, nullptr};
    EnumWindows(FindTop, (LPARAM)&windows);
    if (!windows.top) return false;
    HWND tree = FindWindowExW(windows.top, nullptr, WC_TREEVIEWW, nullptr);
    if (!tree || !IsWindowVisible(tree)) return false;
    if (rows) {
        DWORD_PTR count = 0;
        if (!SendMessageTimeoutW(tree, TVM_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 200, &count) || count == 0) return false;
    }
    return !GetUpdateRect(tree, nullptr, FALSE) && !GetUpdateRect(windows.top, nullptr, FALSE);
}

// Milliseconds from the start of the program to its first paint, and its private memory then.
int MeasureStart(const std::wstring& program, bool rows, double& milliseconds, double& memoryKb)
{
    std::wstring line = L"\"" + program + L"\"";
    std::vector<wchar_t> text(line.begin(), line.end());
    text.push_back(0);
    std::wstring folder = program.substr(0, program.find_last_of(L"\\/") + 1);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    Stopwatch watch;
    watch.Start();
    if (!CreateProcessW(nullptr, text.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &process))
        return 0;
    bool painted = false;
    while (!(painted = FirstPaintDone(process.dwProcessId, rows))) {
        if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) break;
        Stopwatch check = watch;
        check.Stop();
        if (check.Microseconds() > 30000000) break;
    }
    watch.Stop();
    milliseconds = (double)watch.Microseconds() / 1000.0;
    memoryKb = (double)PrivateBytes(process.hProcess) / 1024.0;
    ProgramWindows windows = {process.dwProcessId, nullptr};
    EnumWindows(FindTop, (LPARAM)&windows);
    if (windows.top) PostMessageW(windows.top, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 15000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return painted;
}

void StartupBench(const std::wstring& program, const std::wstring& baseline)
{
    const int rounds = 9;
    std::vector<double> viewer, bare, ratios, viewerMemory, bareMemory, load;
    SetEnvironmentVariableW(L"SENSORSIM_SCENARIO", nullptr);  // the demo world
    for (int round = 0; round <= rounds; round++) {
        LoadMeter meter;
        meter.Start();
        double times[2] = {0, 0}, memory[2] = {0, 0};
        for (int turn = 0; turn < 2; turn++) {
            int which = (turn == 0) == (round % 2 == 0) ? 1 : 0;  // 1: the baseline
            if (!MeasureStart(which ? baseline : program, which == 0, times[which], memory[which])) {
                printf("%ls did not reach its first paint\n", which ? baseline.c_str() : program.c_str());
                return;
            }
        }
        load.push_back(meter.OtherCores());
        if (round == 0) continue;  // the first round fills the system's file cache
        viewer.push_back(times[0]);
        bare.push_back(times[1]);
        ratios.push_back(times[1] > 0 ? times[0] / times[1] : 0);
        viewerMemory.push_back(memory[0]);
        bareMemory.push_back(memory[1]);
    }
    Spread v = SpreadOf(viewer), b = SpreadOf(bare), r = SpreadOf(ratios), vm = SpreadOf(viewerMemory),
           bm = SpreadOf(bareMemory);
    printf("start to first paint of a filled tree, demo world, %d alternating rounds:\n", rounds);
    printf("  viewer %s ms\n  empty tree dialog %s ms\n", Figure(v, "%.0f").c_str(), Figure(b, "%.0f").c_str());
    printf("  ratio %s, target <= 1.30: %s\n", Figure(r, "%.2f").c_str(), Verdict(r, 1.3, 1.0).c_str());
    printf("  private memory after start: viewer %.0f KB, empty tree dialog %.0f KB, ratio %.2f\n", vm.median,
           bm.median, bm.median > 0 ? vm.median / bm.median : 0.0);
    // The start-up rounds load the machine themselves: the figure is the load of the whole
    // machine beside this process, the measured programs included.
    PrintLoad(load);
}

// What a recording adds to one report: its lines made, against reading the same report's
// time and values (which a recording must do in any case), in one process, many rounds.
void FormatBench()
{
    WriteScenario(1, 3, 0);
    ComApartment apartment;
    apartment.Initialise(ComApartment::Multithreaded);
    SensorManager manager;
    SensorRecord* record = manager.EnumerateSensors();
    ISensorDataReport* report = nullptr;
    if (!record || !record->sensor || FAILED(record->sensor->GetData(&report)) || !report) {
        printf("format: no sensor\n");
        return;
    }
    ReportFormatter formatter;
    formatter.SetSensor(record->friendlyName.Text(), record->id);
    FILETIME arrival;
    GetSystemTimeAsFileTime(&arrival);
    std::string lines;
    const int Reports = 20000;
    std::vector<double> reading, making, ratios;
    size_t bytes = 0;
    for (int round = 0; round < 15; round++) {
        double times[2] = {0, 0};
        for (int turn = 0; turn < 2; turn++) {
            bool subject = (turn == 0) == (round % 2 == 1);
            Stopwatch watch;
            watch.Start();
            for (int i = 0; i < Reports; i++) {
                if (subject) {
                    // A fresh string each time, as each report's lines go to the writer.
                    std::string made;
                    made.reserve(lines.size() + 64);
                    formatter.Append(report, arrival, manager.KeyNames(), made);
                    bytes += made.size();
                    lines.swap(made);
                } else {
                    SYSTEMTIME stamp;
                    report->GetTimestamp(&stamp);
                    IPortableDeviceValues* values = nullptr;
                    DWORD count = 0;
                    if (SUCCEEDED(report->GetSensorValues(nullptr, &values)) && values) {
                        values->GetCount(&count);
                        for (DWORD v = 0; v < count; v++) {
                            PROPERTYKEY key;
                            PROPVARIANT value;
                            PropVariantInit(&value);
                            values->GetAt(v, &key, &value);
                            PropVariantClear(&value);
                        }
                        values->Release();
                    }
                    bytes += count;
                }
            }
            watch.Stop();
            times[subject ? 0 : 1] = (double)watch.Microseconds() * 1000.0 / Reports;
        }
        if (round == 0) continue;  // warming up
        making.push_back(times[0]);
        reading.push_back(times[1]);
        ratios.push_back(times[0] / times[1]);
    }
    report->Release();
    manager.ReleaseSensors();
    printf("making a recording's lines of a report of 3 numbers, %d reports a round, 14 rounds:\n", Reports);
    printf("  making the lines %s ns a report\n  reading the report %s ns\n  ratio %s (%zu bytes made)\n",
           Figure(SpreadOf(making), "%.0f").c_str(), Figure(SpreadOf(reading), "%.0f").c_str(),
           Figure(SpreadOf(ratios), "%.2f").c_str(), bytes);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const wchar_t* mode = argc > 1 ? argv[1] : L"";
    if (wcscmp(mode, L"stream-viewer") == 0 || wcscmp(mode, L"stream-counter") == 0 ||
        wcscmp(mode, L"stream-recording") == 0 || wcscmp(mode, L"stream-plot") == 0) {
        if (argc < 5) return 2;
        WriteScenario(_wtoi(argv[2]), 3, _wtoi(argv[3]));
        if (wcscmp(mode, L"stream-counter") == 0) {
            CountingClient(argv[4]);
        } else {
            int extra = wcscmp(mode, L"stream-recording") == 0 ? 1 : wcscmp(mode, L"stream-plot") == 0 ? 2 : 0;
            BenchDialog dialog(true, argv[4], extra);
            dialog.RunModal(GetModuleHandleW(nullptr), IDD_MAIN, 0);
        }
        return 0;
    }
    if (wcscmp(mode, L"record") == 0 || wcscmp(mode, L"plot") == 0) {
        ExtraBench(wcscmp(mode, L"record") == 0 ? 1 : 2, argc > 2 ? _wtoi(argv[2]) : 32, argc > 3 ? _wtoi(argv[3]) : 1);
        return 0;
    }
    if (wcscmp(mode, L"stream") == 0) {
        StreamBench(argc > 2 ? _wtoi(argv[2]) : 32, argc > 3 ? _wtoi(argv[3]) : 1);
        return 0;
    }
    if (wcscmp(mode, L"format") == 0) {
        FormatBench();
        return 0;
    }
    if (wcscmp(mode, L"startup") == 0) {
        if (argc < 4) return 2;
        StartupBench(argv[2], argv[3]);
        return 0;
    }
    if (wcscmp(mode, L"rebuild") == 0) {
        WriteScenario(100, 30, 0);
        BenchDialog dialog(false, nullptr);
        dialog.RunModal(GetModuleHandleW(nullptr), IDD_MAIN, 0);
        return 0;
    }
    printf("usage: viewer_bench rebuild | stream <sensors> <interval ms> | record <sensors> <interval ms> |\n"
           "       plot <sensors> <interval ms> | format | startup <program> <baseline>\n");
    return 2;
}
