// Dynamic libraries over dlopen(). LoadLibraryA takes a plain file name ("nvapi.dll") and looks
// for exactly that file in the library folder: $DURNAVEL_HOST_LIBRARY_DIR when set, otherwise
// the folder of the running program (where Windows looks first as well). The simulated driver
// libraries are built for the host under the Windows file names for this reason.
#include <windows.h>

#include <cstdlib>
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

} // namespace

HMODULE LoadLibraryA(LPCSTR fileName) {
    if (fileName == nullptr || *fileName == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string path = libraryFolder() + "/" + fileName;
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
