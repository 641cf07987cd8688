#include "app/PropertiesWindow.h"

#include "app/CopyText.h"
#include "app/Endpoints.h"
#include "app/Resources.h"
#include "ui/Clipboard.h"
#include "ui/ContextMenu.h"
#include "ui/Placement.h"

namespace {

const UINT_PTR RefreshTimer = 1;
const UINT RefreshInterval = 1000;  // a change the sensor did not report shows within this
const UINT CopyCommand = 1;
const UINT CopyAllCommand = 2;

bool SameRows(const std::vector<DetailRow>& a, const std::vector<DetailRow>& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (!a[i].name.Equals(b[i].name) || !a[i].text.Equals(b[i].text)) return false;
    return true;
}

}  // namespace

std::wstring DetailRowsText(const std::vector<DetailRow>& rows, int only)
{
    std::wstring text;
    for (size_t i = 0; i < rows.size(); i++) {
        if (only >= 0 && (size_t)only != i) continue;
        text += ClipboardCell(rows[i].name.Text());
        text += L'\t';
        text += ClipboardCell(rows[i].text.Text());
        text += L"\r\n";
    }
    return text;
}

PropertiesWindow::PropertiesWindow(const GUID& id, const wchar_t* name, SensorSource source, void* user)
    : m_id(id), m_source(source), m_user(user), m_cascade(0), m_connected(false), m_titled(false)
{
    m_name.Assign(name);
}

PropertiesWindow::~PropertiesWindow()
{
    m_tree.Detach();
}

HWND PropertiesWindow::Open(HINSTANCE instance, HWND owner, int cascade)
{
    m_cascade = cascade;
    return CreateModeless(instance, IDD_PROPERTIES, DialogFlags::Modeless, owner);
}

int PropertiesWindow::OnInitDialog()
{
    SetIcons(IDI_APPLICATION_ICON);
    m_tree.AttachTreeList(Item(IDC_PROPERTY_TREE), m_instance, TreeListFlags::StaticHeader);
    m_tree.Hooks().keyDown = TreeKeyDown;
    m_tree.Hooks().user = this;
    m_tree.AddColumn(L"Property", 0, 190, 0);
    m_tree.AddColumn(L"Value", 1, 280, 0);
    SendDlgItemMessageW(m_window, IDC_INTERVAL, EM_SETLIMITTEXT, 32, 0);
    m_grip.Attach(m_window);
    const struct {
        int id;
        DWORD flags;
    } anchors[5] = {
        {IDC_PROPERTY_TREE, AnchorFlags::StretchWidth | AnchorFlags::StretchHeight},
        {IDC_INTERVAL_LABEL, AnchorFlags::FollowBottom},
        {IDC_INTERVAL, AnchorFlags::FollowBottom},
        {IDC_SET_INTERVAL, AnchorFlags::FollowBottom},
        {IDC_INTERVAL_ANSWER, AnchorFlags::FollowBottom | AnchorFlags::StretchWidth},
    };
    for (int i = 0; i < 5; i++) m_anchors[i].SetUp(Item(anchors[i].id), anchors[i].flags, 0, 0);
    SetMinTrackSize(200, 120, 1);
    RestoreWindowPlacement(m_window, HKEY_CURRENT_USER, ORVANE_REGISTRY_KEY, L"Properties", 0, m_api);
    CascadeWindow(m_window, m_cascade);
    Refresh();
    SetTimer(m_window, RefreshTimer, RefreshInterval, nullptr);
    ShowWindow(m_window, SW_SHOW);
    return 1;
}

int PropertiesWindow::CanClose(INT_PTR)
{
    KillTimer(m_window, RefreshTimer);
    SaveWindowPlacement(m_window, HKEY_CURRENT_USER, ORVANE_REGISTRY_KEY, L"Properties", nullptr, 0);
    m_tree.Detach();
    return 1;
}

void PropertiesWindow::UpdateTitle()
{
    WideString title;
    title.Assign(m_name);
    if (!m_connected) title.Append(L" (Not connected)");
    SetText(title);
}

void PropertiesWindow::Refresh()
{
    ISensor* sensor = m_source ? m_source(m_id, m_user) : nullptr;
    bool connected = sensor != nullptr;
    if (sensor) {
        ReadSensorDetails(sensor, m_rows);
        sensor->Release();
    }
    // A sensor that left keeps its last rows; the title and the answer line say so.
    if (connected != m_connected || !m_titled) {
        m_titled = true;
        m_connected = connected;
        UpdateTitle();
        EnableWindow(Item(IDC_SET_INTERVAL), connected ? TRUE : FALSE);
        if (!connected) SetDlgItemTextW(m_window, IDC_INTERVAL_ANSWER, L"Not connected");
    }
    if (connected) ShowRows();
}

