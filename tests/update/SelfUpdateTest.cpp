// The real program updating itself: a copy of the program in a folder of its own, the
// maker's update service played by a loopback fixture behind the prefix's proxy setting,
// and the questions answered by pressing the message boxes' buttons.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>
#include <psapi.h>

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

// What differs between two snapshots: names only in one of them, and files whose bytes differ.
std::string Differences(const Snapshot& before, const Snapshot& after)
{
    std::string text;
    auto narrow = [](const std::wstring& name) { return std::string(name.begin(), name.end()); };
    for (const auto& entry : before) {
        auto found = after.find(entry.first);
        if (found == after.end())
            text += " gone: " + narrow(entry.first);
        else if (found->second != entry.second)
            text += " changed: " + narrow(entry.first) + " (" + std::to_string(entry.second.size()) + " -> " +
                    std::to_string(found->second.size()) + " bytes)";
    }
    for (const auto& entry : after)
        if (!before.count(entry.first)) text += " new: " + narrow(entry.first);
    return text;
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
        size_t before = total;
        total += c.requests;
        // The mark lets no check run, but it is counted here with the next start's check.
        size_t expected = c.lastCheck == 0xFFFFFFFF ? total - 1 : total;
        if (expected > before)
            WaitForRequests(server, expected, 30000);  // as long as a busy machine needs
        else
            Sleep(2500);  // time for a request that must not come
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

namespace {

// Whether the folder holds an entry whose name starts with `prefix`.
bool HoldsEntry(const std::wstring& folder, const wchar_t* prefix)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + prefix + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

}  // namespace

TEST(SelfUpdate, ExitDuringAnInstallationLeavesTheFolderWholeEitherWay)
{
    std::string original = ProgramBytes(L"orvane.exe");
    std::string next = ProgramBytes(L"orvane_next.exe");
    // An archive of the next program and thousands of small files: creating so many files
    // takes the installation many seconds (Wine looks a new name up through the whole
    // folder), more than a program that ends may wait for a thread it would end by force.
    const int Files = 4000;
    std::wstring pack = harness::ScratchDir(L"self-update-exit-pack");
    harness::WriteFileBytes(pack + L"orvane.exe", next);
    std::string unixPack = harness::UnixPath(pack);
    wchar_t script[160];
    swprintf(script, 160, L"' && mkdir data && cd data && for i in $(seq 1 %d); do echo \"$i\" > f$i.txt; done", Files);
    ASSERT_EQ(0, harness::RunUnix(L"cd '" + std::wstring(unixPack.begin(), unixPack.end()) + script +
                                      L" && cd .. && zip -q -r pack.zip orvane.exe data && rm -r data",
                                  300000));
    std::string zip = harness::ReadFileBytes(pack + L"pack.zip");
    ASSERT_FALSE(zip.empty());

    struct Case {
        const char* what;
        const char* route;  // of /files/pack.zip
        bool closeWhenUnpacking;  // else 1 s after the download was asked for
    } cases[] = {
        {"a download that trickles", "\"body_file\": \"pack.zip\", \"pace\": [2000, 0.5]", false},
        {"the unpacking", "\"body_file\": \"pack.zip\"", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring folder = ProgramFolder(L"self-update-exit");
        Snapshot before = TakeSnapshot(folder);
        nettest::Server server(L"self-update-exit-service");
        server.AddFile(L"pack.zip", zip);
        std::string files = "<url name=\"orvane.exe\" zip=\"pack.zip\">http://halvik.example/files/pack.zip</url>";
        ASSERT_TRUE(server.Start("{\"GET /common/update.php\": {\"body\": " + Json(UpdateAnswer("1.08", files)) +
                                 "}, \"GET /files/pack.zip\": {" + c.route + "}}"));
        harness::SystemProxy proxy(server.Port());
        ForgetChecks();

        Running run;
        ASSERT_TRUE(run.Start(folder));
        HWND question = run.Box();
        ASSERT_TRUE(question);
        Press(question, IDYES);
        ASSERT_EQ(2u, WaitForRequests(server, 2, 30000).size());
        if (c.closeWhenUnpacking) {
            // The moment the archive's folder appears beside the program.
            DWORD start = GetTickCount();
            while (!HoldsEntry(folder, L"~update") && GetTickCount() - start < 120000) Sleep(5);
            ASSERT_TRUE(HoldsEntry(folder, L"~update")) << "the unpacking began";
        } else {
            Sleep(1000);
        }
        PostMessageW(run.window, WM_CLOSE, 0, 0);
        // A restart question that came first is answered No: the program then just ends.
        DWORD start = GetTickCount();
        long code = -1;
        while ((code = run.program.WaitForExit(200)) == -1 && GetTickCount() - start < 300000) {
            if (HWND box = run.Box(0)) Press(box, IDNO);
        }
        EXPECT_EQ(0, code) << "the program ended by its normal close";
        Snapshot after = TakeSnapshot(folder);
        bool asBefore = after == before;
        bool updated = after.size() == (size_t)Files + 3 && after[L"orvane.exe"] == next &&
                       after[L"orvane_old.exe"] == original && after.count(L"data\\") &&
                       after[L"data\\f1.txt"] == "1\n" && after[L"data\\f4000.txt"] == "4000\n";
        std::vector<std::wstring> names = Names(after);
        if (names.size() > 8) names.resize(8);
        EXPECT_TRUE(asBefore || updated) << "never half updated; the folder holds " << after.size()
                                         << " entries, the first: " << ::testing::PrintToString(names);
        if (!c.closeWhenUnpacking) {
            EXPECT_TRUE(asBefore) << "ended in its download: put back";
        }
    }
}

TEST(SelfUpdate, AHugeSlowAnswerIsCutOffWithoutGrowingTheProgram)
{
    // 64 MB of answer, trickling: the check stops at its 1 MB limit and holds no more.
    std::string answer = "<update><version>1.08</version><info><en>Update?</en></info><pad>";
    answer += std::string(64 * 1024 * 1024, 'x') + "</pad></update>";
    std::wstring folder = ProgramFolder(L"self-update-huge");
    nettest::Server server(L"self-update-huge-service");
    server.AddFile(L"huge.xml", answer);
    answer.clear();
    answer.shrink_to_fit();
    ASSERT_TRUE(server.Start(R"({"GET /common/update.php": {"body_file": "huge.xml", "pace": [65536, 0.02]}})"));
    harness::SystemProxy proxy(server.Port());
    ForgetChecks();

    Running run;
    ASSERT_TRUE(run.Start(folder));
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, run.program.ProcessId());
    ASSERT_TRUE(process);
    auto privateBytes = [process]() -> SIZE_T {
        PROCESS_MEMORY_COUNTERS_EX counters;
        ZeroMemory(&counters, sizeof(counters));
        counters.cb = sizeof(counters);
        if (!GetProcessMemoryInfo(process, (PROCESS_MEMORY_COUNTERS*)&counters, sizeof(counters))) return 0;
        // Some systems leave the private count empty; the page-file count is the same figure.
        return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
    };
    ASSERT_EQ(1u, WaitForRequests(server, 1, 30000).size());
    SIZE_T start = privateBytes();
    ASSERT_NE(0u, start);
    SIZE_T highest = start;
    // Long enough for several megabytes to arrive even on a busy machine (64 KB every 20 ms
    // is 3 MB a second when nothing stops the reader).
    for (int i = 0; i < 40; i++) {
        Sleep(250);
        SIZE_T now = privateBytes();
        if (now > highest) highest = now;
    }
    CloseHandle(process);
    EXPECT_LT(highest - start, (SIZE_T)8 * 1024 * 1024) << "grew from " << start << " to " << highest;
    EXPECT_EQ(nullptr, run.Box(100)) << "a cut answer offers nothing";
    EXPECT_EQ(-1, run.program.WaitForExit(0));
    EXPECT_EQ(0, run.Close());
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
        size_t requests;   // the service sees in all: 1 when refused before any download
    } cases[] = {
        {"not XML", "this is not <xml", false, nullptr, 1},
        {"no version", "<update><info><en>Update?</en></info></update>", false, nullptr, 1},
        {"version 1.7", UpdateAnswer("1.7", good), false, nullptr, 1},
        {"a huge answer", "<update><version>1.08</version><info><en>Update?</en></info><pad>" + huge + "</pad></update>",
         false, nullptr, 1},
        {"a download cut half way", UpdateAnswer("1.08", good), true, "\"body_file\": \"next.exe\", \"cut\": 30000",
         2},
        {"a download that fails", UpdateAnswer("1.08", good), true, "\"status\": 500, \"body\": \"no\"", 2},
        {"a corrupt archive", UpdateAnswer("1.08", "<url name=\"orvane.exe\" zip=\"pack.zip\">"
                                                   "http://halvik.example/files/orvane.exe</url>"),
         true, "\"body_file\": \"corrupt.zip\"", 2},
        {"a parent-folder name", UpdateAnswer("1.08", "<url name=\"..\\escape.exe\">"
                                                      "http://halvik.example/files/orvane.exe</url>"),
         true, "\"body_file\": \"next.exe\"", 1},
        {"a device name", UpdateAnswer("1.08", good + "<url name=\"com1.txt\">http://halvik.example/files/orvane.exe</url>"),
         true, "\"body_file\": \"next.exe\"", 1},
        {"a stream name", UpdateAnswer("1.08", "<url name=\"orvane.exe:evil\">http://halvik.example/files/orvane.exe</url>"),
         true, "\"body_file\": \"next.exe\"", 1},
        {"a missing file", UpdateAnswer("1.08", good + "<url name=\"missing.dll\">http://halvik.example/files/orvane.exe</url>"),
         true, "\"body_file\": \"next.exe\"", 3},
        {"an archive without the named file", UpdateAnswer("1.08", "<url name=\"orvane.exe\" zip=\"pack.zip\">"
                                                                   "http://halvik.example/files/orvane.exe</url>"),
         true, "\"body_file\": \"other.zip\"", 2},
    };
    // A sound archive that holds another file than the one its entry names.
    std::wstring other = harness::ScratchDir(L"self-update-other-zip");
    harness::WriteFileBytes(other + L"readme.txt", "not the program");
    std::string unixOther = harness::UnixPath(other);
    ASSERT_EQ(0, harness::RunUnix(L"cd '" + std::wstring(unixOther.begin(), unixOther.end()) +
                                  L"' && zip -q other.zip readme.txt"));
    std::string otherZip = harness::ReadFileBytes(other + L"other.zip");
    ASSERT_FALSE(otherZip.empty());
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
        server.AddFile(L"other.zip", otherZip);
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
            // On a busy machine the box itself may take seconds to go.
            for (int i = 0; i < 600 && IsWindow(question); i++) Sleep(100);
            EXPECT_FALSE(IsWindow(question));
            if (c.requests > 1) {
                // The installation ends when its last download has failed or it has put the
                // folder back; on a busy machine either may take many seconds.
                WaitForRequests(server, c.requests, 60000);
                for (int i = 0; i < 600 && !(before == TakeSnapshot(folder)); i++) Sleep(100);
            }
            Sleep(2500);  // time for a request or a question that must not come
            EXPECT_EQ(c.requests, server.Requests().size()) << "the downloads asked for";
            EXPECT_EQ(nullptr, run.Box(100)) << "no restart question after a failed installation";
        }
        EXPECT_EQ(-1, run.program.WaitForExit(0)) << "still running";
        Snapshot after = TakeSnapshot(folder);
        EXPECT_TRUE(before == after) << "the folder is byte for byte as before:" << Differences(before, after);
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((parent + L"escape.exe").c_str()));
        EXPECT_EQ(0, run.Close());
    }
}

