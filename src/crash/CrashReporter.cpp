#include "crash/CrashReporter.h"

#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <exception>

#include "common/ModuleVersion.h"
#include "common/Timing.h"
#include "crash/ProblemReport.h"

namespace {

// Set by the first crash and never cleared: a fault while one is handled, in any thread,
// goes to the system's own handling.
volatile LONG g_crashInProgress = 0;
CrashReporter* volatile g_instance = nullptr;

const DWORD ThreadQuerySetWin32StartAddress = 9;
const int ThreadBasicInformation = 0;

void CutAtLastDot(WideString& path, bool lastPartOnly)
{
    const wchar_t* text = path.Text();
    int dot = -1;
    for (int i = path.Length() - 1; i >= 0; i--) {
        if (lastPartOnly && text[i] == L'\\') break;
        if (text[i] == L'.') {
            dot = i;
            break;
        }
    }
    if (dot >= 0) path.Truncate(dot);
}

// Copies an ANSI text of the process at `address` into `name` (at most 99 characters),
// reading it so that an unreadable address gives an empty name instead of a fault.
void ReadThreadName(ULONG_PTR address, char* name)
{
    name[0] = 0;
    if (!address) return;
    SIZE_T read = 0;
    char buffer[100] = {0};
    for (int i = 0; i < 99; i++) {
        if (!ReadProcessMemory(GetCurrentProcess(), (const void*)(address + i), &buffer[i], 1, &read) || !read) {
            buffer[i] = 0;
            break;
        }
        if (!buffer[i]) break;
    }
    buffer[99] = 0;
    memcpy(name, buffer, 100);
}

BOOL CALLBACK CountWindow(HWND, LPARAM count)
{
    (*(int*)count)++;
    return FALSE;
}

// The crash file names of this program: beside it, else in the temporary folder.
void ThisProgramsCrashFileNames(CrashFileNames& names)
{
    wchar_t temporary[520] = {0};
    GetTempPathW(520, temporary);
    wchar_t program[MAX_PATH] = {0};
    if (!GetModuleFileNameW(nullptr, program, MAX_PATH)) program[0] = 0;
    MakeCrashFileNames(temporary, program, names);
}

bool ThreadHasWindows(DWORD thread)
{
    int count = 0;
    EnumThreadWindows(thread, CountWindow, (LPARAM)&count);
    return count > 0;
}

// What the kernel's file creation takes.
struct KernelName {
    USHORT length;  // in bytes, without the terminating zero
    USHORT maximumLength;
    wchar_t* buffer;
};
struct KernelObjectAttributes {
    ULONG length;
    HANDLE root;
    KernelName* name;
    ULONG attributes;
    void* securityDescriptor;
    void* securityQuality;
};
struct KernelIoStatus {
    ULONG_PTR status;
    ULONG_PTR information;
};

[[noreturn]] void RaiseFatalError(DWORD code)
{
    // Not continuable: the filter handles it as any fault and ends the process.
    for (;;) RaiseException(code, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}

void OnTerminate()
{
    RaiseFatalError(FatalErrorCode::Terminate);
}

void OnAbortSignal(int)
{
    RaiseFatalError(FatalErrorCode::Abort);
}

void OnInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t)
{
    RaiseFatalError(FatalErrorCode::InvalidParameter);
}

void OnPureCall()
{
    RaiseFatalError(FatalErrorCode::PureCall);
}

// Every fatal error of the runtime libraries goes to the filter: the C++ runtime's
// terminate, abort (whose own message box would hold a windowed program open before the
// signal), and the C runtime's handlers for invalid parameters and pure calls, both its
// own and, where the system's C runtime offers them, the system's.
void InstallFatalErrorHandlers()
{
    std::set_terminate(OnTerminate);
    _set_error_mode(_OUT_TO_STDERR);
    signal(SIGABRT, OnAbortSignal);
    _set_invalid_parameter_handler(OnInvalidParameter);
    _set_purecall_handler(OnPureCall);
    if (HMODULE runtime = GetModuleHandleW(L"msvcrt.dll")) {
        typedef _invalid_parameter_handler(__cdecl * SetInvalidParameter)(_invalid_parameter_handler);
        typedef _purecall_handler(__cdecl * SetPureCall)(_purecall_handler);
        if (SetInvalidParameter set =
                (SetInvalidParameter)(void*)GetProcAddress(runtime, "_set_invalid_parameter_handler"))
            set(OnInvalidParameter);
        if (SetPureCall set = (SetPureCall)(void*)GetProcAddress(runtime, "_set_purecall_handler")) set(OnPureCall);
    }
}

}  // namespace

