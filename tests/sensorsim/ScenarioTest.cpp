// The simulator's scenario reader.
#include <gtest/gtest.h>

#include <windows.h>
#include <propsys.h>
#include <sensors.h>

#include "Scenario.h"
#include "harness/Harness.h"

namespace {

std::wstring Error(const wchar_t* text)
{
    Scenario scenario;
    std::wstring error;
    EXPECT_EQ(0, scenario.Parse(text, error)) << text;
    EXPECT_TRUE(scenario.sensors.empty()) << "a failed parse leaves nothing half-read";
    return error;
}

}  // namespace

TEST(Scenario, ReadsSensorsValuesAndTimeline)
{
    const wchar_t* text =
        L"# comment\r\n"
        L"sensor {11111111-2222-3333-4444-555555555555}\r\n"
        L"  category SENSOR_CATEGORY_MOTION\n"
        L"  type {AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}\n"
        L"  name \"Two  Words\"\n"
        L"  state initializing\n"
        L"  interval 25\n"
        L"  value SENSOR_DATA_TYPE_ACCELERATION_X_G r8 sine 2 1000 0.5\n"
        L"  value {01020304-0506-0708-090A-0B0C0D0E0F10},77 lpwstr const \"hello world\" fault\n"
        L"  value SENSOR_DATA_TYPE_QUATERNION r8[] const 1,2.5,-3\n"
        L"  value SENSOR_DATA_TYPE_TIMESTAMP filetime now\n"
        L"  value SENSOR_DATA_TYPE_CUSTOM_VALUE1 empty\n"
        L"sensor {11111111-2222-3333-4444-555555555556} absent\n"
        L"  name fail\n"
        L"  fault getdata\n"
        L"  fault index\n"
        L"at 900 leave {11111111-2222-3333-4444-555555555555}\n"
        L"at 100 enter {11111111-2222-3333-4444-555555555556}\n"
        L"at 100 state {11111111-2222-3333-4444-555555555556} 17\n"
        L"at 50 event {11111111-2222-3333-4444-555555555555} SENSOR_EVENT_ACCELEROMETER_SHAKE\n";
    Scenario scenario;
    std::wstring error;
    ASSERT_EQ(1, scenario.Parse(text, error)) << error;
    ASSERT_EQ(2u, scenario.sensors.size());

    const SensorDefinition& first = scenario.sensors[0];
    EXPECT_TRUE(IsEqualGUID(SENSOR_CATEGORY_MOTION, first.category));
    EXPECT_EQ(0xAAAAAAAAu, first.type.Data1);
    EXPECT_EQ(NameKind::Text, first.nameKind);
    EXPECT_EQ(L"Two  Words", first.name);
    EXPECT_EQ(3, first.state);
    EXPECT_EQ(25u, first.interval);
    EXPECT_TRUE(first.present);
    ASSERT_EQ(5u, first.values.size());
    EXPECT_EQ(Generator::Sine, first.values[0].generator);
    EXPECT_EQ(2.0, first.values[0].amplitude);
    EXPECT_EQ(1000.0, first.values[0].period);
    EXPECT_EQ(0.5, first.values[0].number);
    EXPECT_EQ(77u, first.values[1].key.pid);
    EXPECT_EQ(0x01020304u, first.values[1].key.fmtid.Data1);
    EXPECT_EQ(L"hello world", first.values[1].text);
    EXPECT_TRUE(first.values[1].failAt);
    EXPECT_EQ((VARTYPE)(VT_VECTOR | VT_R8), first.values[2].type);
    EXPECT_EQ((std::vector<double>{1, 2.5, -3}), first.values[2].elements);
    EXPECT_EQ(Generator::Now, first.values[3].generator);
    EXPECT_EQ((VARTYPE)VT_EMPTY, first.values[4].type);

    const SensorDefinition& second = scenario.sensors[1];
    EXPECT_FALSE(second.present);
    EXPECT_EQ(NameKind::Fail, second.nameKind);
    EXPECT_TRUE(second.failGetData);
    EXPECT_TRUE(second.failCollectionIndex);

    ASSERT_EQ(4u, scenario.timeline.size());
    EXPECT_EQ(TimelineKind::Event, scenario.timeline[0].kind);
    EXPECT_TRUE(IsEqualGUID(SENSOR_EVENT_ACCELEROMETER_SHAKE, scenario.timeline[0].event));
    EXPECT_EQ(TimelineKind::Enter, scenario.timeline[1].kind) << "equal times keep their order";
    EXPECT_EQ(TimelineKind::State, scenario.timeline[2].kind);
    EXPECT_EQ(17, scenario.timeline[2].state);
    EXPECT_EQ(1, scenario.timeline[2].sensor);
    EXPECT_EQ(TimelineKind::Leave, scenario.timeline[3].kind);
    EXPECT_EQ(900u, scenario.timeline[3].at);
}

