// The real program, started the way a user starts it, read from outside.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
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

    // Says why when the main window did not come: the program ended, or another dialog
    // (a message or a crash) came first.
    ::testing::AssertionResult Start()
    {
        if (!program.Start(Program())) return ::testing::AssertionFailure() << "the program did not start";
        window = program.WaitForWindow(L"#32770");
        tree = window ? GetDlgItem(window, 1004) : nullptr;
        if (tree) return ::testing::AssertionSuccess();
        if (!window) return ::testing::AssertionFailure() << "no window; the program's exit code: " << program.WaitForExit(0);
        wchar_t title[256] = L"";
        GetWindowTextW(window, title, 256);
        std::wstring texts = title;
        for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            wchar_t text[512] = L"";
            GetWindowTextW(child, text, 512);
            texts += std::wstring(L" | ") + text;
        }
        return ::testing::AssertionFailure() << "another dialog came first: " << ::testing::PrintToString(texts);
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

// ---------------------------------------------------------------------------------------
// A sensor's own window

namespace {

struct WindowByTitle {
    DWORD process;
    std::wstring title;
    HWND found;
};

BOOL CALLBACK FindTitled(HWND window, LPARAM parameter)
{
    WindowByTitle* search = (WindowByTitle*)parameter;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t title[256] = L"";
    GetWindowTextW(window, title, 256);
    if (process != search->process || !IsWindowVisible(window) || !GetDlgItem(window, 1100) || search->title != title)
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND WaitForProperties(Running& app, const std::wstring& title, DWORD timeout = 20000)
{
    const ULONGLONG start = GetTickCount64();
    do {
        WindowByTitle search = {app.program.ProcessId(), title, nullptr};
        EnumWindows(FindTitled, (LPARAM)&search);
        if (search.found) return search.found;
        Sleep(50);
    } while (GetTickCount64() - start < timeout);
    return nullptr;
}

BOOL CALLBACK CountProperties(HWND window, LPARAM parameter)
{
    std::pair<DWORD, int>* count = (std::pair<DWORD, int>*)parameter;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == count->first && IsWindowVisible(window) && GetDlgItem(window, 1100)) count->second++;
    return TRUE;
}

int PropertiesWindows(Running& app)
{
    std::pair<DWORD, int> count(app.program.ProcessId(), 0);
    EnumWindows(CountProperties, (LPARAM)&count);
    return count.second;
}

std::vector<std::wstring> PropertyRows(HWND window)
{
    std::vector<TreeRowInfo> rows;
    harness::ReadTree(GetDlgItem(window, 1100), rows);
    std::vector<std::wstring> texts;
    for (const TreeRowInfo& row : rows) texts.push_back(row.text);
    return texts;
}

bool HasRow(const std::vector<std::wstring>& rows, const std::wstring& row)
{
    return std::find(rows.begin(), rows.end(), row) != rows.end();
}

// Waits until the window shows `row` (a "Name<TAB>Value" text).
bool WaitForRow(HWND window, const std::wstring& row, DWORD timeout = 20000)
{
    const ULONGLONG start = GetTickCount64();
    do {
        if (HasRow(PropertyRows(window), row)) return true;
        Sleep(100);
    } while (GetTickCount64() - start < timeout);
    return false;
}

std::wstring AnswerLine(HWND window)
{
    wchar_t text[512] = L"";
    GetWindowTextW(GetDlgItem(window, 1104), text, 512);
    return text;
}

// Types an interval and presses Set; answers the line the window then shows.
std::wstring AskInterval(HWND window, const wchar_t* typed)
{
    HWND answer = GetDlgItem(window, 1104);
    DWORD_PTR result = 0;
    SendMessageTimeoutW(answer, WM_SETTEXT, 0, (LPARAM)L"-", SMTO_NORMAL, 10000, &result);
    SendMessageTimeoutW(GetDlgItem(window, 1102), WM_SETTEXT, 0, (LPARAM)typed, SMTO_NORMAL, 10000, &result);
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(1103, BN_CLICKED), (LPARAM)GetDlgItem(window, 1103));
    const ULONGLONG start = GetTickCount64();
    std::wstring line;
    do {
        line = AnswerLine(window);
        if (line != L"-") break;
        Sleep(50);
    } while (GetTickCount64() - start < 20000);
    return line;
}

// The value of the main tree's row `position` as a number, and when it was read.
bool CounterAt(Running& app, size_t position, double& value, ULONGLONG& when)
{
    std::vector<TreeRowInfo> rows;
    if (!harness::ReadTree(app.tree, rows) || rows.size() <= position) return false;
    size_t tab = rows[position].text.find(L'\t');
    if (tab == std::wstring::npos) return false;
    value = _wtof(rows[position].text.c_str() + tab + 1);
    when = GetTickCount64();
    return true;
}

