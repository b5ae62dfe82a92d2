// Feeds the SMBIOS load of kvOemstring, and the platform identification on top of it, with
// arbitrary physical memory served by the host layer's platform device (the real load path:
// CreateFileW, DeviceIoControl, CloseHandle on \\.\vesnara, the device serving the memory from
// this process), with device faults, and compares every answer with a reference reading
// (SmbiosReference.cpp) written from the description below.
//
// Input:
//   byte 0   device faults: 0x01 refuse the first window, 0x02 short reply to it, 0x04 and 0x08
//            the same for the second window, 0x10 and 0x20 for the table read, 0x40 no device,
//            0x80 no image (every read fails)
//   then pieces of memory, in order, a later one written over an earlier one:
//            u8 kind (bit 0: 0 the bytes follow, 1 one byte repeated), u32 address,
//            u16 length, then `length` bytes (kind 0, fewer when the input ends) or the one byte
// Memory no piece covers reads as 0.
//
// What the load does. It opens the device once (none when the device is not there) and closes
// it before it returns. It reads the window of 0x8010 bytes at 0xF0000, and only when that gives
// no entry point the one at 0xF7FF0; a refused or short reply counts as no entry point. In a
// window it looks at the positions below 0x8008 in order for "_DMI_" whose 15 bytes (up to the
// BCD revision) lie inside the window and sum to 0 modulo 256; the first such gives the table
// length (u16 at +6) and address (u32 at +8). An address of 0 is no table. The table is read
// with a 0x10000-byte buffer, asking for 0x10000 bytes, or for 0x100000 minus the address when
// a table below 1 MB would pass 1 MB; only a reply of the whole buffer counts. Every
// request is journalled with its address, byte count, buffer size and result.
//
// The walk of the table: structures from offset 0, each a type byte, a length byte (the
// formatted part, header included) and then a string set: NUL-terminated strings closed by one
// more NUL (no strings: two NULs, read as one empty string). A length byte below 4 ends the
// walk; so does a string set starting at or past the table length, and a string set that runs
// to the end of the bytes read (strings kept before stay). The first structure of type 1 gives
// the manufacturer (its first string, whatever its fields say) and the first of type 11 the
// OEM strings 0 to 4 (its first five strings, whatever its Count byte says); later structures
// of these types are passed over; a type-127 structure is walked past like any other. Each
// string is kept as its first 31 characters. A table without them gives empty strings.
//
// The identification then takes OEM string 2 "QTD" or "QTF" as the code, else the manufacturer
// "NEC" (QTD), "Supermicro" or "Advantech" (QTF), and reads the revision from OEM string 4 (see
// kvPlatform.h); a failed load or revision gives -3 and a zeroed record.
//
// The walk also runs on the table cut to its last non-zero byte, in a buffer of exactly that
// size, against the reference on the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "SmbiosReference.h"
#include "hostwinDevice.h"
#include "platform/kvOemstring.h"
#include "platform/kvPlatform.h"
#include "platform/kviDebug.h"

