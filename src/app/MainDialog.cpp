#include "app/MainDialog.h"

#include <string.h>

#include <new>
#include <utility>
#include <vector>

#include <commctrl.h>

#include "app/Endpoints.h"
#include "app/Resources.h"
#include "app/SensorTree.h"
#include "common/Timing.h"
#include "crash/CrashReporter.h"
#include "sensors/ValueNumber.h"
#include "sysinfo/WindowsVersion.h"
#include "ui/Clipboard.h"
#include "common/SystemErrorText.h"
#include "platform/ShellFolders.h"
#include "ui/ContextMenu.h"
#include "ui/SettingsStore.h"

#include <commdlg.h>
#include <shlobj.h>

void ReadSensorSnapshots(SensorManager& manager, std::vector<SensorSnapshot>& sensors)
{
    // Built in place: strings are neither moved nor copied twice, and those already there
    // are assigned, keeping their buffers.
    SensorRecord* first = manager.EnumerateSensors();
    size_t count = 0;
    for (SensorRecord* record = first; record; record = SensorManager::Next(record)) count++;
    sensors.resize(count);
    size_t index = 0;
    for (SensorRecord* record = first; record; record = SensorManager::Next(record)) {
        SensorSnapshot& snapshot = sensors[index++];
        snapshot.id = record->id;
        snapshot.name.Assign(record->friendlyName);
        record->Lock();
        SensorField* fields = manager.ReadFields(record, nullptr);
        size_t values = 0;
        for (SensorField* field = fields; field; field = LockedList<SensorField>::Next(field)) values++;
        snapshot.fieldNames.resize(values);
        snapshot.fieldTexts.resize(values);
        snapshot.fieldNumeric.resize(values);
        size_t value = 0;
        for (SensorField* field = fields; field; field = LockedList<SensorField>::Next(field), value++) {
            snapshot.fieldNames[value].Assign(field->name);
            snapshot.fieldTexts[value].Assign(field->valueText);
            double number = 0;
            snapshot.fieldNumeric[value] = ValueNumber(*(const PROPVARIANT*)&field->value, number) ? 1 : 0;
        }
        record->Unlock();
    }
}

bool RefreshDue(ULONGLONG now, ULONGLONG last)
{
    ULONGLONG difference = now - last;
    return (difference >> 32) != 0 || (DWORD)difference > 1000;
}

MainDialog::MainDialog()
    : m_mainFlags(0), m_lastRefreshPost(0), m_rebuilds(0), m_propertiesChangePosted(0), m_recording(m_feed),
      m_recordingStatus(nullptr)
{
}

namespace {

// The status of a recording is refreshed this often (milliseconds).
const UINT_PTR RecordingTimer = 2;
const UINT RecordingStatusInterval = 500;
const wchar_t RecordingFolderValue[] = L"Recording Folder";

}  // namespace

MainDialog::~MainDialog()
{
    // A check on its worker uses the window and the members below: it ends first.
    m_updater.Shutdown();
    m_tree.Detach();
}

