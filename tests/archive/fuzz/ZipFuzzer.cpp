// libFuzzer target: a whole archive in memory through the extraction engine. Outputs are
// counted and dropped; nothing touches the disk.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "archive/ZipExtract.h"

namespace {

class MemoryArchive : public ArchiveFile {
public:
    MemoryArchive(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint64_t Size() const override { return m_size; }
    bool ReadAt(uint64_t offset, void* buffer, size_t size) override
    {
        if (offset > m_size || size > m_size - offset) return false;
        memcpy(buffer, m_data + offset, size);
        return true;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
};

class NullOutput : public OutputFile {
public:
    bool Write(const void*, size_t, bool&) override { return true; }
    bool Close() override { return true; }
};

class MemoryFileSystem : public ArchiveFileSystem {
public:
    MemoryFileSystem(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    char Separator() const override { return '/'; }
    ArchiveFile* OpenArchive(const std::string&) override { return new MemoryArchive(m_data, m_size); }
    bool Exists(const std::string&) override { return true; }
    std::vector<std::string> Match(const std::string&) override { return {}; }
    bool MakeFolder(const std::string&) override { return true; }
    OutputFile* CreateNew(const std::string&) override { return new NullOutput(); }
    bool Move(const std::string&, const std::string&) override { return true; }
    void Remove(const std::string&) override {}
    unsigned GetAttributes(const std::string&) override { return NoAttributes; }
    uint64_t FreeSpace(const std::string&) override { return UINT64_MAX; }
    void SetTimes(const std::string&, const EntryTimes&) override {}
    void SetAttributes(const std::string&, unsigned) override {}
    std::string OemToAnsi(const std::string& name) override { return name; }
    std::string AnsiToOem(const std::string& text) override { return text; }

private:
    const uint8_t* m_data;
    size_t m_size;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MemoryFileSystem fs(data, size);
    ExtractZip(fs, "fuzz.zip", "out");
    return 0;
}
