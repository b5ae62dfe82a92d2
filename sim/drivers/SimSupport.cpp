#include "SimSupport.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <thread>
#include <fstream>
#include <sstream>
#include <system_error>

namespace sim {

std::string environment(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return fallback;
    }
    return value;
}

namespace {

// The address of "callback:ADDRESS" (hex); 0 when the text names a file instead, or when the
// address is not a number (isCallback tells the two apart).
std::uintptr_t callbackAddress(const char* text, bool& isCallback) {
    const char prefix[] = "callback:";
    isCallback = std::strncmp(text, prefix, sizeof(prefix) - 1) == 0;
    if (!isCallback) {
        return 0;
    }
    return static_cast<std::uintptr_t>(std::strtoull(text + sizeof(prefix) - 1, nullptr, 16));
}

typedef const char* (*MemoryStore)(const char* text);

} // namespace

void journal(const std::string& line) {
    const char* path = std::getenv("DURNAVEL_SIM_JOURNAL");
    if (path == nullptr || *path == '\0') {
        return;
    }
    bool isCallback = false;
    if (const std::uintptr_t address = callbackAddress(path, isCallback)) {
        typedef void (*Sink)(const char*);
        reinterpret_cast<Sink>(address)(line.c_str());
    }
    if (isCallback) {
        return;
    }
    // One write of the whole line, without a stream buffer of its own.
    std::ofstream out;
    out.rdbuf()->pubsetbuf(nullptr, 0);
    out.open(path, std::ios::binary | std::ios::app);
    const std::string text = line + '\n';
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::string hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(value));
    return text;
}

bool parseNumber(const std::string& text, std::uint32_t& value) {
    if (text.empty()) {
        return false;
    }
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (text[2] == '-' || text[2] == '+' || text[2] == ' ') {
            return false;
        }
        unsigned long long v = std::strtoull(begin + 2, &end, 16);
        if (errno != 0 || *end != '\0' || end == begin + 2 || v > 0xFFFFFFFFull) {
            return false;
        }
        value = static_cast<std::uint32_t>(v);
        return true;
    }
    if (!(text[0] == '-' || (text[0] >= '0' && text[0] <= '9'))) {
        return false;
    }
    long long v = std::strtoll(begin, &end, 10);
    if (errno != 0 || *end != '\0' || end == begin || v < -2147483648LL || v > 0xFFFFFFFFLL) {
        return false;
    }
    value = static_cast<std::uint32_t>(v);
    return true;
}

namespace {

std::vector<std::string> split(const std::string& text, const std::string& separators) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : text) {
        if (separators.find(c) != std::string::npos) {
            if (!part.empty()) {
                parts.push_back(part);
            }
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (!part.empty()) {
        parts.push_back(part);
    }
    return parts;
}

} // namespace

namespace {

struct ParsedFaults {
    bool parsed = false;
    std::string text;
    Faults faults;
};

ParsedFaults& parsedFaults() {
    static ParsedFaults cache;
    return cache;
}

} // namespace

const Faults& Faults::read() {
    ParsedFaults& cache = parsedFaults();
    const char* now = std::getenv("DURNAVEL_SIM_FAULTS");
    if (now == nullptr) {
        now = "";
    }
    if (!cache.parsed || cache.text != now) {
        cache.text = now;
        cache.faults = parse(cache.text);
        cache.parsed = true;
    }
    return cache.faults;
}

void Faults::forget() {
    ParsedFaults& cache = parsedFaults();
    cache.parsed = false;
    std::string().swap(cache.text);
    cache.faults = Faults();
}