int MainDialog::OnInitDialog()
{
    SetIcons(IDI_APPLICATION_ICON);
    m_titleBuilder.Load(m_instance);
    m_titleBuilder.BuildTitle(L"Orvane", m_title);
    SetText(m_title);
    if (CrashReporter* reporter = CrashReporter::Instance())
        reporter->ConfigureReport(IDI_APPLICATION_ICON, ORVANE_REPORT_HOST, ORVANE_REPORT_PATH, nullptr, nullptr);
    InterlockedExchange64(&m_lastRefreshPost, 0);

    m_tree.AttachTreeList(Item(IDC_SENSOR_TREE), m_instance,
                          TreeListFlags::KeepChildrenOnCollapse | TreeListFlags::KeepImages | TreeListFlags::StaticHeader);
    m_tree.SetExtendedStyle(0x54, 0x54);
    m_tree.Hooks().keyDown = TreeKeyDown;
    m_tree.Hooks().user = this;
    m_tree.AddIcon(IDI_TREE_ROOT);
    m_tree.AddIcon(IDI_TREE_SENSOR);
    m_tree.AddIcon(IDI_TREE_VALUE);
    m_tree.AddColumn(L"Item", 0, 400, 0);
    m_tree.AddColumn(L"Value", 1, 500, 0);
    if (!(m_mainFlags & 0x1)) SetChecked(IDC_AUTO_UPDATE, 1);
    m_grip.Attach(m_window);
    m_link.Attach(Item(IDC_WEB_LINK), ORVANE_WEB_HOST, ORVANE_HOME_PAGE, IDC_LINK_CURSOR, LinkFlags::ControlFont);
    // The recording's status: in the free space left of Exit, shown only while recording.
    RECT status = {212, 215, 330, 229};
    MapDialogRect(m_window, &status);
    m_recordingStatus = CreateWindowExW(0, L"Static", L"", WS_CHILD | SS_RIGHT | SS_CENTERIMAGE | SS_NOPREFIX, status.left,
                                        status.top, status.right - status.left, status.bottom - status.top, m_window,
                                        (HMENU)(INT_PTR)IDC_RECORDING_STATUS, m_instance, nullptr);
    if (m_recordingStatus) SendMessageW(m_recordingStatus, WM_SETFONT, SendMessageW(m_window, WM_GETFONT, 0, 0), 0);

    const struct {
        int id;
        DWORD flags;
    } anchors[5] = {
        {IDC_SENSOR_TREE, AnchorFlags::StretchWidth | AnchorFlags::StretchHeight},
        {IDC_WEB_LINK, AnchorFlags::FollowBottom},
        {IDC_EXIT, AnchorFlags::FollowRight | AnchorFlags::FollowBottom},
        {IDC_AUTO_UPDATE, AnchorFlags::FollowBottom},
        {IDC_RECORDING_STATUS, AnchorFlags::FollowRight | AnchorFlags::FollowBottom},
    };
    for (int i = 0; i < 5; i++) m_anchors[i].SetUp(Item(anchors[i].id), anchors[i].flags, 0, 0);
    SetMinTrackSize(270, 150, 1);
    RestoreWindowPlacement(m_window, HKEY_CURRENT_USER, ORVANE_REGISTRY_KEY, L"Main", 0, m_api);

    // What an update set aside while this program ran could not be deleted then.
    wchar_t program[MAX_PATH] = {0};
    DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        if (wchar_t* slash = wcsrchr(program, L'\\')) slash[1] = 0;
        RemoveSetAsideFiles(program);
    }

    m_sensors.SetCallback(SensorCallback, (UINT_PTR)this);
    m_feed.SetWindow(m_window, FeedArrivedMessage);
    RouteMessages(true);
    RebuildTree();
    if (!(m_mainFlags & 0x1))
        m_updater.Start(ORVANE_UPDATE_ADDRESS, m_window, HKEY_CURRENT_USER, ORVANE_REGISTRY_KEY, L"LastCheck", 0,
                        nullptr, L"1");
    return 1;
}

void MainDialog::CheckForUpdatesNow()
{
    m_updater.Start(ORVANE_UPDATE_ADDRESS, m_window, nullptr, nullptr, nullptr, 0, nullptr, L"1");
}

int MainDialog::CanClose(INT_PTR)
{
    // The sensors' windows use the sensor list: they go first.
    for (auto& window : m_properties) window->Close(0);
    m_properties.clear();
    for (auto& window : m_plots) window->Close(0);
    m_plots.clear();
    StopRecording();
    RouteMessages(false);
    SaveWindowPlacement(m_window, HKEY_CURRENT_USER, ORVANE_REGISTRY_KEY, L"Main", nullptr, 0);
    m_tree.Detach();
    m_sensors.ReleaseSensors();
    return 1;
}

