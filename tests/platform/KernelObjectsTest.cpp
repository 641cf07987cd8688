#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include <shlobj.h>

#include "common/Timing.h"
#include "platform/KernelObjects.h"
#include "platform/ShellFolders.h"
#include "platform/WindowObjects.h"

TEST(EventHolder, NamesAndSecurity)
{
    wchar_t name[MAX_PATH];
    EXPECT_EQ(2, EventHolder::EventName(L"Shared", 1, 0x4001, name, MAX_PATH));
    EXPECT_STREQ(L"Global\\Shared", name);
    EXPECT_EQ(1, EventHolder::EventName(L"Shared", 1, 0x81, name, MAX_PATH)) << "NT 4.0 has no global namespace";
    EXPECT_STREQ(L"Shared", name);
    EXPECT_EQ(1, EventHolder::EventName(L"Shared", 1, 0x12, name, MAX_PATH));
    EXPECT_EQ(1, EventHolder::EventName(L"Shared", 0, 0x4001, name, MAX_PATH));
    EXPECT_STREQ(L"Shared", name);
    EXPECT_EQ(0, EventHolder::EventName(L"Shared", 1, 0x4001, name, 8)) << "too long for the buffer";

    void* descriptor = NullDaclSecurityDescriptor();
    ASSERT_NE(nullptr, descriptor);
    EXPECT_TRUE(IsValidSecurityDescriptor(descriptor));
    BOOL present = FALSE, defaulted = TRUE;
    PACL dacl = (PACL)1;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_EQ(nullptr, dacl);
    EXPECT_FALSE(defaulted);
    free(descriptor);

    void* fromText = SecurityDescriptorFromString(L"D:(A;;GA;;;WD)");
    ASSERT_NE(nullptr, fromText);
    EXPECT_TRUE(IsValidSecurityDescriptor(fromText));
    free(fromText);
    EXPECT_EQ(nullptr, SecurityDescriptorFromString(L"not a descriptor"));
}

TEST(EventHolder, GlobalEventCanBeOpenedByItsFullName)
{
    wchar_t name[64];
    swprintf(name, 64, L"OrvaneTestEvent%lu", GetCurrentProcessId());
    EventHolder event;
    ASSERT_EQ(1, event.Create(TRUE, FALSE, name, 1));
    wchar_t full[80];
    swprintf(full, 80, L"Global\\%ls", name);
    HANDLE opened = OpenEventW(EVENT_MODIFY_STATE, FALSE, full);
    ASSERT_NE(nullptr, opened);
    SetEvent(opened);
    CloseHandle(opened);
    EXPECT_EQ(1, event.Wait(0));
}

TEST(EventHolder, WaitsWithAndWithoutSecondHandle)
{
    EventHolder event, other;
    EXPECT_EQ(0, event.Wait(0)) << "nothing created yet";
    ASSERT_EQ(1, event.Create(FALSE, FALSE));
    ASSERT_EQ(1, other.Create(TRUE, FALSE));
    EXPECT_EQ(0, event.Wait(20));
    other.Set();
    EXPECT_EQ(1, event.Wait(20, other.Handle()));
    other.Reset();
    event.Set();
    EXPECT_EQ(1, event.Wait(0));
    EXPECT_EQ(0, event.Wait(0)) << "auto-reset";
    event.Close();
    EXPECT_EQ(nullptr, event.Handle());
}

namespace {

LONG g_dispatched = 0;

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP) {
        g_dispatched++;
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CountingWindow()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = CountingProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"OrvaneCountingWindow";
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, L"OrvaneCountingWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

struct DelayedSet {
    HANDLE event;
    HWND window;
};

DWORD WINAPI SetLater(void* parameter)
{
    DelayedSet* delayed = static_cast<DelayedSet*>(parameter);
    Sleep(100);
    PostMessageW(delayed->window, WM_APP, 0, 0);  // arrives while the wait runs
    Sleep(100);
    SetEvent(delayed->event);
    return 0;
}

}  // namespace

TEST(EventHolder, PumpingWaitDispatchesMessages)
{
    HWND window = CountingWindow();
    ASSERT_NE(nullptr, window);
    EventHolder event;
    ASSERT_EQ(1, event.Create(TRUE, FALSE));
    g_dispatched = 0;
    PostMessageW(window, WM_APP, 0, 0);
    PostMessageW(window, WM_APP, 0, 0);
    DelayedSet delayed = {event.Handle(), window};
    HANDLE thread = CreateThread(nullptr, 0, SetLater, &delayed, 0, nullptr);
    EXPECT_EQ(1, event.PumpingWait(INFINITE));
    EXPECT_EQ(3, g_dispatched) << "queued and arriving messages are dispatched";
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);

    event.Reset();
    ULONGLONG start = TickCount64();
    EXPECT_EQ(0, event.PumpingWait(150));
    EXPECT_GE(TickCount64() - start, 140u);
    DestroyWindow(window);
}

