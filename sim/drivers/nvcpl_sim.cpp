// The simulated nvcpl.dll: two entry points that read and write driver values by data index.
// The values live in a text store (index 4: anti-aliasing method code, index 6: frame-queue
// limit); NvCplSetDataInt writes the store at once. Every call is journalled.
#include <windows.h>

#include <cstdint>
#include <map>
#include <sstream>
#include <string>

#include "SimSupport.h"

namespace {

const std::uint32_t kAntiAliasingIndex = 4;
const std::uint32_t kFrameQueueLimitIndex = 6;

std::map<std::string, std::uint32_t> calls;

// The copy built to be planted beside the program (bin/drivers/planted/) says so in its load and
// unload lines: the tool must never load it.
#ifndef DURNAVEL_SIM_PLANTED
#define DURNAVEL_SIM_PLANTED 0
#endif
constexpr bool kPlanted = DURNAVEL_SIM_PLANTED != 0;

struct Lifetime {
    Lifetime() {
        sim::journal(kPlanted ? "nvcpl load planted" : "nvcpl load");
        for (const std::string& sw : sim::Faults::read().unknown) {
            sim::journal("nvcpl unknown-fault " + sw);
        }
    }
    ~Lifetime() { sim::journal(kPlanted ? "nvcpl unload planted" : "nvcpl unload"); }
} lifetime;

std::string storePath() {
    return sim::environment("DURNAVEL_NVCPL_STORE", "nvcpl-store.txt");
}

bool knownIndex(std::int32_t index) {
    return index == static_cast<std::int32_t>(kAntiAliasingIndex) ||
           index == static_cast<std::int32_t>(kFrameQueueLimitIndex);
}

// The store, or the driver's defaults (no anti-aliasing, 3 frames) when there is none.
bool readValues(sim::StoreEntries& entries, std::string& problem) {
    switch (sim::readStore(storePath(), entries, problem)) {
    case sim::StoreRead::Absent:
        entries = {{kAntiAliasingIndex, 0}, {kFrameQueueLimitIndex, 3}};
        return true;
    case sim::StoreRead::Malformed:
        return false;
    case sim::StoreRead::Ok:
        return true;
    }
    return false;
}

// One call of an entry point: its journal line and its number since the load.
struct Call {
    const char* entry;
    std::uint32_t number;
    std::ostringstream line;
};

// Journals the call and returns its BOOL, or the value an answer switch puts in its place (the
// call's own BOOL then shows as own=).
std::int32_t finish(Call& call, std::int32_t result) {
    std::int32_t answer;
    if (sim::Faults::read().answered(call.entry, call.number, answer)) {
        call.line << " own=" << result;
        result = answer;
    }
    call.line << " status=" << result;
    sim::journal(call.line.str());
    // Each call reads the switches afresh; nothing of them is kept between calls.
    sim::Faults::forget();
    return result;
}

// An injected result for the call, journalled, if the fault switches name one.
bool injected(Call& call, std::int32_t& result) {
    if (sim::Faults::read().injected(call.entry, call.number, result)) {
        call.line << " injected=yes status=" << result;
        sim::journal(call.line.str());
        sim::Faults::forget();
        return true;
    }
    return false;
}

} // namespace

extern "C" std::int32_t __cdecl NvCplGetDataInt(std::int32_t index, std::int32_t* value) {
    Call call{"NvCplGetDataInt", ++calls["NvCplGetDataInt"], {}};
    std::ostringstream& line = call.line;
    line << "nvcpl NvCplGetDataInt index=" << index;
    std::int32_t result;
    if (injected(call, result)) {
        return result;
    }
    if (value == nullptr || !knownIndex(index)) {
        return finish(call, FALSE);
    }
    sim::StoreEntries entries;
    std::string problem;
    if (!readValues(entries, problem)) {
        line << " store=malformed problem=" << problem;
        return finish(call, FALSE);
    }
    for (const auto& e : entries) {
        if (e.first == static_cast<std::uint32_t>(index)) {
            *value = static_cast<std::int32_t>(e.second);
            line << " value=" << *value;
            return finish(call, TRUE);
        }
    }
    line << " value=none";
    return finish(call, FALSE);
}

extern "C" std::int32_t __cdecl NvCplSetDataInt(std::int32_t index, std::int32_t value) {
    Call call{"NvCplSetDataInt", ++calls["NvCplSetDataInt"], {}};
    std::ostringstream& line = call.line;
    line << "nvcpl NvCplSetDataInt index=" << index << " value=" << value;
    std::int32_t result;
    if (injected(call, result)) {
        return result;
    }
    if (!knownIndex(index)) {
        return finish(call, FALSE);
    }
    sim::StoreEntries entries;
    std::string problem;
    if (!readValues(entries, problem)) {
        line << " store=malformed problem=" << problem;
        return finish(call, FALSE);
    }
    bool replaced = false;
    for (auto& e : entries) {
        if (e.first == static_cast<std::uint32_t>(index)) {
            e.second = static_cast<std::uint32_t>(value);
            replaced = true;
        }
    }
    if (!replaced) {
        entries.emplace_back(static_cast<std::uint32_t>(index), static_cast<std::uint32_t>(value));
    }
    if (!sim::writeStore(storePath(), entries, false, problem)) {
        line << " saved=no problem=" << problem;
        return finish(call, FALSE);
    }
    line << " saved=yes";
    return finish(call, TRUE);
}
