// Holders of kernel objects: events, worker threads, critical sections, and the
// security descriptors a machine-global event needs.
#pragma once

#include <windows.h>

// Security descriptors as heap copies the caller frees with free().
void* NullDaclSecurityDescriptor();
void* SecurityDescriptorFromString(const wchar_t* text);

class EventHolder {
public:
    EventHolder();
    ~EventHolder() { Close(); }
    EventHolder(const EventHolder&) = delete;
    EventHolder& operator=(const EventHolder&) = delete;

    // A named global event on NT (but not NT 4.0) is created as "Global\<name>" with a
    // null DACL so that every session can open it.
    int Create(BOOL manualReset, BOOL initialState, const wchar_t* name = nullptr, int global = 0);
    int Set();
    int Reset();
    // 1 when this event or `other` is signalled; 0 on time-out or error. Alertable.
    int Wait(DWORD milliseconds, HANDLE other = nullptr);
    // Like Wait, but dispatches the thread's window messages meanwhile. A WM_QUIT ends
    // the wait with 0 and is posted again for the thread's message loop.
    int PumpingWait(DWORD milliseconds, HANDLE other = nullptr);
    void Close();
    HANDLE Handle() const { return m_handle; }

    // The name Create gives a named event.
    static int EventName(const wchar_t* name, int global, unsigned long long versionFlags, wchar_t* out, int capacity);

private:
    bool m_owner;
    unsigned long long m_versionFlags;
    HANDLE m_handle;
};

// The message-dispatching wait on any handles (null ones are ignored).
int PumpingWaitFor(DWORD milliseconds, HANDLE first, HANDLE second = nullptr);

typedef DWORD (*WorkerRoutine)(void* argument, UINT_PTR value);

class WorkerThread {
public:
    WorkerThread();
    ~WorkerThread() { Stop(); }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Refused (0) while a routine still runs.
    int Start(WorkerRoutine routine, void* argument, UINT_PTR value);
    // Pumping wait for the routine's end (0 milliseconds: no limit); 0 at once when
    // nothing runs.
    int Wait(DWORD milliseconds);
    // The same wait, dispatching no messages (for a thread that must not run window code).
    int WaitWithoutMessages(DWORD milliseconds);
    // Ends a routine that still runs, without letting it finish.
    void Stop();
    bool Running() const { return (m_state & RunningFlag) != 0; }
    DWORD Result() const { return m_result; }
    DWORD ThreadId() const { return m_threadId; }
    // The thread of the routine (running or ended), or null; owned here.
    HANDLE Thread() const { return m_thread; }

private:
    static const LONG RunningFlag = 0x1;
    // Where the thread is, for Stop: not started, in the routine, past it, being ended.
    enum : LONG { NotEntered = 0, InRoutine = 1, RoutineDone = 2, BeingEnded = 3 };
    static DWORD WINAPI ThreadMain(void* self);

    WorkerRoutine m_routine;
    void* m_argument;
    UINT_PTR m_value;
    volatile LONG m_state;
    volatile LONG m_entered;
    volatile DWORD m_result;
    EventHolder m_done;
    HANDLE m_thread;  // owned here; closed by Stop or the next Start
    DWORD m_threadId;
};

class CriticalSectionHolder {
public:
    CriticalSectionHolder() : m_initialised(false) {}
    ~CriticalSectionHolder() { Delete(); }
    CriticalSectionHolder(const CriticalSectionHolder&) = delete;
    CriticalSectionHolder& operator=(const CriticalSectionHolder&) = delete;

    void Initialise();
    void Enter();
    void Leave();
    void Delete();
    bool Initialised() const { return m_initialised; }

private:
    bool m_initialised;
    CRITICAL_SECTION m_section;
};

// A lock that many may hold to read at once, or one to write. The system's slim
// reader/writer lock where the system has one (bound at run time: older systems lack it),
// else a critical section that readers too take one at a time.
class ReadWriteLock {
public:
    ReadWriteLock();
    ~ReadWriteLock();
    ReadWriteLock(const ReadWriteLock&) = delete;
    ReadWriteLock& operator=(const ReadWriteLock&) = delete;

    void Read();
    void EndRead();
    void Write();
    void EndWrite();
    // Whether readers share the lock (the slim lock was found).
    bool Shared() const;

private:
    void* m_lock;  // the slim lock's one pointer-sized word
    CRITICAL_SECTION m_section;  // for systems without the slim lock
};
