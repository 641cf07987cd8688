#include "sensors/SensorManager.h"

#include <propvarutil.h>
#include <new>
#include <stdint.h>
#include <sensors.h>

#include "platform/ComObject.h"
#include "sensors/PropertyKeyNames.h"
#include "sensors/ValueText.h"

namespace {

volatile LONG g_liveRecords = 0;

const GUID CategoryAll = {0xC317C286, 0xC468, 0x4288, {0x99, 0x75, 0xD4, 0xC4, 0x58, 0x7C, 0x44, 0x2C}};
const IID SensorManagerId = {0xBD77DB67, 0x45A8, 0x42DC, {0x8D, 0x00, 0x6D, 0xCF, 0x15, 0xF8, 0x37, 0x7A}};
const IID SensorEventsId = {0x5D8DCC91, 0x4641, 0x47E7, {0xB7, 0xC3, 0xB7, 0x4F, 0x48, 0xA6, 0xC3, 0x91}};
const IID ManagerEventsId = {0x9B3B0B86, 0x266A, 0x4AAD, {0xB2, 0x1F, 0xFD, 0xE5, 0x50, 0x10, 0x01, 0xB7}};

}  // namespace

// Reports one sensor's events to the application. Holds a reference to its record.
class SensorEventSink : public ComObjectBase<ISensorEvents, &SensorEventsId> {
public:
    explicit SensorEventSink(SensorRecord* record) : m_record(record) { record->AddRef(); }
    virtual ~SensorEventSink() { m_record->Release(); }

