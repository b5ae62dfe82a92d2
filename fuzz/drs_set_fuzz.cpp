// Feeds validateParam and set of both settings managers (NVAPI and the control-panel library)
// with arbitrary settings records, against the simulated nvapi.dll and nvcpl.dll.
//
// Input:
//   bytes 0 to 55   the fourteen fields, signed 32-bit each, in record order
//   bytes 56 to 63  enableSettings
//   byte 64   switches: 0x01 NvAPI_DRS_SetSetting fails on its call number byte 65 (0: every
//             call), 0x02 NvAPI_DRS_SaveSettings fails, both with -104 when 0x04 is set, else
//             -1; 0x08 NvCplSetDataInt fails; 0x10 the NVAPI call hooks are there
//   byte 65   the call number for 0x01
//
// Invariants: validateParam leaves exactly the lines the range checks, the anti-aliasing rules
// and then the driver check of each manager call for (none on success); set refuses exactly
// what validateParam refuses, and then writes nothing; a valid record is written and saved, and
// read back through get it gives every enabled field as it was set; a failing driver call leaves
// its status lines and nothing saved.
//
// The expectation is worked out here on its own: the record's layout, the valid values of each
// field, the lines of each refusal and the settings each manager can set are written below from
// the record's documentation (the frame-queue limit's setting ID from NVIDIA's public
// NvApiDriverSettings.h). The inputs reach the manager's record by a byte copy, and its record
// comes back the same way; none of the manager's tables, constants or accessors take part.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>

#include "DriverRun.h"
#include "FuzzSupport.h"
#include "tool/graphics/NvApiDrsMgr.h"
#include "tool/graphics/NvCplDrsMgr.h"

