// The simulator seen from a client that knows only the platform's Sensor API: created
// through the programmatic identifier, driven by scenarios written here.
#include <gtest/gtest.h>

#include <windows.h>
#include <math.h>
#include <propsys.h>
#include <propvarutil.h>
#include <sensors.h>
#include <sensorsapi.h>

#include <set>
#include <string>
#include <vector>

#include "common/ComApartment.h"
#include "common/Timing.h"
#include "harness/Harness.h"

namespace {

LONG LiveObjects()
{
    typedef LONG(WINAPI * Function)();
    HMODULE module = GetModuleHandleW(L"sensorsim.dll");
    Function function = module ? (Function)(void*)GetProcAddress(module, "SensorSimulatorLiveObjects") : nullptr;
    return function ? function() : -1;
}

std::wstring ScenarioError()
{
    typedef const wchar_t*(WINAPI * Function)();
    HMODULE module = GetModuleHandleW(L"sensorsim.dll");
    Function function = module ? (Function)(void*)GetProcAddress(module, "SensorSimulatorScenarioError") : nullptr;
    return function ? function() : L"<no simulator>";
}

GUID Id(int n)
{
    GUID id = {0x5A000000u + (unsigned)n, 0x1111, 0x2222, {0x33, 0x33, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44}};
    return id;
}

std::wstring IdText(int n)
{
    wchar_t text[64];
    GUID id = Id(n);
    StringFromGUID2(id, text, 64);
    return text;
}

// A sensor-event sink that records what reaches it.
class RecordingSink : public ISensorEvents {
public:
    explicit RecordingSink(DWORD callMilliseconds = 0) : m_references(1), m_callMilliseconds(callMilliseconds)
    {
        InitializeCriticalSection(&m_lock);
    }
    ~RecordingSink() { DeleteCriticalSection(&m_lock); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISensorEvents)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&m_references); }
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&m_references); }

    HRESULT STDMETHODCALLTYPE OnStateChanged(ISensor*, SensorState state) override
    {
        Record(L"state", state);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDataUpdated(ISensor* sensor, ISensorDataReport* report) override
    {
        LONG inside = InterlockedIncrement(&m_inside);
        for (LONG seen = m_mostInside; inside > seen; seen = m_mostInside)
            InterlockedCompareExchange(&m_mostInside, inside, seen);
        PROPVARIANT value;
        PropVariantInit(&value);
        bool ok = sensor && report && SUCCEEDED(report->GetSensorValue(SENSOR_DATA_TYPE_CUSTOM_VALUE1, &value));
        PropVariantClear(&value);
        Record(ok ? L"data" : L"data-without-value", 0);
        if (m_callMilliseconds) Sleep(m_callMilliseconds);
        InterlockedDecrement(&m_inside);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEvent(ISensor*, REFGUID event, IPortableDeviceValues* values) override
    {
        GUID carried = GUID_NULL;
        PROPERTYKEY key = {SENSOR_EVENT_PARAMETER_COMMON_GUID, 2};
        if (values) values->GetGuidValue(key, &carried);
        Record(IsEqualGUID(event, carried) ? L"event" : L"event-without-id", (int)event.Data1);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnLeave(REFSENSOR_ID id) override
    {
        Record(L"leave", (int)id.Data1);
        return S_OK;
    }

    struct Call {
        std::wstring kind;
        int argument;
        DWORD thread;
        ULONGLONG tick;
    };
    std::vector<Call> Calls()
    {
        EnterCriticalSection(&m_lock);
        std::vector<Call> calls = m_calls;
        LeaveCriticalSection(&m_lock);
        return calls;
    }
    size_t Count(const wchar_t* kind)
    {
        size_t n = 0;
        for (const Call& call : Calls()) n += call.kind == kind;
        return n;
    }
    LONG References() const { return m_references; }
    LONG Inside() const { return m_inside; }
    LONG MostInside() const { return m_mostInside; }

private:
    void Record(const wchar_t* kind, int argument)
    {
        EnterCriticalSection(&m_lock);
        m_calls.push_back(Call{kind, argument, GetCurrentThreadId(), TickCount64()});
        LeaveCriticalSection(&m_lock);
    }

    volatile LONG m_references;
    volatile LONG m_inside = 0;
    volatile LONG m_mostInside = 0;
    DWORD m_callMilliseconds;
    CRITICAL_SECTION m_lock;
    std::vector<Call> m_calls;
};

class RecordingManagerSink : public ISensorManagerEvents {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISensorManagerEvents)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references); }
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&references); }
    HRESULT STDMETHODCALLTYPE OnSensorEnter(ISensor* sensor, SensorState state) override
    {
        SENSOR_ID id = GUID_NULL;
        if (sensor) sensor->GetID(&id);
        entered = (LONG)id.Data1;
        enteredState = state;
        enteredTick = TickCount64();
        enteredThread = GetCurrentThreadId();
        return S_OK;
    }
    volatile LONG references = 1;
    volatile LONG entered = 0;
    int enteredState = -1;
    ULONGLONG enteredTick = 0;
    DWORD enteredThread = 0;
};

