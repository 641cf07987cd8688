// Faults in the real program, caused from outside: a thread of its own started at an
// invalid address, and a helper library loaded into it that faults on its main thread.
// Each must leave a minidump and a crash text report and end the process.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/WideString.h"
#include "crash/CrashTextReport.h"
#include "harness/Harness.h"
#include "net/HttpClient.h"
#include "net/NetTest.h"
#include "sysinfo/MachineIdentity.h"

namespace {

#if defined(_WIN64)
const char RegisterStart[] = "\r\nRAX=0x";
const char Machine[] = "x64";
#else
const char RegisterStart[] = "\r\nEAX=0x";
const char Machine[] = "x86";
#endif

// The platform line of a program of this test's own kind in this prefix.
std::string ExpectedPlatform()
{
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    return std::string("\r\n") + Machine + (wow64 ? " WOW64" : "") + " Unicode Wine\r\n";
}

std::wstring Bin()
{
    return harness::BuildDir() + L"bin\\";
}

BOOL CALLBACK FindProgramWindow(HWND window, LPARAM parameter)
{
    std::pair<DWORD, HWND>* search = (std::pair<DWORD, HWND>*)parameter;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t title[64] = {0};
    GetWindowTextW(window, title, 64);
    if (process != search->first || !IsWindowVisible(window) || wcsncmp(title, L"Orvane [", 8) != 0) return TRUE;
    search->second = window;
    return FALSE;
}

HWND WaitForMainWindow(DWORD process)
{
    for (int i = 0; i < 400; i++) {
        std::pair<DWORD, HWND> search(process, nullptr);
        EnumWindows(FindProgramWindow, (LPARAM)&search);
        if (search.second) return search.second;
        Sleep(50);
    }
    return nullptr;
}

// Loads a library into another process through a thread started at LoadLibraryW.
bool LoadInto(HANDLE process, const std::wstring& library)
{
    SIZE_T bytes = (library.size() + 1) * sizeof(wchar_t);
    void* remote = VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!remote || !WriteProcessMemory(process, remote, library.c_str(), bytes, nullptr)) return false;
    FARPROC load = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW");
    HANDLE thread = CreateRemoteThread(process, nullptr, 0, (LPTHREAD_START_ROUTINE)(void*)load, remote, 0, nullptr);
    if (!thread) return false;
    CloseHandle(thread);
    return true;
}

std::string Lines(const std::string& text, const char* from)
{
    size_t at = text.find(from);
    return at == std::string::npos ? std::string() : text.substr(at);
}

// The stream directory of a minidump, checked against the file's size.
struct Minidump {
    bool valid = false;
    bool hasModules = false;
    bool hasThreads = false;
    bool hasException = false;
    DWORD exceptionThread = 0;
    DWORD exceptionCode = 0;

    explicit Minidump(const std::string& bytes)
    {
        if (bytes.size() < 32 || bytes.compare(0, 4, "MDMP") != 0) return;
        DWORD streams = Get(bytes, 8), directory = Get(bytes, 12);
        if ((ULONGLONG)directory + (ULONGLONG)streams * 12 > bytes.size()) return;
        for (DWORD i = 0; i < streams; i++) {
            DWORD type = Get(bytes, directory + i * 12);
            DWORD size = Get(bytes, directory + i * 12 + 4), rva = Get(bytes, directory + i * 12 + 8);
            if ((ULONGLONG)rva + size > bytes.size()) return;
            if (type == 3 && size >= 4) hasThreads = Get(bytes, rva) > 0;
            if (type == 4 && size >= 4) hasModules = Get(bytes, rva) > 0;
            if (type == 6 && size >= 12) {
                hasException = true;
                exceptionThread = Get(bytes, rva);
                exceptionCode = Get(bytes, rva + 8);
            }
        }
        valid = true;
    }
    static DWORD Get(const std::string& bytes, size_t at)
    {
        DWORD value = 0;
        if (at + 4 <= bytes.size()) memcpy(&value, bytes.data() + at, 4);
        return value;
    }
};

// What the test does with the problem report dialog.
struct Answer {
    enum Kind { DontSend, Send, Escape, CloseBox, Nothing } kind = DontSend;
    std::wstring description;
    std::wstring email;
    std::wstring screenshot;  // taken before answering, when named
};

