// Lines of a comma-separated file written on a thread of their own: callers on any thread
// hand lines over through a bounded queue and never wait on the disk.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/KernelObjects.h"

class CsvRecorder {
public:
    // Where the bytes go; a file unless a test gives its own.
    struct Sink {
        virtual ~Sink() {}
        // Answers 0 when it failed, with the system's error code in `error`.
        virtual int Write(const void* bytes, DWORD size, DWORD& error) = 0;
    };

    static const size_t DefaultCapacity = 65536;

    CsvRecorder();
    ~CsvRecorder();
    CsvRecorder(const CsvRecorder&) = delete;
    CsvRecorder& operator=(const CsvRecorder&) = delete;

    // Creates (or replaces) the file, writes the UTF-8 byte-order mark and `header` (one
    // line, its CR LF added), and starts the writer, whose queue holds up to `capacity`
    // rows. Answers 1, or 0 with the system's
    // error in `error`. `notify` gets `message` posted once when a write fails.
    int Start(const wchar_t* path, const wchar_t* header, size_t capacity, DWORD& error, HWND notify = nullptr,
              UINT message = 0);
    // The same onto a sink the recorder then owns.
    int StartWith(Sink* sink, const wchar_t* header, size_t capacity, HWND notify = nullptr, UINT message = 0);
    // Hands over one line (without its CR LF). Answers false when nothing records, or when
    // the queue is full: the line is then counted as dropped.
    bool Add(std::wstring&& line);
    // Hands over `rows` whole lines at once, as UTF-8 bytes each ending in CR LF; the queue
    // takes all of them or, when full, none (they are counted as dropped). Either way
    // `lines` is left empty, holding a buffer that an earlier round wrote out when there is
    // one: a caller that fills the same string again and again makes no allocations.
    bool AddRows(std::string& lines, size_t rows);
    // Counts lines that were lost before they could be handed over.
    void CountDropped(LONGLONG lines) { InterlockedExchangeAdd64(&m_dropped, lines); }
    // Writes what is queued, a last comment line with the number of dropped lines when
    // there were any, and closes the file. Answers 1 when every write succeeded.
    int Stop();

    bool Recording() const { return m_recording != 0; }
    LONGLONG Written() const { return InterlockedCompareExchange64(const_cast<volatile LONGLONG*>(&m_written), 0, 0); }
    LONGLONG Dropped() const { return InterlockedCompareExchange64(const_cast<volatile LONGLONG*>(&m_dropped), 0, 0); }
    // The system's error of the write that failed (the recorder then stopped taking lines),
    // or 0.
    DWORD Failure() const { return m_failure; }

private:
    static DWORD WriterRoutine(void* self, UINT_PTR);
    struct Rows {
        std::string bytes;
        size_t count;
    };
    void WriteQueued();
    bool WriteText(const std::wstring& text);
    bool WriteBytes(const char* bytes, size_t size);

    Sink* m_sink;
    CriticalSectionHolder m_lock;
    // Buffers written out, kept for the callers to fill again; at most this many, none
    // larger than a write batch.
    static const size_t MaxSpares = 1024;
    std::vector<Rows> m_queue;          // guarded by m_lock
    size_t m_queuedRows;                // guarded by m_lock
    std::vector<std::string> m_spares;  // guarded by m_lock
    std::vector<Rows> m_writing;        // the writer's: the rows of its round
    size_t m_capacity;
    EventHolder m_wake;
    WorkerThread m_writer;
    volatile LONG m_recording;
    volatile LONG m_stopping;
    volatile LONGLONG m_written;
    volatile LONGLONG m_dropped;
    volatile DWORD m_failure;
    HWND m_notify;
    UINT m_message;
    std::string m_buffer;  // the writer's: UTF-8 bytes waiting for one write
};
