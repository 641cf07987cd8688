// The real program, started the way a user starts it, read from outside.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "common/ModuleVersion.h"
#include "ui/Theme.h"
#include "harness/Harness.h"

using harness::TreeRowInfo;

namespace {

std::wstring Program()
{
    return harness::BuildDir() + L"bin\\orvane.exe";
}

void UseScenario(const char* text)
{
    std::wstring path = harness::ScratchDir(L"app-scenario") + L"world.scenario";
    ASSERT_TRUE(harness::WriteFileBytes(path, text));
    SetEnvironmentVariableW(L"SENSORSIM_SCENARIO", path.c_str());
}

struct Running {
    harness::GuiProgram program;
    HWND window = nullptr;
    HWND tree = nullptr;

    bool Start()
    {
        if (!program.Start(Program())) return false;
        window = program.WaitForWindow(L"#32770");
        tree = window ? GetDlgItem(window, 1004) : nullptr;
        return tree != nullptr;
    }
    std::vector<TreeRowInfo> Rows()
    {
        std::vector<TreeRowInfo> rows;
        EXPECT_TRUE(harness::ReadTree(tree, rows));
        return rows;
    }
};

std::vector<std::wstring> Texts(const std::vector<TreeRowInfo>& rows)
{
    std::vector<std::wstring> texts;
    for (const TreeRowInfo& row : rows) texts.push_back(std::wstring((size_t)row.level, L'>') + row.text);
    return texts;
}

// Unregisters the simulator for one scope.
class WithoutSimulator {
public:
    WithoutSimulator()
    {
        m_library = LoadLibraryW((harness::BuildDir() + L"bin\\sensorsim.dll").c_str());
        Call("DllUnregisterServer");
    }
    ~WithoutSimulator()
    {
        Call("DllRegisterServer");
        FreeLibrary(m_library);
    }

private:
    void Call(const char* name)
    {
        typedef HRESULT(WINAPI * Function)();
        Function function = m_library ? (Function)(void*)GetProcAddress(m_library, name) : nullptr;
        EXPECT_TRUE(function && SUCCEEDED(function())) << name;
    }
    HMODULE m_library;
};

// The rows of a tree in display order (everything expanded).
std::vector<HTREEITEM> VisibleOrder(HWND tree)
{
    std::vector<HTREEITEM> order;
    HTREEITEM item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    while (item && order.size() < 10000) {
        order.push_back(item);
        HTREEITEM next = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)item);
        while (!next && item) {
            next = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)item);
            if (!next) item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_PARENT, (LPARAM)item);
        }
        item = next;
    }
    return order;
}

int FirstVisiblePosition(HWND tree)
{
    HTREEITEM first = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_FIRSTVISIBLE, 0);
    std::vector<HTREEITEM> order = VisibleOrder(tree);
    for (size_t i = 0; i < order.size(); i++)
        if (order[i] == first) return (int)i;
    return -1;
}

INT_PTR CALLBACK QuietDialog(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// The pixel size of a window of the program's main dialog that holds `width` x `height`
// dialog units: the program's template, rewritten as the program rewrites it, opened here.
bool MinimumWindowSize(HWND programWindow, int width, int height, SIZE& size)
{
    HMODULE program = LoadLibraryExW(Program().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!program) return false;
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_LINK_CLASS};
    InitCommonControlsEx(&controls);
    void* fixed = DialogFontFix(program, 102, 0, 0);
    const DLGTEMPLATE* data = (const DLGTEMPLATE*)fixed;
    if (!data) {
        HRSRC resource = FindResourceW(program, MAKEINTRESOURCEW(102), (LPCWSTR)RT_DIALOG);
        data = resource ? (const DLGTEMPLATE*)LockResource(LoadResource(program, resource)) : nullptr;
    }
    HWND dialog = data ? CreateDialogIndirectParamW(GetModuleHandleW(nullptr), data, nullptr, QuietDialog, 0) : nullptr;
    free(fixed);
    bool ok = false;
    if (dialog) {
        RECT rect = {0, 0, width, height};
        ok = MapDialogRect(dialog, &rect) &&
             AdjustWindowRectEx(&rect, (DWORD)GetWindowLongPtrW(programWindow, GWL_STYLE), FALSE,
                                (DWORD)GetWindowLongPtrW(programWindow, GWL_EXSTYLE));
        size.cx = rect.right - rect.left;
        size.cy = rect.bottom - rect.top;
        DestroyWindow(dialog);
    }
    FreeLibrary(program);
    return ok;
}

