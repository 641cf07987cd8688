// Extracts a zip archive into a folder: folder names kept, existing files replaced, bytes
// written unchanged, nothing shown. Both paths are in the system's ANSI code page.
#pragma once

// 1 when the whole archive was extracted without a warning or an error.
int ExtractArchive(const char* archive, const char* target);
// The engine's result code (0, 1, 2, 3, 4, 9, 50, 80).
int ExtractArchiveResult(const char* archive, const char* target);