namespace {

using fuzzsupport::require;
using smbiosref::Piece;
using smbiosref::Request;

constexpr std::uint64_t kFirstWindow = 0xF0000;
constexpr std::uint64_t kSecondWindow = 0xF7FF0;
constexpr std::uint32_t kTableSize = 0x10000;

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

// The device's side: the memory it serves and the journal lines it writes.
struct Served {
    const std::vector<Piece>* pieces = nullptr;
    std::string journal;
};

void readServed(void* context, std::uint64_t address, std::uint32_t count, unsigned char* out) {
    smbiosref::readMemory(*static_cast<Served*>(context)->pieces, address, count, out, count);
}

void journalServed(void* context, const char* line, std::size_t length) {
    static_cast<Served*>(context)->journal.append(line, length);
}

struct Journal {
    int opens = 0;
    int closes = 0;
    std::vector<Request> requests;
};

Journal readJournal(const std::string& text) {
    Journal j;
    for (const std::string& line : fuzzsupport::linesOf(text)) {
        if (line.rfind("open ok", 0) == 0) {
            require(j.closes == j.opens, "one open at a time", text);
            ++j.opens;
        } else if (line == "close") {
            ++j.closes;
        } else {
            require(line.rfind("request ", 0) == 0 && j.opens == j.closes + 1,
                    "requests only on an open device", text);
            j.requests.push_back(
                {std::stoull(std::string(fuzzsupport::field(line, "address")), nullptr, 0),
                 static_cast<std::uint32_t>(
                     std::stoul(std::string(fuzzsupport::field(line, "count")), nullptr, 0)),
                 static_cast<std::uint32_t>(
                     std::stoul(std::string(fuzzsupport::field(line, "out")), nullptr, 0)),
                 std::string(fuzzsupport::field(line, "result"))});
        }
    }
    return j;
}

std::string describe(const smbiosref::Load& e, const std::string& journal) {
    std::string s = "expected requests:";
    for (const Request& r : e.requests) {
        s += " " + fuzzsupport::hex32(static_cast<std::uint32_t>(r.address)) + "/" +
             fuzzsupport::hex32(r.count) + "/" + r.result;
    }
    return s + "\njournal:\n" + journal;
}

std::string shown(const char (&s)[32]) {
    return "\"" + std::string(s, strnlen(s, sizeof(s))) + "\"";
}

// The product's strings against the reference's, all 32 bytes of each.
void sameStrings(const KvOemstringStrings& product, const smbiosref::Strings& reference,
                 const char* what) {
    if (std::memcmp(product.manufacturer, reference.manufacturer, 32) != 0) {
        require(false, what,
                "manufacturer " + shown(product.manufacturer) + ", reference " +
                    shown(reference.manufacturer));
    }
    for (int i = 0; i < 5; ++i) {
        if (std::memcmp(product.oemString[i], reference.oemString[i], 32) != 0) {
            require(false, what,
                    "OEM string " + std::to_string(i) + " " + shown(product.oemString[i]) +
                        ", reference " + shown(reference.oemString[i]));
        }
    }
}

int diagnosticLine(const char* line) {
    require(line != nullptr && std::strncmp(line, "kvPlatformGetPlatformIdEx: Line", 31) == 0,
            "diagnostic lines carry the function name", line != nullptr ? line : "(null)");
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kvPlatformDebugLevel = 1;
    kviDebugSetHook(diagnosticLine);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzsupport::Input in(data, size);
    const std::uint8_t switches = in.u8();
    const std::vector<Piece> pieces = piecesOf(in);

    // Window faults first; the table fault goes to the address the windows then lead to.
    smbiosref::Faults faults;
    faults.noDevice = (switches & NO_DEVICE) != 0;
    faults.noImage = (switches & NO_IMAGE) != 0;
    if (switches & REFUSE_FIRST) {
        faults.refuse.push_back(kFirstWindow);
    }
    if (switches & SHORT_FIRST) {
        faults.shortReply.push_back(kFirstWindow);
    }
    if (switches & REFUSE_SECOND) {
        faults.refuse.push_back(kSecondWindow);
    }
    if (switches & SHORT_SECOND) {
        faults.shortReply.push_back(kSecondWindow);
    }
    smbiosref::Load expected = smbiosref::load(pieces, faults);
    if (expected.tableAddress != 0 && (switches & (REFUSE_TABLE | SHORT_TABLE))) {
        if (switches & REFUSE_TABLE) {
            faults.refuse.push_back(expected.tableAddress);
        }
        if (switches & SHORT_TABLE) {
            faults.shortReply.push_back(expected.tableAddress);
        }
        expected = smbiosref::load(pieces, faults);
    }

    // The device's configuration, as a vesnara.conf would say it.
    std::string config = faults.noImage ? std::string() : "image memory\n";
    if (faults.noDevice) {
        config += "fault open\n";
    }
    for (std::uint64_t address : faults.refuse) {
        config += "fault refuse " + std::to_string(address) + "\n";
    }
    for (std::uint64_t address : faults.shortReply) {
        config += "fault short " + std::to_string(address) + "\n";
    }
    Served served;
    served.pieces = &pieces;
    const HostwinMemory memory = {readServed, journalServed, &served};
    hostwinServeDeviceFromMemory(&memory, config.data(), config.size());

    // The load, through the identification as the tool starts it.
    kvOemstringResetForTest();
    kvPlatformResetForTest();
    KvPlatformId id;
    std::memset(&id, 0x5A, sizeof(id));
    const int identified = kvPlatformGetPlatformIdEx(&id);

    const std::string journalText = served.journal;
    const Journal journal = readJournal(journalText);
    if (journal.opens != (expected.opened ? 1 : 0) || journal.closes != journal.opens ||
        !(journal.requests == expected.requests)) {
        require(false,
                "one open per load (none without device), closed before the load returns, "
                "with the requests the reference makes",
                describe(expected, journalText));
    }

    // The identification from the strings read.
    const smbiosref::Platform platform = smbiosref::identify(expected);
    if (identified != platform.result) {
        require(false, "the identification result",
                std::to_string(identified) + " for " + describe(expected, journalText));
    }
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
    if (expected.loaded) {
        KvOemstringStrings got;
        for (unsigned int index = 0; index < 5; ++index) {
            require(kvOemstringGetOemstring(got.oemString[index], index) == 0,
                    "each OEM string of a loaded table");
        }
        require(kvOemstringGetManufacturer(got.manufacturer) == 0,
                "the manufacturer of a loaded table");
        sameStrings(got, expected.strings, "the strings of the load, as the reference reads them");
        require(served.journal == journalText, "a loaded table is not read again");

        // The walk on the table cut to its last non-zero byte, in a buffer of exactly that size.
        static std::vector<std::uint8_t> table(kTableSize);
        smbiosref::readMemory(pieces, expected.tableAddress, expected.tableCount, table.data(),
                              kTableSize);
        const std::size_t used = smbiosref::usedLength(table.data(), table.size());
        std::unique_ptr<std::uint8_t[]> cut(new std::uint8_t[used == 0 ? 1 : used]);
        std::memcpy(cut.get(), table.data(), used);
        KvOemstringStrings strings;
        kvOemstringWalkTable(cut.get(), used, 0xFFFF, &strings);
        sameStrings(strings, smbiosref::walk(cut.get(), used, 0xFFFF),
                    "the walk of a cut table, as the reference reads it");
    }
    hostwinServeDeviceFromMemory(nullptr, nullptr, 0);
    return 0;
}
