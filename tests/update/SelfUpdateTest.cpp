// The real program updating itself: a copy of the program in a folder of its own, the
// maker's update service played by a loopback fixture behind the prefix's proxy setting,
// and the questions answered by pressing the message boxes' buttons.
#include <gtest/gtest.h>

#include <windows.h>

#include <time.h>

#include <map>
#include <string>
#include <vector>

#include "archive/ExtractArchive.h"
#include "common/WideString.h"
#include "harness/Harness.h"
#include "net/NetTest.h"
#include "sysinfo/MachineIdentity.h"

namespace {

const wchar_t* const ProgramKey = L"Software\\Halvik\\Orvane";
const wchar_t* const BoxCaption = L"Orvane Update";

std::wstring Bin()
{
    return harness::BuildDir() + L"bin\\";
}

std::string ProgramBytes(const wchar_t* name)
{
    return harness::ReadFileBytes(Bin() + name);
}

// The files of a folder tree by relative path, with their bytes.
typedef std::map<std::wstring, std::string> Snapshot;

Snapshot TakeSnapshot(const std::wstring& folder)
{
    return harness::ReadFolderTree(folder);
}

std::vector<std::wstring> Names(const Snapshot& snapshot)
{
    std::vector<std::wstring> names;
    for (const auto& entry : snapshot) names.push_back(entry.first);
    return names;
}

void ForgetChecks()
{
    RegDeleteKeyValueW(HKEY_CURRENT_USER, ProgramKey, L"LastCheck");
    RegDeleteKeyValueW(HKEY_CURRENT_USER, ProgramKey, L"LastCheckVersion");
}

void SetLastCheck(DWORD value)
{
    RegSetKeyValueW(HKEY_CURRENT_USER, ProgramKey, L"LastCheck", REG_DWORD, &value, sizeof(value));
}

bool ReadLastCheck(DWORD& value)
{
    DWORD size = sizeof(value);
    return RegGetValueW(HKEY_CURRENT_USER, ProgramKey, L"LastCheck", RRF_RT_REG_DWORD, nullptr, &value, &size) ==
           ERROR_SUCCESS;
}

std::wstring ReadDeclined()
{
    wchar_t text[64] = {0};
    DWORD size = sizeof(text);
    if (RegGetValueW(HKEY_CURRENT_USER, ProgramKey, L"LastCheckVersion", RRF_RT_REG_SZ, nullptr, text, &size) !=
        ERROR_SUCCESS)
        return L"(none)";
    return text;
}

struct WindowQuery {
    DWORD process;        // 0: any but `notProcess`
    DWORD notProcess;
    const wchar_t* title;
    bool prefix;
    HWND found;
    DWORD foundProcess;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter)
{
    WindowQuery* query = (WindowQuery*)parameter;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (!IsWindowVisible(window)) return TRUE;
    if (query->process && process != query->process) return TRUE;
    if (query->notProcess && process == query->notProcess) return TRUE;
    wchar_t title[256] = {0};
    GetWindowTextW(window, title, 256);
    size_t length = wcslen(query->title);
    if (query->prefix ? wcsncmp(title, query->title, length) != 0 : wcscmp(title, query->title) != 0) return TRUE;
    query->found = window;
    query->foundProcess = process;
    return FALSE;
}

HWND WaitForTitle(DWORD process, const wchar_t* title, bool prefix, DWORD timeout, DWORD notProcess = 0,
                  DWORD* foundProcess = nullptr)
{
    DWORD start = GetTickCount();
    do {
        WindowQuery query = {process, notProcess, title, prefix, nullptr, 0};
        EnumWindows(MatchWindow, (LPARAM)&query);
        if (query.found) {
            if (foundProcess) *foundProcess = query.foundProcess;
            return query.found;
        }
        Sleep(50);
    } while (GetTickCount() - start < timeout);
    return nullptr;
}

BOOL CALLBACK CollectText(HWND window, LPARAM parameter)
{
    wchar_t text[512] = {0};
    GetWindowTextW(window, text, 512);
    *(std::wstring*)parameter += std::wstring(text) + L"|";
    return TRUE;
}

// The texts of a message box's controls, separated by "|".
std::wstring BoxTexts(HWND box)
{
    std::wstring texts;
    EnumChildWindows(box, CollectText, (LPARAM)&texts);
    return texts;
}

void Press(HWND box, int id)
{
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(box, id));
}

