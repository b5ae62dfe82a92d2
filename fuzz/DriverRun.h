// The simulated driver libraries as the settings fuzz targets drive them: their stores and
// journal kept in memory of this process, the fault switches, and the lifecycle checks every
// run must pass.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace driverrun {

typedef std::vector<std::pair<std::uint32_t, std::uint32_t>> Settings;

// Points the loader at the simulated libraries of this build and their stores and journal at
// memory of this process, and keeps both libraries loaded for the whole run (once).
void prepare();

// Starts a run: no journal, the given fault switches, the nvapi.dll store holding `profile`
// (written only when not empty) and no nvcpl.dll store.
void start(const std::string& faults, const Settings& profile);

// One line of the driver journal: library, event and the whole text. The views point into the
// journal, which stays as it is until the next start() or driver call.
struct Line {
    std::string_view library;
    std::string_view event;
    std::string_view text;
    std::string_view operator[](std::string_view key) const;
};

std::vector<Line> journal();
std::vector<Line> journal(const std::vector<Line>& lines, const std::string& event);
const std::string& journalText();
std::string nvapiStoreText();
std::string nvcplStoreText();

// What every run leaves behind, whatever failed: each library loaded as often as unloaded,
// each NvAPI_Initialize followed by an NvAPI_Unload, each session created is destroyed again,
// NvAPI_Unload finds no session open, and each interface ID is looked up at most once per load.
void checkLifecycle(const std::vector<Line>& lines);

// The lines a failed manager leaves for a driver status.
std::wstring statusText(std::int32_t status);
extern const wchar_t kFatal[];
extern const wchar_t kNotSupported[];

// Catches the managers' diagnostic lines and checks that each names its writer.
void catchDiagnostics();

// The settings record as the managers take and hand it out, byte for byte: fourteen signed
// 32-bit fields, then the 64-bit mask in which bit i marks field i. Field numbers, in record
// order: 0 anisotropic filtering, 1 anti-aliasing gamma correction, 2 anti-aliasing mode,
// 3 anti-aliasing setting, 4 anti-aliasing transparency, 5 maximum pre-rendered frames,
// 6 multi-display mixed-GPU acceleration, 7 anisotropic sample optimization, 8 negative LOD
// bias, 9 texture filtering quality, 10 trilinear optimization, 11 threaded optimization,
// 12 triple buffering, 13 vertical sync.
struct Record {
    std::int32_t field[14];
    std::uint64_t mask;
};

// Every field value and the mask, for the reports of broken invariants.
std::string show(const Record& r);

} // namespace driverrun
