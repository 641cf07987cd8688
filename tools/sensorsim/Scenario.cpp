#include "Scenario.h"

#include <stdlib.h>
#include <wchar.h>

#include <algorithm>

#include "sensors/PropertyKeyNames.h"

namespace {

// Splits a line into blank-separated words; double quotes keep blanks in one word.
bool SplitWords(const std::wstring& line, std::vector<std::wstring>& words)
{
    words.clear();
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && iswspace(line[i])) i++;
        if (i >= line.size()) break;
        std::wstring word;
        if (line[i] == L'"') {
            size_t end = line.find(L'"', i + 1);
            if (end == std::wstring::npos) return false;
            word = line.substr(i + 1, end - i - 1);
            i = end + 1;
            words.push_back(word);
            words.back().insert(0, 1, L'\x1');  // marks a quoted word
            continue;
        }
        while (i < line.size() && !iswspace(line[i])) word += line[i++];
        words.push_back(word);
    }
    return true;
}

bool IsQuoted(const std::wstring& word)
{
    return !word.empty() && word[0] == L'\x1';
}

std::wstring Unquoted(const std::wstring& word)
{
    return IsQuoted(word) ? word.substr(1) : word;
}

bool ParseNumber(const std::wstring& text, double& value)
{
    if (text.empty()) return false;
    wchar_t* end = nullptr;
    value = wcstod(text.c_str(), &end);
    return end && *end == L'\0';
}

bool ParseUnsigned(const std::wstring& text, DWORD& value)
{
    double number;
    if (!ParseNumber(text, number) || number < 0 || number > 4294967295.0 || number != (DWORD)number) return false;
    value = (DWORD)number;
    return true;
}

bool ParseNamedGuid(const std::wstring& text, GUID& guid)
{
    if (ParseGuidText(text, guid)) return true;
    return GuidByName(text.c_str(), guid);
}

struct TypeName {
    const wchar_t* name;
    VARTYPE type;
};

const TypeName TypeNames[] = {
    {L"r4", VT_R4},
    {L"r8", VT_R8},
    {L"lpwstr", VT_LPWSTR},
    {L"i4", VT_I4},
    {L"ui4", VT_UI4},
    {L"bool", VT_BOOL},
    {L"error", VT_ERROR},
    {L"filetime", VT_FILETIME},
    {L"clsid", VT_CLSID},
    {L"empty", VT_EMPTY},
    {L"ui1[]", VT_VECTOR | VT_UI1},
    {L"r8[]", VT_VECTOR | VT_R8},
    {L"ui4[]", VT_VECTOR | VT_UI4},
};

bool IsNumeric(VARTYPE type)
{
    return type == VT_R4 || type == VT_R8 || type == VT_I4 || type == VT_UI4 || type == VT_BOOL || type == VT_ERROR;
}

