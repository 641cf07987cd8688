// Turns any unhandled structured exception of the process into a minidump, a crash text
// report and an offer to send both. One static object of the process, constructed before
// every other one: its construction installs the filter.
#pragma once

#include <windows.h>

#include "common/WideString.h"
#include "crash/CrashRecords.h"
#include "crash/CrashTextReport.h"
#include "net/HttpClient.h"
#include "platform/FileHolder.h"
#include "platform/KernelObjects.h"
#include "platform/SystemApi.h"

// The file names of a crash: beside the program, else in the temporary folder.
struct CrashFileNames {
    WideString primaryBase;   // the program path without its extension
    WideString fallbackBase;  // the temporary folder and the program's name
};
void MakeCrashFileNames(const wchar_t* temporaryFolder, const wchar_t* programPath, CrashFileNames& names);
// The symbol search path: the program folder, then the variables' values, ";" between.
void MakeSymbolSearchPath(const wchar_t* programFolder, const wchar_t* symbolPath, const wchar_t* alternatePath,
                          const wchar_t* systemRoot, WideString& path);

// The base address of a segment descriptor (on x86, FS's is the thread's information block).
ULONG_PTR SelectorBase(const LDT_ENTRY& entry);

// Registers files with the system's error report (Vista and later).
class ErrorReportingFiles {
public:
    ErrorReportingFiles();
    int Register(const wchar_t* path);

private:
    typedef HRESULT(WINAPI* WerRegisterFileFn)(PCWSTR, int, DWORD);
    LibraryHolder m_kernel;
    LibraryHolder m_restartManager;
    WerRegisterFileFn m_register;
    bool m_looked;
};

class CrashReporter {
public:
    CrashReporter();
    ~CrashReporter();
    CrashReporter(const CrashReporter&) = delete;
    CrashReporter& operator=(const CrashReporter&) = delete;

    // The reporter of the process (the one constructed last), or null.
    static CrashReporter* Instance();

    void SetCrashMode(DWORD flags);
    void ConfigureReport(int iconId, const wchar_t* host, const wchar_t* path, const wchar_t* product,
                         const wchar_t* extra);
    static LONG WINAPI CrashFilter(EXCEPTION_POINTERS* pointers);
    int HandleCrash(EXCEPTION_POINTERS* pointers);

    DWORD Mode() const { return m_mode; }
    const wchar_t* ReportHost() const { return m_reportHost; }
    const wchar_t* ReportPath() const { return m_reportPath; }
    const wchar_t* ProductId() const { return m_productId; }
    const wchar_t* ExtraValue() const { return m_extraValue; }
    int IconId() const { return m_iconId; }

    // How long the crash handling may go without a step before the faulting thread gives
    // up on it: it then waits on a lock that the fault itself holds. Making the report's
    // dialog is one long step of its own.
    static const DWORD StallLimit = 20000;
    static const DWORD DialogLimit = 60000;

private:
    // Where the handling of a crash is.
    enum Stage : LONG { Idle = 0, Working = 1, FilesWritten = 2, Reporting = 3 };
    static DWORD HandlerRoutine(void* self, UINT_PTR);
    static DWORD StandbyRoutine(void* self, UINT_PTR);
    // Starts the thread that will handle a crash, so that none has to be made during one.
    void StartStandby();
    // The faulting thread's wait for the handling; ends the process itself when the
    // handling stalls.
    void WaitForHandling(bool overflow);
    // The processor time the handling thread has spent, in 100 ns.
    ULONGLONG HandlerTime() const;
    // Writes the report's first section from the faulting thread, then ends the process.
    void GiveUp(bool overflow);
    static BOOL CALLBACK DumpCollector(void* parameter, const PMINIDUMP_CALLBACK_INPUT input,
                                       PMINIDUMP_CALLBACK_OUTPUT output);
    // The work of a crash; runs on a thread of its own, with a whole stack.
    int HandleCrashWork();
    int LoadDebugHelp();
    void ReleaseDebugHelp();
    void WriteDump(HANDLE file, ModuleList& modules, ThreadList& threads);
    // Opens "<base>_Debug.<extension>" beside the program, else in the temporary folder.
    HANDLE CreateCrashFile(const CrashFileNames& names, const wchar_t* extension, WideString& path);
    // The offer to send the files; 1 when no report service is configured.
    int RunReport(const wchar_t* dumpPath, const wchar_t* textPath);

    wchar_t m_errorText[512];
    DWORD m_mode;
    HttpClient m_http;
    int m_valueA;
    int m_valueB;
    WideString m_reportHost;
    WideString m_reportPath;
    WideString m_productId;
    WideString m_extraValue;
    int m_iconId;
    LibraryHolder m_debugHelpLibrary;
    LibraryHolder m_systemLibrary;
    typedef LONG(WINAPI* NtQueryInformationThreadFn)(HANDLE, int, void*, ULONG, ULONG*);
    NtQueryInformationThreadFn m_ntQueryInformationThread;
    DebugHelpApi m_debugHelp;
    WideString m_logText;  // the diagnostic log: nothing in this program writes to it

    // The crash being handled.
    EXCEPTION_POINTERS* m_pointers;
    DWORD m_faultingThread;
    int m_result;
    bool m_noDialog;
    volatile LONG m_progress;  // counted up at every step of the handling
    volatile LONG m_stage;
    volatile LONG m_closing;   // the standby thread is to end without handling anything
    // The text file's names beside the program and in the temporary folder, made when the
    // standby thread starts.
    static const int TextPathRoom = MAX_PATH + 16;
    wchar_t m_textPaths[2][TextPathRoom];
    typedef LONG(WINAPI* NtCreateFileFn)(HANDLE*, ACCESS_MASK, void*, void*, LARGE_INTEGER*, ULONG, ULONG, ULONG,
                                         ULONG, void*, ULONG);
    NtCreateFileFn m_createFile;
    EventHolder m_wake;        // wakes the standby thread for a crash
    WorkerThread m_handler;
};
