// Feeds the SMBIOS load of kvOemstring, and the platform identification on top of it, with
// arbitrary physical memory served by the host layer's platform device (the real load path:
// CreateFileW, DeviceIoControl, CloseHandle on \\.\vesnara), with device faults.
//
// Input:
//   byte 0   device faults: 0x01 refuse the first window, 0x02 short reply to it, 0x04 and 0x08
//            the same for the second window, 0x10 and 0x20 for the table read, 0x40 no device,
//            0x80 no image (every read fails)
//   then pieces of memory, in order, a later one written over an earlier one:
//            u8 kind (bit 0: 0 the bytes follow, 1 one byte repeated), u32 address,
//            u16 length, then `length` bytes (kind 0, fewer when the input ends) or the one byte
// Memory no piece covers reads as 0. The device serves the pieces from a sparse image file.
//
// The same memory also goes through kvOemstringFindAnchor and kvOemstringWalkTable on their own,
// as the load should use them, so every difference between the two is reported; the table walk
// is also given the table cut to its last non-zero byte, in a buffer of exactly that size.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "FuzzSupport.h"
#include "platform/kvOemstring.h"
#include "platform/kvPlatform.h"
#include "platform/kviDebug.h"

namespace {

using fuzzsupport::require;

constexpr std::uint64_t kFirstWindow = 0xF0000;
constexpr std::uint64_t kSecondWindow = 0xF7FF0;
constexpr std::uint32_t kWindowSize = 0x8010;
constexpr std::uint32_t kTableSize = 0x10000;
constexpr std::uint64_t kOneMegabyte = 0x100000;

enum : std::uint8_t {
    REFUSE_FIRST = 0x01,
    SHORT_FIRST = 0x02,
    REFUSE_SECOND = 0x04,
    SHORT_SECOND = 0x08,
    REFUSE_TABLE = 0x10,
    SHORT_TABLE = 0x20,
    NO_DEVICE = 0x40,
    NO_IMAGE = 0x80,
};

struct Piece {
    std::uint64_t address;
    std::vector<std::uint8_t> bytes;
};

struct Fault {
    bool refuse; // else short
    std::uint64_t address;
};

struct Request {
    std::uint64_t address;
    std::uint32_t count;
    std::uint32_t out;
    std::string result;

