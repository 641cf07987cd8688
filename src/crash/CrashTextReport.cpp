#include "crash/CrashTextReport.h"

#include <inttypes.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "common/WideString.h"
#include "common/Wow64.h"
#include "sysinfo/ProcessorInfo.h"
#include "sysinfo/WindowsVersion.h"

namespace {

// Text made without the heap, for a thread that may not take its lock: the first section
// is also written when the rest of the handling cannot go on.
struct TextBuffer {
    char data[2048];
    size_t length = 0;
    TextBuffer() { data[0] = 0; }
    void AddV(const char* format, va_list args)
    {
        if (length >= sizeof(data) - 1) return;
        int added = vsnprintf(data + length, sizeof(data) - length, format, args);
        if (added < 0) return;
        length += (size_t)added;
        if (length > sizeof(data) - 1) length = sizeof(data) - 1;
    }
    void Add(const char* format, ...)
    {
        va_list args;
        va_start(args, format);
        AddV(format, args);
        va_end(args);
    }
};

std::string Format(const char* format, ...)
{
    TextBuffer text;
    va_list args;
    va_start(args, format);
    text.AddV(format, args);
    va_end(args);
    return std::string(text.data, text.length);
}

void Write(HANDLE file, const std::string& text)
{
    DWORD written = 0;
    if (!text.empty()) WriteFile(file, text.data(), (DWORD)text.size(), &written, nullptr);
}

// Tells whoever watches the crash handling that it moves on.
void Step(volatile LONG* progress)
{
    if (progress) InterlockedIncrement(progress);
}

bool IsNt()
{
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&info)) return true;
#pragma GCC diagnostic pop
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// Addresses are printed with eight digits; the 64-bit build shows its whole addresses.
#if defined(_WIN64)
#define ADDRESS_FORMAT "0x%08" PRIX64
typedef uint64_t PrintedAddress;
#else
#define ADDRESS_FORMAT "0x%08X"
typedef unsigned PrintedAddress;
#endif

std::string TrimLeading(const std::string& text)
{
    size_t start = text.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : text.substr(start);
}

const DWORD SharedUserPageStart = 0x7FFE0000;
const DWORD SharedUserPageEnd = 0x7FFEFFFF;

}  // namespace

