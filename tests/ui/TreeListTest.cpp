#include <gtest/gtest.h>

#include "harness/Harness.h"
#include "ui/TreeList.h"

namespace {

std::wstring Describe(const std::vector<CellLayout>& cells)
{
    std::wstring text;
    for (const CellLayout& cell : cells) {
        wchar_t part[128];
        swprintf(part, 128, L"[%d %ls %ld-%ld]", cell.column, cell.text.Text(), cell.rect.left, cell.rect.right);
        text += part;
    }
    return text;
}

}  // namespace

TEST(TreeList, CellsFollowTheColumns)
{
    std::vector<int> widths = {400, 500};
    RECT text = {40, 10, 200, 28};
    std::vector<CellLayout> cells;
    EXPECT_FALSE(LayoutRowCells(L"Name\tValue", widths, text, cells));
    EXPECT_EQ(L"[0 Name 41-395][1 Value 404-895]", Describe(cells));
    EXPECT_EQ(11, cells[0].rect.top);
    EXPECT_EQ(27, cells[0].rect.bottom);
    EXPECT_TRUE(LayoutRowCells(L"Accelerometer\v", widths, text, cells));
    EXPECT_EQ(L"[0 Accelerometer 41-895]", Describe(cells)) << "a span row crosses both columns";
    LayoutRowCells(L"a\tb\tc", widths, text, cells);
    EXPECT_EQ(2u, cells.size()) << "three cells, two columns";
    LayoutRowCells(L"\t\tonly", widths, text, cells);
    EXPECT_EQ(L"[0 only 41-395]", Describe(cells)) << "empty tokens are skipped";
    LayoutRowCells(L"x\ty", std::vector<int>(), text, cells);
    EXPECT_TRUE(cells.empty());
    EXPECT_EQ(600, TreeList::ScaleWidth(400, 144));
    EXPECT_EQ(400, TreeList::ScaleWidth(400, 96));
}

TEST(TreeList, VisualStates)
{
    EXPECT_EQ(1, RowVisualState(0, true));
    EXPECT_EQ(3, RowVisualState(CDIS_SELECTED, true));
    EXPECT_EQ(3, RowVisualState(CDIS_SELECTED | CDIS_FOCUS, true));
    EXPECT_EQ(5, RowVisualState(CDIS_SELECTED, false));
    EXPECT_EQ(2, RowVisualState(CDIS_FOCUS, true));
    EXPECT_EQ(2, RowVisualState(CDIS_HOT, true));
    EXPECT_EQ(2, RowVisualState(CDIS_HOT | CDIS_FOCUS, false));
    EXPECT_EQ(6, RowVisualState(CDIS_SELECTED | CDIS_HOT, true));
    EXPECT_EQ(6, RowVisualState(CDIS_SELECTED | CDIS_HOT | CDIS_FOCUS, false));
}