bool ParseValue(const std::vector<std::wstring>& words, ValueDefinition& value, std::wstring& error)
{
    // value <key> <type> <generator> [arguments] [fault]
    value = ValueDefinition();
    value.generator = Generator::Constant;
    value.number = value.amplitude = value.period = 0;
    value.guid = GUID_NULL;
    value.failAt = false;
    std::vector<std::wstring> rest(words.begin() + 1, words.end());
    if (!rest.empty() && rest.back() == L"fault") {
        value.failAt = true;
        rest.pop_back();
    }
    if (rest.size() < 2) {
        error = L"value needs a key and a type";
        return false;
    }
    if (!ParseKeyText(rest[0], value.key)) {
        error = L"unknown property key " + rest[0];
        return false;
    }
    bool typed = false;
    for (const TypeName& t : TypeNames)
        if (rest[1] == t.name) {
            value.type = t.type;
            typed = true;
        }
    if (!typed) {
        error = L"unknown value type " + rest[1];
        return false;
    }
    if (value.type == VT_EMPTY) {
        if (rest.size() != 2) error = L"an empty value takes no generator";
        return rest.size() == 2;
    }
    if (rest.size() < 3) {
        error = L"value needs a generator";
        return false;
    }
    const std::wstring& generator = rest[2];
    size_t arguments = rest.size() - 3;
    auto number = [&](size_t i, double& out) {
        if (ParseNumber(Unquoted(rest[3 + i]), out)) return true;
        error = L"not a number: " + Unquoted(rest[3 + i]);
        return false;
    };
    if (generator == L"now") {
        if (value.type != VT_FILETIME && value.type != VT_LPWSTR) {
            error = L"now makes file times and texts only";
            return false;
        }
        value.generator = Generator::Now;
        return arguments == 0 || (error = L"now takes no arguments", false);
    }
    if (generator == L"const") {
        if (arguments != 1) {
            error = L"const takes one argument";
            return false;
        }
        std::wstring argument = Unquoted(rest[3]);
        if (value.type == VT_LPWSTR) {
            value.text = argument;
            return true;
        }
        if (value.type == VT_CLSID) {
            if (ParseNamedGuid(argument, value.guid)) return true;
            error = L"not a GUID: " + argument;
            return false;
        }
        if (value.type & VT_VECTOR) {
            size_t start = 0;
            while (start <= argument.size()) {
                size_t comma = argument.find(L',', start);
                std::wstring piece = argument.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start);
                double element;
                if (!ParseNumber(piece, element)) {
                    error = L"not a number list: " + argument;
                    return false;
                }
                value.elements.push_back(element);
                if (comma == std::wstring::npos) break;
                start = comma + 1;
            }
            return true;
        }
        return number(0, value.number);
    }
    if (!IsNumeric(value.type)) {
        error = generator + L" makes numbers only";
        return false;
    }
    if (generator == L"sine") {
        if (arguments < 2 || arguments > 3) {
            error = L"sine takes amplitude, period and an optional offset";
            return false;
        }
        value.generator = Generator::Sine;
        if (!number(0, value.amplitude) || !number(1, value.period)) return false;
        if (value.period <= 0) {
            error = L"the period must be positive";
            return false;
        }
        return arguments < 3 || number(2, value.number);
    }
    if (generator == L"walk" || generator == L"counter") {
        if (arguments != 2) {
            error = generator + L" takes a start and a step";
            return false;
        }
        value.generator = generator == L"walk" ? Generator::Walk : Generator::Counter;
        return number(0, value.number) && number(1, value.amplitude);
    }
    error = L"unknown generator " + generator;
    return false;
}

// A timeline's new value for a property of a known type: the same rules as a constant.
bool ParseProperty(const std::wstring& key, VARTYPE type, const std::wstring& text, ValueDefinition& property,
                   std::wstring& error)
{
    static const struct {
        VARTYPE type;
        const wchar_t* name;
    } Names[] = {{VT_R4, L"r4"},       {VT_R8, L"r8"},         {VT_I4, L"i4"},     {VT_UI4, L"ui4"},
                 {VT_BOOL, L"bool"},   {VT_ERROR, L"error"},   {VT_LPWSTR, L"lpwstr"},
                 {VT_FILETIME, L"filetime"}, {VT_CLSID, L"clsid"}};
    for (const auto& name : Names)
        if (name.type == type) return ParseValue({L"value", key, name.name, L"const", text}, property, error);
    error = L"a property of this type cannot change: " + key;
    return false;
}

}  // namespace

VARTYPE DefaultPropertyType(const PROPERTYKEY& key)
{
    static const wchar_t* const Texts[] = {L"SENSOR_PROPERTY_MANUFACTURER", L"SENSOR_PROPERTY_MODEL",
                                           L"SENSOR_PROPERTY_SERIAL_NUMBER"};
    static const wchar_t* const Numbers[] = {L"SENSOR_PROPERTY_MIN_REPORT_INTERVAL",
                                             L"SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL"};
    PROPERTYKEY known;
    for (const wchar_t* name : Texts)
        if (KeyByName(name, known) && SameKey(known, key)) return VT_LPWSTR;
    for (const wchar_t* name : Numbers)
        if (KeyByName(name, known) && SameKey(known, key)) return VT_UI4;
    return VT_EMPTY;
}

