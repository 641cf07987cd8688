// The crash text report's sections and the crash's file names from synthetic inputs.
#include <gtest/gtest.h>

#include "crash/CrashReporter.h"
#include "crash/CrashTextReport.h"
#include "sysinfo/ProcessorInfo.h"

#include <string>

#include "harness/Harness.h"

TEST(CrashReport, ExceptionAndAccessLines)
{
    EXPECT_STREQ("Breakpoint", ExceptionName(0x80000003));
    EXPECT_STREQ("Microsoft C++ Exception", ExceptionName(0xE06D7363));
    EXPECT_STREQ("DLL Initialization Failed", ExceptionName(0xC0000142));
    EXPECT_STREQ("Exception", ExceptionName(0x12345678));

    EXCEPTION_RECORD record = {};
    record.ExceptionCode = 0x80000003;
    record.ExceptionAddress = (void*)(ULONG_PTR)0x401000;
    EXPECT_EQ("Breakpoint [0x80000003] at 0x00401000 in Thread 1234.\r\n", ExceptionLines(record, 1234, true));
    EXPECT_EQ("Breakpoint [0x80000003] at 0x00401000 in Thread 0x000004D2.\r\n", ExceptionLines(record, 1234, false));

    record.ExceptionCode = 0xC0000005;
    record.NumberParameters = 2;
    record.ExceptionInformation[0] = 1;
    record.ExceptionInformation[1] = 0x10;
    EXPECT_EQ("Access Violation [0xC0000005] at 0x00401000 in Thread 7.\r\nWrite to location 0x00000010.\r\n",
              ExceptionLines(record, 7, true));
    record.ExceptionInformation[0] = 0;
    EXPECT_EQ("Access Violation [0xC0000005] at 0x00401000 in Thread 7.\r\nRead from location 0x00000010.\r\n",
              ExceptionLines(record, 7, true));
    record.NumberParameters = 1;
    EXPECT_EQ("Access Violation [0xC0000005] at 0x00401000 in Thread 7.\r\n", ExceptionLines(record, 7, true))
        << "one parameter: no access line";
    record.ExceptionCode = 0xC0000094;
    record.NumberParameters = 2;
    EXPECT_EQ("Integer Divide by Zero [0xC0000094] at 0x00401000 in Thread 7.\r\n", ExceptionLines(record, 7, true));
}

TEST(CrashReport, MachineLines)
{
    EXPECT_EQ("\r\nIntel(R) Pentium(R) GenuineIntel x86 Family 6 Model 8 1000 Mhz",
              ProcessorLine("   Intel(R) Pentium(R)", "GenuineIntel", "x86 Family 6 Model 8", 1000))
        << "leading blanks go";
    EXPECT_EQ("\r\nWindows 10 [10.0] Build 19045.3803 \r\n", SystemLine(true, "Windows 10", 10, 0, 19045, 3803, ""));
    EXPECT_EQ("\r\nWindows 98 [4.10] Build 2222 A\r\n", SystemLine(false, "Windows 98", 4, 10, 0x040A08AE, 0, "A"))
        << "the 95 family: the low 16 bits of the build";

    // The system's name from every kind of version flags, the long unknown ones included.
    using namespace WindowsRelease;
    const VersionFlags enterprise = (VersionFlags)WindowsEdition::Enterprise << 32;
    const VersionFlags allEditions = (VersionFlags)0xFFFFFFFF << 32;
    const struct {
        VersionFlags flags;
        const char* name;
    } names[] = {
        {NT | Win7, "Windows 7"},
        {NT | Win7 | enterprise, "Windows 7 [Enterprise]"},
        {NT | allEditions, "Unknown NT Kernel 0xFFFFFFFF00000001"},
        {NT | Win10 | allEditions,
         "Windows 10 [Server] [PE Builder] [TabletPC] [MediaCenter 2004] [Datacenter] [Enterprise] [Embedded] "
         "[Home Edition] [Storage Server] [Terminal Services] [Home Server] [Domain Controller] "
         "[Fundamentals for Legacy PCs] [TerminalSession]"},
        {Family95 | Win98, "Windows 98"},
        {Family95 | WinME, "Windows ME"},
        {Family95, "Unknown DOS Kernel 0x2"},
        {Win32s, "Windows 3.1"},
        {CE | CE52, "Windows CE 5.2"},
        {CE | allEditions, "Unknown CE Kernel 0xFFFFFFFF00000008"},
        {0, "Unknown 0x0"},  // the version query failed
        {~(VersionFlags)0 & ~(VersionFlags)(NT | Family95 | Win32s | CE), "Unknown 0xFFFFFFFFFFFFFFF0"},
    };
    for (const auto& row : names) EXPECT_EQ(row.name, SystemName(row.flags)) << std::hex << row.flags;

#if defined(_WIN64)
    const std::string machine = "x64";
#else
    const std::string machine = "x86";
#endif
    EXPECT_EQ(machine + " Unicode\r\n", PlatformLine(false, false, false));
    EXPECT_EQ(machine + " WOW64 Unicode Wine\r\n", PlatformLine(true, true, false));
    EXPECT_EQ(machine + " Unicode ReactOS\r\n", PlatformLine(false, false, true));

    ClockSources sources;
    sources.registryMHz = 2400;
    EXPECT_EQ(2400u, ChooseClockMHz(sources));
    sources.kernelAnswered = true;
    sources.kernelHz = 3000000000u;
    EXPECT_EQ(3000u, ChooseClockMHz(sources)) << "the kernel's figure wins";
    sources = ClockSources();
    sources.kernelAnswered = true;  // answered, but with no clock
    sources.hasTimeStampCounter = true;
    sources.counterTicks = 2500000;
    sources.elapsedMicroseconds = 1000;
    EXPECT_EQ(2500u, ChooseClockMHz(sources)) << "measured";
    sources.elapsedMicroseconds = 0;
    EXPECT_EQ(0u, ChooseClockMHz(sources)) << "no time elapsed: no figure, no division by zero";

    ProcessorInfo processors;
    ASSERT_GE(processors.Count(), 1u);
    WideString name, vendor, identifier;
    DWORD mhz = 0;
    EXPECT_EQ(1, processors.Read(0, name, &vendor, &identifier, &mhz));
    EXPECT_FALSE(name.EndsWith(L' '));
    EXPECT_GT(mhz, 0u) << "from the registry, the kernel or the counter";
    EXPECT_EQ(0, processors.Read(processors.Count(), name, nullptr, nullptr, nullptr));
}