// The compiler's target for a call of a pure virtual function. Its runtime library binds
// it weakly, so without this definition such a call jumps to address 0.
extern "C" void __cxa_pure_virtual()
{
    RaiseFatalError(FatalErrorCode::PureCall);
}

ULONG_PTR SelectorBase(const LDT_ENTRY& entry)
{
    return (ULONG_PTR)entry.BaseLow | ((ULONG_PTR)entry.HighWord.Bytes.BaseMid << 16) |
           ((ULONG_PTR)entry.HighWord.Bytes.BaseHi << 24);
}

void MakeCrashFileNames(const wchar_t* temporaryFolder, const wchar_t* programPath, CrashFileNames& names)
{
    WideString path(programPath && programPath[0] ? programPath : L"MiniDump");
    CutAtLastDot(path, true);
    names.primaryBase = path;
    const wchar_t* slash = wcsrchr(path.Text(), L'\\');
    names.fallbackBase.Format(L"%s%s", temporaryFolder ? temporaryFolder : L"", slash ? slash + 1 : L"MiniDump");
    // A dot in the temporary folder's own path is not an extension of the file name.
    CutAtLastDot(names.fallbackBase, true);
}

void MakeSymbolSearchPath(const wchar_t* programFolder, const wchar_t* symbolPath, const wchar_t* alternatePath,
                          const wchar_t* systemRoot, WideString& path)
{
    path.Clear();
    const wchar_t* parts[] = {programFolder, symbolPath, alternatePath, systemRoot};
    for (const wchar_t* part : parts) {
        if (!part || !part[0]) continue;
        path.Append(part);
        path.Append(L';');
    }
    if (path.EndsWith(L';')) path.RemoveTrailing();
}

ErrorReportingFiles::ErrorReportingFiles() : m_register(nullptr), m_looked(false)
{
    m_kernel.Load(L"kernel32.dll");
    m_restartManager.Load(L"rstrtmgr.dll");
}

int ErrorReportingFiles::Register(const wchar_t* path)
{
    if (!m_looked) {
        m_looked = true;
        void* address = m_kernel.Lookup("WerRegisterFile");
        memcpy(&m_register, &address, sizeof(address));
    }
    if (!m_register) return 0;
    return m_register(path, 2 /* WerRegFileTypeOther */, 2 /* WER_FILE_ANONYMOUS_DATA */) >= 0 ? 1 : 0;
}

CrashReporter::CrashReporter()
    : m_mode(0), m_valueA(0), m_valueB(0), m_iconId(0), m_ntQueryInformationThread(nullptr), m_pointers(nullptr),
      m_faultingThread(0), m_result(1), m_noDialog(false), m_progress(0), m_stage(Idle), m_closing(0)
{
    m_textPaths[0][0] = m_textPaths[1][0] = 0;
    m_createFile = nullptr;
    m_errorText[0] = 0;
    g_instance = this;
    SetCrashMode(0x1F0000);
}

CrashReporter::~CrashReporter()
{
    if (m_handler.Running() && m_stage == Idle) {
        // The standby thread waits for a crash that did not come: let it end by itself.
        InterlockedExchange(&m_closing, 1);
        m_wake.Set();
        m_handler.WaitWithoutMessages(5000);
    }
    m_handler.Stop();
    ReleaseDebugHelp();
    if (g_instance == this) g_instance = nullptr;
}

CrashReporter* CrashReporter::Instance()
{
    return g_instance;
}

void CrashReporter::SetCrashMode(DWORD flags)
{
    m_mode = (flags & 0x2) ? 2 : 1;
    m_mode |= flags & (0x4 | 0x8 | 0x10);
    SetUnhandledExceptionFilter((m_mode & 0x8) ? nullptr : CrashFilter);
    if (!(m_mode & 0x8)) InstallFatalErrorHandlers();
}

