#include "tool/util/SystemLibrary.h"

#include <string>

namespace tool::util {

HMODULE LoadSystemLibrary(const char* name) {
    HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) {
        return module;
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
    // A full path: the loader takes exactly that file.
    return LoadLibraryExA(path.c_str(), nullptr, 0);
}

} // namespace tool::util
