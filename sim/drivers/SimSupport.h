// What the simulated driver libraries share: their configuration from the environment, the
// fault switches, the call journal and the text store.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace sim {

// The value of an environment variable, or fallback when it is unset or empty.
std::string environment(const char* name, const std::string& fallback = std::string());

// Appends one line (a line feed is added) to the journal named by DURNAVEL_SIM_JOURNAL, if set.
// The file is opened and closed for every line, so several loads and processes can share it.
// "callback:ADDRESS" (hex) instead hands each line, without its line feed, to the function
// void (*)(const char*) at that address: a program that loads the library itself (the fuzz
// targets) keeps the journal in memory that way.
void journal(const std::string& line);

// "0x" and eight hex digits.
std::string hex32(std::uint32_t value);

// The fault switches of DURNAVEL_SIM_FAULTS, read afresh for every call.
struct Faults {
    // status:ENTRY=N or status:ENTRY=N@K: the entry returns N (on its K-th call only).
    struct Status {
        std::int32_t status;
        std::uint32_t onCall; // 0: every call
    };
    std::map<std::string, Status, std::less<>> statuses;
    // answer:ENTRY=N or answer:ENTRY=N@K: the entry does its work as usual and then returns N
    // in place of its own result (on its K-th call only).
    std::map<std::string, Status, std::less<>> answers;
    // missing:ENTRY: nvapi_QueryInterface has no entry point for ENTRY (a name or an ID).
    std::vector<std::string> missing;
    // hooks, hooks:pre, hooks:post: nvapi_QueryInterface provides the call hooks.
    bool preHook = false;
    bool postHook = false;
    // profile-count=N: NvAPI_DRS_GetProfileInfo announces N settings.
    bool hasProfileCount = false;
    std::uint32_t profileCount = 0;
    // enum-short=N: NvAPI_DRS_EnumSettings hands out N settings fewer than it could.
    std::uint32_t enumShort = 0;
    // enum-count=N: NvAPI_DRS_EnumSettings reports N settings, whatever it wrote.
    bool hasEnumCount = false;
    std::uint32_t enumCount = 0;
    // extra-setting=ID:VALUE: NvAPI_DRS_LoadSettings appends this setting to the base profile.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> extraSettings;
    // enum-order=sorted|written|reversed: the order in which NvAPI_DRS_EnumSettings hands out
    // the base profile. sorted: as held, a new setting inserted before the first larger ID;
    // written: the setting written last comes last; reversed: as held, last first.
    enum class Order { Sorted, Written, Reversed };
    Order enumOrder = Order::Sorted;
    // delay:ENTRY=MS: ENTRY waits MS milliseconds before it does anything (a run that stays
    // inside the driver long enough for a second process to start meanwhile).
    std::map<std::string, std::uint32_t, std::less<>> delays;
    // Switches the simulator did not understand (journalled at load).
    std::vector<std::string> unknown;

    // The switches of DURNAVEL_SIM_FAULTS as it reads now; parsed again only when it changed.
    static const Faults& read();
    // Frees what read() keeps (the next call parses again), so that the library holds no memory
    // between two uses of the driver.
    static void forget();
    static Faults parse(const std::string& text);

    bool isMissing(const std::string& name, std::uint32_t id) const;
    // Waits as long as a delay switch asks for the entry, then tells the injected status of the
    // entry for its callNumber-th call (counted from 1), if any.
    bool injected(const char* entry, std::uint32_t callNumber, std::int32_t& status) const;
    // The value an answer switch puts in place of the entry's own result on its callNumber-th
    // call, if any.
    bool answered(const char* entry, std::uint32_t callNumber, std::int32_t& value) const;
};

// A store: keys and 32-bit values, one "KEY VALUE" pair per line, in file order. Blank lines and
// lines starting with '#' are ignored. Numbers are decimal (a leading '-' allowed) or "0x" hex.
typedef std::vector<std::pair<std::uint32_t, std::uint32_t>> StoreEntries;

//
// "callback:ADDRESS" (hex) in place of a path keeps the store in the memory of the program that
// loaded the library (the fuzz targets): the function const char* (*)(const char* text) at that
// address is called with nullptr to read the store (it returns the text, or nullptr when there
// is no store) and with the whole new text to replace it.
enum class StoreRead { Ok, Absent, Malformed };
StoreRead readStore(const std::string& path, StoreEntries& entries, std::string& problem);

// Writes the whole store to PATH.tmp and renames it over PATH, so that a failure leaves the
// store as it was. keysInHex selects "0x%08X" keys and values instead of decimal ones.
bool writeStore(const std::string& path, const StoreEntries& entries, bool keysInHex,
                std::string& problem);

// Parses a decimal or "0x" hex number into 32 bits; false for anything else.
bool parseNumber(const std::string& text, std::uint32_t& value);

} // namespace sim