// Polls until the fixture has logged `count` requests.
std::vector<harness::LoggedRequest> WaitForRequests(const nettest::Server& server, size_t count, DWORD timeout)
{
    DWORD start = GetTickCount();
    std::vector<harness::LoggedRequest> requests;
    do {
        requests = server.Requests();
        if (requests.size() >= count) break;
        Sleep(100);
    } while (GetTickCount() - start < timeout);
    return requests;
}

std::string UpdateAnswer(const char* version, const std::string& files, const char* restart = "Restart now?")
{
    std::string answer = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<update application=\"Orvane Update\">";
    answer += std::string("<version>") + version + "</version>";
    answer += std::string("<info><en>Version ") + version + " is out. Update now?</en></info>";
    if (restart) answer += std::string("<restart><en>") + restart + "</en></restart>";
    answer += "<files>" + files + "</files></update>";
    return answer;
}

std::string Json(const std::string& text)
{
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        if (c == '\n') {
            quoted += "\\n";
            continue;
        }
        quoted += c;
    }
    return quoted + "\"";
}

// A process started by another one: found by its window, watched through a handle.
struct Successor {
    HANDLE process = nullptr;
    HWND window = nullptr;
    ~Successor()
    {
        if (!process) return;
        if (WaitForSingleObject(process, 0) != WAIT_OBJECT_0) TerminateProcess(process, 1);
        CloseHandle(process);
    }
    bool Find(const wchar_t* title, DWORD notProcess, DWORD timeout)
    {
        DWORD id = 0;
        window = WaitForTitle(0, title, false, timeout, notProcess, &id);
        if (!window) return false;
        process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, id);
        return process != nullptr;
    }
    std::wstring Image()
    {
        wchar_t path[MAX_PATH] = {0};
        DWORD size = MAX_PATH;
        if (!QueryFullProcessImageNameW(process, 0, path, &size)) return L"";
        return path;
    }
    long Close()
    {
        PostMessageW(window, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(process, 20000) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        return (long)code;
    }
};

// A copy of the 1.07 program in a fresh folder.
std::wstring ProgramFolder(const wchar_t* name)
{
    std::wstring folder = harness::ScratchDir(name);
    EXPECT_TRUE(CopyFileW((Bin() + L"orvane.exe").c_str(), (folder + L"orvane.exe").c_str(), FALSE));
    return folder;
}

struct Running {
    harness::GuiProgram program;
    HWND window = nullptr;
    bool Start(const std::wstring& folder)
    {
        if (!program.Start(folder + L"orvane.exe")) return false;
        window = WaitForTitle(program.ProcessId(), L"Orvane [", true, 20000);
        return window != nullptr;
    }
    HWND Box(DWORD timeout = 20000) { return WaitForTitle(program.ProcessId(), BoxCaption, false, timeout); }
    // The next question after `previous` was answered.
    HWND NextBox(HWND previous, DWORD timeout = 30000)
    {
        DWORD start = GetTickCount();
        do {
            HWND box = WaitForTitle(program.ProcessId(), BoxCaption, false, 100);
            if (box && box != previous && !IsWindow(previous)) return box;
            Sleep(50);
        } while (GetTickCount() - start < timeout);
        return nullptr;
    }
    long Close()
    {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return program.WaitForExit(20000);
    }
};

}  // namespace

