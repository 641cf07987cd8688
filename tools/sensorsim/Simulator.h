// The simulated sensor platform: the sensor manager, collections, sensors and data
// reports, and the engine that drives them from a scenario on threads of its own.
#pragma once

#include <windows.h>
#include <sensorsapi.h>
#include <sensors.h>

#include <string>
#include <vector>

#include "ComBase.h"
#include "Scenario.h"
#include "ValueStore.h"

class SensorObject;
class ManagerObject;

// One scenario sensor's live state, shared by every ISensor object that stands for it.
struct SensorModel {
    SensorDefinition definition;
    int index;
    volatile LONG present;
    volatile LONG state;
    volatile LONG reports;          // reports made so far (drives counters)
    std::vector<double> walk;       // current value of each random-walk value
    unsigned long long seed;
    CRITICAL_SECTION lock;          // guards walk, seed, subscribers and latest
    std::vector<SensorObject*> subscribers;  // objects with a sink; not counted
    std::vector<ValueDefinition> properties;  // the scenario's, as changed since; guarded by lock
    volatile LONG interval;         // current report interval in milliseconds; 0 for none
    volatile LONG propertyChanged;  // a property change waits to be reported
    DWORD minimum;                  // the smallest interval a client may ask for
    HANDLE wake;                    // tells the sensor's thread of a new interval or change
    HANDLE thread;
    // The report of the latest data event, which GetData answers while the sensor reports
    // on its own; guarded by lock.
    ISensorDataReport* latest;
};

class Engine {
public:
    static Engine& Instance();

    // Called before a manager is created: loads the scenario (again) when no simulator
    // object is alive, and starts the threads.
    void Prepare();
    void AddManager(ManagerObject* manager);
    void RemoveManager(ManagerObject* manager);
    size_t ModelCount() const { return m_models.size(); }
    SensorModel* Model(size_t index) { return m_models[index]; }
    const std::wstring& ScenarioError() const { return m_error; }

    // A data report of a model's values at this moment.
    HRESULT MakeReport(SensorModel* model, ISensorDataReport** report);
    // What GetData answers: the latest data event's report, or a new one.
    HRESULT CurrentReport(SensorModel* model, ISensorDataReport** report);
    // Keeps `report` (or none) as the sensor's latest reading.
    void KeepLatest(SensorModel* model, ISensorDataReport* report);
    double ElapsedMilliseconds() const;

    void Subscribe(SensorModel* model, SensorObject* sensor);
    void Unsubscribe(SensorModel* model, SensorObject* sensor);
    // A client or the timeline changed a property: the sensor's thread reports it.
    void PropertyChanged(SensorModel* model);

private:
    Engine();
    void Stop();
    void Load();
    static DWORD WINAPI ModelThread(void* parameter);
    static DWORD WINAPI TimelineThread(void* parameter);
    void RunTimeline();
    void RunModel(SensorModel* model);
    std::vector<SensorObject*> Subscribers(SensorModel* model);
    std::vector<ManagerObject*> Managers();

    CRITICAL_SECTION m_reloadLock;  // serialises loading against itself
    CRITICAL_SECTION m_lock;        // guards the manager list
    bool m_loaded;
    Scenario m_scenario;
    std::wstring m_error;
    std::vector<SensorModel*> m_models;
    std::vector<ManagerObject*> m_managers;  // not counted
    HANDLE m_stop;
    HANDLE m_timeline;
    LARGE_INTEGER m_start;
    LARGE_INTEGER m_frequency;
};

class SensorObject : public ComObject<ISensor, &IID_ISensor> {
public:
    explicit SensorObject(SensorModel* model);
    ~SensorObject() override;

    SensorModel* Model() const { return m_model; }
    void DeliverData(ISensorDataReport* report);
    void DeliverState(int state);
    void DeliverEvent(REFGUID event, IPortableDeviceValues* values);
    void DeliverLeave();

