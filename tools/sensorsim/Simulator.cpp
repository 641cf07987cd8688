#include "Simulator.h"

#include <math.h>
#include <propvarutil.h>
#include <stdio.h>

#include <utility>

namespace {

const HRESULT NotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
const HRESULT NotConnected = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
const double Pi = 3.14159265358979323846;

// Key of the event id inside an event's values.
const PROPERTYKEY EventIdKey = {SENSOR_EVENT_PARAMETER_COMMON_GUID, 2};
// A sensor that names no minimum report interval accepts nothing faster than this.
const DWORD DefaultMinimumInterval = 10;

double NextRandom(unsigned long long& seed)
{
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    return (double)(seed >> 11) / (double)(1ull << 53) * 2.0 - 1.0;  // in [-1, 1)
}

HRESULT MakeVector(VARTYPE element, const std::vector<double>& values, PROPVARIANT& value)
{
    size_t size = element == VT_UI1 ? 1 : element == VT_UI4 ? 4 : 8;
    void* memory = values.empty() ? nullptr : CoTaskMemAlloc(size * values.size());
    if (!values.empty() && !memory) return E_OUTOFMEMORY;
    for (size_t i = 0; i < values.size(); i++) {
        if (element == VT_UI1) ((BYTE*)memory)[i] = (BYTE)values[i];
        if (element == VT_UI4) ((ULONG*)memory)[i] = (ULONG)values[i];
        if (element == VT_R8) ((double*)memory)[i] = values[i];
    }
    value.vt = VT_VECTOR | element;
    value.caub.cElems = (ULONG)values.size();
    value.caub.pElems = (BYTE*)memory;
    return S_OK;
}

HRESULT MakeString(const std::wstring& text, PROPVARIANT& value)
{
    size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    wchar_t* copy = (wchar_t*)CoTaskMemAlloc(bytes);
    if (!copy) return E_OUTOFMEMORY;
    memcpy(copy, text.c_str(), bytes);
    value.vt = VT_LPWSTR;
    value.pwszVal = copy;
    return S_OK;
}

HRESULT MakeGuid(const GUID& guid, PROPVARIANT& value)
{
    GUID* copy = (GUID*)CoTaskMemAlloc(sizeof(GUID));
    if (!copy) return E_OUTOFMEMORY;
    *copy = guid;
    value.vt = VT_CLSID;
    value.puuid = copy;
    return S_OK;
}

HRESULT MakeNumber(VARTYPE type, double number, PROPVARIANT& value)
{
    value.vt = type;
    switch (type) {
    case VT_R4: value.fltVal = (float)number; break;
    case VT_R8: value.dblVal = number; break;
    case VT_I4: value.lVal = (LONG)llround(number); break;
    case VT_UI4: value.ulVal = number <= 0 ? 0 : (ULONG)llround(number); break;
    case VT_BOOL: value.boolVal = number != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
    case VT_ERROR: value.scode = (SCODE)(LONG)llround(number); break;
    default: value.vt = VT_EMPTY; return E_INVALIDARG;
    }
    return S_OK;
}

// The value of a constant: a property, which no generator moves.
HRESULT MakeConstant(const ValueDefinition& definition, PROPVARIANT& value)
{
    PropVariantInit(&value);
    switch (definition.type) {
    case VT_EMPTY:
        return S_OK;
    case VT_LPWSTR:
        return MakeString(definition.text, value);
    case VT_CLSID:
        return MakeGuid(definition.guid, value);
    case VT_FILETIME: {
        unsigned long long ticks = (unsigned long long)definition.number;
        value.vt = VT_FILETIME;
        value.filetime.dwLowDateTime = (DWORD)ticks;
        value.filetime.dwHighDateTime = (DWORD)(ticks >> 32);
        return S_OK;
    }
    default:
        break;
    }
    if (definition.type & VT_VECTOR) return MakeVector(definition.type & ~VT_VECTOR, definition.elements, value);
    return MakeNumber(definition.type, definition.number, value);
}

// The value of one scenario value at `elapsed` milliseconds, for report number `report`.
HRESULT MakeValue(SensorModel* model, size_t index, double elapsed, LONG report, PROPVARIANT& value)
{
    const ValueDefinition& definition = model->definition.values[index];
    PropVariantInit(&value);
    switch (definition.type) {
    case VT_EMPTY:
        return S_OK;
    case VT_LPWSTR:
        if (definition.generator == Generator::Now) {
            SYSTEMTIME now;
            GetLocalTime(&now);
            wchar_t text[64];
            swprintf(text, 64, L"%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                     now.wMinute, now.wSecond);
            return MakeString(text, value);
        }
        return MakeString(definition.text, value);
    case VT_CLSID:
        return MakeGuid(definition.guid, value);
    case VT_FILETIME: {
        FILETIME time;
        if (definition.generator == Generator::Now) {
            GetSystemTimeAsFileTime(&time);
        } else {
            unsigned long long ticks = (unsigned long long)definition.number;
            time.dwLowDateTime = (DWORD)ticks;
            time.dwHighDateTime = (DWORD)(ticks >> 32);
        }
        value.vt = VT_FILETIME;
        value.filetime = time;
        return S_OK;
    }
    default:
        break;
    }
    if (definition.type & VT_VECTOR) return MakeVector(definition.type & ~VT_VECTOR, definition.elements, value);
    double number = definition.number;
    switch (definition.generator) {
    case Generator::Sine:
        number = definition.number + definition.amplitude * sin(2 * Pi * elapsed / definition.period);
        break;
    case Generator::Walk: {
        EnterCriticalSection(&model->lock);
        model->walk[index] += definition.amplitude * NextRandom(model->seed);
        number = model->walk[index];
        LeaveCriticalSection(&model->lock);
        break;
    }
    case Generator::Counter:
        number = definition.number + definition.amplitude * (double)report;
        break;
    default:
        break;
    }
    return MakeNumber(definition.type, number, value);
}

std::wstring ReadScenarioFile(const wchar_t* path, bool& ok)
{
    ok = false;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return L"";
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
    CloseHandle(file);
    ok = true;
    if (bytes.size() >= 2 && (unsigned char)bytes[0] == 0xFF && (unsigned char)bytes[1] == 0xFE)
        return std::wstring((const wchar_t*)(bytes.data() + 2), (bytes.size() - 2) / 2);
    size_t skip = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data() + skip, (int)(bytes.size() - skip), nullptr, 0);
    std::wstring text((size_t)n, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, bytes.data() + skip, (int)(bytes.size() - skip), &text[0], n);
    return text;
}

extern "C" IMAGE_DOS_HEADER __ImageBase;

std::wstring BuiltInScenario()
{
    HMODULE module = (HMODULE)&__ImageBase;
    HRSRC resource = FindResourceW(module, L"DEMO", (LPCWSTR)RT_RCDATA);
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const char* data = loaded ? (const char*)LockResource(loaded) : nullptr;
    if (!data) return L"";
    int size = (int)SizeofResource(module, resource);
    int n = MultiByteToWideChar(CP_UTF8, 0, data, size, nullptr, 0);
    std::wstring text((size_t)n, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, data, size, &text[0], n);
    return text;
}

}  // namespace