std::string Ansi(const wchar_t* text)
{
    if (!text || !*text) return std::string();
    int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::string result((size_t)size, '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &result[0], size, nullptr, nullptr);
    result.resize((size_t)size - 1);
    return result;
}

const char* ExceptionName(DWORD code)
{
    static const struct {
        DWORD code;
        const char* name;
    } names[] = {
        {0x40010005, "Control-C"},
        {0x40010008, "Control-Break"},
        {0x80000002, "Datatype Misalignment"},
        {0x80000003, "Breakpoint"},
        {0xC0000005, "Access Violation"},
        {0xC0000006, "In Page Error"},
        {0xC0000017, "No Memory"},
        {0xC000001D, "Illegal Instruction"},
        {0xC0000025, "Noncontinuable Exception"},
        {0xC0000026, "Invalid Disposition"},
        {0xC000008C, "Array Bounds Exceeded"},
        {0xC000008D, "Float Denormal Operand"},
        {0xC000008E, "Float Divide by Zero"},
        {0xC000008F, "Float Inexact Result"},
        {0xC0000090, "Float Invalid Operation"},
        {0xC0000091, "Float Overflow"},
        {0xC0000092, "Float Stack Check"},
        {0xC0000093, "Float Underflow"},
        {0xC0000094, "Integer Divide by Zero"},
        {0xC0000095, "Integer Overflow"},
        {0xC0000096, "Privileged Instruction"},
        {0xC00000FD, "Stack Overflow"},
        {0xC0000142, "DLL Initialization Failed"},
        {0xC0000417, "Invalid CRT Parameter"},
        {0xE06D7363, "Microsoft C++ Exception"},
        // The program's own codes for fatal errors that are no fault of the processor.
        {FatalErrorCode::Terminate, "C++ Terminate"},
        {FatalErrorCode::Abort, "Abort"},
        {FatalErrorCode::InvalidParameter, "Invalid CRT Parameter"},
        {FatalErrorCode::PureCall, "Pure Virtual Call"},
    };
    for (const auto& entry : names)
        if (entry.code == code) return entry.name;
    return "Exception";
}

namespace {

void AddExceptionLines(TextBuffer& text, const EXCEPTION_RECORD& record, DWORD threadId, bool nt)
{
    PrintedAddress address = (PrintedAddress)(ULONG_PTR)record.ExceptionAddress;
    text.Add(nt ? "%s [0x%08X] at " ADDRESS_FORMAT " in Thread %u.\r\n"
                : "%s [0x%08X] at " ADDRESS_FORMAT " in Thread 0x%08X.\r\n",
             ExceptionName(record.ExceptionCode), (unsigned)record.ExceptionCode, address, (unsigned)threadId);
    if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters > 1)
        text.Add("%s location " ADDRESS_FORMAT ".\r\n", record.ExceptionInformation[0] ? "Write to" : "Read from",
                 (PrintedAddress)record.ExceptionInformation[1]);
}

void AddRegisterLines(TextBuffer& text, const CONTEXT& context)
{
#if defined(_WIN64)
    text.Add("\r\nRAX=0x%016" PRIX64 ", CS=0x%04X, RIP=0x%016" PRIX64 ", Flags=0x%08X\r\n", (uint64_t)context.Rax,
             (unsigned)context.SegCs, (uint64_t)context.Rip, (unsigned)context.EFlags);
    text.Add("RBX=0x%016" PRIX64 ", SS=0x%04X, RSP=0x%016" PRIX64 ", RBP=0x%016" PRIX64 "\r\n", (uint64_t)context.Rbx,
             (unsigned)context.SegSs, (uint64_t)context.Rsp, (uint64_t)context.Rbp);
    text.Add("RCX=0x%016" PRIX64 ", DS=0x%04X, RSI=0x%016" PRIX64 ", FS=0x%04X\r\n", (uint64_t)context.Rcx,
             (unsigned)context.SegDs, (uint64_t)context.Rsi, (unsigned)context.SegFs);
    text.Add("RDX=0x%016" PRIX64 ", ES=0x%04X, RDI=0x%016" PRIX64 ", GS=0x%04X\r\n", (uint64_t)context.Rdx,
             (unsigned)context.SegEs, (uint64_t)context.Rdi, (unsigned)context.SegGs);
    text.Add("R8=0x%016" PRIX64 ", R9=0x%016" PRIX64 ", R10=0x%016" PRIX64 ", R11=0x%016" PRIX64 "\r\n",
             (uint64_t)context.R8, (uint64_t)context.R9, (uint64_t)context.R10, (uint64_t)context.R11);
    text.Add("R12=0x%016" PRIX64 ", R13=0x%016" PRIX64 ", R14=0x%016" PRIX64 ", R15=0x%016" PRIX64 "\r\n",
             (uint64_t)context.R12, (uint64_t)context.R13, (uint64_t)context.R14, (uint64_t)context.R15);
#else
    text.Add("\r\nEAX=0x%08X, CS=0x%04X, EIP=0x%08X, Flags=0x%08X\r\n", (unsigned)context.Eax,
             (unsigned)context.SegCs, (unsigned)context.Eip, (unsigned)context.EFlags);
    text.Add("EBX=0x%08X, SS=0x%04X, ESP=0x%08X, EBP=0x%08X\r\n", (unsigned)context.Ebx, (unsigned)context.SegSs,
             (unsigned)context.Esp, (unsigned)context.Ebp);
    text.Add("ECX=0x%08X, DS=0x%04X, ESI=0x%08X, FS=0x%04X\r\n", (unsigned)context.Ecx, (unsigned)context.SegDs,
             (unsigned)context.Esi, (unsigned)context.SegFs);
    text.Add("EDX=0x%08X, ES=0x%04X, EDI=0x%08X, GS=0x%04X\r\n", (unsigned)context.Edx, (unsigned)context.SegEs,
             (unsigned)context.Edi, (unsigned)context.SegGs);
#endif
}

}  // namespace

std::string ExceptionLines(const EXCEPTION_RECORD& record, DWORD threadId, bool nt)
{
    TextBuffer text;
    AddExceptionLines(text, record, threadId, nt);
    return std::string(text.data, text.length);
}

std::string RegisterLines(const CONTEXT& context)
{
    TextBuffer text;
    AddRegisterLines(text, context);
    return std::string(text.data, text.length);
}

std::string ProcessorLine(const char* name, const char* vendor, const char* identifier, DWORD mhz)
{
    return Format("\r\n%s %s %s %u Mhz", TrimLeading(name ? name : "").c_str(), vendor ? vendor : "",
                  identifier ? identifier : "", (unsigned)mhz);
}

