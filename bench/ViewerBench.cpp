// Measures the viewer under load, against baselines measured in the same run:
//   viewer_bench rebuild   median time of a full tree rebuild (100 sensors x 30 values)
//                          against inserting the same rows into a plain tree view
//   viewer_bench stream    32 sensors reporting at 1 kHz for 10 s: CPU time per wall
//                          second, rebuilds, private memory; against a client that only
//                          counts the same events
// The sensor platform simulator must be registered; the bench writes its scenario beside
// itself and points the simulator at it.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <sensorsapi.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/MainDialog.h"
#include "app/Resources.h"
#include "common/ComApartment.h"
#include "common/Timing.h"

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

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

ULONGLONG ProcessCpuMicroseconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    ULONGLONG k = ((ULONGLONG)kernel.dwHighDateTime << 32) | kernel.dwLowDateTime;
    ULONGLONG u = ((ULONGLONG)user.dwHighDateTime << 32) | user.dwLowDateTime;
    return (k + u) / 10;
}

SIZE_T PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS*)&counters, sizeof(counters));
    // Some systems leave the private count empty; the page-file count is the same figure.
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

const UINT RunBench = WM_APP + 1;

class BenchDialog : public MainDialog {
public:
    explicit BenchDialog(bool stream) : m_stream(stream) {}

    int OnInitDialog() override
    {
        int result = MainDialog::OnInitDialog();
        PostMessageW(m_window, RunBench, 0, 0);
        return result;
    }
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
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
        std::vector<std::pair<int, std::wstring>> rows;
        for (HTREEITEM sensor = TreeView_GetChild(tree, TreeView_GetRoot(tree)); sensor;
             sensor = TreeView_GetNextSibling(tree, sensor)) {
            rows.push_back({1, Text(tree, sensor)});
            for (HTREEITEM value = TreeView_GetChild(tree, sensor); value; value = TreeView_GetNextSibling(tree, value))
                rows.push_back({2, Text(tree, value)});
        }
        std::vector<double> viewer, bare;
        RECT rect;
        GetWindowRect(tree, &rect);
        MapWindowPoints(nullptr, m_window, (POINT*)&rect, 2);
        HWND plain = CreateWindowExW(0, WC_TREEVIEWW, L"", WS_CHILD | WS_VISIBLE | WS_BORDER | TVS_HASBUTTONS,
                                     rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, m_window,
                                     nullptr, m_instance, nullptr);
        for (int round = 0; round < 15; round++) {
            Stopwatch watch;
            watch.Start();
            RebuildTree();
            watch.Stop();
            viewer.push_back((double)watch.Microseconds() / 1000.0);

            ShowWindow(plain, SW_SHOW);
            watch.Start();
            SendMessageW(plain, WM_SETREDRAW, FALSE, 0);
            TreeView_DeleteAllItems(plain);
            HTREEITEM parents[3] = {TVI_ROOT, nullptr, nullptr};
            parents[1] = Insert(plain, TVI_ROOT, L"Sensors");
            for (auto& row : rows) {
                HTREEITEM item = Insert(plain, parents[row.first], row.second.c_str());
                if (row.first == 1) parents[2] = item;
            }
            for (HTREEITEM sensor = TreeView_GetChild(plain, parents[1]); sensor;
                 sensor = TreeView_GetNextSibling(plain, sensor))
                TreeView_Expand(plain, sensor, TVE_EXPAND);
            TreeView_Expand(plain, parents[1], TVE_EXPAND);
            SendMessageW(plain, WM_SETREDRAW, TRUE, 0);
            InvalidateRect(plain, nullptr, TRUE);
            UpdateWindow(plain);
            watch.Stop();
            bare.push_back((double)watch.Microseconds() / 1000.0);
            ShowWindow(plain, SW_HIDE);
        }
        DestroyWindow(plain);
        double v = Median(viewer), b = Median(bare);
        printf("rebuild of %zu rows: viewer median %.1f ms, plain tree insertion median %.1f ms, ratio %.2f (target <= 1.5)\n",
               rows.size() + 1, v, b, b > 0 ? v / b : 0.0);
    }

    void Stream()
    {
        // Warm up, then measure ten seconds of streaming with the message loop running.
        Pump(1000);
        unsigned long rebuilds = RebuildCount();
        SIZE_T memory = PrivateBytes();
        ULONGLONG cpu = ProcessCpuMicroseconds();
        Stopwatch wall;
        wall.Start();
        Pump(10000);
        wall.Stop();
        double seconds = (double)wall.Microseconds() / 1e6;
        double load = (double)(ProcessCpuMicroseconds() - cpu) / 1e6 / seconds;
        printf("streaming 32 sensors at 1 kHz for %.1f s: CPU %.3f of a core per second, %lu rebuilds, "
               "private memory %+.1f%% (%zu -> %zu KB)\n",
               seconds, load, RebuildCount() - rebuilds, 100.0 * ((double)PrivateBytes() - memory) / memory,
               memory / 1024, PrivateBytes() / 1024);
        m_viewerLoad = load;
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

public:
    double m_viewerLoad = 0;
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

void PlatformBaseline()
{
    ComApartment apartment;
    apartment.Initialise(ComApartment::Multithreaded);
    ISensorManager* manager = nullptr;
    if (FAILED(ComApartment::CreateByProgId(L"SensorsApi.SensorManager.1", IID_ISensorManager, (void**)&manager))) {
        printf("no sensor service\n");
        return;
    }
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
    ULONGLONG cpu = ProcessCpuMicroseconds();
    LONG calls = sink.calls;
    Stopwatch wall;
    wall.Start();
    Sleep(10000);
    wall.Stop();
    double seconds = (double)wall.Microseconds() / 1e6;
    printf("baseline, a client that only counts: CPU %.3f of a core per second, %.0f events per second\n",
           (double)(ProcessCpuMicroseconds() - cpu) / 1e6 / seconds, (sink.calls - calls) / seconds);
    for (ISensor* sensor : sensors) {
        sensor->SetEventSink(nullptr);
        sensor->Release();
    }
    if (collection) collection->Release();
    manager->Release();
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    bool stream = argc > 1 && wcscmp(argv[1], L"stream") == 0;
    bool baseline = argc > 1 && wcscmp(argv[1], L"baseline") == 0;
    if (stream || baseline)
        WriteScenario(32, 3, 1);
    else
        WriteScenario(100, 30, 0);
    if (baseline) {
        PlatformBaseline();
        return 0;
    }
    BenchDialog dialog(stream);
    dialog.RunModal(GetModuleHandleW(nullptr), IDD_MAIN, 0);
    return 0;
}
