// Feeds tool::graphics::NvApiDrsMgr::get with arbitrary base profiles through the simulated
// nvapi.dll, loaded and unloaded for every input through the real client layer: the settings
// (IDs and values) come from its store, the counts it announces and enumerates from its fault
// switches.
//
// Input:
//   byte 0   switches: 0x01 the profile announces byte 1 settings (profile-count), 0x02 the
//            enumeration reports byte 2 settings (enum-count), 0x04 it hands out byte 3 settings
//            fewer (enum-short), 0x08 the call hooks are there, 0x10 NvAPI_DRS_GetProfileInfo
//            fails and 0x20 NvAPI_DRS_EnumSettings fails, with -104 when 0x40 is set, else -1
//   bytes 1 to 3  the counts of the switches
//   then the base profile, 8 bytes a setting: u32 ID, u32 value
//
// The result must be the one the profile calls for: the default record with the enumerated
// settings applied in order (each as updateParam takes it on its own) and the anti-aliasing
// fix-up, or a failure with the driver's status lines when a count is wrong, too large, or a
// setting is refused; a failed get keeps what was stored before the refusal.
#include <cstddef>
#include <cstdint>
#include <string>

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
};

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
    // Records the driver did not fill stay zero: setting ID 0, which no handler takes.
    NvApiDrsMgr reference;
    for (std::uint32_t i = 0; i < announced; ++i) {
        const NVDRS_SETTING s = i < written ? makeDwordSetting(profile[i].first, profile[i].second)
                                            : makeDwordSetting(0, 0);
        if (!reference.updateParam(s, o.out)) {
            return o;
        }
    }
    if ((o.out.enableSettings & DRS_ANTI_ALIASING_MODE) &&
        (o.out.enableSettings & DRS_ANTI_ALIASING_SETTING) &&
        o.out.antiAliasingMode == ANTI_ALIASING_MODE_OVERRIDE &&
        o.out.antiAliasingSetting == ANTI_ALIASING_SETTING_NONE) {
        o.out.antiAliasingMode = ANTI_ALIASING_MODE_OFF;
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
            const std::string seen = "got " + std::to_string(ok) + " " + driverrun::show(out) +
                                     "\nexpected " + std::to_string(expected.ok) + " " +
                                     driverrun::show(expected.out) + "\n" +
                                     narrow(mgr.getErrorMessage()) + driverrun::journalText();
            require(ok == expected.ok, "get succeeds exactly when the profile allows it", seen);
            require(driverrun::show(out) == driverrun::show(expected.out),
                    "the record read from the profile", seen);
            require(mgr.getErrorMessage() == expected.text, "the lines of a failed get", seen);
            require(mgr.getInitState() == DrsMgr::READY, "get leaves the manager open", seen);
        }
    }

    const std::vector<driverrun::Line> lines = driverrun::journal();
    driverrun::checkLifecycle(lines);
    require(driverrun::journal(lines, "NvAPI_DRS_SetSetting").empty() &&
                driverrun::journal(lines, "NvAPI_DRS_SaveSettings").empty() &&
                driverrun::nvapiStoreText() == storeBefore,
            "reading writes nothing", driverrun::journalText());
    for (const driverrun::Line& l : driverrun::journal(lines, "NvAPI_DRS_EnumSettings")) {
        require(l["start"] == "0" && l["version"] == "0x00013020" &&
                    std::stoul(l["count-in"]) <= kMaxBaseProfileSettings,
                "the enumeration asks for at most 64 records from the start",
                driverrun::journalText());
    }
    return 0;
}
