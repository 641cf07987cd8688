// Extraction of zip archives into a folder.
#pragma once

#include <stdint.h>

#include <string>

#include "archive/FileSystem.h"

namespace ZipResult {
const int Ok = 0;
const int Warning = 1;      // something was skipped
const int Error = 2;        // damaged data, a CRC mismatch, an unsafe name
const int Severe = 3;       // the archive cannot be processed
const int NoMemory = 4;
const int NotFound = 9;
const int DiskFull = 50;
const int Stopped = 80;
}  // namespace ZipResult

// The engine's option record; only the options below change what this engine does, the
// others are kept for callers that set the full record.
struct ExtractOptions {
    int32_t extractOnlyNewer = 0;
    int32_t spaceToUnderscore = 0;
    int32_t promptToOverwrite = 0;
    int32_t quietLevel = 0;
    int32_t toStandardOutput = 0;
    int32_t testOnly = 0;
    int32_t verboseListing = 0;
    int32_t freshen = 0;
    int32_t showComment = 0;
    int32_t useFolderNames = 1;  // 0: every file lands directly in the target folder
    int32_t overwriteAll = 1;    // 0: an existing file is replaced only when `replace` says so
    int32_t textConversion = 0;
    int32_t informationListing = 0;
    int32_t namesCaseInsensitive = 0;
    int32_t restoreSecurity = 0;
    const char* archive = nullptr;
    const char* target = nullptr;
};

// The answers the engine asks for; null members answer as the program does.
struct ExtractAnswers {
    // Receives every message of the engine; answers the length it took.
    int (*print)(const char* text, unsigned long length) = nullptr;
    void* reserved = nullptr;
    void (*sound)() = nullptr;
    // Asked before an existing file is replaced (when overwriteAll is 0): 1 replaces.
    int (*replace)(const char* path) = nullptr;
    // Asked for the password of an encrypted entry: 1 with a password written into buffer.
    int (*password)(char* buffer, int size, const char* prompt, const char* entry) = nullptr;
    void (*entryMessage)(const char* entry) = nullptr;
    int (*service)(const char* entry, unsigned long size) = nullptr;
};

// Extracts every entry of the archive (or of every archive a wildcard name matches) below
// `target`, keeping folder names and replacing existing files. Answers a ZipResult code.
// Entries whose names would leave the target folder (parent components, roots, drive
// letters) are skipped with an error and nothing is written outside the target.
int ExtractZip(ArchiveFileSystem& fs, const std::string& archive, const std::string& target);
int ExtractZip(ArchiveFileSystem& fs, const ExtractOptions& options, const ExtractAnswers& answers);

// The path below the target for an entry name, by the character rules; empty when the
// name is unsafe or empty. `folder` tells whether the name ends with a slash.
std::string SafeEntryPath(const std::string& name, char separator, bool& folder, bool& unsafe);

// Whether an entry's name is in the OEM code page and must be converted before use: names
// recorded by MS-DOS-type hosts (FAT, HPFS, and NTFS by version 5.0), unless the entry is
// flagged UTF-8 or marked as already ANSI. The Windows archivers of versions 2.5 and 2.6
// record FAT as the host but write ANSI names; they mark such entries by filling the high
// half of the external attributes, which a real MS-DOS archiver leaves zero.
bool NameIsOem(uint16_t madeBy, uint16_t flags, uint32_t externalAttributes);

// Traditional PKWARE decryption.
class ZipDecrypter {
public:
    explicit ZipDecrypter(const std::string& password);
    unsigned char Decrypt(unsigned char c);
    // Decrypts the 12-byte header; true when its last byte matches `check`.
    bool CheckHeader(const unsigned char header[12], unsigned char check);

private:
    void Update(unsigned char c);
    uint32_t m_keys[3];
};