const char* Scenario =
    "sensor {6C000001-1111-2222-3333-444444444444}\n"
    "name \"GNSS\"\n"
    "value SENSOR_DATA_TYPE_LATITUDE_DEGREES r8 const 52.5\n"
    "value SENSOR_DATA_TYPE_CITY lpwstr const \"Berlin\"\n"
    "value SENSOR_DATA_TYPE_SATELLITES_USED_PRNS ui4[] const 1,2\n"
    "sensor {6C000002-1111-2222-3333-444444444444}\n"
    "name \"Idle\"\n"
    "sensor {6C000003-1111-2222-3333-444444444444}\n"
    "name \"Light\"\n"
    "value SENSOR_DATA_TYPE_LIGHT_LEVEL_LUX r4 const 9.81\n"
    "value {8E4F0B31-9C1D-4E3A-A1B2-C3D4E5F60718},5 i4 const -7\n";

}  // namespace

TEST(MainWindow, ShowsTheTitleAndEverySensorOfTheScenario)
{
    UseScenario(Scenario);
    Running app;
    ASSERT_TRUE(app.Start());
    wchar_t title[64];
    GetWindowTextW(app.window, title, 64);
    EXPECT_STREQ(L"Orvane [1.07]", title);

    std::vector<TreeRowInfo> rows = app.Rows();
    std::vector<std::wstring> expected = {
        L"Sensors",
        L">GNSS\v",
        L">>LATITUDE DEGREES\t52.500000",
        L">>CITY\tBerlin",
        L">>SATELLITES USED PRNS\t",
        L">Idle\v",
        L">Light\v",
        L">>LIGHT LEVEL LUX\t9.810000",
        L">>{8E4F0B31-9C1D-4E3A-A1B2-C3D4E5F60718}.5\t-7",
    };
    EXPECT_EQ(expected, Texts(rows));
    ASSERT_EQ(expected.size(), rows.size());
    const int images[] = {0, 1, 2, 2, 2, 1, 1, 2, 2};
    for (size_t i = 0; i < rows.size(); i++) EXPECT_EQ(images[i], rows[i].image) << i;
    EXPECT_TRUE(rows[0].expanded);
    EXPECT_TRUE(rows[1].expanded);
    EXPECT_TRUE(rows[6].expanded);
    EXPECT_TRUE(IsDlgButtonChecked(app.window, 1006) == BST_CHECKED) << "the update box starts ticked";
    wchar_t link[64] = L"";
    // The label answers WM_GETTEXT itself (GetWindowText of another process's window
    // would read the control's own, emptied text).
    SendMessageW(GetDlgItem(app.window, 1005), WM_GETTEXT, 64, (LPARAM)link);
    EXPECT_STREQ(L"halvik.example", link) << "the web link shows the maker's host";

    // A refresh keeps the tree as it is and a selected sensor selected.
    SendMessageW(app.tree, TVM_SELECTITEM, TVGN_CARET,
                 SendMessageW(app.tree, TVM_GETNEXTITEM, TVGN_NEXT,
                              SendMessageW(app.tree, TVM_GETNEXTITEM, TVGN_CHILD,
                                           SendMessageW(app.tree, TVM_GETNEXTITEM, TVGN_ROOT, 0))));
    SendMessageW(app.window, 0x8000, 0, 0);
    std::vector<TreeRowInfo> again = app.Rows();
    EXPECT_EQ(Texts(rows), Texts(again));
    ASSERT_EQ(rows.size(), again.size());
    EXPECT_TRUE(again[5].selected) << "the selected sensor row stays selected";

    PostMessageW(app.window, WM_COMMAND, 1000, 0);
    EXPECT_EQ(0, app.program.WaitForExit()) << "Exit ends the program with 0";
}