volatile LONG g_liveObjects = 0;

// ---------------------------------------------------------------------------------------
// Engine

Engine& Engine::Instance()
{
    static Engine engine;
    return engine;
}

Engine::Engine() : m_loaded(false), m_stop(nullptr), m_timeline(nullptr)
{
    InitializeCriticalSection(&m_reloadLock);
    InitializeCriticalSection(&m_lock);
    QueryPerformanceFrequency(&m_frequency);
    QueryPerformanceCounter(&m_start);
}

double Engine::ElapsedMilliseconds() const
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)(now.QuadPart - m_start.QuadPart) * 1000.0 / (double)m_frequency.QuadPart;
}

void Engine::Prepare()
{
    SectionLock lock(m_reloadLock);
    if (m_loaded && g_liveObjects > 0) return;
    Stop();
    Load();
}

void Engine::Stop()
{
    if (!m_loaded) return;
    SetEvent(m_stop);
    std::vector<HANDLE> threads;
    if (m_timeline) threads.push_back(m_timeline);
    for (SensorModel* model : m_models)
        if (model->thread) threads.push_back(model->thread);
    for (HANDLE thread : threads) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    for (SensorModel* model : m_models) {
        if (model->latest) model->latest->Release();
        DeleteCriticalSection(&model->lock);
        if (model->wake) CloseHandle(model->wake);
        delete model;
    }
    m_models.clear();
    CloseHandle(m_stop);
    m_stop = nullptr;
    m_timeline = nullptr;
    m_loaded = false;
}