void CrashReporter::ConfigureReport(int iconId, const wchar_t* host, const wchar_t* path, const wchar_t* product,
                                    const wchar_t* extra)
{
    m_iconId = iconId;
    m_reportHost = host ? host : L"";
    m_reportPath = path ? path : L"";
    if (product) {
        m_productId = product;
    } else {
        ModuleVersion module;
        module.Load();
        m_productId.Clear();
        module.GetString(L"InternalName", m_productId);
    }
    m_extraValue = extra ? extra : L"";
    StartStandby();
}

void CrashReporter::StartStandby()
{
    if (m_handler.Running() || InterlockedCompareExchange(&g_crashInProgress, 0, 0)) return;
    // The names, for a faulting thread that has to write the file itself: it cannot ask
    // for the program's path then (that takes the loader's lock, which the stalled handler
    // may hold).
    CrashFileNames names;
    ThisProgramsCrashFileNames(names);
    // In the system's own form, so that the file is created by the kernel call alone:
    // turning a path into that form takes the process's path lock and its heap.
    const WideString* bases[] = {&names.primaryBase, &names.fallbackBase};
    for (int i = 0; i < 2; i++) {
        const wchar_t* base = bases[i]->Text();
        bool unc = base[0] == L'\\' && base[1] == L'\\';
        _snwprintf(m_textPaths[i], TextPathRoom, unc ? L"\\??\\UNC\\%s_Debug.txt" : L"\\??\\%s_Debug.txt",
                   unc ? base + 2 : base);
        m_textPaths[i][TextPathRoom - 1] = 0;
    }
    void* create = (void*)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateFile");
    memcpy(&m_createFile, &create, sizeof(create));
    if (!m_wake.Create(false, false)) return;
    if (!m_handler.Start(StandbyRoutine, this, 0)) m_wake.Close();
}

DWORD CrashReporter::StandbyRoutine(void* self, UINT_PTR)
{
    CrashReporter* reporter = static_cast<CrashReporter*>(self);
    reporter->m_wake.Wait(INFINITE);
    if (reporter->m_closing) return 0;
    reporter->m_result = reporter->HandleCrashWork();
    return 0;
}

LONG WINAPI CrashReporter::CrashFilter(EXCEPTION_POINTERS* pointers)
{
    if (InterlockedExchange(&g_crashInProgress, 1)) return EXCEPTION_CONTINUE_SEARCH;
    CrashReporter* reporter = g_instance;
    if (!reporter) return EXCEPTION_CONTINUE_SEARCH;
    if (reporter->HandleCrash(pointers) == 1) return EXCEPTION_CONTINUE_SEARCH;
    // The process ends here, with the exception's code, as the system's handler would end
    // it: unwinding a broken thread (one without stack, say) to that handler can fault
    // again or never finish.
    UINT code = pointers && pointers->ExceptionRecord ? (UINT)pointers->ExceptionRecord->ExceptionCode : 1;
    TerminateProcess(GetCurrentProcess(), code);
    return EXCEPTION_EXECUTE_HANDLER;
}

int CrashReporter::HandleCrash(EXCEPTION_POINTERS* pointers)
{
    // The faulting thread may have no stack left (a stack overflow) and may hold any lock:
    // it only hands the crash to a thread of its own and waits for it.
    m_pointers = pointers;
    m_faultingThread = GetCurrentThreadId();
    m_result = 1;
    bool overflow = pointers && pointers->ExceptionRecord &&
                    pointers->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW;
    // Window code would need the stack that is gone: an overflowed thread waits without
    // serving its windows, so no dialog may be shown that needs them (showing one
    // activates it, which waits for the windows of the thread that was active).
    m_noDialog = overflow && ThreadHasWindows(m_faultingThread);
    InterlockedExchange(&m_progress, 0);
    InterlockedExchange(&m_stage, Working);
    // The thread made when the report was configured needs nothing to start; one made
    // now may not start at all while this thread holds the loader's lock.
    if (m_handler.Running() && m_wake.Handle()) {
        m_wake.Set();
    } else if (!m_handler.Start(HandlerRoutine, this, 0)) {
        return HandleCrashWork();
    }
    WaitForHandling(overflow);
    return m_result;
}