// The processor lines and the walk's start, from a made-up context of this build's kind.
TEST(CrashReport, RegisterLinesAndTheWalksStart)
{
    CONTEXT context;
    ZeroMemory(&context, sizeof(context));
    context.SegCs = 0x23;
    context.SegSs = 0x2B;
    context.SegDs = 0x2B;
    context.SegEs = 0x2B;
    context.SegFs = 0x53;
    context.SegGs = 0x2B;
    context.EFlags = 0x246;
    STACKFRAME64 frame;
#if defined(_WIN64)
    context.Rax = 0x1122334455667788ULL;
    context.Rip = 0x0000000140001234ULL;
    context.Rsp = 0x22FE00;
    context.Rbp = 0x22FE40;
    context.R15 = 0xF;
    EXPECT_EQ("\r\nRAX=0x1122334455667788, CS=0x0023, RIP=0x0000000140001234, Flags=0x00000246\r\n"
              "RBX=0x0000000000000000, SS=0x002B, RSP=0x000000000022FE00, RBP=0x000000000022FE40\r\n"
              "RCX=0x0000000000000000, DS=0x002B, RSI=0x0000000000000000, FS=0x0053\r\n"
              "RDX=0x0000000000000000, ES=0x002B, RDI=0x0000000000000000, GS=0x002B\r\n"
              "R8=0x0000000000000000, R9=0x0000000000000000, R10=0x0000000000000000, R11=0x0000000000000000\r\n"
              "R12=0x0000000000000000, R13=0x0000000000000000, R14=0x0000000000000000, R15=0x000000000000000F\r\n",
              RegisterLines(context));
    EXPECT_EQ((DWORD)IMAGE_FILE_MACHINE_AMD64, StackWalkStart(context, frame));
    EXPECT_EQ(0x0000000140001234ULL, frame.AddrPC.Offset);
    EXPECT_EQ(0x22FE00ULL, frame.AddrStack.Offset);
#else
    context.Eax = 0x11223344;
    context.Ebx = 0xB;
    context.Ecx = 0xC;
    context.Edx = 0xD;
    context.Esi = 0x51;
    context.Edi = 0xD1;
    context.Eip = 0x00401234;
    context.Esp = 0x0022FE00;
    context.Ebp = 0x0022FE40;
    EXPECT_EQ("\r\nEAX=0x11223344, CS=0x0023, EIP=0x00401234, Flags=0x00000246\r\n"
              "EBX=0x0000000B, SS=0x002B, ESP=0x0022FE00, EBP=0x0022FE40\r\n"
              "ECX=0x0000000C, DS=0x002B, ESI=0x00000051, FS=0x0053\r\n"
              "EDX=0x0000000D, ES=0x002B, EDI=0x000000D1, GS=0x002B\r\n",
              RegisterLines(context));
    EXPECT_EQ((DWORD)IMAGE_FILE_MACHINE_I386, StackWalkStart(context, frame));
    EXPECT_EQ(0x00401234ULL, frame.AddrPC.Offset);
    EXPECT_EQ(0x0022FE00ULL, frame.AddrStack.Offset);
#endif
    EXPECT_EQ(0x0022FE40ULL, frame.AddrFrame.Offset);
    EXPECT_EQ(AddrModeFlat, frame.AddrPC.Mode);
    EXPECT_EQ(AddrModeFlat, frame.AddrFrame.Mode);
    EXPECT_EQ(AddrModeFlat, frame.AddrStack.Mode);

    // The thread block's address from FS's descriptor: its three base fields.
    LDT_ENTRY entry;
    ZeroMemory(&entry, sizeof(entry));
    entry.BaseLow = 0x5000;
    entry.HighWord.Bytes.BaseMid = 0x3F;
    entry.HighWord.Bytes.BaseHi = 0x7E;
    entry.LimitLow = 0xFFF;
    entry.HighWord.Bytes.Flags1 = 0xF3;
    EXPECT_EQ((ULONG_PTR)0x7E3F5000, SelectorBase(entry));
}