class SimulatorClient : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(m_apartment.Initialise(ComApartment::Multithreaded))); }
    void TearDown() override
    {
        if (m_manager) m_manager->Release();
        m_manager = nullptr;
        EXPECT_EQ(0, LiveObjects()) << "every object the client released is destroyed";
        SetEnvironmentVariableW(L"SENSORSIM_SCENARIO", nullptr);
    }

    // Starts the simulator on a scenario written into the build tree.
    ISensorManager* Start(const std::wstring& text)
    {
        std::wstring path = harness::ScratchDir(L"sensorsim-scenario") + L"world.scenario";
        std::string bytes;
        int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
        bytes.resize((size_t)n);
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &bytes[0], n, nullptr, nullptr);
        EXPECT_TRUE(harness::WriteFileBytes(path, bytes));
        SetEnvironmentVariableW(L"SENSORSIM_SCENARIO", path.c_str());
        return Create();
    }
    ISensorManager* Create()
    {
        if (m_manager) m_manager->Release();
        m_manager = nullptr;
        m_started = TickCount64();
        HRESULT result = ComApartment::CreateByProgId(L"SensorsApi.SensorManager.1", IID_ISensorManager,
                                                      (void**)&m_manager);
        EXPECT_EQ(S_OK, result);
        return m_manager;
    }

    std::vector<ISensor*> All()
    {
        std::vector<ISensor*> sensors;
        ISensorCollection* collection = nullptr;
        if (FAILED(m_manager->GetSensorsByCategory(SENSOR_CATEGORY_ALL, &collection))) return sensors;
        ULONG count = 0;
        collection->GetCount(&count);
        for (ULONG i = 0; i < count; i++) {
            ISensor* sensor = nullptr;
            if (SUCCEEDED(collection->GetAt(i, &sensor))) sensors.push_back(sensor);
        }
        collection->Release();
        return sensors;
    }
    static void ReleaseAll(std::vector<ISensor*>& sensors)
    {
        for (ISensor* sensor : sensors) sensor->Release();
        sensors.clear();
    }

    ComApartment m_apartment;
    ISensorManager* m_manager = nullptr;
    ULONGLONG m_started = 0;
};

std::wstring Sensor(int n, const wchar_t* body)
{
    return L"sensor " + IdText(n) + L"\n" + body + L"\n";
}

}  // namespace

