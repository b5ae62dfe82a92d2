// Host: the host layer loads from $DURNAVEL_HOST_LIBRARY_DIR, its "system folder".
#include "DriverSim.h"

#include "support/TestSupport.h"

namespace drivertest {

std::string simDriversFolder() {
    return DURNAVEL_SIM_DRIVERS_DIR;
}

void useLibraryFolder(const std::string& folder) {
    testsupport::setEnvironment("DURNAVEL_HOST_LIBRARY_DIR", folder);
}

} // namespace drivertest