TEST(MainWindow, WithoutTheSensorServiceShowsTheNote)
{
    WithoutSimulator unregistered;
    Running app;
    ASSERT_TRUE(app.Start());
    std::vector<TreeRowInfo> rows = app.Rows();
    EXPECT_EQ((std::vector<std::wstring>{L"Sensors", L">No Sensors found"}), Texts(rows));
    ASSERT_EQ(2u, rows.size());
    EXPECT_TRUE(rows[1].selected);
    PostMessageW(app.window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(0, app.program.WaitForExit()) << "the close box ends the program with 0";
}

TEST(MainWindow, EscapeEndsTheProgram)
{
    UseScenario("sensor {6C000001-1111-2222-3333-444444444444}\nname \"One\"\n");
    Running app;
    ASSERT_TRUE(app.Start());
    SetForegroundWindow(app.window);
    PostMessageW(app.tree, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(app.tree, WM_KEYUP, VK_ESCAPE, 0);
    EXPECT_EQ(0, app.program.WaitForExit());
}

TEST(MainWindow, ResourcesOfTheProgram)
{
    HMODULE module = LoadLibraryExW(Program().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);
    HRSRC resource = FindResourceExW(module, (LPCWSTR)RT_DIALOG, MAKEINTRESOURCEW(102), MAKELANGID(0x07, 0x01));
    ASSERT_NE(nullptr, resource) << "dialog 102 in language 1031";
    const BYTE* data = (const BYTE*)LockResource(LoadResource(module, resource));
    const DLGTEMPLATE* dialog = (const DLGTEMPLATE*)data;
    EXPECT_EQ(0x82CF0840u, dialog->style) << "a classic template with the main window's style";
    EXPECT_EQ(4, dialog->cdit);
    EXPECT_EQ(391, dialog->cx);
    EXPECT_EQ(234, dialog->cy);
    // Skip menu, class, title and font to the first item.
    const WORD* words = (const WORD*)(dialog + 1);
    for (int i = 0; i < 2; i++) {
        if (*words == 0xFFFF) words += 2;
        else while (*words++) {}
    }
    while (*words++) {}
    EXPECT_EQ(8, *words++) << "8 points";
    EXPECT_STREQ(L"MS Sans Serif", (const wchar_t*)words);
    while (*words++) {}
    struct Expected {
        WORD id;
        DWORD style;
        short x, y, cx, cy;
    } items[] = {
        {1004, 0x50811003, 5, 5, 380, 206},
        {1005, 0x50020200, 8, 215, 57, 14},
        {1000, 0x50010000, 335, 215, 50, 14},
        {1006, 0x50010003, 73, 215, 134, 14},
    };
    for (const Expected& e : items) {
        words = (const WORD*)(((ULONG_PTR)words + 3) & ~(ULONG_PTR)3);
        const DLGITEMTEMPLATE* item = (const DLGITEMTEMPLATE*)words;
        EXPECT_EQ(e.id, item->id);
        EXPECT_EQ(e.style, item->style) << e.id;
        EXPECT_EQ(e.x, item->x);
        EXPECT_EQ(e.y, item->y);
        EXPECT_EQ(e.cx, item->cx);
        EXPECT_EQ(e.cy, item->cy);
        words = (const WORD*)(item + 1);
        for (int i = 0; i < 2; i++) {
            if (*words == 0xFFFF) words += 2;
            else while (*words++) {}
        }
        words += 1 + (*words + 1) / 2;
    }

    struct Group {
        int id;
        LPCWSTR type;
        int images;
    } groups[] = {{101, (LPCWSTR)RT_GROUP_ICON, 8}, {105, (LPCWSTR)RT_GROUP_ICON, 6}, {106, (LPCWSTR)RT_GROUP_ICON, 6},
                  {107, (LPCWSTR)RT_GROUP_ICON, 6}, {104, (LPCWSTR)RT_GROUP_CURSOR, 1}};
    for (const Group& group : groups) {
        HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(group.id), group.type);
        ASSERT_NE(nullptr, found) << group.id;
        const WORD* header = (const WORD*)LockResource(LoadResource(module, found));
        EXPECT_EQ(group.images, header[2]) << group.id;
    }
    HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(nullptr, manifest);
    std::string text((const char*)LockResource(LoadResource(module, manifest)), SizeofResource(module, manifest));
    EXPECT_NE(std::string::npos, text.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""));
    EXPECT_NE(std::string::npos, text.find("level=\"asInvoker\" uiAccess=\"false\""));
    EXPECT_NE(std::string::npos, text.find(">true</dpiAware>"));
    FreeLibrary(module);

    ModuleVersion version;
    ASSERT_EQ(1, version.LoadFile(Program().c_str()));
    WideString value;
    EXPECT_EQ(1, version.GetString(L"FileVersion", value));
    EXPECT_STREQ(L"1.07", value.Text());
    EXPECT_EQ(1, version.GetString(L"Comments", value));
    EXPECT_EQ(0, value.Find(L"http://"));
    EXPECT_EQ(1, version.GetString(L"InternalName", value));
    EXPECT_EQ(1, version.GetString(L"CompanyName", value));
}

