#include "platform/FileHolder.h"

namespace {

BOOL SystemWrite(HANDLE file, const void* data, DWORD size, DWORD* written)
{
    return WriteFile(file, data, size, written, nullptr);
}

const DWORD PieceSize = 0x100000;

}  // namespace

int WriteAllBytes(HANDLE file, const void* data, DWORD size, RawWriteFunction write)
{
    DWORD written = 0;
    if (write(file, data, size, &written)) return written == size;
    if (GetLastError() != ERROR_NO_SYSTEM_RESOURCES) return 0;
    const BYTE* bytes = static_cast<const BYTE*>(data);
    while (size > 0) {
        DWORD piece = size < PieceSize ? size : PieceSize;
        written = 0;
        if (!write(file, bytes, piece, &written) || written != piece) return 0;
        bytes += piece;
        size -= piece;
    }
    return 1;
}

int FileHolder::Open(const wchar_t* name, int mode, DWORD flagsAndAttributes, DWORD shareMode)
{
    Close();
    static const DWORD Access[] = {GENERIC_READ,  GENERIC_WRITE, GENERIC_WRITE, GENERIC_WRITE,
                                   GENERIC_READ | GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
    static const DWORD Creation[] = {OPEN_EXISTING, CREATE_ALWAYS, OPEN_EXISTING,
                                     OPEN_ALWAYS,   OPEN_ALWAYS,   OPEN_EXISTING};
    if (!name || mode < 0 || mode > 5) return 0;
    m_file = CreateFileW(name, Access[mode], shareMode, nullptr, Creation[mode], flagsAndAttributes, nullptr);
    if (m_file == INVALID_HANDLE_VALUE) return 0;
    m_mode = mode;
    return 1;
}

int FileHolder::Read(void* buffer, DWORD size, DWORD* read)
{
    DWORD count = 0;
    BOOL ok = IsOpen() && ReadFile(m_file, buffer, size, &count, nullptr);
    if (read) *read = ok ? count : 0;
    return ok ? 1 : 0;
}

int FileHolder::Write(const void* data, DWORD size)
{
    if (!IsOpen()) return 0;
    return WriteAllBytes(m_file, data, size, SystemWrite);
}

ULONGLONG FileHolder::Size() const
{
    if (!IsOpen()) return 0;
    DWORD high = 0;
    DWORD low = GetFileSize(m_file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return 0;
    return ((ULONGLONG)high << 32) | low;
}

int FileHolder::Seek(LONGLONG distance, DWORD method)
{
    if (!IsOpen()) return 0;
    LARGE_INTEGER move;
    move.QuadPart = distance;
    return SetFilePointerEx(m_file, move, nullptr, method) ? 1 : 0;
}

int FileHolder::SetEnd()
{
    return IsOpen() && SetEndOfFile(m_file);
}

void* FileHolder::Map(ULONGLONG offset, SIZE_T size, const wchar_t* mappingName)
{
    if (m_view) {
        UnmapViewOfFile(m_view);
        m_view = nullptr;
    }
    bool readOnly = m_mode == ReadExisting;
    if (!m_mapping) {
        if (mappingName)
            m_mapping = OpenFileMappingW(readOnly ? FILE_MAP_READ : FILE_MAP_ALL_ACCESS, FALSE, mappingName);
        else if (IsOpen())
            m_mapping = CreateFileMappingW(m_file, nullptr, (readOnly ? PAGE_READONLY : PAGE_READWRITE) | SEC_COMMIT,
                                           0, 0, nullptr);
    }
    if (m_mapping)
        m_view = MapViewOfFile(m_mapping, readOnly ? FILE_MAP_READ : FILE_MAP_ALL_ACCESS, (DWORD)(offset >> 32),
                               (DWORD)offset, size);
    if (!m_view) Close();
    return m_view;
}

void FileHolder::Close()
{
    if (m_view) {
        UnmapViewOfFile(m_view);
        m_view = nullptr;
    }
    if (m_mapping) {
        CloseHandle(m_mapping);
        m_mapping = nullptr;
    }
    if (m_file != INVALID_HANDLE_VALUE) {
        CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
    }
}

int FileHolder::Delete(const wchar_t* name)
{
    if (!name) return 0;
    SetFileAttributesW(name, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(name) ? 1 : 0;
}