TEST(CrashReport, ModuleAndThreadLines)
{
    // A time stamp of 0 is 1970-01-01 00:00:00 UTC in local time.
    SYSTEMTIME epoch = {1970, 1, 4, 1, 0, 0, 0, 0}, local = {};
    ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &epoch, &local));
    char when[64];
    snprintf(when, sizeof(when), "%2u.%02u.%04u %2u:%02u:%02u", local.wDay, local.wMonth, local.wYear, local.wHour,
             local.wMinute, local.wSecond);

    ModuleRecord module;
    module.base = 0x140000000ULL;
    module.imageSize = 5603328;
    module.checksum = 0x5C5D9D;
    module.version.dwFileVersionMS = 0x00010007;
    module.version.dwProductVersionMS = 0x00010007;
    module.version.dwProductVersionLS = 0x00020003;
    lstrcpyW(module.path, L"C:\\Program\\orvane.exe");
    EXPECT_EQ(std::string(" 5603328 0x00000000 ") + when +
                  " 0x005C5D9D 0x140000000    1.0007.00000.000000    1.0007.00002.000003 - C:\\Program\\orvane.exe\r\n",
              ModuleLine(module));
    EXPECT_EQ(0x7FFE0000ULL, ReportedAddress(0xFFFFFFFF7FFE0000ULL)) << "a sign-extended address";

    ThreadRecord thread;
    thread.id = 1480;
    thread.stackBase = 0x100230000ULL;
    thread.stackEnd = 0x21F000;
    thread.startAddress = 0x401000;
    EXPECT_EQ("1480       0x00230000 0x0021F000 0x00401000 orvane@0x1000 \r\n", ThreadLine(thread, "orvane@0x1000", true))
        << "a thread without a name ends in a blank";
    strcpy(thread.name, "worker");
    EXPECT_EQ("0x000005C8 0x00230000 0x0021F000 0x00401000  worker\r\n", ThreadLine(thread, "", false));
}

TEST(CrashReport, FileNamesAndSearchPath)
{
    CrashFileNames names;
    MakeCrashFileNames(L"C:\\users\\a.b\\Temp\\", L"C:\\Program\\orvane.exe", names);
    EXPECT_STREQ(L"C:\\Program\\orvane", names.primaryBase.Text());
    EXPECT_STREQ(L"C:\\users\\a.b\\Temp\\orvane", names.fallbackBase.Text()) << "the folder's dot stays";
    MakeCrashFileNames(L"C:\\Temp\\", L"C:\\my.tools\\orvane", names);
    EXPECT_STREQ(L"C:\\my.tools\\orvane", names.primaryBase.Text()) << "no extension: nothing is cut";
    MakeCrashFileNames(L"C:\\Temp\\", L"", names);
    EXPECT_STREQ(L"MiniDump", names.primaryBase.Text());
    EXPECT_STREQ(L"C:\\Temp\\MiniDump", names.fallbackBase.Text());

    WideString path;
    MakeSymbolSearchPath(L"C:\\Program\\", nullptr, L"", L"C:\\windows", path);
    EXPECT_STREQ(L"C:\\Program\\;C:\\windows", path.Text()) << "no trailing ';'";
    MakeSymbolSearchPath(L"C:\\Program\\", L"srv*x", L"alt", L"C:\\windows", path);
    EXPECT_STREQ(L"C:\\Program\\;srv*x;alt;C:\\windows", path.Text());
}