TEST(MainWindow, ResizesWithAnchorsGripAndMinimumSize)
{
    UseScenario("sensor {6C000001-1111-2222-3333-444444444444}\nname \"One\"\n");
    Running app;
    ASSERT_TRUE(app.Start());
    HWND header = FindWindowExW(app.window, nullptr, L"SysHeader32", nullptr);
    ASSERT_NE(nullptr, header) << "the tree has its column header";
    EXPECT_EQ(2, (int)SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));

    auto place = [&](int id) {
        RECT rect;
        GetWindowRect(GetDlgItem(app.window, id), &rect);
        MapWindowPoints(nullptr, app.window, (POINT*)&rect, 2);
        return rect;
    };
    RECT window;
    GetWindowRect(app.window, &window);
    RECT tree = place(1004), exit = place(1000), check = place(1006), link = place(1005);
    SetWindowPos(app.window, nullptr, 0, 0, window.right - window.left + 120, window.bottom - window.top + 80,
                 SWP_NOMOVE | SWP_NOZORDER);
    RECT tree2 = place(1004), exit2 = place(1000), check2 = place(1006), link2 = place(1005);
    EXPECT_EQ(tree.left, tree2.left);
    EXPECT_EQ(tree.right - tree.left + 120, tree2.right - tree2.left) << "the tree stretches";
    EXPECT_EQ(tree.bottom - tree.top + 80, tree2.bottom - tree2.top);
    EXPECT_EQ(exit.left + 120, exit2.left) << "Exit stays in the corner";
    EXPECT_EQ(exit.top + 80, exit2.top);
    EXPECT_EQ(check.left, check2.left) << "the check box moves down only";
    EXPECT_EQ(check.top + 80, check2.top);
    EXPECT_EQ(link.top + 80, link2.top);
    RECT headerRect;
    GetWindowRect(header, &headerRect);
    RECT treeScreen;
    GetWindowRect(GetDlgItem(app.window, 1004), &treeScreen);
    EXPECT_EQ(treeScreen.right - treeScreen.left, headerRect.right - headerRect.left) << "the header follows";

    RECT client;
    GetClientRect(app.window, &client);
    POINT corner = {client.right - 3, client.bottom - 3};
    ClientToScreen(app.window, &corner);
    EXPECT_EQ(HTBOTTOMRIGHT, SendMessageW(app.window, WM_NCHITTEST, 0, MAKELPARAM(corner.x, corner.y)));

    // The smallest size is 270 x 150 dialog units of the program's dialog font, plus the
    // frame: measured on the same template, with the same font fix, in this process.
    SetWindowPos(app.window, nullptr, 0, 0, 60, 40, SWP_NOMOVE | SWP_NOZORDER);
    GetWindowRect(app.window, &window);
    SIZE minimum;
    ASSERT_TRUE(MinimumWindowSize(app.window, 270, 150, minimum));
    EXPECT_EQ(minimum.cx, window.right - window.left) << "270 dialog units and the frame";
    EXPECT_EQ(minimum.cy, window.bottom - window.top) << "150 dialog units and the frame";
    PostMessageW(app.window, WM_COMMAND, 1000, 0);
    EXPECT_EQ(0, app.program.WaitForExit());
}

TEST(MainWindow, StreamingValuesRefreshAboutOnceASecondWithoutMovingTheView)
{
    std::string text;
    for (int i = 1; i <= 12; i++) {
        char sensor[400];
        snprintf(sensor, sizeof(sensor),
                 "sensor {6C0000%02d-1111-2222-3333-444444444444}\nname \"Sensor %02d\"\ninterval 100\n"
                 "value SENSOR_DATA_TYPE_CUSTOM_VALUE1 i4 counter 0 1\nvalue SENSOR_DATA_TYPE_CUSTOM_VALUE2 i4 const 5\n",
                 i, i);
        text += sensor;
    }
    UseScenario(text.c_str());
    Running app;
    ASSERT_TRUE(app.Start());
    std::vector<TreeRowInfo> rows = app.Rows();
    ASSERT_EQ(1u + 12 * 3, rows.size());

    // Scroll down and select a value row of the last sensor, as a reader would. A rebuild
    // between walking the rows and using them makes the handles stale: then try again.
    bool placed = false;
    for (int attempt = 0; attempt < 5 && !placed; attempt++) {
        std::vector<HTREEITEM> order = VisibleOrder(app.tree);
        if (order.size() != rows.size()) continue;
        SendMessageW(app.tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)order.back());
        SendMessageW(app.tree, TVM_SELECTITEM, TVGN_FIRSTVISIBLE, (LPARAM)order[10]);
        placed = FirstVisiblePosition(app.tree) == 10 && app.Rows().back().selected;
    }
    ASSERT_TRUE(placed);

    // Reading the tree takes longer on a busy machine: the bound is per second watched,
    // not per look.
    std::vector<std::wstring> seen;
    const ULONGLONG start = GetTickCount64();
    ULONGLONG elapsed = 0;
    while (elapsed < 3500) {
        std::vector<TreeRowInfo> now = app.Rows();
        if (now.size() > 2 && (seen.empty() || seen.back() != now[2].text)) seen.push_back(now[2].text);
        Sleep(100);
        elapsed = GetTickCount64() - start;
    }
    EXPECT_GE(seen.size(), 3u) << "the values move while the sensors report";
    EXPECT_LE(seen.size(), (size_t)(elapsed / 1000 + 2))
        << "about one rebuild a second, not one per event (" << elapsed << " ms watched)";

    rows = app.Rows();
    ASSERT_EQ(37u, rows.size());
    EXPECT_TRUE(rows.back().selected) << "the selected value row stays selected";
    int position = FirstVisiblePosition(app.tree);
    EXPECT_EQ(10, position) << "the view does not jump";
    PostMessageW(app.window, WM_COMMAND, 1000, 0);
    EXPECT_EQ(0, app.program.WaitForExit());
}