struct Crash {
    bool dialogShown = false;
    std::vector<HWND> dialogs;  // the report dialogs seen, when none is answered
    std::wstring dialogTitle;
    std::wstring titleText;
    std::wstring folder;
    long exitCode = -1;
    DWORD faultingThread = 0;
    bool threadEndedAlone = false;  // the process still ran without its faulting thread
    std::string text;
    std::string dump;
};

// Starts a copy of the program and makes it fault: "remote" starts a thread of it at an
// invalid address, any other kind is caused on its main thread by the helper library.
BOOL CALLBACK FindReportDialog(HWND window, LPARAM parameter)
{
    std::pair<DWORD, HWND>* search = (std::pair<DWORD, HWND>*)parameter;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != search->first || !IsWindowVisible(window)) return TRUE;
    // The button's text is read without a message: the program's main window has a
    // control of the same id, and its thread may wait for the very dialog this looks for
    // without answering messages.
    wchar_t text[64] = {0};
    HWND button = GetDlgItem(window, 1000);
    if (!button || !GetWindowTextW(button, text, 64) || wcscmp(text, L"Send Problem Report") != 0) return TRUE;
    search->second = window;
    return FALSE;
}

// Waits for the program's end, answering its problem report dialog on the way.
long WaitAnswering(harness::GuiProgram& program, const Answer& answer, Crash& crash)
{
    for (int i = 0; i < 1200; i++) {
        long code = program.WaitForExit(50);
        if (code != -1) return code;
        if (answer.kind == Answer::Nothing) {
            // Left unanswered: only counted.
            std::pair<DWORD, HWND> search(program.ProcessId(), nullptr);
            EnumWindows(FindReportDialog, (LPARAM)&search);
            if (search.second && std::find(crash.dialogs.begin(), crash.dialogs.end(), search.second) == crash.dialogs.end())
                crash.dialogs.push_back(search.second);
            continue;
        }
        if (crash.dialogShown) continue;
        std::pair<DWORD, HWND> search(program.ProcessId(), nullptr);
        EnumWindows(FindReportDialog, (LPARAM)&search);
        HWND dialog = search.second;
        if (!dialog) continue;
        crash.dialogShown = true;
        Sleep(500);  // let it paint
        wchar_t text[256] = {0};
        GetWindowTextW(dialog, text, 256);
        crash.dialogTitle = text;
        // The dialog's own thread answers (the title label keeps its text itself).
        GetDlgItemTextW(dialog, 1006, text, 256);
        crash.titleText = text;
        if (!answer.screenshot.empty()) harness::TakeScreenshot(answer.screenshot);
        switch (answer.kind) {
        case Answer::Send:
            SendDlgItemMessageW(dialog, 1004, WM_SETTEXT, 0, (LPARAM)answer.description.c_str());
            SendDlgItemMessageW(dialog, 1005, WM_SETTEXT, 0, (LPARAM)answer.email.c_str());
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(1000, BN_CLICKED), (LPARAM)GetDlgItem(dialog, 1000));
            break;
        case Answer::DontSend:
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(1001, BN_CLICKED), (LPARAM)GetDlgItem(dialog, 1001));
            break;
        case Answer::Escape:
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            break;
        case Answer::CloseBox:
            PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            break;
        case Answer::Nothing:
            break;
        }
    }
    return -1;
}

