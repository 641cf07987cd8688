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
    // A file that does not exist yet; null when the name is taken or the file cannot be made.
    virtual OutputFile* CreateNew(const std::string& path) = 0;
    // Moves a finished file over `to`, replacing a file there. Like the system's own move it
    // may refuse a target that is read-only, hidden or system: the engine clears those first.
    virtual bool Move(const std::string& from, const std::string& to) = 0;
    virtual void Remove(const std::string& path) = 0;
    // The file's attributes in the entries' attribute-byte bits; NoAttributes when missing.
    static const unsigned NoAttributes = ~0u;
    virtual unsigned GetAttributes(const std::string& path) = 0;
    // Bytes free for the caller on the volume of a folder; UINT64_MAX when unknown.
    virtual uint64_t FreeSpace(const std::string& folder) = 0;
    virtual void SetTimes(const std::string& path, const EntryTimes& times) = 0;
    virtual void SetAttributes(const std::string& path, unsigned attributes) = 0;
    // OEM text of an old DOS name to ANSI, and ANSI text (a password) to OEM.
    virtual std::string OemToAnsi(const std::string& name) = 0;
    virtual std::string AnsiToOem(const std::string& text) = 0;
};