TEST(SelfUpdate, HelpButtonOpensOnlyAWebAddress)
{
    std::wstring folder = ProgramFolder(L"self-update-help");
    std::wstring record = harness::ScratchDir(L"self-update-help-record") + L"opened.txt";
    harness::RecordingBrowser browser(record);
    std::string helper;
    for (wchar_t c : Bin() + L"record_arguments.exe") helper += (char)c;
    struct Case {
        std::string help;
        bool opens;
    } cases[] = {
        {"http://halvik.example/orvane/help?v=1.08", true},
        {helper, false},  // a program of this machine: it would record its start
        {"C:\\windows\\system32\\cmd.exe", false},
        {"\\\\127.0.0.1\\share\\x.exe", false},
        {"file:///C:/windows/system32/cmd.exe", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.help);
        DeleteFileW(record.c_str());
        std::string answer = UpdateAnswer("1.08", "");
        answer.insert(answer.find("<version>"), "<help>" + c.help + "</help>");
        nettest::Server server(L"self-update-help-service");
        ASSERT_TRUE(server.Start("{\"GET /common/update.php\": {\"body\": " + Json(answer) + "}}"));
        harness::SystemProxy proxy(server.Port());
        ForgetChecks();

        Running run;
        ASSERT_TRUE(run.Start(folder));
        HWND question = run.Box();
        ASSERT_TRUE(question);
        HWND help = GetDlgItem(question, IDHELP);
        EXPECT_EQ(c.opens, help != nullptr) << "a Help button only for a web address: " << BoxTexts(question);
        // The Help button makes the system send WM_HELP to the box's owner. Wine's message
        // box does not send it (measured: "Help button not supported yet"), so the test
        // sends what Windows would, whether the box has the button or not.
        HELPINFO info = {sizeof(info), HELPINFO_WINDOW, 0, help, 0, {0, 0}};
        SendMessageTimeoutW(run.window, WM_HELP, 0, (LPARAM)&info, SMTO_NORMAL, 5000, nullptr);
        std::string opened;
        for (int i = 0; i < (c.opens ? 150 : 30) && opened.empty(); i++) {
            Sleep(100);
            opened = harness::ReadFileBytes(record);
        }
        if (c.opens) {
            std::string text;
            for (size_t i = 0; i + 1 < opened.size(); i += 2) text += opened[i];
            EXPECT_NE(std::string::npos, text.find(c.help)) << "the browser got the address: " << text;
        } else {
            EXPECT_TRUE(opened.empty()) << "nothing was started";
        }
        EXPECT_TRUE(IsWindow(question)) << "the question stays open";
        Press(question, IDNO);
        for (int i = 0; i < 50 && IsWindow(question); i++) Sleep(100);

        if (c.opens) {
            // Without a question open, WM_HELP is the window's own business.
            DeleteFileW(record.c_str());
            SendMessageTimeoutW(run.window, WM_HELP, 0, (LPARAM)&info, SMTO_NORMAL, 5000, nullptr);
            Sleep(1500);
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(record.c_str()));
        }
        EXPECT_EQ(0, run.Close());
    }
}

