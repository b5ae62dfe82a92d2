// Dynamic libraries over dlopen(), found where Windows finds them (Microsoft's "Dynamic-link
// library search order", safe search mode), with two folders standing in for Windows' many:
// - the program's folder: the folder of the running program (/proc/self/exe);
// - the system folder: $DURNAVEL_HOST_LIBRARY_DIR when set, otherwise the program's folder. It
//   is what GetSystemDirectoryA answers.
// A plain file name ("nvapi64.dll") is looked for in the program's folder first, then in the
// system folder (LoadLibraryA; LoadLibraryExA with flags 0 or LOAD_WITH_ALTERED_SEARCH_PATH);
// with LOAD_LIBRARY_SEARCH_SYSTEM32 in the system folder only. A path (with '/' or '\\') is
// taken as it is. The simulated driver libraries are built for the host under their Windows
// file names for this reason; they import no library of their own, so where a library's imports
// are looked for is not modelled.
//
// kernel32.dll exports AddDllDirectory, as on Windows 8 and later. DURNAVEL_HOST_LOADER=old
// stands for a Windows without it (Windows 7, Vista and their servers without KB2533623):
// GetProcAddress does not find it and LoadLibraryExA refuses the LOAD_LIBRARY_SEARCH_* flags
// with ERROR_INVALID_PARAMETER.
//
// DURNAVEL_HOST_LOAD_RECORD names a file that every LoadLibraryA and LoadLibraryExA call
// appends one line to, whatever its outcome: "flags=0x00000800 name=nvapi64.dll", the name as
// asked.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace {

// Flags this loader implements (all others are refused, as Windows refuses unknown ones).
constexpr DWORD kSearchFlags = LOAD_LIBRARY_SEARCH_SYSTEM32;
constexpr DWORD kKnownFlags = LOAD_WITH_ALTERED_SEARCH_PATH | kSearchFlags;

std::string programFolder() {
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) {
        return ".";
    }
    std::string exe(path, static_cast<std::size_t>(n));
    std::size_t slash = exe.rfind('/');
    return slash == std::string::npos ? "." : exe.substr(0, slash);
}

std::string systemFolder() {
    if (const char* dir = std::getenv("DURNAVEL_HOST_LIBRARY_DIR");
        dir != nullptr && *dir != '\0') {
        return dir;
    }
    return programFolder();
}

bool withoutAddDllDirectory() {
    const char* loader = std::getenv("DURNAVEL_HOST_LOADER");
    return loader != nullptr && std::strcmp(loader, "old") == 0;
}

void record(LPCSTR fileName, DWORD flags) {
    const char* path = std::getenv("DURNAVEL_HOST_LOAD_RECORD");
    if (path == nullptr || *path == '\0') {
        return;
    }
    if (std::FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "flags=0x%08X name=%s\n", static_cast<unsigned>(flags),
                     fileName != nullptr ? fileName : "(null)");
        std::fclose(f);
    }
}

// kernel32.dll, always loaded: a handle no dlopen() gives out.
char kernel32Module;
HMODULE kernel32() {
    return reinterpret_cast<HMODULE>(&kernel32Module);
}

// The host keeps no folders of its own to add; the tool only asks whether it exists.
void* WINAPI addDllDirectory(LPCWSTR) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

} // namespace

HMODULE LoadLibraryExA(LPCSTR fileName, HANDLE file, DWORD flags) {
    record(fileName, flags);
    if (fileName == nullptr || *fileName == '\0' || file != nullptr ||
        (flags & ~kKnownFlags) != 0 ||
        ((flags & kSearchFlags) != 0 &&
         (withoutAddDllDirectory() || (flags & LOAD_WITH_ALTERED_SEARCH_PATH) != 0))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string path = fileName;
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.find('/') == std::string::npos) {
        std::vector<std::string> folders;
        if ((flags & LOAD_LIBRARY_SEARCH_SYSTEM32) == 0) {
            folders.push_back(programFolder());
        }
        folders.push_back(systemFolder());
        const std::string name = path;
        path.clear();
        for (const std::string& folder : folders) {
            if (::access((folder + "/" + name).c_str(), F_OK) == 0) {
                path = folder + "/" + name;
                break;
            }
        }
    }
    if (path.empty() || ::access(path.c_str(), F_OK) != 0) {
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
    std::string folder = systemFolder();
    if (buffer == nullptr || size <= folder.size()) {
        return static_cast<UINT>(folder.size() + 1);
    }
    std::memcpy(buffer, folder.c_str(), folder.size() + 1);
    return static_cast<UINT>(folder.size());
}

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
    std::wstring name;
    for (const wchar_t* c = moduleName; c != nullptr && *c != L'\0'; ++c) {
        name.push_back(static_cast<wchar_t>(std::towlower(static_cast<wint_t>(*c))));
    }
    if (name == L"kernel32.dll" || name == L"kernel32") {
        return kernel32();
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    if (module == nullptr || procName == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (module == kernel32()) {
        if (std::strcmp(procName, "AddDllDirectory") == 0 && !withoutAddDllDirectory()) {
            return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&addDllDirectory));
        }
        SetLastError(ERROR_PROC_NOT_FOUND);
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
    if (module == kernel32()) {
        return TRUE; // kernel32.dll stays loaded
    }
    return ::dlclose(module) == 0 ? TRUE : FALSE;
}
