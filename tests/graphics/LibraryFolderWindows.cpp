// Windows: the driver libraries sit in the drivers folder beside the test program, which the
// loader searches once it is named with SetDllDirectoryW.
#include "DriverSim.h"

#include <windows.h>

#include <stdexcept>
#include <string>

namespace drivertest {

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
    std::wstring wide(folder.begin(), folder.end());
    if (!SetDllDirectoryW(wide.c_str())) {
        throw std::runtime_error("SetDllDirectoryW failed for " + folder);
    }
}

} // namespace drivertest