TEST(SelfUpdate, TheRestartStartsOnlyAFileJustInstalled)
{
    std::string next = ProgramBytes(L"orvane_next.exe");
    std::wstring record = harness::ScratchDir(L"self-update-execute-record") + L"started.txt";
    SetEnvironmentVariableW(L"ORVANE_RECORD_FILE", record.c_str());
    struct Case {
        const char* execute;
        bool extra;  // the answer installs "notes.xyz" too
        bool restarts;
    } cases[] = {
        {"..\\x.exe", false, true},
        {"C:\\windows\\system32\\cmd.exe", false, true},
        {"helper.exe", false, true},  // in the folder, but not put there by this update
        // A file of the update that the shell cannot start: the program keeps running on
        // its new files and says so, instead of closing with nothing in its place.
        {"notes.xyz", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.execute);
        std::wstring folder = ProgramFolder(L"self-update-execute");
        std::wstring parent = folder.substr(0, folder.size() - 1);
        parent = parent.substr(0, parent.rfind(L'\\') + 1);
        ASSERT_TRUE(CopyFileW((Bin() + L"record_arguments.exe").c_str(), (parent + L"x.exe").c_str(), FALSE));
        ASSERT_TRUE(CopyFileW((Bin() + L"record_arguments.exe").c_str(), (folder + L"helper.exe").c_str(), FALSE));
        harness::WriteFileBytes(folder + L"notes.xyz", "old notes");  // an update replaces files that exist
        DeleteFileW(record.c_str());
        std::string files = "<url name=\"orvane.exe\">http://halvik.example/files/orvane.exe</url>";
        if (c.extra) files += "<url name=\"notes.xyz\">http://halvik.example/files/notes.xyz</url>";
        std::string answer = UpdateAnswer("1.08", files);
        answer.replace(answer.find("<files>"), 7, std::string("<files execute=\"") + c.execute + "\">");
        nettest::Server server(L"self-update-execute-service");
        server.AddFile(L"next.exe", next);
        ASSERT_TRUE(server.Start("{\"GET /common/update.php\": {\"body\": " + Json(answer) +
                                 "}, \"GET /files/orvane.exe\": {\"body_file\": \"next.exe\"}"
                                 ", \"GET /files/notes.xyz\": {\"body\": \"notes\"}}"));
        harness::SystemProxy proxy(server.Port());
        ForgetChecks();

        Running run;
        ASSERT_TRUE(run.Start(folder));
        HWND question = run.Box();
        ASSERT_TRUE(question);
        Press(question, IDYES);
        HWND restart = run.NextBox(question);
        ASSERT_TRUE(restart) << "the restart question";
        Press(restart, IDYES);
        if (c.restarts) {
            EXPECT_EQ(0, run.program.WaitForExit(30000));
            Successor second;
            ASSERT_TRUE(second.Find(L"Orvane [1.08]", run.program.ProcessId(), 30000)) << "the program itself";
            EXPECT_EQ(folder + L"orvane.exe", second.Image());
            EXPECT_EQ(0, second.Close());
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(record.c_str())) << "nothing else was started";
        } else {
            HWND notice = run.NextBox(restart);
            ASSERT_TRUE(notice) << "the failed start is told";
            EXPECT_NE(std::wstring::npos, BoxTexts(notice).find(L"could not be started")) << BoxTexts(notice);
            EXPECT_EQ(nullptr, GetDlgItem(notice, IDNO)) << "no question";
            Press(notice, IDOK);
            Sleep(1000);
            EXPECT_EQ(-1, run.program.WaitForExit(0)) << "still running, on its new files";
            EXPECT_TRUE(harness::ReadFileBytes(folder + L"orvane.exe") == next);
            EXPECT_EQ("notes", harness::ReadFileBytes(folder + L"notes.xyz"));
            EXPECT_EQ("old notes", harness::ReadFileBytes(folder + L"notes_old.xyz"));
            EXPECT_EQ(0, run.Close());
        }
    }
    SetEnvironmentVariableW(L"ORVANE_RECORD_FILE", nullptr);
}