void CrashReporter::WaitForHandling(bool overflow)
{
    const DWORD slice = 250;
    LONG seen = -1;
    ULONGLONG lastStep = TickCount64();
    for (;;) {
        // A quit message already queued would end a pumping wait at once, again and again:
        // the handling must finish all the same.
        MSG quit;
        bool quitQueued = !overflow && PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE);
        if (overflow || quitQueued ? m_handler.WaitWithoutMessages(slice) : m_handler.Wait(slice)) return;
        if (!m_handler.Running()) return;
        ULONGLONG now = TickCount64();
        // A step, or processor time spent: a slow machine makes long steps (loading the
        // symbols is one call), but a handler that waits on a lock spends no time at all.
        LONG progress = InterlockedCompareExchange(&m_progress, 0, 0) + (LONG)HandlerTime();
        // Once the problem report shows its dialog, the user takes the time they need,
        // and a sending report is bounded by the network's own time limits.
        bool asking = m_stage == Reporting && ThreadHasWindows(m_handler.ThreadId());
        if (progress != seen || asking) {
            seen = progress;
            lastStep = now;
            if (asking) InterlockedExchange(&m_stage, Reporting + 1);
        } else if (m_stage <= Reporting && now - lastStep > (m_stage == Reporting ? DialogLimit : StallLimit)) {
            GiveUp(overflow);
            return;
        }
    }
}

ULONGLONG CrashReporter::HandlerTime() const
{
    FILETIME created, ended, kernel, user;
    if (!m_handler.Thread() || !GetThreadTimes(m_handler.Thread(), &created, &ended, &kernel, &user)) return 0;
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return k.QuadPart + u.QuadPart;
}

void CrashReporter::GiveUp(bool overflow)
{
    // The handler waits on a lock that this thread holds (the heap's, the loader's, a
    // table's): this thread still owns it and may write the report's first section,
    // unless it has no stack left to do so.
    UINT code = m_pointers && m_pointers->ExceptionRecord ? (UINT)m_pointers->ExceptionRecord->ExceptionCode : 1;
    // Nothing here takes a lock the stalled handler may hold: the paths were made when
    // the report was configured, and the text is made without the heap.
    HANDLE text = nullptr;
    for (int i = 0; i < 2 && m_createFile && !overflow && m_stage < FilesWritten && !text; i++) {
        if (!m_textPaths[i][0]) continue;
        KernelName name = {(USHORT)(wcslen(m_textPaths[i]) * sizeof(wchar_t)), 0, m_textPaths[i]};
        name.maximumLength = (USHORT)(name.length + sizeof(wchar_t));
        KernelObjectAttributes attributes = {sizeof(KernelObjectAttributes), nullptr, &name, 0x40 /* case-insensitive */,
                                             nullptr, nullptr};
        KernelIoStatus status = {};
        HANDLE file = nullptr;
        const ULONG OverwriteIf = 5, SynchronousNonAlert = 0x20, NonDirectory = 0x40;
        if (m_createFile(&file, GENERIC_WRITE | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, OverwriteIf, SynchronousNonAlert | NonDirectory, nullptr,
                         0) >= 0)
            text = file;
    }
    if (text) {
        CrashReportInput input;
        input.pointers = m_pointers;
        input.threadId = m_faultingThread;
        CrashTextReportHead(text, input);
        CloseHandle(text);
    }
    TerminateProcess(GetCurrentProcess(), code);
}

DWORD CrashReporter::HandlerRoutine(void* self, UINT_PTR)
{
    CrashReporter* reporter = static_cast<CrashReporter*>(self);
    reporter->m_result = reporter->HandleCrashWork();
    return 0;
}