// Reports a second of the sensor whose counter is at `position`, measured over a few
// seconds of the tree's own refreshes.
double ReportsPerSecond(Running& app, size_t position)
{
    double first = 0, last = 0;
    ULONGLONG start = 0, end = 0;
    if (!CounterAt(app, position, first, start)) return -1;
    Sleep(4000);
    if (!CounterAt(app, position, last, end) || end <= start) return -1;
    return (last - first) * 1000.0 / (double)(end - start);
}

const char* const DetailsWorld =
    "sensor {6C000031-1111-2222-3333-444444444444}\nname \"Alpha\"\n"
    "category SENSOR_CATEGORY_MOTION\ntype SENSOR_TYPE_ACCELEROMETER_3D\ninterval 200\n"
    "property SENSOR_PROPERTY_MANUFACTURER lpwstr \"Maker A\"\n"
    "property SENSOR_PROPERTY_MIN_REPORT_INTERVAL ui4 20\n"
    "property {6C0000FF-1111-2222-3333-444444444444},7 i4 -3\n"
    "value SENSOR_DATA_TYPE_CUSTOM_VALUE1 ui4 counter 0 1\n"
    "sensor {6C000032-1111-2222-3333-444444444444}\nname \"Beta\"\n"
    "category SENSOR_CATEGORY_ENVIRONMENTAL\ntype SENSOR_TYPE_ENVIRONMENTAL_TEMPERATURE\n"
    "value SENSOR_DATA_TYPE_TEMPERATURE_CELSIUS r8 const 21.5\n"
    "at 20000 state {6C000032-1111-2222-3333-444444444444} initializing\n"
    "at 21000 property {6C000032-1111-2222-3333-444444444444} SENSOR_PROPERTY_MODEL \"Model Z\"\n"
    "at 26000 leave {6C000032-1111-2222-3333-444444444444}\n";

}  // namespace

TEST(SensorProperties, EveryRowOfASensorAndItsReportInterval)
{
    UseScenario(DetailsWorld);
    Running app;
    ASSERT_TRUE(app.Start());
    std::vector<TreeRowInfo> rows = app.Rows();
    ASSERT_EQ(5u, rows.size()) << "root, Alpha and its value, Beta and its value";

    // Alt+Enter on a value row opens its sensor's window, titled with the sensor's name.
    SetForegroundWindow(app.window);
    ASSERT_TRUE(SelectAt(app.tree, 2, rows.size()));
    Keys({{VK_MENU, true}, {VK_RETURN, true}, {VK_RETURN, false}, {VK_MENU, false}});
    HWND alpha = WaitForProperties(app, L"Alpha");
    ASSERT_TRUE(alpha) << "the properties window of Alpha";
    ASSERT_TRUE(WaitForRow(alpha, L"MANUFACTURER\tMaker A")) << ::testing::PrintToString(PropertyRows(alpha));
    std::vector<std::wstring> shown = PropertyRows(alpha);
    ASSERT_GE(shown.size(), 4u);
    EXPECT_EQ(L"State\tReady", shown[0]);
    EXPECT_EQ(L"ID\t{6C000031-1111-2222-3333-444444444444}", shown[1]);
    EXPECT_EQ(L"Type\tACCELEROMETER 3D", shown[2]);
    EXPECT_EQ(L"Category\tMOTION", shown[3]);
    for (const wchar_t* row : {L"MODEL\tScenario sensor", L"SERIAL NUMBER\tSIM-0001", L"FRIENDLY NAME\tAlpha",
                               L"MIN REPORT INTERVAL\t20", L"CURRENT REPORT INTERVAL\t200",
                               L"{6C0000FF-1111-2222-3333-444444444444}.7\t-3"})
        EXPECT_TRUE(HasRow(shown, row)) << "missing " << row;

    // Input that is not an interval is refused before anything is sent.
    const struct {
        const wchar_t* typed;
        const wchar_t* says;
    } refused[] = {
        {L"", L"Type the report interval"},       {L"fast", L"whole number"}, {L"-5", L"whole number"},
        {L"12.5", L"whole number"},               {L"4294967296", L"at most 4294967295"},
        {L"99999999999999999999", L"at most"},
    };
    for (const auto& input : refused) {
        std::wstring line = AskInterval(alpha, input.typed);
        EXPECT_NE(std::wstring::npos, line.find(input.says)) << input.typed << ": "
                                                             << line;
    }
    EXPECT_TRUE(HasRow(PropertyRows(alpha), L"CURRENT REPORT INTERVAL\t200")) << "nothing was sent";

    // Below the sensor's minimum: the sensor's own answer for the key.
    std::wstring line = AskInterval(alpha, L"5");
    EXPECT_NE(std::wstring::npos, line.find(L"refused 5 ms")) << line;
    EXPECT_NE(std::wstring::npos, line.find(L"0x80070057")) << "the sensor's error: " << line;
    EXPECT_TRUE(HasRow(PropertyRows(alpha), L"CURRENT REPORT INTERVAL\t200"));

    // A faster interval it accepts: the window shows the new value, and the sensor really
    // reports more often.
    double before = ReportsPerSecond(app, 2);
    ASSERT_GT(before, 0) << "the counter moves";
    line = AskInterval(alpha, L" 20 ");
    EXPECT_EQ(L"The sensor now reports every 20 ms.", line);
    EXPECT_TRUE(WaitForRow(alpha, L"CURRENT REPORT INTERVAL\t20"));
    double after = ReportsPerSecond(app, 2);
    EXPECT_GT(after, 2 * before) << "reports a second before " << before << ", after " << after;
    // A text longer than the box takes when typed is read whole: leading zeros and all.
    line = AskInterval(alpha, (std::wstring(37, L'0') + L"250").c_str());
    EXPECT_EQ(L"The sensor now reports every 250 ms.", line);

    // Ctrl+C in the window copies the selected row as "Property<TAB>Value".
    HWND tree = GetDlgItem(alpha, 1100);
    SetForegroundWindow(alpha);
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    SetFocus(tree);
    SetClipboardText(L"before");
    PostMessageW(alpha, WM_NEXTDLGCTL, (WPARAM)tree, TRUE);
    Keys({{VK_CONTROL, true}, {'C', true}, {'C', false}, {VK_CONTROL, false}});
    EXPECT_EQ(L"State\tReady\r\n", WaitForClipboardChange(L"before"));

    PostMessageW(app.window, WM_COMMAND, 1000, 0);
    EXPECT_EQ(0, app.program.WaitForExit());
}