TEST(SelfUpdate, From107To108AndOnToTheNextOne)
{
    std::wstring folder = ProgramFolder(L"self-update");
    std::string original = ProgramBytes(L"orvane.exe");
    std::string next = ProgramBytes(L"orvane_next.exe");
    ASSERT_NE(original, next);

    nettest::Server server(L"self-update-service");
    server.AddFile(L"next.exe", next);
    std::string files = "<url name=\"orvane.exe\">http://halvik.example/files/orvane.exe</url>";
    ASSERT_TRUE(server.Start("{\"GET /common/update.php\": {\"body\": " + Json(UpdateAnswer("1.08", files)) +
                             "}, \"GET /files/orvane.exe\": {\"body_file\": \"next.exe\"}}"));
    harness::SystemProxy proxy(server.Port());
    ForgetChecks();

    Running first;
    ASSERT_TRUE(first.Start(folder));
    DWORD started = (DWORD)time(nullptr);
    HWND question = first.Box();
    ASSERT_TRUE(question) << "the update question";
    EXPECT_NE(std::wstring::npos, BoxTexts(question).find(L"Version 1.08 is out. Update now?")) << BoxTexts(question);
    EXPECT_EQ(nullptr, GetDlgItem(question, IDHELP)) << "no help address, no Help button";
    DWORD lastCheck = 0;
    ASSERT_TRUE(ReadLastCheck(lastCheck)) << "stored before the check ran";
    EXPECT_LE(started - 60, lastCheck);
    EXPECT_GE(started + 60, lastCheck);
    Press(question, IDYES);

    HWND restart = first.NextBox(question);
    ASSERT_TRUE(restart) << "the restart question";
    EXPECT_NE(std::wstring::npos, BoxTexts(restart).find(L"Restart now?"));
    Press(restart, IDYES);
    EXPECT_EQ(0, first.program.WaitForExit(20000)) << "the old program ends by its normal close";

    Successor second;
    ASSERT_TRUE(second.Find(L"Orvane [1.08]", first.program.ProcessId(), 20000));
    EXPECT_EQ(folder + L"orvane.exe", second.Image());
    EXPECT_TRUE(harness::ReadFileBytes(folder + L"orvane.exe") == next);
    EXPECT_TRUE(harness::ReadFileBytes(folder + L"orvane_old.exe") == original);
    EXPECT_EQ((std::vector<std::wstring>{L"orvane.exe", L"orvane_old.exe"}), Names(TakeSnapshot(folder)));

    // Exactly the query of this program and machine.
    WideString identity;
    ASSERT_TRUE(MachineIdentity(identity, IdentityPurpose::UpdateQuery));
    std::string expected = "http://halvik.example:80/common/update.php?p=orvane&v=1.07&id=";
    for (const wchar_t* c = identity.Text(); *c; c++) expected += (char)*c;
    std::vector<harness::LoggedRequest> requests = server.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(expected, requests[0].path);
    EXPECT_EQ("AutoUpdate", requests[0].Header("User-Agent"));
    EXPECT_EQ("http://halvik.example:80/files/orvane.exe", requests[1].path);
    EXPECT_EQ("*/*", requests[1].Header("Accept"));
    EXPECT_EQ(0, second.Close());

    // A second installation in a row: 1.08 offered 1.09 (the 1.07 bytes stand in for it),
    // with an empty restart text, restarts at once and replaces the first one's "_old".
    nettest::Server later(L"self-update-later");
    later.AddFile(L"later.exe", original);
    ASSERT_TRUE(later.Start("{\"GET /common/update.php\": {\"body\": " + Json(UpdateAnswer("1.09", files, "")) +
                            "}, \"GET /files/orvane.exe\": {\"body_file\": \"later.exe\"}}"));
    harness::SystemProxy laterProxy(later.Port());
    ForgetChecks();
    Running third;
    ASSERT_TRUE(third.Start(folder));
    HWND again = third.Box();
    ASSERT_TRUE(again);
    Press(again, IDYES);
    EXPECT_EQ(0, third.program.WaitForExit(30000)) << "no restart question: the restart comes at once";
    Successor fourth;
    ASSERT_TRUE(fourth.Find(L"Orvane [1.07]", third.program.ProcessId(), 20000));
    EXPECT_TRUE(harness::ReadFileBytes(folder + L"orvane_old.exe") == next) << "the first update's _old is gone";
    EXPECT_TRUE(harness::ReadFileBytes(folder + L"orvane.exe") == original);
    EXPECT_EQ((std::vector<std::wstring>{L"orvane.exe", L"orvane_old.exe"}), Names(TakeSnapshot(folder)));
    EXPECT_EQ(0, fourth.Close());
}