TEST(Scenario, RejectsBadInputWithTheLine)
{
    const wchar_t* sensor = L"sensor {11111111-2222-3333-4444-555555555555}\n";
    struct Case {
        std::wstring text;
        const wchar_t* expected;
    } cases[] = {
        {L"value SENSOR_DATA_TYPE_TIMESTAMP filetime now", L"line 1: value outside a sensor block"},
        {L"sensor {1111-2222}", L"line 1: not a GUID: {1111-2222}"},
        {std::wstring(sensor) + sensor, L"line 2: sensor defined twice"},
        {std::wstring(sensor) + L"name \"open", L"line 2: unclosed quote"},
        {std::wstring(sensor) + L"state sleepy", L"line 2: unknown state"},
        {std::wstring(sensor) + L"interval -5", L"line 2: interval <milliseconds>"},
        {std::wstring(sensor) + L"interval 1.5", L"line 2: interval <milliseconds>"},
        {std::wstring(sensor) + L"category SENSOR_CATEGORY_NOPE", L"line 2: category needs a GUID"},
        {std::wstring(sensor) + L"value NOT_A_KEY r8 const 1", L"line 2: unknown property key NOT_A_KEY"},
        {std::wstring(sensor) + L"value SENSOR_DATA_TYPE_TIMESTAMP r16 const 1", L"line 2: unknown value type r16"},
        {std::wstring(sensor) + L"value SENSOR_DATA_TYPE_TIMESTAMP r8 const x1", L"line 2: not a number: x1"},
        {std::wstring(sensor) + L"value SENSOR_DATA_TYPE_TIMESTAMP r8 sine 1 0", L"line 2: the period must be positive"},
        {std::wstring(sensor) + L"value SENSOR_DATA_TYPE_TIMESTAMP lpwstr sine 1 10", L"line 2: sine makes numbers only"},
        {std::wstring(sensor) + L"value SENSOR_DATA_TYPE_TIMESTAMP r8 now", L"line 2: now makes file times and texts only"},
        {std::wstring(sensor) + L"value SENSOR_DATA_TYPE_TIMESTAMP r8[] const 1,,2", L"line 2: not a number list"},
        {std::wstring(sensor) + L"value SENSOR_DATA_TYPE_TIMESTAMP empty const 1", L"line 2: an empty value takes no generator"},
        {std::wstring(sensor) + L"value {11111111-2222-3333-4444-555555555555},x r8 const 1", L"line 2: unknown property key"},
        {std::wstring(sensor) + L"\n\nat 10 leave {99999999-2222-3333-4444-555555555555}", L"line 4: no such sensor"},
        {std::wstring(sensor) + L"at 10 explode {11111111-2222-3333-4444-555555555555}", L"line 2: unknown timeline entry explode"},
        {std::wstring(sensor) + L"at 10 state {11111111-2222-3333-4444-555555555555}", L"line 2: state needs a sensor state"},
        {std::wstring(sensor) + L"frobnicate 1", L"line 2: unknown keyword frobnicate"},
        {std::wstring(sensor) + L"property SENSOR_PROPERTY_MODEL", L"line 2: property <key> <type>"},
        {std::wstring(sensor) + L"property SENSOR_PROPERTY_MODEL lpwstr", L"line 2: value needs a generator"},
        {std::wstring(sensor) + L"property SENSOR_PROPERTY_MODEL lpwstr \"a\" \"b\"", L"line 2: property <key>"},
        {std::wstring(sensor) + L"property SENSOR_PROPERTY_MODEL lpwstr a\nproperty SENSOR_PROPERTY_MODEL lpwstr b",
         L"line 3: property given twice"},
        {std::wstring(sensor) + L"at 10 property {11111111-2222-3333-4444-555555555555} SENSOR_PROPERTY_ACCURACY 1",
         L"line 2: the sensor has no property SENSOR_PROPERTY_ACCURACY"},
        {std::wstring(sensor) + L"at 10 property {11111111-2222-3333-4444-555555555555} SENSOR_PROPERTY_MODEL",
         L"line 2: property <sensor> <key> <value>"},
        {std::wstring(sensor) + L"at 10 property {11111111-2222-3333-4444-555555555555} "
                                L"SENSOR_PROPERTY_MIN_REPORT_INTERVAL fast",
         L"line 2: not a number: fast"},
    };
    for (const Case& c : cases) {
        std::wstring error = Error(c.text.c_str());
        EXPECT_EQ(0u, error.find(c.expected)) << "got: " << std::string(error.begin(), error.end());
    }
}