TEST_F(SimulatorClient, EnumeratesInScenarioOrderByCategoryTypeAndId)
{
    ASSERT_TRUE(Start(Sensor(1, L"category SENSOR_CATEGORY_LIGHT\ntype SENSOR_TYPE_AMBIENT_LIGHT\nname \"Light\"") +
                      Sensor(2, L"category SENSOR_CATEGORY_MOTION\ntype SENSOR_TYPE_ACCELEROMETER_3D\nname \"Accel\"") +
                      L"sensor " + IdText(3) + L" absent\ncategory SENSOR_CATEGORY_MOTION\n" +
                      Sensor(4, L"category SENSOR_CATEGORY_MOTION\ntype SENSOR_TYPE_GYROMETER_3D\nstate no-data")));
    EXPECT_EQ(L"", ScenarioError());
    std::vector<ISensor*> sensors = All();
    ASSERT_EQ(3u, sensors.size()) << "the absent sensor is not listed";
    const int expected[] = {1, 2, 4};
    for (size_t i = 0; i < sensors.size(); i++) {
        SENSOR_ID id;
        ASSERT_EQ(S_OK, sensors[i]->GetID(&id));
        EXPECT_TRUE(IsEqualGUID(Id(expected[i]), id)) << i;
    }
    GUID category, type;
    sensors[0]->GetCategory(&category);
    sensors[0]->GetType(&type);
    EXPECT_TRUE(IsEqualGUID(SENSOR_CATEGORY_LIGHT, category));
    EXPECT_TRUE(IsEqualGUID(SENSOR_TYPE_AMBIENT_LIGHT, type));
    BSTR name = nullptr;
    ASSERT_EQ(S_OK, sensors[1]->GetFriendlyName(&name));
    EXPECT_STREQ(L"Accel", name);
    SysFreeString(name);
    SensorState state;
    ASSERT_EQ(S_OK, sensors[2]->GetState(&state));
    EXPECT_EQ(SENSOR_STATE_NO_DATA, state);
    PROPVARIANT property;
    ASSERT_EQ(S_OK, sensors[1]->GetProperty(SENSOR_PROPERTY_FRIENDLY_NAME, &property));
    EXPECT_STREQ(L"Accel", property.pwszVal);
    PropVariantClear(&property);
    ASSERT_EQ(S_OK, sensors[1]->GetProperty(SENSOR_PROPERTY_PERSISTENT_UNIQUE_ID, &property));
    EXPECT_TRUE(IsEqualGUID(Id(2), *property.puuid));
    PropVariantClear(&property);
    IPortableDeviceValues* properties = nullptr;
    ASSERT_EQ(S_OK, sensors[1]->GetProperties(nullptr, &properties));
    DWORD count = 0;
    properties->GetCount(&count);
    EXPECT_GE(count, 5u);
    properties->Release();
    ReleaseAll(sensors);

    ISensorCollection* motion = nullptr;
    ASSERT_EQ(S_OK, m_manager->GetSensorsByCategory(SENSOR_CATEGORY_MOTION, &motion));
    ULONG n = 0;
    motion->GetCount(&n);
    EXPECT_EQ(2u, n);
    motion->Release();
    ISensorCollection* none = (ISensorCollection*)1;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), m_manager->GetSensorsByCategory(SENSOR_CATEGORY_SCANNER, &none));
    EXPECT_EQ(nullptr, none);
    ISensorCollection* gyros = nullptr;
    ASSERT_EQ(S_OK, m_manager->GetSensorsByType(SENSOR_TYPE_GYROMETER_3D, &gyros));
    gyros->GetCount(&n);
    EXPECT_EQ(1u, n);
    gyros->Release();
    ISensor* byId = nullptr;
    ASSERT_EQ(S_OK, m_manager->GetSensorByID(Id(4), &byId));
    byId->Release();
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), m_manager->GetSensorByID(Id(3), &byId));
}

