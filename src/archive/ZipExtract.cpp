#include "archive/ZipExtract.h"

#include <ctype.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <memory>
#include <new>
#include <set>

#include "archive/Crc32.h"
#include "archive/Explode.h"
#include "archive/Inflate.h"

namespace {

uint16_t Get16(const unsigned char* p)
{
    return (uint16_t)(p[0] | p[1] << 8);
}
uint32_t Get32(const unsigned char* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
uint64_t Get64(const unsigned char* p)
{
    return (uint64_t)Get32(p) | (uint64_t)Get32(p + 4) << 32;
}

struct Entry {
    uint16_t madeBy = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t dosTime = 0, dosDate = 0;
    uint32_t crc = 0;
    uint64_t compressed = 0, uncompressed = 0, localOffset = 0;
    uint32_t external = 0;
    std::string name;
    uint64_t dataOffset = 0;
};

class Results {
public:
    void Warn() { Raise(ZipResult::Warning); }
    void Fail() { Raise(ZipResult::Error); }
    void Raise(int code)
    {
        if (Rank(code) > Rank(m_code)) m_code = code;
    }
    int Code() const { return m_code; }

private:
    static int Rank(int code)
    {
        switch (code) {
        case ZipResult::Ok: return 0;
        case ZipResult::Warning: return 1;
        case ZipResult::Error: return 2;
        case ZipResult::Severe: return 3;
        case ZipResult::NotFound: return 4;
        case ZipResult::NoMemory: return 5;
        case ZipResult::DiskFull: return 6;
        default: return 7;
        }
    }
    int m_code = ZipResult::Ok;
};

// The bytes of one entry's data, optionally decrypted.
class EntrySource : public InflateSource {
public:
    EntrySource(ArchiveFile& file, uint64_t offset, uint64_t size, ZipDecrypter* decrypter)
        : m_file(file), m_offset(offset), m_left(size), m_decrypter(decrypter), m_failed(false)
    {
    }
    size_t Read(unsigned char* buffer, size_t capacity) override
    {
        if (m_left == 0 || m_failed) return 0;
        size_t take = capacity < m_left ? capacity : (size_t)m_left;
        if (!m_file.ReadAt(m_offset, buffer, take)) {
            m_failed = true;
            return 0;
        }
        if (m_decrypter)
            for (size_t i = 0; i < take; i++) buffer[i] = m_decrypter->Decrypt(buffer[i]);
        m_offset += take;
        m_left -= take;
        return take;
    }
    bool Failed() const { return m_failed; }

private:
    ArchiveFile& m_file;
    uint64_t m_offset;
    uint64_t m_left;
    ZipDecrypter* m_decrypter;
    bool m_failed;
};

class EntrySink : public InflateSink {
public:
    explicit EntrySink(OutputFile& output) : m_output(output) {}
    bool Write(const unsigned char* data, size_t size) override
    {
        m_crc = UpdateCrc32(m_crc, data, size);
        m_written += size;
        if (!m_output.Write(data, size, m_diskFull)) {
            m_writeFailed = true;
            return false;
        }
        return true;
    }
    uint32_t Crc() const { return m_crc; }
    uint64_t Written() const { return m_written; }
    bool WriteFailed() const { return m_writeFailed; }
    bool DiskFull() const { return m_diskFull; }

private:
    OutputFile& m_output;
    uint32_t m_crc = 0;
    uint64_t m_written = 0;
    bool m_writeFailed = false;
    bool m_diskFull = false;
};

bool FindEnd(ArchiveFile& file, uint64_t& cdOffset, uint64_t& cdSize, uint64_t& count)
{
    uint64_t size = file.Size();
    if (size < 22) return false;
    size_t tail = (size_t)std::min<uint64_t>(size, 65535 + 22);
    std::vector<unsigned char> buffer(tail);
    if (!file.ReadAt(size - tail, buffer.data(), tail)) return false;
    // The last signature whose comment ends exactly at the end of the file; else the last one.
    long found = -1;
    for (long i = (long)tail - 22; i >= 0; i--) {
        if (Get32(&buffer[(size_t)i]) != 0x06054b50) continue;
        if (found < 0) found = i;
        if ((size_t)i + 22 + Get16(&buffer[(size_t)i + 20]) == tail) {
            found = i;
            break;
        }
    }
    if (found < 0) return false;
    const unsigned char* end = &buffer[(size_t)found];
    count = Get16(end + 10);
    cdSize = Get32(end + 12);
    cdOffset = Get32(end + 16);
    uint64_t endOffset = size - tail + (uint64_t)found;
    // A Zip64 locator sits right before the record.
    if (endOffset >= 20) {
        unsigned char locator[20];
        if (file.ReadAt(endOffset - 20, locator, 20) && Get32(locator) == 0x07064b50) {
            uint64_t recordOffset = Get64(locator + 8);
            unsigned char record[56];
            if (recordOffset + 56 <= size && file.ReadAt(recordOffset, record, 56) && Get32(record) == 0x06064b50) {
                count = Get64(record + 32);
                cdSize = Get64(record + 40);
                cdOffset = Get64(record + 48);
            }
        }
    }
    return cdOffset <= size && cdSize <= size - cdOffset;
}

void ApplyZip64(Entry& entry, const unsigned char* extra, size_t length, bool wantUncompressed, bool wantCompressed,
                bool wantOffset)
{
    size_t at = 0;
    while (at + 4 <= length) {
        uint16_t id = Get16(extra + at);
        uint16_t size = Get16(extra + at + 2);
        if (at + 4 + size > length) break;
        if (id == 0x0001) {
            const unsigned char* p = extra + at + 4;
            size_t left = size;
            if (wantUncompressed && left >= 8) {
                entry.uncompressed = Get64(p);
                p += 8;
                left -= 8;
            }
            if (wantCompressed && left >= 8) {
                entry.compressed = Get64(p);
                p += 8;
                left -= 8;
            }
            if (wantOffset && left >= 8) entry.localOffset = Get64(p);
        }
        at += 4 + (size_t)size;
    }
}

void ExtendedTimes(const unsigned char* extra, size_t length, EntryTimes& times)
{
    size_t at = 0;
    while (at + 4 <= length) {
        uint16_t id = Get16(extra + at);
        uint16_t size = Get16(extra + at + 2);
        if (at + 4 + size > length) break;
        if (id == 0x5455 && size >= 1) {
            const unsigned char* p = extra + at + 4;
            unsigned char present = p[0];
            size_t offset = 1;
            int64_t* slots[3] = {&times.modified, &times.accessed, &times.created};
            bool* have[3] = {&times.haveModified, &times.haveAccessed, &times.haveCreated};
            for (int i = 0; i < 3; i++) {
                if (!(present & (1 << i))) continue;
                if (offset + 4 > size) break;
                *slots[i] = (int32_t)Get32(p + offset);
                *have[i] = true;
                if (i == 0) times.modifiedIsLocal = false;
                offset += 4;
            }
        }
        at += 4 + (size_t)size;
    }
}

int64_t DosTime(uint16_t date, uint16_t time)
{
    struct tm t;
    memset(&t, 0, sizeof(t));
    t.tm_year = ((date >> 9) & 0x7F) + 80;
    t.tm_mon = ((date >> 5) & 0x0F) - 1;
    t.tm_mday = date & 0x1F;
    t.tm_hour = (time >> 11) & 0x1F;
    t.tm_min = (time >> 5) & 0x3F;
    t.tm_sec = (time & 0x1F) * 2;
    // Days since 1970 by the civil calendar (no time zone: the value is local time).
    int year = t.tm_year + 1900, month = t.tm_mon + 1;
    if (month < 1) month = 1;
    int y = year - (month <= 2);
    int era = y / 400;
    int yoe = y - era * 400;
    int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + t.tm_mday - 1;
    int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64_t days = (int64_t)era * 146097 + doe - 719468;
    return days * 86400 + t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
}

// Names the Windows file functions open as devices, whatever extension follows.
bool IsDeviceName(const std::string& part)
{
    std::string base = part.substr(0, part.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (char& c : base) c = (char)toupper((unsigned char)c);
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '1' &&
           base[3] <= '9';
}

bool IsDigits(const std::string& text)
{
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

const uint64_t MaxExpansion = 1032;
const uint64_t PlausibleSlack = 65536;

const unsigned ReadOnly = 0x01, Hidden = 0x02, System = 0x04, Normal = 0x80;

// Moves a finished file over the target. A read-only, hidden or system target is made
// plain first, as the system refuses to replace it otherwise; when the move still fails
// it gets its attributes back.
bool PutInPlace(ArchiveFileSystem& fs, const std::string& from, const std::string& to)
{
    unsigned old = fs.GetAttributes(to);
    bool guarded = old != ArchiveFileSystem::NoAttributes && (old & (ReadOnly | Hidden | System));
    if (guarded) fs.SetAttributes(to, Normal);
    if (fs.Move(from, to)) return true;
    if (guarded) fs.SetAttributes(to, old);
    return false;
}

// Messages go to the print answer and nowhere else.
void Say(const ExtractAnswers& answers, const std::string& text)
{
    if (answers.print) answers.print(text.c_str(), (unsigned long)text.size());
}

int ExtractOne(ArchiveFileSystem& fs, const std::string& archivePath, const std::string& target,
               const ExtractOptions& options, const ExtractAnswers& answers)
{
    Results results;
    std::unique_ptr<ArchiveFile> file(fs.OpenArchive(archivePath));
    if (!file) return ZipResult::NotFound;
    uint64_t cdOffset = 0, cdSize = 0, count = 0;
    if (!FindEnd(*file, cdOffset, cdSize, count)) return ZipResult::Severe;
    if (count > cdSize / 46 + 1) return ZipResult::Severe;
    std::vector<unsigned char> directory;
    try {
        directory.resize((size_t)cdSize);
    } catch (...) {
        return ZipResult::NoMemory;
    }
    if (cdSize && !file->ReadAt(cdOffset, directory.data(), (size_t)cdSize)) return ZipResult::Severe;

    std::vector<Entry> entries;
    size_t at = 0;
    for (uint64_t i = 0; i < count; i++) {
        if (at + 46 > directory.size() || Get32(&directory[at]) != 0x02014b50) return ZipResult::Severe;
        const unsigned char* p = &directory[at];
        Entry entry;
        entry.madeBy = Get16(p + 4);
        entry.flags = Get16(p + 8);
        entry.method = Get16(p + 10);
        entry.dosTime = Get16(p + 12);
        entry.dosDate = Get16(p + 14);
        entry.crc = Get32(p + 16);
        entry.compressed = Get32(p + 20);
        entry.uncompressed = Get32(p + 24);
        size_t nameLength = Get16(p + 28), extraLength = Get16(p + 30), commentLength = Get16(p + 32);
        entry.external = Get32(p + 38);
        entry.localOffset = Get32(p + 42);
        if (at + 46 + nameLength + extraLength + commentLength > directory.size()) return ZipResult::Severe;
        entry.name.assign((const char*)p + 46, nameLength);
        ApplyZip64(entry, p + 46 + nameLength, extraLength, entry.uncompressed == 0xFFFFFFFF,
                   entry.compressed == 0xFFFFFFFF, entry.localOffset == 0xFFFFFFFF);
        entries.push_back(entry);
        at += 46 + nameLength + extraLength + commentLength;
    }

    // What the archive declares must fit what its bytes can expand to (deflate's limit is
    // 1032 to 1) and the room on the target volume, before anything is written.
    uint64_t declared = 0;
    for (const Entry& entry : entries) {
        uint64_t room = UINT64_MAX - declared;
        declared += entry.uncompressed < room ? entry.uncompressed : room;
    }
    uint64_t plausible = file->Size() > (UINT64_MAX - PlausibleSlack) / MaxExpansion
                             ? UINT64_MAX
                             : file->Size() * MaxExpansion + PlausibleSlack;
    if (declared > plausible || declared > fs.FreeSpace(target)) {
        Say(answers, "error: " + archivePath + " (declares more data than it holds or than the target can take)\n");
        return ZipResult::Error;
    }

    // Entries whose data runs into the next entry's header overlap: a crafted archive
    // (one compressed body behind many entries) that must not be inflated again and again.
    std::vector<uint64_t> starts;
    for (const Entry& entry : entries) starts.push_back(entry.localOffset);
    std::sort(starts.begin(), starts.end());

    std::vector<unsigned char> buffer(8192);
    std::set<uint64_t> used;
    for (Entry& entry : entries) {
        // A second entry with the same local header shares the first one's data.
        if (!used.insert(entry.localOffset).second) {
            results.Fail();
            continue;
        }
        unsigned char local[30];
        if (entry.localOffset > file->Size() || !file->ReadAt(entry.localOffset, local, 30) ||
            Get32(local) != 0x04034b50) {
            results.Fail();
            continue;
        }
        size_t localName = Get16(local + 26), localExtra = Get16(local + 28);
        entry.dataOffset = entry.localOffset + 30 + localName + localExtra;
        if (entry.dataOffset > file->Size() || entry.compressed > file->Size() - entry.dataOffset) {
            results.Fail();  // the data would run past the end of the archive
            continue;
        }
        auto next = std::upper_bound(starts.begin(), starts.end(), entry.localOffset);
        uint64_t end = next == starts.end() ? cdOffset : *next;
        if (entry.dataOffset + entry.compressed > end && entry.compressed > 0) {
            results.Fail();
            continue;
        }
        EntryTimes times;
        times.haveModified = true;
        times.modifiedIsLocal = true;
        times.modified = DosTime(entry.dosDate, entry.dosTime);
        std::vector<unsigned char> extra(localExtra);
        if (localExtra && file->ReadAt(entry.localOffset + 30 + localName, extra.data(), localExtra))
            ExtendedTimes(extra.data(), localExtra, times);

        std::string name = entry.name;
        if (NameIsOem(entry.madeBy, entry.flags, entry.external))
            name = fs.OemToAnsi(name);
        bool folder = false, unsafe = false;
        std::string relative = SafeEntryPath(name, fs.Separator(), folder, unsafe);
        if (relative.empty()) {
            if (unsafe) {
                Say(answers, "skipping: " + entry.name + " (would leave the target folder)\n");
                results.Fail();
            } else if (!folder) {
                results.Warn();
            }
            continue;
        }
        if (!options.useFolderNames) {
            if (folder) continue;
            size_t last = relative.rfind(fs.Separator());
            if (last != std::string::npos) relative.erase(0, last + 1);
        }
        std::string path = target;
        if (!path.empty() && path.back() != fs.Separator() && path.back() != '/') path += fs.Separator();
        path += relative;
        unsigned attributes = entry.external & 0xFF;
        // Every folder on the way.
        for (size_t i = target.size() + 1; i < path.size(); i++)
            if (path[i] == fs.Separator()) fs.MakeFolder(path.substr(0, i));
        if (folder) {
            if (!fs.MakeFolder(path))
                results.Fail();
            else if (attributes & 0x6F)
                fs.SetAttributes(path, attributes & 0x7F);
            continue;
        }
        if (entry.method != 0 && entry.method != 6 && entry.method != 8) {
            Say(answers, "skipping: " + entry.name + " (unsupported compression method)\n");
            results.Warn();
            continue;
        }
        if (!options.overwriteAll && fs.Exists(path) && !(answers.replace && answers.replace(path.c_str()) == 1))
            continue;
        std::unique_ptr<ZipDecrypter> decrypter;
        uint64_t dataOffset = entry.dataOffset, dataSize = entry.compressed;
        if (entry.flags & 1) {
            if (dataSize < 12) {
                results.Fail();
                continue;
            }
            unsigned char header[12];
            if (!file->ReadAt(dataOffset, header, 12)) {
                results.Fail();
                continue;
            }
            unsigned char check = (entry.flags & 8) ? (unsigned char)(entry.dosTime >> 8) : (unsigned char)(entry.crc >> 24);
            char password[256] = "";
            if (answers.password && answers.password(password, (int)sizeof(password), "Enter password for: ",
                                                     entry.name.c_str()) != 1)
                password[0] = '\0';
            password[sizeof(password) - 1] = '\0';
            decrypter.reset(new ZipDecrypter(password));
            bool accepted = decrypter->CheckHeader(header, check);
            if (!accepted && password[0]) {
                // The same password once more in the OEM code page.
                decrypter.reset(new ZipDecrypter(fs.AnsiToOem(password)));
                accepted = decrypter->CheckHeader(header, check);
            }
            if (!accepted) {
                Say(answers, "skipping: " + entry.name + " (incorrect password)\n");
                results.Warn();
                continue;
            }
            dataOffset += 12;
            dataSize -= 12;
        }
        // The entry goes into a file of its own beside the target and takes the target's
        // place only once its size and CRC are right: a damaged entry leaves the old file.
        std::string temporary;
        std::unique_ptr<OutputFile> output;
        for (int n = 0; n < 100 && !output; n++) {
            temporary = path + ".~" + std::to_string(n);
            output.reset(fs.CreateNew(temporary));
        }
        if (!output) {
            results.Fail();
            continue;
        }
        EntrySource source(*file, dataOffset, dataSize, decrypter.get());
        EntrySink sink(*output);
        bool ok = true;
        if (entry.method == 0) {
            for (;;) {
                size_t n = source.Read(buffer.data(), buffer.size());
                if (n == 0) break;
                if (sink.Written() + n > entry.uncompressed || !sink.Write(buffer.data(), n)) {
                    ok = false;
                    break;
                }
            }
            ok = ok && !source.Failed() && sink.Written() == entry.uncompressed;
        } else if (entry.method == 6) {
            InflateResult exploded =
                Explode(source, sink, entry.uncompressed, (entry.flags & 2) != 0, (entry.flags & 4) != 0);
            if (exploded == InflateResult::NoMemory) results.Raise(ZipResult::NoMemory);
            ok = exploded == InflateResult::Ok && sink.Written() == entry.uncompressed;
        } else {
            InflateResult inflated = Inflate(source, sink, entry.uncompressed);
            if (inflated == InflateResult::NoMemory) results.Raise(ZipResult::NoMemory);
            ok = inflated == InflateResult::Ok && sink.Written() == entry.uncompressed;
        }
        bool closed = output->Close();
        output.reset();
        if (sink.DiskFull()) {
            fs.Remove(temporary);
            results.Raise(ZipResult::DiskFull);
            return results.Code();
        }
        if (!ok || !closed || sink.Crc() != entry.crc) {
            fs.Remove(temporary);
            Say(answers, "error: " + entry.name + " (bad data or CRC)\n");
            results.Fail();
            continue;
        }
        if (!PutInPlace(fs, temporary, path)) {
            fs.Remove(temporary);
            Say(answers, "error: " + entry.name + " (cannot replace the existing file)\n");
            results.Fail();
            continue;
        }
        fs.SetTimes(path, times);
        if (attributes & 0x5F) fs.SetAttributes(path, attributes & 0x7F);
    }
    return results.Code();
}

}  // namespace

bool NameIsOem(uint16_t madeBy, uint16_t flags, uint32_t externalAttributes)
{
    if (flags & 0x800) return false;  // UTF-8
    int host = madeBy >> 8;
    int version = madeBy & 0xFF;
    switch (host) {
    case 0: {  // FAT
        bool markedAnsi = (version == 25 || version == 26) && (externalAttributes >> 16) != 0;
        return !markedAnsi;
    }
    case 6:  // HPFS
        return true;
    case 11:  // NTFS
        return version == 50;
    default:
        return false;
    }
}

std::string SafeEntryPath(const std::string& name, char separator, bool& folder, bool& unsafe)
{
    folder = !name.empty() && (name.back() == '/' || name.back() == '\\');
    unsafe = false;
    if (name.empty()) return std::string();
    if (name[0] == '/' || name[0] == '\\') {
        unsafe = true;
        return std::string();
    }
    if (name.size() >= 2 && name[1] == ':') {
        unsafe = true;
        return std::string();
    }
    std::string text = name;
    // A version suffix ";123" at the end goes.
    size_t semicolon = text.rfind(';');
    if (semicolon != std::string::npos && IsDigits(text.substr(semicolon + 1))) text.erase(semicolon);
    std::string path;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of("/\\", start);
        std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() + 1 : end + 1;
        if (part == "..") {
            unsafe = true;
            return std::string();
        }
        std::string clean;
        for (unsigned char c : part) {
            if (c < 32) continue;
            if (strchr("\"*:<>?|", c)) c = '_';
            clean += (char)c;
        }
        if (clean.empty() || clean == "." || clean == "..") continue;
        // A device would swallow the bytes (or block on a port) while the write succeeds;
        // a stream part would write beside the file.
        if (IsDeviceName(clean) || clean.find(':') != std::string::npos) {
            unsafe = true;
            return std::string();
        }
        if (!path.empty()) path += separator;
        path += clean;
    }
    return path;
}

ZipDecrypter::ZipDecrypter(const std::string& password)
{
    m_keys[0] = 0x12345678;
    m_keys[1] = 0x23456789;
    m_keys[2] = 0x34567890;
    for (unsigned char c : password) Update(c);
}

void ZipDecrypter::Update(unsigned char c)
{
    m_keys[0] = UpdateCrc32(m_keys[0] ^ 0xFFFFFFFF, &c, 1) ^ 0xFFFFFFFF;
    m_keys[1] = (m_keys[1] + (m_keys[0] & 0xFF)) * 134775813 + 1;
    unsigned char high = (unsigned char)(m_keys[1] >> 24);
    m_keys[2] = UpdateCrc32(m_keys[2] ^ 0xFFFFFFFF, &high, 1) ^ 0xFFFFFFFF;
}

unsigned char ZipDecrypter::Decrypt(unsigned char c)
{
    uint32_t temp = (m_keys[2] & 0xFFFF) | 2;
    unsigned char plain = c ^ (unsigned char)((temp * (temp ^ 1)) >> 8);
    Update(plain);
    return plain;
}

bool ZipDecrypter::CheckHeader(const unsigned char header[12], unsigned char check)
{
    unsigned char last = 0;
    for (int i = 0; i < 12; i++) last = Decrypt(header[i]);
    return last == check;
}

int ExtractZip(ArchiveFileSystem& fs, const ExtractOptions& options, const ExtractAnswers& answers)
{
    if (!options.archive || !options.target) return ZipResult::Severe;
    std::string archive = options.archive, target = options.target;
    try {
        if (!fs.MakeFolder(target)) return ZipResult::Severe;
        if (archive.find_first_of("*?") != std::string::npos) {
            std::vector<std::string> matches = fs.Match(archive);
            if (matches.empty()) return ZipResult::NotFound;
            Results all;
            for (const std::string& match : matches) all.Raise(ExtractOne(fs, match, target, options, answers));
            return all.Code();
        }
        std::string path = archive;
        if (!fs.Exists(path)) path += ".zip";
        if (!fs.Exists(path)) return ZipResult::NotFound;
        return ExtractOne(fs, path, target, options, answers);
    } catch (const std::bad_alloc&) {
        return ZipResult::NoMemory;
    } catch (...) {
        return ZipResult::Severe;
    }
}

int ExtractZip(ArchiveFileSystem& fs, const std::string& archive, const std::string& target)
{
    ExtractOptions options;
    options.archive = archive.c_str();
    options.target = target.c_str();
    return ExtractZip(fs, options, ExtractAnswers());
}