TEST(SelfUpdate, ZipArchiveWithAFolderAndRestartRefused)
{
    std::wstring folder = ProgramFolder(L"self-update-zip");
    std::string next = ProgramBytes(L"orvane_next.exe");
    nettest::Server server(L"self-update-zip-service");
    std::wstring pack = server.Folder() + L"pack\\";
    CreateDirectoryW(pack.c_str(), nullptr);
    CreateDirectoryW((pack + L"data").c_str(), nullptr);
    harness::WriteFileBytes(pack + L"orvane.exe", next);
    harness::WriteFileBytes(pack + L"data\\readme.txt", "read me\r\n");
    std::string unixPack = harness::UnixPath(pack);
    ASSERT_EQ(0, harness::RunUnix(L"cd '" + std::wstring(unixPack.begin(), unixPack.end()) +
                                  L"' && zip -q -r ../pack.zip orvane.exe data"));
    std::string files = "<url name=\"orvane.exe\" zip=\"orvane.zip\">http://halvik.example/files/orvane.zip</url>";
    ASSERT_TRUE(server.Start("{\"GET /common/update.php\": {\"body\": " + Json(UpdateAnswer("1.08", files)) +
                             "}, \"GET /files/orvane.zip\": {\"body_file\": \"pack.zip\"}}"));
    harness::SystemProxy proxy(server.Port());
    ForgetChecks();

    Running run;
    ASSERT_TRUE(run.Start(folder));
    HWND question = run.Box();
    ASSERT_TRUE(question);
    Press(question, IDYES);
    HWND restart = run.NextBox(question);
    ASSERT_TRUE(restart);
    Press(restart, IDNO);
    Sleep(1000);
    EXPECT_EQ(-1, run.program.WaitForExit(0)) << "No to the restart: the program keeps running";
    EXPECT_TRUE(harness::ReadFileBytes(folder + L"orvane.exe") == next);
    EXPECT_TRUE(harness::ReadFileBytes(folder + L"orvane_old.exe") == ProgramBytes(L"orvane.exe"));
    EXPECT_EQ("read me\r\n", harness::ReadFileBytes(folder + L"data\\readme.txt"));
    EXPECT_EQ((std::vector<std::wstring>{L"data\\", L"data\\readme.txt", L"orvane.exe", L"orvane_old.exe"}),
              Names(TakeSnapshot(folder)))
        << "the archive is deleted and nothing of the unpacking is left";
    EXPECT_EQ(0, run.Close());
}

TEST(SelfUpdate, NoIsRememberedForThatVersionOnly)
{
    std::wstring folder = ProgramFolder(L"self-update-no");
    Snapshot before = TakeSnapshot(folder);
    std::string files = "<url name=\"orvane.exe\">http://halvik.example/files/orvane.exe</url>";
    nettest::Server server(L"self-update-no-service");
    ASSERT_TRUE(server.Start("{\"GET /common/update.php\": {\"body\": " + Json(UpdateAnswer("1.08", files)) + "}}"));
    harness::SystemProxy proxy(server.Port());
    ForgetChecks();
    {
        Running run;
        ASSERT_TRUE(run.Start(folder));
        HWND question = run.Box();
        ASSERT_TRUE(question);
        Press(question, IDNO);
        for (int i = 0; i < 100 && ReadDeclined() != L"1.08"; i++) Sleep(100);
        EXPECT_EQ(L"1.08", ReadDeclined());
        EXPECT_EQ(0, run.Close());
    }
    {
        // Asked again for 1.08: the service is queried, the user is not.
        RegDeleteKeyValueW(HKEY_CURRENT_USER, ProgramKey, L"LastCheck");
        Running run;
        ASSERT_TRUE(run.Start(folder));
        EXPECT_EQ(2u, WaitForRequests(server, 2, 20000).size());
        EXPECT_EQ(nullptr, run.Box(3000)) << "the declined version is not offered again";
        EXPECT_EQ(0, run.Close());
    }
    EXPECT_TRUE(before == TakeSnapshot(folder));

    nettest::Server later(L"self-update-no-later");
    ASSERT_TRUE(later.Start("{\"GET /common/update.php\": {\"body\": " + Json(UpdateAnswer("1.09", files)) + "}}"));
    harness::SystemProxy laterProxy(later.Port());
    RegDeleteKeyValueW(HKEY_CURRENT_USER, ProgramKey, L"LastCheck");
    Running run;
    ASSERT_TRUE(run.Start(folder));
    HWND question = run.Box();
    ASSERT_TRUE(question) << "1.09 is asked for again";
    Press(question, IDNO);
    for (int i = 0; i < 100 && ReadDeclined() != L"1.09"; i++) Sleep(100);
    EXPECT_EQ(L"1.09", ReadDeclined());
    EXPECT_EQ(0, run.Close());
}

