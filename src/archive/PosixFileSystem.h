// The archive engine's file system on POSIX systems (the native build of the engine, used
// for sanitizers, fuzzing and benchmarks).
#pragma once

#include "archive/FileSystem.h"

ArchiveFileSystem* CreatePosixFileSystem();
