// The program's door to the platform's sensor service: the sensors, their current values,
// and the event sinks through which the platform reports.
#pragma once

#include <windows.h>
#include <sensorsapi.h>

#include <utility>
#include <vector>

#include "common/ComApartment.h"
#include "common/LockedList.h"
#include "common/WideString.h"
#include "platform/KernelObjects.h"

class SensorManager;
class SensorEventSink;
class ManagerEventSink;

enum SensorEventKind {
    DataUpdated = 0,
    SensorEntered = 1,
    SensorEvent = 3,
    StateChanged = 4,
};

class SensorRecord;
typedef int (*SensorCallback)(int kind, SensorRecord* record, UINT_PTR userData);
// Sees every data report as it arrives, on the platform's thread, before the record keeps it.
typedef void (*ReportObserver)(SensorRecord* record, ISensorDataReport* report, void* user);

// One data value of a sensor.
class SensorField : public LockedListItem {
public:
    SensorField();
    ~SensorField() override;

    PROPERTYKEY key;
    WideString name;
    VARIANT value;
    WideString valueText;
};

// One sensor. Its lifetime is shared: the sensor list holds one reference and the sensor's
// event sink another, so that an event call still running on a platform thread never
// finds the record gone.
class SensorRecord : public LockedListItem {
public:
    explicit SensorRecord(SensorManager* owner);

    void AddRef() { InterlockedIncrement(&m_references); }
    void Release();
    // The list lets go: the sink is detached and the sensor released.
    void Discard() override;
    bool Closed() const { return m_closed != 0; }
    // The sensor told that it left; a sensor of the same ID that comes back is a new one.
    void MarkLeft() { InterlockedExchange(&m_left, 1); }
    bool Left() const { return m_left != 0; }

    void Lock() { fields.Lock(); }
    void Unlock() { fields.Unlock(); }

    LockedList<SensorField> fields;
    SensorManager* owner;
    ISensor* sensor;
    WideString friendlyName;
    GUID category;
    GUID id;
    SensorEventSink* sink;

    // Records alive in the process (for leak checks).
    static LONG LiveCount();

    // The latest report of a data event, kept until the fields are asked for: a sensor may
    // report a thousand times a second, and its values are only turned into names and texts
    // when someone reads them. Keeping one takes no lock; the previous report is released.
    void KeepReport(ISensorDataReport* report);
    // Answers the kept report (the caller releases it) and forgets it; null when none.
    ISensorDataReport* TakeReport();


private:
    ~SensorRecord() override;

    volatile LONG m_references;
    volatile LONG m_closed;
    volatile LONG m_left;
    ISensorDataReport* volatile m_latestReport;
};

// Display names of property keys, each made once: every rebuild makes new records, and the
// same keys come back with each of them. Safe to use from several threads.
class KeyNameCache {
public:
    KeyNameCache() { m_lock.Initialise(); }
    KeyNameCache(const KeyNameCache&) = delete;
    KeyNameCache& operator=(const KeyNameCache&) = delete;

    // The display name of `key` into `name`.
    void Name(const PROPERTYKEY& key, WideString& name);
    size_t Size() const { return m_entries.size(); }

private:
    // Beyond this many distinct keys names are made afresh each time (a sensor that
    // invents keys cannot grow the cache without end).
    static const size_t MaxNames = 4096;
    static size_t Hash(const PROPERTYKEY& key);
    void Rehash(size_t slots);

    CriticalSectionHolder m_lock;
    std::vector<std::pair<PROPERTYKEY, WideString>> m_entries;
    std::vector<int> m_slots;  // indexes into m_entries, -1 free; a power of two in size
};

class SensorManager {
public:
    SensorManager();
    ~SensorManager();
    SensorManager(const SensorManager&) = delete;
    SensorManager& operator=(const SensorManager&) = delete;

    void SetCallback(SensorCallback callback, UINT_PTR userData);
    // Set before the sensors are enumerated, by an observer that outlives them.
    void SetReportObserver(ReportObserver observer, void* user);
    void ObserveReport(SensorRecord* record, ISensorDataReport* report)
    {
        ReportObserver observer = m_observer;
        if (observer) observer(record, report, m_observerUser);
    }
    // The display name of a key, as the tree shows it; safe from any thread.
    void KeyName(const PROPERTYKEY& key, WideString& name) { m_names.Name(key, name); }
    KeyNameCache& KeyNames() { return m_names; }
    // Rebuilds the sensor list; answers its first record or null.
    SensorRecord* EnumerateSensors();
    // Adds records for the platform's sensors that no record of the list stands for (one
    // whose sensor left does not), keeping the others and their event sinks: a client that
    // must see every report (a recording) uses it when a sensor arrives, instead of
    // enumerating anew. Answers how many were added.
    int AddArrivedSensors();
    // Rebuilds a record's values from a report, or from the sensor's current data when
    // `report` is null; answers the first field or null.
    SensorField* ReadFields(SensorRecord* record, ISensorDataReport* report);
    // The record's fields as its latest data event left them: a report kept since the last
    // read is read first. Answers the first field or null.
    SensorField* CurrentFields(SensorRecord* record);
    static SensorRecord* Next(SensorRecord* record) { return LockedList<SensorRecord>::Next(record); }
    void ReleaseSensors();

    // Hands an event to the registered callback.
    void Notify(int kind, SensorRecord* record);
    bool HasPlatformManager() const { return m_platform != nullptr; }
    LockedList<SensorRecord>& Sensors() { return m_sensors; }

private:
    // Appends a record for `sensor` with its event sink.
    void AddRecord(ISensor* sensor);

    LockedList<SensorRecord> m_sensors;
    KeyNameCache m_names;
    ComApartment m_apartment;
    ISensorManager* m_platform;
    ManagerEventSink* m_managerSink;
    SensorCallback m_callback;
    UINT_PTR m_userData;
    ReportObserver volatile m_observer;
    void* volatile m_observerUser;
};