TEST(SensorProperties, OneWindowASensorLiveUntilItLeaves)
{
    UseScenario(DetailsWorld);
    Running app;
    ASSERT_TRUE(app.Start());
    std::vector<TreeRowInfo> rows = app.Rows();
    ASSERT_EQ(5u, rows.size());
    SetForegroundWindow(app.window);

    // "Properties" in the context menu of a sensor row.
    RightClickRow(app.tree, 3);
    ASSERT_TRUE(WaitForMenu());
    Keys({{VK_UP, true}, {VK_UP, false}, {VK_RETURN, true}, {VK_RETURN, false}});
    HWND beta = WaitForProperties(app, L"Beta");
    ASSERT_TRUE(beta) << "the properties window of Beta";
    ASSERT_TRUE(WaitForRow(beta, L"Type\tENVIRONMENTAL TEMPERATURE"));
    bool sawReady = HasRow(PropertyRows(beta), L"State\tReady");

    // A second sensor, a second window; asking again brings the first back, no third.
    SetForegroundWindow(app.window);
    ASSERT_TRUE(SelectAt(app.tree, 1, rows.size()));
    Keys({{VK_MENU, true}, {VK_RETURN, true}, {VK_RETURN, false}, {VK_MENU, false}});
    HWND alpha = WaitForProperties(app, L"Alpha");
    ASSERT_TRUE(alpha);
    EXPECT_NE(alpha, beta);
    SetForegroundWindow(app.window);
    ASSERT_TRUE(SelectAt(app.tree, 4, rows.size()));
    Keys({{VK_MENU, true}, {VK_RETURN, true}, {VK_RETURN, false}, {VK_MENU, false}});
    Sleep(1500);
    EXPECT_EQ(2, PropertiesWindows(app)) << "one window a sensor";
    EXPECT_EQ(beta, WaitForProperties(app, L"Beta", 1000));

    // The scenario's state and property changes show while the window is open.
    EXPECT_TRUE(WaitForRow(beta, L"State\tInitializing", 40000)) << "the state, live";
    EXPECT_TRUE(sawReady) << "the window opened before the change (a machine this slow shows only the end)";
    EXPECT_TRUE(WaitForRow(beta, L"MODEL\tModel Z", 20000)) << "a property, live";

    // The sensor leaves: the window says so and keeps its rows.
    HWND gone = WaitForProperties(app, L"Beta (Not connected)", 40000);
    ASSERT_EQ(beta, gone) << "marked, not closed";
    EXPECT_TRUE(HasRow(PropertyRows(beta), L"MODEL\tModel Z")) << "the last rows stay";
    EXPECT_EQ(L"Not connected", AnswerLine(beta));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(beta, 1103))) << "nothing to set";

    PostMessageW(app.window, WM_COMMAND, 1000, 0);
    EXPECT_EQ(0, app.program.WaitForExit()) << "the program ends with its sensors' windows open";
}