std::string SystemLine(bool nt, const char* name, DWORD major, DWORD minor, DWORD build, DWORD revision,
                       const char* servicePack)
{
    if (nt)
        return Format("\r\n%s [%u.%u] Build %u.%u %s\r\n", name, (unsigned)major, (unsigned)minor, (unsigned)build,
                      (unsigned)revision, servicePack);
    return Format("\r\n%s [%u.%u] Build %u %s\r\n", name, (unsigned)major, (unsigned)minor, (unsigned)(build & 0xFFFF),
                  servicePack);
}

std::string SystemName(VersionFlags flags)
{
    // The naming writes up to MAX_PATH characters into the buffer, and answers either the
    // buffer or one of its fixed names.
    wchar_t buffer[MAX_PATH] = {0};
    const wchar_t* name = WindowsName(buffer, flags);
    return Ansi(name ? name : L"");
}

std::string PlatformLine(bool wow64, bool wine, bool reactos)
{
#if defined(_WIN64)
    std::string text = "x64";
#else
    std::string text = "x86";
#endif
    if (wow64) text += " WOW64";
    text += " Unicode";
    if (wine) text += " Wine";
    if (reactos) text += " ReactOS";
    return text + "\r\n";
}

std::string ModuleHeader()
{
    return "\r\nModuleList:\r\n    Size TimeStamp                      Checksum   ImageBase  Versions\r\n";
}

std::string ModuleLine(const ModuleRecord& record)
{
    ULARGE_INTEGER ticks;
    ticks.QuadPart = ((ULONGLONG)record.timeStamp + 11644473600ULL) * 10000000ULL;
    FILETIME utc = {ticks.LowPart, ticks.HighPart}, local = {0, 0};
    SYSTEMTIME time;
    ZeroMemory(&time, sizeof(time));
    FileTimeToLocalFileTime(&utc, &local);
    FileTimeToSystemTime(&local, &time);
    std::string date = Format("%2u.%02u.%04u", time.wDay, time.wMonth, time.wYear);
    std::string clock = Format("%2u:%02u:%02u", time.wHour, time.wMinute, time.wSecond);
    const VS_FIXEDFILEINFO& v = record.version;
    return Format("%8u 0x%08X %10.10s %8.8s 0x%08X 0x%08" PRIX64 " %4d.%04d.%05d.%06d %4d.%04d.%05d.%06d - %s\r\n",
                  (unsigned)record.imageSize, (unsigned)record.timeStamp, date.c_str(), clock.c_str(),
                  (unsigned)record.checksum, (uint64_t)record.base, (int)HIWORD(v.dwFileVersionMS),
                  (int)LOWORD(v.dwFileVersionMS), (int)HIWORD(v.dwFileVersionLS), (int)LOWORD(v.dwFileVersionLS),
                  (int)HIWORD(v.dwProductVersionMS), (int)LOWORD(v.dwProductVersionMS),
                  (int)HIWORD(v.dwProductVersionLS), (int)LOWORD(v.dwProductVersionLS), Ansi(record.path).c_str());
}

std::string ThreadHeader()
{
    return "\r\nThreadList:\r\nId         StackBase  StackEnd   StartAddress\r\n";
}

std::string ThreadLine(const ThreadRecord& record, const char* symbol, bool nt)
{
    return Format(nt ? "%-8u   0x%08X 0x%08X 0x%08X %s %s\r\n" : "0x%08X 0x%08X 0x%08X 0x%08X %s %s\r\n",
                  (unsigned)record.id, (unsigned)(record.stackBase & 0xFFFFFFFF),
                  (unsigned)(record.stackEnd & 0xFFFFFFFF), (unsigned)record.startAddress, symbol ? symbol : "",
                  record.name);
}

// The record sizes the debugging library is told: the module record in its size up to
// the symbol-type fields, which every version of the library knows (newer headers add
// fields that older libraries refuse); the others as declared on each kind of build.
const DWORD ModuleRecordSize = 1672;
static_assert(sizeof(IMAGEHLP_MODULE64) >= ModuleRecordSize, "module record");
static_assert(sizeof(SYMBOL_INFO) == 88, "symbol information record");
static_assert(sizeof(IMAGEHLP_LINE64) == (sizeof(void*) == 8 ? 40 : 24), "line record");

bool ModuleNameOf(const DebugHelpApi& api, ULONGLONG address, std::string& name, ULONGLONG& base)
{
    HANDLE process = GetCurrentProcess();
    IMAGEHLP_MODULE64 module;
    ZeroMemory(&module, sizeof(module));
    module.SizeOfStruct = ModuleRecordSize;
    if (api.symGetModuleInfo64 && api.symGetModuleInfo64(process, address, &module)) {
        base = module.BaseOfImage;
        name = module.ModuleName;
        return true;
    }
    base = api.symGetModuleBase64 ? api.symGetModuleBase64(process, address) : 0;
    if (!base) return false;
    char path[MAX_PATH] = {0};
    GetModuleFileNameA((HMODULE)(ULONG_PTR)base, path, MAX_PATH);
    const char* slash = strrchr(path, '\\');
    name = slash ? slash + 1 : path;
    return true;
}