namespace {

using driverrun::Record;
using fuzzsupport::require;
using tool::graphics::DrsParam;
using tool::graphics::NvApiDrsMgr;
using tool::graphics::NvCplDrsMgr;

static_assert(sizeof(Record) == sizeof(DrsParam) && std::is_trivially_copyable<DrsParam>::value,
              "the record is fourteen 32-bit fields and a 64-bit mask");

enum : std::uint8_t {
    SET_SETTING_FAILS = 0x01,
    SAVE_FAILS = 0x02,
    NOT_SUPPORTED = 0x04,
    NVCPL_SET_FAILS = 0x08,
    HOOKS = 0x10,
};

const int kFields = 14;

struct FieldRule {
    std::int32_t maximum; // valid values are 0 to this
    const wchar_t* invalidLine;
    const wchar_t* name; // as the driver check names it
};

// Per field, in record order (field i, mask bit i).
const FieldRule kRules[kFields] = {
    {5, L"AnisotropicFiltering parameter is invalid.", L"anisotropicFiltering"},
    {1, L"AntiAliasingGammaCorrectionParam parameter is invalid.", L"antiAliasingGammaCorrection"},
    {3, L"AntiAliasingMode parameter is invalid.", L"antiAliasingMode"},
    {7, L"AntiAliasingSetting parameter is invalid.", L"antiAliasingSetting"},
    {4, L"AntiAliasingTransparency parameter is invalid.", L"antiAliasingTransparency"},
    {8, L"MaximumPrerenderedFrames parameter is invalid.", L"maximumPrerenderedFrames"},
    {2, L"MultiDisplayMixedGpuAcceleration parameter is invalid.",
     L"multiDisplayMixedGpuAcceleration"},
    {1, L"TextureFilteringAnisotropicSampleOptimization parameter is invalid.",
     L"textureFilteringAnisotropicSampleOptimization"},
    {1, L"TextureFilteringNegativeLodBias parameter is invalid.",
     L"textureFilteringNegativeLodBias"},
    {3, L"TextureFilteringQuality parameter is invalid.", L"textureFilteringQuality"},
    {1, L"TextureFilteringTrilinearOptimization parameter is invalid.",
     L"textureFilteringTrilinearOptimization"},
    {2, L"ThreadedOptimization parameter is invalid.", L"threadedOptimization"},
    {1, L"TripleBuffering parameter is invalid.", L"tripleBuffering"},
    {2, L"VerticalSync parameter is invalid.", L"verticalSync"},
};

const int kAntiAliasingMode = 2;
const int kAntiAliasingSetting = 3;
const int kFrames = 5;

// antiAliasingMode: 0 application-controlled, 1 off, 3 override; antiAliasingSetting 0 none.
const std::int32_t kModeApplication = 0;
const std::int32_t kModeOff = 1;
const std::int32_t kModeOverride = 3;
const std::int32_t kSettingNone = 0;

std::uint64_t bitOf(int field) {
    return std::uint64_t{1} << field;
}

// What each manager can set: NVAPI every field, the control-panel library the frame-queue limit.
const std::uint64_t kNvApiSettable = bitOf(kFields) - 1;
const std::uint64_t kNvCplSettable = bitOf(kFrames);

// The manager's state once it is open.
const std::int32_t kReady = 0x7FFFFFFF;

// The frame-queue limit's driver setting (PRERENDERLIMIT).
const char kFramesId[] = "0x007BA09E";

bool enabled(const Record& r, int field) {
    return (r.mask & bitOf(field)) != 0;
}

struct Verdict {
    bool ok;
    std::wstring text;
};

// What validateParam must answer for the record, the lines first of all.
Verdict expectValidate(const Record& r, std::uint64_t settable) {
    Verdict v{true, std::wstring()};
    auto line = [&v](const wchar_t* text) { v.text += std::wstring(text) + L"\n"; };
    for (int i = 0; i < kFields; ++i) {
        if (enabled(r, i) && (r.field[i] < 0 || r.field[i] > kRules[i].maximum)) {
            line(kRules[i].invalidLine);
            v.ok = false;
        }
    }
    const bool mode = enabled(r, kAntiAliasingMode);
    const bool setting = enabled(r, kAntiAliasingSetting);
    const std::int32_t modeValue = r.field[kAntiAliasingMode];
    if (mode && setting && (modeValue == kModeApplication || modeValue == kModeOff)) {
        line(L"AntiAliasingSetting parameter is invalid.");
        line(L"If antiAliasingMode is _APPLICATION_CONTROLLED or _OFF, cannot set "
             L"antiAliasingSetting.");
        v.ok = false;
    }
    if (mode && setting && modeValue == kModeOverride &&
        r.field[kAntiAliasingSetting] == kSettingNone) {
        line(L"AntiAliasingSetting parameter is invalid.");
        line(L"If antiAliasingMode is _OVERRIDE, cannot set antiAliasingSetting to _NONE.");
        line(L"Please set antiAliasingMode to _OFF.");
        v.ok = false;
    }
    if (setting && !mode) {
        line(L"If you set antiAliasingSetting, Please set antiAliasingMode at same timing.");
        v.ok = false;
        return v; // no driver check after this one
    }
    const std::uint64_t unsupported = r.mask & ~settable;
    if (!v.ok || unsupported == 0) {
        return v;
    }
    v.ok = false;
    for (int i = 0; i < kFields; ++i) {
        if (unsupported & bitOf(i)) {
            v.text +=
                std::wstring(L"Cannot set ") + kRules[i].name + L" parameter at this driver.\n";
        }
    }
    if (unsupported >= bitOf(kFields)) {
        line(L"Unknown parameter set as condition.");
    }
    return v;
}

DrsParam toParam(const Record& r) {
    DrsParam p;
    std::memcpy(&p, &r, sizeof(p));
    return p;
}

Record toRecord(const DrsParam& p) {
    Record r;
    std::memcpy(&r, &p, sizeof(r));
    return r;
}

std::string narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

// What a report shows of the input; put together only when an invariant breaks.
typedef std::function<std::string()> Seen;

// validateParam of a manager that never opened its driver: the answer and lines worked out above.
void checkValidate(tool::graphics::DrsMgr& mgr, const Record& r, std::uint64_t settable,
                   std::wstring& text, const Seen& seen) {
    const Verdict expected = expectValidate(r, settable);
    const bool ok = mgr.validateParam(toParam(r));
    text = mgr.getErrorMessage();
    auto report = [&] {
        return seen() + "got " + std::to_string(ok) + "\n" + narrow(text) + "expected " +
               std::to_string(expected.ok) + "\n" + narrow(expected.text);
    };
    require(ok == expected.ok, "validateParam answers as the checks say", report);
    require(text == expected.text, "validateParam leaves the lines of its refusal", report);
}

std::string faultsFor(std::uint8_t switches, std::uint8_t callNumber) {
    const std::string status = (switches & NOT_SUPPORTED) ? "-104" : "-1";
    std::string faults;
    if (switches & SET_SETTING_FAILS) {
        faults += "status:NvAPI_DRS_SetSetting=" + status;
        if (callNumber != 0) {
            faults += "@" + std::to_string(callNumber);
        }
        faults += ",";
    }
    if (switches & SAVE_FAILS) {
        faults += "status:NvAPI_DRS_SaveSettings=" + status + ",";
    }
    if (switches & NVCPL_SET_FAILS) {
        faults += "status:NvCplSetDataInt=0,";
    }
    if (switches & HOOKS) {
        faults += "hooks,";
    }
    return faults;
}

// What NvApiDrsMgr::set must have done, from the journal of its run.
void checkNvApiSet(bool ok, const std::wstring& text, const Record& r, bool valid,
                   const std::wstring& validateText, std::uint8_t switches,
                   const std::string& storeBefore, const Seen& seen) {
    const std::vector<driverrun::Line> lines = driverrun::journal();
    const std::vector<driverrun::Line> writes = driverrun::journal(lines, "NvAPI_DRS_SetSetting");
    const std::vector<driverrun::Line> saves = driverrun::journal(lines, "NvAPI_DRS_SaveSettings");
    auto all = [&] { return seen() + narrow(text) + driverrun::journalText(); };
    if (!valid) {
        require(!ok && text == validateText, "set refuses with the validation lines", all);
        require(writes.empty() && saves.empty() && driverrun::nvapiStoreText() == storeBefore,
                "a refused record writes nothing to the driver", all);
        return;
    }
    std::size_t fields = 0;
    for (int i = 0; i < kFields; ++i) {
        fields += enabled(r, i) ? 1 : 0;
    }
    require(writes.size() <= 5 * fields, "at most five driver settings per field", all);
    for (const driverrun::Line& w : writes) {
        require(w["type"] == "0" && w["version"] == "0x00013020" && w["profile"] == "base",
                "each setting written is a 32-bit record of the base profile", all);
    }
    const bool writeFailed = !writes.empty() && writes.back()["injected"] == "yes";
    const bool saveFailed = (switches & SAVE_FAILS) != 0 && !writeFailed;
    const std::int32_t status = (switches & NOT_SUPPORTED) ? -104 : -1;
    if (writeFailed || saveFailed) {
        require(!ok && text == driverrun::statusText(status), "a failed call leaves its lines",
                all);
        require(saves.size() == (writeFailed ? 0u : 1u), "a failed write is not saved", all);
        require(driverrun::nvapiStoreText() == storeBefore, "nothing is saved on failure", all);
        return;
    }
    require(ok && text.empty(), "a valid record is written", all);
    require(saves.size() == 1 && saves[0]["saved"] == "yes", "and saved once", all);
    if (enabled(r, kFrames)) {
        bool framesWritten = false;
        for (const driverrun::Line& w : writes) {
            framesWritten =
                framesWritten ||
                (w["id"] == kFramesId &&
                 w["value"] == fuzzsupport::hex32(static_cast<std::uint32_t>(r.field[kFrames])));
        }
        require(framesWritten, "the frames value is written as it stands", all);
    }
}

// The settings of a successful set, read back by a fresh manager: every enabled field as set.
void checkReadBack(const Record& r) {
    NvApiDrsMgr mgr;
    require(mgr.initialize(), "the manager opens again");
    DrsParam param{};
    require(mgr.get(param), "the saved settings read back", driverrun::nvapiStoreText());
    const Record out = toRecord(param);
    for (int i = 0; i < kFields; ++i) {
        if (!enabled(r, i)) {
            continue;
        }
        require(enabled(out, i) && out.field[i] == r.field[i],
                "an enabled field reads back as it was set", [&] {
                    return "set " + driverrun::show(r) + "\nread " + driverrun::show(out) + "\n" +
                           driverrun::nvapiStoreText();
                });
    }
}

void checkNvCplSet(bool ok, const std::wstring& text, const Record& r, bool valid,
                   const std::wstring& validateText, std::uint8_t switches, const Seen& seen) {
    const std::vector<driverrun::Line> writes =
        driverrun::journal(driverrun::journal(), "NvCplSetDataInt");
    auto all = [&] { return seen() + narrow(text) + driverrun::journalText(); };
    if (!valid) {
        require(!ok && text == validateText, "set refuses with the validation lines", all);
        require(writes.empty() && driverrun::nvcplStoreText().empty(),
                "a refused record writes nothing to the driver", all);
        return;
    }
    if (!enabled(r, kFrames)) {
        require(ok && text.empty() && writes.empty(), "nothing enabled, nothing written", all);
        return;
    }
    require(writes.size() == 1 && writes[0]["index"] == "6" &&
                writes[0]["value"] == std::to_string(r.field[kFrames]),
            "one write of the frame-queue limit", all);
    if (switches & NVCPL_SET_FAILS) {
        require(!ok && text == driverrun::kFatal, "a failed write leaves its lines", all);
    } else {
        require(ok && text.empty(), "a valid record is written", all);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    driverrun::prepare();
    driverrun::catchDiagnostics();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzsupport::Input in(data, size);
    Record r{};
    for (std::int32_t& field : r.field) {
        field = static_cast<std::int32_t>(in.u32());
    }
    r.mask = in.u64();
    const std::uint8_t switches = in.u8();
    const std::uint8_t callNumber = in.u8();
    const DrsParam p = toParam(r);
    const Seen seen = [&r] { return "record " + driverrun::show(r) + "\n"; };

    // The checks alone, on managers that never opened their driver.
    std::wstring nvapiText;
    std::wstring nvcplText;
    {
        NvApiDrsMgr nvapi;
        nvapi.debugLevel = 1;
        checkValidate(nvapi, r, kNvApiSettable, nvapiText, seen);
        NvCplDrsMgr nvcpl;
        nvcpl.debugLevel = 1;
        checkValidate(nvcpl, r, kNvCplSettable, nvcplText, seen);
    }

    // set through NVAPI.
    driverrun::start(faultsFor(switches, callNumber), {{0x007BA09E, 3}});
    const std::string storeBefore = driverrun::nvapiStoreText();
    {
        NvApiDrsMgr mgr;
        mgr.debugLevel = 1;
        require(mgr.initialize(), "the manager opens on the simulated driver");
        const bool ok = mgr.set(p);
        checkNvApiSet(ok, mgr.getErrorMessage(), r, expectValidate(r, kNvApiSettable).ok, nvapiText,
                      switches, storeBefore, seen);
        require(mgr.getInitState() == kReady, "set leaves the manager open");
        if (ok) {
            mgr.finalize();
            checkReadBack(r);
        }
    }
    driverrun::checkLifecycle(driverrun::journal());

    // set through nvcpl.dll.
    driverrun::start(faultsFor(switches, callNumber), {});
    {
        NvCplDrsMgr mgr;
        mgr.debugLevel = 1;
        require(mgr.initialize(), "the manager opens on the simulated driver");
        const bool ok = mgr.set(p);
        checkNvCplSet(ok, mgr.getErrorMessage(), r, expectValidate(r, kNvCplSettable).ok, nvcplText,
                      switches, seen);
        require(mgr.getInitState() == kReady, "set leaves the manager open");
    }
    driverrun::checkLifecycle(driverrun::journal());
    return 0;
}