namespace {

const wchar_t PlacementKey[] = L"Software\\Halvik\\Orvane";

void StorePlacement(const wchar_t* text)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CURRENT_USER, PlacementKey, &key));
    if (text)
        RegSetValueExW(key, L"Main", 0, REG_SZ, (const BYTE*)text, (DWORD)((wcslen(text) + 1) * sizeof(wchar_t)));
    else
        RegDeleteValueW(key, L"Main");
    RegCloseKey(key);
}

std::wstring StoredPlacement()
{
    wchar_t text[130] = L"";
    DWORD size = sizeof(text) - 2;
    RegGetValueW(HKEY_CURRENT_USER, PlacementKey, L"Main", RRF_RT_REG_SZ, nullptr, text, &size);
    return text;
}

RECT Normal(HWND window)
{
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    GetWindowPlacement(window, &placement);
    return placement.rcNormalPosition;
}

}  // namespace

TEST(MainWindow, ReopensWhereItWasClosed)
{
    UseScenario("sensor {6C000001-1111-2222-3333-444444444444}\nname \"One\"\n");
    StorePlacement(nullptr);
    {
        Running app;
        ASSERT_TRUE(app.Start());
        SetWindowPos(app.window, nullptr, 123, 77, 700, 450, SWP_NOZORDER);
        PostMessageW(app.window, WM_COMMAND, 1000, 0);
        EXPECT_EQ(0, app.program.WaitForExit());
    }
    EXPECT_EQ(L"1,123,77,823,527", StoredPlacement());
    {
        Running app;
        ASSERT_TRUE(app.Start());
        RECT rect = Normal(app.window);
        EXPECT_EQ(123, rect.left);
        EXPECT_EQ(77, rect.top);
        EXPECT_EQ(823, rect.right);
        EXPECT_FALSE(IsIconic(app.window));
        PostMessageW(app.window, WM_COMMAND, 1000, 0);
        app.program.WaitForExit();
    }
    // Minimised when closed: opens normal at its rectangle.
    StorePlacement(L"2,40,50,840,650");
    {
        Running app;
        ASSERT_TRUE(app.Start());
        EXPECT_FALSE(IsIconic(app.window));
        RECT rect = Normal(app.window);
        EXPECT_EQ(40, rect.left);
        EXPECT_EQ(650, rect.bottom);
        PostMessageW(app.window, WM_COMMAND, 1000, 0);
        app.program.WaitForExit();
    }
    // Left on a monitor that is gone: 10 pixels inside the nearest work area, same size.
    StorePlacement(L"1,-5000,-4000,-4300,-3400");
    {
        Running app;
        ASSERT_TRUE(app.Start());
        RECT rect = Normal(app.window);
        RECT work;
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        EXPECT_EQ(work.left + 10, rect.left);
        EXPECT_EQ(work.top + 10, rect.top);
        EXPECT_EQ(700, rect.right - rect.left);
        PostMessageW(app.window, WM_COMMAND, 1000, 0);
        app.program.WaitForExit();
    }
    // Maximised when closed: opens maximised.
    StorePlacement(L"3,40,50,840,650");
    {
        Running app;
        ASSERT_TRUE(app.Start());
        EXPECT_TRUE(IsZoomed(app.window));
        PostMessageW(app.window, WM_COMMAND, 1000, 0);
        app.program.WaitForExit();
    }
    EXPECT_EQ(0u, StoredPlacement().find(L"3,40,50,840,650")) << "closed maximised, with the normal rectangle";
    // Garbage and four numbers: ignored, the dialog opens centred as its resource says.
    StorePlacement(L"garbage");
    {
        Running app;
        ASSERT_TRUE(app.Start());
        EXPECT_GT(Normal(app.window).left, 20);
        PostMessageW(app.window, WM_COMMAND, 1000, 0);
        app.program.WaitForExit();
    }
    StorePlacement(L"1,5,5,500");
    {
        Running app;
        ASSERT_TRUE(app.Start());
        RECT rect = Normal(app.window);
        EXPECT_NE(5, rect.left);
        EXPECT_GT(rect.left, 20);
        PostMessageW(app.window, WM_COMMAND, 1000, 0);
        app.program.WaitForExit();
    }
    StorePlacement(nullptr);
}

namespace {

// Selects the row at a display position; a rebuild in between makes the handles stale,
// then it tries again.
bool SelectAt(HWND tree, size_t position, size_t rowCount)
{
    for (int attempt = 0; attempt < 10; attempt++) {
        std::vector<HTREEITEM> order = VisibleOrder(tree);
        if (order.size() != rowCount) continue;
        SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)order[position]);
        std::vector<TreeRowInfo> rows;
        if (harness::ReadTree(tree, rows) && rows.size() == rowCount && rows[position].selected) return true;
    }
    return false;
}

