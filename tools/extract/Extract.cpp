// extract <archive> <folder>: extracts a zip archive with the program's engine and exits
// with the engine's result code.
#include <stdio.h>

#include <memory>

#include "archive/ZipExtract.h"
#ifdef _WIN32
#include "archive/ExtractArchive.h"
#else
#include "archive/PosixFileSystem.h"
#endif

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: extract <archive> <folder>\n");
        return 3;
    }
#ifdef _WIN32
    return ExtractArchiveResult(argv[1], argv[2]);
#else
    std::unique_ptr<ArchiveFileSystem> fs(CreatePosixFileSystem());
    return ExtractZip(*fs, argv[1], argv[2]);
#endif
}
