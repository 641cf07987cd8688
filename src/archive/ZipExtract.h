// Extraction of zip archives into a folder.
#pragma once

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

// Extracts every entry of the archive (or of every archive a wildcard name matches) below
// `target`, keeping folder names and replacing existing files. Answers a ZipResult code.
// Entries whose names would leave the target folder (parent components, roots, drive
// letters) are skipped with an error and nothing is written outside the target.
int ExtractZip(ArchiveFileSystem& fs, const std::string& archive, const std::string& target);

// The path below the target for an entry name, by the character rules; empty when the
// name is unsafe or empty. `folder` tells whether the name ends with a slash.
std::string SafeEntryPath(const std::string& name, char separator, bool& folder, bool& unsafe);

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
