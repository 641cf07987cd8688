// Whether a process runs as a 32-bit process on 64-bit Windows.
#pragma once

#include <windows.h>

// 1 under WOW64 (IsWow64Process, late bound); 0 otherwise or where the system cannot tell.
// A null process means the calling one.
int IsWow64(HANDLE process);
