#include "platform/KernelObjects.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "common/Timing.h"
#include "platform/SystemApi.h"
#include "sysinfo/WindowsVersion.h"

namespace {

void* CopyDescriptor(PSECURITY_DESCRIPTOR descriptor, SystemApi& api)
{
    typedef DWORD(WINAPI * LengthFunction)(PSECURITY_DESCRIPTOR);
    LengthFunction length = (LengthFunction)api.Lookup(SystemApi::Advapi32, "GetSecurityDescriptorLength");
    if (!length) return nullptr;
    DWORD size = length(descriptor);
    if (size == 0) return nullptr;
    void* copy = malloc(size);
    if (copy) memcpy(copy, descriptor, size);
    return copy;
}

}  // namespace

void* NullDaclSecurityDescriptor()
{
    SystemApi api;
    typedef BOOL(WINAPI * InitFunction)(PSECURITY_DESCRIPTOR, DWORD);
    typedef BOOL(WINAPI * DaclFunction)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);
    InitFunction initialise = (InitFunction)api.Lookup(SystemApi::Advapi32, "InitializeSecurityDescriptor");
    DaclFunction setDacl = (DaclFunction)api.Lookup(SystemApi::Advapi32, "SetSecurityDescriptorDacl");
    if (!initialise || !setDacl) return nullptr;
    void* descriptor = malloc(sizeof(SECURITY_DESCRIPTOR));
    if (!descriptor) return nullptr;
    if (!initialise(descriptor, SECURITY_DESCRIPTOR_REVISION) || !setDacl(descriptor, TRUE, nullptr, FALSE)) {
        free(descriptor);
        return nullptr;
    }
    return descriptor;
}

void* SecurityDescriptorFromString(const wchar_t* text)
{
    if (!text) return nullptr;
    SystemApi api;
    typedef BOOL(WINAPI * ConvertFunction)(LPCWSTR, DWORD, PSECURITY_DESCRIPTOR*, PULONG);
    ConvertFunction convert = (ConvertFunction)api.Lookup(
        SystemApi::Advapi32, "ConvertStringSecurityDescriptorToSecurityDescriptorW");
    if (!convert) return nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!convert(text, 1 /* SDDL_REVISION_1 */, &descriptor, nullptr) || !descriptor) return nullptr;
    void* copy = CopyDescriptor(descriptor, api);
    LocalFree(descriptor);
    return copy;
}

EventHolder::EventHolder() : m_owner(false), m_versionFlags(ClassifyWindows()), m_handle(nullptr) {}

int EventHolder::EventName(const wchar_t* name, int global, unsigned long long versionFlags, wchar_t* out,
                           int capacity)
{
    if (!name || !out || capacity <= 0) return 0;
    bool globalName = global && (versionFlags & 0x1) && !(versionFlags & 0x80);
    int written = _snwprintf(out, (size_t)capacity, globalName ? L"Global\\%s" : L"%s", name);
    if (written < 0 || written >= capacity) {
        out[0] = L'\0';
        return 0;
    }
    return globalName ? 2 : 1;
}

int EventHolder::Create(BOOL manualReset, BOOL initialState, const wchar_t* name, int global)
{
    Close();
    m_owner = true;
    if (!name) {
        m_handle = CreateEventW(nullptr, manualReset, initialState, nullptr);
        return m_handle != nullptr;
    }
    wchar_t fullName[MAX_PATH];
    int kind = EventName(name, global, m_versionFlags, fullName, MAX_PATH);
    if (!kind) return 0;
    void* descriptor = kind == 2 ? NullDaclSecurityDescriptor() : nullptr;
    if (kind == 2 && !descriptor) {
        m_handle = CreateEventW(nullptr, manualReset, initialState, name);
    } else if (descriptor) {
        SECURITY_ATTRIBUTES attributes;
        attributes.nLength = sizeof(attributes);
        attributes.lpSecurityDescriptor = descriptor;
        attributes.bInheritHandle = FALSE;
        m_handle = CreateEventW(&attributes, manualReset, initialState, fullName);
        free(descriptor);
    } else {
        m_handle = CreateEventW(nullptr, manualReset, initialState, fullName);
    }
    return m_handle != nullptr;
}

int EventHolder::Set()
{
    return m_handle && SetEvent(m_handle);
}

int EventHolder::Reset()
{
    return m_handle && ResetEvent(m_handle);
}

