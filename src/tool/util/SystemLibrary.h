#pragma once

#include <windows.h>

namespace tool::util {

// Loads a driver library from the Windows system folder only, never from the program's own
// folder, the current folder or PATH: a library of the same name planted beside Durnavel.exe
// (a downloads or USB folder, often run elevated) is never loaded. The NVIDIA driver installs
// its libraries there (a 32-bit process on 64-bit Windows sees SysWOW64 under that name).
// Whether LoadLibraryEx knows LOAD_LIBRARY_SEARCH_SYSTEM32 is asked the way Microsoft documents
// it: kernel32.dll exports AddDllDirectory (Windows 8 and later; Windows 7, Vista and their
// servers with KB2533623). Where it does, the name is loaded with that flag. Where it does not,
// the full path <system folder>\<name> is loaded with LOAD_WITH_ALTERED_SEARCH_PATH, so that
// the libraries the driver library imports are looked for in its folder first; the program's
// folder is not in that search. Null on failure, with GetLastError() set by the loader.
HMODULE LoadSystemLibrary(const char* name);

} // namespace tool::util
