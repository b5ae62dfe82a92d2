// Dynamic libraries over dlopen(). The host's "system folder" is its library folder:
// $DURNAVEL_HOST_LIBRARY_DIR when set, otherwise the folder of the running program. A plain file
// name ("nvapi64.dll") is looked for there only; a path (with '/' or '\\') is taken as it is.
// The simulated driver libraries are built for the host under the Windows file names for this
// reason. DURNAVEL_HOST_LOADER=old makes LoadLibraryExA refuse the search flags with
// ERROR_INVALID_PARAMETER, as Windows 7 without its loader update does.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace {

std::string libraryFolder() {
    if (const char* dir = std::getenv("DURNAVEL_HOST_LIBRARY_DIR");
        dir != nullptr && *dir != '\0') {
        return dir;
    }
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) {
        return ".";
    }
    std::string exe(path, static_cast<std::size_t>(n));
    std::size_t slash = exe.rfind('/');
    return slash == std::string::npos ? "." : exe.substr(0, slash);
}

bool oldLoader() {
    const char* loader = std::getenv("DURNAVEL_HOST_LOADER");
    return loader != nullptr && std::strcmp(loader, "old") == 0;
}

} // namespace

HMODULE LoadLibraryExA(LPCSTR fileName, HANDLE file, DWORD flags) {
    if (fileName == nullptr || *fileName == '\0' || file != nullptr ||
        (flags & ~LOAD_LIBRARY_SEARCH_SYSTEM32) != 0 || (flags != 0 && oldLoader())) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string path = fileName;
    if (path.find_first_of("/\\") == std::string::npos) {
        path = libraryFolder() + "/" + path;
    }
    std::replace(path.begin(), path.end(), '\\', '/');
    if (::access(path.c_str(), F_OK) != 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return static_cast<HMODULE>(module);
}

HMODULE LoadLibraryA(LPCSTR fileName) {
    return LoadLibraryExA(fileName, nullptr, 0);
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
    std::string folder = libraryFolder();
    if (buffer == nullptr || size <= folder.size()) {
        return static_cast<UINT>(folder.size() + 1);
    }
    std::memcpy(buffer, folder.c_str(), folder.size() + 1);
    return static_cast<UINT>(folder.size());
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    if (module == nullptr || procName == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* symbol = ::dlsym(module, procName);
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module) {
    if (module == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return ::dlclose(module) == 0 ? TRUE : FALSE;
}