int ParseGuidText(const std::wstring& text, GUID& guid)
{
    if (text.size() != 38 || text[0] != L'{' || text[37] != L'}') return 0;
    for (size_t i = 1; i < 37; i++) {
        bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? text[i] != L'-' : !iswxdigit(text[i])) return 0;
    }
    std::vector<wchar_t> copy(text.begin(), text.end());
    copy.push_back(L'\0');
    return SUCCEEDED(CLSIDFromString(copy.data(), &guid)) ? 1 : 0;
}

int ParseKeyText(const std::wstring& text, PROPERTYKEY& key)
{
    if (KeyByName(text.c_str(), key)) return 1;
    size_t comma = text.find(L',');
    if (comma == std::wstring::npos) return 0;
    DWORD pid;
    if (!ParseGuidText(text.substr(0, comma), key.fmtid) || !ParseUnsigned(text.substr(comma + 1), pid)) return 0;
    key.pid = pid;
    return 1;
}

int ParseStateText(const std::wstring& text, int& state)
{
    static const wchar_t* const Names[] = {L"ready", L"not-available", L"no-data",
                                           L"initializing", L"access-denied", L"error"};
    for (int i = 0; i < 6; i++)
        if (text == Names[i]) {
            state = i;
            return 1;
        }
    DWORD number;
    if (!ParseUnsigned(text, number) || number > 0x7FFFFFFF) return 0;
    state = (int)number;
    return 1;
}

int Scenario::FindSensor(const GUID& id) const
{
    for (size_t i = 0; i < sensors.size(); i++)
        if (IsEqualGUID(sensors[i].id, id)) return (int)i;
    return -1;
}