TEST(CrashReport, SectionsOfAWholeReport)
{
    std::wstring file = harness::ScratchDir(L"crash-report") + L"report.txt";
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, handle);
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = 0xC0000005;
    record.ExceptionAddress = (void*)(ULONG_PTR)0x1234;
    CONTEXT context = {};
    EXCEPTION_POINTERS pointers = {&record, &context};
    ModuleList modules;
    ThreadList threads;
    ModuleRecord* module = new ModuleRecord;
    lstrcpyW(module->path, L"C:\\x.dll");
    modules.Append(module);
    threads.Append(new ThreadRecord);
    CrashReportInput input;
    input.pointers = &pointers;
    input.threadId = 99;
    input.modules = &modules;
    input.threads = &threads;
    input.logText = L"";
    CrashTextReport(handle, input);
    CloseHandle(handle);
    std::string text = harness::ReadFileBytes(file);
    EXPECT_EQ(0u, text.find("Access Violation [0xC0000005] at 0x00001234 in Thread 99.\r\n\r\n"));
    size_t system = text.find("] Build "), modulesAt = text.find("\r\nModuleList:\r\n"),
           threadsAt = text.find("\r\nThreadList:\r\n");
    EXPECT_NE(std::string::npos, system);
    EXPECT_LT(system, modulesAt);
    EXPECT_LT(modulesAt, threadsAt);
    EXPECT_NE(std::string::npos, text.find(" - C:\\x.dll\r\n"));
    EXPECT_EQ(std::string::npos, text.find("Stack:")) << "no debugging library: no stack";
    EXPECT_EQ(std::string::npos, text.find("Log:")) << "an empty log: no section";
    EXPECT_EQ(0, modules.Count()) << "each record is freed after its line";
    EXPECT_EQ(0, threads.Count());
}

#include "crash/ProblemReport.h"