TEST(EventHolder, PumpingWaitRepostsQuit)
{
    EventHolder event;
    ASSERT_EQ(1, event.Create(TRUE, FALSE));
    PostQuitMessage(42);
    EXPECT_EQ(0, event.PumpingWait(5000));
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ((UINT)WM_QUIT, message.message);
    EXPECT_EQ(42u, message.wParam);
}

namespace {

struct Gate {
    HANDLE release;
    LONG runs;
};

DWORD BlockingRoutine(void* argument, UINT_PTR value)
{
    Gate* gate = static_cast<Gate*>(argument);
    InterlockedIncrement(&gate->runs);
    WaitForSingleObject(gate->release, INFINITE);
    return (DWORD)value;
}

}  // namespace

TEST(WorkerThread, RunsOneRoutineAtATime)
{
    Gate gate = {CreateEventW(nullptr, TRUE, FALSE, nullptr), 0};
    WorkerThread worker;
    EXPECT_EQ(0, worker.Wait(10)) << "nothing runs yet";
    ASSERT_EQ(1, worker.Start(BlockingRoutine, &gate, 1234));
    EXPECT_TRUE(worker.Running());
    EXPECT_EQ(0, worker.Start(BlockingRoutine, &gate, 99)) << "a second start is refused";
    EXPECT_EQ(0, worker.Wait(50)) << "still blocked";
    SetEvent(gate.release);
    // A routine that has already ended by the time of the call answers 0 at once, as
    // when nothing runs; only a wait that timed out leaves it running.
    int waited = worker.Wait(5000);
    EXPECT_TRUE(waited == 1 || !worker.Running()) << "ends once released";
    EXPECT_FALSE(worker.Running());
    EXPECT_EQ(1234u, worker.Result());
    EXPECT_EQ(1, gate.runs) << "the refused start ran nothing";

    ResetEvent(gate.release);
    ASSERT_EQ(1, worker.Start(BlockingRoutine, &gate, 5)) << "free again after the end";
    while (gate.runs < 2) Sleep(5);
    worker.Stop();
    EXPECT_FALSE(worker.Running());
    EXPECT_EQ(0u, worker.Result());
    CloseHandle(gate.release);
}

namespace {

DWORD CountingForever(void* argument, UINT_PTR)
{
    volatile LONG* counter = static_cast<volatile LONG*>(argument);
    for (;;) {
        InterlockedIncrement(counter);
        Sleep(1);
    }
}

// Works for a while that depends on the value, then ends by itself.
DWORD ShortWork(void* argument, UINT_PTR value)
{
    volatile LONG* sink = static_cast<volatile LONG*>(argument);
    for (UINT_PTR i = 0; i < value * 50; i++) InterlockedIncrement(sink);
    return (DWORD)value;
}

}  // namespace

TEST(WorkerThread, DestroyingARunningWorkerEndsIt)
{
    volatile LONG counter = 0;
    {
        WorkerThread worker;
        ASSERT_EQ(1, worker.Start(CountingForever, (void*)&counter, 0));
        while (counter < 3) Sleep(1);
    }
    LONG atDestruction = counter;
    Sleep(100);
    EXPECT_EQ(atDestruction, counter) << "the routine no longer runs once its worker is gone";
}

TEST(WorkerThread, StopAndDestroyAtAnyMomentOfTheEnd)
{
    // Routines that end by themselves at about the moment the owner stops and destroys
    // the worker. Each freed worker's memory is taken at once by a poisoned block: a thread
    // that still touched its worker would change it.
    volatile LONG sink = 0;
    std::vector<unsigned char*> poisoned;
    for (int i = 0; i < 1500; i++) {
        WorkerThread* worker = new WorkerThread;
        ASSERT_EQ(1, worker->Start(ShortWork, (void*)&sink, (UINT_PTR)(i % 40))) << "round " << i;
        for (volatile int spin = 0; spin < (i % 23) * 200; spin++) {
        }
        if (i % 3 == 0) worker->Wait(0);
        worker->Stop();
        EXPECT_FALSE(worker->Running());
        delete worker;
        unsigned char* block = (unsigned char*)malloc(sizeof(WorkerThread));
        memset(block, 0xCC, sizeof(WorkerThread));
        poisoned.push_back(block);
    }
    Sleep(200);
    int changed = 0;
    for (unsigned char* block : poisoned) {
        for (size_t j = 0; j < sizeof(WorkerThread); j++)
            if (block[j] != 0xCC) {
                changed++;
                break;
            }
        free(block);
    }
    EXPECT_EQ(0, changed) << "no thread touched a worker after Stop returned";
}

