// The host device's folder: a fresh folder per test process, named to the host layer by
// DURNAVEL_HOST_DEVICE_DIR, removed when the process ends.
#include "SimDevice.h"

#include <cstdio>
#include <filesystem>

#include "support/TestSupport.h"

namespace simdevice {

namespace {

struct HostFolder {
    HostFolder() : path(testsupport::makeTempFolder("vesnara")) {
        testsupport::setEnvironment("DURNAVEL_HOST_DEVICE_DIR", path);
    }
    ~HostFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

} // namespace

std::string folder() {
    static HostFolder host;
    return host.path;
}

// The host device is told everything CreateFileW was given.
std::string openLine(std::uint32_t access, std::uint32_t share, std::uint32_t disposition) {
    char line[80];
    std::snprintf(line, sizeof(line), "open ok access=0x%08X share=0x%X disposition=%u", access,
                  share, disposition);
    return line;
}

// The host device reads its configuration on every open: nothing to wait for.
void waitForDevice(bool) {}

} // namespace simdevice
