// Feeds tool::graphics::NvApiDrsMgr::get with arbitrary base profiles through the simulated
// nvapi.dll, loaded and unloaded for every input through the real client layer: the settings
// (IDs and values) come from its store, the counts it announces and enumerates from its fault
// switches.
//
// Input:
//   byte 0   switches: 0x01 the profile announces byte 1 settings (profile-count), 0x02 the
//            enumeration reports byte 2 settings (enum-count), 0x04 it hands out byte 3 settings
//            fewer (enum-short), 0x08 the call hooks are there, 0x10 NvAPI_DRS_GetProfileInfo
//            fails and 0x20 NvAPI_DRS_EnumSettings fails, with -104 when 0x40 is set, else -1;
//            0x80 the driver enumerates the profile last setting first (enum-order=reversed)
//   bytes 1 to 3  the counts of the switches
//   then the base profile, 8 bytes a setting: u32 ID, u32 value
//
// The result must be the one the profile calls for: the default record with the enumerated
// settings applied in order and the anti-aliasing fix-up, or a failure with the driver's status
// lines when a count is wrong, too large, or a setting is refused; a failed get keeps what was
// stored before the refusal. The expectation comes from the table of driver values below,
// written out here on its own, not from the manager's own tables.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "DriverRun.h"
#include "FuzzSupport.h"
#include "tool/graphics/NvApiDrsMgr.h"