Crash Cause(const char* kind, const wchar_t* scratch, bool guardedFolder = false, const Answer& answer = Answer())
{
    Crash crash;
    crash.folder = harness::ScratchDir(scratch);
    EXPECT_TRUE(CopyFileW((Bin() + L"orvane.exe").c_str(), (crash.folder + L"orvane.exe").c_str(), FALSE));
    if (guardedFolder) {
        // Names the files cannot take beside the program.
        CreateDirectoryW((crash.folder + L"orvane_Debug.dmp").c_str(), nullptr);
        CreateDirectoryW((crash.folder + L"orvane_Debug.txt").c_str(), nullptr);
    }
    SetEnvironmentVariableA("ORVANE_FAULT", kind);
    harness::GuiProgram program;
    EXPECT_TRUE(program.Start(crash.folder + L"orvane.exe"));
    SetEnvironmentVariableA("ORVANE_FAULT", nullptr);
    HWND window = WaitForMainWindow(program.ProcessId());
    EXPECT_TRUE(window) << kind;
    if (!window) return crash;
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, program.ProcessId());
    EXPECT_TRUE(process);
    if (!strcmp(kind, "remote")) {
        HANDLE thread = CreateRemoteThread(process, nullptr, 0, (LPTHREAD_START_ROUTINE)(ULONG_PTR)0x10, nullptr, 0,
                                           &crash.faultingThread);
        EXPECT_TRUE(thread);
        if (thread) CloseHandle(thread);
    } else {
        crash.faultingThread = GetWindowThreadProcessId(window, nullptr);
        EXPECT_TRUE(LoadInto(process, Bin() + L"fault_injector.dll"));
    }
    CloseHandle(process);
    crash.exitCode = WaitAnswering(program, answer, crash);
    if (crash.exitCode == -1 && crash.faultingThread) {
        HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, crash.faultingThread);
        crash.threadEndedAlone = !thread || WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
        if (thread) CloseHandle(thread);
    }
    std::wstring base = crash.folder + L"orvane";
    if (guardedFolder) {
        wchar_t temporary[MAX_PATH];
        GetTempPathW(MAX_PATH, temporary);
        base = std::wstring(temporary) + L"orvane";
    }
    crash.text = harness::ReadFileBytes(base + L"_Debug.txt");
    crash.dump = harness::ReadFileBytes(base + L"_Debug.dmp");
    if (guardedFolder) {
        DeleteFileW((base + L"_Debug.txt").c_str());
        DeleteFileW((base + L"_Debug.dmp").c_str());
    }
    return crash;
}

void ExpectReport(const Crash& crash, const char* kind, const char* name, DWORD code, const char* access,
                  const char* function)
{
    SCOPED_TRACE(kind);
    char line[160];
    snprintf(line, sizeof(line), "%s [0x%08X] at 0x", name, (unsigned)code);
    EXPECT_EQ(0u, crash.text.find(line)) << crash.text.substr(0, 200);
    snprintf(line, sizeof(line), " in Thread %u.\r\n", (unsigned)crash.faultingThread);
    EXPECT_NE(std::string::npos, crash.text.find(line)) << crash.text.substr(0, 200);
    if (access) {
        EXPECT_NE(std::string::npos, crash.text.find(access)) << crash.text.substr(0, 200);
    } else {
        EXPECT_EQ(std::string::npos, crash.text.find(" location 0x")) << "an access line only for access faults";
    }
    EXPECT_NE(std::string::npos, crash.text.find(RegisterStart)) << "registers";
    EXPECT_NE(std::string::npos, crash.text.find(" Mhz")) << "processors";
    EXPECT_NE(std::string::npos, crash.text.find("] Build ")) << "system";
    EXPECT_NE(std::string::npos, crash.text.find(ExpectedPlatform())) << "platform";
    std::string stack = Lines(crash.text, "\r\nStack:\r\n");
    ASSERT_FALSE(stack.empty()) << crash.text;
    std::string stackOnly = stack.substr(0, stack.find("\r\nModuleList:"));
    if (function) {
#if defined(_WIN64)
        EXPECT_NE(std::string::npos, stackOnly.find(function)) << stackOnly;
#else
        // A 32-bit frame shows what lies on the stack where its arguments would be, not
        // zeros: the name, and the source line where one is expected, are what is fixed.
        std::string name(function, strcspn(function, "("));
        size_t frame = stackOnly.find("\r\n" + name);
        EXPECT_NE(std::string::npos, frame) << stackOnly;
        if (frame != std::string::npos && strstr(function, " - Line ")) {
            std::string line = stackOnly.substr(frame + 2, stackOnly.find("\r\n", frame + 2) - frame - 2);
            EXPECT_NE(std::string::npos, line.find(") - Line ")) << line;
        }
#endif
        if (strchr(function, '(')) {
            size_t entry = stackOnly.find("wWinMain(");
            EXPECT_NE(std::string::npos, entry) << "the walk reaches the program's entry";
            if (entry != std::string::npos) {
                std::string line = stackOnly.substr(entry, stackOnly.find("\r\n", entry) - entry);
                EXPECT_NE(std::string::npos, line.find(") - Line ")) << "with its source line: " << line;
            }
        }
    }
    std::string modules = Lines(crash.text, "\r\nModuleList:\r\n");
    EXPECT_NE(std::string::npos, modules.find("\\orvane.exe\r\n")) << crash.text;
    EXPECT_NE(std::string::npos, crash.text.find("\r\nThreadList:\r\nId         StackBase  StackEnd   StartAddress\r\n"));
    snprintf(line, sizeof(line), "\r\n%-8u   0x", (unsigned)crash.faultingThread);
    EXPECT_NE(std::string::npos, Lines(crash.text, "\r\nThreadList:").find(line)) << "the faulting thread is listed";

    Minidump dump(crash.dump);
    EXPECT_TRUE(dump.valid) << crash.dump.size() << " bytes";
    EXPECT_TRUE(dump.hasModules);
    EXPECT_TRUE(dump.hasThreads);
    EXPECT_TRUE(dump.hasException);
    EXPECT_EQ(crash.faultingThread, dump.exceptionThread);
    EXPECT_EQ(code, dump.exceptionCode);
}

