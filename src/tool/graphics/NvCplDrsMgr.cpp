#include "tool/graphics/NvCplDrsMgr.h"

#include <iterator>

#include "platform/kviDebug.h"
#include "common/Banner.h"

namespace tool::graphics {

const char kNvCplDrsMgrBanner[] = DURNAVEL_BANNER("tool::graphics::NvCplDrsMgr", "1.00");

namespace {

#define NVCPL_DRS_FUNCTION(op) "tool::graphics::NvCplDrsMgr::" op

// Anti-aliasing method codes of nvcpl.dll, indexed by antiAliasingSetting.
const LONG kAACodes[] = {0, 1, 3, 7, 33, 34, 35};

} // namespace

NvCplDrsMgr::NvCplDrsMgr() : func_(new NvCplFunc()) {}

NvCplDrsMgr::~NvCplDrsMgr() {
    finalize();
    func_.reset();
}

void NvCplDrsMgr::setErrorMessage(bool reset) {
    if (reset) {
        clearErrorMessage();
    }
    appendErrorLine(L"Fatal error occured.");
    appendErrorLine(L"Please check your hardware.");
}

bool NvCplDrsMgr::initialize() {
    if (initState == READY) {
        return true;
    }
    if (!func_->setup()) {
        setErrorMessage(true);
        return false;
    }
    initState = READY;
    return true;
}

void NvCplDrsMgr::finalize() {
    func_->unload();
    initState = 0;
}

bool NvCplDrsMgr::get(DrsParam& out) {
    if (initState != READY) {
        if (debugLevel >= 1) {
            kviDebugPrint(NVCPL_DRS_FUNCTION("get"), __LINE__, "Error : Not init.\n");
        }
        setErrorMessage(true);
        return false;
    }
    out = makeDefaultDrsParam();
    DrsParam work = out;
    for (int i = 0; i < kDrsSettingCount; ++i) {
        const std::uint64_t bit = std::uint64_t{1} << i;
        if (bit != DRS_ANTI_ALIASING_SETTING && bit != DRS_MAXIMUM_PRERENDERED_FRAMES) {
            continue;
        }
        if (!updateParam(bit, work)) {
            setErrorMessage(true);
            return false;
        }
    }
    out = work;
    return true;
}

bool NvCplDrsMgr::updateParam(std::uint64_t bit, DrsParam& record) {
    bool ok;
    switch (bit) {
    case DRS_ANTI_ALIASING_SETTING:
        ok = getAntiAliasingSettingParam(&record.antiAliasingSetting);
        break;
    case DRS_MAXIMUM_PRERENDERED_FRAMES:
        ok = getMaximumPrerenderedFramesParam(&record.maximumPrerenderedFrames);
        break;
    default:
        if (debugLevel >= 1) {
            kviDebugPrint(NVCPL_DRS_FUNCTION("updateParam"), __LINE__,
                          "Error : setting is invalid. val : %x.\n",
                          static_cast<unsigned>(bit & 0xFFFFFFFFu));
        }
        return false;
    }
    if (ok) {
        record.enableSettings |= bit;
    }
    return ok;
}

bool NvCplDrsMgr::getAntiAliasingSettingParam(std::int32_t* result) {
    LONG value = 0;
    if (!func_->isLoaded() || func_->getDataInt()(NVCPL_API_CURRENT_AA_VALUE, &value) == 0) {
        if (debugLevel >= 1) {
            kviDebugPrint(NVCPL_DRS_FUNCTION("getAntiAliasingSettingParam"), __LINE__,
                          "Error : NvCplGetDataInt failed.\nIndex : NVCPL_API_CURRENT_AA_VALUE, "
                          "val : %u\n",
                          static_cast<unsigned>(value));
        }
        return false;
    }
    for (std::int32_t setting = 0; setting < static_cast<std::int32_t>(std::size(kAACodes));
         ++setting) {
        if (kAACodes[setting] == value) {
            *result = setting;
            return true;
        }
    }
    if (debugLevel >= 1) {
        kviDebugPrint(NVCPL_DRS_FUNCTION("getAntiAliasingSettingParam"), __LINE__,
                      "Error : Get expected value of antiAliasingSetting. val : %u\n",
                      static_cast<unsigned>(value));
    }
    return false;
}

bool NvCplDrsMgr::getMaximumPrerenderedFramesParam(std::int32_t* result) {
    LONG value = 0;
    if (func_->isLoaded() && func_->getDataInt()(NVCPL_API_FRAME_QUEUE_LIMIT, &value) != 0) {
        *result = static_cast<std::int32_t>(value);
        return true;
    }
    if (debugLevel >= 1) {
        kviDebugPrint(NVCPL_DRS_FUNCTION("getMaximumPrerenderedFramesParam"), __LINE__,
                      "Error : NvCplGetDataInt failed.\nIndex : NVCPL_API_FRAME_QUEUE_LIMIT, val : "
                      "%u\n",
                      static_cast<unsigned>(value));
    }
    return false;
}

bool NvCplDrsMgr::set(const DrsParam& in) {
    if (initState != READY) {
        if (debugLevel >= 1) {
            kviDebugPrint(NVCPL_DRS_FUNCTION("set"), __LINE__, "Error : Not init.\n");
        }
        setErrorMessage(true);
        return false;
    }
    if (!validateParam(in)) {
        return false;
    }
    if ((in.enableSettings & DRS_MAXIMUM_PRERENDERED_FRAMES) == 0) {
        return true;
    }
    const bool ok = func_->isLoaded() && func_->setDataInt()(NVCPL_API_FRAME_QUEUE_LIMIT,
                                                             in.maximumPrerenderedFrames) != 0;
    if (!ok) {
        if (debugLevel >= 1) {
            kviDebugPrint(NVCPL_DRS_FUNCTION("set"), __LINE__, "Error : NvCplSetDataInt failed.\n");
        }
        setErrorMessage(true);
    }
    return ok;
}

bool NvCplDrsMgr::validateSettings(std::uint64_t mask) {
    if ((mask & ~std::uint64_t{DRS_MAXIMUM_PRERENDERED_FRAMES}) == 0) {
        return true;
    }
    if (debugLevel >= 1) {
        kviDebugPrint(NVCPL_DRS_FUNCTION("validateSettings"), __LINE__,
                      "Error : enableSettings is invalid. val : %x.\n",
                      static_cast<unsigned>(mask & 0xFFFFFFFFu));
    }
    reportUnsupportedSettings(mask & ~std::uint64_t{DRS_MAXIMUM_PRERENDERED_FRAMES});
    return false;
}

#undef NVCPL_DRS_FUNCTION

} // namespace tool::graphics