int MainDialog::OnCommand(int id, WPARAM wParam, LPARAM lParam)
{
    if (id == IDC_EXIT) {
        Close(0);
        return 1;
    }
    if (id == IDC_AUTO_UPDATE) {
        if (IsChecked(IDC_AUTO_UPDATE)) {
            m_mainFlags &= ~0x1u;
            CheckForUpdatesNow();
        } else {
            m_mainFlags |= 0x1;
        }
        return 1;
    }
    return DialogBase::OnCommand(id, wParam, lParam);
}

INT_PTR MainDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE:
        m_grip.Invalidate();
        for (LayoutAnchor& anchor : m_anchors) anchor.Move(wParam, lParam);
        return DialogBase::OnMessage(message, wParam, lParam);
    case WM_PAINT:
        if (m_grip.Paint()) return 1;
        break;
    case WM_NOTIFY: {
        LRESULT result = 0;
        if (m_tree.HandleNotify(m_window, wParam, (NMHDR*)lParam, &result)) return (INT_PTR)result;
        break;
    }
    case WM_NCHITTEST:
        if (m_grip.HitTest(wParam, lParam)) return 1;
        break;
    case WM_CONTEXTMENU:
        if ((HWND)wParam == m_tree.Tree()) {
            ShowContextMenu(m_tree.ContextMenuPoint(lParam));
            return 1;
        }
        break;
    case PropertiesChangedMessage:
        InterlockedExchange(&m_propertiesChangePosted, 0);
        for (auto& window : m_properties)
            if (window->Window()) window->Refresh();
        return 1;
    case RecordingFailedMessage:
        if (m_recording.Recording()) {
            WideString path(m_recording.Path());
            DWORD failure = m_recording.Failure();
            StopRecording();
            wchar_t reason[ErrorTextCapacity];
            if (!SystemErrorText(failure, reason, ErrorTextCapacity)) _snwprintf(reason, ErrorTextCapacity, L"Error %lu.", failure);
            reason[ErrorTextCapacity - 1] = L'\0';
            WideString text;
            text.Format(L"The recording stopped because the file could not be written:\n%ls\n\n"
                        L"The rows written before are in %ls.",
                        reason, path.Text());
            MessageBoxW(m_window, text, L"Orvane", MB_OK | MB_ICONWARNING);
        }
        return 1;
    case FeedArrivedMessage:
        m_feed.SensorArrived();
        return 1;
    case WM_TIMER:
        if (wParam == RecordingTimer) {
            ShowRecordingStatus();
            return 1;
        }
        RebuildTree();
        return 1;
    case RefreshMessage:
        RebuildTree();
        return 1;
    default:
        break;
    }
    return DialogBase::OnMessage(message, wParam, lParam);
}

int MainDialog::SensorCallback(int kind, SensorRecord*, UINT_PTR userData)
{
    MainDialog* dialog = (MainDialog*)userData;
    // A state or a property changed: the sensors' windows read their sensors anew, once
    // however many changes come before they do.
    if ((kind == StateChanged || kind == SensorEvent) && dialog->m_window &&
        !InterlockedExchange(&dialog->m_propertiesChangePosted, 1))
        PostMessageW(dialog->m_window, PropertiesChangedMessage, 0, 0);
    if (kind != DataUpdated && kind != SensorEntered && kind != 2) return 0;
    LONGLONG last = InterlockedCompareExchange64(&dialog->m_lastRefreshPost, 0, 0);
    if (!RefreshDue(TickCount64(), (ULONGLONG)last)) return 0;
    // Of several event threads that find a refresh due at the same moment only the one
    // that moves the time on posts.
    if (InterlockedCompareExchange64(&dialog->m_lastRefreshPost, (LONGLONG)TickCount64(), last) != last) return 0;
    HWND window = dialog->m_window;
    if (window) PostMessageW(window, RefreshMessage, 0, 0);
    return 0;
}

