// Windows: the tool loads the driver libraries from the system folder only, so a test installs
// the wanted ones there (a 32-bit test program's writes land in SysWOW64, where its loader
// looks). The tests run under Wine, in the build's own prefix.
#include "DriverSim.h"

#include <windows.h>

#include <stdexcept>
#include <string>

namespace drivertest {

namespace {

std::wstring wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::wstring systemFolder() {
    wchar_t path[MAX_PATH];
    UINT n = GetSystemDirectoryW(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        throw std::runtime_error("GetSystemDirectoryW failed");
    }
    return std::wstring(path, n);
}

} // namespace

std::string simDriversFolder() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        throw std::runtime_error("GetModuleFileNameW failed");
    }
    std::wstring exe(path, n);
    std::wstring dir = exe.substr(0, exe.find_last_of(L"\\/"));
    std::string out;
    for (wchar_t c : dir) {
        out.push_back(static_cast<char>(c));
    }
    return out + "\\drivers";
}

void useLibraryFolder(const std::string& folder) {
    static std::string installed;
    if (folder == installed) {
        return;
    }
    installed.clear();
    const std::wstring system = systemFolder();
    for (const char* name : {DURNAVEL_TEST_NVAPI_DLL, "nvcpl.dll"}) {
        std::wstring from = wide(folder + "\\" + name);
        std::wstring to = system + L"\\" + wide(name);
        if (GetFileAttributesW(from.c_str()) != INVALID_FILE_ATTRIBUTES) {
            if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
                throw std::runtime_error("cannot install " + folder + "\\" + name);
            }
        } else if (!DeleteFileW(to.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
            throw std::runtime_error(std::string("cannot remove ") + name +
                                     " from the system folder");
        }
    }
    installed = folder;
}

bool withoutAddDllDirectory() {
    return false;
}

std::optional<std::vector<std::string>> loadsAsked() {
    return std::nullopt;
}

} // namespace drivertest