// The report of a write to address 0 (under the lane's emulator: an illegal instruction).
void ExpectWriteToZero(const Crash& crash, const char* kind, const char* function)
{
    if (harness::X86Emulated())
        ExpectReport(crash, kind, "Illegal Instruction", 0xC000001D, nullptr, function);
    else
        ExpectReport(crash, kind, "Access Violation", 0xC0000005, "Write to location 0x00000000.\r\n", function);
}

}  // namespace

TEST(CrashCapture, EveryKindOfFaultLeavesBothFilesAndEndsTheProcess)
{
    struct Kind {
        const char* kind;
        const char* name;
        DWORD code;
        const char* access;
        const char* function;
    } kinds[] = {
        harness::X86Emulated() ? Kind{"remote", "Illegal Instruction", 0xC000001D, nullptr, nullptr}
                               : Kind{"remote", "Access Violation", 0xC0000005, " location 0x00000010.\r\n", nullptr},
        {"null-write", "Access Violation", 0xC0000005, "Write to location 0x00000000.\r\n",
         "Write(0x0,0x0,0x0,0x0) - Line "},
        {"bad-read", "Access Violation", 0xC0000005, "Read from location 0x00000BAD.\r\n",
         "Read(0x0,0x0,0x0,0x0) - Line "},
        {"divide", "Integer Divide by Zero", 0xC0000094, nullptr, "FaultProc("},
        {"cpp-exception", "Microsoft C++ Exception", 0xE06D7363, nullptr, "FaultProc("},
        {"breakpoint", "Breakpoint", 0x80000003, nullptr, "FaultProc("},
    };
    if (harness::X86Emulated()) {
        // The lane's processor emulator hands Wine no fault address and no trap number:
        // memory faults arrive as illegal instructions and a division by zero as an
        // invalid floating-point operation. The report must still name what arrived.
        kinds[1] = {"null-write", "Illegal Instruction", 0xC000001D, nullptr, "Write(0x0,0x0,0x0,0x0) - Line "};
        kinds[2] = {"bad-read", "Illegal Instruction", 0xC000001D, nullptr, "Read(0x0,0x0,0x0,0x0) - Line "};
        kinds[3] = {"divide", "Float Invalid Operation", 0xC0000090, nullptr, "FaultProc("};
    }
    for (const Kind& kind : kinds) {
        Crash crash = Cause(kind.kind, L"crash-kind");
        // The report service is configured, so the filter ends the process: its exit code
        // is the exception's.
        EXPECT_EQ((long)kind.code, crash.exitCode) << kind.kind;
        // A thread without stack cannot serve the windows a dialog needs: the files are
        // written and the process ends quietly.
        EXPECT_TRUE(crash.dialogShown) << kind.kind;
        if (crash.dialogShown) {
            EXPECT_EQ(L"Orvane", crash.dialogTitle);
            EXPECT_EQ(L"Orvane has stopped working.", crash.titleText);
        }
        ExpectReport(crash, kind.kind, kind.name, kind.code, kind.access, kind.function);
    }
}

