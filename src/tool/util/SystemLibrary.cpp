#include "tool/util/SystemLibrary.h"

#include <string>

namespace tool::util {

namespace {

// The LOAD_LIBRARY_SEARCH_* flags came with AddDllDirectory: where kernel32.dll exports it,
// LoadLibraryEx knows them (Microsoft's LoadLibraryEx documentation). An older loader may not
// refuse an unknown flag cleanly, so the flag itself is never tried to find out.
bool searchFlagsAvailable() {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    return kernel32 != nullptr && GetProcAddress(kernel32, "AddDllDirectory") != nullptr;
}

} // namespace

HMODULE LoadSystemLibrary(const char* name) {
    if (searchFlagsAvailable()) {
        return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    char folder[MAX_PATH];
    UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    std::string path(folder, length);
    path += '\\';
    path += name;
    // A full path: the loader takes exactly that file, and looks for the libraries it imports in
    // its folder first; the program's folder is not in that search.
    return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

} // namespace tool::util