TEST(SelfUpdate, FilesSetAsideByAnEarlierUpdateGoAtTheNextStart)
{
    std::wstring folder = ProgramFolder(L"self-update-aside");
    CreateDirectoryW((folder + L"data").c_str(), nullptr);
    harness::WriteFileBytes(folder + L"orvane.exe.~aside1", "the program an archive replaced");
    harness::WriteFileBytes(folder + L"data\\table.bin.~aside12", "a table an archive replaced");
    harness::WriteFileBytes(folder + L"notes.~aside", "the user's");
    harness::WriteFileBytes(folder + L"notes.~aside2x", "the user's");
    harness::WriteFileBytes(folder + L"data\\table.bin", "kept");
    SetLastCheck(0xFFFFFFFF);  // no check this time
    Running run;
    ASSERT_TRUE(run.Start(folder));
    std::vector<std::wstring> names;
    for (int i = 0; i < 100; i++) {
        names = Names(TakeSnapshot(folder));
        if (names.size() == 5) break;
        Sleep(100);
    }
    EXPECT_EQ((std::vector<std::wstring>{L"data\\", L"data\\table.bin", L"notes.~aside", L"notes.~aside2x",
                                         L"orvane.exe"}),
              names);
    EXPECT_EQ(0, run.Close());
    ForgetChecks();
}

