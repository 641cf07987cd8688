// The program's one window: the live tree of sensors, a link, Exit and the update check box.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <memory>

#include "app/CopyText.h"
#include "app/PlotWindow.h"
#include "app/PropertiesWindow.h"
#include "app/Recording.h"
#include "app/SensorTree.h"
#include "common/ModuleVersion.h"
#include "sensors/SensorManager.h"
#include "ui/DialogBase.h"
#include "ui/Hyperlink.h"
#include "ui/Layout.h"
#include "ui/Placement.h"
#include "ui/TreeList.h"
#include "update/AutoUpdate.h"

// Posted to the main window when sensor data changed; it rebuilds the tree.
const UINT RefreshMessage = 0x8000;
// Posted by the recording when a write failed, and by the report feed when a sensor arrived.
const UINT RecordingFailedMessage = 0x8002;
const UINT FeedArrivedMessage = 0x8003;

// A fresh enumeration of the sensors with their current values, as a rebuild shows them.
// What `sensors` holds is written over: its strings keep their buffers.
void ReadSensorSnapshots(SensorManager& manager, std::vector<SensorSnapshot>& sensors);

// Whether an event at `now` may post a refresh when the last one went out at `last`:
// more than 1000 ms since, or a clock that ran backwards.
bool RefreshDue(ULONGLONG now, ULONGLONG last);

class MainDialog : public DialogBase {
public:
    MainDialog();
    ~MainDialog() override;

    // The rows of every rebuild, for tests and diagnostics.
    unsigned long RebuildCount() const { return m_rebuilds; }
    // Starts an update check now, as ticking the box does.
    void CheckForUpdatesNow();
    // For benchmarks: records to `path` without asking; opens a plot of sensor `id` (every
    // number, or the value shown as `only`) without a selection.
    int RecordTo(const wchar_t* path);
    const SensorRecording& Recording() const { return m_recording; }
    int OpenPlot(const GUID& id, const wchar_t* name, const wchar_t* only);

    int OnInitDialog() override;
    int CanClose(INT_PTR result) override;
    int OnCommand(int id, WPARAM wParam, LPARAM lParam) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    int PreTranslate(MSG& message) override;

    // Opens the properties window of the selected row's sensor, or brings it to the front.
    void ShowProperties();
    // Opens a plot of the selected value, or of every number of the selected sensor.
    void ShowPlot();

    void RebuildTree();

private:
    static int SensorCallback(int kind, SensorRecord* record, UINT_PTR userData);

    static void TreeKeyDown(WORD key, void* self);
    void IdentifySelectedRow(RowIdentity& identity);
    // Copying: the rows as the tree shows them now, the selected one's index.
    void ReadRows(std::vector<TreeRowText>& rows, int& selected);
    void CopySelected();
    void CopyAll();
    void ShowContextMenu(POINT screen);
    // Recording: asks for a file and starts, or stops; the status beside Exit follows.
    void StartRecording();
    void StopRecording();
    void ShowRecordingStatus();
    // The sensor the selected row belongs to, among the last rebuild's; -1 for none.
    int SelectedSensor();
    // The selected row's sensor, and its value (-1 for a sensor row), when it can be plotted.
    bool SelectedPlot(int& sensor, int& value);
    bool CanPlot();
    static ISensor* SensorById(const GUID& id, void* self);
    int PutOnClipboard(const std::wstring& text);
    void RememberView(WideString& firstVisibleKey, WideString& firstVisibleParent, int& firstVisibleOrdinal);
    void RestoreView(const WideString& firstVisibleKey, const WideString& firstVisibleParent, int firstVisibleOrdinal);

    ModuleVersion m_titleBuilder;
    WideString m_title;
    SensorManager m_sensors;
    TreeList m_tree;
    HyperlinkLabel m_link;
    SizeGrip m_grip;
    LayoutAnchor m_anchors[5];
    DWORD m_mainFlags;
    AutoUpdate m_updater;
    volatile LONGLONG m_lastRefreshPost;
    unsigned long m_rebuilds;
    // A rebuild's sensors and rows, kept for the next one: it writes its texts into the
    // same strings instead of allocating thousands of buffers anew.
    std::vector<SensorSnapshot> m_snapshots;
    std::vector<TreeRow> m_rows;
    // The sensors' own windows; a closed one is let go at the next opening.
    std::vector<std::unique_ptr<PropertiesWindow>> m_properties;
    volatile LONG m_propertiesChangePosted;
    // Declared before what listens to it, so that it outlives them.
    ReportFeed m_feed;
    SensorRecording m_recording;
    std::vector<std::unique_ptr<PlotWindow>> m_plots;
    HWND m_recordingStatus;
};
