#pragma once

#include <cstdint>

extern const char kKvPlatformBanner[];

// Gate of the module's diagnostic lines (written only at 1 or more). Starts at 0 and the tool
// never raises it; tests may.
extern std::int32_t kvPlatformDebugLevel;

// Which platform the program runs on: a three-letter code and a NUL ("QTD" or "QTF"; all four
// bytes 0 when not identified) and its revision (1 or more; 0 when not identified).
struct KvPlatformId {
    char platformCode[4];
    std::int32_t revision;
};

// Identifies the platform from the SMBIOS OEM strings 2 and 4 and, where needed, the system
// manufacturer. Returns 0 when the platform is known, -2 for a null pointer (record untouched)
// and -3 when it is not identified (record zeroed). A success is kept for the life of the
// process; after a failure the next call reads the strings again.
int kvPlatformGetPlatformIdEx(KvPlatformId* id);

// Test seam: forgets a known platform, so the next call identifies it again. The tool never
// calls it.
void kvPlatformResetForTest();
