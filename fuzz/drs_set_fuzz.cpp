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
// Invariants: validateParam answers as the range checks and the anti-aliasing rules say, with
// the driver check of each manager after them, and leaves lines each ending in a line feed (none
// on success); set refuses exactly what validateParam refuses, and then writes nothing; a valid
// record is written and saved, and read back through get it gives every enabled field as it was
// set; a failing driver call leaves its status lines and nothing saved.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "DriverRun.h"
#include "FuzzSupport.h"
#include "tool/graphics/NvApiDrsMgr.h"
#include "tool/graphics/NvCplDrsMgr.h"

namespace {

using fuzzsupport::require;
using namespace tool::graphics;

enum : std::uint8_t {
    SET_SETTING_FAILS = 0x01,
    SAVE_FAILS = 0x02,
    NOT_SUPPORTED = 0x04,
    NVCPL_SET_FAILS = 0x08,
    HOOKS = 0x10,
};

// The largest valid value of each field, in record order.
const std::int32_t kMaximum[kDrsSettingCount] = {5, 1, 3, 7, 4, 8, 2, 1, 1, 3, 1, 2, 1, 2};

const std::uint64_t kNvApiSettable = DRS_ALL_SETTINGS;
const std::uint64_t kNvCplSettable = DRS_MAXIMUM_PRERENDERED_FRAMES;

// The checks every manager makes before its own driver check.
bool passesCommonChecks(const DrsParam& p) {
    for (int i = 0; i < kDrsSettingCount; ++i) {
        const std::int32_t v = drsField(p, i);
        if ((p.enableSettings >> i & 1) != 0 && (v < 0 || v > kMaximum[i])) {
            return false;
        }
    }
    const bool mode = (p.enableSettings & DRS_ANTI_ALIASING_MODE) != 0;
    const bool setting = (p.enableSettings & DRS_ANTI_ALIASING_SETTING) != 0;
    if (setting && !mode) {
        return false;
    }
    if (mode && setting &&
        (p.antiAliasingMode == ANTI_ALIASING_MODE_APPLICATION_CONTROLLED ||
         p.antiAliasingMode == ANTI_ALIASING_MODE_OFF ||
         (p.antiAliasingMode == ANTI_ALIASING_MODE_OVERRIDE &&
          p.antiAliasingSetting == ANTI_ALIASING_SETTING_NONE))) {
        return false;
    }
    return true;
}

bool isValid(const DrsParam& p, std::uint64_t settable) {
    return passesCommonChecks(p) && (p.enableSettings & ~settable) == 0;
}

std::string narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

// What a report shows of the input; put together only when an invariant breaks.
typedef std::function<std::string()> Seen;

// Lines each ending in a line feed, every one a sentence.
void checkLines(const std::wstring& text, const Seen& seen) {
    auto report = [&] { return seen() + narrow(text); };
    require(fuzzsupport::isLines(text), "the error text is lines each ending in a line feed",
            report);
    for (const std::wstring_view line : fuzzsupport::linesOf(text)) {
        require(line.size() > 1 && line.back() == L'.', "every error line is a sentence", report);
    }
}

// The driver check's report: one line per enabled field the manager cannot set, and one for
// any bit above the fourteen.
void checkUnsupportedReport(const std::wstring& text, std::uint64_t unsupported, const Seen& seen) {
    auto report = [&] { return seen() + narrow(text); };
    std::size_t lines = 0;
    for (int i = 0; i < kDrsSettingCount; ++i) {
        lines += (unsupported >> i) & 1;
    }
    lines += unsupported >= (std::uint64_t{1} << kDrsSettingCount) ? 1 : 0;
    const std::vector<std::wstring_view> seenLines = fuzzsupport::linesOf(text);
    require(seenLines.size() == lines, "one report line per field the driver cannot set", report);
    for (const std::wstring_view line : seenLines) {
        require(line.rfind(L"Cannot set ", 0) == 0 ||
                    line == L"Unknown parameter set as condition.",
                "the driver check writes only its own lines", report);
    }
}

void checkValidate(DrsMgr& mgr, const DrsParam& p, std::uint64_t settable, std::wstring& text,
                   const Seen& seen) {
    const bool ok = mgr.validateParam(p);
    text = mgr.getErrorMessage();
    auto report = [&] { return seen() + narrow(text); };
    require(ok == isValid(p, settable), "validateParam answers as the checks say", report);
    require(ok == text.empty(), "validateParam leaves lines exactly when it refuses", report);
    checkLines(text, seen);
    if (!ok && passesCommonChecks(p)) {
        checkUnsupportedReport(text, p.enableSettings & ~settable, seen);
    }
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
void checkNvApiSet(bool ok, const std::wstring& text, const DrsParam& p,
                   const std::wstring& validateText, std::uint8_t switches,
                   const std::string& storeBefore, const Seen& seen) {
    const std::vector<driverrun::Line> lines = driverrun::journal();
    const std::vector<driverrun::Line> writes = driverrun::journal(lines, "NvAPI_DRS_SetSetting");
    const std::vector<driverrun::Line> saves = driverrun::journal(lines, "NvAPI_DRS_SaveSettings");
    auto all = [&] { return seen() + narrow(text) + driverrun::journalText(); };
    if (!isValid(p, kNvApiSettable)) {
        require(!ok && text == validateText, "set refuses with the validation lines", all);
        require(writes.empty() && saves.empty() && driverrun::nvapiStoreText() == storeBefore,
                "a refused record writes nothing to the driver", all);
        return;
    }
    std::size_t fields = 0;
    for (int i = 0; i < kDrsSettingCount; ++i) {
        fields += (p.enableSettings >> i) & 1;
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
    if (p.enableSettings & DRS_MAXIMUM_PRERENDERED_FRAMES) {
        bool framesWritten = false;
        for (const driverrun::Line& w : writes) {
            framesWritten =
                framesWritten ||
                (w["id"] == "0x007BA09E" &&
                 w["value"] ==
                     fuzzsupport::hex32(static_cast<std::uint32_t>(p.maximumPrerenderedFrames)));
        }
        require(framesWritten, "the frames value is written as it stands", all);
    }
}

// The settings of a successful set, read back by a fresh manager: every enabled field as set.
void checkReadBack(const DrsParam& p) {
    NvApiDrsMgr mgr;
    require(mgr.initialize(), "the manager opens again");
    DrsParam out{};
    require(mgr.get(out), "the saved settings read back", driverrun::nvapiStoreText());
    for (int i = 0; i < kDrsSettingCount; ++i) {
        if ((p.enableSettings >> i & 1) == 0) {
            continue;
        }
        require((out.enableSettings >> i & 1) != 0 && drsField(out, i) == drsField(p, i),
                "an enabled field reads back as it was set",
                "set " + driverrun::show(p) + "\nread " + driverrun::show(out) + "\n" +
                    driverrun::nvapiStoreText());
    }
}

void checkNvCplSet(bool ok, const std::wstring& text, const DrsParam& p,
                   const std::wstring& validateText, std::uint8_t switches, const Seen& seen) {
    const std::vector<driverrun::Line> writes =
        driverrun::journal(driverrun::journal(), "NvCplSetDataInt");
    auto all = [&] { return seen() + narrow(text) + driverrun::journalText(); };
    if (!isValid(p, kNvCplSettable)) {
        require(!ok && text == validateText, "set refuses with the validation lines", all);
        require(writes.empty() && driverrun::nvcplStoreText().empty(),
                "a refused record writes nothing to the driver", all);
        return;
    }
    if ((p.enableSettings & DRS_MAXIMUM_PRERENDERED_FRAMES) == 0) {
        require(ok && text.empty() && writes.empty(), "nothing enabled, nothing written", all);
        return;
    }
    require(writes.size() == 1 && writes[0]["index"] == "6" &&
                writes[0]["value"] == std::to_string(p.maximumPrerenderedFrames),
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
    DrsParam p{};
    for (int i = 0; i < kDrsSettingCount; ++i) {
        drsField(p, i) = static_cast<std::int32_t>(in.u32());
    }
    p.enableSettings = in.u64();
    const std::uint8_t switches = in.u8();
    const std::uint8_t callNumber = in.u8();
    const Seen seen = [&p] { return "record " + driverrun::show(p) + "\n"; };

    // The checks alone, on managers that never opened their driver.
    std::wstring nvapiText;
    std::wstring nvcplText;
    {
        NvApiDrsMgr nvapi;
        nvapi.debugLevel = 1;
        checkValidate(nvapi, p, kNvApiSettable, nvapiText, seen);
        NvCplDrsMgr nvcpl;
        nvcpl.debugLevel = 1;
        checkValidate(nvcpl, p, kNvCplSettable, nvcplText, seen);
        if (!passesCommonChecks(p)) {
            require(nvapiText == nvcplText, "both managers refuse a bad record alike",
                    [&] { return seen() + narrow(nvapiText) + "--\n" + narrow(nvcplText); });
        }
    }

    // set through NVAPI.
    driverrun::start(faultsFor(switches, callNumber), {{0x007BA09E, 3}});
    const std::string storeBefore = driverrun::nvapiStoreText();
    {
        NvApiDrsMgr mgr;
        mgr.debugLevel = 1;
        require(mgr.initialize(), "the manager opens on the simulated driver");
        const bool ok = mgr.set(p);
        checkNvApiSet(ok, mgr.getErrorMessage(), p, nvapiText, switches, storeBefore, seen);
        require(mgr.getInitState() == DrsMgr::READY, "set leaves the manager open");
        if (ok) {
            mgr.finalize();
            checkReadBack(p);
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
        checkNvCplSet(ok, mgr.getErrorMessage(), p, nvcplText, switches, seen);
        require(mgr.getInitState() == DrsMgr::READY, "set leaves the manager open");
    }
    driverrun::checkLifecycle(driverrun::journal());
    return 0;
}