TEST(SensorProperties, AFailingSensorAndTheWindowsPlacement)
{
    UseScenario("sensor {6C000041-1111-2222-3333-444444444444}\nname \"Mute\"\nfault properties\n"
                "value SENSOR_DATA_TYPE_CUSTOM_VALUE1 i4 const 1\n");
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CURRENT_USER, PlacementKey, &key));
    RegDeleteValueW(key, L"Properties");
    RegCloseKey(key);
    Running app;
    ASSERT_TRUE(app.Start());
    std::vector<TreeRowInfo> rows = app.Rows();
    ASSERT_EQ(3u, rows.size());
    SetForegroundWindow(app.window);
    ASSERT_TRUE(SelectAt(app.tree, 1, rows.size()));
    Keys({{VK_MENU, true}, {VK_RETURN, true}, {VK_RETURN, false}, {VK_MENU, false}});
    HWND mute = WaitForProperties(app, L"Mute");
    ASSERT_TRUE(mute);

    // The sensor cannot give its properties: one row says why, after what it could give.
    ASSERT_TRUE(WaitForRow(mute, L"State\tReady"));
    std::vector<std::wstring> shown = PropertyRows(mute);
    ASSERT_EQ(5u, shown.size()) << ::testing::PrintToString(shown);
    EXPECT_EQ(L"Category\t{00000000-0000-0000-0000-000000000000}", shown[3]) << "a sensor without a category";
    EXPECT_EQ(0u, shown[4].find(L"Properties\t")) << "the error row";
    EXPECT_NE(std::wstring::npos, shown[4].find(L"0x80004005")) << "with the code";

    // It resizes: the tree follows the window, the interval controls keep to its bottom.
    HWND tree = GetDlgItem(mute, 1100), set = GetDlgItem(mute, 1103);
    RECT window, treeBefore, setBefore, treeAfter, setAfter;
    GetWindowRect(mute, &window);
    GetWindowRect(tree, &treeBefore);
    GetWindowRect(set, &setBefore);
    SetWindowPos(mute, nullptr, 60, 70, (window.right - window.left) + 100, (window.bottom - window.top) + 80,
                 SWP_NOZORDER);
    GetWindowRect(tree, &treeAfter);
    GetWindowRect(set, &setAfter);
    EXPECT_EQ((treeBefore.right - treeBefore.left) + 100, treeAfter.right - treeAfter.left);
    EXPECT_EQ((treeBefore.bottom - treeBefore.top) + 80, treeAfter.bottom - treeAfter.top);
    EXPECT_EQ(setBefore.bottom - window.top + 80, setAfter.bottom - 70) << "Set stays at the bottom";
    EXPECT_EQ(HTBOTTOMRIGHT, SendMessageW(mute, WM_NCHITTEST, 0,
                                          MAKELPARAM(60 + (window.right - window.left) + 100 - 3,
                                                     70 + (window.bottom - window.top) + 80 - 3)))
        << "the size grip's corner";

    // Its context menu copies the rows as "Property<TAB>Value" lines: all of them, or the
    // one right-clicked.
    std::wstring all;
    for (const std::wstring& row : shown) all += row + L"\r\n";
    SetForegroundWindow(mute);
    SetClipboardText(L"before");
    RightClickRow(tree, 2);
    ASSERT_TRUE(WaitForMenu()) << "the window's context menu";
    Keys({{VK_DOWN, true}, {VK_DOWN, false}, {VK_DOWN, true}, {VK_DOWN, false}, {VK_RETURN, true}, {VK_RETURN, false}});
    EXPECT_EQ(all, WaitForClipboardChange(L"before")) << "Copy All";
    SetClipboardText(L"before");
    RightClickRow(tree, 1);
    ASSERT_TRUE(WaitForMenu());
    Keys({{VK_DOWN, true}, {VK_DOWN, false}, {VK_RETURN, true}, {VK_RETURN, false}});
    EXPECT_EQ(shown[1] + L"\r\n", WaitForClipboardChange(L"before")) << "Copy: the row under the mouse";

    // Closed, it keeps its place for the next properties window.
    RECT placed = Normal(mute);
    PostMessageW(mute, WM_COMMAND, IDCANCEL, 0);
    for (int i = 0; i < 100 && IsWindow(mute); i++) Sleep(50);
    EXPECT_FALSE(IsWindow(mute)) << "Escape closes it";
    wchar_t stored[130] = L"";
    DWORD size = sizeof(stored) - 2;
    EXPECT_EQ(ERROR_SUCCESS,
              RegGetValueW(HKEY_CURRENT_USER, PlacementKey, L"Properties", RRF_RT_REG_SZ, nullptr, stored, &size));
    SetForegroundWindow(app.window);
    ASSERT_TRUE(SelectAt(app.tree, 2, rows.size()));
    Keys({{VK_MENU, true}, {VK_RETURN, true}, {VK_RETURN, false}, {VK_MENU, false}});
    HWND again = WaitForProperties(app, L"Mute");
    ASSERT_TRUE(again) << "opens again from a value row";
    RECT reopened = Normal(again);
    EXPECT_EQ(placed.left, reopened.left);
    EXPECT_EQ(placed.top, reopened.top);
    EXPECT_EQ(placed.right - placed.left, reopened.right - reopened.left);
    EXPECT_EQ(placed.bottom - placed.top, reopened.bottom - reopened.top);

    PostMessageW(app.window, WM_COMMAND, 1000, 0);
    EXPECT_EQ(0, app.program.WaitForExit());
}