TEST_F(SimulatorClient, HandsOutEveryValueType)
{
    const wchar_t* body =
        L"value {01020304-0506-0708-090A-0B0C0D0E0F10},1 r4 const 1.5\n"
        L"value {01020304-0506-0708-090A-0B0C0D0E0F10},2 r8 const -2.25\n"
        L"value {01020304-0506-0708-090A-0B0C0D0E0F10},3 lpwstr const \"Gr\x00FC\x00DF Gott\"\n"
        L"value {01020304-0506-0708-090A-0B0C0D0E0F10},4 i4 const -42\n"
        L"value {01020304-0506-0708-090A-0B0C0D0E0F10},5 ui4 const 4000000000\n"
        L"value {01020304-0506-0708-090A-0B0C0D0E0F10},6 bool const 1\n"
        L"value {01020304-0506-0708-090A-0B0C0D0E0F10},7 filetime const 130000000000000000\n"
        L"value {01020304-0506-0708-090A-0B0C0D0E0F10},8 clsid const {C317C286-C468-4288-9975-D4C4587C442C}\n"
        L"value {01020304-0506-0708-090A-0B0C0D0E0F10},9 empty\n"
        L"value {01020304-0506-0708-090A-0B0C0D0E0F10},10 ui1[] const 1,2,255\n"
        L"value {01020304-0506-0708-090A-0B0C0D0E0F10},11 r8[] const 0.5,-1\n"
        L"value {01020304-0506-0708-090A-0B0C0D0E0F10},12 ui4[] const 7,8,9,10\n";
    ASSERT_TRUE(Start(Sensor(1, body)));
    std::vector<ISensor*> sensors = All();
    ASSERT_EQ(1u, sensors.size());
    ISensorDataReport* report = nullptr;
    ASSERT_EQ(S_OK, sensors[0]->GetData(&report));
    SYSTEMTIME stamp;
    ASSERT_EQ(S_OK, report->GetTimestamp(&stamp));
    EXPECT_GE(stamp.wYear, 2020);
    IPortableDeviceValues* values = nullptr;
    ASSERT_EQ(S_OK, report->GetSensorValues(nullptr, &values));
    DWORD count = 0;
    ASSERT_EQ(S_OK, values->GetCount(&count));
    ASSERT_EQ(12u, count);
    const VARTYPE types[] = {VT_R4, VT_R8, VT_LPWSTR, VT_I4, VT_UI4, VT_BOOL, VT_FILETIME, VT_CLSID, VT_EMPTY,
                             VT_VECTOR | VT_UI1, VT_VECTOR | VT_R8, VT_VECTOR | VT_UI4};
    PROPVARIANT v[12];
    for (DWORD i = 0; i < count; i++) {
        PROPERTYKEY key;
        ASSERT_EQ(S_OK, values->GetAt(i, &key, &v[i]));
        EXPECT_EQ(i + 1, key.pid);
        EXPECT_EQ(types[i], v[i].vt) << i;
    }
    EXPECT_EQ(1.5f, v[0].fltVal);
    EXPECT_EQ(-2.25, v[1].dblVal);
    EXPECT_STREQ(L"Gr\x00FC\x00DF Gott", v[2].pwszVal);
    EXPECT_EQ(-42, v[3].lVal);
    EXPECT_EQ(4000000000u, v[4].ulVal);
    EXPECT_EQ(VARIANT_TRUE, v[5].boolVal);
    EXPECT_EQ(130000000000000000ull, ((ULONGLONG)v[6].filetime.dwHighDateTime << 32) | v[6].filetime.dwLowDateTime);
    EXPECT_TRUE(IsEqualGUID(SENSOR_CATEGORY_ALL, *v[7].puuid));
    ASSERT_EQ(3u, v[9].caub.cElems);
    EXPECT_EQ(255, v[9].caub.pElems[2]);
    ASSERT_EQ(2u, v[10].cadbl.cElems);
    EXPECT_EQ(-1.0, v[10].cadbl.pElems[1]);
    ASSERT_EQ(4u, v[11].caul.cElems);
    EXPECT_EQ(10u, v[11].caul.pElems[3]);
    for (PROPVARIANT& value : v) PropVariantClear(&value);

    // The typed getters and the single-value call agree with the list.
    PROPERTYKEY key = {{0x01020304, 0x0506, 0x0708, {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10}}, 4};
    LONG signedValue = 0;
    EXPECT_EQ(S_OK, values->GetSignedIntegerValue(key, &signedValue));
    EXPECT_EQ(-42, signedValue);
    FLOAT floatValue = 0;
    EXPECT_EQ(DISP_E_TYPEMISMATCH, values->GetFloatValue(key, &floatValue));
    key.pid = 3;
    LPWSTR text = nullptr;
    EXPECT_EQ(S_OK, values->GetStringValue(key, &text));
    EXPECT_STREQ(L"Gr\x00FC\x00DF Gott", text);
    CoTaskMemFree(text);
    key.pid = 99;
    PROPVARIANT missing;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), report->GetSensorValue(key, &missing));
    values->Release();
    report->Release();
    ReleaseAll(sensors);
}

TEST_F(SimulatorClient, GeneratorsMoveBetweenReports)
{
    ASSERT_TRUE(Start(Sensor(1,
                             L"value SENSOR_DATA_TYPE_CUSTOM_VALUE1 i4 counter 10 5\n"
                             L"value SENSOR_DATA_TYPE_CUSTOM_VALUE2 r8 sine 2 200 100\n"
                             L"value SENSOR_DATA_TYPE_CUSTOM_VALUE3 r8 walk 50 0.5\n"
                             L"value SENSOR_DATA_TYPE_TIMESTAMP filetime now\n")));
    std::vector<ISensor*> sensors = All();
    ASSERT_EQ(1u, sensors.size());
    double lastWalk = 50;
    bool sineMoved = false, walkMoved = false;
    double firstSine = 0;
    for (int i = 0; i < 6; i++) {
        ISensorDataReport* report = nullptr;
        ASSERT_EQ(S_OK, sensors[0]->GetData(&report));
        PROPVARIANT counter, sine, walk, stamp;
        report->GetSensorValue(SENSOR_DATA_TYPE_CUSTOM_VALUE1, &counter);
        report->GetSensorValue(SENSOR_DATA_TYPE_CUSTOM_VALUE2, &sine);
        report->GetSensorValue(SENSOR_DATA_TYPE_CUSTOM_VALUE3, &walk);
        report->GetSensorValue(SENSOR_DATA_TYPE_TIMESTAMP, &stamp);
        EXPECT_EQ(10 + 5 * i, counter.lVal);
        EXPECT_GE(sine.dblVal, 98.0);
        EXPECT_LE(sine.dblVal, 102.0);
        if (i == 0) firstSine = sine.dblVal;
        sineMoved |= fabs(sine.dblVal - firstSine) > 1e-9;
        EXPECT_LE(fabs(walk.dblVal - lastWalk), 0.5 + 1e-9) << "one step at most";
        walkMoved |= walk.dblVal != lastWalk;
        lastWalk = walk.dblVal;
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        ULONGLONG a = ((ULONGLONG)stamp.filetime.dwHighDateTime << 32) | stamp.filetime.dwLowDateTime;
        ULONGLONG b = ((ULONGLONG)now.dwHighDateTime << 32) | now.dwLowDateTime;
        EXPECT_LT(b - a, 10000000ull) << "within a second of now";
        report->Release();
        Sleep(30);
    }
    EXPECT_TRUE(sineMoved);
    EXPECT_TRUE(walkMoved);
    ReleaseAll(sensors);
}

