#include "app/MainDialog.h"

#include <vector>

#include "app/Resources.h"
#include "app/SensorTree.h"
#include "common/Timing.h"
#include "sysinfo/WindowsVersion.h"

bool RefreshDue(ULONGLONG now, ULONGLONG last)
{
    ULONGLONG difference = now - last;
    return (difference >> 32) != 0 || (DWORD)difference > 1000;
}

MainDialog::MainDialog() : m_tree(nullptr), m_images(nullptr), m_mainFlags(0), m_lastRefreshPost(0) {}

MainDialog::~MainDialog()
{
    if (m_images) ImageList_Destroy(m_images);
}

int MainDialog::OnInitDialog()
{
    SetIcons(IDI_APPLICATION_ICON);
    m_titleBuilder.Load(m_instance);
    m_titleBuilder.BuildTitle(L"Orvane", m_title);
    SetText(m_title);
    InterlockedExchange64(&m_lastRefreshPost, 0);

    m_tree = Item(IDC_SENSOR_TREE);
    int size = GetSystemMetrics(SM_CXSMICON);
    m_images = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 3, 0);
    const int icons[] = {IDI_TREE_ROOT, IDI_TREE_SENSOR, IDI_TREE_VALUE};
    for (int id : icons) {
        HICON icon = (HICON)LoadImageW(m_instance, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR);
        ImageList_AddIcon(m_images, icon);
        if (icon) DestroyIcon(icon);
    }
    SendMessageW(m_tree, TVM_SETIMAGELIST, TVSIL_NORMAL, (LPARAM)m_images);

    if (!(m_mainFlags & 0x1)) SetChecked(IDC_AUTO_UPDATE, 1);
    SetMinTrackSize(270, 150, 1);
    m_sensors.SetCallback(SensorCallback, (UINT_PTR)this);
    RebuildTree();
    return 1;
}

int MainDialog::CanClose(INT_PTR)
{
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
        if (IsChecked(IDC_AUTO_UPDATE))
            m_mainFlags &= ~0x1u;
        else
            m_mainFlags |= 0x1;
        return 1;
    }
    return DialogBase::OnCommand(id, wParam, lParam);
}

INT_PTR MainDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER || message == RefreshMessage) {
        RebuildTree();
        return 1;
    }
    return DialogBase::OnMessage(message, wParam, lParam);
}

int MainDialog::SensorCallback(int kind, SensorRecord*, UINT_PTR userData)
{
    if (kind != DataUpdated && kind != SensorEntered && kind != 2) return 0;
    MainDialog* dialog = (MainDialog*)userData;
    ULONGLONG last = (ULONGLONG)InterlockedCompareExchange64(&dialog->m_lastRefreshPost, 0, 0);
    if (!RefreshDue(TickCount64(), last)) return 0;
    InterlockedExchange64(&dialog->m_lastRefreshPost, (LONGLONG)TickCount64());
    HWND window = dialog->m_window;
    if (window) PostMessageW(window, RefreshMessage, 0, 0);
    return 0;
}

void MainDialog::RebuildTree()
{
    if (!m_tree) return;
    SendMessageW(m_tree, WM_SETREDRAW, FALSE, 0);

    WideString key;
    HTREEITEM selected = (HTREEITEM)SendMessageW(m_tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    if (selected) {
        wchar_t text[MAX_PATH + 1] = L"";
        TVITEMW item = {};
        item.mask = TVIF_TEXT;
        item.hItem = selected;
        item.pszText = text;
        item.cchTextMax = MAX_PATH;
        SendMessageW(m_tree, TVM_GETITEMW, 0, (LPARAM)&item);
        SelectionKey(text, key);
    }
    SendMessageW(m_tree, TVM_DELETEITEM, 0, (LPARAM)TVI_ROOT);

    std::vector<SensorSnapshot> sensors;
    for (SensorRecord* record = m_sensors.EnumerateSensors(); record; record = SensorManager::Next(record)) {
        SensorSnapshot snapshot;
        snapshot.name = record->friendlyName;
        record->Lock();
        for (SensorField* field = m_sensors.ReadFields(record, nullptr); field;
             field = LockedList<SensorField>::Next(field)) {
            snapshot.fieldNames.push_back(field->name);
            snapshot.fieldTexts.push_back(field->valueText);
        }
        record->Unlock();
        sensors.push_back(snapshot);
    }
    std::vector<TreeRow> rows;
    BuildTreeRows(sensors, key, sensors.empty() ? IsWindowsAtLeast(0x4000, 0) != 0 : true, rows);

    HTREEITEM parents[3] = {TVI_ROOT, nullptr, nullptr};
    HTREEITEM toSelect = nullptr;
    std::vector<HTREEITEM> sensorRows;
    for (TreeRow& row : rows) {
        TVINSERTSTRUCTW insert = {};
        insert.hParent = parents[row.level];
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN | TVIF_PARAM;
        insert.item.pszText = const_cast<wchar_t*>(row.text.Text());
        insert.item.iImage = insert.item.iSelectedImage = row.image;
        insert.item.cChildren = row.hasChildren ? 1 : 0;
        insert.item.lParam = 0;
        HTREEITEM item = (HTREEITEM)SendMessageW(m_tree, TVM_INSERTITEMW, 0, (LPARAM)&insert);
        if (row.level < 2) parents[row.level + 1] = item;
        if (row.level == 1 && row.image == SensorImage) sensorRows.push_back(item);
        if (row.select && item) toSelect = item;
    }
    if (toSelect) SendMessageW(m_tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)toSelect);
    for (HTREEITEM item : sensorRows) SendMessageW(m_tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)item);
    SendMessageW(m_tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)parents[1]);

    SendMessageW(m_tree, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(m_tree, nullptr, TRUE);
    UpdateWindow(m_tree);
}