void Engine::Load()
{
    std::wstring text;
    bool ok = true;
    wchar_t path[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"SENSORSIM_SCENARIO", path, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        text = ReadScenarioFile(path, ok);
    } else {
        DWORD size = sizeof(path);
        DWORD type = 0;
        if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\SensorSimulator", L"Scenario", RRF_RT_REG_SZ, &type, path,
                         &size) == ERROR_SUCCESS && path[0])
            text = ReadScenarioFile(path, ok);
        else
            text = BuiltInScenario();
    }
    m_error.clear();
    if (!ok) {
        m_error = L"cannot read the scenario file ";
        m_error += path;
        m_scenario = Scenario();
    } else if (!m_scenario.Parse(text, m_error)) {
        m_scenario = Scenario();
    }
    if (!m_error.empty()) OutputDebugStringW((L"sensor simulator: " + m_error + L"\n").c_str());

    m_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    QueryPerformanceCounter(&m_start);
    for (size_t i = 0; i < m_scenario.sensors.size(); i++) {
        SensorModel* model = new SensorModel();
        model->definition = m_scenario.sensors[i];
        model->index = (int)i;
        model->present = model->definition.present ? 1 : 0;
        model->state = model->definition.state;
        model->reports = 0;
        model->latest = nullptr;
        model->seed = 0x9E3779B97F4A7C15ull * (i + 1);
        for (const ValueDefinition& value : model->definition.values) model->walk.push_back(value.number);
        InitializeCriticalSection(&model->lock);
        model->properties = model->definition.properties;
        model->interval = (LONG)model->definition.interval;
        model->propertyChanged = 0;
        model->minimum = DefaultMinimumInterval;
        for (const ValueDefinition& property : model->properties)
            if (SameKey(property.key, SENSOR_PROPERTY_MIN_REPORT_INTERVAL) && property.type == VT_UI4)
                model->minimum = property.number <= 0 ? 0 : (DWORD)property.number;
        model->wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        model->thread = nullptr;
        m_models.push_back(model);
    }
    // Every sensor has a thread: one without an interval may be given one by a client.
    for (SensorModel* model : m_models) model->thread = CreateThread(nullptr, 0, ModelThread, model, 0, nullptr);
    if (!m_scenario.timeline.empty()) m_timeline = CreateThread(nullptr, 0, TimelineThread, this, 0, nullptr);
    m_loaded = true;
}

void Engine::AddManager(ManagerObject* manager)
{
    SectionLock lock(m_lock);
    m_managers.push_back(manager);
}

void Engine::RemoveManager(ManagerObject* manager)
{
    SectionLock lock(m_lock);
    for (size_t i = 0; i < m_managers.size(); i++)
        if (m_managers[i] == manager) {
            m_managers.erase(m_managers.begin() + (ptrdiff_t)i);
            break;
        }
}

std::vector<ManagerObject*> Engine::Managers()
{
    std::vector<ManagerObject*> managers;
    SectionLock lock(m_lock);
    for (ManagerObject* manager : m_managers)
        if (manager->AddRefIfAlive()) managers.push_back(manager);
    return managers;
}

void Engine::Subscribe(SensorModel* model, SensorObject* sensor)
{
    SectionLock lock(model->lock);
    for (SensorObject* existing : model->subscribers)
        if (existing == sensor) return;
    model->subscribers.push_back(sensor);
}

void Engine::Unsubscribe(SensorModel* model, SensorObject* sensor)
{
    ISensorDataReport* latest = nullptr;
    {
        SectionLock lock(model->lock);
        for (size_t i = 0; i < model->subscribers.size(); i++)
            if (model->subscribers[i] == sensor) {
                model->subscribers.erase(model->subscribers.begin() + (ptrdiff_t)i);
                break;
            }
        // Nobody listens: the sensor keeps no reading (a released client leaves nothing alive).
        if (model->subscribers.empty()) std::swap(latest, model->latest);
    }
    if (latest) latest->Release();
}

std::vector<SensorObject*> Engine::Subscribers(SensorModel* model)
{
    std::vector<SensorObject*> sensors;
    SectionLock lock(model->lock);
    for (SensorObject* sensor : model->subscribers)
        if (sensor->AddRefIfAlive()) sensors.push_back(sensor);
    return sensors;
}

void Engine::KeepLatest(SensorModel* model, ISensorDataReport* report)
{
    ISensorDataReport* old;
    {
        SectionLock lock(model->lock);
        // Kept only while someone listens.
        if (report && model->subscribers.empty()) report = nullptr;
        if (report) report->AddRef();
        old = model->latest;
        model->latest = report;
    }
    if (old) old->Release();
}

HRESULT Engine::CurrentReport(SensorModel* model, ISensorDataReport** report)
{
    // A sensor that reports on its own answers with its latest reading, as a device does;
    // only a sensor without events (or before its first) makes a new one for each call.
    if (model->interval > 0) {
        SectionLock lock(model->lock);
        if (model->latest) {
            *report = model->latest;
            (*report)->AddRef();
            return S_OK;
        }
    }
    return MakeReport(model, report);
}