namespace {

struct ProcessWindows {
    DWORD process;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context)
{
    ProcessWindows* collected = (ProcessWindows*)context;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == collected->process && IsWindowVisible(window)) collected->windows.push_back(window);
    return TRUE;
}

// The visible top-level windows of a process, from one snapshot of the window list (a walk
// along the z-order could go round in circles while the program reorders its windows).
std::vector<HWND> VisibleWindowsOf(DWORD process)
{
    ProcessWindows collected = {process, {}};
    EnumWindows(CollectWindow, (LPARAM)&collected);
    return collected.windows;
}

// A visible top-level window of a process with this title, within the tries.
HWND WaitForTitle(DWORD process, const std::wstring& title, int tries)
{
    for (int i = 0; i < tries; i++, Sleep(50)) {
        for (HWND window : VisibleWindowsOf(process)) {
            wchar_t text[256] = L"";
            GetWindowTextW(window, text, 256);
            if (title == text) return window;
        }
    }
    return nullptr;
}

// The save dialog the program opened, titled as it asks.
HWND WaitForSaveDialog(HWND main)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(main, &owner);
    return WaitForTitle(owner, L"Record to File", 200);
}

// Chooses "Record to File..." or "Stop Recording" in the tree's menu (three up from its end).
void ChooseRecordItem(HWND main, HWND tree)
{
    SetForegroundWindow(main);
    RightClickRow(tree, 1);
    ASSERT_TRUE(WaitForMenu());
    Keys({{VK_UP, true}, {VK_UP, false}, {VK_UP, true}, {VK_UP, false}, {VK_UP, true}, {VK_UP, false},
          {VK_RETURN, true}, {VK_RETURN, false}});
}

BOOL CALLBACK FindEdit(HWND child, LPARAM found)
{
    wchar_t kind[16] = L"";
    GetClassNameW(child, kind, 16);
    if (_wcsicmp(kind, L"Edit") != 0) return TRUE;
    *(HWND*)found = child;
    return FALSE;
}

// Types `path` as the file name of the save dialog and presses Save; answers the name the
// dialog first offered.
std::wstring SaveAs(HWND dialog, const std::wstring& path)
{
    // The edit box inside the file name combo box, else the older dialog's edit box.
    HWND name = nullptr;
    if (HWND combo = GetDlgItem(dialog, 0x47c)) EnumChildWindows(combo, FindEdit, (LPARAM)&name);
    if (!name) name = GetDlgItem(dialog, 0x480);
    if (!name) {
        std::wstring children = L"<no file name box>";
        for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            wchar_t kind[64] = L"";
            GetClassNameW(child, kind, 64);
            children += L" " + std::to_wstring(GetDlgCtrlID(child)) + L":" + kind;
        }
        return children;
    }
    wchar_t offered[MAX_PATH] = L"";
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(name, WM_GETTEXT, MAX_PATH, (LPARAM)offered, SMTO_ABORTIFHUNG, 10000, &answer);
    SendMessageTimeoutW(name, WM_SETTEXT, 0, (LPARAM)path.c_str(), SMTO_ABORTIFHUNG, 10000, &answer);
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    return offered;
}

std::wstring StatusText(HWND main)
{
    HWND status = GetDlgItem(main, 1007);
    wchar_t text[128] = L"";
    if (status && IsWindowVisible(status)) GetWindowTextW(status, text, 128);
    return text;
}

const wchar_t* const RecordingKey = L"Software\\Halvik\\Orvane";

}  // namespace

