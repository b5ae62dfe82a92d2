// Host: the host layer's LoadLibraryA looks in $DURNAVEL_HOST_LIBRARY_DIR.
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
