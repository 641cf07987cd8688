#include "app/MainDialog.h"

#include <string.h>

#include <utility>
#include <vector>

#include <commctrl.h>

#include "app/Endpoints.h"
#include "app/Resources.h"
#include "app/SensorTree.h"
#include "common/Timing.h"
#include "crash/CrashReporter.h"
#include "sysinfo/WindowsVersion.h"

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
        snapshot.name.Assign(record->friendlyName);
        record->Lock();
        SensorField* fields = manager.ReadFields(record, nullptr);
        size_t values = 0;
        for (SensorField* field = fields; field; field = LockedList<SensorField>::Next(field)) values++;
        snapshot.fieldNames.resize(values);
        snapshot.fieldTexts.resize(values);
        size_t value = 0;
        for (SensorField* field = fields; field; field = LockedList<SensorField>::Next(field), value++) {
            snapshot.fieldNames[value].Assign(field->name);
            snapshot.fieldTexts[value].Assign(field->valueText);
        }
        record->Unlock();
    }
}

bool RefreshDue(ULONGLONG now, ULONGLONG last)
{
    ULONGLONG difference = now - last;
    return (difference >> 32) != 0 || (DWORD)difference > 1000;
}

MainDialog::MainDialog() : m_mainFlags(0), m_lastRefreshPost(0), m_rebuilds(0) {}

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

    const struct {
        int id;
        DWORD flags;
    } anchors[4] = {
        {IDC_SENSOR_TREE, AnchorFlags::StretchWidth | AnchorFlags::StretchHeight},
        {IDC_WEB_LINK, AnchorFlags::FollowBottom},
        {IDC_EXIT, AnchorFlags::FollowRight | AnchorFlags::FollowBottom},
        {IDC_AUTO_UPDATE, AnchorFlags::FollowBottom},
    };
    for (int i = 0; i < 4; i++) m_anchors[i].SetUp(Item(anchors[i].id), anchors[i].flags, 0, 0);
    SetMinTrackSize(270, 150, 1);
    RestoreWindowPlacement(m_window, HKEY_CURRENT_USER, ORVANE_REGISTRY_KEY, L"Main", 0, m_api);

    m_sensors.SetCallback(SensorCallback, (UINT_PTR)this);
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
            POINT point = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
            if (lParam == -1) {
                // The menu key or Shift+F10: the menu opens at the selected row.
                HTREEITEM item = (HTREEITEM)SendMessageW(m_tree.Tree(), TVM_GETNEXTITEM, TVGN_CARET, 0);
                RECT row = {0, 0, 0, 0};
                memcpy(&row, &item, sizeof(item));  // the message takes the item in the rectangle
                if (!item || !SendMessageW(m_tree.Tree(), TVM_GETITEMRECT, TRUE, (LPARAM)&row)) SetRectEmpty(&row);
                point.x = row.left;
                point.y = row.bottom;
                ClientToScreen(m_tree.Tree(), &point);
            } else {
                SelectRowAt(point);  // a right click: on the row under the mouse
            }
            ShowCopyMenu(point);
            return 1;
        }
        break;
    case WM_TIMER:
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
    if (kind != DataUpdated && kind != SensorEntered && kind != 2) return 0;
    MainDialog* dialog = (MainDialog*)userData;
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

}  // namespace

void MainDialog::TreeKeyDown(WORD key, void* self)
{
    if (key == 'C' && (GetKeyState(VK_CONTROL) & 0x8000) && !(GetKeyState(VK_MENU) & 0x8000))
        static_cast<MainDialog*>(self)->CopySelected();
}

void MainDialog::SelectRowAt(POINT screen)
{
    // As the system's own trees do: the row under the mouse is selected first.
    HWND tree = m_tree.Tree();
    TVHITTESTINFO hit;
    ZeroMemory(&hit, sizeof(hit));
    hit.pt = screen;
    ScreenToClient(tree, &hit.pt);
    // Anywhere on the row counts (the tree selects full rows): its indent, button, icon,
    // text or the space right of it.
    if (SendMessageW(tree, TVM_HITTEST, 0, (LPARAM)&hit) && hit.hItem &&
        (hit.flags & (TVHT_ONITEM | TVHT_ONITEMINDENT | TVHT_ONITEMBUTTON | TVHT_ONITEMRIGHT)))
        SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)hit.hItem);
}

void MainDialog::ShowCopyMenu(POINT screen)
{
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    AppendMenuW(menu, MF_STRING, CopyCommand, L"Copy");
    AppendMenuW(menu, MF_STRING, CopyAllCommand, L"Copy All");
    UINT command = (UINT)TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, screen.x, screen.y, 0,
                                        m_window, nullptr);
    DestroyMenu(menu);
    if (command == CopyCommand) CopySelected();
    if (command == CopyAllCommand) CopyAll();
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
    // Another program holding the clipboard: nothing is copied, nothing is said.
    if (!OpenClipboard(m_window)) return 0;
    int done = 0;
    if (EmptyClipboard()) {
        size_t bytes = (text.size() + 1) * sizeof(wchar_t);
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
        if (void* target = memory ? GlobalLock(memory) : nullptr) {
            memcpy(target, text.c_str(), bytes);
            GlobalUnlock(memory);
            if (SetClipboardData(CF_UNICODETEXT, memory))
                done = 1;
            else
                GlobalFree(memory);
        } else if (memory) {
            GlobalFree(memory);
        }
    }
    CloseClipboard();
    return done;
}
