// What the zip engine needs of a file system; the Windows build and the native build each
// supply one.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

class ArchiveFile {
public:
    virtual ~ArchiveFile() {}
    virtual uint64_t Size() const = 0;
    // Reads exactly `size` bytes at `offset`; false when they are not there.
    virtual bool ReadAt(uint64_t offset, void* buffer, size_t size) = 0;
};

class OutputFile {
public:
    virtual ~OutputFile() {}
    // False when the bytes could not all be written; `diskFull` tells why.
    virtual bool Write(const void* data, size_t size, bool& diskFull) = 0;
    virtual bool Close() = 0;
};

struct EntryTimes {
    bool haveModified = false, haveAccessed = false, haveCreated = false;
    int64_t modified = 0, accessed = 0, created = 0;  // Unix seconds (UTC)
    bool modifiedIsLocal = false;  // a DOS date and time: local time, seconds since 1970 as if UTC
};

class ArchiveFileSystem {
public:
    virtual ~ArchiveFileSystem() {}
    // Paths are narrow texts in the system's ANSI code page with '\\' or '/' separators as
    // the platform uses them; the engine builds them with Separator().
    virtual char Separator() const = 0;
    virtual ArchiveFile* OpenArchive(const std::string& path) = 0;
    virtual bool Exists(const std::string& path) = 0;
    // The files of a folder matching a pattern with '*' and '?', sorted.
    virtual std::vector<std::string> Match(const std::string& pattern) = 0;
    virtual bool MakeFolder(const std::string& path) = 0;  // true when it exists afterwards
    virtual OutputFile* CreateOutput(const std::string& path) = 0;  // replaces an existing file
    virtual void SetTimes(const std::string& path, const EntryTimes& times) = 0;
    virtual void SetAttributes(const std::string& path, unsigned attributes) = 0;
    // OEM text of an old DOS name to ANSI.
    virtual std::string OemToAnsi(const std::string& name) = 0;
};
