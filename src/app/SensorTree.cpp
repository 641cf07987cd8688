#include "app/SensorTree.h"

#include <wchar.h>

#include <utility>

namespace {

// `first`, the separator and `second` (empty without a separator), each text up to its
// first NUL, as "%s<separator>%s" formats them into a fresh string, and empty where
// that formatting gives up.
void JoinCells(const wchar_t* first, wchar_t separator, const wchar_t* second, WideString& text)
{
    size_t a = wcslen(first), b = wcslen(second);
    text.Clear();
    if (a + 1 + b > (size_t)WideString::LongestFormattedFromEmpty()) return;
    if (!text.Reserve((int)(a + b + 2)) || !text.Assign(first, (int)a) || !text.Append(separator) ||
        !text.Append(second, (int)b))
        text.Clear();
}

}  // namespace

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
    size_t count = 2;
    for (const SensorSnapshot& sensor : sensors) count += 1 + sensor.fieldNames.size();
    rows.reserve(count);
    // Each row's text is made where the row stays: no string is moved, and the rows the
    // vector already holds are written over, their strings keeping their buffers.
    size_t used = 0;
    auto add = [&rows, &used](int level, int image, bool children, bool select) -> WideString& {
        if (used == rows.size()) rows.emplace_back();
        TreeRow& row = rows[used++];
        row.level = level;
        row.image = image;
        row.hasChildren = children;
        row.select = select;
        return row.text;
    };
    int selectedSensor = FindSensor(sensors, selected);
    add(0, RootImage, true, selected.level == 0).Assign(L"Sensors");
    WideString name;
    for (size_t s = 0; s < sensors.size(); s++) {
        const SensorSnapshot& sensor = sensors[s];
        bool mine = (int)s == selectedSensor;
        JoinCells(sensor.name.Text(), L'\v', L"",
                  add(1, SensorImage, !sensor.fieldNames.empty(), mine && selected.level == 1));
        bool valueFound = false;
        for (size_t i = 0; i < sensor.fieldNames.size(); i++) {
            bool select = false;
            if (mine && selected.level == 2 && !valueFound) {
                SelectionKey(sensor.fieldNames[i], name);
                select = valueFound = name.Equals(selected.valueName) && !name.IsEmpty();
            }
            JoinCells(sensor.fieldNames[i].Text(), L'\t', sensor.fieldTexts[i].Text(), add(2, ValueImage, false, select));
        }
    }
    if (sensors.empty()) {
        add(1, RootImage, false, true)
            .Assign(windows7OrLater ? L"No Sensors found" : L"No Sensors found\tOnly Windows 7 and above is supported");
    }
    rows.resize(used);
}