TEST_F(SimulatorClient, FaultsAsTheScenarioAsks)
{
    ASSERT_TRUE(Start(Sensor(1, L"name none\nfault getdata") + Sensor(2, L"name fail\nfault index") +
                      Sensor(3,
                             L"name \"Values\"\n"
                             L"value SENSOR_DATA_TYPE_CUSTOM_VALUE1 i4 const 1\n"
                             L"value SENSOR_DATA_TYPE_CUSTOM_VALUE2 i4 const 2 fault\n"
                             L"value SENSOR_DATA_TYPE_CUSTOM_VALUE3 i4 const 3\n")));
    ISensorCollection* collection = nullptr;
    ASSERT_EQ(S_OK, m_manager->GetSensorsByCategory(SENSOR_CATEGORY_ALL, &collection));
    ULONG count = 0;
    collection->GetCount(&count);
    ASSERT_EQ(3u, count) << "a failing index still counts";
    ISensor* first = nullptr;
    ISensor* second = (ISensor*)1;
    ISensor* third = nullptr;
    ASSERT_EQ(S_OK, collection->GetAt(0, &first));
    EXPECT_EQ(E_FAIL, collection->GetAt(1, &second));
    EXPECT_EQ(nullptr, second);
    ASSERT_EQ(S_OK, collection->GetAt(2, &third));
    EXPECT_EQ(E_INVALIDARG, collection->GetAt(3, &second));
    collection->Release();

    BSTR name = (BSTR)1;
    EXPECT_TRUE(FAILED(first->GetFriendlyName(&name)));
    EXPECT_EQ(nullptr, name);
    ISensorDataReport* report = (ISensorDataReport*)1;
    EXPECT_TRUE(FAILED(first->GetData(&report)));
    EXPECT_EQ(nullptr, report);

    ASSERT_EQ(S_OK, third->GetData(&report));
    IPortableDeviceValues* values = nullptr;
    ASSERT_EQ(S_OK, report->GetSensorValues(nullptr, &values));
    DWORD n = 0;
    values->GetCount(&n);
    ASSERT_EQ(3u, n);
    PROPERTYKEY key;
    PROPVARIANT value;
    EXPECT_EQ(S_OK, values->GetAt(0, &key, &value));
    PropVariantClear(&value);
    EXPECT_EQ(E_FAIL, values->GetAt(1, &key, &value));
    EXPECT_EQ(S_OK, values->GetAt(2, &key, &value));
    EXPECT_EQ(3, value.lVal);
    values->Release();
    report->Release();

    ISensor* failingName = nullptr;
    ASSERT_EQ(S_OK, m_manager->GetSensorByID(Id(2), &failingName));
    EXPECT_EQ(E_FAIL, failingName->GetFriendlyName(&name));
    failingName->Release();
    first->Release();
    third->Release();
}

