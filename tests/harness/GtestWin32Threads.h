// Included before everything in the suites when the compilers have the win32 thread model
// (the product's own), which has no std::mutex: GoogleTest's one use of it, the
// notification between threads, is given over an event instead. The rest of GoogleTest's
// locking on Windows already uses the system's own primitives.
#pragma once

#include <windows.h>

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : m_event(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification()
    {
        if (m_event) CloseHandle(m_event);
    }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { SetEvent(m_event); }
    void WaitForNotification() { WaitForSingleObject(m_event, INFINITE); }

private:
    HANDLE m_event;
};

}  // namespace internal
}  // namespace testing

#define GTEST_HAS_NOTIFICATION_ 1