int EventHolder::Wait(DWORD milliseconds, HANDLE other)
{
    if (!m_handle) return 0;
    HANDLE handles[2] = {m_handle, other};
    DWORD count = other ? 2 : 1;
    for (;;) {
        DWORD result = WaitForMultipleObjectsEx(count, handles, FALSE, milliseconds, TRUE);
        if (result == WAIT_IO_COMPLETION) continue;
        return result < WAIT_OBJECT_0 + count ? 1 : 0;
    }
}

int PumpingWaitFor(DWORD milliseconds, HANDLE first, HANDLE second)
{
    HANDLE handles[2];
    DWORD count = 0;
    if (first) handles[count++] = first;
    if (second) handles[count++] = second;
    if (count == 0) return 0;
    bool limited = milliseconds != INFINITE;
    ULONGLONG deadline = TickCount64() + milliseconds;
    for (;;) {
        DWORD remaining = INFINITE;
        if (limited) {
            ULONGLONG now = TickCount64();
            if (now > deadline) return 0;
            remaining = (DWORD)(deadline - now);
        }
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage((int)message.wParam);
                return 0;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        DWORD result = MsgWaitForMultipleObjects(count, handles, FALSE, remaining, 0x5FF);
        if (result < WAIT_OBJECT_0 + count) return 1;
        if (result != WAIT_OBJECT_0 + count) return 0;
    }
}

int EventHolder::PumpingWait(DWORD milliseconds, HANDLE other)
{
    if (!m_handle) return 0;
    return PumpingWaitFor(milliseconds, m_handle, other);
}

void EventHolder::Close()
{
    if (m_handle && m_owner) CloseHandle(m_handle);
    m_handle = nullptr;
    m_owner = false;
}

WorkerThread::WorkerThread()
    : m_routine(nullptr), m_argument(nullptr), m_value(0), m_state(0), m_entered(0), m_result(0), m_thread(nullptr),
      m_threadId(0)
{
}

int WorkerThread::Start(WorkerRoutine routine, void* argument, UINT_PTR value)
{
    if (!routine) return 0;
    if (InterlockedCompareExchange(&m_state, RunningFlag, 0) & RunningFlag) return 0;
    if (m_thread) {
        CloseHandle(m_thread);  // of the routine that ran before
        m_thread = nullptr;
    }
    m_routine = routine;
    m_argument = argument;
    m_value = value;
    m_result = 0;
    m_entered = NotEntered;
    if (!m_done.Create(TRUE, FALSE)) {
        InterlockedExchange(&m_state, 0);
        return 0;
    }
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, ThreadMain, this, CREATE_SUSPENDED, &id);
    if (!thread) {
        InterlockedExchange(&m_state, 0);
        return 0;
    }
    m_threadId = id;
    m_thread = thread;
    ResumeThread(thread);
    return 1;
}

