// The simulated platform device as the platform tests drive it: which image it serves, which
// faults it injects, and what its journal recorded. On the host the device is the host layer's
// in-process one; in the Windows build it is the kernel driver vesnara.sys under Wine. Both read
// the same configuration and image files and write the same journal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace simdevice {

// One read request as the journal records it.
struct Request {
    std::uint64_t address = 0;
    std::uint32_t count = 0;
    std::uint32_t out = 0;
    std::string result;
    std::uint32_t returned = 0;
};

// Close lines are left out: under Wine the driver may see a close some time after CloseHandle
// returned, so they may land in a later journal.
struct Journal {
    int opens = 0;
    std::vector<Request> requests;
    std::vector<std::string> lines; // every line but the close lines, in order
};

// The device folder, as this process names it: where the configuration and journal lie.
std::string folder();

// The path of an image of tests/platform/images.txt, as the device names it.
std::string imagePath(const std::string& name);

// Makes the device serve the image (no image for an empty name) with the given fault lines
// ("open", "refuse", "short 0xF5A10", ...), waits until the device is there or, with the open
// fault, gone, and empties the journal.
void serve(const std::string& image, const std::vector<std::string>& faults = {});

// Waits until the device is there (or gone) as its configuration asks.
void waitForDevice(bool present);

// The open line the device journals for an open with these rights, share mode and disposition,
// given in the kernel's terms (see sim/vesnara/vesnaraCore.h): the tool opens with
// openLine(0x0012019F, 0, 1), read and write access, no sharing, open existing. vesnara.sys
// under Wine is told only the share mode.
std::string openLine(std::uint32_t access, std::uint32_t share, std::uint32_t disposition);

// Empties the journal.
void clearJournal();

// What the device recorded since the journal was last emptied.
Journal journal();

} // namespace simdevice
