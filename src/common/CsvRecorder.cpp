#include "common/CsvRecorder.h"

#include <new>
#include <utility>

#include "common/CsvText.h"

namespace {

class FileSink : public CsvRecorder::Sink {
public:
    explicit FileSink(HANDLE file) : m_file(file) {}
    ~FileSink() override { CloseHandle(m_file); }
    int Write(const void* bytes, DWORD size, DWORD& error) override
    {
        DWORD written = 0;
        if (WriteFile(m_file, bytes, size, &written, nullptr) && written == size) return 1;
        error = GetLastError();
        if (!error) error = ERROR_WRITE_FAULT;
        return 0;
    }

private:
    HANDLE m_file;
};

// Bytes gathered before one write: large enough that a fast sensor costs few calls.
const size_t WriteBatch = 64 * 1024;
const DWORD GatherMilliseconds = 20;

}  // namespace

CsvRecorder::CsvRecorder()
    : m_sink(nullptr), m_queuedRows(0), m_capacity(DefaultCapacity), m_recording(0), m_stopping(0), m_written(0), m_dropped(0),
      m_failure(0), m_notify(nullptr), m_message(0)
{
    m_lock.Initialise();
}

CsvRecorder::~CsvRecorder()
{
    Stop();
}

int CsvRecorder::Start(const wchar_t* path, const wchar_t* header, size_t capacity, DWORD& error, HWND notify,
                       UINT message)
{
    error = 0;
    if (Recording()) return 0;
    // Others may read the file while it grows (a spreadsheet, a tail), not write it.
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return 0;
    }
    Sink* sink = new (std::nothrow) FileSink(file);
    if (!sink) {
        CloseHandle(file);
        error = ERROR_NOT_ENOUGH_MEMORY;
        return 0;
    }
    if (!StartWith(sink, header, capacity, notify, message)) {
        error = m_failure ? m_failure : ERROR_WRITE_FAULT;
        return 0;
    }
    return 1;
}

int CsvRecorder::StartWith(Sink* sink, const wchar_t* header, size_t capacity, HWND notify, UINT message)
{
    if (!sink || Recording()) {
        delete sink;
        return 0;
    }
    m_sink = sink;
    m_capacity = capacity ? capacity : DefaultCapacity;
    m_written = 0;
    m_dropped = 0;
    m_failure = 0;
    m_stopping = 0;
    m_notify = notify;
    m_message = message;
    m_buffer.assign("\xEF\xBB\xBF");
    // The header goes out at once: a file that cannot be written is known before any row.
    DWORD error = 0;
    bool written = WriteText(std::wstring(header ? header : L"") + L"\r\n") &&
                   (m_buffer.empty() || m_sink->Write(m_buffer.data(), (DWORD)m_buffer.size(), error));
    if (!written && !m_failure) m_failure = error ? error : ERROR_WRITE_FAULT;
    m_buffer.clear();
    if (!written || !m_wake.Create(FALSE, FALSE) || !m_writer.Start(WriterRoutine, this, 0)) {
        delete m_sink;
        m_sink = nullptr;
        return 0;
    }
    InterlockedExchange(&m_recording, 1);
    return 1;
}

bool CsvRecorder::Add(std::wstring&& line)
{
    if (!m_recording || m_stopping) return false;
    std::string bytes;
    try {
        AppendUtf8(bytes, line.data(), line.size());
        bytes += "\r\n";
    } catch (...) {
        InterlockedIncrement64(&m_dropped);
        return false;
    }
    return AddRows(bytes, 1);
}