TEST(SelfUpdate, ChecksAtMostOnceInSevenDays)
{
    std::wstring folder = ProgramFolder(L"self-update-days");
    nettest::Server server(L"self-update-days-service");
    ASSERT_TRUE(server.Start(R"({"GET /common/update.php": {"body": "<update/>"}})"));
    harness::SystemProxy proxy(server.Port());
    DWORD now = (DWORD)time(nullptr);
    struct Case {
        DWORD lastCheck;
        size_t requests;
        const char* what;
    } cases[] = {{now - 6 * 86400, 0, "six days ago"},
                 {now - 8 * 86400, 1, "eight days ago"},
                 {0xFFFFFFFF, 1, "the never-now mark"}};
    size_t total = 0;
    for (const Case& c : cases) {
        SetLastCheck(c.lastCheck);
        Running run;
        ASSERT_TRUE(run.Start(folder));
        Sleep(2500);
        total += c.requests;
        // The mark lets no check run, but it is counted here with the next start's check.
        size_t seen = server.Requests().size();
        if (c.lastCheck == 0xFFFFFFFF) {
            EXPECT_EQ(total - 1, seen) << c.what;
            DWORD stored = 1;
            EXPECT_TRUE(ReadLastCheck(stored));
            EXPECT_EQ(0u, stored) << "the mark becomes 0";
        } else {
            EXPECT_EQ(total, seen) << c.what;
            DWORD stored = 0;
            EXPECT_TRUE(ReadLastCheck(stored));
            if (c.requests) {
                EXPECT_LE(now, stored) << "the time of this check";
            } else {
                EXPECT_EQ(c.lastCheck, stored) << "untouched";
            }
        }
        EXPECT_EQ(0, run.Close());
    }
    // The 0 left by the mark: the next start checks.
    Running run;
    ASSERT_TRUE(run.Start(folder));
    EXPECT_EQ(total, WaitForRequests(server, total, 20000).size());
    EXPECT_EQ(0, run.Close());
}