namespace {

struct Host {
    HWND parent = nullptr;
    HWND tree = nullptr;
    Host()
    {
        parent = CreateWindowExW(0, L"#32770", L"host", WS_POPUP | WS_VISIBLE, 0, 0, 500, 400, nullptr, nullptr,
                                 nullptr, nullptr);
        tree = CreateWindowExW(0, WC_TREEVIEWW, L"", WS_CHILD | WS_VISIBLE | WS_BORDER | TVS_HASLINES, 10, 10, 400, 300,
                               parent, nullptr, nullptr, nullptr);
        SendMessageW(tree, TVM_SETITEMHEIGHT, 12, 0);
    }
    ~Host() { DestroyWindow(parent); }
};

// The whole row's rectangle in screen coordinates.
bool RowOnScreen(HWND tree, HTREEITEM row, RECT& rect)
{
    // TVM_GETITEMRECT takes the item in the rectangle's place.
    union {
        RECT rect;
        HTREEITEM item;
    } itemRect;
    itemRect.item = row;
    if (!SendMessageW(tree, TVM_GETITEMRECT, FALSE, (LPARAM)&itemRect.rect)) return false;
    rect = itemRect.rect;
    MapWindowPoints(tree, nullptr, (POINT*)&rect, 2);
    return true;
}

// Paints the whole tree now and gives the display a moment to show it.
void PaintNow(HWND tree)
{
    RedrawWindow(tree, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);
    Sleep(200);
}

// The host is no dialog: routes the tree's notifications as a dialog would.
class NotifyRouter {
public:
    NotifyRouter(HWND parent, TreeList& list) : m_parent(parent)
    {
        SetPropW(parent, L"list", (HANDLE)&list);
        SetPropW(parent, L"previous", (HANDLE)GetWindowLongPtrW(parent, GWLP_WNDPROC));
        SetWindowLongPtrW(parent, GWLP_WNDPROC, (LONG_PTR)Proc);
    }
    ~NotifyRouter() { Remove(); }
    void Remove()
    {
        if (!m_parent) return;
        SetWindowLongPtrW(m_parent, GWLP_WNDPROC, (LONG_PTR)GetPropW(m_parent, L"previous"));
        m_parent = nullptr;
    }

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        TreeList* list = (TreeList*)GetPropW(window, L"list");
        LRESULT result = 0;
        if (message == WM_NOTIFY && list && list->HandleNotify(window, wParam, (NMHDR*)lParam, &result)) return result;
        return CallWindowProcW((WNDPROC)GetPropW(window, L"previous"), window, message, wParam, lParam);
    }
    HWND m_parent;
};

}  // namespace

TEST(TreeList, AttachPlacesTheHeaderAndKeepsOrDropsImages)
{
    Host host;
    TreeList list;
    ASSERT_EQ(1, list.AttachTreeList(host.tree, GetModuleHandleW(nullptr), TreeListFlags::KeepImages));
    ASSERT_NE(nullptr, list.Header());
    EXPECT_GE(list.ItemHeight(), 18) << "raised to 18";
    RECT header, tree;
    GetWindowRect(list.Header(), &header);
    GetWindowRect(host.tree, &tree);
    EXPECT_EQ(header.bottom, tree.top) << "the tree sits below the header";
    EXPECT_EQ(header.right - header.left, tree.right - tree.left);
    EXPECT_EQ(0, list.AddColumn(L"Item", 0, 400, 0));
    EXPECT_EQ(1, list.AddColumn(L"Value", 1, 500, 0));
    EXPECT_EQ(2, (int)SendMessageW(list.Header(), HDM_GETITEMCOUNT, 0, 0));
    RECT column;
    SendMessageW(list.Header(), HDM_GETITEMRECT, 0, (LPARAM)&column);
    EXPECT_EQ(400, column.right - column.left) << "96 dots per inch here";

    EXPECT_EQ(0, list.AddIcon(201));
    HTREEITEM root = list.InsertRow(TVI_ROOT, TVI_LAST, L"Sensors", 0, 0, 1, 0);
    ASSERT_NE(nullptr, root);
    HTREEITEM child = list.InsertRow(root, TVI_LAST, L"Name\tValue", 0, 0, 0, 77);
    list.ExpandRow(root, TVE_EXPAND);
    EXPECT_EQ(1, list.SelectRow(child));
    WideString text;
    EXPECT_EQ(1, list.SelectedText(text));
    EXPECT_STREQ(L"Name\tValue", text.Text());
    LPARAM parameter = 0;
    EXPECT_EQ(1, list.GetItem(child, nullptr, &parameter, nullptr, nullptr, nullptr));
    EXPECT_EQ(77, parameter);

    list.SetRedraw(false);
    list.SetRedraw(false);
    EXPECT_EQ(2, list.RedrawNesting());
    list.SetRedraw(true);
    list.SetRedraw(true);
    list.SetRedraw(true);  // one "on" too many does nothing
    EXPECT_EQ(0, list.RedrawNesting());

    list.DeleteAllRows();
    EXPECT_EQ(1, ImageList_GetImageCount(list.Images())) << "kept with the keep-images bit";

    // The header follows the tree's width.
    SetWindowPos(host.tree, nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER);
    GetWindowRect(list.Header(), &header);
    EXPECT_EQ(300, header.right - header.left);
    list.Detach();
    EXPECT_EQ(nullptr, list.Header());

    Host other;
    TreeList dropping;
    ASSERT_EQ(1, dropping.AttachTreeList(other.tree, GetModuleHandleW(nullptr), 0));
    dropping.AddIcon(201);
    dropping.DeleteAllRows();
    EXPECT_EQ(0, ImageList_GetImageCount(dropping.Images())) << "removed without the bit";
}