HRESULT Engine::MakeReport(SensorModel* model, ISensorDataReport** report)
{
    *report = nullptr;
    LONG number = InterlockedIncrement(&model->reports) - 1;
    double elapsed = ElapsedMilliseconds();
    ValueStore* store = new ValueStore();
    for (size_t i = 0; i < model->definition.values.size(); i++) {
        PROPVARIANT value;
        HRESULT result = MakeValue(model, i, elapsed, number, value);
        if (SUCCEEDED(result)) result = store->SetValue(model->definition.values[i].key, &value);
        PropVariantClear(&value);
        if (FAILED(result)) {
            store->Release();
            return result;
        }
    }
    // Faults are marked by position once every value is in place (a key given twice
    // keeps its first position).
    DWORD count = 0;
    store->GetCount(&count);
    for (size_t i = 0; i < model->definition.values.size(); i++) {
        if (!model->definition.values[i].failAt) continue;
        for (DWORD at = 0; at < count; at++) {
            PROPERTYKEY key;
            if (SUCCEEDED(store->GetAt(at, &key, nullptr)) && SameKey(key, model->definition.values[i].key)) {
                store->FailAt(at);
                break;
            }
        }
    }
    SYSTEMTIME time;
    GetSystemTime(&time);
    *report = new DataReport(time, store);
    return S_OK;
}

DWORD WINAPI Engine::ModelThread(void* parameter)
{
    Instance().RunModel(static_cast<SensorModel*>(parameter));
    return 0;
}

void Engine::PropertyChanged(SensorModel* model)
{
    InterlockedExchange(&model->propertyChanged, 1);
    if (model->wake) SetEvent(model->wake);
}

void Engine::RunModel(SensorModel* model)
{
    double interval = (double)model->interval;
    double next = ElapsedMilliseconds() + interval;
    HANDLE handles[2] = {m_stop, model->wake};
    for (;;) {
        if (InterlockedExchange(&model->propertyChanged, 0) && model->present) {
            ValueStore* values = new ValueStore();
            values->SetGuidValue(EventIdKey, SENSOR_EVENT_PROPERTY_CHANGED);
            for (SensorObject* sensor : Subscribers(model)) {
                sensor->DeliverEvent(SENSOR_EVENT_PROPERTY_CHANGED, values);
                sensor->Release();
            }
            values->Release();
        }
        // A new interval starts a new schedule from now.
        double current = (double)model->interval;
        if (current != interval) {
            interval = current;
            next = ElapsedMilliseconds() + interval;
        }
        double now = ElapsedMilliseconds();
        DWORD wait = interval <= 0 ? INFINITE : next > now ? (DWORD)ceil(next - now) : 0;
        DWORD woken = WaitForMultipleObjects(2, handles, FALSE, wait);
        if (woken == WAIT_OBJECT_0) return;
        if (woken == WAIT_OBJECT_0 + 1 || interval <= 0) continue;
        now = ElapsedMilliseconds();
        if (now < next) continue;
        next += interval;
        // After a long stall the schedule restarts instead of firing a burst.
        if (next < now - 100 * interval) next = now + interval;
        if (!model->present) continue;
        std::vector<SensorObject*> sensors = Subscribers(model);
        if (sensors.empty()) continue;
        ISensorDataReport* report = nullptr;
        if (!model->definition.failGetData && SUCCEEDED(MakeReport(model, &report))) {
            KeepLatest(model, report);
            for (SensorObject* sensor : sensors) sensor->DeliverData(report);
            report->Release();
        }
        for (SensorObject* sensor : sensors) sensor->Release();
    }
}

DWORD WINAPI Engine::TimelineThread(void* parameter)
{
    static_cast<Engine*>(parameter)->RunTimeline();
    return 0;
}

