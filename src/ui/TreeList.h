// A tree view with columns: a header on top, row texts split at tabs into cells, every row
// painted by the control itself.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "common/WideString.h"
#include "ui/SubclassHook.h"
#include "ui/Theme.h"

const wchar_t CellSeparator = L'\t';
const wchar_t SpanMarker = L'\v';
const wchar_t OwnerDrawCell = L'\f';

namespace TreeListFlags {
const DWORD SystemImages = 0x1;
const DWORD CheckBoxes = 0x2;
const DWORD KeepChildrenOnCollapse = 0x4;
const DWORD KeepImages = 0x8;
const DWORD StaticHeader = 0x40000000;
const DWORD GridLines = 0x80000000;
}  // namespace TreeListFlags

// Optional hooks of a tree; none is needed for plain use.
struct TreeHooks {
    void (*selectionChanged)(HTREEITEM item, void* user) = nullptr;
    void (*expanding)(HTREEITEM item, void* user) = nullptr;
    void (*collapsing)(HTREEITEM item, void* user) = nullptr;
    void (*deleted)(HTREEITEM item, void* user) = nullptr;
    void (*displayInfo)(NMTVDISPINFOW* request, void* user) = nullptr;
    LRESULT (*beginLabelEdit)(HWND tree, HTREEITEM item, LPARAM parameter, const wchar_t* text, void* user) = nullptr;
    LRESULT (*endLabelEdit)(HWND tree, HTREEITEM item, LPARAM parameter, const wchar_t* text, void* user) = nullptr;
    void (*keyDown)(WORD key, void* user) = nullptr;
    void (*click)(HTREEITEM item, void* user) = nullptr;
    void (*doubleClick)(HTREEITEM item, void* user) = nullptr;
    void (*returnKey)(HTREEITEM item, void* user) = nullptr;
    void (*rightClick)(HTREEITEM item, void* user) = nullptr;
    void* user = nullptr;
    void* editUser = nullptr;
};

class TreeViewWrapper {
public:
    TreeViewWrapper();
    virtual ~TreeViewWrapper();
    TreeViewWrapper(const TreeViewWrapper&) = delete;
    TreeViewWrapper& operator=(const TreeViewWrapper&) = delete;

    virtual int AttachTreeList(HWND tree, HINSTANCE instance, DWORD flags);
    virtual void Detach();
    // Answers 1 when it handled the notification; the result is then also the owner
    // dialog's message result.
    virtual int HandleNotify(HWND owner, WPARAM wParam, NMHDR* header, LRESULT* result);

    HWND Tree() const { return m_tree; }
    DWORD Flags() const { return m_flags; }
    TreeHooks& Hooks() { return m_hooks; }
    HIMAGELIST Images() const { return m_images.Handle(); }

    DWORD SetExtendedStyle(DWORD mask, DWORD style);
    int AddIcon(int iconId);
    HTREEITEM InsertRow(HTREEITEM parent, HTREEITEM after, const wchar_t* text, int image, int selectedImage,
                        int children, LPARAM parameter);
    void DeleteAllRows();
    int SelectRow(HTREEITEM item);
    // Selects the row at a screen point, as the system's own trees do before a context
    // menu: anywhere on the row counts (indent, button, icon, text, the space right of it).
    int SelectRowAt(POINT screen);
    // Where a context menu asked for with WM_CONTEXTMENU's `lParam` opens, in screen
    // coordinates: a right click selects the row under the mouse and opens there; the menu
    // key or Shift+F10 (-1) opens at the selected row's lower left corner.
    POINT ContextMenuPoint(LPARAM lParam);
    int ExpandRow(HTREEITEM item, UINT action);
    // Nesting switch: drawing stops at the first "off" and resumes at the last "on".
    void SetRedraw(bool on);
    int RedrawNesting() const { return m_redrawNesting; }
    int SelectedText(WideString& text);
    int GetItem(HTREEITEM item, wchar_t* text, LPARAM* parameter, int* image, int* selectedImage, UINT* state,
                UINT stateMask = 0xF000, int* children = nullptr);
    int ItemHeight() const;
    int SetItemHeight(int height);

protected:
    static int StoreResult(HWND owner, LRESULT value, LRESULT* result);
    static int EditHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result, void* context);

    HINSTANCE m_instance;
    IconImageList m_images;
    TreeHooks m_hooks;
    DWORD m_flags;
    int m_redrawNesting;
    SubclassHook m_editHook;
    ThemeApi m_theme;
    HWND m_tree;
};

// One cell of a painted row.
struct CellLayout {
    int column;
    WideString text;
    RECT rect;
};

// Splits a row text into cells under the header columns: `widths` are the column widths,
// `textRect` the item's text rectangle. Answers whether the row spans all columns.
bool LayoutRowCells(const wchar_t* text, const std::vector<int>& widths, const RECT& textRect,
                    std::vector<CellLayout>& cells);
// The tree-item theme state of a row from its custom-draw state.
int RowVisualState(UINT itemState, bool treeHasFocus);

class TreeList : public TreeViewWrapper {
public:
    TreeList();
    ~TreeList() override;

    int AttachTreeList(HWND tree, HINSTANCE instance, DWORD flags) override;
    void Detach() override;
    int HandleNotify(HWND owner, WPARAM wParam, NMHDR* header, LRESULT* result) override;

    // Width in pixels at 96 dots per inch; scaled to the header's display.
    int AddColumn(const wchar_t* text, int index, int width, int format);
    HWND Header() const { return m_header; }
    bool Themed() const { return m_themed; }
    void SetOwnerDrawCell(void (*draw)(HTREEITEM, LPARAM, const RECT*, HDC, void*), void* user)
    {
        m_ownerDraw = draw;
        m_ownerDrawUser = user;
    }

    static int ScaleWidth(int width, int pixelsPerInch) { return pixelsPerInch > 0 ? width * pixelsPerInch / 96 : width; }

private:
    static int TreeHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result, void* context);
    bool PaintRow(NMTVCUSTOMDRAW* draw);

    HWND m_header;
    // Read at the start of each paint: what cannot change while the rows are drawn. The
    // focus and a window surface's depth are asked of the window server, once per paint
    // rather than once per row.
    std::vector<int> m_columnWidths;
    bool m_paintFocused;
    HDC m_paintDc;
    int m_paintSurfaceBits;
    SubclassHook m_treeHook;
    bool m_themed;
    ThemeApi m_buttonTheme;
    void (*m_ownerDraw)(HTREEITEM, LPARAM, const RECT*, HDC, void*);
    void* m_ownerDrawUser;
};