// Fatal errors that no processor fault raises end in the same handling: files, dialog.
// The helper library has a C++ runtime of its own, whose terminate (after a throw nobody
// catches) ends in the system's C runtime's abort, which it shares with the program.
TEST(CrashCapture, EveryFatalErrorOfTheRuntimesEndsInTheSameHandling)
{
    const struct {
        const char* kind;
        const char* name;
        DWORD code;
    } kinds[] = {
        {"abort", "Abort", FatalErrorCode::Abort},
        {"terminate", "Abort", FatalErrorCode::Abort},
    };
    for (const auto& kind : kinds) {
        Crash crash = Cause(kind.kind, L"crash-fatal");
        EXPECT_EQ((long)kind.code, crash.exitCode) << kind.kind;
        EXPECT_TRUE(crash.dialogShown) << kind.kind;
        ExpectReport(crash, kind.kind, kind.name, kind.code, nullptr, "FaultNow(");
    }
}

TEST(CrashCapture, AStackOverflowLeavesBothFilesAndEndsTheProcessQuietly)
{
    if (harness::X86Emulated())
        GTEST_SKIP() << "the processor emulator reports the overflow's guard page fault as an illegal instruction, "
                        "so the program cannot know its stack is gone";
    Crash crash = Cause("overflow", L"crash-overflow");
    // Measured here: in some runs Wine ends the overflowed thread without raising the
    // overflow in it (the exception needs room below the recursion's last probe, and where
    // that lands changes from run to run), so the program never hears of the fault.
    if (crash.threadEndedAlone)
        GTEST_SKIP() << "Wine ended the overflowed thread without raising the overflow (too little stack left "
                        "below the last probe), so the program could not handle it";
    EXPECT_EQ((long)0xC00000FD, crash.exitCode);
    // A thread without stack cannot serve the windows a dialog needs: the files are
    // written and the process ends quietly.
    EXPECT_FALSE(crash.dialogShown);
    // The overflow hits the stack probe, which has no symbols: its module is named.
    ExpectReport(crash, "overflow", "Stack Overflow", 0xC00000FD, nullptr, "fault_injector");
}

// A fault on a thread that holds the process heap's lock or the loader's lock: the
// handling needs them and cannot go on, so it gives up after a while without progress,
// writes what it still can (the fault and the registers) and ends the process.
TEST(CrashCapture, AFaultWhileHoldingTheHeapOrLoaderLockStillEndsTheProcess)
{
    for (const char* kind : {"heap-lock", "loader-lock"}) {
        SCOPED_TRACE(kind);
        std::wstring folder = harness::ScratchDir(L"crash-lock");
        ASSERT_TRUE(CopyFileW((Bin() + L"orvane.exe").c_str(), (folder + L"orvane.exe").c_str(), FALSE));
        SetEnvironmentVariableA("ORVANE_FAULT", kind);
        harness::GuiProgram program;
        ASSERT_TRUE(program.Start(folder + L"orvane.exe"));
        SetEnvironmentVariableA("ORVANE_FAULT", nullptr);
        ASSERT_TRUE(WaitForMainWindow(program.ProcessId()));
        HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, program.ProcessId());
        ASSERT_TRUE(process);
        EXPECT_TRUE(LoadInto(process, Bin() + L"fault_injector.dll"));
        CloseHandle(process);
        const ULONGLONG start = GetTickCount64();
        long code = program.WaitForExit(60000);
        EXPECT_EQ((long)harness::AccessFaultCode(), code) << "ended within a minute, with the fault's code";
        EXPECT_LT(GetTickCount64() - start, 60000u);
        std::string text = harness::ReadFileBytes(folder + L"orvane_Debug.txt");
        char line[64];
        snprintf(line, sizeof(line), "[0x%08X] at 0x", (unsigned)harness::AccessFaultCode());
        EXPECT_NE(std::string::npos, text.substr(0, 80).find(line)) << text.substr(0, 200);
        EXPECT_NE(std::string::npos, text.find(RegisterStart)) << "the registers";
    }
}