namespace {

using fuzzsupport::require;
using namespace tool::graphics;

enum : std::uint8_t {
    PROFILE_COUNT = 0x01,
    ENUM_COUNT = 0x02,
    ENUM_SHORT = 0x04,
    HOOKS = 0x08,
    PROFILE_INFO_FAILS = 0x10,
    ENUM_FAILS = 0x20,
    NOT_SUPPORTED = 0x40,
    REVERSED = 0x80,
};

// How a driver setting lands in the record.
enum class Kind {
    Mapped,          // a listed driver value gives the field's code and sets its bit
    AnisoSelector,   // 0: field 0 and the bit; 1: the bit only
    AnisoLevel,      // a listed value gives the field's code; the bit is not set
    Replay,          // 0: the bit only; a listed value gives the code and the bit
    AlphaToCoverage, // 4: field 1; 0: field 0 unless it holds 2, 3 or 4; the bit is not set
    Frames,          // any value, stored as it is, and the bit
    Ignored,         // accepted, changes nothing
};

struct ValueCode {
    std::uint32_t driver;
    std::int32_t code;
};

struct Reference {
    std::uint32_t id;
    Kind kind;
    std::int32_t DrsParam::*field;
    std::uint64_t bit;
    std::vector<ValueCode> values;
};

const Reference kReference[] = {
    {0x10D2BB16, Kind::AnisoSelector, &DrsParam::anisotropicFiltering, 0x1, {}},
    {0x101E61A9,
     Kind::AnisoLevel,
     &DrsParam::anisotropicFiltering,
     0x1,
     {{1, 1}, {2, 2}, {4, 3}, {8, 4}, {16, 5}}},
    {0x107D639D, Kind::Mapped, &DrsParam::antiAliasingGammaCorrection, 0x2, {{0, 0}, {2, 1}}},
    {0x107EFC5B, Kind::Mapped, &DrsParam::antiAliasingMode, 0x4, {{0, 0}, {1, 3}, {2, 2}}},
    {0x10D773D2,
     Kind::Mapped,
     &DrsParam::antiAliasingSetting,
     0x8,
     {{0, 0}, {14, 1}, {16, 2}, {38, 3}, {37, 4}, {39, 5}, {40, 6}, {29, 7}}},
    {0x10D48A85,
     Kind::Replay,
     &DrsParam::antiAliasingTransparency,
     0x10,
     {{0x14, 2}, {0x24, 3}, {0x34, 4}}},
    {0x10FC2D9C, Kind::AlphaToCoverage, &DrsParam::antiAliasingTransparency, 0x10, {}},
    {0x007BA09E, Kind::Frames, &DrsParam::maximumPrerenderedFrames, 0x20, {}},
    {0x200AEBFC,
     Kind::Mapped,
     &DrsParam::multiDisplayMixedGpuAcceleration,
     0x40,
     {{0, 1}, {1, 2}, {3, 0}}},
    {0x00E73211,
     Kind::Mapped,
     &DrsParam::textureFilteringAnisotropicSampleOptimization,
     0x80,
     {{0, 0}, {1, 1}}},
    {0x0019BB68, Kind::Mapped, &DrsParam::textureFilteringNegativeLodBias, 0x100, {{0, 0}, {1, 1}}},
    {0x00CE2691,
     Kind::Mapped,
     &DrsParam::textureFilteringQuality,
     0x200,
     {{0, 0}, {0xFFFFFFF6u, 1}, {10, 2}, {20, 3}}},
    {0x002ECAF2,
     Kind::Mapped,
     &DrsParam::textureFilteringTrilinearOptimization,
     0x400,
     {{0, 0}, {1, 1}}},
    {0x20C1221E, Kind::Mapped, &DrsParam::threadedOptimization, 0x800, {{0, 0}, {1, 2}, {2, 1}}},
    {0x20FDD1F9, Kind::Mapped, &DrsParam::tripleBuffering, 0x1000, {{0, 0}, {1, 1}}},
    {0x00A879CF,
     Kind::Mapped,
     &DrsParam::verticalSync,
     0x2000,
     {{0x60925292, 0}, {0x08416747, 1}, {0x47814940, 2}}},
    {0x0084CD70, Kind::Ignored, nullptr, 0, {}},
    {0x107AFC5B, Kind::Ignored, nullptr, 0, {}},
};

// One enumerated setting applied to the record; false when the reader must refuse it.
bool apply(std::uint32_t id, std::uint32_t value, DrsParam& p) {
    const Reference* r = nullptr;
    for (const Reference& candidate : kReference) {
        if (candidate.id == id) {
            r = &candidate;
        }
    }
    if (r == nullptr) {
        return false;
    }
    const ValueCode* listed = nullptr;
    for (const ValueCode& v : r->values) {
        if (v.driver == value) {
            listed = &v;
        }
    }
    switch (r->kind) {
    case Kind::Ignored:
        return true;
    case Kind::Frames:
        p.*r->field = static_cast<std::int32_t>(value);
        p.enableSettings |= r->bit;
        return true;
    case Kind::AnisoSelector:
        if (value > 1) {
            return false;
        }
        if (value == 0) {
            p.*r->field = 0;
        }
        p.enableSettings |= r->bit;
        return true;
    case Kind::AlphaToCoverage:
        if (value == 4) {
            p.*r->field = 1;
        } else if (value == 0) {
            const std::int32_t now = p.*r->field;
            if (now != 2 && now != 3 && now != 4) {
                p.*r->field = 0;
            }
        } else {
            return false;
        }
        return true;
    case Kind::Replay:
        if (value == 0) {
            p.enableSettings |= r->bit;
            return true;
        }
        break;
    case Kind::AnisoLevel:
    case Kind::Mapped:
        break;
    }
    if (listed == nullptr) {
        return false;
    }
    p.*r->field = listed->code;
    if (r->kind != Kind::AnisoLevel) {
        p.enableSettings |= r->bit;
    }
    return true;
}

struct Outcome {
    bool ok;
    std::wstring text;
    DrsParam out;
};

// What get should give for the profile and the switches.
Outcome expectGet(const driverrun::Settings& profile, std::uint8_t switches,
                  const std::uint8_t counts[3]) {
    const std::int32_t injected = (switches & NOT_SUPPORTED) ? -104 : -1;
    Outcome o{false, driverrun::kFatal, makeDefaultDrsParam()};
    if (switches & PROFILE_INFO_FAILS) {
        o.text = driverrun::statusText(injected);
        return o;
    }
    const std::uint32_t announced =
        (switches & PROFILE_COUNT) ? counts[0] : static_cast<std::uint32_t>(profile.size());
    if (announced == 0) {
        o.ok = true;
        o.text.clear();
        return o;
    }
    if (announced > kMaxBaseProfileSettings) {
        return o;
    }
    if (switches & ENUM_FAILS) {
        o.text = driverrun::statusText(injected);
        return o;
    }
    if (profile.empty()) {
        return o; // the driver has nothing to enumerate from index 0
    }
    std::size_t written = std::min<std::size_t>(announced, profile.size());
    written -= std::min<std::size_t>(written, (switches & ENUM_SHORT) ? counts[2] : 0);
    const std::uint32_t reported =
        (switches & ENUM_COUNT) ? counts[1] : static_cast<std::uint32_t>(written);
    if (reported != announced) {
        return o;
    }
    // The driver hands the profile out as held, or last first. Records it did not fill stay
    // zero: setting ID 0, which the reader refuses.
    driverrun::Settings order = profile;
    if (switches & REVERSED) {
        std::reverse(order.begin(), order.end());
    }
    for (std::uint32_t i = 0; i < announced; ++i) {
        const bool filled = i < written;
        if (!apply(filled ? order[i].first : 0, filled ? order[i].second : 0, o.out)) {
            return o;
        }
    }
    // An override without a method reads as anti-aliasing off.
    if ((o.out.enableSettings & 0x4) && (o.out.enableSettings & 0x8) &&
        o.out.antiAliasingMode == 3 && o.out.antiAliasingSetting == 0) {
        o.out.antiAliasingMode = 1;
    }
    o.ok = true;
    o.text.clear();
    return o;
}

std::string faultsFor(std::uint8_t switches, const std::uint8_t counts[3]) {
    const std::string status = (switches & NOT_SUPPORTED) ? "-104" : "-1";
    std::string faults;
    if (switches & PROFILE_COUNT) {
        faults += "profile-count=" + std::to_string(counts[0]) + ",";
    }
    if (switches & ENUM_COUNT) {
        faults += "enum-count=" + std::to_string(counts[1]) + ",";
    }
    if (switches & ENUM_SHORT) {
        faults += "enum-short=" + std::to_string(counts[2]) + ",";
    }
    if (switches & HOOKS) {
        faults += "hooks,";
    }
    if (switches & REVERSED) {
        faults += "enum-order=reversed,";
    }
    if (switches & PROFILE_INFO_FAILS) {
        faults += "status:NvAPI_DRS_GetProfileInfo=" + status + ",";
    }
    if (switches & ENUM_FAILS) {
        faults += "status:NvAPI_DRS_EnumSettings=" + status + ",";
    }
    return faults;
}

std::string narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    driverrun::prepare();
    driverrun::catchDiagnostics();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzsupport::Input in(data, size);
    const std::uint8_t switches = in.u8();
    const std::uint8_t counts[3] = {in.u8(), in.u8(), in.u8()};
    driverrun::Settings profile;
    while (!in.empty()) {
        const std::uint32_t id = in.u32();
        profile.emplace_back(id, in.u32());
    }
    driverrun::start(faultsFor(switches, counts), profile);
    const std::string storeBefore = driverrun::nvapiStoreText();
    const Outcome expected = expectGet(profile, switches, counts);

