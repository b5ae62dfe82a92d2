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
// stored before the refusal. The expectation is worked out here on its own: the record's layout,
// its default, the limit of 64 settings and the driver values are written below from the
// record's documentation and NVIDIA's public NVAPI headers (NvApiDriverSettings.h for the
// setting IDs and values, nvapi.h for the record versions). None of the manager's own tables,
// constants or functions take part in it; the manager is only driven and its record compared
// byte for byte.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "DriverRun.h"
#include "FuzzSupport.h"
#include "tool/graphics/NvApiDrsMgr.h"

namespace {

using driverrun::Record;
using fuzzsupport::require;
using tool::graphics::DrsParam;
using tool::graphics::NvApiDrsMgr;

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

static_assert(sizeof(Record) == sizeof(DrsParam) && std::is_trivially_copyable<DrsParam>::value,
              "the record is fourteen 32-bit fields and a 64-bit mask");

const int kFrames = 5;
const int kAntiAliasingMode = 2;
const int kAntiAliasingSetting = 3;

// Where a read starts: every field 0 but the maximum pre-rendered frames, 3, and no bit set
// (3 with its bit clear is what a driver without an explicit value shows).
Record defaultRecord() {
    Record r{};
    r.field[kFrames] = 3;
    return r;
}

// At most this many settings are read from the base profile.
const std::uint32_t kProfileLimit = 64;

// NVDRS_SETTING version 1: 0x3020 bytes, version 1 in the upper half.
const char kSettingVersion[] = "0x00013020";

// The manager's state once it is open.
const std::int32_t kReady = 0x7FFFFFFF;

std::uint64_t bitOf(int field) {
    return std::uint64_t{1} << field;
}

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
    int field;
    std::vector<ValueCode> values;
};

// Setting IDs and driver values as NvApiDriverSettings.h names them (0x200AEBFC, the OpenGL
// multi-display setting, is not in the public header; its values are the documented ones).
const Reference kReference[] = {
    {0x10D2BB16, Kind::AnisoSelector, 0, {}}, // ANISO_MODE_SELECTOR: APP 0, USER 1
    {0x101E61A9, Kind::AnisoLevel, 0, {{1, 1}, {2, 2}, {4, 3}, {8, 4}, {16, 5}}},
    {0x107D639D, Kind::Mapped, 1, {{0, 0}, {2, 1}}}, // AA_MODE_GAMMACORRECTION OFF, ON_ALWAYS
    {0x107EFC5B,
     Kind::Mapped,
     2,
     {{0, 0}, {1, 3}, {2, 2}}}, // AA_MODE_SELECTOR APP, OVERRIDE, ENHANCE
    {0x10D773D2,
     Kind::Mapped,
     3,
     {{0, 0}, {14, 1}, {16, 2}, {38, 3}, {37, 4}, {39, 5}, {40, 6}, {29, 7}}}, // AA_MODE_METHOD
    {0x10D48A85, Kind::Replay, 4, {{0x14, 2}, {0x24, 3}, {0x34, 4}}},          // AA_MODE_REPLAY
    {0x10FC2D9C, Kind::AlphaToCoverage, 4, {}}, // AA_MODE_ALPHATOCOVERAGE OFF 0, ON 4
    {0x007BA09E, Kind::Frames, 5, {}},          // PRERENDERLIMIT
    {0x200AEBFC, Kind::Mapped, 6, {{0, 1}, {1, 2}, {3, 0}}},
    {0x00E73211, Kind::Mapped, 7, {{0, 0}, {1, 1}}}, // PS_TEXFILTER_ANISO_OPTS2
    {0x0019BB68, Kind::Mapped, 8, {{0, 0}, {1, 1}}}, // PS_TEXFILTER_NO_NEG_LODBIAS
    {0x00CE2691,
     Kind::Mapped,
     9,
     {{0, 0}, {0xFFFFFFF6u, 1}, {10, 2}, {20, 3}}},           // QUALITY_ENHANCEMENTS
    {0x002ECAF2, Kind::Mapped, 10, {{0, 0}, {1, 1}}},         // PS_TEXFILTER_DISABLE_TRILIN_SLOPE
    {0x20C1221E, Kind::Mapped, 11, {{0, 0}, {1, 2}, {2, 1}}}, // OGL_THREAD_CONTROL
    {0x20FDD1F9, Kind::Mapped, 12, {{0, 0}, {1, 1}}},         // OGL_TRIPLE_BUFFER
    {0x00A879CF,
     Kind::Mapped,
     13,
     {{0x60925292, 0}, {0x08416747, 1}, {0x47814940, 2}}}, // VSYNCMODE PASSIVE, FORCEOFF, FORCEON
    {0x0084CD70, Kind::Ignored, 0, {}},                    // PS_TEXFILTER_BILINEAR_IN_ANISO
    {0x107AFC5B, Kind::Ignored, 0, {}},                    // AA_MODE_SELECTOR_SLIAA
};

