// The driver's folder: vesnara.sys reads its configuration from C:\vesnara and writes its
// journal there (scripts/vesnara install creates it).
#include "SimDevice.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace simdevice {

std::string folder() {
    return "C:\\vesnara";
}

// Wine hands the driver's IRP_MJ_CREATE only the share mode.
std::string openLine(std::uint32_t, std::uint32_t share, std::uint32_t) {
    char line[80];
    std::snprintf(line, sizeof(line), "open ok access=? share=0x%X disposition=?", share);
    return line;
}

// The driver's watcher applies the open fault within 50 ms and records the device's state in
// device.txt.
void waitForDevice(bool present) {
    const std::string wanted = present ? "present\n" : "absent\n";
    std::string state;
    for (int attempt = 0; attempt < 500; ++attempt) {
        std::ifstream in(folder() + "\\device.txt", std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        state = text.str();
        if (state == wanted) {
            return;
        }
        Sleep(10);
    }
    ADD_FAILURE() << "the device stays " << state << " (wanted " << wanted << ")";
}

} // namespace simdevice