void Engine::RunTimeline()
{
    for (const TimelineEntry& entry : m_scenario.timeline) {
        for (;;) {
            double now = ElapsedMilliseconds();
            if (now >= entry.at) break;
            if (WaitForSingleObject(m_stop, (DWORD)ceil(entry.at - now)) == WAIT_OBJECT_0) return;
        }
        if (WaitForSingleObject(m_stop, 0) == WAIT_OBJECT_0) return;
        SensorModel* model = m_models[(size_t)entry.sensor];
        switch (entry.kind) {
        case TimelineKind::Enter: {
            if (InterlockedExchange(&model->present, 1)) break;
            for (ManagerObject* manager : Managers()) {
                manager->DeliverEnter(model);
                manager->Release();
            }
            break;
        }
        case TimelineKind::Leave: {
            if (!InterlockedExchange(&model->present, 0)) break;
            KeepLatest(model, nullptr);
            for (SensorObject* sensor : Subscribers(model)) {
                sensor->DeliverLeave();
                sensor->Release();
            }
            break;
        }
        case TimelineKind::State: {
            InterlockedExchange(&model->state, entry.state);
            for (SensorObject* sensor : Subscribers(model)) {
                sensor->DeliverState(entry.state);
                sensor->Release();
            }
            break;
        }
        case TimelineKind::Property: {
            EnterCriticalSection(&model->lock);
            bool replaced = false;
            for (ValueDefinition& property : model->properties)
                if (SameKey(property.key, entry.property.key)) {
                    property = entry.property;
                    replaced = true;
                }
            if (!replaced) model->properties.push_back(entry.property);
            if (SameKey(entry.property.key, SENSOR_PROPERTY_MIN_REPORT_INTERVAL))
                model->minimum = entry.property.number <= 0 ? 0 : (DWORD)entry.property.number;
            LeaveCriticalSection(&model->lock);
            if (SameKey(entry.property.key, SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL))
                InterlockedExchange(&model->interval, entry.property.number <= 0 ? 0 : (LONG)entry.property.number);
            PropertyChanged(model);
            break;
        }
        case TimelineKind::Event: {
            ValueStore* values = new ValueStore();
            values->SetGuidValue(EventIdKey, entry.event);
            for (SensorObject* sensor : Subscribers(model)) {
                sensor->DeliverEvent(entry.event, values);
                sensor->Release();
            }
            values->Release();
            break;
        }
        }
    }
}

// ---------------------------------------------------------------------------------------
// Sensors

SensorObject::SensorObject(SensorModel* model) : m_model(model), m_sink(nullptr)
{
    InitializeCriticalSection(&m_lock);
}

SensorObject::~SensorObject()
{
    Engine::Instance().Unsubscribe(m_model, this);
    if (m_sink) m_sink->Release();
    DeleteCriticalSection(&m_lock);
}

ISensorEvents* SensorObject::TakeSink()
{
    SectionLock lock(m_lock);
    if (m_sink) m_sink->AddRef();
    return m_sink;
}

void SensorObject::DeliverData(ISensorDataReport* report)
{
    if (ISensorEvents* sink = TakeSink()) {
        sink->OnDataUpdated(this, report);
        sink->Release();
    }
}

void SensorObject::DeliverState(int state)
{
    if (ISensorEvents* sink = TakeSink()) {
        sink->OnStateChanged(this, (SensorState)state);
        sink->Release();
    }
}

void SensorObject::DeliverEvent(REFGUID event, IPortableDeviceValues* values)
{
    if (ISensorEvents* sink = TakeSink()) {
        sink->OnEvent(this, event, values);
        sink->Release();
    }
}

void SensorObject::DeliverLeave()
{
    if (ISensorEvents* sink = TakeSink()) {
        sink->OnLeave(m_model->definition.id);
        sink->Release();
    }
}