TEST(Recording, EveryReportOfEverySensorIntoAFileASpreadsheetReads)
{
    UseScenario("sensor {6C000041-1111-2222-3333-444444444444}\nname \"Counter, fast\"\ninterval 10\n"
                "value SENSOR_DATA_TYPE_CUSTOM_VALUE1 ui4 counter 0 1\n"
                "value SENSOR_DATA_TYPE_CUSTOM_VALUE2 r8 const 0.1\n"
                "sensor {6C000042-1111-2222-3333-444444444444} absent\nname \"Late\"\ninterval 100\n"
                "value SENSOR_DATA_TYPE_CUSTOM_VALUE1 lpwstr const \"x,y\"\n"
                "at 4000 enter {6C000042-1111-2222-3333-444444444444}\n");
    RegDeleteKeyValueW(HKEY_CURRENT_USER, RecordingKey, L"Recording Folder");
    std::wstring folder = harness::ScratchDir(L"recording");
    std::wstring file = folder + L"rows.csv";
    Running app;
    ASSERT_TRUE(app.Start());
    EXPECT_EQ(L"", StatusText(app.window)) << "nothing shows before a recording";

    ChooseRecordItem(app.window, app.tree);
    HWND dialog = WaitForSaveDialog(app.window);
    ASSERT_TRUE(dialog) << "the save dialog";
    std::wstring offered = SaveAs(dialog, file);
    EXPECT_EQ(0u, offered.find(L"Orvane ")) << "offered: " << offered;
    EXPECT_EQ(30u, offered.size()) << "\"Orvane yyyy-mm-dd hh-mm-ss.csv\": " << offered;
    EXPECT_EQ(L".csv", offered.substr(offered.size() - 4));

    // It records, and says so beside Exit; the late sensor arrives meanwhile.
    std::wstring status;
    for (int i = 0; i < 100 && status.find(L" rows") == std::wstring::npos; i++, Sleep(100)) status = StatusText(app.window);
    EXPECT_EQ(0u, status.find(L"Recording: ")) << status;
    Sleep(6000);
    status = StatusText(app.window);
    EXPECT_GT(_wtoi(status.c_str() + 11), 100) << status;
    EXPECT_EQ(std::wstring::npos, status.find(L"dropped")) << status;

    ChooseRecordItem(app.window, app.tree);  // now "Stop Recording"
    for (int i = 0; i < 100 && !StatusText(app.window).empty(); i++) Sleep(50);
    EXPECT_EQ(L"", StatusText(app.window)) << "the status goes with the recording";
    std::string first = harness::ReadFileBytes(file);
    Sleep(500);
    EXPECT_EQ(first, harness::ReadFileBytes(file)) << "nothing is written after the stop";

    // The folder is offered again next time.
    wchar_t remembered[MAX_PATH] = L"";
    DWORD size = sizeof(remembered) - 2;
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CURRENT_USER, RecordingKey, L"Recording Folder", RRF_RT_REG_SZ,
                                          nullptr, remembered, &size));
    EXPECT_EQ(folder.substr(0, folder.size() - 1), remembered);

    std::wstring report = folder + L"check.txt";
    std::string command = "python3 " + harness::UnixPath(harness::SourceDir() + L"tests\\app\\check_recording.py") +
                          " " + harness::UnixPath(file) + " 'Counter, fast' Late > " + harness::UnixPath(report) + " 2>&1";
    int checked = harness::RunUnix(std::wstring(command.begin(), command.end()));
    EXPECT_EQ(0, checked) << harness::ReadFileBytes(report);

    // Closing the program while it records ends the file cleanly.
    std::wstring second = folder + L"closing.csv";
    ChooseRecordItem(app.window, app.tree);
    dialog = WaitForSaveDialog(app.window);
    ASSERT_TRUE(dialog);
    SaveAs(dialog, second);
    for (int i = 0; i < 100 && StatusText(app.window).empty(); i++) Sleep(50);
    Sleep(1500);
    PostMessageW(app.window, WM_COMMAND, 1000, 0);
    EXPECT_EQ(0, app.program.WaitForExit());
    std::string bytes = harness::ReadFileBytes(second);
    EXPECT_GT(bytes.size(), 200u);
    EXPECT_EQ("\r\n", bytes.substr(bytes.size() - 2)) << "the last line is whole";
}

// The visible windows of a process, their texts and those of their controls.
std::wstring WindowTexts(DWORD process)
{
    std::wstring texts;
    for (HWND window : VisibleWindowsOf(process)) {
        wchar_t text[512] = L"";
        GetWindowTextW(window, text, 512);
        texts += std::wstring(L"[") + text;
        for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            GetWindowTextW(child, text, 512);
            texts += std::wstring(L" | ") + text;
        }
        texts += L"]";
    }
    return texts;
}