    HRESULT STDMETHODCALLTYPE GetID(SENSOR_ID* id) override;
    HRESULT STDMETHODCALLTYPE GetCategory(SENSOR_CATEGORY_ID* category) override;
    HRESULT STDMETHODCALLTYPE GetType(SENSOR_TYPE_ID* type) override;
    HRESULT STDMETHODCALLTYPE GetFriendlyName(BSTR* name) override;
    HRESULT STDMETHODCALLTYPE GetProperty(REFPROPERTYKEY key, PROPVARIANT* value) override;
    HRESULT STDMETHODCALLTYPE GetProperties(IPortableDeviceKeyCollection* keys,
                                            IPortableDeviceValues** values) override;
    HRESULT STDMETHODCALLTYPE GetSupportedDataFields(IPortableDeviceKeyCollection** fields) override;
    HRESULT STDMETHODCALLTYPE SetProperties(IPortableDeviceValues* values, IPortableDeviceValues** results) override;
    HRESULT STDMETHODCALLTYPE SupportsDataField(REFPROPERTYKEY key, VARIANT_BOOL* supported) override;
    HRESULT STDMETHODCALLTYPE GetState(SensorState* state) override;
    HRESULT STDMETHODCALLTYPE GetData(ISensorDataReport** report) override;
    HRESULT STDMETHODCALLTYPE SupportsEvent(REFGUID event, VARIANT_BOOL* supported) override;
    HRESULT STDMETHODCALLTYPE GetEventInterest(GUID** events, ULONG* count) override;
    HRESULT STDMETHODCALLTYPE SetEventInterest(GUID* events, ULONG count) override;
    HRESULT STDMETHODCALLTYPE SetEventSink(ISensorEvents* sink) override;

private:
    ISensorEvents* TakeSink();
    HRESULT AllProperties(ValueStore* store);

    SensorModel* m_model;
    CRITICAL_SECTION m_lock;  // guards the sink and the interest list
    ISensorEvents* m_sink;
    std::vector<GUID> m_interest;
};

class SensorCollection : public ComObject<ISensorCollection, &IID_ISensorCollection> {
public:
    ~SensorCollection() override;
    // Takes a reference of its own.
    void Append(ISensor* sensor, bool failAt);

    HRESULT STDMETHODCALLTYPE GetAt(ULONG index, ISensor** sensor) override;
    HRESULT STDMETHODCALLTYPE GetCount(ULONG* count) override;
    HRESULT STDMETHODCALLTYPE Add(ISensor* sensor) override;
    HRESULT STDMETHODCALLTYPE Remove(ISensor* sensor) override;
    HRESULT STDMETHODCALLTYPE RemoveByID(REFSENSOR_ID id) override;
    HRESULT STDMETHODCALLTYPE Clear() override;

private:
    struct Item {
        ISensor* sensor;
        bool failAt;
    };
    std::vector<Item> m_items;
};

class DataReport : public ComObject<ISensorDataReport, &IID_ISensorDataReport> {
public:
    DataReport(const SYSTEMTIME& time, ValueStore* values);  // takes over the store's reference
    ~DataReport() override;

    HRESULT STDMETHODCALLTYPE GetTimestamp(SYSTEMTIME* time) override;
    HRESULT STDMETHODCALLTYPE GetSensorValue(REFPROPERTYKEY key, PROPVARIANT* value) override;
    HRESULT STDMETHODCALLTYPE GetSensorValues(IPortableDeviceKeyCollection* keys,
                                              IPortableDeviceValues** values) override;

private:
    SYSTEMTIME m_time;
    ValueStore* m_values;
};

class ManagerObject : public ComObject<ISensorManager, &IID_ISensorManager> {
public:
    ManagerObject();
    ~ManagerObject() override;

    // This manager's object for a model, with a reference for the caller.
    SensorObject* SensorFor(SensorModel* model);
    void DeliverEnter(SensorModel* model);

    HRESULT STDMETHODCALLTYPE GetSensorsByCategory(REFSENSOR_CATEGORY_ID category,
                                                   ISensorCollection** found) override;
    HRESULT STDMETHODCALLTYPE GetSensorsByType(REFSENSOR_TYPE_ID type, ISensorCollection** found) override;
    HRESULT STDMETHODCALLTYPE GetSensorByID(REFSENSOR_ID id, ISensor** sensor) override;
    HRESULT STDMETHODCALLTYPE SetEventSink(ISensorManagerEvents* sink) override;
    HRESULT STDMETHODCALLTYPE RequestPermissions(HWND parent, ISensorCollection* sensors, WINBOOL modal) override;

private:
    template <class Match>
    HRESULT Collect(Match match, ISensorCollection** found);

    CRITICAL_SECTION m_lock;  // guards the sink and the sensor objects
    ISensorManagerEvents* m_sink;
    std::vector<SensorObject*> m_sensors;  // one per model, made on first use; counted
};
