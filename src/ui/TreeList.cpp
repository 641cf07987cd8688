#include "ui/TreeList.h"

#include "sysinfo/WindowsVersion.h"

namespace {

const int TreeItemPart = 1;  // TVP_TREEITEM
const int CheckBoxPart = 3;  // BP_CHECKBOX
const UINT CellTextFormat = DT_END_ELLIPSIS | DT_NOPREFIX | DT_SINGLELINE | DT_VCENTER;

}  // namespace

// ---------------------------------------------------------------------------------------
// TreeViewWrapper

TreeViewWrapper::TreeViewWrapper()
    : m_instance(nullptr), m_flags(0), m_redrawNesting(0), m_editHook(SubclassTag::TreeEdit), m_tree(nullptr)
{
}

TreeViewWrapper::~TreeViewWrapper()
{
    m_editHook.Detach();
}

int TreeViewWrapper::AttachTreeList(HWND tree, HINSTANCE instance, DWORD flags)
{
    m_tree = tree;
    m_instance = instance;
    m_flags = flags;
    return tree != nullptr;
}

void TreeViewWrapper::Detach()
{
    if (m_tree) {
        SetRedraw(false);
        DeleteAllRows();
        SetRedraw(true);
        if (m_flags & TreeListFlags::CheckBoxes) {
            HIMAGELIST states = (HIMAGELIST)SendMessageW(m_tree, TVM_SETIMAGELIST, TVSIL_STATE, 0);
            if (states) ImageList_Destroy(states);
        }
        SendMessageW(m_tree, TVM_SETIMAGELIST, TVSIL_NORMAL, 0);
    }
    m_editHook.Detach();
    m_theme.Close();
    m_images.Destroy();
    m_instance = nullptr;
    m_tree = nullptr;
    m_redrawNesting = 0;
    m_hooks = TreeHooks();
}

int TreeViewWrapper::StoreResult(HWND owner, LRESULT value, LRESULT* result)
{
    if (result) *result = value;
    if (owner) SetWindowLongPtrW(owner, DWLP_MSGRESULT, value);
    return 1;
}

int TreeViewWrapper::EditHook(HWND, UINT message, WPARAM, LPARAM, LRESULT* result, void*)
{
    if (message != WM_GETDLGCODE) return 0;
    *result = DLGC_WANTALLKEYS;
    return 1;
}