bool SymbolText(const DebugHelpApi& api, ULONGLONG address, std::string& text, ULONGLONG* moduleBase,
                ULONGLONG* size, ULONGLONG* displacement)
{
    HANDLE process = GetCurrentProcess();
    DWORD64 offset = 0;
    bool found = false;
    union {
        SYMBOL_INFO info;
        char bytes[sizeof(SYMBOL_INFO) + 412];
    } symbol;
    ZeroMemory(&symbol, sizeof(symbol));
    symbol.info.SizeOfStruct = sizeof(SYMBOL_INFO);
    symbol.info.MaxNameLen = 412;
    if (api.symFromAddr && api.symFromAddr(process, address, &offset, &symbol.info)) {
        text.assign(symbol.info.Name, strnlen(symbol.info.Name, 412));
        if (moduleBase) *moduleBase = symbol.info.ModBase;
        if (size) *size = symbol.info.Size;
        found = true;
    }
    if (!found) {
        union {
            IMAGEHLP_SYMBOL64 info;
            char bytes[sizeof(IMAGEHLP_SYMBOL64) + 476];
        } old;
        ZeroMemory(&old, sizeof(old));
        old.info.SizeOfStruct = sizeof(IMAGEHLP_SYMBOL64);
        old.info.MaxNameLength = 476;
        offset = 0;
        if (api.symGetSymFromAddr64 && api.symGetSymFromAddr64(process, address, &offset, &old.info)) {
            text.assign(old.info.Name, strnlen(old.info.Name, 476));
            if (moduleBase) *moduleBase = old.info.Address;
            if (size) *size = old.info.Size;
            found = true;
        }
    }
    if (!found) {
        std::string module;
        ULONGLONG base = 0;
        if (!ModuleNameOf(api, address, module, base)) return false;
        offset = address >= base ? address - base : address;
        // Without a module name the offset stands in both places.
        text = module.empty() ? Format("0x%" PRIX64 "@0x%" PRIX64, (uint64_t)offset, (uint64_t)offset)
                              : Format("%s@0x%" PRIX64, module.c_str(), (uint64_t)offset);
        if (moduleBase) *moduleBase = base;
        if (size) *size = 100;
    }
    if (displacement) {
        *displacement = offset;
        if (offset) text += Format(" - Offset: 0x%" PRIX64, (uint64_t)offset);
    }
    if (text.size() > 259) text.resize(259);
    return true;
}

DWORD StackWalkStart(const CONTEXT& context, STACKFRAME64& frame)
{
    ZeroMemory(&frame, sizeof(frame));
#if defined(_WIN64)
    const DWORD machine = IMAGE_FILE_MACHINE_AMD64;
    frame.AddrPC.Offset = context.Rip;
    frame.AddrFrame.Offset = context.Rbp;
    frame.AddrStack.Offset = context.Rsp;  // the x64 unwinder starts from the stack pointer
    frame.AddrStack.Mode = AddrModeFlat;
#else
    // The x86 walk follows the frame-pointer chain from the faulting frame.
    const DWORD machine = IMAGE_FILE_MACHINE_I386;
    frame.AddrPC.Offset = context.Eip;
    frame.AddrFrame.Offset = context.Ebp;
    frame.AddrStack.Offset = context.Esp;
    frame.AddrStack.Mode = AddrModeFlat;
#endif
    frame.AddrPC.Mode = AddrModeFlat;
    frame.AddrFrame.Mode = AddrModeFlat;
    return machine;
}