TEST(SelfUpdate, ExitWhileTheServiceHoldsTheAnswer)
{
    std::wstring folder = ProgramFolder(L"self-update-held");
    nettest::Server server(L"self-update-held-service");
    ASSERT_TRUE(server.Start(R"({"GET /common/update.php": {"delay": 60, "body": "<update/>"}})"));
    harness::SystemProxy proxy(server.Port());
    ForgetChecks();
    Running run;
    ASSERT_TRUE(run.Start(folder));
    ASSERT_EQ(1u, WaitForRequests(server, 1, 20000).size());
    DWORD start = GetTickCount();
    PostMessageW(run.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(0, run.program.WaitForExit(20000));
    EXPECT_LT(GetTickCount() - start, 15000u) << "ended long before the service's 60 s";
}

TEST(SelfUpdate, TickingTheBoxWhileAskingNeitherBlocksNorAsksTwice)
{
    std::wstring folder = ProgramFolder(L"self-update-tick");
    std::string files = "<url name=\"orvane.exe\">http://halvik.example/files/orvane.exe</url>";
    nettest::Server server(L"self-update-tick-service");
    ASSERT_TRUE(server.Start("{\"GET /common/update.php\": {\"body\": " + Json(UpdateAnswer("1.08", files)) + "}}"));
    harness::SystemProxy proxy(server.Port());
    ForgetChecks();
    Running run;
    ASSERT_TRUE(run.Start(folder));
    HWND question = run.Box();
    ASSERT_TRUE(question);
    // The box is disabled while the question is open; its command still arrives by message.
    HWND box = GetDlgItem(run.window, 1006);
    for (int i = 0; i < 2; i++) {
        SendMessageW(box, BM_SETCHECK, i == 0 ? BST_UNCHECKED : BST_CHECKED, 0);
        DWORD_PTR result = 0;
        EXPECT_TRUE(SendMessageTimeoutW(run.window, WM_COMMAND, MAKEWPARAM(1006, BN_CLICKED), (LPARAM)box,
                                        SMTO_NORMAL, 5000, &result))
            << "the window thread answers at once";
    }
    Sleep(1000);
    EXPECT_EQ(1u, server.Requests().size()) << "the running check covers the tick";
    Press(question, IDNO);
    // Once the check has ended, a tick checks at once, whatever "LastCheck" says (ticks
    // while it still ends are dropped like the ones above).
    for (int i = 0; i < 40 && server.Requests().size() < 2; i++) {
        SendMessageW(run.window, WM_COMMAND, MAKEWPARAM(1006, BN_CLICKED), (LPARAM)box);
        Sleep(250);
    }
    EXPECT_EQ(2u, WaitForRequests(server, 2, 20000).size());
    HWND asked = run.NextBox(question);
    EXPECT_TRUE(asked) << "a tick ignores the stored declined version";
    if (asked) Press(asked, IDNO);
    EXPECT_EQ(0, run.Close());
}

TEST(SelfUpdate, HostileAnswersLeaveTheFolderAsItWas)
{
    std::string next = ProgramBytes(L"orvane_next.exe");
    std::string good = "<url name=\"orvane.exe\">http://halvik.example/files/orvane.exe</url>";
    std::string huge(6 * 1024 * 1024, 'x');
    struct Case {
        const char* what;
        std::string answer;
        bool asks;
        const char* file;  // route of /files/orvane.exe (JSON members), or null
        bool downloads;    // false: refused before anything is downloaded
    } cases[] = {
        {"not XML", "this is not <xml", false, nullptr, false},
        {"no version", "<update><info><en>Update?</en></info></update>", false, nullptr, false},
        {"version 1.7", UpdateAnswer("1.7", good), false, nullptr, false},
        {"a huge answer", "<update><version>1.08</version><info><en>Update?</en></info><pad>" + huge + "</pad></update>",
         false, nullptr, false},
        {"a download cut half way", UpdateAnswer("1.08", good), true, "\"body_file\": \"next.exe\", \"cut\": 30000",
         true},
        {"a download that fails", UpdateAnswer("1.08", good), true, "\"status\": 500, \"body\": \"no\"", true},
        {"a corrupt archive", UpdateAnswer("1.08", "<url name=\"orvane.exe\" zip=\"pack.zip\">"
                                                   "http://halvik.example/files/orvane.exe</url>"),
         true, "\"body_file\": \"corrupt.zip\"", true},
        {"a parent-folder name", UpdateAnswer("1.08", "<url name=\"..\\escape.exe\">"
                                                      "http://halvik.example/files/orvane.exe</url>"),
         true, "\"body_file\": \"next.exe\"", false},
        {"a device name", UpdateAnswer("1.08", good + "<url name=\"com1.txt\">http://halvik.example/files/orvane.exe</url>"),
         true, "\"body_file\": \"next.exe\"", false},
        {"a stream name", UpdateAnswer("1.08", "<url name=\"orvane.exe:evil\">http://halvik.example/files/orvane.exe</url>"),
         true, "\"body_file\": \"next.exe\"", false},
        {"a missing file", UpdateAnswer("1.08", good + "<url name=\"missing.dll\">http://halvik.example/files/orvane.exe</url>"),
         true, "\"body_file\": \"next.exe\"", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring folder = ProgramFolder(L"self-update-hostile");
        harness::WriteFileBytes(folder + L"orvane_old.exe", "an earlier update's program");
        Snapshot before = TakeSnapshot(folder);
        std::wstring parent = folder.substr(0, folder.size() - 1);
        parent = parent.substr(0, parent.rfind(L'\\') + 1);
        DeleteFileW((parent + L"escape.exe").c_str());

        nettest::Server server(L"self-update-hostile-service");
        server.AddFile(L"next.exe", next);
        std::string corrupt = "PK\x03\x04" + std::string(200, '\x55');
        server.AddFile(L"corrupt.zip", corrupt);
        std::string routes = "{\"GET /common/update.php\": {\"body\": " + Json(c.answer) + "}";
        if (c.file) routes += std::string(", \"GET /files/orvane.exe\": {") + c.file + "}";
        ASSERT_TRUE(server.Start(routes + "}"));
        harness::SystemProxy proxy(server.Port());
        ForgetChecks();

        Running run;
        ASSERT_TRUE(run.Start(folder));
        HWND question = run.Box(c.asks ? 20000 : 3000);
        if (!c.asks) {
            EXPECT_EQ(nullptr, question);
            EXPECT_EQ(1u, server.Requests().size());
        } else {
            ASSERT_TRUE(question);
            Press(question, IDYES);
            if (c.downloads) WaitForRequests(server, 2, 20000);
            Sleep(2500);
            if (!c.downloads) {
                EXPECT_EQ(1u, server.Requests().size()) << "nothing was downloaded";
            }
            EXPECT_EQ(nullptr, run.Box(100)) << "no restart question after a failed installation";
        }
        EXPECT_EQ(-1, run.program.WaitForExit(0)) << "still running";
        EXPECT_TRUE(before == TakeSnapshot(folder)) << "the folder is byte for byte as before";
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((parent + L"escape.exe").c_str()));
        EXPECT_EQ(0, run.Close());
    }
}

TEST(SelfUpdate, HelpButtonOpensTheHelpAddress)
{
    std::wstring folder = ProgramFolder(L"self-update-help");
    std::wstring record = harness::ScratchDir(L"self-update-help-record") + L"opened.txt";
    SetEnvironmentVariableW(L"ORVANE_RECORD_FILE", record.c_str());
    std::string helper;
    for (wchar_t c : Bin() + L"record_arguments.exe") helper += (char)c;
    std::string answer = UpdateAnswer("1.08", "");
    answer.insert(answer.find("<version>"), "<help>" + helper + "</help>");
    nettest::Server server(L"self-update-help-service");
    ASSERT_TRUE(server.Start("{\"GET /common/update.php\": {\"body\": " + Json(answer) + "}}"));
    harness::SystemProxy proxy(server.Port());
    ForgetChecks();

    Running run;
    ASSERT_TRUE(run.Start(folder));
    HWND question = run.Box();
    ASSERT_TRUE(question);
    HWND help = GetDlgItem(question, IDHELP);
    ASSERT_TRUE(help) << "a help address gives the box a Help button: " << BoxTexts(question);
    // The Help button makes the system send WM_HELP to the box's owner. Wine's message
    // box does not send it (measured: "Help button not supported yet"), so the test sends
    // what Windows would.
    HELPINFO info = {sizeof(info), HELPINFO_WINDOW, 0, help, 0, {0, 0}};
    SendMessageTimeoutW(run.window, WM_HELP, 0, (LPARAM)&info, SMTO_NORMAL, 5000, nullptr);
    for (int i = 0; i < 100 && GetFileAttributesW(record.c_str()) == INVALID_FILE_ATTRIBUTES; i++) Sleep(100);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(record.c_str())) << "the help address was opened";
    EXPECT_TRUE(IsWindow(question)) << "the question stays open";
    Press(question, IDNO);
    for (int i = 0; i < 50 && IsWindow(question); i++) Sleep(100);

    // Without a question open, WM_HELP is the window's own business.
    DeleteFileW(record.c_str());
    SendMessageTimeoutW(run.window, WM_HELP, 0, (LPARAM)&info, SMTO_NORMAL, 5000, nullptr);
    Sleep(1500);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(record.c_str()));
    EXPECT_EQ(0, run.Close());
    SetEnvironmentVariableW(L"ORVANE_RECORD_FILE", nullptr);
}

