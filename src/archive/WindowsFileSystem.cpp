#ifdef _WIN32
#include <windows.h>

#include <algorithm>

#include "archive/ExtractArchive.h"
#include "archive/FileSystem.h"
#include "archive/ZipExtract.h"

namespace {

class WindowsArchive : public ArchiveFile {
public:
    WindowsArchive(HANDLE file, uint64_t size) : m_file(file), m_size(size) {}
    ~WindowsArchive() override { CloseHandle(m_file); }
    uint64_t Size() const override { return m_size; }
    bool ReadAt(uint64_t offset, void* buffer, size_t size) override
    {
        if (offset > m_size || size > m_size - offset) return false;
        size_t done = 0;
        while (done < size) {
            OVERLAPPED at = {};
            at.Offset = (DWORD)(offset + done);
            at.OffsetHigh = (DWORD)((offset + done) >> 32);
            DWORD chunk = (DWORD)std::min<size_t>(size - done, 1 << 20), read = 0;
            if (!ReadFile(m_file, (char*)buffer + done, chunk, &read, &at) || read == 0) return false;
            done += read;
        }
        return true;
    }

private:
    HANDLE m_file;
    uint64_t m_size;
};

class WindowsOutput : public OutputFile {
public:
    explicit WindowsOutput(HANDLE file) : m_file(file) {}
    ~WindowsOutput() override { Close(); }
    bool Write(const void* data, size_t size, bool& diskFull) override
    {
        size_t done = 0;
        while (done < size) {
            DWORD chunk = (DWORD)std::min<size_t>(size - done, 1 << 20), written = 0;
            if (!WriteFile(m_file, (const char*)data + done, chunk, &written, nullptr) || written == 0) {
                DWORD error = GetLastError();
                diskFull = error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
                return false;
            }
            done += written;
        }
        return true;
    }
    bool Close() override
    {
        if (m_file == INVALID_HANDLE_VALUE) return true;
        BOOL ok = CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
        return ok != FALSE;
    }

private:
    HANDLE m_file;
};

FILETIME UnixToFileTime(int64_t seconds)
{
    ULONGLONG ticks = (ULONGLONG)(seconds + 11644473600LL) * 10000000ULL;
    FILETIME time = {(DWORD)ticks, (DWORD)(ticks >> 32)};
    return time;
}

class WindowsFileSystem : public ArchiveFileSystem {
public:
    char Separator() const override { return '\\'; }
    ArchiveFile* OpenArchive(const std::string& path) override
    {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return nullptr;
        LARGE_INTEGER size;
        if (!GetFileSizeEx(file, &size)) {
            CloseHandle(file);
            return nullptr;
        }
        return new WindowsArchive(file, (uint64_t)size.QuadPart);
    }
    bool Exists(const std::string& path) override
    {
        DWORD attributes = GetFileAttributesA(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    std::vector<std::string> Match(const std::string& pattern) override
    {
        std::vector<std::string> matches;
        size_t slash = pattern.find_last_of("\\/");
        std::string folder = slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA(pattern.c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) matches.push_back(folder + data.cFileName);
            } while (FindNextFileA(find, &data));
            FindClose(find);
        }
        std::sort(matches.begin(), matches.end());
        return matches;
    }
    bool MakeFolder(const std::string& path) override
    {
        if (CreateDirectoryA(path.c_str(), nullptr)) return true;
        DWORD attributes = GetFileAttributesA(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    OutputFile* CreateNew(const std::string& path) override
    {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        return file == INVALID_HANDLE_VALUE ? nullptr : new WindowsOutput(file);
    }
    bool Move(const std::string& from, const std::string& to) override
    {
        return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    }
    void Remove(const std::string& path) override
    {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    }
    uint64_t FreeSpace(const std::string& folder) override
    {
        ULARGE_INTEGER available;
        if (!GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr)) return UINT64_MAX;
        return available.QuadPart;
    }
    unsigned GetAttributes(const std::string& path) override
    {
        DWORD attributes = GetFileAttributesA(path.c_str());
        return attributes == INVALID_FILE_ATTRIBUTES ? NoAttributes : (unsigned)attributes;
    }
    void SetTimes(const std::string& path, const EntryTimes& times) override
    {
        HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
        if (file == INVALID_HANDLE_VALUE) return;
        FILETIME modified = UnixToFileTime(times.modified), accessed, created;
        if (times.modifiedIsLocal) {
            // A DOS date and time is local time: the system's bias makes it universal.
            FILETIME local = modified;
            LocalFileTimeToFileTime(&local, &modified);
        }
        accessed = UnixToFileTime(times.accessed);
        created = UnixToFileTime(times.created);
        SetFileTime(file, times.haveCreated ? &created : nullptr, times.haveAccessed ? &accessed : nullptr, &modified);
        CloseHandle(file);
    }
    void SetAttributes(const std::string& path, unsigned attributes) override
    {
        SetFileAttributesA(path.c_str(), attributes);
    }
    std::string OemToAnsi(const std::string& name) override
    {
        std::string converted(name.size() + 1, '\0');
        if (!OemToCharBuffA(name.c_str(), &converted[0], (DWORD)name.size())) return name;
        converted.resize(name.size());
        return converted;
    }
    std::string AnsiToOem(const std::string& text) override
    {
        std::string converted(text.size() + 1, '\0');
        if (!CharToOemBuffA(text.c_str(), &converted[0], (DWORD)text.size())) return text;
        converted.resize(text.size());
        return converted;
    }
};

// The program's answers: every message is swallowed, files are replaced, no password.
int SwallowText(const char*, unsigned long length)
{
    return (int)length;
}
int ReplaceFile(const char*)
{
    return 1;
}
int NoPassword(char* buffer, int size, const char*, const char*)
{
    if (buffer && size > 0) buffer[0] = '\0';
    return 1;
}

}  // namespace

int ExtractArchiveResult(const char* archive, const char* target)
{
    if (!archive || !target) return ZipResult::Severe;
    WindowsFileSystem fs;
    ExtractOptions options;  // folder names kept, everything overwritten, no text conversion
    options.archive = archive;
    options.target = target;
    ExtractAnswers answers;
    answers.print = SwallowText;
    answers.replace = ReplaceFile;
    answers.password = NoPassword;
    return ExtractZip(fs, options, answers);
}

int ExtractArchive(const char* archive, const char* target)
{
    return ExtractArchiveResult(archive, target) == ZipResult::Ok ? 1 : 0;
}
#endif