// The display position of the selected row and of the sensor row above it.
void SelectedPosition(const std::vector<TreeRowInfo>& rows, int& selected, int& sensor)
{
    selected = sensor = -1;
    for (size_t i = 0; i < rows.size(); i++) {
        if (rows[i].level == 1) sensor = (int)i;
        if (rows[i].selected) {
            selected = (int)i;
            return;
        }
    }
}

// Waits until the given row's text changes: a rebuild has happened with new values.
bool WaitForNewValue(Running& app, size_t position, const std::wstring& old)
{
    for (int i = 0; i < 40; i++) {
        std::vector<TreeRowInfo> rows = app.Rows();
        if (rows.size() > position && rows[position].text != old) return true;
        Sleep(100);
    }
    return false;
}

}  // namespace

TEST(MainWindow, SelectedValueStaysOnItsSensorAcrossRefreshes)
{
    // The demo world: the first sensor's time stamp.
    SetEnvironmentVariableW(L"SENSORSIM_SCENARIO", nullptr);
    {
        Running app;
        ASSERT_TRUE(app.Start());
        std::vector<TreeRowInfo> rows = app.Rows();
        size_t stamp = 0;
        for (size_t i = 2; i < rows.size() && rows[i].level == 2; i++)
            if (rows[i].text.compare(0, 10, L"TIMESTAMP\t") == 0) stamp = i;
        ASSERT_NE(0u, stamp) << "the first sensor of the demo world reports a time stamp";
        ASSERT_TRUE(SelectAt(app.tree, stamp, rows.size()));
        std::wstring before = app.Rows()[stamp].text;
        ASSERT_TRUE(WaitForNewValue(app, stamp, before)) << "a refresh with a new time stamp";
        Sleep(1200);  // and one more
        int selected = -1, sensor = -1;
        SelectedPosition(app.Rows(), selected, sensor);
        EXPECT_EQ((int)stamp, selected) << "the selection stays on the first sensor's time stamp";
        EXPECT_EQ(1, sensor);
        PostMessageW(app.window, WM_COMMAND, 1000, 0);
        EXPECT_EQ(0, app.program.WaitForExit());
    }

    // Two sensors of one name: the second one's value stays the second one's.
    UseScenario("sensor {6C000011-1111-2222-3333-444444444444}\nname \"Twin\"\ninterval 100\n"
                "value SENSOR_DATA_TYPE_CUSTOM_VALUE1 i4 counter 0 1\n"
                "sensor {6C000012-1111-2222-3333-444444444444}\nname \"Twin\"\ninterval 100\n"
                "value SENSOR_DATA_TYPE_CUSTOM_VALUE1 i4 counter 1000 1\n"
                "sensor {6C000013-1111-2222-3333-444444444444}\nname \"Other\"\ninterval 100\n"
                "value SENSOR_DATA_TYPE_CUSTOM_VALUE1 i4 counter 0 1\n");
    Running app;
    ASSERT_TRUE(app.Start());
    std::vector<TreeRowInfo> rows = app.Rows();
    ASSERT_EQ(7u, rows.size());
    for (size_t position : {(size_t)4, (size_t)3, (size_t)2}) {
        ASSERT_TRUE(SelectAt(app.tree, position, rows.size()));
        ASSERT_TRUE(WaitForNewValue(app, 4, app.Rows()[4].text));
        ASSERT_TRUE(WaitForNewValue(app, 4, app.Rows()[4].text)) << "two refreshes";
        int selected = -1, sensor = -1;
        SelectedPosition(app.Rows(), selected, sensor);
        EXPECT_EQ((int)position, selected) << "row " << position;
    }
    PostMessageW(app.window, WM_COMMAND, 1000, 0);
    EXPECT_EQ(0, app.program.WaitForExit());
}

TEST(MainWindow, CloseBoxAndEscapeSaveThePlacement)
{
    UseScenario("sensor {6C000001-1111-2222-3333-444444444444}\nname \"One\"\n");
    struct Way {
        const char* what;
        int left;
    } ways[] = {{"close box", 131}, {"Escape", 151}};
    for (const Way& way : ways) {
        StorePlacement(nullptr);
        Running app;
        ASSERT_TRUE(app.Start());
        SetWindowPos(app.window, nullptr, way.left, 60, 640, 420, SWP_NOZORDER);
        if (way.left == 131) {
            PostMessageW(app.window, WM_SYSCOMMAND, SC_CLOSE, 0);
        } else {
            SetForegroundWindow(app.window);
            PostMessageW(app.tree, WM_KEYDOWN, VK_ESCAPE, 0);
            PostMessageW(app.tree, WM_KEYUP, VK_ESCAPE, 0);
        }
        EXPECT_EQ(0, app.program.WaitForExit()) << way.what;
        wchar_t expected[64];
        swprintf(expected, 64, L"1,%d,60,%d,480", way.left, way.left + 640);
        EXPECT_EQ(std::wstring(expected), StoredPlacement()) << way.what;
    }
}