namespace {

// A test root and two signing keys it issued to the same publisher name, made with
// openssl; programs signed with osslsigncode. The root is trusted in this prefix only, as
// a Windows machine would have its publisher's root.
struct SigningKit {
    std::wstring folder;
    bool Make()
    {
        folder = harness::ScratchDir(L"signing-kit");
        std::string unixFolder = harness::UnixPath(folder);
        std::string script = harness::UnixPath(harness::SourceDir() + L"tests\\harness\\make-signing-kit");
        if (harness::RunUnix(Wide("'" + script + "' '" + unixFolder + "'"), 300000) != 0) return false;
        std::string root = harness::ReadFileBytes(folder + L"root.cer");
        HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
        if (!store) return false;
        BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, (const BYTE*)root.data(),
                                                      (DWORD)root.size(), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
        CertCloseStore(store, 0);
        return added != FALSE;
    }
    // The bytes of `program` signed with key "a" or "b".
    std::string Sign(const wchar_t* program, char key)
    {
        std::wstring output = folder + program + L"." + (wchar_t)key + L".signed";
        std::string job = std::string(1, key) + ":" + harness::UnixPath(Bin() + program) + ":" +
                          harness::UnixPath(output);
        if (harness::RunUnix(Wide("'" + harness::UnixPath(harness::SourceDir() +
                                                          L"tests\\harness\\make-signing-kit") +
                                  "' '" + harness::UnixPath(folder) + "' '" + job + "'"),
                             300000) != 0)
            return std::string();
        return harness::ReadFileBytes(output);
    }
    static std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }
};

}  // namespace