TEST(TreeList, PaintsCellsUnderTheirColumns)
{
    Host host;
    TreeList list;
    ASSERT_EQ(1, list.AttachTreeList(host.tree, GetModuleHandleW(nullptr), TreeListFlags::KeepImages));
    list.AddColumn(L"Item", 0, 150, 0);
    list.AddColumn(L"Value", 1, 200, 0);
    HTREEITEM row = list.InsertRow(TVI_ROOT, TVI_LAST, L"WWWWWWWW\tMMMMMMMM", 0, 0, 0, 0);
    ASSERT_NE(nullptr, row);
    NotifyRouter router(host.parent, list);
    PaintNow(host.tree);

    RECT rowRect;
    ASSERT_TRUE(RowOnScreen(host.tree, row, rowRect));
    RECT headerRect;
    GetWindowRect(list.Header(), &headerRect);

    harness::Image screen;
    ASSERT_TRUE(harness::CaptureScreen(screen));
    auto darkPixels = [&](int left, int right) {
        int dark = 0;
        for (int y = rowRect.top; y < rowRect.bottom; y++)
            for (int x = left; x < right; x++) {
                unsigned long p = screen.Pixel(x, y);
                if (((p >> 16) & 0xFF) < 100 && ((p >> 8) & 0xFF) < 100 && (p & 0xFF) < 100) dark++;
            }
        return dark;
    };
    int firstColumn = darkPixels(headerRect.left + 20, headerRect.left + 150);
    int secondColumn = darkPixels(headerRect.left + 154, headerRect.left + 350);
    int beyond = darkPixels(headerRect.left + 352, headerRect.left + 395);
    EXPECT_GT(firstColumn, 30) << "the name is drawn under Item";
    EXPECT_GT(secondColumn, 30) << "the value is drawn under Value, not after the tab in one line";
    EXPECT_EQ(0, beyond);
    router.Remove();
    list.Detach();
}

TEST(TreeList, ASelectedRowShowsTheFocusOfEachPaint)
{
    Host host;
    SetWindowLongPtrW(host.tree, GWL_STYLE, GetWindowLongPtrW(host.tree, GWL_STYLE) | TVS_SHOWSELALWAYS);
    TreeList list;
    ASSERT_EQ(1, list.AttachTreeList(host.tree, GetModuleHandleW(nullptr), TreeListFlags::KeepImages));
    list.AddColumn(L"Item", 0, 150, 0);
    list.AddColumn(L"Value", 1, 200, 0);
    HTREEITEM row = list.InsertRow(TVI_ROOT, TVI_LAST, L"name\tvalue", 0, 0, 0, 0);
    ASSERT_NE(nullptr, row);
    SendMessageW(host.tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)row);
    NotifyRouter router(host.parent, list);
    HWND other = CreateWindowExW(0, L"BUTTON", L"other", WS_CHILD | WS_VISIBLE, 420, 10, 60, 20, host.parent, nullptr,
                                 nullptr, nullptr);
    SetForegroundWindow(host.parent);
    RECT rowRect;
    ASSERT_TRUE(RowOnScreen(host.tree, row, rowRect));
    // The row's pixels after a paint with the focus on `focus`.
    auto paintedWith = [&](HWND focus) {
        SetFocus(focus);
        PaintNow(host.tree);
        harness::Image screen;
        std::vector<unsigned long> pixels;
        if (!harness::CaptureScreen(screen)) return pixels;
        for (int y = rowRect.top; y < rowRect.bottom; y++)
            for (int x = rowRect.left + 20; x < rowRect.left + 300; x++) pixels.push_back(screen.Pixel(x, y));
        return pixels;
    };
    std::vector<unsigned long> focused = paintedWith(host.tree);
    ASSERT_EQ(host.tree, GetFocus());
    std::vector<unsigned long> unfocused = paintedWith(other);
    ASSERT_EQ(other, GetFocus());
    std::vector<unsigned long> focusedAgain = paintedWith(host.tree);
    ASSERT_FALSE(focused.empty());
    EXPECT_NE(focused, unfocused) << "the selection looks as the focus is at that paint (themed " << list.Themed()
                                  << ")";
    EXPECT_EQ(focused, focusedAgain);
    router.Remove();
    DestroyWindow(other);
    list.Detach();
}