DWORD WINAPI WorkerThread::ThreadMain(void* self)
{
    WorkerThread* worker = static_cast<WorkerThread*>(self);
    InterlockedExchange(&worker->m_entered, InRoutine);
    DWORD result = worker->m_routine(worker->m_argument, worker->m_value);
    if (InterlockedCompareExchange(&worker->m_entered, RoutineDone, InRoutine) != InRoutine) {
        // Stop is ending this thread right now: wait for it, touching nothing.
        for (;;) Sleep(INFINITE);
    }
    worker->m_result = result;
    // Clearing the running mark is this thread's last touch of the worker: the owner may
    // destroy it at once after that, so the done event is signalled through a handle of
    // this thread's own. While the mark is set, Stop ends this thread and waits for it.
    HANDLE done = nullptr;
    if (worker->m_done.Handle())
        DuplicateHandle(GetCurrentProcess(), worker->m_done.Handle(), GetCurrentProcess(), &done, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
    if (!(InterlockedExchange(&worker->m_state, 0) & RunningFlag)) {
        // Stop came first and is ending this thread: touch nothing more.
        if (done) CloseHandle(done);
        return 0;
    }
    if (done) {
        SetEvent(done);
        CloseHandle(done);
    }
    return result;
}

int WorkerThread::Wait(DWORD milliseconds)
{
    if (!Running()) return 0;
    return m_done.PumpingWait(milliseconds == 0 ? INFINITE : milliseconds);
}

int WorkerThread::WaitWithoutMessages(DWORD milliseconds)
{
    if (!Running()) return 0;
    return m_done.Wait(milliseconds == 0 ? INFINITE : milliseconds);
}

void WorkerThread::Stop()
{
    if (InterlockedExchange(&m_state, 0) & RunningFlag) {
        // The thread has not passed its last touch of this object: it is ended, and only
        // once it is gone may the object go.
        if (m_thread) {
            // A thread is not ended while the system still starts it (it would die holding
            // the loader's lock and block every later thread of the process).
            while (InterlockedCompareExchange(&m_entered, 0, 0) == NotEntered &&
                   WaitForSingleObject(m_thread, 0) == WAIT_TIMEOUT)
                Sleep(0);
            // Only a routine is cut short; a thread past it ends by itself in a moment.
            if (InterlockedCompareExchange(&m_entered, BeingEnded, InRoutine) == InRoutine)
                TerminateThread(m_thread, 0);
            WaitForSingleObject(m_thread, INFINITE);
        }
        m_result = 0;
        m_done.Close();
    }
    if (m_thread) {
        CloseHandle(m_thread);
        m_thread = nullptr;
    }
}

void CriticalSectionHolder::Initialise()
{
    if (m_initialised) return;
    InitializeCriticalSection(&m_section);
    m_initialised = true;
}

void CriticalSectionHolder::Enter()
{
    if (m_initialised) EnterCriticalSection(&m_section);
}

void CriticalSectionHolder::Leave()
{
    if (m_initialised) LeaveCriticalSection(&m_section);
}

void CriticalSectionHolder::Delete()
{
    if (m_initialised) {
        DeleteCriticalSection(&m_section);
        m_initialised = false;
    }
}

namespace {

typedef void(WINAPI* SlimLockFunction)(void** lock);

// The slim lock's functions, looked up once. Threads that look them up at the same moment
// find the same answers, so the last one to store them changes nothing.
struct SlimLockFunctions {
    SlimLockFunction initialise, acquireShared, releaseShared, acquireExclusive, releaseExclusive;
};
SlimLockFunctions g_slimLock;
volatile LONG g_slimLockLooked = 0;  // 1 when looked up, 2 when found

bool FindSlimLock()
{
    LONG looked = g_slimLockLooked;
    if (looked) return looked == 2;
    SlimLockFunctions found = {};
    if (HMODULE kernel = GetModuleHandleW(L"kernel32.dll")) {
        found.initialise = (SlimLockFunction)(void*)GetProcAddress(kernel, "InitializeSRWLock");
        found.acquireShared = (SlimLockFunction)(void*)GetProcAddress(kernel, "AcquireSRWLockShared");
        found.releaseShared = (SlimLockFunction)(void*)GetProcAddress(kernel, "ReleaseSRWLockShared");
        found.acquireExclusive = (SlimLockFunction)(void*)GetProcAddress(kernel, "AcquireSRWLockExclusive");
        found.releaseExclusive = (SlimLockFunction)(void*)GetProcAddress(kernel, "ReleaseSRWLockExclusive");
    }
    bool all = found.initialise && found.acquireShared && found.releaseShared && found.acquireExclusive &&
               found.releaseExclusive;
    if (all) g_slimLock = found;
    InterlockedExchange(&g_slimLockLooked, all ? 2 : 1);
    return all;
}

}  // namespace

// The slim lock needs no set-up (all zero is its initial state), and its functions are
// looked up at the first use: a lock made before the program starts (a member of a static
// object) makes no calls to the system.
ReadWriteLock::ReadWriteLock() : m_lock(nullptr)
{
    InitializeCriticalSection(&m_section);
}

bool ReadWriteLock::Shared() const
{
    return FindSlimLock();
}

ReadWriteLock::~ReadWriteLock()
{
    DeleteCriticalSection(&m_section);
}

void ReadWriteLock::Read()
{
    if (FindSlimLock())
        g_slimLock.acquireShared(&m_lock);
    else
        EnterCriticalSection(&m_section);
}

void ReadWriteLock::EndRead()
{
    if (FindSlimLock())
        g_slimLock.releaseShared(&m_lock);
    else
        LeaveCriticalSection(&m_section);
}

void ReadWriteLock::Write()
{
    if (FindSlimLock())
        g_slimLock.acquireExclusive(&m_lock);
    else
        EnterCriticalSection(&m_section);
}

void ReadWriteLock::EndWrite()
{
    if (FindSlimLock())
        g_slimLock.releaseExclusive(&m_lock);
    else
        LeaveCriticalSection(&m_section);
}