TEST_F(SimulatorClient, TimelineArrivesChangesAndLeavesOnTime)
{
    ASSERT_TRUE(Start(Sensor(1, L"name \"Stays\"") + L"sensor " + IdText(2) + L" absent\nname \"Comes\"\nstate initializing\n" +
                      L"at 300 enter " + IdText(2) + L"\n" + L"at 450 state " + IdText(1) + L" error\n" +
                      L"at 600 event " + IdText(1) + L" SENSOR_EVENT_ACCELEROMETER_SHAKE\n" + L"at 750 leave " +
                      IdText(1) + L"\n"));
    RecordingManagerSink managerSink;
    RecordingSink sink;
    ASSERT_EQ(S_OK, m_manager->SetEventSink(&managerSink));
    std::vector<ISensor*> sensors = All();
    ASSERT_EQ(1u, sensors.size());
    ASSERT_EQ(S_OK, sensors[0]->SetEventSink(&sink));
    ASSERT_EQ(S_OK, sensors[0]->SetEventInterest(nullptr, 0));

    ULONGLONG deadline = m_started + 3000;
    while (TickCount64() < deadline && sink.Count(L"leave") == 0) Sleep(20);

    EXPECT_EQ((LONG)Id(2).Data1, managerSink.entered);
    EXPECT_EQ(SENSOR_STATE_INITIALIZING, managerSink.enteredState);
    EXPECT_GE(managerSink.enteredTick - m_started, 250u);
    EXPECT_LT(managerSink.enteredTick - m_started, 900u);
    EXPECT_NE(GetCurrentThreadId(), managerSink.enteredThread);

    std::vector<RecordingSink::Call> calls = sink.Calls();
    ASSERT_EQ(3u, calls.size());
    EXPECT_EQ(L"state", calls[0].kind);
    EXPECT_EQ(SENSOR_STATE_ERROR, calls[0].argument);
    EXPECT_EQ(L"event", calls[1].kind);
    EXPECT_EQ((int)SENSOR_EVENT_ACCELEROMETER_SHAKE.Data1, calls[1].argument);
    EXPECT_EQ(L"leave", calls[2].kind);
    EXPECT_EQ((int)Id(1).Data1, calls[2].argument);
    const ULONGLONG at[] = {450, 600, 750};
    for (int i = 0; i < 3; i++) {
        EXPECT_GE(calls[i].tick - m_started, at[i] - 50) << i;
        EXPECT_LT(calls[i].tick - m_started, at[i] + 600) << i;
        EXPECT_NE(GetCurrentThreadId(), calls[i].thread);
    }

    ISensorDataReport* report = nullptr;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED), sensors[0]->GetData(&report)) << "it has left";
    std::vector<ISensor*> now = All();
    ASSERT_EQ(1u, now.size());
    SENSOR_ID id;
    now[0]->GetID(&id);
    EXPECT_TRUE(IsEqualGUID(Id(2), id)) << "the arrival is listed, the departed sensor is not";
    ReleaseAll(now);

    sensors[0]->SetEventSink(nullptr);
    m_manager->SetEventSink(nullptr);
    ReleaseAll(sensors);
    EXPECT_EQ(1, sink.References()) << "the simulator let go of the sink";
    EXPECT_EQ(1, managerSink.references);
}

TEST_F(SimulatorClient, DeliversFromSeveralThreadsAtOnce)
{
    std::wstring text;
    for (int i = 1; i <= 4; i++) text += Sensor(i, L"interval 5\nvalue SENSOR_DATA_TYPE_CUSTOM_VALUE1 i4 counter 0 1");
    ASSERT_TRUE(Start(text));
    RecordingSink sink(15);
    std::vector<ISensor*> sensors = All();
    ASSERT_EQ(4u, sensors.size());
    for (ISensor* sensor : sensors) sensor->SetEventSink(&sink);
    Sleep(600);
    for (ISensor* sensor : sensors) sensor->SetEventSink(nullptr);
    while (sink.Inside() > 0) Sleep(5);

    std::set<DWORD> threads;
    for (const RecordingSink::Call& call : sink.Calls()) {
        EXPECT_EQ(L"data", call.kind);
        threads.insert(call.thread);
    }
    EXPECT_GE(sink.Calls().size(), 40u);
    EXPECT_GE(threads.size(), 2u);
    EXPECT_EQ(0u, threads.count(GetCurrentThreadId()));
    EXPECT_GE(sink.MostInside(), 2) << "calls for different sensors overlap";
    ReleaseAll(sensors);
    EXPECT_EQ(1, sink.References());
}

TEST_F(SimulatorClient, NoCallStartsAfterTheSinkIsRemoved)
{
    ASSERT_TRUE(Start(Sensor(1, L"interval 1\nvalue SENSOR_DATA_TYPE_CUSTOM_VALUE1 i4 counter 0 1")));
    RecordingSink sink;
    std::vector<ISensor*> sensors = All();
    ASSERT_EQ(1u, sensors.size());
    for (int round = 0; round < 5; round++) {
        ASSERT_EQ(S_OK, sensors[0]->SetEventSink(&sink));
        Sleep(100);
        ASSERT_EQ(S_OK, sensors[0]->SetEventSink(nullptr));
        while (sink.Inside() > 0) Sleep(1);
        size_t seen = sink.Calls().size();
        Sleep(150);
        EXPECT_EQ(seen, sink.Calls().size()) << "round " << round;
    }
    EXPECT_GE(sink.Calls().size(), 100u) << "about a thousand reports a second while registered";
    ReleaseAll(sensors);
    EXPECT_EQ(1, sink.References());
}