namespace {

// The text that identifies a row across rebuilds: up to its first cell separator or span marker.
void RowKey(TreeList& tree, HTREEITEM item, WideString& key)
{
    wchar_t text[MAX_PATH + 1] = L"";
    key.Clear();
    if (item && tree.GetItem(item, text, nullptr, nullptr, nullptr, nullptr)) SelectionKey(text, key);
}

HTREEITEM NextInOrder(HWND tree, HTREEITEM item)
{
    HTREEITEM child = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)item);
    if (child) return child;
    while (item) {
        HTREEITEM next = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)item);
        if (next) return next;
        item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_PARENT, (LPARAM)item);
    }
    return nullptr;
}

}  // namespace

void MainDialog::RememberView(WideString& key, WideString& parentKey, int& ordinal)
{
    HWND tree = m_tree.Tree();
    ordinal = -1;
    HTREEITEM first = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_FIRSTVISIBLE, 0);
    if (!first) return;
    RowKey(m_tree, first, key);
    RowKey(m_tree, (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_PARENT, (LPARAM)first), parentKey);
    ordinal = 0;
    for (HTREEITEM item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0); item && item != first;
         item = NextInOrder(tree, item))
        ordinal++;
}

void MainDialog::RestoreView(const WideString& key, const WideString& parentKey, int ordinal)
{
    if (ordinal <= 0) return;
    HWND tree = m_tree.Tree();
    HTREEITEM byOrdinal = nullptr;
    int position = 0;
    WideString rowKey, rowParent;
    for (HTREEITEM item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0); item;
         item = NextInOrder(tree, item), position++) {
        if (position == ordinal) byOrdinal = item;
        RowKey(m_tree, item, rowKey);
        if (!rowKey.Equals(key)) continue;
        RowKey(m_tree, (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_PARENT, (LPARAM)item), rowParent);
        if (rowParent.Equals(parentKey)) {
            SendMessageW(tree, TVM_SELECTITEM, TVGN_FIRSTVISIBLE, (LPARAM)item);
            return;
        }
    }
    if (byOrdinal) SendMessageW(tree, TVM_SELECTITEM, TVGN_FIRSTVISIBLE, (LPARAM)byOrdinal);
}

void MainDialog::IdentifySelectedRow(RowIdentity& identity)
{
    HWND tree = m_tree.Tree();
    identity = RowIdentity();
    HTREEITEM item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    if (!item) return;
    HTREEITEM parent = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_PARENT, (LPARAM)item);
    HTREEITEM sensor = nullptr;
    if (!parent) {
        identity.level = 0;
        return;
    }
    if (!SendMessageW(tree, TVM_GETNEXTITEM, TVGN_PARENT, (LPARAM)parent)) {
        identity.level = 1;
        sensor = item;
    } else {
        identity.level = 2;
        sensor = parent;
        RowKey(m_tree, item, identity.valueName);
    }
    RowKey(m_tree, sensor, identity.sensorName);
    identity.sensorPosition = 0;
    WideString name;
    for (HTREEITEM before = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_PREVIOUS, (LPARAM)sensor); before;
         before = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_PREVIOUS, (LPARAM)before)) {
        identity.sensorPosition++;
        RowKey(m_tree, before, name);
        if (name.Equals(identity.sensorName)) identity.namesakesBefore++;
    }
}

