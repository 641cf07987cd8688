// The real program, started the way a user starts it, read from outside.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "common/ModuleVersion.h"
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