// A quit message already queued on the faulting thread does not cut the handling short.
TEST(CrashCapture, AQueuedQuitMessageStillGetsCompleteFiles)
{
    Crash crash = Cause("quit-queued", L"crash-quit");
    EXPECT_EQ((long)harness::AccessFaultCode(), crash.exitCode);
    EXPECT_TRUE(crash.dialogShown);
    ExpectWriteToZero(crash, "quit-queued", "Write(0x0,0x0,0x0,0x0) - Line ");
}

TEST(CrashCapture, AGuardedProgramFolderSendsTheFilesToTheTemporaryFolder)
{
    Crash crash = Cause("null-write", L"crash-guarded", true);
    EXPECT_EQ((long)harness::AccessFaultCode(), crash.exitCode);
    ExpectWriteToZero(crash, "guarded", "FaultProc(");
}

// Without a report service (a fault before the report is configured, or one configured
// with an empty host) there is no dialog: both files are written and the fault goes on to
// the system's handling, which ends the process with its code.
TEST(CrashCapture, WithoutAReportServiceTheFilesAreWrittenAndTheSystemEndsTheProcess)
{
    for (const wchar_t* arguments : {L"", L"empty-host"}) {
        SCOPED_TRACE(arguments[0] ? "configured with an empty host" : "not configured");
        std::wstring folder = harness::ScratchDir(arguments[0] ? L"crash-no-service-empty" : L"crash-no-service");
        ASSERT_TRUE(CopyFileW((Bin() + L"crash_child.exe").c_str(), (folder + L"crash_child.exe").c_str(), FALSE));
        harness::GuiProgram program;
        ASSERT_TRUE(program.Start(folder + L"crash_child.exe", arguments));
        Answer none;
        none.kind = Answer::Nothing;
        Crash crash;
        long code = WaitAnswering(program, none, crash);
        EXPECT_EQ((long)harness::AccessFaultCode(), code);
        EXPECT_TRUE(crash.dialogs.empty()) << "no dialog";
        std::string text = harness::ReadFileBytes(folder + L"crash_child_Debug.txt");
        EXPECT_EQ(0u, text.find(harness::X86Emulated() ? "Illegal Instruction" : "Access Violation"))
            << text.substr(0, 100);
        EXPECT_NE(std::string::npos, text.find("\r\nStack:\r\n"));
        Minidump dump(harness::ReadFileBytes(folder + L"crash_child_Debug.dmp"));
        EXPECT_TRUE(dump.valid);
        EXPECT_EQ(harness::AccessFaultCode(), dump.exceptionCode);
    }
}

TEST(CrashCapture, ASecondFaultDuringTheFirstGoesToTheSystem)
{
    // The first fault writes to address 0; while its dialog waits for an answer that never
    // comes, the faulting thread divides by zero. That fault goes straight to the system,
    // which ends the process with its code, and no second dialog opens.
    Answer none;
    none.kind = Answer::Nothing;
    Crash crash = Cause("second-fault", L"crash-second", false, none);
    const DWORD second = harness::X86Emulated() ? 0xC0000090 : 0xC0000094;
    EXPECT_EQ((long)second, crash.exitCode) << "the process ended with the second fault's code";
    EXPECT_LE(crash.dialogs.size(), 1u) << "no dialog for the second fault";
}

namespace {

using nettest::Ansi;
using nettest::ClosingPart;
using nettest::FieldPart;
using nettest::FilePart;

}  // namespace

