#pragma once

#include <cstddef>
#include <cstdint>

extern const char kKvOemstringBanner[];

// SMBIOS strings of this machine, read once through the platform device \\.\vesnara and kept
// for the life of the process. Every buffer handed in must hold 32 bytes; a string is returned
// as at most 31 characters and a NUL. Results: 0 done, -2 bad argument, -3 not available.

// OEM string `index` (0 to 4) of the OEM-strings structure (SMBIOS type 11), counted from 0 in
// the order the strings stand. The buffer is emptied first; an index above 4 gives -2 without
// touching the device.
int kvOemstringGetOemstring(char* buffer, unsigned int index);

// The first string of the system-information structure (SMBIOS type 1): the manufacturer.
int kvOemstringGetManufacturer(char* buffer);

// Reads and walks the SMBIOS table unless that was done before; returns the loaded flag (1 once
// loaded, 0 when this attempt failed). Both getters call it first.
int kvOemstringLoad();

// The steps of a load that work on memory already read, for tests and fuzz targets.
struct KvOemstringStrings {
    char manufacturer[32];
    char oemString[5][32];
};

// Looks for the SMBIOS intermediate anchor "_DMI_" at each position below 0x8008 of a window
// read from physical memory, in order. A match counts only when its 15-byte intermediate entry
// point lies inside the window and sums to 0 modulo 256. On a match, writes the table length and
// address and returns true.
bool kvOemstringFindAnchor(const unsigned char* window, std::size_t size,
                           std::uint16_t* tableLength, std::uint32_t* tableAddress);

// Walks the structure table read into `table` (`size` bytes, never read beyond) whose entry
// point gives `tableLength`, and fills `strings` (emptied first) from the first structure of
// type 1 and of type 11.
void kvOemstringWalkTable(const unsigned char* table, std::size_t size, std::uint32_t tableLength,
                          KvOemstringStrings* strings);

// Test seam: forgets what was loaded, so the next getter call reads the device again. The tool
// never calls it.
void kvOemstringResetForTest();