int TreeViewWrapper::HandleNotify(HWND owner, WPARAM, NMHDR* header, LRESULT* result)
{
    if (!header || header->hwndFrom != m_tree || !m_tree) return 0;
    TreeHooks& h = m_hooks;
    switch (header->code) {
    case TVN_SELCHANGEDW:
        if (h.selectionChanged) h.selectionChanged(((NMTREEVIEWW*)header)->itemNew.hItem, h.user);
        return 1;
    case TVN_ITEMEXPANDINGW: {
        NMTREEVIEWW* view = (NMTREEVIEWW*)header;
        if (view->action == TVE_COLLAPSE) {
            if (h.collapsing) h.collapsing(view->itemNew.hItem, h.user);
            if (!(m_flags & TreeListFlags::KeepChildrenOnCollapse))
                SendMessageW(m_tree, TVM_EXPAND, TVE_COLLAPSE | TVE_COLLAPSERESET, (LPARAM)view->itemNew.hItem);
            return StoreResult(owner, 0, result);
        }
        if (view->action == TVE_EXPAND) {
            if (h.expanding) h.expanding(view->itemNew.hItem, h.user);
            return StoreResult(owner, 0, result);
        }
        return 0;
    }
    case TVN_DELETEITEMW:
        if (h.deleted) h.deleted(((NMTREEVIEWW*)header)->itemOld.hItem, h.user);
        return 1;
    case TVN_GETDISPINFOW:
        if (h.displayInfo) h.displayInfo((NMTVDISPINFOW*)header, h.user);
        if (result) *result = 1;
        return 1;
    case TVN_BEGINLABELEDITW: {
        NMTVDISPINFOW* info = (NMTVDISPINFOW*)header;
        LRESULT veto = h.beginLabelEdit
                           ? h.beginLabelEdit(m_tree, info->item.hItem, info->item.lParam, info->item.pszText, h.editUser)
                           : 0;
        if (!veto) {
            HWND edit = (HWND)SendMessageW(m_tree, TVM_GETEDITCONTROL, 0, 0);
            if (edit) m_editHook.Attach(edit, EditHook, this);
        }
        return StoreResult(owner, veto, result);
    }
    case TVN_ENDLABELEDITW: {
        m_editHook.Detach();
        NMTVDISPINFOW* info = (NMTVDISPINFOW*)header;
        if (!h.endLabelEdit) return 1;
        return StoreResult(owner,
                           h.endLabelEdit(m_tree, info->item.hItem, info->item.lParam, info->item.pszText, h.editUser),
                           result);
    }
    case TVN_KEYDOWN:
        if (!h.keyDown) return 0;
        h.keyDown(((NMTVKEYDOWN*)header)->wVKey, h.user);
        return 1;
    case NM_CLICK:
    case NM_DBLCLK:
    case NM_RETURN: {
        void (*hook)(HTREEITEM, void*) =
            header->code == NM_CLICK ? h.click : header->code == NM_DBLCLK ? h.doubleClick : h.returnKey;
        if (!hook) return 0;
        hook((HTREEITEM)SendMessageW(m_tree, TVM_GETNEXTITEM, TVGN_CARET, 0), h.user);
        return 1;
    }
    case NM_RCLICK: {
        if (!h.rightClick) return 0;
        HTREEITEM item = (HTREEITEM)SendMessageW(m_tree, TVM_GETNEXTITEM, TVGN_DROPHILITE, 0);
        if (!item) item = (HTREEITEM)SendMessageW(m_tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
        h.rightClick(item, h.user);
        return 1;
    }
    default:
        return 0;
    }
}

DWORD TreeViewWrapper::SetExtendedStyle(DWORD mask, DWORD style)
{
    return (DWORD)SendMessageW(m_tree, TVM_SETEXTENDEDSTYLE, mask, style);
}

int TreeViewWrapper::AddIcon(int iconId)
{
    return m_images.AddIcon(m_instance, iconId);
}

HTREEITEM TreeViewWrapper::InsertRow(HTREEITEM parent, HTREEITEM after, const wchar_t* text, int image,
                                     int selectedImage, int children, LPARAM parameter)
{
    TVINSERTSTRUCTW insert;
    ZeroMemory(&insert, sizeof(insert));
    insert.hParent = parent;
    insert.hInsertAfter = after;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN | TVIF_PARAM;
    insert.item.pszText = const_cast<wchar_t*>(text ? text : L"");
    insert.item.iImage = image;
    insert.item.iSelectedImage = selectedImage;
    insert.item.cChildren = children;
    insert.item.lParam = parameter;
    return (HTREEITEM)SendMessageW(m_tree, TVM_INSERTITEMW, 0, (LPARAM)&insert);
}

void TreeViewWrapper::DeleteAllRows()
{
    SendMessageW(m_tree, TVM_DELETEITEM, 0, (LPARAM)TVI_ROOT);
    if (!(m_flags & (TreeListFlags::SystemImages | TreeListFlags::KeepImages))) m_images.RemoveAll();
}

int TreeViewWrapper::SelectRow(HTREEITEM item)
{
    return (int)SendMessageW(m_tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)item);
}

POINT TreeViewWrapper::ContextMenuPoint(LPARAM lParam)
{
    POINT point = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
    if (lParam != -1) {
        SelectRowAt(point);
        return point;
    }
    HTREEITEM item = m_tree ? (HTREEITEM)SendMessageW(m_tree, TVM_GETNEXTITEM, TVGN_CARET, 0) : nullptr;
    RECT row = {0, 0, 0, 0};
    memcpy(&row, &item, sizeof(item));  // the message takes the item in the rectangle
    if (!item || !SendMessageW(m_tree, TVM_GETITEMRECT, TRUE, (LPARAM)&row)) SetRectEmpty(&row);
    point.x = row.left;
    point.y = row.bottom;
    if (m_tree) ClientToScreen(m_tree, &point);
    return point;
}