// One enumerated setting applied to the record; false when the reader must refuse it.
bool apply(std::uint32_t id, std::uint32_t value, Record& p) {
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
        p.field[r->field] = static_cast<std::int32_t>(value);
        p.mask |= bitOf(r->field);
        return true;
    case Kind::AnisoSelector:
        if (value > 1) {
            return false;
        }
        if (value == 0) {
            p.field[r->field] = 0;
        }
        p.mask |= bitOf(r->field);
        return true;
    case Kind::AlphaToCoverage:
        if (value == 4) {
            p.field[r->field] = 1;
        } else if (value == 0) {
            const std::int32_t now = p.field[r->field];
            if (now != 2 && now != 3 && now != 4) {
                p.field[r->field] = 0;
            }
        } else {
            return false;
        }
        return true;
    case Kind::Replay:
        if (value == 0) {
            p.mask |= bitOf(r->field);
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
    p.field[r->field] = listed->code;
    if (r->kind != Kind::AnisoLevel) {
        p.mask |= bitOf(r->field);
    }
    return true;
}

struct Outcome {
    bool ok;
    std::wstring text;
    Record out;
};

// What get should give for the profile and the switches.
Outcome expectGet(const driverrun::Settings& profile, std::uint8_t switches,
                  const std::uint8_t counts[3]) {
    const std::int32_t injected = (switches & NOT_SUPPORTED) ? -104 : -1;
    Outcome o{false, driverrun::kFatal, defaultRecord()};
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
    if (announced > kProfileLimit) {
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
    if ((o.out.mask & bitOf(kAntiAliasingMode)) && (o.out.mask & bitOf(kAntiAliasingSetting)) &&
        o.out.field[kAntiAliasingMode] == 3 && o.out.field[kAntiAliasingSetting] == 0) {
        o.out.field[kAntiAliasingMode] = 1;
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
            // Every byte of the record set beforehand, so that a field the read leaves out
            // shows.
            DrsParam param;
            std::memset(&param, 0xA5, sizeof(param));
            const bool ok = mgr.get(param);
            Record out;
            std::memcpy(&out, &param, sizeof(out));
            // The report is put together only when something is wrong.
            auto seen = [&] {
                return "got " + std::to_string(ok) + " " + driverrun::show(out) + "\nexpected " +
                       std::to_string(expected.ok) + " " + driverrun::show(expected.out) + "\n" +
                       narrow(mgr.getErrorMessage()) + driverrun::journalText();
            };
            if (ok != expected.ok || std::memcmp(&out, &expected.out, sizeof(out)) != 0 ||
                mgr.getErrorMessage() != expected.text || mgr.getInitState() != kReady) {
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
        require(l["start"] == "0" && l["version"] == kSettingVersion &&
                    std::stoul(std::string(l["count-in"])) <= kProfileLimit,
                "the enumeration asks for at most 64 records from the start", journal);
    }
    return 0;
}
