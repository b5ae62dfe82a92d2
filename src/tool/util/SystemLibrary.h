#pragma once

#include <windows.h>

namespace tool::util {

// Loads a driver library from the Windows system folder only, never from the program's own
// folder, the current folder or PATH: a library of the same name planted beside Durnavel.exe
// (a downloads or USB folder, often run elevated) is never loaded. The NVIDIA driver installs
// its libraries there (a 32-bit process on 64-bit Windows sees SysWOW64 under that name).
// Asks with LOAD_LIBRARY_SEARCH_SYSTEM32; a Windows that does not know the flag
// (ERROR_INVALID_PARAMETER: Windows 7 without its loader update) gets the full path in the
// system folder instead. Null on failure, with GetLastError() set by the loader.
HMODULE LoadSystemLibrary(const char* name);

} // namespace tool::util
