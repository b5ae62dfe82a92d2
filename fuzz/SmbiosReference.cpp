#include "SmbiosReference.h"

#include <algorithm>
#include <climits>
#include <cstring>

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
    // The first "_DMI_" whose 15 entry-point bytes lie in the window and sum to 0 mod 256.
    static const std::uint8_t kDmi[5] = {'_', 'D', 'M', 'I', '_'};
    Anchor a;
    if (size < kEntryBytes) {
        return a;
    }
    const std::size_t end = std::min(kLastAnchorStart, size - kEntryBytes + 1);
    for (std::size_t at = 0; at < end; ++at) {
        const void* underscore = std::memchr(window + at, '_', end - at);
        if (underscore == nullptr) {
            break;
        }
        at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(underscore) - window);
        bool match = true;
        for (std::size_t i = 0; i < 5 && match; ++i) {
            match = window[at + i] == kDmi[i];
        }
        if (!match) {
            continue;
        }
        unsigned int sum = 0;
        for (std::size_t i = 0; i < kEntryBytes; ++i) {
            sum += window[at + i];
        }
        if (sum % 256 != 0) {
            continue;
        }
        a.found = true;
        a.tableLength = static_cast<std::uint16_t>(little(window + at + 6, 2));
        a.tableAddress = little(window + at + 8, 4);
        return a;
    }
    return a;
}

Strings walk(const std::uint8_t* table, std::size_t size, std::uint32_t tableLength) {
    Strings s{};
    bool walked[128] = {};
    std::size_t header = 0; // where the structure starts
    while (header + 1 < size) {
        const std::uint8_t type = table[header];
        const std::uint8_t length = table[header + 1];
        if (length < 4) {
            break; // 0 ends the table; 1 to 3 leave no room for the header
        }
        std::size_t at = header + length; // the string set
        if (at >= tableLength || at >= size) {
            break;
        }
        const bool first = type >= 128 || !walked[type];
        // The strings, numbered from 0; a set without strings is one empty string 0.
        for (unsigned int number = 0;; ++number) {
            const std::size_t start = at;
            while (at < size && table[at] != 0) {
                ++at;
            }
            if (at >= size) {
                return s; // the set runs to the end of the bytes read
            }
            if (first && type == 1 && number == 0) {
                keep(s.manufacturer, table + start, at - start);
            }
            if (first && type == 11 && number < 5) {
                keep(s.oemString[number], table + start, at - start);
            }
            ++at; // past the string's NUL
            if (at >= size) {
                return s;
            }
            if (table[at] == 0) {
                break; // the NUL that closes the set
            }
        }
        if (type < 128) {
            walked[type] = true;
        }
        header = at + 1;
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
