#ifndef _WIN32
#include "archive/PosixFileSystem.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

namespace {

class PosixArchive : public ArchiveFile {
public:
    PosixArchive(int fd, uint64_t size) : m_fd(fd), m_size(size) {}
    ~PosixArchive() override { close(m_fd); }
    uint64_t Size() const override { return m_size; }
    bool ReadAt(uint64_t offset, void* buffer, size_t size) override
    {
        if (offset > m_size || size > m_size - offset) return false;
        size_t done = 0;
        while (done < size) {
            ssize_t n = pread(m_fd, (char*)buffer + done, size - done, (off_t)(offset + done));
            if (n <= 0) return false;
            done += (size_t)n;
        }
        return true;
    }

private:
    int m_fd;
    uint64_t m_size;
};

class PosixOutput : public OutputFile {
public:
    explicit PosixOutput(int fd) : m_fd(fd) {}
    ~PosixOutput() override { Close(); }
    bool Write(const void* data, size_t size, bool& diskFull) override
    {
        size_t done = 0;
        while (done < size) {
            ssize_t n = write(m_fd, (const char*)data + done, size - done);
            if (n <= 0) {
                diskFull = errno == ENOSPC;
                return false;
            }
            done += (size_t)n;
        }
        return true;
    }
    bool Close() override
    {
        if (m_fd < 0) return true;
        int result = close(m_fd);
        m_fd = -1;
        return result == 0;
    }

private:
    int m_fd;
};

class PosixFileSystem : public ArchiveFileSystem {
public:
    char Separator() const override { return '/'; }
    ArchiveFile* OpenArchive(const std::string& path) override
    {
        int fd = open(path.c_str(), O_RDONLY);
        if (fd < 0) return nullptr;
        struct stat info;
        if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            close(fd);
            return nullptr;
        }
        return new PosixArchive(fd, (uint64_t)info.st_size);
    }
    bool Exists(const std::string& path) override
    {
        struct stat info;
        return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    }
    std::vector<std::string> Match(const std::string& pattern) override
    {
        std::vector<std::string> matches;
        size_t slash = pattern.rfind('/');
        std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash);
        std::string name = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
        if (DIR* dir = opendir(folder.c_str())) {
            while (dirent* item = readdir(dir))
                if (fnmatch(name.c_str(), item->d_name, 0) == 0) {
                    std::string path = folder + "/" + item->d_name;
                    if (Exists(path)) matches.push_back(path);
                }
            closedir(dir);
        }
        std::sort(matches.begin(), matches.end());
        return matches;
    }
    bool MakeFolder(const std::string& path) override
    {
        if (mkdir(path.c_str(), 0777) == 0) return true;
        struct stat info;
        return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
    OutputFile* CreateNew(const std::string& path) override
    {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
        return fd < 0 ? nullptr : new PosixOutput(fd);
    }
    bool Move(const std::string& from, const std::string& to) override
    {
        struct stat info;
        if (lstat(to.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return false;  // never over a link or folder
        return rename(from.c_str(), to.c_str()) == 0;
    }
    void Remove(const std::string& path) override { unlink(path.c_str()); }
    uint64_t FreeSpace(const std::string& folder) override
    {
        struct statvfs info;
        if (statvfs(folder.c_str(), &info) != 0) return UINT64_MAX;
        return (uint64_t)info.f_bavail * info.f_frsize;
    }
    unsigned GetAttributes(const std::string& path) override
    {
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) return NoAttributes;
        return (info.st_mode & 0222) ? 0x80u : 0x81u;  // normal, or read-only
    }
    void SetTimes(const std::string& path, const EntryTimes& times) override
    {
        if (!times.haveModified) return;
        int64_t modified = times.modified;
        if (times.modifiedIsLocal) {
            time_t guess = (time_t)modified;
            struct tm local;
            localtime_r(&guess, &local);
            modified -= local.tm_gmtoff;
        }
        struct timeval values[2];
        struct stat info;
        if (stat(path.c_str(), &info) != 0) return;
        // The access time changes only when the entry says what it was.
        values[0].tv_sec = times.haveAccessed ? (time_t)times.accessed : info.st_atime;
        values[0].tv_usec = 0;
        values[1].tv_sec = (time_t)modified;
        values[1].tv_usec = 0;
        utimes(path.c_str(), values);
    }
    void SetAttributes(const std::string& path, unsigned attributes) override
    {
        if (attributes & 0x01) chmod(path.c_str(), 0444);  // read-only is all POSIX can keep
    }
    std::string OemToAnsi(const std::string& name) override { return name; }
    std::string AnsiToOem(const std::string& text) override { return text; }
};

}  // namespace

ArchiveFileSystem* CreatePosixFileSystem()
{
    return new PosixFileSystem();
}
#endif
