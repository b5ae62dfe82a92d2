// Host build only: the platform device \\.\vesnara served from this process's memory instead of
// the device folder, for fuzz targets, which would otherwise spend their time on files. The
// device decides and journals as it does from the folder (sim/vesnara/vesnaraCore.h): only where
// the configuration, the memory and the journal lines live changes.
#pragma once

#include <cstddef>
#include <cstdint>

struct HostwinMemory {
    // Copies `count` bytes of physical memory at `address` into `out`, which is zero already.
    void (*read)(void* context, std::uint64_t address, std::uint32_t count, unsigned char* out);
    // Receives each journal line, with its line feed.
    void (*journal)(void* context, const char* line, std::size_t length);
    void* context;
};

// From now on the device reads `memory` under the configuration `config` (the text of a
// vesnara.conf: an image line, whatever its path, says the memory is there; fault lines as
// usual). `memory` must stay valid while it is served; null goes back to the device folder.
void hostwinServeDeviceFromMemory(const HostwinMemory* memory, const char* config,
                                  std::size_t size);