    bool operator==(const Request& o) const {
        return address == o.address && count == o.count && out == o.out && result == o.result;
    }
};

// What one load should do and give.
struct Expected {
    bool opened = false;
    std::vector<Request> requests;
    bool loaded = false;
    KvOemstringStrings strings{};
};

struct Work {
    std::string folder;
    std::string image;
    std::string config;
    std::string journal;
};

const Work& work() {
    static const Work w = [] {
        Work made;
        made.folder = fuzzsupport::workFolder("smbios");
        made.image = made.folder + "/memory.img";
        made.config = made.folder + "/vesnara.conf";
        made.journal = made.folder + "/journal.txt";
        fuzzsupport::setEnvironment("DURNAVEL_HOST_DEVICE_DIR", made.folder);
        return made;
    }();
    return w;
}

std::vector<Piece> piecesOf(fuzzsupport::Input& in) {
    std::vector<Piece> pieces;
    while (!in.empty()) {
        const bool repeated = (in.u8() & 1) != 0;
        Piece p;
        p.address = in.u32();
        const std::uint16_t length = in.u16();
        if (repeated) {
            p.bytes.assign(length, in.u8());
        } else {
            p.bytes = in.bytes(length);
        }
        pieces.push_back(std::move(p));
    }
    return pieces;
}

// The bytes a read of `count` bytes at `address` into `size` bytes brings: those of the memory
// for the first min(count, size), zero after them.
std::vector<std::uint8_t> readMemory(const std::vector<Piece>& pieces, std::uint64_t address,
                                     std::uint32_t count, std::uint32_t size) {
    std::vector<std::uint8_t> out(size, 0);
    const std::uint64_t end = address + std::min(count, size);
    for (const Piece& p : pieces) {
        const std::uint64_t from = std::max(address, p.address);
        const std::uint64_t to = std::min(end, p.address + p.bytes.size());
        if (from < to) {
            std::memcpy(out.data() + (from - address), p.bytes.data() + (from - p.address),
                        static_cast<std::size_t>(to - from));
        }
    }
    return out;
}

void writeImage(const std::vector<Piece>& pieces) {
    const int fd = ::open(work().image.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    require(fd >= 0, "the image can be written", work().image);
    for (const Piece& p : pieces) {
        if (p.bytes.empty()) {
            continue;
        }
        const ssize_t n =
            ::pwrite(fd, p.bytes.data(), p.bytes.size(), static_cast<off_t>(p.address));
        require(n == static_cast<ssize_t>(p.bytes.size()), "the image can be written");
    }
    ::close(fd);
}

// How the device answers a request at `address`: refused before anything else, then no image,
// then a short reply.
std::string answer(const std::vector<Fault>& faults, bool noImage, std::uint64_t address) {
    for (const Fault& f : faults) {
        if (f.refuse && f.address == address) {
            return "refused";
        }
    }
    if (noImage) {
        return "no-image";
    }
    for (const Fault& f : faults) {
        if (!f.refuse && f.address == address) {
            return "short";
        }
    }
    return "ok";
}

// The load as it should go: at most two windows (the second only when the first gave no
// anchor), then one table read whose length stops at 1 MB for a table below it.
Expected expectLoad(const std::vector<Piece>& pieces, const std::vector<Fault>& faults,
                    bool noImage, bool noDevice, std::uint32_t* tableAddress) {
    Expected e;
    *tableAddress = 0;
    if (noDevice) {
        return e;
    }
    e.opened = true;
    bool found = false;
    std::uint16_t length = 0;
    std::uint32_t address = 0;
    for (std::uint64_t window : {kFirstWindow, kSecondWindow}) {
        const std::string result = answer(faults, noImage, window);
        e.requests.push_back({window, kWindowSize, kWindowSize, result});
        if (result != "ok") {
            continue;
        }
        const std::vector<std::uint8_t> bytes =
            readMemory(pieces, window, kWindowSize, kWindowSize);
        found = kvOemstringFindAnchor(bytes.data(), bytes.size(), &length, &address);
        if (found) {
            break;
        }
    }
    if (!found || address == 0) {
        return e;
    }
    *tableAddress = address;
    std::uint32_t count = kTableSize;
    if (address < kOneMegabyte && address + std::uint64_t{kTableSize} > kOneMegabyte) {
        count = static_cast<std::uint32_t>(kOneMegabyte - address);
    }
    const std::string result = answer(faults, noImage, address);
    e.requests.push_back({address, count, kTableSize, result});
    if (result != "ok") {
        return e;
    }
    const std::vector<std::uint8_t> table = readMemory(pieces, address, count, kTableSize);
    kvOemstringWalkTable(table.data(), table.size(), length, &e.strings);
    e.loaded = true;
    return e;
}

struct Journal {
    int opens = 0;
    int closes = 0;
    std::vector<Request> requests;
    std::string text;
};

Journal readJournal() {
    Journal j;
    j.text = fuzzsupport::readFile(work().journal);
    for (const std::string& line : fuzzsupport::linesOf(j.text)) {
        if (line.rfind("open ok", 0) == 0) {
            require(j.closes == j.opens, "one open at a time", j.text);
            ++j.opens;
        } else if (line == "close") {
            ++j.closes;
        } else {
            require(line.rfind("request ", 0) == 0 && j.opens == j.closes + 1,
                    "requests only on an open device", j.text);
            j.requests.push_back({std::stoull(fuzzsupport::field(line, "address"), nullptr, 0),
                                  static_cast<std::uint32_t>(
                                      std::stoul(fuzzsupport::field(line, "count"), nullptr, 0)),
                                  static_cast<std::uint32_t>(
                                      std::stoul(fuzzsupport::field(line, "out"), nullptr, 0)),
                                  fuzzsupport::field(line, "result")});
        }
    }
    return j;
}

// A stored string is at most 31 characters and a NUL, and stands in the table as the start of
// one of its strings: whole (followed by its NUL) or cut to 31 characters.
void checkString(const char (&s)[32], const std::vector<std::uint8_t>& table) {
    const char* end = static_cast<const char*>(std::memchr(s, 0, sizeof(s)));
    require(end != nullptr, "a stored string ends within 32 bytes");
    const std::size_t length = static_cast<std::size_t>(end - s);
    if (length == 0) {
        return;
    }
    const std::size_t needle = length < 31 ? length + 1 : length; // with its NUL unless cut
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(s);
    require(std::search(table.begin(), table.end(), bytes, bytes + needle) != table.end(),
            "a stored string comes from the table", s);
}

void checkStrings(const KvOemstringStrings& strings, const std::vector<std::uint8_t>& table) {
    checkString(strings.manufacturer, table);
    for (const auto& oem : strings.oemString) {
        checkString(oem, table);
    }
}

// The platform the strings name, from the identification rules: 0 with code and revision, or
// -3.
struct Platform {
    int result = -3;
    std::string code;
    std::int32_t revision = 0;
};

Platform expectPlatform(const Expected& e) {
    Platform p;
    if (!e.loaded) {
        return p;
    }
    const std::string oem2 = e.strings.oemString[2];
    const std::string text = e.strings.oemString[4];
    const std::string manufacturer = e.strings.manufacturer;
    std::string code;
    if (oem2 == "QTD" || oem2 == "QTF") {
        code = oem2;
    } else if (manufacturer == "NEC") {
        code = "QTD";
    } else if (manufacturer == "Supermicro" || manufacturer == "Advantech") {
        code = "QTF";
    }
    std::int64_t revision = 0;
    if ((code == "QTD" && (text.empty() || text == " ")) || (code == "QTF" && text.empty())) {
        revision = 1;
    } else if (text.size() >= 3 && !code.empty() && text.compare(0, 3, code) == 0) {
        for (std::size_t i = 3; i < text.size() && revision >= 0; ++i) {
            if (text[i] < '0' || text[i] > '9') {
                revision = -1;
            } else if (revision <= INT32_MAX) {
                revision = revision * 10 + (text[i] - '0');
            }
        }
    }
    if (revision <= 0 || revision > INT32_MAX) {
        return p;
    }
    p.result = 0;
    p.code = code;
    p.revision = static_cast<std::int32_t>(revision);
    return p;
}

int diagnosticLine(const char* line) {
    require(line != nullptr && std::strncmp(line, "kvPlatformGetPlatformIdEx: Line", 31) == 0,
            "diagnostic lines carry the function name", line != nullptr ? line : "(null)");
    return 0;
}

std::string describe(const Expected& e, const Journal& j) {
    std::string s = "expected requests:";
    for (const Request& r : e.requests) {
        s += " " + fuzzsupport::hex32(static_cast<std::uint32_t>(r.address)) + "/" +
             fuzzsupport::hex32(r.count) + "/" + r.result;
    }
    return s + "\njournal:\n" + j.text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    work();
    kvPlatformDebugLevel = 1;
    kviDebugSetHook(diagnosticLine);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzsupport::Input in(data, size);
    const std::uint8_t switches = in.u8();
    const std::vector<Piece> pieces = piecesOf(in);
    const bool noDevice = (switches & NO_DEVICE) != 0;
    const bool noImage = (switches & NO_IMAGE) != 0;

    // Window faults first; the table fault goes to the address the windows then lead to.
    std::vector<Fault> faults;
    if (switches & REFUSE_FIRST) {
        faults.push_back({true, kFirstWindow});
    }
    if (switches & SHORT_FIRST) {
        faults.push_back({false, kFirstWindow});
    }
    if (switches & REFUSE_SECOND) {
        faults.push_back({true, kSecondWindow});
    }
    if (switches & SHORT_SECOND) {
        faults.push_back({false, kSecondWindow});
    }
    std::uint32_t tableAddress = 0;
    Expected expected = expectLoad(pieces, faults, noImage, noDevice, &tableAddress);
    if (tableAddress != 0 && (switches & (REFUSE_TABLE | SHORT_TABLE))) {
        if (switches & REFUSE_TABLE) {
            faults.push_back({true, tableAddress});
        }
        if (switches & SHORT_TABLE) {
            faults.push_back({false, tableAddress});
        }
        expected = expectLoad(pieces, faults, noImage, noDevice, &tableAddress);
    }

    writeImage(pieces);
    std::string config = noImage ? std::string() : "image " + work().image + "\n";
    if (noDevice) {
        config += "fault open\n";
    }
    for (const Fault& f : faults) {
        config += std::string("fault ") + (f.refuse ? "refuse " : "short ") +
                  std::to_string(f.address) + "\n";
    }
    fuzzsupport::writeFile(work().config, config);
    fuzzsupport::removeFile(work().journal);

    // The load, through the identification as the tool starts it.
    kvOemstringResetForTest();
    kvPlatformResetForTest();
    KvPlatformId id;
    std::memset(&id, 0x5A, sizeof(id));
    const int identified = kvPlatformGetPlatformIdEx(&id);

    const Journal journal = readJournal();
    require(journal.opens == (expected.opened ? 1 : 0), "one open per load, none without device",
            describe(expected, journal));
    require(journal.closes == journal.opens, "the device is closed before the load returns",
            describe(expected, journal));
    require(journal.requests == expected.requests, "the requests the load makes",
            describe(expected, journal));

    // The identification from the strings read.
    const Platform platform = expectPlatform(expected);
    require(identified == platform.result, "the identification result",
            std::to_string(identified) + " for " + describe(expected, journal));
    if (identified == 0) {
        require(std::string(id.platformCode, 4) == platform.code + std::string(1, '\0') &&
                    id.revision == platform.revision,
                "the platform code and revision");
        KvPlatformId again{};
        require(kvPlatformGetPlatformIdEx(&again) == 0 && std::memcmp(&again, &id, sizeof(id)) == 0,
                "a known platform is answered from the cache");
    } else {
        const KvPlatformId zero{};
        require(std::memcmp(&id, &zero, sizeof(id)) == 0, "an unknown platform reads as zeros");
    }

    // The strings the getters hand out (a failed load would only be tried again).
    char buffer[32];
    if (expected.loaded) {
        for (unsigned int index = 0; index < 5; ++index) {
            std::memset(buffer, 'x', sizeof(buffer));
            require(kvOemstringGetOemstring(buffer, index) == 0 &&
                        std::memcmp(buffer, expected.strings.oemString[index], 32) == 0,
                    "each OEM string as the walk found it");
        }
        std::memset(buffer, 'x', sizeof(buffer));
        require(kvOemstringGetManufacturer(buffer) == 0 &&
                    std::memcmp(buffer, expected.strings.manufacturer, 32) == 0,
                "the manufacturer as the walk found it");
        require(fuzzsupport::readFile(work().journal) == journal.text,
                "a loaded table is not read again");
    }

    // The walk on what was read, and on the table cut short in a buffer of exactly its size.
    if (expected.loaded) {
        const std::uint32_t count = expected.requests.back().count < kTableSize
                                        ? expected.requests.back().count
                                        : kTableSize;
        const std::vector<std::uint8_t> table = readMemory(pieces, tableAddress, count, kTableSize);
        checkStrings(expected.strings, table);

        std::size_t used = table.size();
        while (used > 0 && table[used - 1] == 0) {
            --used;
        }
        std::unique_ptr<std::uint8_t[]> cut(new std::uint8_t[used == 0 ? 1 : used]);
        std::memcpy(cut.get(), table.data(), used);
        KvOemstringStrings strings;
        kvOemstringWalkTable(cut.get(), used, 0xFFFF, &strings);
        checkStrings(strings, table);
    }
    return 0;
}
