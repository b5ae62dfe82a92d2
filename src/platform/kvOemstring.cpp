#include "platform/kvOemstring.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "common/Banner.h"

const char kKvOemstringBanner[] = DURNAVEL_BANNER("kvOemstring", "1.07");

namespace {

constexpr std::size_t kStringSize = 32;
constexpr unsigned int kOemStringCount = 5;

// The platform device and its physical-memory read request.
const wchar_t kDeviceName[] = L"\\\\.\\vesnara";
constexpr DWORD kReadPhysicalMemory = 0x9C406104; // type 0x9C40, function 0x841, buffered, read
constexpr std::uint32_t kReadMode = 1;
constexpr std::size_t kRequestSize = 16;

// The SMBIOS entry point lies in the F segment, searched in two overlapping windows.
constexpr std::uint32_t kWindowStart = 0xF0000;
constexpr std::uint32_t kWindowStep = 0x7FF0;
constexpr std::uint32_t kWindowLimit = 0xFFFE0;
constexpr std::uint32_t kWindowSize = 0x8010;
constexpr std::size_t kSearchLimit = 0x8008;
constexpr std::size_t kIntermediateSize = 15; // "_DMI_" up to the BCD revision
constexpr unsigned char kAnchor[] = {'_', 'D', 'M', 'I', '_'};

constexpr std::uint32_t kTableReadSize = 0x10000;
constexpr std::uint32_t kOneMegabyte = 0x100000;

constexpr unsigned int kTypeSystem = 1;
constexpr unsigned int kTypeOemStrings = 11;
constexpr unsigned int kTypesMarked = 128;
constexpr unsigned int kHeaderSize = 4; // type, length, handle

struct Store {
    std::int32_t loaded;
    KvOemstringStrings strings;
};
Store store;

// Buffers of one load (main thread only).
unsigned char windowBuffer[kWindowSize];
unsigned char tableBuffer[kTableReadSize];

// The device handle of one load, closed on every way out of it.
class Device {
  public:
    Device()
        : handle(CreateFileW(kDeviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             0, nullptr)) {}
    ~Device() {
        if (isOpen()) {
            CloseHandle(handle);
        }
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    bool isOpen() const { return handle != INVALID_HANDLE_VALUE; }

    // Reads `count` bytes of physical memory at `address` into `out`. The reply counts only when
    // the call succeeds and reports the whole output buffer.
    bool read(std::uint32_t address, std::uint32_t count, unsigned char* out, DWORD outSize) {
        unsigned char request[kRequestSize] = {};
        putLittleEndian(request, address, 8); // upper half of the 64-bit address stays 0
        putLittleEndian(request + 8, kReadMode, 4);
        putLittleEndian(request + 12, count, 4);
        std::memset(out, 0, outSize);
        DWORD returned = 0;
        BOOL ok = DeviceIoControl(handle, kReadPhysicalMemory, request, sizeof(request), out,
                                  outSize, &returned, nullptr);
        return ok != FALSE && returned == outSize;
    }

  private:
    static void putLittleEndian(unsigned char* at, std::uint32_t value, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i) {
            at[i] = i < 4 ? static_cast<unsigned char>(value >> (8 * i)) : 0;
        }
    }

    HANDLE handle;
};

std::uint32_t readLittleEndian(const unsigned char* at, std::size_t width) {
    std::uint32_t value = 0;
    for (std::size_t i = width; i > 0; --i) {
        value = (value << 8) | at[i - 1];
    }
    return value;
}

// Stores a string of `length` bytes, cut to 31 characters.
void keep(char* to, const unsigned char* from, std::size_t length) {
    if (length > kStringSize - 1) {
        length = kStringSize - 1;
    }
    std::memcpy(to, from, length);
    to[length] = '\0';
}

} // namespace