namespace {

int g_keys = 0;
HTREEITEM g_collapsed = nullptr;

}  // namespace

TEST(TreeList, NotificationRouting)
{
    Host host;
    TreeList list;
    ASSERT_EQ(1, list.AttachTreeList(host.tree, GetModuleHandleW(nullptr), TreeListFlags::KeepImages));
    HTREEITEM root = list.InsertRow(TVI_ROOT, TVI_LAST, L"root", 0, 0, 1, 0);
    list.InsertRow(root, TVI_LAST, L"child", 0, 0, 0, 0);
    LRESULT result = -1;

    NMTVCUSTOMDRAW draw = {};
    draw.nmcd.hdr.hwndFrom = host.tree;
    draw.nmcd.hdr.code = NM_CUSTOMDRAW;
    draw.nmcd.dwDrawStage = CDDS_PREPAINT;
    EXPECT_EQ(1, list.HandleNotify(host.parent, 0, &draw.nmcd.hdr, &result));
    EXPECT_EQ(CDRF_NOTIFYITEMDRAW, result);
    EXPECT_EQ(CDRF_NOTIFYITEMDRAW, GetWindowLongPtrW(host.parent, DWLP_MSGRESULT)) << "also the dialog's result";
    draw.nmcd.dwDrawStage = CDDS_POSTPAINT;
    EXPECT_EQ(1, list.HandleNotify(host.parent, 0, &draw.nmcd.hdr, &result));
    EXPECT_EQ(CDRF_DODEFAULT, result);

    NMTVKEYDOWN key = {};
    key.hdr.hwndFrom = host.tree;
    key.hdr.code = TVN_KEYDOWN;
    key.wVKey = 'A';
    EXPECT_EQ(0, list.HandleNotify(host.parent, 0, &key.hdr, &result)) << "no hook: not handled";
    list.Hooks().keyDown = [](WORD, void*) { g_keys++; };
    EXPECT_EQ(1, list.HandleNotify(host.parent, 0, &key.hdr, &result));
    EXPECT_EQ(1, g_keys);

    NMTREEVIEWW expanding = {};
    expanding.hdr.hwndFrom = host.tree;
    expanding.hdr.code = TVN_ITEMEXPANDINGW;
    expanding.action = TVE_COLLAPSE;
    expanding.itemNew.hItem = root;
    list.Hooks().collapsing = [](HTREEITEM item, void*) { g_collapsed = item; };
    result = -1;
    EXPECT_EQ(1, list.HandleNotify(host.parent, 0, &expanding.hdr, &result));
    EXPECT_EQ(0, result);
    EXPECT_EQ(root, g_collapsed);
    expanding.action = TVE_TOGGLE;
    EXPECT_EQ(0, list.HandleNotify(host.parent, 0, &expanding.hdr, &result)) << "other actions are not handled";

    NMHDR other = {host.tree, 0, NM_SETFOCUS};
    EXPECT_EQ(0, list.HandleNotify(host.parent, 0, &other, &result));
    NMHDR foreign = {host.parent, 0, NM_CLICK};
    EXPECT_EQ(0, list.HandleNotify(host.parent, 0, &foreign, &result)) << "not from this tree";
    list.Detach();
}