int CrashReporter::HandleCrashWork()
{
    InterlockedIncrement(&m_progress);
    PrepareCrashHeap();
    ModuleList modules;
    ThreadList threads;
    ErrorReportingFiles registration;

    CrashFileNames names;
    ThisProgramsCrashFileNames(names);

    WideString dumpPath, textPath;
    bool debugHelp = LoadDebugHelp() != 0;
    InterlockedIncrement(&m_progress);
    if (debugHelp) {
        HANDLE file = CreateCrashFile(names, L"dmp", dumpPath);
        if (file != INVALID_HANDLE_VALUE) {
            registration.Register(dumpPath);
            bool written = false;
            if (m_debugHelp.miniDumpWriteDump) {
                WriteDump(file, modules, threads);
                LARGE_INTEGER size;
                written = GetFileSizeEx(file, &size) && size.QuadPart > 0;
            }
            CloseHandle(file);
            if (!written) {
                // An empty file is no dump: the report must not offer it.
                DeleteFileW(dumpPath);
                dumpPath.Clear();
            }
        } else {
            dumpPath.Clear();  // the report must not name a file that was never made
        }
    }
    HANDLE text = CreateCrashFile(names, L"txt", textPath);
    if (text != INVALID_HANDLE_VALUE) {
        registration.Register(textPath);
        CrashReportInput input;
        input.pointers = m_pointers;
        input.threadId = m_faultingThread;
        input.debugHelp = debugHelp ? &m_debugHelp : nullptr;
        input.modules = &modules;
        input.threads = &threads;
        input.logText = m_logText;
        input.progress = &m_progress;
        CrashTextReport(text, input);
        CloseHandle(text);
    } else {
        textPath.Clear();
    }
    InterlockedIncrement(&m_progress);
    InterlockedExchange(&m_stage, Reporting);  // the files are written
    int result = RunReport(dumpPath, textPath);
    ReleaseDebugHelp();
    return result;
}

HANDLE CrashReporter::CreateCrashFile(const CrashFileNames& names, const wchar_t* extension, WideString& path)
{
    const WideString* bases[] = {&names.primaryBase, &names.fallbackBase};
    HANDLE file = INVALID_HANDLE_VALUE;
    for (const WideString* base : bases) {
        path.Format(L"%s_Debug.%s", base->Text(), extension);
        file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) break;
    }
    return file;
}

int CrashReporter::LoadDebugHelp()
{
    ReleaseDebugHelp();
    if (!m_debugHelpLibrary.Load(L"dbghelp.dll")) return 0;
    struct Binding {
        const char* name;
        void* slot;
    } bindings[] = {
        {"MiniDumpWriteDump", &m_debugHelp.miniDumpWriteDump},
        {"SymInitialize", &m_debugHelp.symInitialize},
        {"SymSetOptions", &m_debugHelp.symSetOptions},
        {"SymGetSymFromAddr64", &m_debugHelp.symGetSymFromAddr64},
        {"SymFromAddr", &m_debugHelp.symFromAddr},
        {"SymGetModuleInfo64", &m_debugHelp.symGetModuleInfo64},
        {"StackWalk64", &m_debugHelp.stackWalk64},
        {"SymFunctionTableAccess64", &m_debugHelp.symFunctionTableAccess64},
        {"SymGetModuleBase64", &m_debugHelp.symGetModuleBase64},
        {"SymGetLineFromAddr64", &m_debugHelp.symGetLineFromAddr64},
    };
    for (const Binding& binding : bindings) {
        void* address = m_debugHelpLibrary.Lookup(binding.name);
        if (!address) {
            ReleaseDebugHelp();
            return 0;
        }
        memcpy(binding.slot, &address, sizeof(address));
    }
    if (m_systemLibrary.Load(L"ntdll.dll")) {
        void* address = m_systemLibrary.Lookup("NtQueryInformationThread");
        memcpy(&m_ntQueryInformationThread, &address, sizeof(address));
    }
    m_debugHelp.symSetOptions(SYMOPT_LOAD_LINES);

    wchar_t folder[MAX_PATH] = {0}, symbols[260] = {0}, alternate[260] = {0}, root[260] = {0};
    ModuleVersion module;
    if (module.Load()) lstrcpynW(folder, module.Folder(), MAX_PATH);
    if (!GetEnvironmentVariableW(L"_NT_SYMBOL_PATH", symbols, 260)) symbols[0] = 0;
    if (!GetEnvironmentVariableW(L"_NT_ALTERNATE_SYMBOL_PATH", alternate, 260)) alternate[0] = 0;
    if (!GetEnvironmentVariableW(L"SYSTEMROOT", root, 260)) root[0] = 0;
    WideString searchPath;
    MakeSymbolSearchPath(folder, symbols, alternate, root, searchPath);
    if (!m_debugHelp.symInitialize(GetCurrentProcess(), Ansi(searchPath).c_str(), TRUE)) {
        ReleaseDebugHelp();
        return 0;
    }
    return 1;
}

void CrashReporter::ReleaseDebugHelp()
{
    m_debugHelp = DebugHelpApi();
    m_debugHelpLibrary.Free();
    m_ntQueryInformationThread = nullptr;
    m_systemLibrary.Free();
}