TEST(ProblemReport, SendDeliversTheFormToTheReportService)
{
    nettest::Server server(L"report-service");
    ASSERT_TRUE(server.Start(R"({"POST /services/tessel/report.php": {"body": "thanks"}})"));
    harness::SystemProxy proxy(server.Port());
    Answer answer;
    answer.kind = Answer::Send;
    answer.description = L"Opened the tree, caf\u00e9 cr\u00e8me, Gr\u00fc\u00dfe";
    answer.email = L"tester@halvik.example";
    answer.screenshot = harness::BuildDir() + L"problem-report.png";
    Crash crash = Cause("null-write", L"report-send", false, answer);
    EXPECT_TRUE(crash.dialogShown);
    EXPECT_EQ((long)harness::AccessFaultCode(), crash.exitCode) << "the process ends quietly, with the fault's code";

    std::vector<harness::LoggedRequest> requests = server.Requests();
    ASSERT_EQ(1u, requests.size());
    const harness::LoggedRequest& request = requests[0];
    EXPECT_EQ("POST", request.method);
    EXPECT_EQ("http://halvik.example:80/services/tessel/report.php", request.path);
    EXPECT_EQ("", request.Header("Authorization"));
    WideString identity;
    ASSERT_TRUE(MachineIdentity(identity, IdentityPurpose::ProblemReport));
    std::string expected = FieldPart("a", "r") + FieldPart("p", "Orvane") + FieldPart("s", "") +
                           FieldPart("v", "1.07") + FieldPart("g", Ansi(identity.Text())) +
                           FieldPart("e", Ansi(answer.email)) + FieldPart("x", Ansi(answer.description)) +
                           FilePart("d", "orvane_Debug.dmp", crash.dump) +
                           FilePart("t", "orvane_Debug.txt", crash.text) + ClosingPart();
    EXPECT_FALSE(crash.dump.empty());
    EXPECT_TRUE(request.body == expected) << "the form differs: " << request.body.size() << " bytes against "
                                          << expected.size();

    // And a standard multipart parser reads the same parts from it.
    std::wstring folder = server.Folder();
    harness::WriteFileBytes(folder + L"body.bin", request.body);
    harness::WriteFileBytes(folder + L"dump.bin", crash.dump);
    harness::WriteFileBytes(folder + L"text.bin", crash.text);
    auto hex = [](const std::string& bytes) {
        std::string out;
        for (char c : bytes) {
            out += "0123456789abcdef"[(BYTE)c >> 4];
            out += "0123456789abcdef"[(BYTE)c & 15];
        }
        return out;
    };
    std::string command = "/usr/bin/python3 '" + harness::UnixPath(harness::SourceDir() + L"tests\\net\\check_multipart.py") +
                          "' '" + request.Header("Content-Type") + "' '" + harness::UnixPath(folder + L"body.bin") + "'";
    const char* names[] = {"a", "p", "s", "v", "g", "e", "x"};
    std::string values[] = {"r", "Orvane", "", "1.07", Ansi(identity.Text()), Ansi(answer.email),
                            Ansi(answer.description)};
    for (int i = 0; i < 7; i++) command += std::string(" 'field:") + names[i] + "=" + hex(values[i]) + "'";
    command += " 'file:d=orvane_Debug.dmp=" + harness::UnixPath(folder + L"dump.bin") + "'";
    command += " 'file:t=orvane_Debug.txt=" + harness::UnixPath(folder + L"text.bin") + "'";
    EXPECT_EQ(0, harness::RunUnix(std::wstring(command.begin(), command.end())));
}

TEST(ProblemReport, EveryOtherChoiceSendsNothing)
{
    nettest::Server server(L"report-refused");
    ASSERT_TRUE(server.Start(R"({"POST /services/tessel/report.php": {"status": 500, "body": "no"}})"));
    harness::SystemProxy proxy(server.Port());
    const Answer::Kind kinds[] = {Answer::DontSend, Answer::Escape, Answer::CloseBox};
    for (Answer::Kind kind : kinds) {
        Answer answer;
        answer.kind = kind;
        Crash crash = Cause("null-write", L"report-declined", false, answer);
        EXPECT_TRUE(crash.dialogShown) << kind;
        EXPECT_EQ((long)harness::AccessFaultCode(), crash.exitCode) << kind;
    }
    EXPECT_EQ(0u, server.Requests().size()) << "no choice but Send reaches the service";

    // A service that answers 500 still lets the process end.
    Answer send;
    send.kind = Answer::Send;
    Crash answered = Cause("null-write", L"report-500", false, send);
    EXPECT_EQ((long)harness::AccessFaultCode(), answered.exitCode);
    EXPECT_EQ(1u, server.Requests().size());
}

TEST(ProblemReport, AServiceThatCannotBeReachedStillEndsTheProcess)
{
    // Without a proxy scope the prefix sends the post to a loopback port nobody listens on.
    Answer send;
    send.kind = Answer::Send;
    Crash crash = Cause("null-write", L"report-unreachable", false, send);
    EXPECT_TRUE(crash.dialogShown);
    EXPECT_EQ((long)harness::AccessFaultCode(), crash.exitCode);
}