void MainDialog::RebuildTree()
{
    if (!m_tree.Tree()) return;
    m_rebuilds++;
    m_tree.SetRedraw(false);

    RowIdentity selected;
    IdentifySelectedRow(selected);
    WideString firstKey, firstParent;
    int firstOrdinal = -1;
    RememberView(firstKey, firstParent, firstOrdinal);
    m_tree.DeleteAllRows();

    std::vector<SensorSnapshot>& sensors = m_snapshots;
    ReadSensorSnapshots(m_sensors, sensors);
    std::vector<TreeRow>& rows = m_rows;
    BuildTreeRows(sensors, selected, sensors.empty() ? IsWindowsAtLeast(0x4000, 0) != 0 : true, rows);

    HTREEITEM parents[3] = {TVI_ROOT, nullptr, nullptr};
    HTREEITEM toSelect = nullptr;
    std::vector<HTREEITEM> sensorRows;
    for (const TreeRow& row : rows) {
        HTREEITEM item = m_tree.InsertRow(parents[row.level], TVI_LAST, row.text, row.image, row.image,
                                          row.hasChildren ? 1 : 0, 0);
        if (row.level < 2) parents[row.level + 1] = item;
        if (row.level == 1 && row.image == SensorImage) sensorRows.push_back(item);
        if (row.select && item) toSelect = item;
    }
    if (toSelect) m_tree.SelectRow(toSelect);
    for (HTREEITEM item : sensorRows) m_tree.ExpandRow(item, TVE_EXPAND);
    m_tree.ExpandRow(parents[1], TVE_EXPAND);
    RestoreView(firstKey, firstParent, firstOrdinal);

    m_tree.SetRedraw(true);
}

namespace {

const UINT CopyCommand = 1;
const UINT CopyAllCommand = 2;
const UINT PropertiesCommand = 3;
const UINT RecordCommand = 4;
const UINT PlotCommand = 5;

}  // namespace

void MainDialog::TreeKeyDown(WORD key, void* self)
{
    if (key == 'C' && (GetKeyState(VK_CONTROL) & 0x8000) && !(GetKeyState(VK_MENU) & 0x8000))
        static_cast<MainDialog*>(self)->CopySelected();
}

void MainDialog::ShowContextMenu(POINT screen)
{
    std::vector<MenuItem> items = {{CopyCommand, L"Copy", true},
                                   {CopyAllCommand, L"Copy All", true},
                                   {0, nullptr, true},
                                   {RecordCommand, m_recording.Recording() ? L"Stop Recording" : L"Record to File...", true},
                                   {PlotCommand, L"Plot", CanPlot()},
                                   {0, nullptr, true},
                                   {PropertiesCommand, L"Properties\tAlt+Enter", SelectedSensor() >= 0}};
    UINT command = TrackContextMenu(m_window, screen, items);
    if (command == CopyCommand) CopySelected();
    if (command == CopyAllCommand) CopyAll();
    if (command == PropertiesCommand) ShowProperties();
    if (command == PlotCommand) ShowPlot();
    if (command == RecordCommand) {
        if (m_recording.Recording())
            StopRecording();
        else
            StartRecording();
    }
}