Faults Faults::parse(const std::string& text) {
    Faults f;
    for (const std::string& sw : split(text, ", ;")) {
        std::uint32_t n = 0;
        std::string::size_type eq = sw.find('=');
        std::string key = sw.substr(0, eq);
        std::string arg = eq == std::string::npos ? std::string() : sw.substr(eq + 1);
        bool ok = true;
        const bool isStatus = sw.compare(0, 7, "status:") == 0;
        if ((isStatus || sw.compare(0, 7, "answer:") == 0) && eq != std::string::npos) {
            std::string entry = sw.substr(7, eq - 7);
            std::string::size_type at = arg.find('@');
            std::uint32_t status = 0;
            std::uint32_t onCall = 0;
            ok = parseNumber(arg.substr(0, at), status) &&
                 (at == std::string::npos || (parseNumber(arg.substr(at + 1), onCall) && onCall));
            if (ok) {
                (isStatus ? f.statuses : f.answers)[entry] =
                    Status{static_cast<std::int32_t>(status), onCall};
            }
        } else if (key == "enum-order" && arg == "sorted") {
            f.enumOrder = Order::Sorted;
        } else if (key == "enum-order" && arg == "written") {
            f.enumOrder = Order::Written;
        } else if (key == "enum-order" && arg == "reversed") {
            f.enumOrder = Order::Reversed;
        } else if (sw.compare(0, 6, "delay:") == 0 && eq != std::string::npos) {
            ok = parseNumber(arg, n);
            if (ok) {
                f.delays[sw.substr(6, eq - 6)] = n;
            }
        } else if (sw.compare(0, 8, "missing:") == 0 && sw.size() > 8) {
            f.missing.push_back(sw.substr(8));
        } else if (sw == "hooks") {
            f.preHook = f.postHook = true;
        } else if (sw == "hooks:pre") {
            f.preHook = true;
        } else if (sw == "hooks:post") {
            f.postHook = true;
        } else if (key == "profile-count" && parseNumber(arg, n)) {
            f.hasProfileCount = true;
            f.profileCount = n;
        } else if (key == "enum-short" && parseNumber(arg, n)) {
            f.enumShort = n;
        } else if (key == "enum-count" && parseNumber(arg, n)) {
            f.hasEnumCount = true;
            f.enumCount = n;
        } else if (key == "extra-setting") {
            std::string::size_type colon = arg.find(':');
            std::uint32_t id = 0;
            std::uint32_t value = 0;
            ok = colon != std::string::npos && parseNumber(arg.substr(0, colon), id) &&
                 parseNumber(arg.substr(colon + 1), value);
            if (ok) {
                f.extraSettings.emplace_back(id, value);
            }
        } else {
            ok = false;
        }
        if (!ok) {
            f.unknown.push_back(sw);
        }
    }
    return f;
}

bool Faults::isMissing(const std::string& name, std::uint32_t id) const {
    for (const std::string& m : missing) {
        std::uint32_t n = 0;
        if (m == name || (parseNumber(m, n) && n == id)) {
            return true;
        }
    }
    return false;
}

bool Faults::injected(const char* entry, std::uint32_t callNumber, std::int32_t& status) const {
    if (auto delay = delays.find(entry); delay != delays.end()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(delay->second));
    }
    auto it = statuses.find(entry);
    if (it == statuses.end() || (it->second.onCall != 0 && it->second.onCall != callNumber)) {
        return false;
    }
    status = it->second.status;
    return true;
}

bool Faults::answered(const char* entry, std::uint32_t callNumber, std::int32_t& value) const {
    auto it = answers.find(entry);
    if (it == answers.end() || (it->second.onCall != 0 && it->second.onCall != callNumber)) {
        return false;
    }
    value = it->second.status;
    return true;
}

namespace {

StoreRead parseStore(std::istream& in, StoreEntries& entries, std::string& problem) {
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::vector<std::string> words = split(line, " \t");
        if (words.empty() || words[0][0] == '#') {
            continue;
        }
        std::uint32_t key = 0;
        std::uint32_t value = 0;
        if (words.size() != 2 || !parseNumber(words[0], key) || !parseNumber(words[1], value)) {
            problem = "line" + std::to_string(number);
            entries.clear();
            return StoreRead::Malformed;
        }
        entries.emplace_back(key, value);
    }
    return StoreRead::Ok;
}

} // namespace

StoreRead readStore(const std::string& path, StoreEntries& entries, std::string& problem) {
    entries.clear();
    bool isCallback = false;
    if (const std::uintptr_t address = callbackAddress(path.c_str(), isCallback)) {
        const char* text = reinterpret_cast<MemoryStore>(address)(nullptr);
        if (text == nullptr) {
            return StoreRead::Absent;
        }
        std::istringstream in(text);
        return parseStore(in, entries, problem);
    }
    if (isCallback) {
        problem = "unreadable";
        return StoreRead::Malformed;
    }
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        return StoreRead::Absent;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        problem = "unreadable";
        return StoreRead::Malformed;
    }
    return parseStore(in, entries, problem);
}

bool writeStore(const std::string& path, const StoreEntries& entries, bool keysInHex,
                std::string& problem) {
    std::ostringstream text;
    for (const auto& e : entries) {
        if (keysInHex) {
            text << hex32(e.first) << ' ' << hex32(e.second) << '\n';
        } else {
            text << e.first << ' ' << static_cast<std::int32_t>(e.second) << '\n';
        }
    }
    bool isCallback = false;
    if (const std::uintptr_t address = callbackAddress(path.c_str(), isCallback)) {
        reinterpret_cast<MemoryStore>(address)(text.str().c_str());
        return true;
    }
    if (isCallback) {
        problem = "cannot-create-temporary";
        return false;
    }
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            problem = "cannot-create-temporary";
            return false;
        }
        const std::string whole = text.str();
        out.write(whole.data(), static_cast<std::streamsize>(whole.size()));
        out.flush();
        if (!out) {
            problem = "cannot-write-temporary";
            out.close();
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        problem = "cannot-rename";
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return false;
    }
    return true;
}

} // namespace sim