TEST(Holders, CriticalSectionHookAndBrush)
{
    CriticalSectionHolder section;
    section.Enter();  // not initialised: nothing happens
    section.Leave();
    section.Initialise();
    section.Initialise();
    EXPECT_TRUE(section.Initialised());
    section.Enter();
    section.Enter();
    section.Leave();
    section.Leave();
    section.Delete();
    EXPECT_FALSE(section.Initialised());

    HookHolder hook;
    struct Passing {
        static LRESULT CALLBACK Proc(int code, WPARAM w, LPARAM l) { return CallNextHookEx(nullptr, code, w, l); }
    };
    ASSERT_EQ(1, hook.Set(WH_GETMESSAGE, Passing::Proc, nullptr, GetCurrentThreadId()));
    EXPECT_NE(nullptr, hook.Handle());
    hook.Unhook();
    EXPECT_EQ(nullptr, hook.Handle());

    GdiHolder brush;
    ASSERT_EQ(1, brush.CreateSolidBrush(RGB(1, 2, 3)));
    HDC dc = CreateCompatibleDC(nullptr);
    EXPECT_EQ(brush.Handle(), (HGDIOBJ)brush.ControlColour(dc));
    EXPECT_EQ(RGB(1, 2, 3), GetBkColor(dc));
    DeleteDC(dc);
    brush.CreateSolidBrush(RGB(4, 5, 6));
    EXPECT_EQ(RGB(4, 5, 6), brush.Colour());
    LOGBRUSH info = {};
    ASSERT_EQ((int)sizeof(info), GetObjectW(brush.Handle(), sizeof(info), &info));
    EXPECT_EQ(RGB(4, 5, 6), info.lbColor);
    brush.Delete();
    EXPECT_EQ(nullptr, brush.Handle());
}

TEST(ShellFolders, SpecialFoldersAndLanguages)
{
    wchar_t path[MAX_PATH];
    ASSERT_EQ(1, SpecialFolder(CSIDL_LOCAL_APPDATA, path));
    size_t n = wcslen(path);
    ASSERT_GT(n, 3u);
    EXPECT_NE(L'\\', path[n - 1]);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path));
    EXPECT_EQ(0, SpecialFolder(0x7FFF, path));
    EXPECT_STREQ(L"", path);

    EXPECT_EQ(GetUserDefaultUILanguage(), LanguageId(UserInterfaceLanguage));
    EXPECT_EQ(GetSystemDefaultLangID(), LanguageId(SystemLanguage));
    EXPECT_EQ(0x0407, NormaliseUserLanguage(0x0407));
    EXPECT_EQ(9, NormaliseUserLanguage(0x1800)) << "no primary language, above 6143";
    EXPECT_EQ(0x1400, NormaliseUserLanguage(0x1400)) << "not above 6143";
}

namespace {

struct LockProbe {
    ReadWriteLock* lock;
    volatile LONG reading;
    volatile LONG writing;
};

DWORD ReadThenWrite(void* argument, UINT_PTR)
{
    LockProbe* probe = static_cast<LockProbe*>(argument);
    probe->lock->Read();
    InterlockedExchange(&probe->reading, 1);
    probe->lock->EndRead();
    probe->lock->Write();
    InterlockedExchange(&probe->writing, 1);
    probe->lock->EndWrite();
    return 0;
}

bool WaitForFlag(volatile LONG& flag, DWORD timeout)
{
    ULONGLONG start = TickCount64();
    while (!InterlockedCompareExchange(&flag, 0, 0) && TickCount64() - start < timeout) Sleep(5);
    return InterlockedCompareExchange(&flag, 0, 0) != 0;
}

}  // namespace

TEST(ReadWriteLock, ReadersShareAndAWriterWaitsForThem)
{
    ReadWriteLock lock;
    EXPECT_TRUE(lock.Shared()) << "this system has the slim lock";
    LockProbe probe = {&lock, 0, 0};
    lock.Read();
    WorkerThread worker;
    ASSERT_EQ(1, worker.Start(ReadThenWrite, &probe, 0));
    EXPECT_TRUE(WaitForFlag(probe.reading, 20000)) << "a second reader gets in beside the first";
    Sleep(200);
    EXPECT_EQ(0, probe.writing) << "no writer while someone reads";
    lock.EndRead();
    EXPECT_TRUE(WaitForFlag(probe.writing, 20000)) << "the writer gets in once the reader has gone";
    worker.Wait(20000);
    EXPECT_FALSE(worker.Running());
}