    {
        NvApiDrsMgr mgr;
        mgr.debugLevel = 1;
        require(mgr.initialize(), "the manager opens on the simulated driver",
                narrow(mgr.getErrorMessage()));
        for (int round = 0; round < 2; ++round) {
            DrsParam out{};
            out.enableSettings = ~std::uint64_t{0};
            const bool ok = mgr.get(out);
            // The report is put together only when something is wrong.
            auto seen = [&] {
                return "got " + std::to_string(ok) + " " + driverrun::show(out) + "\nexpected " +
                       std::to_string(expected.ok) + " " + driverrun::show(expected.out) + "\n" +
                       narrow(mgr.getErrorMessage()) + driverrun::journalText();
            };
            if (ok != expected.ok || std::memcmp(&out, &expected.out, sizeof(out)) != 0 ||
                mgr.getErrorMessage() != expected.text || mgr.getInitState() != DrsMgr::READY) {
                require(ok == expected.ok, "get succeeds exactly when the profile allows it",
                        seen());
                require(driverrun::show(out) == driverrun::show(expected.out),
                        "the record read from the profile", seen());
                require(mgr.getErrorMessage() == expected.text, "the lines of a failed get",
                        seen());
                require(false, "get leaves the manager open", seen());
            }
        }
    }

    const std::vector<driverrun::Line> lines = driverrun::journal();
    driverrun::checkLifecycle(lines);
    const std::string& journal = driverrun::journalText();
    require(driverrun::journal(lines, "NvAPI_DRS_SetSetting").empty() &&
                driverrun::journal(lines, "NvAPI_DRS_SaveSettings").empty() &&
                driverrun::nvapiStoreText() == storeBefore,
            "reading writes nothing", journal);
    for (const driverrun::Line& l : driverrun::journal(lines, "NvAPI_DRS_EnumSettings")) {
        require(l["start"] == "0" && l["version"] == "0x00013020" &&
                    std::stoul(std::string(l["count-in"])) <= kMaxBaseProfileSettings,
                "the enumeration asks for at most 64 records from the start", journal);
    }
    return 0;
}
