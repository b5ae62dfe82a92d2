// A plain reading of physical memory as the SMBIOS load of the platform library is described to
// behave (see smbios_fuzz.cpp), written from that description and, where it says nothing, from
// the SMBIOS reference (DMTF DSP0134), not from the library: what smbios_fuzz compares the
// library's answers with. Built without coverage counters, so that the
// fuzzer steers by the product's branches only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace smbiosref {

// A run of memory bytes at an address; later pieces lie over earlier ones, the rest reads 0.
struct Piece {
    std::uint64_t address;
    std::vector<std::uint8_t> bytes;
};

// The bytes a read of `count` bytes at `address` into `size` bytes at `out` brings: the
// memory's for the first min(count, size), zero after them.
void readMemory(const std::vector<Piece>& pieces, std::uint64_t address, std::uint32_t count,
                std::uint8_t* out, std::uint32_t size);

// The length of the bytes up to the last non-zero one.
std::size_t usedLength(const std::uint8_t* bytes, std::size_t size);

// The strings kept from a table: 32 bytes each, the text (at most 31 characters) and zeros.
struct Strings {
    char manufacturer[32];
    char oemString[5][32];
};

// The entry point found in a window read of `size` bytes: table length and address.
struct Anchor {
    bool found = false;
    std::uint16_t tableLength = 0;
    std::uint32_t tableAddress = 0;
};
Anchor findAnchor(const std::uint8_t* window, std::size_t size);

// Walks a table of `size` bytes read from memory whose entry point gives `tableLength`.
Strings walk(const std::uint8_t* table, std::size_t size, std::uint32_t tableLength);

// One device request as the journal shows it.
struct Request {
    std::uint64_t address;
    std::uint32_t count;
    std::uint32_t out;
    std::string result;

    bool operator==(const Request& o) const {
        return address == o.address && count == o.count && out == o.out && result == o.result;
    }
};

// The device's answer to a request at an address, from the fault switches: "ok", "short",
// "refused" or "no-image".
struct Faults {
    bool noDevice = false;
    bool noImage = false;
    std::vector<std::uint64_t> refuse;
    std::vector<std::uint64_t> shortReply;
    std::string answer(std::uint64_t address) const;
};

// What one load does and gives.
struct Load {
    bool opened = false;
    std::vector<Request> requests;
    bool loaded = false;
    std::uint32_t tableAddress = 0; // of the table read, 0 when there was none
    std::uint32_t tableCount = 0;   // bytes asked for in it
    Strings strings{};
};
Load load(const std::vector<Piece>& pieces, const Faults& faults);

// The platform the strings name: result 0 with code and revision, or -3.
struct Platform {
    int result = -3;
    std::string code;
    std::int32_t revision = 0;
};
Platform identify(const Load& load);

} // namespace smbiosref