bool kvOemstringFindAnchor(const unsigned char* window, std::size_t size,
                           std::uint16_t* tableLength, std::uint32_t* tableAddress) {
    // Firmware code may hold the anchor bytes too; only a checksummed entry point is taken. A
    // match whose entry point would reach past the window is left for the next window, which
    // overlaps this one. The search jumps from one '_' to the next and compares only there.
    if (size < kIntermediateSize) {
        return false;
    }
    const std::size_t end = std::min(kSearchLimit, size - kIntermediateSize + 1);
    for (std::size_t at = 0; at < end; ++at) {
        const void* underscore = std::memchr(window + at, kAnchor[0], end - at);
        if (underscore == nullptr) {
            return false;
        }
        at = static_cast<std::size_t>(static_cast<const unsigned char*>(underscore) - window);
        if (std::memcmp(window + at, kAnchor, sizeof(kAnchor)) != 0) {
            continue;
        }
        unsigned int sum = 0;
        for (std::size_t i = 0; i < kIntermediateSize; ++i) {
            sum += window[at + i];
        }
        if ((sum & 0xFF) != 0) {
            continue;
        }
        *tableLength = static_cast<std::uint16_t>(readLittleEndian(window + at + 6, 2));
        *tableAddress = readLittleEndian(window + at + 8, 4);
        return true;
    }
    return false;
}

void kvOemstringWalkTable(const unsigned char* table, std::size_t size, std::uint32_t tableLength,
                          KvOemstringStrings* strings) {
    std::memset(strings, 0, sizeof(*strings));
    bool seen[kTypesMarked] = {};
    std::size_t at = 0; // start of the current structure, counted from the table start
    for (;;) {
        // A length byte of 0 ends the table; one below the header size leaves no way to find
        // the next structure, and ends it too.
        if (at + 1 >= size || table[at + 1] < kHeaderSize) {
            return;
        }
        const unsigned int type = table[at];
        std::size_t next = at + table[at + 1];
        if (next >= tableLength || next >= size) {
            return;
        }
        const bool first = type >= kTypesMarked || !seen[type];
        for (unsigned int index = 0;; ++index) {
            const std::size_t start = next;
            while (next < size && table[next] != 0) {
                ++next;
            }
            if (next >= size) {
                return; // the string set runs to the end of what was read
            }
            if (first && type == kTypeSystem && index == 0) {
                keep(strings->manufacturer, table + start, next - start);
            } else if (first && type == kTypeOemStrings && index < kOemStringCount) {
                keep(strings->oemString[index], table + start, next - start);
            }
            ++next;
            if (next >= size) {
                return;
            }
            if (table[next] == 0) {
                break; // the closing NUL of the set
            }
        }
        if (type < kTypesMarked) {
            seen[type] = true;
        }
        at = next + 1;
    }
}

int kvOemstringLoad() {
    if (store.loaded != 0) {
        return store.loaded;
    }
    std::memset(&store, 0, sizeof(store));

    Device device;
    if (!device.isOpen()) {
        return 0;
    }

    std::uint16_t tableLength = 0;
    std::uint32_t tableAddress = 0;
    bool found = false;
    for (std::uint32_t window = kWindowStart; window < kWindowLimit && !found;
         window += kWindowStep) {
        if (!device.read(window, kWindowSize, windowBuffer, kWindowSize)) {
            continue;
        }
        found = kvOemstringFindAnchor(windowBuffer, kWindowSize, &tableLength, &tableAddress);
    }
    if (!found || tableAddress == 0) {
        return 0;
    }

    // Below 1 MB the read stops at 1 MB; a table above it (firmware puts larger ones at the top
    // of memory) is read in full.
    std::uint32_t count = kTableReadSize;
    if (tableAddress < kOneMegabyte && tableAddress + kTableReadSize > kOneMegabyte) {
        count = kOneMegabyte - tableAddress;
    }
    if (!device.read(tableAddress, count, tableBuffer, kTableReadSize)) {
        return 0;
    }

    kvOemstringWalkTable(tableBuffer, kTableReadSize, tableLength, &store.strings);
    store.loaded = 1;
    return store.loaded;
}

int kvOemstringGetOemstring(char* buffer, unsigned int index) {
    if (buffer == nullptr) {
        return -2;
    }
    buffer[0] = '\0';
    if (index >= kOemStringCount) {
        return -2;
    }
    if (kvOemstringLoad() == 0) {
        return -3;
    }
    std::memcpy(buffer, store.strings.oemString[index], kStringSize);
    return 0;
}

int kvOemstringGetManufacturer(char* buffer) {
    if (buffer == nullptr) {
        return -2;
    }
    if (kvOemstringLoad() == 0) {
        buffer[0] = '\0';
        return -3;
    }
    std::memcpy(buffer, store.strings.manufacturer, kStringSize);
    return 0;
}

void kvOemstringResetForTest() {
    std::memset(&store, 0, sizeof(store));
}