TEST(ProblemReport, TemplateAndTexts)
{
    std::vector<BYTE> bytes;
    ProblemReportTemplate(bytes);
    EXPECT_EQ(518u, bytes.size());
    DWORD style = 0;
    memcpy(&style, bytes.data(), 4);
    EXPECT_EQ(0x80C808C0u, style);
    WORD controls = 0, cx = 0, cy = 0;
    memcpy(&controls, bytes.data() + 8, 2);
    memcpy(&cx, bytes.data() + 14, 2);
    memcpy(&cy, bytes.data() + 16, 2);
    EXPECT_EQ(12, controls);
    EXPECT_EQ(428, cx);
    EXPECT_EQ(201, cy);

    // The controls: id, class atom, text, rectangle and style, in the tab order.
    struct Expected {
        WORD id;
        WORD atom;
        const wchar_t* text;
        short x, y, cx, cy;
        DWORD style;
    };
    const DWORD Child = WS_CHILD | WS_VISIBLE;
    const Expected expected[] = {
        {0xFFFF, 0x82, L"", 0, 0, 429, 167, Child | SS_WHITERECT},
        {1000, 0x80, L"Send Problem Report", 241, 177, 100, 14, Child | BS_DEFPUSHBUTTON | WS_TABSTOP},
        {1001, 0x80, L"Don't Send", 351, 177, 60, 14, Child | WS_TABSTOP},
        {1004, 0x81, L"", 40, 86, 370, 14, Child | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL},
        {1005, 0x81, L"", 40, 119, 370, 14, Child | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL},
        {1008, 0x82, L"Static", 40, 144, 370, 18, Child | WS_GROUP},
        {1010, 0x82, L"Static", 40, 35, 370, 26, Child | WS_GROUP},
        {1003, 0x82, L"", 10, 10, 20, 20, Child | SS_ICON},
        {1006, 0x82, L"Static", 40, 12, 370, 14, Child | WS_GROUP | SS_CENTERIMAGE},
        {1011, 0x82, L"Static", 40, 74, 370, 8, Child | WS_GROUP},
        {1012, 0x82, L"Static", 40, 107, 370, 8, Child | WS_GROUP},
        {1013, 0x82, L"", 0, 166, 429, 1, Child | SS_ETCHEDHORZ},
    };
    size_t at = 0;
    auto readText = [&](std::wstring& out) {
        out.clear();
        while (at + 2 <= bytes.size()) {
            WORD c = 0;
            memcpy(&c, bytes.data() + at, 2);
            at += 2;
            if (!c) break;
            out += (wchar_t)c;
        }
    };
    WORD menu = 1, windowClass = 1;
    memcpy(&menu, bytes.data() + 18, 2);
    memcpy(&windowClass, bytes.data() + 20, 2);
    EXPECT_EQ(0, menu);
    EXPECT_EQ(0, windowClass) << "the dialog class";
    at = 22;
    std::wstring read;
    readText(read);
    EXPECT_EQ(L"Dialog", read);
    at += 2;  // the font's points
    readText(read);
    EXPECT_EQ(L"MS Sans Serif", read);
    for (const Expected& control : expected) {
        at = (at + 3) & ~(size_t)3;
        ASSERT_LE(at + 22, bytes.size()) << control.id;
        DWORD itemStyle = 0, extended = 1;
        short rect[4] = {0};
        WORD id = 0, marker = 0, atom = 0, extra = 1;
        memcpy(&itemStyle, bytes.data() + at, 4);
        memcpy(&extended, bytes.data() + at + 4, 4);
        memcpy(rect, bytes.data() + at + 8, 8);
        memcpy(&id, bytes.data() + at + 16, 2);
        memcpy(&marker, bytes.data() + at + 18, 2);
        memcpy(&atom, bytes.data() + at + 20, 2);
        at += 22;
        readText(read);
        ASSERT_LE(at + 2, bytes.size());
        memcpy(&extra, bytes.data() + at, 2);
        at += 2;
        EXPECT_EQ(control.id, id);
        EXPECT_EQ(0xFFFF, marker) << control.id << ": a class atom";
        EXPECT_EQ(control.atom, atom) << control.id;
        EXPECT_EQ(control.text, read) << control.id;
        EXPECT_EQ(control.style, itemStyle) << control.id;
        EXPECT_EQ(0u, extended) << control.id;
        EXPECT_EQ(control.x, rect[0]) << control.id;
        EXPECT_EQ(control.y, rect[1]) << control.id;
        EXPECT_EQ(control.cx, rect[2]) << control.id;
        EXPECT_EQ(control.cy, rect[3]) << control.id;
        EXPECT_EQ(0, extra) << control.id << ": no creation data";
    }
    EXPECT_EQ(bytes.size(), at) << "nothing after the last control";

    WideString address;
    WebsiteAddress(L"no address here", L"see [HTTP://halvik.example/support/]", address);
    EXPECT_STREQ(L"HTTP://halvik.example/support", address.Text()) << "from SpecialBuild, cut at ']' and one '/'";
    WebsiteAddress(L"http://halvik.example/", L"http://other.example", address);
    EXPECT_STREQ(L"http://halvik.example", address.Text());
    WebsiteAddress(nullptr, L"", address);
    EXPECT_STREQ(L"", address.Text());

    WideString text;
    PleaseTellText(L"us", L"", true, text);
    EXPECT_STREQ(L"Please tell us about this problem.", text.Text());
    PleaseTellText(L"Halvik Labs", L"http://halvik.example", true, text);
    EXPECT_STREQ(L"Please tell Halvik Labs about this problem.\n\nYou can check the website "
                 L"<a href=\"http://halvik.example\">halvik.example</a> for a newer version.",
                 text.Text());
    PleaseTellText(L"Halvik Labs", L"http://halvik.example", false, text);
    EXPECT_STREQ(L"Please tell Halvik Labs about this problem.\n\nYou can check the website 'halvik.example' for a "
                 L"newer version.",
                 text.Text());
    FilesText(L"C:\\p\\orvane_Debug.txt", L"C:\\p\\orvane_Debug.dmp", true, text);
    EXPECT_STREQ(L"The files <a href=\"C:\\p\\orvane_Debug.txt\">orvane_Debug.txt</a> and "
                 L"<a href=\"C:\\p\\orvane_Debug.dmp\">orvane_Debug.dmp</a> will be send. They do not contain any "
                 L"personal information.",
                 text.Text());
    FilesText(L"C:/p/orvane_Debug.txt", L"", false, text);
    EXPECT_STREQ(L"The file orvane_Debug.txt will be send. It does not contain any personal information.", text.Text())
        << "no dump: the one-file sentence";
    FilesText(L"", L"C:\\p\\orvane_Debug.dmp", true, text);
    EXPECT_STREQ(L"The file <a href=\"C:\\p\\orvane_Debug.dmp\">orvane_Debug.dmp</a> will be send. It does not "
                 L"contain any personal information.",
                 text.Text())
        << "no text file: the dump alone, never an empty link";
    FilesText(nullptr, L"", true, text);
    EXPECT_STREQ(L"", text.Text()) << "neither file: no sentence";
}