TEST(Scenario, SmallParsers)
{
    GUID guid;
    EXPECT_EQ(1, ParseGuidText(L"{C317C286-C468-4288-9975-D4C4587C442C}", guid));
    EXPECT_TRUE(IsEqualGUID(SENSOR_CATEGORY_ALL, guid));
    EXPECT_EQ(0, ParseGuidText(L"C317C286-C468-4288-9975-D4C4587C442C", guid));
    EXPECT_EQ(0, ParseGuidText(L"{C317C286-C468-4288-9975-D4C4587C442G}", guid));
    PROPERTYKEY key;
    EXPECT_EQ(1, ParseKeyText(L"SENSOR_DATA_TYPE_LATITUDE_DEGREES", key));
    EXPECT_TRUE(IsEqualGUID(SENSOR_DATA_TYPE_LATITUDE_DEGREES.fmtid, key.fmtid));
    EXPECT_EQ(SENSOR_DATA_TYPE_LATITUDE_DEGREES.pid, key.pid);
    EXPECT_EQ(1, ParseKeyText(L"{C317C286-C468-4288-9975-D4C4587C442C},4294967295", key));
    EXPECT_EQ(0xFFFFFFFFu, key.pid);
    EXPECT_EQ(0, ParseKeyText(L"{C317C286-C468-4288-9975-D4C4587C442C},4294967296", key));
    int state = -1;
    EXPECT_EQ(1, ParseStateText(L"access-denied", state));
    EXPECT_EQ(4, state);
    EXPECT_EQ(1, ParseStateText(L"99", state));
    EXPECT_EQ(0, ParseStateText(L"-1", state));
}

TEST(Scenario, BuiltInDemoIsValidAndCoversEveryCategory)
{
    std::string bytes = harness::ReadFileBytes(harness::SourceDir() + L"tools\\sensorsim\\demo.scenario");
    ASSERT_FALSE(bytes.empty());
    Scenario scenario;
    std::wstring error;
    ASSERT_EQ(1, scenario.Parse(std::wstring(bytes.begin(), bytes.end()), error)) << std::string(error.begin(), error.end());
    const GUID* categories[] = {&SENSOR_CATEGORY_MOTION,        &SENSOR_CATEGORY_ORIENTATION, &SENSOR_CATEGORY_LOCATION,
                                &SENSOR_CATEGORY_LIGHT,         &SENSOR_CATEGORY_ENVIRONMENTAL,
                                &SENSOR_CATEGORY_BIOMETRIC,     &SENSOR_CATEGORY_ELECTRICAL,  &SENSOR_CATEGORY_OTHER};
    for (const GUID* category : categories) {
        bool found = false;
        for (const SensorDefinition& sensor : scenario.sensors) found |= IsEqualGUID(sensor.category, *category) != 0;
        EXPECT_TRUE(found);
    }
    bool arrives = false, leaves = false, failing = false, empty = false;
    for (const TimelineEntry& entry : scenario.timeline) {
        arrives |= entry.kind == TimelineKind::Enter && entry.at < 60000;
        leaves |= entry.kind == TimelineKind::Leave && entry.at < 60000;
    }
    for (const SensorDefinition& sensor : scenario.sensors) {
        failing |= sensor.failGetData;
        empty |= sensor.values.empty() && !sensor.failGetData;
    }
    EXPECT_TRUE(arrives && leaves && failing && empty);
}