int TreeViewWrapper::SelectRowAt(POINT screen)
{
    if (!m_tree) return 0;
    TVHITTESTINFO hit;
    ZeroMemory(&hit, sizeof(hit));
    hit.pt = screen;
    ScreenToClient(m_tree, &hit.pt);
    if (!SendMessageW(m_tree, TVM_HITTEST, 0, (LPARAM)&hit) || !hit.hItem ||
        !(hit.flags & (TVHT_ONITEM | TVHT_ONITEMINDENT | TVHT_ONITEMBUTTON | TVHT_ONITEMRIGHT)))
        return 0;
    return SendMessageW(m_tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)hit.hItem) ? 1 : 0;
}

int TreeViewWrapper::ExpandRow(HTREEITEM item, UINT action)
{
    return (int)SendMessageW(m_tree, TVM_EXPAND, action, (LPARAM)item);
}

void TreeViewWrapper::SetRedraw(bool on)
{
    if (!on) {
        if (++m_redrawNesting == 1) SendMessageW(m_tree, WM_SETREDRAW, FALSE, 0);
        return;
    }
    if (m_redrawNesting == 0) return;
    if (--m_redrawNesting == 0) {
        SendMessageW(m_tree, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(m_tree, nullptr, TRUE);
        UpdateWindow(m_tree);
    }
}

int TreeViewWrapper::SelectedText(WideString& text)
{
    text.Clear();
    HTREEITEM caret = (HTREEITEM)SendMessageW(m_tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    if (!caret) return 0;
    wchar_t buffer[MAX_PATH + 1] = L"";
    if (!GetItem(caret, buffer, nullptr, nullptr, nullptr, nullptr)) return 0;
    return text.Assign(buffer);
}

int TreeViewWrapper::GetItem(HTREEITEM item, wchar_t* text, LPARAM* parameter, int* image, int* selectedImage,
                             UINT* state, UINT stateMask, int* children)
{
    TVITEMW request;
    ZeroMemory(&request, sizeof(request));
    request.hItem = item;
    request.mask = TVIF_HANDLE;
    if (text) {
        request.mask |= TVIF_TEXT;
        request.pszText = text;
        request.cchTextMax = MAX_PATH;
        text[0] = L'\0';
    }
    if (parameter) request.mask |= TVIF_PARAM;
    if (image) request.mask |= TVIF_IMAGE;
    if (selectedImage) request.mask |= TVIF_SELECTEDIMAGE;
    if (state) {
        request.mask |= TVIF_STATE;
        request.stateMask = stateMask;
    }
    if (children) request.mask |= TVIF_CHILDREN;
    if (!SendMessageW(m_tree, TVM_GETITEMW, 0, (LPARAM)&request)) return 0;
    if (parameter) *parameter = request.lParam;
    if (image) *image = request.iImage;
    if (selectedImage) *selectedImage = request.iSelectedImage;
    if (state) *state = request.state & stateMask;
    if (children) *children = request.cChildren;
    return 1;
}

int TreeViewWrapper::ItemHeight() const
{
    return (int)SendMessageW(m_tree, TVM_GETITEMHEIGHT, 0, 0);
}

int TreeViewWrapper::SetItemHeight(int height)
{
    return (int)SendMessageW(m_tree, TVM_SETITEMHEIGHT, (WPARAM)height, 0);
}

// ---------------------------------------------------------------------------------------
// Row layout

bool LayoutRowCells(const wchar_t* text, const std::vector<int>& widths, const RECT& textRect,
                    std::vector<CellLayout>& cells)
{
    cells.clear();
    WideString row(text ? text : L"");
    bool span = row.EndsWith(SpanMarker);
    if (span) row.RemoveTrailing();
    int total = 0;
    for (int width : widths) total += width;
    total -= 3;
    int position = 0;
    int sum = 0;
    for (size_t column = 0; column < widths.size(); column++) {
        WideString token;
        if (!row.NextToken(position, L"\t", token)) break;
        CellLayout cell;
        cell.column = (int)column;
        cell.text = token;
        cell.rect.left = column == 0 ? textRect.left + 1 : sum + 4;
        cell.rect.right = span ? total - 2 : sum + widths[column] - 5;
        cell.rect.top = textRect.top + 1;
        cell.rect.bottom = textRect.bottom - 1;
        cells.push_back(cell);
        sum += widths[column];
    }
    return span;
}

int RowVisualState(UINT itemState, bool treeHasFocus)
{
    bool selected = (itemState & CDIS_SELECTED) != 0;
    bool focus = (itemState & CDIS_FOCUS) != 0;
    bool hot = (itemState & CDIS_HOT) != 0;
    int state;
    if (!selected && !focus && !hot)
        state = 1;
    else if (selected && !hot)
        state = 3;
    else if (!selected)
        state = 2;
    else
        state = 6;
    if (state == 3 && !treeHasFocus) state = 5;
    return state;
}

// ---------------------------------------------------------------------------------------
// TreeList

TreeList::TreeList()
    : m_header(nullptr), m_paintFocused(false), m_paintDc(nullptr), m_paintSurfaceBits(0),
      m_treeHook(SubclassTag::TreeList), m_themed(false), m_ownerDraw(nullptr), m_ownerDrawUser(nullptr)
{
}

TreeList::~TreeList()
{
    m_treeHook.Detach();
    if (m_header && IsWindow(m_header)) DestroyWindow(m_header);
}

int TreeList::AttachTreeList(HWND tree, HINSTANCE instance, DWORD flags)
{
    if (!TreeViewWrapper::AttachTreeList(tree, instance, flags)) return 0;
    LONG_PTR style = GetWindowLongPtrW(tree, GWL_STYLE);
    if (CommonControlsVersion() > 0x6000F) style = (style & ~(LONG_PTR)TVS_HASLINES) | TVS_TRACKSELECT;
    if (flags & TreeListFlags::CheckBoxes) style |= TVS_CHECKBOXES;
    SetWindowLongPtrW(tree, GWL_STYLE, style);

    if (flags & TreeListFlags::SystemImages)
        m_images.Create(IconListFlags::SystemList | IconListFlags::SmallIcons, 0, 0, 10, 20);
    else
        m_images.Create(IconListFlags::SmallIcons, 0, 0, 10, 20);
    SendMessageW(tree, TVM_SETIMAGELIST, TVSIL_NORMAL, (LPARAM)m_images.Handle());

    m_theme.SetWindowTheme(tree, L"explorer", nullptr);
    m_theme.Open(tree, L"TREEVIEW");
    m_themed = IsWindowsAtLeast(0x2000, 0) && m_theme.HasWindowTheme();
    m_buttonTheme.Open(nullptr, L"BUTTON");

    HWND parent = GetParent(tree);
    DWORD headerStyle = WS_CHILD | HDS_FULLDRAG | ((flags & TreeListFlags::StaticHeader) ? 0 : HDS_BUTTONS);
    m_header = CreateWindowExW(0, WC_HEADERW, L"", headerStyle, 0, 0, 0, 0, parent, nullptr, instance, nullptr);
    if (!m_header) return 0;
    SendMessageW(m_header, WM_SETFONT, SendMessageW(tree, WM_GETFONT, 0, 0), FALSE);
    if (ItemHeight() < 18) SetItemHeight(18);

    RECT rect;
    if (!GetWindowRect(tree, &rect)) return 0;
    MapWindowPoints(nullptr, parent, (POINT*)&rect, 2);
    WINDOWPOS position;
    ZeroMemory(&position, sizeof(position));
    HDLAYOUT layout = {&rect, &position};
    if (!SendMessageW(m_header, HDM_LAYOUT, 0, (LPARAM)&layout)) return 0;
    if (!SetWindowPos(m_header, position.hwndInsertAfter, position.x, position.y, position.cx, position.cy,
                      position.flags | SWP_SHOWWINDOW))
        return 0;
    if (!MoveWindow(tree, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE)) return 0;
    return m_treeHook.Attach(tree, TreeHook, this);
}

void TreeList::Detach()
{
    m_treeHook.Detach();
    TreeViewWrapper::Detach();
    m_buttonTheme.Close();
    if (m_header && IsWindow(m_header)) DestroyWindow(m_header);
    m_header = nullptr;
    m_ownerDraw = nullptr;
}

int TreeList::TreeHook(HWND window, UINT message, WPARAM wParam, LPARAM, LRESULT* result, void* context)
{
    TreeList* list = (TreeList*)context;
    if (message == WM_SIZE && list->m_header) {
        RECT tree, header;
        GetWindowRect(window, &tree);
        GetWindowRect(list->m_header, &header);
        SetWindowPos(list->m_header, nullptr, 0, 0, tree.right - tree.left, header.bottom - header.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    if ((message == WM_SYSKEYDOWN || message == WM_SYSKEYUP) && wParam == VK_F10 && (GetKeyState(VK_SHIFT) & 0x8000)) {
        // Shift+F10 asks for the context menu of the selected row, as the menu key does;
        // not every system's default handling says so, so the tree says it once itself.
        if (message == WM_SYSKEYDOWN) SendMessageW(window, WM_CONTEXTMENU, (WPARAM)window, (LPARAM)-1);
        *result = 0;
        return 1;
    }
    if (message == WM_KEYDOWN && wParam == VK_SPACE) {
        HTREEITEM caret = (HTREEITEM)SendMessageW(window, TVM_GETNEXTITEM, TVGN_CARET, 0);
        UINT state = 0;
        if (caret && list->GetItem(caret, nullptr, nullptr, nullptr, nullptr, &state) && (state & 0xF000) == 0) {
            *result = 0;
            return 1;
        }
    }
    return 0;
}

int TreeList::AddColumn(const wchar_t* text, int index, int width, int format)
{
    HDC dc = GetDC(m_header);
    int scaled = width;
    if (dc) {
        scaled = ScaleWidth(width, GetDeviceCaps(dc, LOGPIXELSX));
        ReleaseDC(m_header, dc);
    }
    HDITEMW item;
    ZeroMemory(&item, sizeof(item));
    item.mask = HDI_WIDTH | HDI_TEXT | HDI_FORMAT;
    item.cxy = scaled;
    item.pszText = const_cast<wchar_t*>(text ? text : L"");
    item.cchTextMax = text ? (int)wcslen(text) : 0;
    item.fmt = format | HDF_STRING;
    return (int)SendMessageW(m_header, HDM_INSERTITEMW, (WPARAM)index, (LPARAM)&item);
}

int TreeList::HandleNotify(HWND owner, WPARAM wParam, NMHDR* header, LRESULT* result)
{
    if (!header) return 0;
    if (header->hwndFrom == m_header && m_header) {
        if (header->code == HDN_ITEMCHANGINGW) InvalidateRect(m_tree, nullptr, FALSE);
        return 0;
    }
    if (header->hwndFrom == m_tree && m_tree && header->code == NM_CUSTOMDRAW) {
        NMTVCUSTOMDRAW* draw = (NMTVCUSTOMDRAW*)header;
        DWORD stage = draw->nmcd.dwDrawStage;
        if (stage == CDDS_PREPAINT) {
            m_columnWidths.clear();
            int columns = (int)SendMessageW(m_header, HDM_GETITEMCOUNT, 0, 0);
            for (int i = 0; i < columns; i++) {
                RECT column;
                if (!SendMessageW(m_header, HDM_GETITEMRECT, (WPARAM)i, (LPARAM)&column)) break;
                m_columnWidths.push_back(column.right - column.left);
            }
            m_paintFocused = GetFocus() == m_tree;
            m_paintDc = draw->nmcd.hdc;
            m_paintSurfaceBits = SurfaceBitsPerPixel(m_paintDc);
            return StoreResult(owner, CDRF_NOTIFYITEMDRAW, result);
        }
        if (stage != CDDS_ITEMPREPAINT) return StoreResult(owner, CDRF_DODEFAULT, result);
        if (!IsRectEmpty(&draw->nmcd.rc) && PaintRow(draw)) return StoreResult(owner, CDRF_SKIPDEFAULT, result);
    }
    return TreeViewWrapper::HandleNotify(owner, wParam, header, result);
}

bool TreeList::PaintRow(NMTVCUSTOMDRAW* draw)
{
    HDC dc = draw->nmcd.hdc;
    HTREEITEM item = (HTREEITEM)draw->nmcd.dwItemSpec;
    // TVM_GETITEMRECT takes the item in the rectangle's place.
    union ItemRect {
        RECT rect;
        HTREEITEM item;
    } row, textRow;
    row.item = item;
    textRow.item = item;
    if (!SendMessageW(m_tree, TVM_GETITEMRECT, FALSE, (LPARAM)&row.rect)) return false;
    if (!SendMessageW(m_tree, TVM_GETITEMRECT, TRUE, (LPARAM)&textRow.rect)) return false;
    const RECT textRect = textRow.rect;
    wchar_t text[MAX_PATH + 1];
    LPARAM parameter = 0;
    int image = -1, selectedImage = -1;
    UINT state = 0;
    if (!GetItem(item, text, &parameter, &image, &selectedImage, &state, 0xF000 | TVIS_SELECTED)) return false;

    FillRect(dc, &row.rect, GetSysColorBrush(COLOR_WINDOW));

    const std::vector<int>& widths = m_columnWidths;
    std::vector<CellLayout> cells;
    bool span = LayoutRowCells(text, widths, textRect, cells);
    int total = -3;
    for (int width : widths) total += width;

    if (m_flags & TreeListFlags::GridLines) {
        int sum = 0;
        for (size_t i = 0; i + 1 < widths.size() && !span; i++) {
            sum += widths[i];
            RECT edge = {sum - 2 - 2, textRect.top, sum - 2, textRect.bottom};
            DrawEdge(dc, &edge, BDR_SUNKENINNER, BF_RIGHT);
        }
        RECT bottom = {0, textRect.top, total, textRect.bottom};
        DrawEdge(dc, &bottom, BDR_SUNKENINNER, BF_BOTTOM);
    }

    int visual = RowVisualState(draw->nmcd.uItemState, m_paintFocused);
    if (m_themed && visual != 1) {
        RECT background = row.rect;
        background.right = total;
        m_theme.DrawBackground(dc, TreeItemPart, visual, &background);
    } else if (!m_themed && draw->clrTextBk != GetSysColor(COLOR_WINDOW)) {
        RECT background = {textRect.left, textRect.top, total, textRect.bottom - 1};
        if (background.left < background.right) {
            HBRUSH brush = CreateSolidBrush(draw->clrTextBk);
            FillRect(dc, &background, brush);
            DeleteObject(brush);
        }
    }
    SetBkMode(dc, TRANSPARENT);

    int imageWidth = m_images.Width();
    int imageHeight = m_images.Height();
    for (const CellLayout& cell : cells) {
        if (cell.column == 0) {
            if (m_flags & TreeListFlags::CheckBoxes) {
                int rowHeight = textRect.bottom - textRect.top;
                RECT box = {textRect.left - imageWidth - rowHeight + 2, textRect.top + 2, textRect.left - imageWidth - 2,
                            textRect.bottom - 2};
                UINT stateImage = state & 0xF000;
                if (stateImage == 0x1000 || stateImage == 0x2000) {
                    bool checked = stateImage == 0x2000;
                    if (!(m_themed && m_buttonTheme.DrawBackground(dc, CheckBoxPart, checked ? 5 : 1, &box)))
                        DrawFrameControl(dc, &box, DFC_BUTTON, DFCS_BUTTONCHECK | DFCS_FLAT | (checked ? DFCS_CHECKED : 0));
                }
            }
            if (!widths.empty() && textRect.left < widths[0]) {
                int shown = ((state & TVIS_SELECTED) && selectedImage != -1) ? selectedImage : image;
                int y = textRect.top + (textRect.bottom - textRect.top - imageHeight) / 2;
                int x = textRect.left - imageWidth - 1;
                // Over nothing but the window colour, the image can come from the list's
                // blended copies: the same pixels without blending them anew.
                bool plain = !(m_themed && visual != 1) && !(m_flags & TreeListFlags::GridLines) &&
                             x >= row.rect.left && y >= row.rect.top && y + imageHeight <= row.rect.bottom;
                if (plain)
                    m_images.DrawOver(GetSysColor(COLOR_WINDOW), shown, dc, x, y, ILD_TRANSPARENT,
                                      dc == m_paintDc ? m_paintSurfaceBits : SurfaceBitsPerPixel(dc));
                else
                    m_images.Draw(shown, dc, x, y, ILD_TRANSPARENT);
            }
        }
        RECT rect = cell.rect;
        if (cell.text.Equals(L"\f") && m_ownerDraw) {
            m_ownerDraw(item, parameter, &rect, dc, m_ownerDrawUser);
            continue;
        }
        if (!(m_themed &&
              m_theme.DrawText(dc, TreeItemPart, visual, cell.text, cell.text.Length(), CellTextFormat, 0, &rect))) {
            SetTextColor(dc, draw->clrText);
            ::DrawTextW(dc, cell.text, cell.text.Length(), &rect, CellTextFormat);
        }
    }
    return true;
}