TEST(Recording, AWriteThatFailsStopsItWithAMessageAndKeepsTheRows)
{
    // The program runs with a limit on the size of the files it writes: once the recording
    // reaches it, a write fails as it does on a full disk.
    UseScenario("sensor {6C000041-1111-2222-3333-444444444444}\nname \"One\"\ninterval 5\n"
                "value SENSOR_DATA_TYPE_CUSTOM_VALUE1 ui4 counter 0 1\n"
                "value SENSOR_DATA_TYPE_CUSTOM_VALUE2 lpwstr const \"a longer text that fills the file sooner\"\n");
    std::wstring folder = harness::ScratchDir(L"recording-cut");
    std::wstring file = folder + L"cut.csv";
    std::string launch = "(trap '' XFSZ; ulimit -f 64; exec wine " + harness::UnixPath(Program()) +
                         ") >/dev/null 2>&1 </dev/null & true";
    ASSERT_EQ(0, harness::RunUnix(std::wstring(launch.begin(), launch.end())));
    HWND main = nullptr, tree = nullptr;
    for (int i = 0; i < 400 && !tree; i++, Sleep(50)) {
        main = FindWindowW(L"#32770", nullptr);
        tree = main && IsWindowVisible(main) ? GetDlgItem(main, 1004) : nullptr;
    }
    ASSERT_TRUE(tree) << "the program started from the shell";
    DWORD process = 0;
    GetWindowThreadProcessId(main, &process);
    HANDLE running = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, process);
    ASSERT_TRUE(running);

    ChooseRecordItem(main, tree);
    HWND dialog = WaitForSaveDialog(main);
    EXPECT_TRUE(dialog) << "the save dialog";
    if (dialog) SaveAs(dialog, file);
    HWND message = nullptr;
    for (int i = 0; i < 400 && !message; i++, Sleep(50)) {
        HWND found = FindWindowW(L"#32770", L"Orvane");
        DWORD owner = 0;
        GetWindowThreadProcessId(found, &owner);
        if (found && owner == process && IsWindowVisible(found)) message = found;
    }
    std::wstring texts = WindowTexts(process);
    EXPECT_TRUE(message) << "a message tells why: " << ::testing::PrintToString(texts);
    EXPECT_NE(std::wstring::npos, texts.find(L"The recording stopped")) << ::testing::PrintToString(texts);
    EXPECT_NE(std::wstring::npos, texts.find(L"cut.csv")) << ::testing::PrintToString(texts);
    EXPECT_EQ(L"", StatusText(main)) << "the recording ended";
    if (message) PostMessageW(message, WM_COMMAND, IDOK, 0);

    std::string bytes = harness::ReadFileBytes(file);
    EXPECT_GE(bytes.size(), 16000u) << "the rows up to the limit";
    EXPECT_LE(bytes.size(), 32768u);
    std::wstring report = folder + L"check.txt";
    std::string command = "python3 " + harness::UnixPath(harness::SourceDir() + L"tests\\app\\check_recording.py") +
                          " " + harness::UnixPath(file) + " One - --cut > " + harness::UnixPath(report) + " 2>&1";
    EXPECT_EQ(0, harness::RunUnix(std::wstring(command.begin(), command.end()))) << harness::ReadFileBytes(report);

    // The program goes on and ends as always.
    PostMessageW(main, WM_COMMAND, 1000, 0);
    for (int i = 0; i < 400 && IsWindow(main); i++) Sleep(50);
    EXPECT_FALSE(IsWindow(main)) << "Exit ends it";
    // (Started from the shell in the 32-bit runtime, the process may not be waitable from
    // here; its exit code is read where it is.)
    DWORD waited = WaitForSingleObject(running, 20000), code = 1;
    if (waited == WAIT_OBJECT_0 && GetExitCodeProcess(running, &code)) {
        EXPECT_EQ(0u, code);
    }
    if (IsWindow(main)) TerminateProcess(running, 1);
    CloseHandle(running);
}

namespace {

// "Plot" in the menu of a row (two up from the menu's end).
void ChoosePlotItem(Running& app, size_t row)
{
    SetForegroundWindow(app.window);
    RightClickRow(app.tree, row);
    ASSERT_TRUE(WaitForMenu());
    Keys({{VK_UP, true}, {VK_UP, false}, {VK_UP, true}, {VK_UP, false}, {VK_RETURN, true}, {VK_RETURN, false}});
}

HWND WaitForPlot(Running& app, const std::wstring& title, int tries = 100)
{
    return WaitForTitle(app.program.ProcessId(), title, tries);
}

// The rows on which pixels of `rgb` lie inside the chart, below its legend: the highest
// and lowest, and the leftmost column.
struct LineExtent {
    int top = INT_MAX, bottom = INT_MIN, left = INT_MAX, count = 0;
};
LineExtent FindLine(HWND chart, unsigned long rgb)
{
    LineExtent extent;
    harness::Image screen;
    if (!harness::CaptureScreen(screen)) return extent;
    RECT area;
    GetWindowRect(chart, &area);
    for (int y = (int)area.top + 30; y < area.bottom; y++)
        for (int x = (int)area.left; x < area.right; x++)
            if (screen.Pixel(x, y) == rgb) {
                extent.top = std::min(extent.top, (int)(y - area.top));
                extent.bottom = std::max(extent.bottom, (int)(y - area.top));
                extent.left = std::min(extent.left, (int)(x - area.left));
                extent.count++;
            }
    return extent;
}

std::wstring ClipboardTextAndPicture(bool& picture)
{
    std::wstring text;
    picture = false;
    if (!OpenClipboard(nullptr)) return text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const wchar_t* chars = (const wchar_t*)GlobalLock(data)) text = chars;
        GlobalUnlock(data);
    }
    picture = IsClipboardFormatAvailable(CF_DIB) != 0;
    CloseClipboard();
    return text;
}

}  // namespace

