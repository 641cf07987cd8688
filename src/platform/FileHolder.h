// One open file, with an optional read-only or read-write mapping.
#pragma once

#include <windows.h>

// Writes all bytes through `write`; when a write fails with ERROR_NO_SYSTEM_RESOURCES
// (too large for the system at once) the rest goes out in pieces of at most 1 MiB.
// Answers 1 when every byte was written.
typedef BOOL (*RawWriteFunction)(HANDLE file, const void* data, DWORD size, DWORD* written);
int WriteAllBytes(HANDLE file, const void* data, DWORD size, RawWriteFunction write);

class FileHolder {
public:
    enum Mode {
        ReadExisting = 0,       // GENERIC_READ, OPEN_EXISTING
        WriteNew = 1,           // GENERIC_WRITE, CREATE_ALWAYS
        WriteExisting = 2,      // GENERIC_WRITE, OPEN_EXISTING
        WriteAlways = 3,        // GENERIC_WRITE, OPEN_ALWAYS
        ReadWriteAlways = 4,    // GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS
        ReadWriteExisting = 5,  // GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING
    };

    FileHolder() : m_file(INVALID_HANDLE_VALUE), m_mapping(nullptr), m_view(nullptr), m_mode(0) {}
    ~FileHolder() { Close(); }
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;

    int Open(const wchar_t* name, int mode, DWORD flagsAndAttributes = FILE_ATTRIBUTE_NORMAL,
             DWORD shareMode = FILE_SHARE_READ);
    int Read(void* buffer, DWORD size, DWORD* read);
    int Write(const void* data, DWORD size);
    ULONGLONG Size() const;
    int Seek(LONGLONG distance, DWORD method);
    int SetEnd();
    // Maps `size` bytes from `offset` (0: to the end); a named mapping is opened instead
    // of created. Replaces an earlier view; on failure everything is closed.
    void* Map(ULONGLONG offset, SIZE_T size, const wchar_t* mappingName = nullptr);
    void Close();
    bool IsOpen() const { return m_file != INVALID_HANDLE_VALUE; }
    HANDLE Handle() const { return m_file; }

    // Clears the file's attributes, then deletes it.
    static int Delete(const wchar_t* name);

private:
    HANDLE m_file;
    HANDLE m_mapping;
    void* m_view;
    int m_mode;
};
