// The writer of comma-separated files: lines from many threads, a full queue, a failing disk.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "common/CsvRecorder.h"
#include "harness/Harness.h"

namespace {

// Keeps what was written; can hold each write until released, or fail after some bytes.
struct MemorySink : CsvRecorder::Sink {
    std::string* bytes;
    HANDLE release = nullptr;  // when set, every write waits for it
    size_t failAfter = (size_t)-1;
    explicit MemorySink(std::string* target) : bytes(target) {}
    int Write(const void* data, DWORD size, DWORD& error) override
    {
        if (release) WaitForSingleObject(release, INFINITE);
        if (bytes->size() + size > failAfter) {
            error = ERROR_DISK_FULL;
            return 0;
        }
        bytes->append((const char*)data, size);
        return 1;
    }
};

struct Feeder {
    CsvRecorder* recorder;
    int thread;
    int lines;
    int block;  // 0: one line at a time; else this many lines a hand-over, as UTF-8
    volatile LONG* notEmptied;
};

DWORD WINAPI Feed(void* parameter)
{
    Feeder* feeder = (Feeder*)parameter;
    std::string bytes;
    for (int i = 0; i < feeder->lines; i++) {
        if (!feeder->block) {
            feeder->recorder->Add(L"t" + std::to_wstring(feeder->thread) + L"," + std::to_wstring(i));
            continue;
        }
        bytes += "t" + std::to_string(feeder->thread) + "," + std::to_string(i) + "\r\n";
        if ((i + 1) % feeder->block) continue;
        feeder->recorder->AddRows(bytes, (size_t)feeder->block);
        if (!bytes.empty()) InterlockedIncrement(feeder->notEmptied);
    }
    return 0;
}

std::vector<std::string> Lines(const std::string& bytes)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < bytes.size()) {
        size_t end = bytes.find("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(at) + "<no CR LF>");
            break;
        }
        lines.push_back(bytes.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

}  // namespace

TEST(CsvRecorder, LinesFromManyThreadsEachInItsOrder)
{
    std::string bytes;
    CsvRecorder recorder;
    ASSERT_EQ(1, recorder.StartWith(new MemorySink(&bytes), L"Thread,N\x00E9", 1 << 20));
    EXPECT_TRUE(recorder.Recording());
    // Two threads hand over single lines, two whole blocks of lines in one string each,
    // which every hand-over empties for the next block.
    Feeder feeders[4];
    HANDLE threads[4];
    volatile LONG notEmptied = 0;
    for (int t = 0; t < 4; t++) {
        feeders[t] = {&recorder, t, 5001, t % 2 ? 3 : 0, &notEmptied};
        threads[t] = CreateThread(nullptr, 0, Feed, &feeders[t], 0, nullptr);
    }
    WaitForMultipleObjects(4, threads, TRUE, INFINITE);
    for (HANDLE thread : threads) CloseHandle(thread);
    EXPECT_EQ(1, recorder.Stop());
    EXPECT_FALSE(recorder.Recording());
    EXPECT_EQ(0, notEmptied) << "a hand-over leaves the string empty";
    EXPECT_EQ(20004, recorder.Written());
    EXPECT_EQ(0, recorder.Dropped());
    EXPECT_FALSE(recorder.Add(L"late")) << "nothing records after the end";

    ASSERT_EQ(0u, bytes.find("\xEF\xBB\xBF" "Thread,N\xC3\xA9\r\n")) << "byte-order mark, UTF-8 header, CR LF";
    std::vector<std::string> lines = Lines(bytes.substr(3));
    ASSERT_EQ(20005u, lines.size());
    int next[4] = {0, 0, 0, 0};
    for (size_t i = 1; i < lines.size(); i++) {
        int thread = -1, n = -1;
        ASSERT_EQ(2, sscanf(lines[i].c_str(), "t%d,%d", &thread, &n)) << lines[i];
        ASSERT_TRUE(thread >= 0 && thread < 4);
        EXPECT_EQ(next[thread]++, n) << "each thread's lines in the order handed over";
    }
}

TEST(CsvRecorder, AFullQueueDropsAndSaysHowMany)
{
    std::string bytes;
    HANDLE release = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    MemorySink* sink = new MemorySink(&bytes);
    sink->release = release;
    CsvRecorder recorder;
    ASSERT_EQ(1, recorder.StartWith(sink, L"N", 10));
    // The disk stalls: the writer holds what it took, ten more wait, the rest are dropped.
    ResetEvent(release);
    recorder.Add(L"first");
    Sleep(200);  // the writer has taken it, or takes it with the next ones: either way at most 11 wait
    int taken = 1;
    for (int i = 0; i < 100; i++) taken += recorder.Add(std::to_wstring(i)) ? 1 : 0;
    EXPECT_LE(taken, 11);
    EXPECT_EQ(101 - taken, recorder.Dropped());
    // A block of lines goes whole or not at all, and is counted by its lines.
    std::string block = "a\r\nb\r\nc\r\n";
    EXPECT_FALSE(recorder.AddRows(block, 3));
    EXPECT_TRUE(block.empty());
    EXPECT_EQ(104 - taken, recorder.Dropped());
    SetEvent(release);
    EXPECT_EQ(1, recorder.Stop());
    CloseHandle(release);
    std::vector<std::string> lines = Lines(bytes.substr(3));
    ASSERT_EQ((size_t)taken + 2, lines.size()) << "header, the lines taken, the comment";
    EXPECT_EQ(taken, recorder.Written());
    char comment[96];
    snprintf(comment, sizeof(comment), "# %d rows were dropped: the disk could not keep up", 104 - taken);
    EXPECT_EQ(comment, lines.back());
}

TEST(CsvRecorder, AFailedWriteEndsTheRecordingKeepingWhatWasWritten)
{
    // A window of this thread hears of the failure.
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(window);
    const UINT Failed = WM_APP + 7;
    std::string bytes;
    MemorySink* sink = new MemorySink(&bytes);
    sink->failAfter = 200 * 1024;
    CsvRecorder recorder;
    ASSERT_EQ(1, recorder.StartWith(sink, L"N", 1 << 20, window, Failed));
    std::wstring line(100, L'x');
    for (int i = 0; i < 10000 && recorder.Recording(); i++) recorder.Add(std::wstring(line));
    MSG message = {};
    const ULONGLONG start = GetTickCount64();
    bool heard = false;
    while (!heard && GetTickCount64() - start < 20000) {
        if (PeekMessageW(&message, window, Failed, Failed, PM_REMOVE)) heard = true;
        else Sleep(10);
    }
    EXPECT_TRUE(heard) << "the owner is told";
    EXPECT_FALSE(recorder.Recording());
    EXPECT_EQ((DWORD)ERROR_DISK_FULL, recorder.Failure());
    EXPECT_FALSE(recorder.Add(L"after")) << "no line is taken after the failure";
    EXPECT_EQ(0, recorder.Stop());
    EXPECT_FALSE(PeekMessageW(&message, window, Failed, Failed, PM_REMOVE)) << "told once";
    // What reached the disk before is whole lines, readable.
    ASSERT_GT(bytes.size(), 3u);
    EXPECT_LE(bytes.size(), 200u * 1024);
    std::vector<std::string> lines = Lines(bytes.substr(3));
    ASSERT_GT(lines.size(), 1u);
    for (size_t i = 1; i < lines.size(); i++) ASSERT_EQ(std::string(100, 'x'), lines[i]) << i;
    DestroyWindow(window);
}

TEST(CsvRecorder, AFileThatCannotBeMadeIsSaidAtOnce)
{
    std::wstring folder = harness::ScratchDir(L"csv-recorder");
    CsvRecorder recorder;
    DWORD error = 0;
    EXPECT_EQ(0, recorder.Start((folder + L"missing\\rows.csv").c_str(), L"N", 0, error));
    EXPECT_EQ((DWORD)ERROR_PATH_NOT_FOUND, error);
    EXPECT_FALSE(recorder.Recording());

    std::wstring path = folder + L"rows.csv";
    ASSERT_EQ(1, recorder.Start(path.c_str(), L"Time,Value", 0, error));
    EXPECT_TRUE(recorder.Add(L"1,\"a,b\""));
    EXPECT_EQ(1, recorder.Stop());
    EXPECT_EQ("\xEF\xBB\xBFTime,Value\r\n1,\"a,b\"\r\n", harness::ReadFileBytes(path));
}