namespace {

std::wstring ClipboardText()
{
    std::wstring text;
    for (int attempt = 0; attempt < 20 && !OpenClipboard(nullptr); attempt++) Sleep(50);
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const wchar_t* locked = (const wchar_t*)GlobalLock(data)) {
            text = locked;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

void SetClipboardText(const std::wstring& text)
{
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    memcpy(GlobalLock(memory), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(memory);
    SetClipboardData(CF_UNICODETEXT, memory);
    CloseClipboard();
}

std::wstring WaitForClipboardChange(const std::wstring& before)
{
    // The keys travel through the window server and the program's queue: on a busy
    // machine that takes seconds.
    std::wstring text;
    const ULONGLONG start = GetTickCount64();
    do {
        text = ClipboardText();
        if (text != before) break;
        Sleep(50);
    } while (GetTickCount64() - start < 20000);
    return text;
}

void Keys(std::initializer_list<std::pair<WORD, bool>> keys)
{
    std::vector<INPUT> inputs;
    for (const auto& key : keys) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key.first;
        input.ki.dwFlags = key.second ? 0 : KEYEVENTF_KEYUP;
        inputs.push_back(input);
    }
    SendInput((UINT)inputs.size(), inputs.data(), sizeof(INPUT));
}

// The middle of a row's text, asked of the tree through memory of its process.
POINT RowPoint(HWND tree, size_t row)
{
    POINT point = {0, 0};
    HTREEITEM item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    for (size_t i = 0; i < row && item; i++)
        item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXTVISIBLE, (LPARAM)item);
    DWORD processId = 0;
    GetWindowThreadProcessId(tree, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    void* remote = process ? VirtualAllocEx(process, nullptr, sizeof(RECT), MEM_COMMIT, PAGE_READWRITE) : nullptr;
    RECT rect = {0, 0, 0, 0};
    memcpy(&rect, &item, sizeof(item));
    if (remote && WriteProcessMemory(process, remote, &rect, sizeof(rect), nullptr) &&
        SendMessageW(tree, TVM_GETITEMRECT, TRUE, (LPARAM)remote) &&
        ReadProcessMemory(process, remote, &rect, sizeof(rect), nullptr)) {
        point.x = (rect.left + rect.right) / 2;
        point.y = (rect.top + rect.bottom) / 2;
    }
    if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    if (process) CloseHandle(process);
    return point;
}

void RightClickRow(HWND tree, size_t row)
{
    POINT point = RowPoint(tree, row);
    ClientToScreen(tree, &point);
    SetCursorPos(point.x, point.y);
    Sleep(200);
    // Each event carries the position itself: the pointer's own move may come later.
    INPUT inputs[2] = {};
    for (INPUT& input : inputs) {
        input.type = INPUT_MOUSE;
        input.mi.dx = (LONG)(point.x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1));
        input.mi.dy = (LONG)(point.y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1));
    }
    inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_RIGHTDOWN;
    inputs[1].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_RIGHTUP;
    SendInput(2, inputs, sizeof(INPUT));
}

HWND WaitForMenu()
{
    for (int i = 0; i < 100; i++) {
        HWND menu = FindWindowW(L"#32768", nullptr);
        if (menu && IsWindowVisible(menu)) return menu;
        Sleep(50);
    }
    return nullptr;
}

// The clipboard line of a value row, made from the rows as read from the tree.
std::wstring ExpectedLine(const std::vector<TreeRowInfo>& rows, size_t index)
{
    size_t sensor = index;
    while (sensor > 0 && rows[sensor].level != 1) sensor--;
    std::wstring name = rows[sensor].text;
    if (!name.empty() && name.back() == L'\v') name.pop_back();
    std::wstring text = rows[index].text;
    size_t tab = text.find(L'\t');
    return name + L"\t" + text.substr(0, tab) + L"\t" + (tab == std::wstring::npos ? L"" : text.substr(tab + 1)) +
           L"\r\n";
}

size_t SelectedRow(const std::vector<TreeRowInfo>& rows)
{
    for (size_t i = 0; i < rows.size(); i++)
        if (rows[i].selected) return i;
    return (size_t)-1;
}

}  // namespace

