// A sensor's own window: its state, identity and every property it reports, kept live, and
// the report interval the user may ask it for.
#pragma once

#include <windows.h>
#include <sensorsapi.h>

#include <string>
#include <vector>

#include "common/WideString.h"
#include "sensors/SensorDetails.h"
#include "ui/DialogBase.h"
#include "ui/Layout.h"
#include "ui/TreeList.h"

// Posted to the main window when a sensor's state or properties changed: its sensors'
// windows read their sensors anew.
const UINT PropertiesChangedMessage = 0x8001;

class PropertiesWindow : public DialogBase {
public:
    // The window's way to its sensor: an added reference, or null while the sensor is not
    // connected. Called on the window's thread.
    typedef ISensor* (*SensorSource)(const GUID& id, void* user);

    PropertiesWindow(const GUID& id, const wchar_t* name, SensorSource source, void* user);
    ~PropertiesWindow() override;

    // Creates the window, placed as properties windows were last left and shifted by
    // `cascade` steps so that several do not cover each other exactly.
    HWND Open(HINSTANCE instance, HWND owner, int cascade);
    const GUID& SensorId() const { return m_id; }
    bool Connected() const { return m_connected; }
    // Reads the sensor and shows what changed.
    void Refresh();

    int OnInitDialog() override;
    int CanClose(INT_PTR result) override;
    int OnCommand(int id, WPARAM wParam, LPARAM lParam) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    static void TreeKeyDown(WORD key, void* self);
    void SetInterval();
    void ShowRows();
    void UpdateTitle();
    void CopyRows(bool all);

    GUID m_id;
    WideString m_name;
    SensorSource m_source;
    void* m_user;
    int m_cascade;
    bool m_connected;
    bool m_titled;
    TreeList m_tree;
    SizeGrip m_grip;
    LayoutAnchor m_anchors[5];
    std::vector<DetailRow> m_rows;   // as last read
    std::vector<DetailRow> m_shown;  // as the tree shows them
};

// Rows (or only the row at `only`) as clipboard lines of "Property<TAB>Value" with CR LF.
std::wstring DetailRowsText(const std::vector<DetailRow>& rows, int only = -1);