int Scenario::Parse(const std::wstring& text, std::wstring& error)
{
    sensors.clear();
    timeline.clear();
    error.clear();
    size_t start = 0;
    int lineNumber = 0;
    SensorDefinition* current = nullptr;
    auto fail = [&](const std::wstring& why) {
        wchar_t prefix[32];
        swprintf(prefix, 32, L"line %d: ", lineNumber);
        error = prefix + why;
        sensors.clear();
        timeline.clear();
        return 0;
    };
    while (start <= text.size()) {
        size_t end = text.find(L'\n', start);
        std::wstring line = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        start = end == std::wstring::npos ? text.size() + 1 : end + 1;
        lineNumber++;
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        size_t first = line.find_first_not_of(L" \t");
        if (first == std::wstring::npos || line[first] == L'#') continue;
        std::vector<std::wstring> words;
        if (!SplitWords(line, words)) return fail(L"unclosed quote");
        const std::wstring& keyword = words[0];
        size_t count = words.size();

        if (keyword == L"sensor") {
            if (count < 2 || count > 3 || (count == 3 && words[2] != L"absent")) return fail(L"sensor <id> [absent]");
            SensorDefinition sensor;
            if (!ParseGuidText(words[1], sensor.id)) return fail(L"not a GUID: " + words[1]);
            if (FindSensor(sensor.id) >= 0) return fail(L"sensor defined twice: " + words[1]);
            sensor.category = GUID_NULL;
            sensor.type = GUID_NULL;
            sensor.nameKind = NameKind::None;
            sensor.state = 0;
            sensor.interval = 0;
            sensor.present = count == 2;
            sensor.failGetData = false;
            sensor.failCollectionIndex = false;
            sensor.failProperties = false;
            sensors.push_back(sensor);
            current = &sensors.back();
            continue;
        }
        if (keyword == L"at") {
            // at <ms> <enter|leave|state|event> <sensor id> [state|event]
            TimelineEntry entry;
            entry.state = 0;
            entry.event = GUID_NULL;
            if (count < 4 || !ParseUnsigned(words[1], entry.at)) return fail(L"at <ms> <what> <sensor> [argument]");
            GUID id;
            if (!ParseGuidText(words[3], id) || (entry.sensor = FindSensor(id)) < 0)
                return fail(L"no such sensor: " + words[3]);
            const std::wstring& what = words[2];
            if (what == L"enter" || what == L"leave") {
                if (count != 4) return fail(what + L" takes no argument");
                entry.kind = what == L"enter" ? TimelineKind::Enter : TimelineKind::Leave;
            } else if (what == L"state") {
                if (count != 5 || !ParseStateText(words[4], entry.state)) return fail(L"state needs a sensor state");
                entry.kind = TimelineKind::State;
            } else if (what == L"event") {
                if (count != 5 || !ParseNamedGuid(words[4], entry.event)) return fail(L"event needs an event GUID");
                entry.kind = TimelineKind::Event;
            } else if (what == L"property") {
                // The new value takes the type the sensor's property already has.
                PROPERTYKEY key;
                if (count != 6 || !ParseKeyText(words[4], key)) return fail(L"property <sensor> <key> <value>");
                VARTYPE type = DefaultPropertyType(key);
                for (const ValueDefinition& known : sensors[(size_t)entry.sensor].properties)
                    if (IsEqualGUID(known.key.fmtid, key.fmtid) && known.key.pid == key.pid) type = known.type;
                if (type == VT_EMPTY) return fail(L"the sensor has no property " + words[4]);
                std::wstring why;
                if (!ParseProperty(words[4], type, words[5], entry.property, why)) return fail(why);
                entry.kind = TimelineKind::Property;
            } else {
                return fail(L"unknown timeline entry " + what);
            }
            timeline.push_back(entry);
            current = nullptr;
            continue;
        }
        if (!current) return fail(keyword + L" outside a sensor block");
        if (keyword == L"category" || keyword == L"type") {
            if (count != 2 || !ParseNamedGuid(words[1], keyword == L"category" ? current->category : current->type))
                return fail(keyword + L" needs a GUID or a published name");
        } else if (keyword == L"name") {
            if (count != 2) return fail(L"name \"text\" | none | fail");
            if (IsQuoted(words[1])) {
                current->nameKind = NameKind::Text;
                current->name = Unquoted(words[1]);
            } else if (words[1] == L"none") {
                current->nameKind = NameKind::None;
            } else if (words[1] == L"fail") {
                current->nameKind = NameKind::Fail;
            } else {
                return fail(L"name \"text\" | none | fail");
            }
        } else if (keyword == L"state") {
            if (count != 2 || !ParseStateText(words[1], current->state)) return fail(L"unknown state");
        } else if (keyword == L"interval") {
            if (count != 2 || !ParseUnsigned(words[1], current->interval)) return fail(L"interval <milliseconds>");
        } else if (keyword == L"fault") {
            if (count == 2 && words[1] == L"getdata")
                current->failGetData = true;
            else if (count == 2 && words[1] == L"index")
                current->failCollectionIndex = true;
            else if (count == 2 && words[1] == L"properties")
                current->failProperties = true;
            else
                return fail(L"fault getdata | index | properties");
        } else if (keyword == L"value") {
            ValueDefinition value;
            std::wstring why;
            if (!ParseValue(words, value, why)) return fail(why);
            current->values.push_back(value);
        } else if (keyword == L"property") {
            // property <key> <type> <constant>, a value that never changes by itself
            if (count < 3 || count > 4) return fail(L"property <key> <type> [<value>]");
            std::vector<std::wstring> asValue = {L"value", words[1], words[2]};
            if (count == 4) {
                asValue.push_back(L"const");
                asValue.push_back(words[3]);
            }
            ValueDefinition property;
            std::wstring why;
            if (!ParseValue(asValue, property, why)) return fail(why);
            for (size_t i = 0; i < current->properties.size(); i++)
                if (IsEqualGUID(current->properties[i].key.fmtid, property.key.fmtid) &&
                    current->properties[i].key.pid == property.key.pid)
                    return fail(L"property given twice: " + words[1]);
            current->properties.push_back(property);
        } else {
            return fail(L"unknown keyword " + keyword);
        }
    }
    std::stable_sort(timeline.begin(), timeline.end(),
                     [](const TimelineEntry& a, const TimelineEntry& b) { return a.at < b.at; });
    return 1;
}
