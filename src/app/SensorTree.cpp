#include "app/SensorTree.h"

void SelectionKey(const wchar_t* rowText, WideString& key)
{
    key.Clear();
    WideString text(rowText ? rowText : L"");
    int position = 0;
    text.NextToken(position, L"\t\v", key);
}

void BuildTreeRows(const std::vector<SensorSnapshot>& sensors, const WideString& key, bool windows7OrLater,
                   std::vector<TreeRow>& rows)
{
    rows.clear();
    auto add = [&rows](int level, const WideString& text, int image, bool children, bool select) {
        TreeRow row;
        row.level = level;
        row.text = text;
        row.image = image;
        row.hasChildren = children;
        row.select = select;
        rows.push_back(row);
    };
    add(0, WideString(L"Sensors"), RootImage, true, !key.IsEmpty() && key.Equals(L"Sensors"));
    for (const SensorSnapshot& sensor : sensors) {
        WideString text;
        text.Format(L"%s\v", sensor.name.Text());
        add(1, text, SensorImage, !sensor.fieldNames.empty(), !key.IsEmpty() && key.Equals(sensor.name));
        for (size_t i = 0; i < sensor.fieldNames.size(); i++) {
            text.Format(L"%s\t%s", sensor.fieldNames[i].Text(), sensor.fieldTexts[i].Text());
            add(2, text, ValueImage, false, !key.IsEmpty() && key.Equals(sensor.fieldNames[i]));
        }
    }
    if (sensors.empty()) {
        WideString note(windows7OrLater ? L"No Sensors found" : L"No Sensors found\tOnly Windows 7 and above is supported");
        add(1, note, RootImage, false, true);
    }
}