TEST_F(SimulatorClient, StandardClientCreationAndBadScenario)
{
    // A client written against the platform headers may create the class directly.
    std::wstring path = harness::ScratchDir(L"sensorsim-bad") + L"bad.scenario";
    ASSERT_TRUE(harness::WriteFileBytes(path, "sensor {11111111-2222-3333-4444-555555555555}\nnonsense here\n"));
    SetEnvironmentVariableW(L"SENSORSIM_SCENARIO", path.c_str());
    ISensorManager* manager = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SensorManager, nullptr, CLSCTX_INPROC_SERVER, IID_ISensorManager,
                                     (void**)&manager));
    EXPECT_EQ(0u, ScenarioError().find(L"line 2: unknown keyword nonsense"));
    ISensorCollection* collection = (ISensorCollection*)1;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), manager->GetSensorsByCategory(SENSOR_CATEGORY_ALL, &collection));
    EXPECT_EQ(nullptr, collection);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(S_OK, manager->QueryInterface(IID_IUnknown, (void**)&unknown));
    unknown->Release();
    ISensorEvents* wrong = nullptr;
    EXPECT_EQ(E_NOINTERFACE, manager->QueryInterface(IID_ISensorEvents, (void**)&wrong));
    manager->Release();

    SetEnvironmentVariableW(L"SENSORSIM_SCENARIO", (path + L".missing").c_str());
    ASSERT_TRUE(Create());
    EXPECT_EQ(0u, ScenarioError().find(L"cannot read the scenario file"));
}

TEST_F(SimulatorClient, ScenarioFromRegistryElseTheDemo)
{
    std::wstring path = harness::ScratchDir(L"sensorsim-registry") + L"registry.scenario";
    std::string text = "sensor {77777777-2222-3333-4444-555555555555}\nname \"From the registry\"\n";
    ASSERT_TRUE(harness::WriteFileBytes(path, text));
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CURRENT_USER, L"Software\\SensorSimulator", &key));
    RegSetValueExW(key, L"Scenario", 0, REG_SZ, (const BYTE*)path.c_str(), (DWORD)((path.size() + 1) * 2));
    RegCloseKey(key);
    SetEnvironmentVariableW(L"SENSORSIM_SCENARIO", nullptr);
    ASSERT_TRUE(Create());
    std::vector<ISensor*> sensors = All();
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\SensorSimulator");
    ASSERT_EQ(1u, sensors.size());
    BSTR name = nullptr;
    sensors[0]->GetFriendlyName(&name);
    EXPECT_STREQ(L"From the registry", name);
    SysFreeString(name);
    ReleaseAll(sensors);

    ASSERT_TRUE(Create());
    sensors = All();
    EXPECT_GE(sensors.size(), 15u) << "the built-in demo";
    int failing = 0, withValues = 0;
    for (ISensor* sensor : sensors) {
        ISensorDataReport* report = nullptr;
        if (FAILED(sensor->GetData(&report))) {
            failing++;
            continue;
        }
        IPortableDeviceValues* values = nullptr;
        DWORD count = 0;
        if (SUCCEEDED(report->GetSensorValues(nullptr, &values))) {
            values->GetCount(&count);
            values->Release();
        }
        withValues += count > 0;
        report->Release();
    }
    EXPECT_EQ(1, failing);
    EXPECT_GE(withValues, 13);
    ReleaseAll(sensors);
}

namespace {

// A one-key request for SetProperties, made with the platform's value store (the simulator
// hands one out as the results of any call).
IPortableDeviceValues* Request(ISensor* sensor, const PROPERTYKEY& key, const PROPVARIANT& value)
{
    IPortableDeviceValues* values = nullptr;
    if (FAILED(sensor->GetProperties(nullptr, &values)) || !values) return nullptr;
    values->Clear();
    values->SetValue(key, &value);
    return values;
}

HRESULT Answer(IPortableDeviceValues* results, const PROPERTYKEY& key)
{
    PROPVARIANT value;
    PropVariantInit(&value);
    HRESULT answer = E_UNEXPECTED;
    if (results && SUCCEEDED(results->GetValue(key, &value)) && value.vt == VT_ERROR) answer = value.scode;
    PropVariantClear(&value);
    return answer;
}

ULONG UnsignedProperty(ISensor* sensor, const PROPERTYKEY& key)
{
    PROPVARIANT value;
    PropVariantInit(&value);
    ULONG number = 0xFFFFFFFF;
    if (SUCCEEDED(sensor->GetProperty(key, &value)) && value.vt == VT_UI4) number = value.ulVal;
    PropVariantClear(&value);
    return number;
}

}  // namespace