TEST(Plot, AValuesCurveLiveUntilItsSensorLeaves)
{
    UseScenario("sensor {6C000051-1111-2222-3333-444444444444}\nname \"Wave\"\ninterval 10\n"
                "value SENSOR_DATA_TYPE_CUSTOM_VALUE1 r8 sine 10 1000 50\n"
                "value SENSOR_DATA_TYPE_CUSTOM_VALUE2 lpwstr const \"text\"\n"
                "at 14000 leave {6C000051-1111-2222-3333-444444444444}\n");
    Running app;
    ASSERT_TRUE(app.Start());
    std::vector<TreeRowInfo> rows = app.Rows();
    ASSERT_EQ(4u, rows.size()) << "root, Wave and its two values";

    // A text is not offered for plotting.
    ChoosePlotItem(app, 3);
    EXPECT_FALSE(WaitForPlot(app, L"Plot of Wave: CUSTOM VALUE2", 30));

    ChoosePlotItem(app, 2);
    HWND plot = WaitForPlot(app, L"Plot of Wave: CUSTOM VALUE1");
    ASSERT_TRUE(plot) << "the plot window of the value";
    HWND chart = GetDlgItem(plot, 1110);
    ASSERT_TRUE(chart);
    // Beside the main window, whose tree the next clicks need.
    RECT main;
    GetWindowRect(app.window, &main);
    SetWindowPos(plot, nullptr, 0, main.bottom + 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    Sleep(3000);

    // The curve: the first colour, swinging over most of the plot's height at its right end.
    RECT client;
    GetClientRect(chart, &client);
    LineExtent line = FindLine(chart, 0x1F77B4);
    ASSERT_GT(line.count, 50) << "the line's pixels";
    EXPECT_GT(line.bottom - line.top, (client.bottom - 30) * 6 / 10) << line.top << ".." << line.bottom;
    EXPECT_GT(line.left, client.right * 3 / 4) << "three seconds of sixty sit at the right end";
    harness::TakeScreenshot(harness::BuildDir() + L"plot.png");

    // Ctrl+C: the picture and the visible samples.
    SetForegroundWindow(plot);
    SetFocus(chart);
    SetClipboardText(L"before");
    Keys({{VK_CONTROL, true}, {'C', true}, {'C', false}, {VK_CONTROL, false}});
    std::wstring text = WaitForClipboardChange(L"before");
    bool picture = false;
    text = ClipboardTextAndPicture(picture);
    EXPECT_TRUE(picture) << "a bitmap";
    ASSERT_EQ(0u, text.find(L"Time (s),Item,Value\r\n")) << text.substr(0, 200);
    size_t lines = 0;
    for (size_t at = text.find(L"\r\n"); at != std::wstring::npos; at = text.find(L"\r\n", at + 2)) lines++;
    EXPECT_GT(lines, 50u) << "a hundred samples a second";
    EXPECT_NE(std::wstring::npos, text.find(L",CUSTOM VALUE1,")) << text.substr(0, 200);

    // Space pauses: the picture holds still; Space again goes on.
    Keys({{VK_SPACE, true}, {VK_SPACE, false}});
    Sleep(500);
    LineExtent paused = FindLine(chart, 0x1F77B4);
    Sleep(1000);
    LineExtent still = FindLine(chart, 0x1F77B4);
    EXPECT_EQ(paused.left, still.left) << "paused";
    EXPECT_EQ(paused.count, still.count) << "paused";
    Keys({{VK_SPACE, true}, {VK_SPACE, false}});
    Sleep(1000);
    EXPECT_LT(FindLine(chart, 0x1F77B4).left, still.left) << "going on, the curve grows to the left";

    // A sensor row: a window for its numbers, beside the value's.
    ChoosePlotItem(app, 1);
    HWND sensorPlot = WaitForPlot(app, L"Plot of Wave");
    EXPECT_TRUE(sensorPlot) << "the plot of the sensor";
    if (sensorPlot) {
        Sleep(1000);
        EXPECT_GT(FindLine(GetDlgItem(sensorPlot, 1110), 0x1F77B4).count, 20) << "its one number";
        PostMessageW(sensorPlot, WM_COMMAND, IDCANCEL, 0);
    }

    // The sensor leaves: the curve stays, and the window says so.
    HWND gone = WaitForPlot(app, L"Plot of Wave: CUSTOM VALUE1 (Not connected)", 300);
    EXPECT_TRUE(gone) << "marked as gone";
    LineExtent frozen = FindLine(chart, 0x1F77B4);
    EXPECT_GT(frozen.count, 50) << "the curve stays";
    Sleep(1500);
    EXPECT_EQ(frozen.left, FindLine(chart, 0x1F77B4).left) << "and holds still";

    PostMessageW(app.window, WM_COMMAND, 1000, 0);
    EXPECT_EQ(0, app.program.WaitForExit());
}