TEST(MainWindow, CopiesTheRowsAsTheyShow)
{
    UseScenario("sensor {6C000021-1111-2222-3333-444444444444}\nname \"One\"\n"
                "value SENSOR_DATA_TYPE_CUSTOM_VALUE1 i4 const 5\n"
                "sensor {6C000022-1111-2222-3333-444444444444}\nname \"Two\"\n"
                "value SENSOR_DATA_TYPE_CUSTOM_VALUE1 i4 const 7\n"
                "value SENSOR_DATA_TYPE_CUSTOM_VALUE2 lpwstr const \"seven\"\n");
    Running app;
    ASSERT_TRUE(app.Start());
    std::vector<TreeRowInfo> rows = app.Rows();
    ASSERT_EQ(6u, rows.size()) << "root, One with a value, Two with two";
    SetForegroundWindow(app.window);

    // Ctrl+C on a value row: that row.
    SetClipboardText(L"before");
    ASSERT_TRUE(SelectAt(app.tree, 5, rows.size()));
    Keys({{VK_CONTROL, true}, {'C', true}, {'C', false}, {VK_CONTROL, false}});
    EXPECT_EQ(ExpectedLine(rows, 5), WaitForClipboardChange(L"before"));

    // Ctrl+C on a sensor row: its name, then its value rows.
    SetClipboardText(L"before");
    ASSERT_TRUE(SelectAt(app.tree, 3, rows.size()));
    Keys({{VK_CONTROL, true}, {'C', true}, {'C', false}, {VK_CONTROL, false}});
    EXPECT_EQ(L"Two\r\n" + ExpectedLine(rows, 4) + ExpectedLine(rows, 5), WaitForClipboardChange(L"before"));

    // A right click selects the row under the mouse; "Copy All" copies every value row.
    std::wstring all = L"Sensor\tItem\tValue\r\n" + ExpectedLine(rows, 2) + ExpectedLine(rows, 4) + ExpectedLine(rows, 5);
    SetClipboardText(L"before");
    RightClickRow(app.tree, 1);
    ASSERT_TRUE(WaitForMenu()) << "the context menu";
    Keys({{VK_DOWN, true}, {VK_DOWN, false}, {VK_DOWN, true}, {VK_DOWN, false}, {VK_RETURN, true}, {VK_RETURN, false}});
    EXPECT_EQ(all, WaitForClipboardChange(L"before"));
    EXPECT_EQ(1u, SelectedRow(app.Rows())) << "the right-clicked row is selected";

    // Its "Copy" copies the row under the mouse.
    SetClipboardText(L"before");
    RightClickRow(app.tree, 2);
    ASSERT_TRUE(WaitForMenu());
    Keys({{VK_DOWN, true}, {VK_DOWN, false}, {VK_RETURN, true}, {VK_RETURN, false}});
    EXPECT_EQ(ExpectedLine(rows, 2), WaitForClipboardChange(L"before"));
    EXPECT_EQ(2u, SelectedRow(app.Rows()));

    // The menu key opens the same menu at the selected row.
    SetClipboardText(L"before");
    Keys({{VK_APPS, true}, {VK_APPS, false}});
    ASSERT_TRUE(WaitForMenu()) << "the menu key";
    Keys({{VK_DOWN, true}, {VK_DOWN, false}, {VK_RETURN, true}, {VK_RETURN, false}});
    EXPECT_EQ(ExpectedLine(rows, 2), WaitForClipboardChange(L"before"));

    // So does Shift+F10.
    SetClipboardText(L"before");
    Keys({{VK_SHIFT, true}, {VK_F10, true}, {VK_F10, false}, {VK_SHIFT, false}});
    ASSERT_TRUE(WaitForMenu()) << "Shift+F10";
    Keys({{VK_DOWN, true}, {VK_DOWN, false}, {VK_DOWN, true}, {VK_DOWN, false}, {VK_RETURN, true}, {VK_RETURN, false}});
    EXPECT_EQ(all, WaitForClipboardChange(L"before"));

    // The root: the whole tree.
    SetClipboardText(L"before");
    ASSERT_TRUE(SelectAt(app.tree, 0, rows.size()));
    Keys({{VK_CONTROL, true}, {'C', true}, {'C', false}, {VK_CONTROL, false}});
    EXPECT_EQ(all, WaitForClipboardChange(L"before"));

    // Another program holds the clipboard: nothing is copied, nothing is shown, and the
    // window keeps answering.
    SetClipboardText(L"held");
    ASSERT_TRUE(OpenClipboard(nullptr));
    Keys({{VK_CONTROL, true}, {'C', true}, {'C', false}, {VK_CONTROL, false}});
    Sleep(1500);
    DWORD_PTR answer = 0;
    EXPECT_TRUE(SendMessageTimeoutW(app.window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer));
    CloseClipboard();
    Sleep(500);
    EXPECT_EQ(L"held", ClipboardText());
    EXPECT_EQ(app.window, app.program.WaitForWindow(L"#32770", 100)) << "no message box";
    EXPECT_EQ(rows.size(), app.Rows().size()) << "the tree is as it was";

    PostMessageW(app.window, WM_COMMAND, 1000, 0);
    EXPECT_EQ(0, app.program.WaitForExit());
}