// The release package as users get it: unpacked with the program's own zip engine, the
// program run from it, and the next release's package and answer published to it.
TEST(SelfUpdate, ThePublishedReleaseRunsAndUpdatesToTheNextRelease)
{
    const std::wstring release = harness::BuildDir() + L"release\\";
    const std::wstring nextRelease = harness::BuildDir() + L"release-next\\";
    if (GetFileAttributesW((release + L"orvane-1.07-win32.zip").c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "the release package is made of the 32-bit program: its build has one, this one has not";

    std::wstring folder = harness::ScratchDir(L"release-package");
    auto narrow = [](const std::wstring& text) { return std::string(text.begin(), text.end()); };
    ASSERT_EQ(1, ExtractArchive(narrow(release + L"orvane-1.07-win32.zip").c_str(), narrow(folder).c_str()));
    Snapshot unpacked = TakeSnapshot(folder);
    EXPECT_EQ((std::vector<std::wstring>{L"README.txt", L"SHA256SUMS", L"orvane.exe"}), Names(unpacked));
    EXPECT_TRUE(unpacked[L"orvane.exe"] == ProgramBytes(L"orvane.exe")) << "the package holds the program built";
    const std::string& readme = unpacked[L"README.txt"];
    EXPECT_EQ(0u, readme.find("Orvane 1.07\r\n")) << readme.substr(0, 80);
    EXPECT_EQ(std::string::npos, readme.find("\n\n")) << "Windows line ends throughout";
    std::string unixFolder = harness::UnixPath(folder);
    EXPECT_EQ(0, harness::RunUnix(L"cd '" + std::wstring(unixFolder.begin(), unixFolder.end()) +
                                  L"' && sha256sum --quiet -c SHA256SUMS"))
        << "the checksums hold";

    // The next release, published as the maker would: its answer file and its zip.
    std::string answer = harness::ReadFileBytes(nextRelease + L"orvane-1.08-update.xml");
    std::string zip = harness::ReadFileBytes(nextRelease + L"orvane-1.08-win32.zip");
    ASSERT_FALSE(answer.empty());
    ASSERT_FALSE(zip.empty());
    nettest::Server server(L"release-service");
    server.AddFile(L"answer.xml", answer);
    server.AddFile(L"next.zip", zip);
    ASSERT_TRUE(server.Start(
        R"({"GET /common/update.php": {"body_file": "answer.xml"},
            "GET /downloads/orvane-1.08-win32.zip": {"body_file": "next.zip"}})"));
    harness::SystemProxy proxy(server.Port());
    ForgetChecks();

    Running first;
    ASSERT_TRUE(first.Start(folder));
    wchar_t title[64] = {0};
    GetWindowTextW(first.window, title, 64);
    EXPECT_STREQ(L"Orvane [1.07]", title);
    HWND question = first.Box();
    ASSERT_TRUE(question) << "the released answer is read and offers 1.08";
    EXPECT_NE(std::wstring::npos, BoxTexts(question).find(L"Orvane 1.08 is available.")) << BoxTexts(question);
    EXPECT_NE(nullptr, GetDlgItem(question, IDHELP)) << "the answer names a help address";
    Press(question, IDYES);
    HWND restart = first.NextBox(question);
    ASSERT_TRUE(restart) << "the restart question";
    EXPECT_NE(std::wstring::npos, BoxTexts(restart).find(L"updated to version 1.08")) << BoxTexts(restart);
    Press(restart, IDYES);
    EXPECT_EQ(0, first.program.WaitForExit(30000));

    Successor second;
    ASSERT_TRUE(second.Find(L"Orvane [1.08]", first.program.ProcessId(), 30000));
    Snapshot updated = TakeSnapshot(folder);
    EXPECT_EQ((std::vector<std::wstring>{L"README.txt", L"SHA256SUMS", L"orvane.exe", L"orvane_old.exe"}),
              Names(updated));
    EXPECT_TRUE(updated[L"orvane.exe"] == ProgramBytes(L"orvane_next.exe"));
    EXPECT_TRUE(updated[L"orvane_old.exe"] == ProgramBytes(L"orvane.exe"));
    EXPECT_EQ(0u, updated[L"README.txt"].find("Orvane 1.08\r\n"));
    std::vector<harness::LoggedRequest> requests = server.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("http://halvik.example:80/downloads/orvane-1.08-win32.zip", requests[1].path);
    EXPECT_EQ(0, second.Close());
}