TEST(SelfUpdate, ASignedProgramTakesOnlyItsPublishersSignedPrograms)
{
    SigningKit kit;
    ASSERT_TRUE(kit.Make()) << "openssl and osslsigncode make the test keys";
    std::string signed107 = kit.Sign(L"orvane.exe", 'a');
    std::string signed108 = kit.Sign(L"orvane_next.exe", 'a');
    std::string otherKey108 = kit.Sign(L"orvane_next.exe", 'b');
    std::string unsigned108 = ProgramBytes(L"orvane_next.exe");
    ASSERT_FALSE(signed107.empty());
    ASSERT_FALSE(signed108.empty());
    ASSERT_FALSE(otherKey108.empty());
    std::string changed108 = signed108;
    changed108[0x1000] ^= 0x01;  // in the code, covered by the signature

    // An archive holding the signed program and an unsigned library.
    std::wstring pack = harness::ScratchDir(L"signed-pack");
    harness::WriteFileBytes(pack + L"orvane.exe", signed108);
    harness::WriteFileBytes(pack + L"helper.dll", unsigned108);
    std::string unixPack = harness::UnixPath(pack);
    ASSERT_EQ(0, harness::RunUnix(SigningKit::Wide("cd '" + unixPack + "' && zip -q pack.zip orvane.exe helper.dll")));
    std::string mixedZip = harness::ReadFileBytes(pack + L"pack.zip");

    const std::string program = "<url name=\"orvane.exe\">http://halvik.example/files/orvane.exe</url>";
    const std::string library = "<url name=\"helper.dll\">http://halvik.example/files/helper.dll</url>";
    const std::string archive = "<url name=\"orvane.exe\" zip=\"pack.zip\">http://halvik.example/files/pack.zip</url>";
    struct Case {
        const char* what;
        const std::string* served;  // as orvane.exe
        std::string files;
        const wchar_t* refused;  // the file the message names; null: installed
    } cases[] = {
        {"unsigned 1.08", &unsigned108, program, L"orvane.exe"},
        {"1.08 signed with another key of the same name", &otherKey108, program, L"orvane.exe"},
        {"1.08 changed after signing", &changed108, program, L"orvane.exe"},
        {"a signed program with an unsigned library", &signed108, program + library, L"helper.dll"},
        {"an archive with an unsigned library", &signed108, archive, L"helper.dll"},
        {"1.08 signed by the same key", &signed108, program, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring folder = harness::ScratchDir(L"self-update-signed");
        harness::WriteFileBytes(folder + L"orvane.exe", signed107);
        harness::WriteFileBytes(folder + L"orvane_old.exe", "an earlier update's program");
        Snapshot before = TakeSnapshot(folder);

        nettest::Server server(L"self-update-signed-service");
        server.AddFile(L"program.exe", *c.served);
        server.AddFile(L"helper.dll", unsigned108);
        server.AddFile(L"pack.zip", mixedZip);
        ASSERT_TRUE(server.Start("{\"GET /common/update.php\": {\"body\": " + Json(UpdateAnswer("1.08", c.files)) +
                                 "}, \"GET /files/orvane.exe\": {\"body_file\": \"program.exe\"}"
                                 ", \"GET /files/helper.dll\": {\"body_file\": \"helper.dll\"}"
                                 ", \"GET /files/pack.zip\": {\"body_file\": \"pack.zip\"}}"));
        harness::SystemProxy proxy(server.Port());
        ForgetChecks();

        Running run;
        ASSERT_TRUE(run.Start(folder));
        HWND question = run.Box();
        ASSERT_TRUE(question);
        Press(question, IDYES);
        HWND next = run.NextBox(question, 60000);
        ASSERT_TRUE(next) << "a restart question or a refusal";
        std::wstring texts = BoxTexts(next);
        if (c.refused) {
            EXPECT_NE(std::wstring::npos, texts.find(L"does not carry the signature")) << texts;
            EXPECT_NE(std::wstring::npos, texts.find(c.refused)) << texts;
            EXPECT_EQ(nullptr, GetDlgItem(next, IDNO)) << "told, not asked";
            Press(next, IDOK);
            EXPECT_EQ(nullptr, run.NextBox(next, 2000)) << "one message";
            EXPECT_EQ(-1, run.program.WaitForExit(0)) << "still running";
            EXPECT_TRUE(before == TakeSnapshot(folder)) << "the folder is byte for byte as before";
            EXPECT_EQ(0, run.Close());
        } else {
            EXPECT_NE(std::wstring::npos, texts.find(L"Restart now?")) << texts;
            Press(next, IDYES);
            EXPECT_EQ(0, run.program.WaitForExit(30000));
            Successor second;
            ASSERT_TRUE(second.Find(L"Orvane [1.08]", run.program.ProcessId(), 30000));
            EXPECT_TRUE(harness::ReadFileBytes(folder + L"orvane.exe") == signed108);
            EXPECT_TRUE(harness::ReadFileBytes(folder + L"orvane_old.exe") == signed107);
            EXPECT_EQ(0, second.Close());
        }
    }
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