bool CsvRecorder::AddRows(std::string& lines, size_t rows)
{
    if (!rows) {
        lines.clear();
        return true;
    }
    if (!m_recording || m_stopping) {
        lines.clear();
        return false;
    }
    m_lock.Enter();
    bool taken = m_queuedRows + rows <= m_capacity;
    // The writer takes the whole queue each time it wakes: only the first rows after that
    // need to wake it again.
    bool wake = m_queue.empty();
    if (taken) {
        try {
            m_queue.push_back(Rows{std::string(), rows});
            m_queue.back().bytes.swap(lines);
            m_queuedRows += rows;
        } catch (...) {
            taken = false;
        }
    }
    // The bytes handed over leave an empty string behind: a written buffer takes its place.
    if (taken && !m_spares.empty()) {
        lines.swap(m_spares.back());
        m_spares.pop_back();
    }
    m_lock.Leave();
    lines.clear();
    if (!taken) {
        InterlockedExchangeAdd64(&m_dropped, (LONGLONG)rows);
        return false;
    }
    if (wake) m_wake.Set();
    return true;
}

DWORD CsvRecorder::WriterRoutine(void* self, UINT_PTR)
{
    CsvRecorder* recorder = static_cast<CsvRecorder*>(self);
    for (;;) {
        recorder->m_wake.Wait(INFINITE);
        // A moment for more lines to gather: a fast sensor's lines then cost one round of
        // the writer, not one each.
        if (!recorder->m_stopping) Sleep(GatherMilliseconds);
        recorder->WriteQueued();
        if (recorder->m_stopping || recorder->m_failure) return 0;
    }
}

void CsvRecorder::WriteQueued()
{
    m_lock.Enter();
    m_writing.swap(m_queue);
    m_queuedRows = 0;
    m_lock.Leave();
    for (const Rows& rows : m_writing) {
        if (m_failure) break;
        if (WriteBytes(rows.bytes.data(), rows.bytes.size())) InterlockedExchangeAdd64(&m_written, (LONGLONG)rows.count);
    }
    // What is gathered goes out before the writer sleeps: the file is readable as it grows.
    if (!m_failure && !m_buffer.empty()) {
        DWORD error = 0;
        if (!m_sink->Write(m_buffer.data(), (DWORD)m_buffer.size(), error)) m_failure = error;
        m_buffer.clear();
    }
    // The buffers go back to the callers to be filled again.
    m_lock.Enter();
    for (Rows& rows : m_writing) {
        if (m_spares.size() >= MaxSpares) break;
        if (rows.bytes.capacity() > WriteBatch) continue;
        rows.bytes.clear();
        try {
            m_spares.push_back(std::move(rows.bytes));
        } catch (...) {
            break;
        }
    }
    m_lock.Leave();
    m_writing.clear();
    if (m_failure && InterlockedExchange(&m_recording, 0) && m_notify) PostMessageW(m_notify, m_message, 0, 0);
}

bool CsvRecorder::WriteText(const std::wstring& text)
{
    if (m_failure) return false;
    std::string bytes;
    try {
        AppendUtf8(bytes, text.data(), text.size());
    } catch (...) {
        m_failure = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    return WriteBytes(bytes.data(), bytes.size());
}

bool CsvRecorder::WriteBytes(const char* bytes, size_t size)
{
    if (m_failure) return false;
    try {
        m_buffer.append(bytes, size);
    } catch (...) {
        m_failure = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    if (m_buffer.size() < WriteBatch) return true;
    DWORD error = 0;
    bool ok = m_sink->Write(m_buffer.data(), (DWORD)m_buffer.size(), error) != 0;
    if (!ok) m_failure = error ? error : ERROR_WRITE_FAULT;
    m_buffer.clear();
    return ok;
}

int CsvRecorder::Stop()
{
    if (!m_sink) return 1;
    InterlockedExchange(&m_stopping, 1);
    m_wake.Set();
    m_writer.WaitWithoutMessages(0);
    // The writer has ended: what came after its last round is written here.
    WriteQueued();
    LONGLONG dropped = Dropped();
    if (dropped > 0 && !m_failure) {
        wchar_t comment[96];
        swprintf(comment, 96, L"# %I64d rows were dropped: the disk could not keep up\r\n", dropped);
        WriteText(comment);
        WriteQueued();
    }
    int ok = m_failure ? 0 : 1;
    InterlockedExchange(&m_recording, 0);
    delete m_sink;
    m_sink = nullptr;
    m_wake.Close();
    return ok;
}