void StackWalker(const DebugHelpApi& api, CONTEXT& context, HANDLE file, volatile LONG* progress)
{
    if (!api.stackWalk64) return;
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    STACKFRAME64 frame;
    const DWORD machine = StackWalkStart(context, frame);
    HANDLE process = GetCurrentProcess();
    ULONGLONG previous = 0;
    for (;;) {
        if (!api.stackWalk64(machine, process, nullptr, &frame, &context, nullptr, api.symFunctionTableAccess64,
                             api.symGetModuleBase64, nullptr))
            break;
        Step(progress);
        ULONGLONG pc = frame.AddrPC.Offset;
        if (pc == previous) break;
        previous = pc;
        std::string symbol;
        if (!SymbolText(api, pc, symbol, nullptr, nullptr, nullptr))
            symbol = Format("0x%08" PRIX64, (uint64_t)ReportedAddress(pc));
        IMAGEHLP_LINE64 line;
        ZeroMemory(&line, sizeof(line));
        line.SizeOfStruct = sizeof(line);
        DWORD lineDisplacement = 0;
        bool haveLine = api.symGetLineFromAddr64 && api.symGetLineFromAddr64(process, pc, &lineDisplacement, &line) &&
                        line.FileName;
        std::string module;
        ULONGLONG base = 0;
        bool haveModule = !haveLine && ModuleNameOf(api, pc, module, base);
        if (pc < SharedUserPageStart || pc > SharedUserPageEnd) {
            uint64_t a[4];
            for (int i = 0; i < 4; i++) a[i] = frame.Params[i] & 0xFFFFFFFF;
            if (haveLine)
                Write(file, Format("%s(0x%" PRIX64 ",0x%" PRIX64 ",0x%" PRIX64 ",0x%" PRIX64 ") - Line %u in %s\r\n",
                                   symbol.c_str(), a[0], a[1], a[2], a[3], (unsigned)line.LineNumber, line.FileName));
            else if (haveModule)
                Write(file, Format("%s:%s(0x%" PRIX64 ",0x%" PRIX64 ",0x%" PRIX64 ",0x%" PRIX64 ")\r\n", module.c_str(),
                                   symbol.c_str(), a[0], a[1], a[2], a[3]));
            else
                Write(file, Format("%s(0x%" PRIX64 ",0x%" PRIX64 ",0x%" PRIX64 ",0x%" PRIX64 ")\r\n", symbol.c_str(),
                                   a[0], a[1], a[2], a[3]));
        }
        if (frame.AddrReturn.Offset == 0) break;
    }
    SetErrorMode(oldMode);
}

void CrashTextReportHead(HANDLE file, const CrashReportInput& input)
{
    if (!input.pointers || !input.pointers->ExceptionRecord) return;
    TextBuffer text;
    AddExceptionLines(text, *input.pointers->ExceptionRecord, input.threadId, IsNt());
    if (input.pointers->ContextRecord) AddRegisterLines(text, *input.pointers->ContextRecord);
    DWORD written = 0;
    WriteFile(file, text.data, (DWORD)text.length, &written, nullptr);
}

void CrashTextReport(HANDLE file, const CrashReportInput& input)
{
    bool nt = IsNt();
    CrashTextReportHead(file, input);
    Step(input.progress);

    ProcessorInfo processors;
    WideString name, vendor, identifier;
    DWORD mhz = 0;
    for (unsigned index = 0; processors.Read(index, name, &vendor, &identifier, &mhz); index++)
        Write(file, ProcessorLine(Ansi(name).c_str(), Ansi(vendor).c_str(), Ansi(identifier).c_str(), mhz));

    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExA(&version);
#pragma GCC diagnostic pop
    Write(file, SystemLine(nt, SystemName(DescribeWindows()).c_str(), version.dwMajorVersion, version.dwMinorVersion,
                           version.dwBuildNumber, nt ? UpdateBuildRevision() : 0, version.szCSDVersion));
    Write(file, PlatformLine(IsWow64(GetCurrentProcess()) != 0, IsWine() != 0, IsReactOS() != 0));
    Step(input.progress);

    if (input.pointers && input.pointers->ContextRecord && input.debugHelp) {
        Write(file, "\r\nStack:\r\n");
        CONTEXT context = *input.pointers->ContextRecord;
        StackWalker(*input.debugHelp, context, file, input.progress);
    }
    if (input.logText && input.logText[0]) Write(file, "\r\nLog:\r\n" + Ansi(input.logText));

    if (input.modules && input.modules->Count() > 0) {
        Write(file, ModuleHeader());
        while (ModuleRecord* record = input.modules->First()) {
            Write(file, ModuleLine(*record));
            Step(input.progress);
            input.modules->Remove(record);
            delete record;
        }
    }
    if (input.threads && input.threads->Count() > 0) {
        Write(file, ThreadHeader());
        while (ThreadRecord* record = input.threads->First()) {
            std::string symbol;
            if (input.debugHelp) SymbolText(*input.debugHelp, record->startAddress, symbol, nullptr, nullptr, nullptr);
            Write(file, ThreadLine(*record, symbol.c_str(), nt));
            Step(input.progress);
            input.threads->Remove(record);
            delete record;
        }
    }
}
