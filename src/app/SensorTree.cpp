#include "app/SensorTree.h"

#include <utility>

void SelectionKey(const wchar_t* rowText, WideString& key)
{
    key.Clear();
    WideString text(rowText ? rowText : L"");
    int position = 0;
    text.NextToken(position, L"\t\v", key);
}

int FindSensor(const std::vector<SensorSnapshot>& sensors, const RowIdentity& identity)
{
    if (identity.level < 1 || identity.sensorName.IsEmpty()) return -1;
    int sameCount = -1, nearest = -1;
    int distance = 0, namesakes = 0;
    WideString name;
    for (size_t i = 0; i < sensors.size(); i++) {
        SelectionKey(sensors[i].name, name);
        if (!name.Equals(identity.sensorName)) continue;
        if (namesakes++ == identity.namesakesBefore) sameCount = (int)i;
        int away = (int)i > identity.sensorPosition ? (int)i - identity.sensorPosition : identity.sensorPosition - (int)i;
        if (nearest < 0 || away < distance) {
            nearest = (int)i;
            distance = away;
        }
    }
    return sameCount >= 0 ? sameCount : nearest;
}

void BuildTreeRows(const std::vector<SensorSnapshot>& sensors, const RowIdentity& selected, bool windows7OrLater,
                   std::vector<TreeRow>& rows)
{
    rows.clear();
    size_t count = 2;
    for (const SensorSnapshot& sensor : sensors) count += 1 + sensor.fieldNames.size();
    rows.reserve(count);
    auto add = [&rows](int level, WideString& text, int image, bool children, bool select) {
        TreeRow row;
        row.level = level;
        row.text = std::move(text);
        row.image = image;
        row.hasChildren = children;
        row.select = select;
        rows.push_back(std::move(row));
    };
    int selectedSensor = FindSensor(sensors, selected);
    WideString root(L"Sensors");
    add(0, root, RootImage, true, selected.level == 0);
    WideString name;
    for (size_t s = 0; s < sensors.size(); s++) {
        const SensorSnapshot& sensor = sensors[s];
        bool mine = (int)s == selectedSensor;
        WideString text;
        text.Format(L"%s\v", sensor.name.Text());
        add(1, text, SensorImage, !sensor.fieldNames.empty(), mine && selected.level == 1);
        bool valueFound = false;
        for (size_t i = 0; i < sensor.fieldNames.size(); i++) {
            text.Format(L"%s\t%s", sensor.fieldNames[i].Text(), sensor.fieldTexts[i].Text());
            bool select = false;
            if (mine && selected.level == 2 && !valueFound) {
                SelectionKey(sensor.fieldNames[i], name);
                select = valueFound = name.Equals(selected.valueName) && !name.IsEmpty();
            }
            add(2, text, ValueImage, false, select);
        }
    }
    if (sensors.empty()) {
        WideString note(windows7OrLater ? L"No Sensors found" : L"No Sensors found\tOnly Windows 7 and above is supported");
        add(1, note, RootImage, false, true);
    }
}
