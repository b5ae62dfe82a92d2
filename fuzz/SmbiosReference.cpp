#include "SmbiosReference.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

namespace smbiosref {

namespace {

constexpr std::uint64_t kWindows[] = {0xF0000, 0xF7FF0};
constexpr std::uint32_t kWindowSize = 0x8010;
constexpr std::size_t kLastAnchorStart = 0x8008; // positions below it are looked at
constexpr std::size_t kEntryBytes = 15;          // "_DMI_" to the BCD revision
constexpr std::uint32_t kTableSize = 0x10000;
constexpr std::uint64_t kOneMegabyte = 0x100000;

std::uint32_t little(const std::uint8_t* at, int width) {
    std::uint32_t value = 0;
    for (int i = 0; i < width; ++i) {
        value |= static_cast<std::uint32_t>(at[i]) << (8 * i);
    }
    return value;
}

void keep(char (&to)[32], const std::uint8_t* from, std::size_t length) {
    std::memset(to, 0, sizeof(to));
    std::memcpy(to, from, std::min<std::size_t>(length, 31));
}

} // namespace

void readMemory(const std::vector<Piece>& pieces, std::uint64_t address, std::uint32_t count,
                std::uint8_t* out, std::uint32_t size) {
    std::memset(out, 0, size);
    const std::uint64_t end = address + std::min(count, size);
    for (const Piece& p : pieces) {
        const std::uint64_t from = std::max(address, p.address);
        const std::uint64_t to = std::min<std::uint64_t>(end, p.address + p.bytes.size());
        if (from < to) {
            std::memcpy(out + (from - address), p.bytes.data() + (from - p.address),
                        static_cast<std::size_t>(to - from));
        }
    }
}

std::size_t usedLength(const std::uint8_t* bytes, std::size_t size) {
    while (size > 0 && bytes[size - 1] == 0) {
        --size;
    }
    return size;
}

Anchor findAnchor(const std::uint8_t* window, std::size_t size) {
    // Each position in turn, one byte at a time: "_DMI_", then its 15-byte entry point (up to
    // the BCD revision) inside the window and summing to 0 modulo 256.
    Anchor a;
    for (std::size_t at = 0; at < kLastAnchorStart; ++at) {
        if (at + kEntryBytes > size) {
            break; // no entry point starting here or later fits in the window
        }
        if (window[at] != '_' || window[at + 1] != 'D' || window[at + 2] != 'M' ||
            window[at + 3] != 'I' || window[at + 4] != '_') {
            continue;
        }
        unsigned int sum = 0;
        for (std::size_t i = 0; i < kEntryBytes; ++i) {
            sum += window[at + i];
        }
        if (sum % 256 == 0) {
            a.found = true;
            a.tableLength = static_cast<std::uint16_t>(little(window + at + 6, 2));
            a.tableAddress = little(window + at + 8, 4);
            return a;
        }
    }
    return a;
}

namespace {

// The string set of a structure, from `at`: NUL-terminated strings, closed by one more NUL
// (DSP0134: a structure without strings ends in two NULs, read here as one empty string).
struct StringSet {
    std::vector<std::pair<std::size_t, std::size_t>> strings; // start and length of each
    bool closed = false;  // false: the bytes read end before the closing NUL
    std::size_t next = 0; // where the next structure starts, when closed
};

StringSet readStringSet(const std::uint8_t* table, std::size_t size, std::size_t at) {
    StringSet set;
    while (at < size) {
        std::size_t end = at;
        while (end < size && table[end] != 0) {
            ++end;
        }
        if (end == size) {
            return set; // a string without its NUL
        }
        set.strings.emplace_back(at, end - at);
        if (end + 1 == size) {
            return set; // the bytes read end before the closing NUL could follow
        }
        if (table[end + 1] == 0) {
            set.closed = true;
            set.next = end + 2;
            return set;
        }
        at = end + 1;
    }
    return set;
}

} // namespace

Strings walk(const std::uint8_t* table, std::size_t size, std::uint32_t tableLength) {
    // DSP0134 structure: byte 0 the type, byte 1 the length of the formatted area (the 4-byte
    // header included), bytes 2 and 3 the handle, then the string set. The first type-1
    // structure gives the manufacturer (string 0) and the first type-11 structure the OEM
    // strings 0 to 4, in the order they stand; its Count byte (offset 4) is not consulted. The
    // walk ends at a length byte of 0, or too short to hold the header, at a string set that
    // would start at or past the table length of the entry point, at the end of the bytes read;
    // type 127 (end of table) is passed like any other structure.
    Strings s{};
    bool typeDone[128] = {};
    std::size_t structure = 0;
    while (structure + 2 <= size) {
        const std::uint8_t type = table[structure];
        const std::uint8_t formatted = table[structure + 1];
        if (formatted < 4) {
            break;
        }
        const std::size_t stringsAt = structure + formatted;
        if (stringsAt >= tableLength) {
            break;
        }
        const StringSet set = readStringSet(table, size, stringsAt);
        const bool first = type < 128 && !typeDone[type];
        for (std::size_t n = 0; first && n < set.strings.size(); ++n) {
            const std::uint8_t* text = table + set.strings[n].first;
            if (type == 1 && n == 0) {
                keep(s.manufacturer, text, set.strings[n].second);
            } else if (type == 11 && n < 5) {
                keep(s.oemString[n], text, set.strings[n].second);
            }
        }
        if (!set.closed) {
            break;
        }
        if (type < 128) {
            typeDone[type] = true;
        }
        structure = set.next;
    }
    return s;
}

std::string Faults::answer(std::uint64_t address) const {
    if (std::find(refuse.begin(), refuse.end(), address) != refuse.end()) {
        return "refused";
    }
    if (noImage) {
        return "no-image";
    }
    if (std::find(shortReply.begin(), shortReply.end(), address) != shortReply.end()) {
        return "short";
    }
    return "ok";
}

Load load(const std::vector<Piece>& pieces, const Faults& faults) {
    Load l;
    if (faults.noDevice) {
        return l;
    }
    l.opened = true;
    static std::vector<std::uint8_t> bytes(kWindowSize);
    static std::vector<std::uint8_t> table(kTableSize);
    Anchor anchor;
    for (std::uint64_t window : kWindows) {
        const std::string result = faults.answer(window);
        l.requests.push_back({window, kWindowSize, kWindowSize, result});
        if (result != "ok") {
            continue;
        }
        readMemory(pieces, window, kWindowSize, bytes.data(), kWindowSize);
        anchor = findAnchor(bytes.data(), bytes.size());
        if (anchor.found) {
            break;
        }
    }
    if (!anchor.found || anchor.tableAddress == 0) {
        return l;
    }
    // A table below 1 MB is read up to 1 MB at most; the reply always fills 0x10000 bytes.
    std::uint32_t count = kTableSize;
    if (anchor.tableAddress < kOneMegabyte && anchor.tableAddress + kTableSize > kOneMegabyte) {
        count = static_cast<std::uint32_t>(kOneMegabyte - anchor.tableAddress);
    }
    l.tableAddress = anchor.tableAddress;
    l.tableCount = count;
    const std::string result = faults.answer(anchor.tableAddress);
    l.requests.push_back({anchor.tableAddress, count, kTableSize, result});
    if (result != "ok") {
        return l;
    }
    readMemory(pieces, anchor.tableAddress, count, table.data(), kTableSize);
    l.strings = walk(table.data(), table.size(), anchor.tableLength);
    l.loaded = true;
    return l;
}

Platform identify(const Load& load) {
    Platform p;
    if (!load.loaded) {
        return p;
    }
    const std::string oem2 = load.strings.oemString[2];
    const std::string text = load.strings.oemString[4];
    const std::string manufacturer = load.strings.manufacturer;
    std::string code;
    if (oem2 == "QTD" || oem2 == "QTF") {
        code = oem2;
    } else if (manufacturer == "NEC") {
        code = "QTD";
    } else if (manufacturer == "Supermicro" || manufacturer == "Advantech") {
        code = "QTF";
    }
    long long revision = 0;
    if ((code == "QTD" && (text.empty() || text == " ")) || (code == "QTF" && text.empty())) {
        revision = 1;
    } else if (text.size() >= 3 && !code.empty() && text.compare(0, 3, code) == 0) {
        for (std::size_t i = 3; i < text.size() && revision >= 0; ++i) {
            if (text[i] < '0' || text[i] > '9') {
                revision = -1;
            } else if (revision <= INT_MAX) {
                revision = revision * 10 + (text[i] - '0');
            }
        }
    }
    if (revision <= 0 || revision > INT_MAX) {
        return p;
    }
    p.result = 0;
    p.code = code;
    p.revision = static_cast<std::int32_t>(revision);
    return p;
}

} // namespace smbiosref
