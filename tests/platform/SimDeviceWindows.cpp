// The driver's folder: vesnara.sys reads its configuration from C:\vesnara and writes its
// journal there (scripts/vesnara install creates it).
#include "SimDevice.h"

#include <windows.h>

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace simdevice {

std::string folder() {
    return "C:\\vesnara";
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