void MainDialog::StartRecording()
{
    // Offered: a new name with the time in the folder of the last recording, else in the
    // user's documents.
    SettingsStore settings;
    settings.Open(SettingsBackend::Registry, HKEY_CURRENT_USER, ORVANE_REGISTRY_KEY);
    WideString folder;
    settings.ReadString(RecordingFolderValue, folder, L"");
    if (folder.IsEmpty() || GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES) {
        wchar_t documents[MAX_PATH] = L"";
        folder.Assign(SpecialFolder(CSIDL_PERSONAL, documents) ? documents : L"");
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t path[MAX_PATH * 4];
    DefaultRecordingName(now, path, MAX_PATH * 4);
    OPENFILENAMEW dialog;
    ZeroMemory(&dialog, sizeof(dialog));
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = m_window;
    dialog.lpstrFilter = L"CSV files (*.csv)\0*.csv\0All files (*.*)\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = MAX_PATH * 4;
    dialog.lpstrInitialDir = folder.IsEmpty() ? nullptr : folder.Text();
    dialog.lpstrTitle = L"Record to File";
    dialog.lpstrDefExt = L"csv";
    dialog.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
    if (!GetSaveFileNameW(&dialog)) return;

    if (!RecordTo(path)) return;
    if (dialog.nFileOffset > 0 && dialog.nFileOffset < MAX_PATH * 4) {
        // The folder without its last backslash, unless it is a drive's root.
        folder.Assign(path, dialog.nFileOffset > 3 ? dialog.nFileOffset - 1 : dialog.nFileOffset);
        settings.WriteString(RecordingFolderValue, folder);
    }
}

int MainDialog::RecordTo(const wchar_t* path)
{
    DWORD error = 0;
    if (!m_recording.Start(path, m_window, RecordingFailedMessage, error)) {
        wchar_t reason[ErrorTextCapacity];
        if (!SystemErrorText(error, reason, ErrorTextCapacity)) _snwprintf(reason, ErrorTextCapacity, L"Error %lu.", error);
        reason[ErrorTextCapacity - 1] = L'\0';
        WideString text;
        text.Format(L"%ls could not be created:\n%ls", path, reason);
        MessageBoxW(m_window, text, L"Orvane", MB_OK | MB_ICONWARNING);
        return 0;
    }
    ShowRecordingStatus();
    if (m_recordingStatus) ShowWindow(m_recordingStatus, SW_SHOWNA);
    SetTimer(m_window, RecordingTimer, RecordingStatusInterval, nullptr);
    return 1;
}

void MainDialog::StopRecording()
{
    if (!m_recording.Recording()) return;
    KillTimer(m_window, RecordingTimer);
    m_recording.Stop();
    if (m_recordingStatus) ShowWindow(m_recordingStatus, SW_HIDE);
}

void MainDialog::ShowRecordingStatus()
{
    if (!m_recordingStatus) return;
    WideString text;
    RecordingStatusText(m_recording.Written(), m_recording.Dropped(), text);
    wchar_t shown[128] = L"";
    GetWindowTextW(m_recordingStatus, shown, 128);
    if (wcscmp(shown, text) != 0) SetWindowTextW(m_recordingStatus, text);
}

int MainDialog::PreTranslate(MSG& message)
{
    // Alt+Enter on the tree opens the selected sensor's window (and its character, which
    // the tree would only beep at, goes too).
    if (message.hwnd == m_tree.Tree() && message.wParam == VK_RETURN) {
        if (message.message == WM_SYSKEYDOWN) {
            ShowProperties();
            return 1;
        }
        if (message.message == WM_SYSCHAR) return 1;
    }
    return DialogBase::PreTranslate(message);
}

int MainDialog::SelectedSensor()
{
    RowIdentity identity;
    IdentifySelectedRow(identity);
    if (identity.level < 1) return -1;
    return FindSensor(m_snapshots, identity);
}

ISensor* MainDialog::SensorById(const GUID& id, void* self)
{
    MainDialog* dialog = static_cast<MainDialog*>(self);
    LockedList<SensorRecord>& sensors = dialog->m_sensors.Sensors();
    for (SensorRecord* record = sensors.First(); record; record = SensorManager::Next(record))
        if (IsEqualGUID(record->id, id) && record->sensor && !record->Closed()) {
            record->sensor->AddRef();
            return record->sensor;
        }
    return nullptr;
}

namespace {

// Windows the user closed are let go.
template <class Window>
void DropClosedWindows(std::vector<std::unique_ptr<Window>>& windows)
{
    for (size_t i = 0; i < windows.size();) {
        if (windows[i]->Window())
            i++;
        else
            windows.erase(windows.begin() + (ptrdiff_t)i);
    }
}

void BringToFront(HWND window)
{
    if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

}  // namespace

void MainDialog::ShowProperties()
{
    int index = SelectedSensor();
    if (index < 0) return;
    const SensorSnapshot& sensor = m_snapshots[(size_t)index];
    // One window per sensor.
    DropClosedWindows(m_properties);
    for (auto& window : m_properties)
        if (IsEqualGUID(window->SensorId(), sensor.id)) {
            BringToFront(window->Window());
            return;
        }
    std::unique_ptr<PropertiesWindow> window(new (std::nothrow) PropertiesWindow(sensor.id, sensor.name, SensorById, this));
    if (!window || !window->Open(m_instance, m_window, (int)m_properties.size())) return;
    try {
        m_properties.push_back(std::move(window));
    } catch (...) {
        // Without memory for the list the window closes again.
    }
}

bool MainDialog::SelectedPlot(int& sensor, int& value)
{
    RowIdentity identity;
    IdentifySelectedRow(identity);
    sensor = identity.level >= 1 ? FindSensor(m_snapshots, identity) : -1;
    value = -1;
    if (sensor < 0) return false;
    const SensorSnapshot& snapshot = m_snapshots[(size_t)sensor];
    bool any = false;
    for (size_t i = 0; i < snapshot.fieldNames.size() && i < snapshot.fieldNumeric.size(); i++) {
        if (!snapshot.fieldNumeric[i]) continue;
        if (identity.level == 2 && snapshot.fieldNames[i].Equals(identity.valueName)) value = (int)i;
        any = true;
    }
    // A value row plots that value when it has a number; a sensor row all its numbers.
    return identity.level == 2 ? value >= 0 : any;
}

bool MainDialog::CanPlot()
{
    int sensor = -1, value = -1;
    return SelectedPlot(sensor, value);
}

void MainDialog::ShowPlot()
{
    int sensor = -1, value = -1;
    if (!SelectedPlot(sensor, value)) return;
    const SensorSnapshot& snapshot = m_snapshots[(size_t)sensor];
    const wchar_t* only = value >= 0 ? snapshot.fieldNames[(size_t)value].Text() : L"";
    // One window for each sensor and value.
    DropClosedWindows(m_plots);
    for (auto& window : m_plots)
        if (IsEqualGUID(window->SensorId(), snapshot.id) && wcscmp(window->ValueName(), only) == 0) {
            BringToFront(window->Window());
            return;
        }
    OpenPlot(snapshot.id, snapshot.name, only);
}

int MainDialog::OpenPlot(const GUID& id, const wchar_t* name, const wchar_t* only)
{
    std::unique_ptr<PlotWindow> window(new (std::nothrow) PlotWindow(m_feed, id, name, only));
    if (!window || !window->Open(m_instance, m_window, (int)m_plots.size())) return 0;
    try {
        m_plots.push_back(std::move(window));
    } catch (...) {
        // Without memory for the list the window closes again.
        return 0;
    }
    return 1;
}

void MainDialog::ReadRows(std::vector<TreeRowText>& rows, int& selected)
{
    rows.clear();
    selected = -1;
    HWND tree = m_tree.Tree();
    if (!tree) return;
    HTREEITEM caret = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    std::vector<wchar_t> buffer(4096);
    // Depth first, the order the tree shows (collapsed rows included).
    HTREEITEM item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    int level = 0;
    while (item) {
        TVITEMW read;
        ZeroMemory(&read, sizeof(read));
        read.mask = TVIF_TEXT | TVIF_HANDLE;
        read.hItem = item;
        read.pszText = buffer.data();
        read.cchTextMax = (int)buffer.size();
        buffer[0] = 0;
        SendMessageW(tree, TVM_GETITEMW, 0, (LPARAM)&read);
        if (item == caret) selected = (int)rows.size();
        rows.push_back({level, buffer.data()});
        HTREEITEM next = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)item);
        if (next) {
            level++;
        } else {
            while (item && !(next = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)item))) {
                item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_PARENT, (LPARAM)item);
                level--;
            }
        }
        item = next;
    }
}

void MainDialog::CopySelected()
{
    std::vector<TreeRowText> rows;
    int selected = -1;
    ReadRows(rows, selected);
    std::wstring text = CopyRowText(rows, selected);
    if (!text.empty()) PutOnClipboard(text);
}

void MainDialog::CopyAll()
{
    std::vector<TreeRowText> rows;
    int selected = -1;
    ReadRows(rows, selected);
    PutOnClipboard(CopyAllText(rows));
}

int MainDialog::PutOnClipboard(const std::wstring& text)
{
    return PutTextOnClipboard(m_window, text);
}