namespace {

struct DumpLists {
    ModuleList* modules;
    ThreadList* threads;
    LONG (WINAPI* queryThread)(HANDLE, int, void*, ULONG, ULONG*);
    volatile LONG* progress;
};

}  // namespace

void CrashReporter::WriteDump(HANDLE file, ModuleList& modules, ThreadList& threads)
{
    MINIDUMP_EXCEPTION_INFORMATION exception = {m_faultingThread, m_pointers, FALSE};
    DumpLists lists = {&modules, &threads, m_ntQueryInformationThread, &m_progress};
    MINIDUMP_CALLBACK_INFORMATION callback = {DumpCollector, &lists};
    m_debugHelp.miniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal,
                                  m_pointers ? &exception : nullptr, nullptr, &callback);
}

BOOL CALLBACK CrashReporter::DumpCollector(void* parameter, const PMINIDUMP_CALLBACK_INPUT input,
                                           PMINIDUMP_CALLBACK_OUTPUT)
{
    // Every other thread is suspended now: nothing here may take a lock one of them holds
    // (the records come from their own heap; the lists' locks are new).
    DumpLists* lists = static_cast<DumpLists*>(parameter);
    if (!input || !lists) return TRUE;
    InterlockedIncrement(lists->progress);
    if (input->CallbackType == ModuleCallback) {
        ModuleRecord* record = new ModuleRecord;
        if (!record) return TRUE;
        const MINIDUMP_MODULE_CALLBACK& module = input->Module;
        record->base = ReportedAddress(module.BaseOfImage);
        record->imageSize = module.SizeOfImage;
        record->checksum = module.CheckSum;
        record->timeStamp = module.TimeDateStamp;
        record->version = module.VersionInfo;
        if (module.FullPath) lstrcpynW(record->path, module.FullPath, MAX_PATH);
        lists->modules->Append(record);
    } else if (input->CallbackType == ThreadCallback) {
        ThreadRecord* record = new ThreadRecord;
        if (!record) return TRUE;
        const MINIDUMP_THREAD_CALLBACK& thread = input->Thread;
        record->id = thread.ThreadId;
        record->stackBase = thread.StackBase;
        record->stackEnd = thread.StackEnd;
        // The name a thread gave itself stands in its information block.
        ULONG_PTR block = 0;
#if defined(_WIN64)
        if (lists->queryThread) {
            struct {
                LONG exitStatus;
                void* teb;
                void* pad[4];
            } basic = {};
            if (lists->queryThread(thread.ThreadHandle, ThreadBasicInformation, &basic, sizeof(basic), nullptr) >= 0)
                block = (ULONG_PTR)basic.teb;
        }
#else
        LDT_ENTRY entry;
        if (GetThreadSelectorEntry(thread.ThreadHandle, thread.Context.SegFs, &entry)) block = SelectorBase(entry);
#endif
        if (block) {
            ULONG_PTR pointer = 0;
            SIZE_T read = 0;
            if (ReadProcessMemory(GetCurrentProcess(), (const void*)(block + offsetof(NT_TIB, ArbitraryUserPointer)),
                                  &pointer, sizeof(pointer), &read) &&
                read == sizeof(pointer))
                ReadThreadName(pointer, record->name);
        }
        if (lists->queryThread) {
            DWORD start = 0;
#if defined(_WIN64)
            ULONG_PTR wide = 0;
            if (lists->queryThread(thread.ThreadHandle, ThreadQuerySetWin32StartAddress, &wide, sizeof(wide),
                                   nullptr) >= 0)
                start = (DWORD)wide;
#else
            lists->queryThread(thread.ThreadHandle, ThreadQuerySetWin32StartAddress, &start, 4, nullptr);
#endif
            record->startAddress = start;
        }
        lists->threads->Append(record);
    }
    return TRUE;
}

int CrashReporter::RunReport(const wchar_t* dumpPath, const wchar_t* textPath)
{
    if (m_noDialog) return m_reportHost.IsEmpty() ? 1 : 0;  // the process ends quietly
    ReportSettings settings;
    settings.host = m_reportHost;
    settings.path = m_reportPath;
    settings.productId = m_productId;
    settings.extraValue = m_extraValue;
    settings.iconId = m_iconId;
    return SendProblemReport(settings, dumpPath, textPath);
}
