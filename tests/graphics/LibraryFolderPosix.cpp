// Host: the host layer loads from $DURNAVEL_HOST_LIBRARY_DIR, its "system folder", and records
// every load in $DURNAVEL_HOST_LOAD_RECORD.
#include "DriverSim.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "support/TestSupport.h"

namespace drivertest {

std::string simDriversFolder() {
    return DURNAVEL_SIM_DRIVERS_DIR;
}

void useLibraryFolder(const std::string& folder) {
    testsupport::setEnvironment("DURNAVEL_HOST_LIBRARY_DIR", folder);
}

bool withoutAddDllDirectory() {
    testsupport::setEnvironment("DURNAVEL_HOST_LOADER", "old");
    return true;
}

std::optional<std::vector<std::string>> loadsAsked() {
    std::vector<std::string> lines;
    const char* path = std::getenv("DURNAVEL_HOST_LOAD_RECORD");
    if (path != nullptr && std::filesystem::exists(path)) {
        std::istringstream in(testsupport::readFile(path));
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
    }
    return lines;
}

} // namespace drivertest