void PropertiesWindow::ShowRows()
{
    if (!m_tree.Tree() || SameRows(m_rows, m_shown)) return;
    HWND tree = m_tree.Tree();
    // The selected row stays selected by its place, and the view where it was.
    int selected = -1, index = 0;
    HTREEITEM caret = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    HTREEITEM top = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_FIRSTVISIBLE, 0);
    int topIndex = -1;
    for (HTREEITEM item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0); item;
         item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)item), index++) {
        if (item == caret) selected = index;
        if (item == top) topIndex = index;
    }
    m_tree.SetRedraw(false);
    m_tree.DeleteAllRows();
    WideString text;
    HTREEITEM toSelect = nullptr, toShow = nullptr;
    for (size_t i = 0; i < m_rows.size(); i++) {
        text.Assign(m_rows[i].name);
        text.Append(CellSeparator);
        text.Append(m_rows[i].text);
        HTREEITEM item = m_tree.InsertRow(TVI_ROOT, TVI_LAST, text, 0, 0, 0, 0);
        if ((int)i == selected) toSelect = item;
        if ((int)i == topIndex) toShow = item;
    }
    if (toSelect) m_tree.SelectRow(toSelect);
    if (toShow) SendMessageW(tree, TVM_SELECTITEM, TVGN_FIRSTVISIBLE, (LPARAM)toShow);
    m_tree.SetRedraw(true);
    m_shown = m_rows;
}

void PropertiesWindow::SetInterval()
{
    // The whole text, however long: a pasted or set text is not held to the box's limit,
    // and a part of it could be another number.
    HWND box = Item(IDC_INTERVAL);
    int length = GetWindowTextLengthW(box);
    WideString typed;
    if (wchar_t* buffer = typed.Buffer(length + 1)) {
        buffer[0] = L'\0';
        GetWindowTextW(box, buffer, length + 1);
        typed.SyncLength();
    }
    DWORD milliseconds = 0;
    WideString answer;
    // Checked before anything is sent.
    if (!ParseReportInterval(typed, milliseconds, answer)) {
        SetDlgItemTextW(m_window, IDC_INTERVAL_ANSWER, answer);
        SendDlgItemMessageW(m_window, IDC_INTERVAL, EM_SETSEL, 0, -1);
        SetFocus(Item(IDC_INTERVAL));
        return;
    }
    ISensor* sensor = m_source ? m_source(m_id, m_user) : nullptr;
    if (!sensor) {
        Refresh();
        return;
    }
    SetReportInterval(sensor, milliseconds, answer);
    sensor->Release();
    SetDlgItemTextW(m_window, IDC_INTERVAL_ANSWER, answer);
    Refresh();
}

void PropertiesWindow::CopyRows(bool all)
{
    int only = -1;
    if (!all) {
        HWND tree = m_tree.Tree();
        HTREEITEM caret = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
        if (!caret) return;
        int index = 0;
        for (HTREEITEM item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0); item && item != caret;
             item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)item))
            index++;
        only = index;
    }
    std::wstring text = DetailRowsText(m_shown, only);
    if (!text.empty()) PutTextOnClipboard(m_window, text);
}

void PropertiesWindow::TreeKeyDown(WORD key, void* self)
{
    if (key == 'C' && (GetKeyState(VK_CONTROL) & 0x8000) && !(GetKeyState(VK_MENU) & 0x8000))
        static_cast<PropertiesWindow*>(self)->CopyRows(false);
}

int PropertiesWindow::OnCommand(int id, WPARAM wParam, LPARAM lParam)
{
    if (id == IDC_SET_INTERVAL || id == IDOK) {
        SetInterval();
        return 1;
    }
    return DialogBase::OnCommand(id, wParam, lParam);
}

INT_PTR PropertiesWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE:
        m_grip.Invalidate();
        for (LayoutAnchor& anchor : m_anchors) anchor.Move(wParam, lParam);
        return DialogBase::OnMessage(message, wParam, lParam);
    case WM_PAINT:
        if (m_grip.Paint()) return 1;
        break;
    case WM_NCHITTEST:
        if (m_grip.HitTest(wParam, lParam)) return 1;
        break;
    case WM_NOTIFY: {
        LRESULT result = 0;
        if (m_tree.HandleNotify(m_window, wParam, (NMHDR*)lParam, &result)) return (INT_PTR)result;
        break;
    }
    case WM_CONTEXTMENU:
        if ((HWND)wParam == m_tree.Tree()) {
            POINT point = m_tree.ContextMenuPoint(lParam);
            HTREEITEM caret = (HTREEITEM)SendMessageW(m_tree.Tree(), TVM_GETNEXTITEM, TVGN_CARET, 0);
            UINT command = TrackContextMenu(m_window, point,
                                            {{CopyCommand, L"Copy", caret != nullptr}, {CopyAllCommand, L"Copy All", true}});
            if (command) CopyRows(command == CopyAllCommand);
            return 1;
        }
        break;
    case WM_TIMER:
        if (wParam == RefreshTimer) {
            Refresh();
            return 1;
        }
        break;
    default:
        break;
    }
    return DialogBase::OnMessage(message, wParam, lParam);
}