TEST_F(SimulatorClient, PropertiesFromTheScenarioAndTheReportIntervalPerKey)
{
    ASSERT_TRUE(Start(Sensor(1, L"interval 0\nproperty SENSOR_PROPERTY_MODEL lpwstr \"M-1\"\n"
                                L"property SENSOR_PROPERTY_MIN_REPORT_INTERVAL ui4 25\n"
                                L"value SENSOR_DATA_TYPE_CUSTOM_VALUE1 ui4 counter 0 1") +
                      Sensor(2, L"value SENSOR_DATA_TYPE_CUSTOM_VALUE1 ui4 const 1") + L"at 300 property " + IdText(2) +
                      L" SENSOR_PROPERTY_MANUFACTURER \"Other\"\n"));
    std::vector<ISensor*> sensors = All();
    ASSERT_EQ(2u, sensors.size());
    PROPVARIANT value;
    PropVariantInit(&value);
    ASSERT_EQ(S_OK, sensors[0]->GetProperty(SENSOR_PROPERTY_MODEL, &value));
    EXPECT_STREQ(L"M-1", value.pwszVal) << "the scenario's property over the default";
    PropVariantClear(&value);
    EXPECT_EQ(25u, UnsignedProperty(sensors[0], SENSOR_PROPERTY_MIN_REPORT_INTERVAL));
    EXPECT_EQ(10u, UnsignedProperty(sensors[1], SENSOR_PROPERTY_MIN_REPORT_INTERVAL)) << "the default minimum";
    EXPECT_EQ(0u, UnsignedProperty(sensors[0], SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL));

    RecordingSink sink;
    ASSERT_EQ(S_OK, sensors[0]->SetEventSink(&sink));
    ASSERT_EQ(S_OK, sensors[1]->SetEventSink(&sink));
    PROPVARIANT asked;
    PropVariantInit(&asked);
    asked.vt = VT_UI4;

    // Below the minimum, or not an unsigned number: refused for that key, nothing changes.
    asked.ulVal = 24;
    IPortableDeviceValues* request = Request(sensors[0], SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL, asked);
    ASSERT_TRUE(request);
    request->SetValue(SENSOR_PROPERTY_MODEL, &asked);
    IPortableDeviceValues* results = nullptr;
    EXPECT_EQ(S_FALSE, sensors[0]->SetProperties(request, &results)) << "a key was refused";
    EXPECT_EQ(E_INVALIDARG, Answer(results, SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL));
    EXPECT_EQ(E_ACCESSDENIED, Answer(results, SENSOR_PROPERTY_MODEL)) << "read-only";
    results->Release();
    request->Release();
    EXPECT_EQ(0u, UnsignedProperty(sensors[0], SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL));
    EXPECT_EQ(E_POINTER, sensors[0]->SetProperties(nullptr, &results));

    // An accepted interval: the sensor without one starts reporting at it, and says that a
    // property changed.
    asked.ulVal = 25;
    request = Request(sensors[0], SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL, asked);
    ASSERT_EQ(S_OK, sensors[0]->SetProperties(request, &results));
    EXPECT_EQ(S_OK, Answer(results, SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL));
    results->Release();
    request->Release();
    EXPECT_EQ(25u, UnsignedProperty(sensors[0], SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL));
    const ULONGLONG start = TickCount64();
    while (sink.Count(L"data") < 4 && TickCount64() - start < 20000) Sleep(20);
    EXPECT_GE(sink.Count(L"data"), 4u) << "reports at the new interval";

    // The timeline changes a property of the other sensor.
    while (TickCount64() - start < 20000) {
        PropVariantInit(&value);
        bool changed = SUCCEEDED(sensors[1]->GetProperty(SENSOR_PROPERTY_MANUFACTURER, &value)) &&
                       value.vt == VT_LPWSTR && wcscmp(value.pwszVal, L"Other") == 0;
        PropVariantClear(&value);
        if (changed && sink.Count(L"event") >= 2) break;
        Sleep(20);
    }
    EXPECT_EQ(2u, sink.Count(L"event")) << "one property-change event for each change";
    for (const RecordingSink::Call& call : sink.Calls()) {
        if (call.kind == L"event") {
            EXPECT_EQ((int)SENSOR_EVENT_PROPERTY_CHANGED.Data1, call.argument);
        }
    }
    sensors[0]->SetEventSink(nullptr);
    sensors[1]->SetEventSink(nullptr);
    ReleaseAll(sensors);
}