    HRESULT STDMETHODCALLTYPE OnStateChanged(ISensor*, SensorState) override
    {
        if (!m_record->Closed()) m_record->owner->Notify(StateChanged, m_record);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDataUpdated(ISensor*, ISensorDataReport* report) override
    {
        if (m_record->Closed()) return S_OK;
        m_record->owner->ObserveReport(m_record, report);
        // The values are read when the fields are (CurrentFields); a rebuild of the tree
        // fetches the sensor's data afresh in any case.
        m_record->KeepReport(report);
        m_record->owner->Notify(DataUpdated, m_record);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEvent(ISensor*, REFGUID, IPortableDeviceValues*) override
    {
        if (!m_record->Closed()) m_record->owner->Notify(SensorEvent, m_record);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnLeave(REFSENSOR_ID) override
    {
        m_record->MarkLeft();
        if (!m_record->Closed()) m_record->owner->Notify(DataUpdated, m_record);
        return S_OK;
    }

private:
    SensorRecord* m_record;
};

// Reports sensor arrivals to the application.
class ManagerEventSink : public ComObjectBase<ISensorManagerEvents, &ManagerEventsId> {
public:
    explicit ManagerEventSink(SensorManager* owner) : m_owner(owner) {}
    virtual ~ManagerEventSink() {}

    // The manager lets go; calls that arrive later reach nobody.
    void Detach() { InterlockedExchangePointer((void* volatile*)&m_owner, nullptr); }

    HRESULT STDMETHODCALLTYPE OnSensorEnter(ISensor*, SensorState) override
    {
        SensorManager* owner = m_owner;
        if (owner) owner->Notify(SensorEntered, nullptr);
        return S_OK;
    }

private:
    SensorManager* volatile m_owner;
};

SensorField::SensorField() : name(), valueText()
{
    ZeroMemory(&key, sizeof(key));
    VariantInit(&value);
}

SensorField::~SensorField()
{
    VariantClear(&value);
}

SensorRecord::SensorRecord(SensorManager* owner)
    : owner(owner), sensor(nullptr), category(GUID_NULL), id(GUID_NULL), sink(nullptr), m_references(1), m_closed(0),
      m_left(0), m_latestReport(nullptr)
{
    InterlockedIncrement(&g_liveRecords);
}

SensorRecord::~SensorRecord()
{
    if (ISensorDataReport* report = TakeReport()) report->Release();
    fields.Clear();
    InterlockedDecrement(&g_liveRecords);
}

LONG SensorRecord::LiveCount()
{
    return g_liveRecords;
}

void SensorRecord::KeepReport(ISensorDataReport* report)
{
    if (report) report->AddRef();
    ISensorDataReport* previous =
        (ISensorDataReport*)InterlockedExchangePointer((void* volatile*)&m_latestReport, report);
    if (previous) previous->Release();
}

ISensorDataReport* SensorRecord::TakeReport()
{
    return (ISensorDataReport*)InterlockedExchangePointer((void* volatile*)&m_latestReport, nullptr);
}

size_t KeyNameCache::Hash(const PROPERTYKEY& key)
{
    const uint32_t* words = (const uint32_t*)&key.fmtid;
    uint32_t hash = key.pid * 0x9E3779B1u;
    for (int i = 0; i < 4; i++) hash = (hash ^ words[i]) * 0x85EBCA77u;
    return hash ^ (hash >> 15);
}

void KeyNameCache::Rehash(size_t slots)
{
    m_slots.assign(slots, -1);
    for (size_t i = 0; i < m_entries.size(); i++) {
        size_t at = Hash(m_entries[i].first) & (slots - 1);
        while (m_slots[at] >= 0) at = (at + 1) & (slots - 1);
        m_slots[at] = (int)i;
    }
}

void KeyNameCache::Name(const PROPERTYKEY& key, WideString& name)
{
    m_lock.Enter();
    size_t at = 0;
    if (!m_slots.empty()) {
        for (at = Hash(key) & (m_slots.size() - 1); m_slots[at] >= 0; at = (at + 1) & (m_slots.size() - 1)) {
            const auto& entry = m_entries[(size_t)m_slots[at]];
            if (SameKey(entry.first, key)) {
                name = entry.second;
                m_lock.Leave();
                return;
            }
        }
    }
    DisplayName(LookupKeyName(key), key, name);
    if (m_entries.size() < MaxNames) {
        try {
            m_entries.emplace_back(key, name);
            if (m_entries.size() * 2 > m_slots.size())
                Rehash(m_slots.empty() ? 64 : m_slots.size() * 2);
            else
                m_slots[at] = (int)m_entries.size() - 1;
        } catch (...) {
            // Without memory the cache starts over; the name made here is still right.
            m_entries.clear();
            m_slots.clear();
        }
    }
    m_lock.Leave();
}

void SensorRecord::Release()
{
    if (InterlockedDecrement(&m_references) == 0) delete this;
}

void SensorRecord::Discard()
{
    InterlockedExchange(&m_closed, 1);
    if (sensor) sensor->SetEventSink(nullptr);
    if (sink) {
        sink->Release();
        sink = nullptr;
    }
    if (sensor) {
        sensor->Release();
        sensor = nullptr;
    }
    if (ISensorDataReport* report = TakeReport()) report->Release();
    fields.Clear();
    Release();
}

SensorManager::SensorManager()
    : m_platform(nullptr), m_managerSink(nullptr), m_callback(nullptr), m_userData(0), m_observer(nullptr),
      m_observerUser(nullptr)
{
    m_apartment.Initialise(ComApartment::Multithreaded);
}

SensorManager::~SensorManager()
{
    ReleaseSensors();
    m_callback = nullptr;
    m_apartment.Release();
}

void SensorManager::SetCallback(SensorCallback callback, UINT_PTR userData)
{
    m_userData = userData;
    m_callback = callback;
}

void SensorManager::SetReportObserver(ReportObserver observer, void* user)
{
    m_observerUser = user;
    m_observer = observer;
}

void SensorManager::Notify(int kind, SensorRecord* record)
{
    SensorCallback callback = m_callback;
    if (callback) callback(kind, record, m_userData);
}

SensorRecord* SensorManager::EnumerateSensors()
{
    m_sensors.Clear();
    if (!m_platform &&
        FAILED(ComApartment::CreateByProgId(L"SensorsApi.SensorManager.1", SensorManagerId, (void**)&m_platform))) {
        m_platform = nullptr;
        return nullptr;
    }
    ManagerEventSink* managerSink = new (std::nothrow) ManagerEventSink(this);
    if (m_managerSink) {
        m_managerSink->Detach();
        m_managerSink->Release();
    }
    m_managerSink = managerSink;
    if (managerSink) m_platform->SetEventSink(managerSink);

    ISensorCollection* collection = nullptr;
    ULONG count = 0;
    if (SUCCEEDED(m_platform->GetSensorsByCategory(CategoryAll, &collection)) && collection &&
        SUCCEEDED(collection->GetCount(&count))) {
        for (ULONG i = 0; i < count; i++) {
            ISensor* sensor = nullptr;
            if (FAILED(collection->GetAt(i, &sensor)) || !sensor) continue;
            AddRecord(sensor);
            sensor->Release();
        }
    }
    if (collection) collection->Release();
    return m_sensors.First();
}

void SensorManager::AddRecord(ISensor* sensor)
{
    SensorRecord* record = new (std::nothrow) SensorRecord(this);
    if (!record) return;
    record->sensor = sensor;
    sensor->AddRef();
    BSTR name = nullptr;
    if (SUCCEEDED(sensor->GetFriendlyName(&name)) && name) record->friendlyName.Assign(name);
    SysFreeString(name);
    sensor->GetCategory(&record->category);
    sensor->GetID(&record->id);
    record->sink = new (std::nothrow) SensorEventSink(record);
    if (record->sink) {
        sensor->SetEventSink(record->sink);
        sensor->SetEventInterest(nullptr, 0);
    }
    m_sensors.Append(record);
}

int SensorManager::AddArrivedSensors()
{
    if (!m_platform) return 0;
    std::vector<GUID> known;
    {
        ListLock lock(m_sensors);
        for (SensorRecord* record = m_sensors.First(); record; record = Next(record))
            if (!record->Left()) known.push_back(record->id);
    }
    ISensorCollection* collection = nullptr;
    ULONG count = 0;
    int added = 0;
    if (SUCCEEDED(m_platform->GetSensorsByCategory(CategoryAll, &collection)) && collection &&
        SUCCEEDED(collection->GetCount(&count))) {
        for (ULONG i = 0; i < count; i++) {
            ISensor* sensor = nullptr;
            if (FAILED(collection->GetAt(i, &sensor)) || !sensor) continue;
            GUID id = GUID_NULL;
            sensor->GetID(&id);
            bool seen = false;
            for (const GUID& other : known) seen = seen || IsEqualGUID(other, id);
            if (!seen) {
                AddRecord(sensor);
                known.push_back(id);
                added++;
            }
            sensor->Release();
        }
    }
    if (collection) collection->Release();
    return added;
}

SensorField* SensorManager::ReadFields(SensorRecord* record, ISensorDataReport* report)
{
    if (!record) return nullptr;
    ListLock lock(record->fields);
    if (report) {
        report->AddRef();
    } else {
        if (ISensorDataReport* kept = record->TakeReport()) kept->Release();  // older than what is fetched now
        if (!record->sensor || FAILED(record->sensor->GetData(&report)) || !report) {
            record->fields.Clear();
            return nullptr;
        }
    }
    // The fields are rebuilt in place: a sensor reports the same values with every event,
    // and reusing the field objects spares the allocator.
    SensorField* reuse = record->fields.First();
    IPortableDeviceValues* values = nullptr;
    DWORD count = 0;
    if (SUCCEEDED(report->GetSensorValues(nullptr, &values)) && values && SUCCEEDED(values->GetCount(&count))) {
        for (DWORD i = 0; i < count; i++) {
            PROPVARIANT value;
            PropVariantInit(&value);
            PROPERTYKEY key;
            if (FAILED(values->GetAt(i, &key, &value))) continue;
            SensorField* field = reuse;
            if (field) {
                reuse = LockedList<SensorField>::Next(reuse);
            } else if (!(field = new (std::nothrow) SensorField())) {
                PropVariantClear(&value);
                continue;
            } else {
                record->fields.Append(field);
            }
            field->key = key;
            m_names.Name(key, field->name);
            try {
                FormatValue(value, field->value, field->valueText);
            } catch (const ValueConversionError&) {
                field->valueText.Clear();
            }
            PropVariantClear(&value);
        }
    }
    // Fields beyond this report's values go.
    while (reuse) {
        SensorField* next = LockedList<SensorField>::Next(reuse);
        record->fields.Remove(reuse);
        delete reuse;
        reuse = next;
    }
    if (values) values->Release();
    report->Release();
    return record->fields.First();
}

SensorField* SensorManager::CurrentFields(SensorRecord* record)
{
    if (!record) return nullptr;
    ListLock lock(record->fields);
    ISensorDataReport* report = record->TakeReport();
    if (!report) return record->fields.First();
    SensorField* first = ReadFields(record, report);
    report->Release();
    return first;
}

void SensorManager::ReleaseSensors()
{
    if (m_platform) {
        m_platform->Release();
        m_platform = nullptr;
    }
    if (m_managerSink) {
        m_managerSink->Detach();
        m_managerSink->Release();
        m_managerSink = nullptr;
    }
    m_sensors.Clear();
}