HRESULT STDMETHODCALLTYPE SensorObject::GetID(SENSOR_ID* id)
{
    if (!id) return E_POINTER;
    *id = m_model->definition.id;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SensorObject::GetCategory(SENSOR_CATEGORY_ID* category)
{
    if (!category) return E_POINTER;
    *category = m_model->definition.category;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SensorObject::GetType(SENSOR_TYPE_ID* type)
{
    if (!type) return E_POINTER;
    *type = m_model->definition.type;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SensorObject::GetFriendlyName(BSTR* name)
{
    if (!name) return E_POINTER;
    *name = nullptr;
    switch (m_model->definition.nameKind) {
    case NameKind::Fail:
        return E_FAIL;
    case NameKind::None:
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    default:
        *name = SysAllocString(m_model->definition.name.c_str());
        return *name ? S_OK : E_OUTOFMEMORY;
    }
}

HRESULT SensorObject::AllProperties(ValueStore* store)
{
    const SensorDefinition& definition = m_model->definition;
    store->SetGuidValue(SENSOR_PROPERTY_PERSISTENT_UNIQUE_ID, definition.id);
    if (definition.nameKind == NameKind::Text) store->SetStringValue(SENSOR_PROPERTY_FRIENDLY_NAME, definition.name.c_str());
    store->SetGuidValue(SENSOR_PROPERTY_TYPE, definition.type);
    store->SetUnsignedIntegerValue(SENSOR_PROPERTY_STATE, (ULONG)m_model->state);
    store->SetStringValue(SENSOR_PROPERTY_MANUFACTURER, L"Sensor Simulator");
    store->SetStringValue(SENSOR_PROPERTY_MODEL, L"Scenario sensor");
    wchar_t serial[16];
    swprintf(serial, 16, L"SIM-%04d", m_model->index + 1);
    store->SetStringValue(SENSOR_PROPERTY_SERIAL_NUMBER, serial);
    // The scenario's properties, as changed since, over the defaults; the intervals are the
    // sensor's own.
    EnterCriticalSection(&m_model->lock);
    for (const ValueDefinition& property : m_model->properties) {
        PROPVARIANT value;
        if (SUCCEEDED(MakeConstant(property, value))) store->SetValue(property.key, &value);
        PropVariantClear(&value);
    }
    DWORD minimum = m_model->minimum;
    LeaveCriticalSection(&m_model->lock);
    store->SetUnsignedIntegerValue(SENSOR_PROPERTY_MIN_REPORT_INTERVAL, minimum);
    store->SetUnsignedIntegerValue(SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL, (ULONG)m_model->interval);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SensorObject::GetProperty(REFPROPERTYKEY key, PROPVARIANT* value)
{
    if (!value) return E_POINTER;
    PropVariantInit(value);
    if (m_model->definition.failProperties) return E_FAIL;
    ValueStore* store = new ValueStore();
    AllProperties(store);
    HRESULT result = store->GetValue(key, value);
    store->Release();
    return result;
}

HRESULT STDMETHODCALLTYPE SensorObject::GetProperties(IPortableDeviceKeyCollection* keys,
                                                      IPortableDeviceValues** values)
{
    if (!values) return E_POINTER;
    *values = nullptr;
    if (m_model->definition.failProperties) return E_FAIL;
    ValueStore* all = new ValueStore();
    AllProperties(all);
    if (!keys) {
        *values = all;
        return S_OK;
    }
    ValueStore* chosen = new ValueStore();
    DWORD count = 0;
    keys->GetCount(&count);
    for (DWORD i = 0; i < count; i++) {
        PROPERTYKEY key;
        PROPVARIANT value;
        if (FAILED(keys->GetAt(i, &key))) continue;
        if (SUCCEEDED(all->GetValue(key, &value))) {
            chosen->SetValue(key, &value);
        } else {
            chosen->SetErrorValue(key, NotFound);
        }
        PropVariantClear(&value);
    }
    all->Release();
    *values = chosen;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SensorObject::GetSupportedDataFields(IPortableDeviceKeyCollection** fields)
{
    if (!fields) return E_POINTER;
    KeyCollection* keys = new KeyCollection();
    for (const ValueDefinition& value : m_model->definition.values) keys->Add(value.key);
    *fields = keys;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SensorObject::SetProperties(IPortableDeviceValues* values, IPortableDeviceValues** results)
{
    if (results) *results = nullptr;
    if (!values || !results) return E_POINTER;
    if (!m_model->present) return NotConnected;
    // Each key gets its own answer: only the current report interval can be written.
    ValueStore* answers = new ValueStore();
    DWORD count = 0;
    values->GetCount(&count);
    bool all = true, changed = false;
    for (DWORD i = 0; i < count; i++) {
        PROPERTYKEY key;
        PROPVARIANT value;
        PropVariantInit(&value);
        if (FAILED(values->GetAt(i, &key, &value))) continue;
        HRESULT answer = E_ACCESSDENIED;
        if (SameKey(key, SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL)) {
            EnterCriticalSection(&m_model->lock);
            DWORD minimum = m_model->minimum;
            LeaveCriticalSection(&m_model->lock);
            if (value.vt != VT_UI4 || (value.ulVal != 0 && value.ulVal < minimum) || value.ulVal > 0x7FFFFFFF) {
                answer = E_INVALIDARG;
            } else {
                // 0 asks for the sensor's default.
                LONG interval = value.ulVal ? (LONG)value.ulVal : (LONG)m_model->definition.interval;
                InterlockedExchange(&m_model->interval, interval);
                answer = S_OK;
                changed = true;
            }
        }
        answers->SetErrorValue(key, answer);
        if (FAILED(answer)) all = false;
        PropVariantClear(&value);
    }
    if (changed) Engine::Instance().PropertyChanged(m_model);
    *results = answers;
    return all ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE SensorObject::SupportsDataField(REFPROPERTYKEY key, VARIANT_BOOL* supported)
{
    if (!supported) return E_POINTER;
    *supported = VARIANT_FALSE;
    for (const ValueDefinition& value : m_model->definition.values)
        if (SameKey(value.key, key)) *supported = VARIANT_TRUE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SensorObject::GetState(SensorState* state)
{
    if (!state) return E_POINTER;
    if (!m_model->present) return NotConnected;
    *state = (SensorState)m_model->state;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SensorObject::GetData(ISensorDataReport** report)
{
    if (!report) return E_POINTER;
    *report = nullptr;
    if (!m_model->present) return NotConnected;
    if (m_model->definition.failGetData) return E_FAIL;
    return Engine::Instance().CurrentReport(m_model, report);
}

HRESULT STDMETHODCALLTYPE SensorObject::SupportsEvent(REFGUID event, VARIANT_BOOL* supported)
{
    if (!supported) return E_POINTER;
    bool known = IsEqualGUID(event, SENSOR_EVENT_DATA_UPDATED) || IsEqualGUID(event, SENSOR_EVENT_STATE_CHANGED) ||
                 IsEqualGUID(event, SENSOR_EVENT_PROPERTY_CHANGED);
    *supported = known ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SensorObject::GetEventInterest(GUID** events, ULONG* count)
{
    if (!events || !count) return E_POINTER;
    SectionLock lock(m_lock);
    *count = (ULONG)m_interest.size();
    *events = nullptr;
    if (m_interest.empty()) return S_OK;
    *events = (GUID*)CoTaskMemAlloc(sizeof(GUID) * m_interest.size());
    if (!*events) return E_OUTOFMEMORY;
    for (size_t i = 0; i < m_interest.size(); i++) (*events)[i] = m_interest[i];
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SensorObject::SetEventInterest(GUID* events, ULONG count)
{
    if (!events && count) return E_POINTER;
    SectionLock lock(m_lock);
    m_interest.assign(events, events + count);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SensorObject::SetEventSink(ISensorEvents* sink)
{
    if (sink) sink->AddRef();
    ISensorEvents* old;
    {
        SectionLock lock(m_lock);
        old = m_sink;
        m_sink = sink;
    }
    if (sink)
        Engine::Instance().Subscribe(m_model, this);
    else
        Engine::Instance().Unsubscribe(m_model, this);
    if (old) old->Release();
    return S_OK;
}

// ---------------------------------------------------------------------------------------
// Collections and reports

SensorCollection::~SensorCollection()
{
    Clear();
}

void SensorCollection::Append(ISensor* sensor, bool failAt)
{
    sensor->AddRef();
    m_items.push_back(Item{sensor, failAt});
}

HRESULT STDMETHODCALLTYPE SensorCollection::GetAt(ULONG index, ISensor** sensor)
{
    if (!sensor) return E_POINTER;
    *sensor = nullptr;
    if (index >= m_items.size()) return E_INVALIDARG;
    if (m_items[index].failAt) return E_FAIL;
    *sensor = m_items[index].sensor;
    (*sensor)->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SensorCollection::GetCount(ULONG* count)
{
    if (!count) return E_POINTER;
    *count = (ULONG)m_items.size();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SensorCollection::Add(ISensor* sensor)
{
    if (!sensor) return E_POINTER;
    Append(sensor, false);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SensorCollection::Remove(ISensor* sensor)
{
    for (size_t i = 0; i < m_items.size(); i++)
        if (m_items[i].sensor == sensor) {
            m_items[i].sensor->Release();
            m_items.erase(m_items.begin() + (ptrdiff_t)i);
            return S_OK;
        }
    return NotFound;
}

HRESULT STDMETHODCALLTYPE SensorCollection::RemoveByID(REFSENSOR_ID id)
{
    for (size_t i = 0; i < m_items.size(); i++) {
        SENSOR_ID own;
        if (SUCCEEDED(m_items[i].sensor->GetID(&own)) && IsEqualGUID(own, id)) {
            m_items[i].sensor->Release();
            m_items.erase(m_items.begin() + (ptrdiff_t)i);
            return S_OK;
        }
    }
    return NotFound;
}

HRESULT STDMETHODCALLTYPE SensorCollection::Clear()
{
    for (Item& item : m_items) item.sensor->Release();
    m_items.clear();
    return S_OK;
}

DataReport::DataReport(const SYSTEMTIME& time, ValueStore* values) : m_time(time), m_values(values) {}

DataReport::~DataReport()
{
    m_values->Release();
}

HRESULT STDMETHODCALLTYPE DataReport::GetTimestamp(SYSTEMTIME* time)
{
    if (!time) return E_POINTER;
    *time = m_time;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DataReport::GetSensorValue(REFPROPERTYKEY key, PROPVARIANT* value)
{
    return m_values->GetValue(key, value);
}

HRESULT STDMETHODCALLTYPE DataReport::GetSensorValues(IPortableDeviceKeyCollection* keys,
                                                      IPortableDeviceValues** values)
{
    if (!values) return E_POINTER;
    if (!keys) {
        m_values->AddRef();
        *values = m_values;
        return S_OK;
    }
    ValueStore* chosen = new ValueStore();
    DWORD count = 0;
    keys->GetCount(&count);
    for (DWORD i = 0; i < count; i++) {
        PROPERTYKEY key;
        PROPVARIANT value;
        if (FAILED(keys->GetAt(i, &key))) continue;
        if (SUCCEEDED(m_values->GetValue(key, &value))) chosen->SetValue(key, &value);
        PropVariantClear(&value);
    }
    *values = chosen;
    return S_OK;
}

// ---------------------------------------------------------------------------------------
// Manager

ManagerObject::ManagerObject() : m_sink(nullptr)
{
    InitializeCriticalSection(&m_lock);
    m_sensors.assign(Engine::Instance().ModelCount(), nullptr);
    Engine::Instance().AddManager(this);
}

ManagerObject::~ManagerObject()
{
    Engine::Instance().RemoveManager(this);
    for (SensorObject* sensor : m_sensors)
        if (sensor) sensor->Release();
    if (m_sink) m_sink->Release();
    DeleteCriticalSection(&m_lock);
}

SensorObject* ManagerObject::SensorFor(SensorModel* model)
{
    SectionLock lock(m_lock);
    SensorObject*& sensor = m_sensors[(size_t)model->index];
    if (!sensor) sensor = new SensorObject(model);
    sensor->AddRef();
    return sensor;
}

void ManagerObject::DeliverEnter(SensorModel* model)
{
    ISensorManagerEvents* sink;
    {
        SectionLock lock(m_lock);
        sink = m_sink;
        if (sink) sink->AddRef();
    }
    if (!sink) return;
    SensorObject* sensor = SensorFor(model);
    sink->OnSensorEnter(sensor, (SensorState)model->state);
    sensor->Release();
    sink->Release();
}

template <class Match>
HRESULT ManagerObject::Collect(Match match, ISensorCollection** found)
{
    if (!found) return E_POINTER;
    *found = nullptr;
    Engine& engine = Engine::Instance();
    SensorCollection* collection = new SensorCollection();
    for (size_t i = 0; i < engine.ModelCount(); i++) {
        SensorModel* model = engine.Model(i);
        if (!model->present || !match(model->definition)) continue;
        SensorObject* sensor = SensorFor(model);
        collection->Append(sensor, model->definition.failCollectionIndex);
        sensor->Release();
    }
    ULONG count = 0;
    collection->GetCount(&count);
    if (count == 0) {
        collection->Release();
        return NotFound;
    }
    *found = collection;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ManagerObject::GetSensorsByCategory(REFSENSOR_CATEGORY_ID category,
                                                              ISensorCollection** found)
{
    bool all = IsEqualGUID(category, SENSOR_CATEGORY_ALL);
    return Collect([&](const SensorDefinition& definition) { return all || IsEqualGUID(definition.category, category); }, found);
}

HRESULT STDMETHODCALLTYPE ManagerObject::GetSensorsByType(REFSENSOR_TYPE_ID type, ISensorCollection** found)
{
    return Collect([&](const SensorDefinition& definition) { return IsEqualGUID(definition.type, type) != 0; }, found);
}

HRESULT STDMETHODCALLTYPE ManagerObject::GetSensorByID(REFSENSOR_ID id, ISensor** sensor)
{
    if (!sensor) return E_POINTER;
    *sensor = nullptr;
    Engine& engine = Engine::Instance();
    for (size_t i = 0; i < engine.ModelCount(); i++) {
        SensorModel* model = engine.Model(i);
        if (model->present && IsEqualGUID(model->definition.id, id)) {
            *sensor = SensorFor(model);
            return S_OK;
        }
    }
    return NotFound;
}

HRESULT STDMETHODCALLTYPE ManagerObject::SetEventSink(ISensorManagerEvents* sink)
{
    if (sink) sink->AddRef();
    ISensorManagerEvents* old;
    {
        SectionLock lock(m_lock);
        old = m_sink;
        m_sink = sink;
    }
    if (old) old->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ManagerObject::RequestPermissions(HWND, ISensorCollection*, WINBOOL)
{
    return S_OK;
}
