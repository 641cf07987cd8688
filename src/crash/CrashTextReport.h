// The crash text report: what fault happened where, the processor state, the machine and
// system, the call stack, and the process's modules and threads. ANSI text, CR LF lines.
#pragma once

#include <windows.h>
#include <dbghelp.h>

#include <string>

#include "crash/CrashRecords.h"
#include "sysinfo/WindowsVersion.h"

// The debugging library's functions, bound at crash time.
struct DebugHelpApi {
    typedef BOOL(WINAPI* MiniDumpWriteDumpFn)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                              PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);
    typedef BOOL(WINAPI* SymInitializeFn)(HANDLE, PCSTR, BOOL);
    typedef DWORD(WINAPI* SymSetOptionsFn)(DWORD);
    typedef BOOL(WINAPI* SymGetSymFromAddr64Fn)(HANDLE, DWORD64, PDWORD64, PIMAGEHLP_SYMBOL64);
    typedef BOOL(WINAPI* SymFromAddrFn)(HANDLE, DWORD64, PDWORD64, PSYMBOL_INFO);
    typedef BOOL(WINAPI* SymGetModuleInfo64Fn)(HANDLE, DWORD64, PIMAGEHLP_MODULE64);
    typedef BOOL(WINAPI* StackWalk64Fn)(DWORD, HANDLE, HANDLE, LPSTACKFRAME64, PVOID, PREAD_PROCESS_MEMORY_ROUTINE64,
                                        PFUNCTION_TABLE_ACCESS_ROUTINE64, PGET_MODULE_BASE_ROUTINE64,
                                        PTRANSLATE_ADDRESS_ROUTINE64);
    typedef PVOID(WINAPI* SymFunctionTableAccess64Fn)(HANDLE, DWORD64);
    typedef DWORD64(WINAPI* SymGetModuleBase64Fn)(HANDLE, DWORD64);
    typedef BOOL(WINAPI* SymGetLineFromAddr64Fn)(HANDLE, DWORD64, PDWORD, PIMAGEHLP_LINE64);

    MiniDumpWriteDumpFn miniDumpWriteDump = nullptr;
    SymInitializeFn symInitialize = nullptr;
    SymSetOptionsFn symSetOptions = nullptr;
    SymGetSymFromAddr64Fn symGetSymFromAddr64 = nullptr;
    SymFromAddrFn symFromAddr = nullptr;
    SymGetModuleInfo64Fn symGetModuleInfo64 = nullptr;
    StackWalk64Fn stackWalk64 = nullptr;
    SymFunctionTableAccess64Fn symFunctionTableAccess64 = nullptr;
    SymGetModuleBase64Fn symGetModuleBase64 = nullptr;
    SymGetLineFromAddr64Fn symGetLineFromAddr64 = nullptr;
};

// What a report is made of.
struct CrashReportInput {
    EXCEPTION_POINTERS* pointers = nullptr;
    DWORD threadId = 0;               // the faulting thread
    const DebugHelpApi* debugHelp = nullptr;  // null when the library is not loaded
    ModuleList* modules = nullptr;
    ThreadList* threads = nullptr;
    const wchar_t* logText = nullptr;
    volatile LONG* progress = nullptr;  // counted up at every step of the report, when given
};

// Fatal errors that the runtime libraries report without a processor fault: the crash
// reporter raises them as exceptions with these codes, so that they are handled as faults.
namespace FatalErrorCode {
const DWORD Terminate = 0xE04F5201;         // std::terminate: a C++ exception nobody caught, ...
const DWORD Abort = 0xE04F5202;             // abort(), the signal SIGABRT
const DWORD InvalidParameter = 0xE04F5203;  // a C runtime function given an invalid parameter
const DWORD PureCall = 0xE04F5204;          // a call of a pure virtual function
}  // namespace FatalErrorCode

// The sections' texts, each from plain values.
const char* ExceptionName(DWORD code);
std::string ExceptionLines(const EXCEPTION_RECORD& record, DWORD threadId, bool nt);
std::string RegisterLines(const CONTEXT& context);
std::string ProcessorLine(const char* name, const char* vendor, const char* identifier, DWORD mhz);
std::string SystemLine(bool nt, const char* name, DWORD major, DWORD minor, DWORD build, DWORD revision,
                       const char* servicePack);
// The system's name from the version flags ("Windows 98", "Windows 7 [Enterprise]", ...).
std::string SystemName(VersionFlags flags);
std::string PlatformLine(bool wow64, bool wine, bool reactos);
std::string ModuleHeader();
std::string ModuleLine(const ModuleRecord& record);
std::string ThreadHeader();
std::string ThreadLine(const ThreadRecord& record, const char* symbol, bool nt);

// Writes the whole report into an open file; the caller closes it.
void CrashTextReport(HANDLE file, const CrashReportInput& input);
// Only its first section, the fault and the processor's registers: what can still be said
// when the rest of the crash handling cannot go on.
void CrashTextReportHead(HANDLE file, const CrashReportInput& input);

// The walk's first frame from a fault's context; answers the machine type to walk as.
DWORD StackWalkStart(const CONTEXT& context, STACKFRAME64& frame);
// One thread's stack from a context (changed by the walk).
void StackWalker(const DebugHelpApi& api, CONTEXT& context, HANDLE file, volatile LONG* progress = nullptr);
// The symbol at an address, or the module and offset; at most 259 characters.
bool SymbolText(const DebugHelpApi& api, ULONGLONG address, std::string& text, ULONGLONG* moduleBase,
                ULONGLONG* size, ULONGLONG* displacement);
bool ModuleNameOf(const DebugHelpApi& api, ULONGLONG address, std::string& name, ULONGLONG& base);

// A wide text in the ANSI code page.
std::string Ansi(const wchar_t* text);
