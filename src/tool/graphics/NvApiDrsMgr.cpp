#include "tool/graphics/NvApiDrsMgr.h"

#include <cstring>

#include "platform/kviDebug.h"
#include "common/Banner.h"

namespace tool::graphics {

const char kNvApiDrsMgrBanner[] = DURNAVEL_BANNER("tool::graphics::NvApiDrsMgr", "1.02");

namespace {

// "tool::graphics::NvApiDrsMgr::" + operation, for the diagnostic lines.
#define NVAPI_DRS_FUNCTION(op) "tool::graphics::NvApiDrsMgr::" op

// One driver value and the record value it stands for.
struct ValueMap {
    NvU32 driver;
    std::int32_t code;
};

template <std::size_t N>
bool driverToCode(const ValueMap (&map)[N], NvU32 driver, std::int32_t& code) {
    for (const ValueMap& m : map) {
        if (m.driver == driver) {
            code = m.code;
            return true;
        }
    }
    return false;
}

const ValueMap kAnisoLevel[] = {{1, 1}, {2, 2}, {4, 3}, {8, 4}, {16, 5}};
const ValueMap kGammaCorrection[] = {{0, 0}, {2, 1}};
const ValueMap kAASelector[] = {{0, 0}, {1, 3}, {2, 2}};
const ValueMap kAAMethod[] = {{0, 0},  {14, 1}, {16, 2}, {38, 3},
                              {37, 4}, {39, 5}, {40, 6}, {29, 7}};
const ValueMap kAAReplay[] = {{0x14, 2}, {0x24, 3}, {0x34, 4}};
const ValueMap kOglMultimon[] = {{0, 1}, {1, 2}, {3, 0}};
const ValueMap kOnOff[] = {{0, 0}, {1, 1}};
const ValueMap kQuality[] = {{0, 0}, {0xFFFFFFF6u, 1}, {10, 2}, {20, 3}};
const ValueMap kThreadControl[] = {{0, 0}, {1, 2}, {2, 1}};
const ValueMap kVsyncMode[] = {{0x60925292, 0}, {0x08416747, 1}, {0x47814940, 2}};

// Record value to driver value: index = record value.
const NvU32 kAnisoLevelOut[] = {1, 1, 2, 4, 8, 16};
const NvU32 kGammaCorrectionOut[] = {0, 2};
const NvU32 kAASelectorOut[] = {0, 1, 2, 1};
const NvU32 kAAMethodOut[] = {0, 14, 16, 38, 37, 39, 40, 29};
const NvU32 kAAReplayOut[] = {0, 0, 0x14, 0x24, 0x34};
const NvU32 kAAAlphaToCoverageOut[] = {0, 4, 0, 0, 0};
const NvU32 kOglMultimonOut[] = {3, 0, 1};
const NvU32 kOnOffOut[] = {0, 1};
const NvU32 kQualityOut[] = {0, 0xFFFFFFF6u, 10, 20};
const NvU32 kThreadControlOut[] = {0, 2, 1};
const NvU32 kVsyncModeOut[] = {0x60925292, 0x08416747, 0x47814940};

template <std::size_t N> bool inTable(const NvU32 (&)[N], std::int32_t value) {
    return value >= 0 && static_cast<std::size_t>(value) < N;
}

bool enabled(const DrsParam& in, std::uint64_t bit) {
    return (in.enableSettings & bit) != 0;
}

} // namespace

NVDRS_SETTING makeDwordSetting(NvU32 id, NvU32 value) {
    NVDRS_SETTING s;
    std::memset(&s, 0, sizeof(s));
    s.version = NVDRS_SETTING_VER;
    s.settingId = id;
    s.settingType = NVDRS_DWORD_TYPE;
    s.currentValue.u32Value = value;
    return s;
}

NvApiDrsMgr::NvApiDrsMgr() : handles_(new Handles()) {}

NvApiDrsMgr::~NvApiDrsMgr() {
    finalize();
    handles_.reset();
}

void NvApiDrsMgr::setErrorMessage(NvAPI_Status status, bool reset) {
    if (reset) {
        clearErrorMessage();
    }
    if (status == NVAPI_NOT_SUPPORTED) {
        appendErrorLine(L"Not supported this function.");
    } else if (status != NVAPI_OK) {
        appendErrorLine(L"Fatal error occured.");
        appendErrorLine(L"Please check your hardware.");
    }
}

bool NvApiDrsMgr::failInitialize(int line, const char* format, NvAPI_Status status) {
    if (debugLevel >= 1) {
        kviDebugPrint(NVAPI_DRS_FUNCTION("initialize"), line, format, status);
    }
    setErrorMessage(status, true);
    finalize();
    return false;
}

bool NvApiDrsMgr::initialize() {
    if (initState == READY) {
        return true;
    }
    NvAPI_Status status = NvAPI_Initialize();
    if (status != NVAPI_OK) {
        return failInitialize(__LINE__, "NvAPI_Initialize failed. ErrorCode = %d.", status);
    }
    initState |= INIT_NVAPI;
    status = NvAPI_DRS_CreateSession(&handles_->session);
    if (status != NVAPI_OK) {
        return failInitialize(__LINE__, "NvAPI_DRS_CreateSession failed. ErrorCode = %d.", status);
    }
    initState |= INIT_SESSION;
    status = NvAPI_DRS_LoadSettings(handles_->session);
    if (status != NVAPI_OK) {
        return failInitialize(__LINE__, "NvAPI_DRS_LoadSettings failed. ErrorCode = %d.", status);
    }
    status = NvAPI_DRS_GetBaseProfile(handles_->session, &handles_->profile);
    if (status != NVAPI_OK) {
        return failInitialize(__LINE__, "NvAPI_DRS_GetBaseProfile failed. ErrorCode = %d.", status);
    }
    initState = READY;
    return true;
}

void NvApiDrsMgr::finalize() {
    if (initState != 0) {
        if ((initState & INIT_SESSION) != 0) {
            NvAPI_DRS_DestroySession(handles_->session);
        }
        if ((initState & INIT_NVAPI) != 0) {
            NvAPI_Unload();
        }
        initState = 0;
    }
    handles_->session = nullptr;
    handles_->profile = nullptr;
}

bool NvApiDrsMgr::get(DrsParam& out) {
    if (initState != READY) {
        if (debugLevel >= 1) {
            kviDebugPrint(NVAPI_DRS_FUNCTION("get"), __LINE__, "Error : Not init.\n");
        }
        setErrorMessage(NVAPI_ERROR, true);
        return false;
    }
    out = makeDefaultDrsParam();

    NVDRS_PROFILE info;
    std::memset(&info, 0, sizeof(info));
    info.version = NVDRS_PROFILE_VER;
    NvAPI_Status status = NvAPI_DRS_GetProfileInfo(handles_->session, handles_->profile, &info);
    if (status != NVAPI_OK) {
        if (debugLevel >= 1) {
            kviDebugPrint(NVAPI_DRS_FUNCTION("get"), __LINE__,
                          "NvAPI_DRS_GetProfileInfo failed. ErrorCode = %d.", status);
        }
        setErrorMessage(status, true);
        return false;
    }

    const NvU32 total = info.numOfSettings;
    if (total != 0) {
        if (total > kMaxBaseProfileSettings) {
            setErrorMessage(NVAPI_ERROR, true);
            if (debugLevel >= 1) {
                kviDebugPrint(NVAPI_DRS_FUNCTION("get"), __LINE__,
                              "Error : Get profile setting count is too large. Count = %d.\n",
                              static_cast<int>(total));
            }
            return false;
        }
        // Zeroed by the vector; only the first record carries the version word.
        std::vector<NVDRS_SETTING> settings(total);
        settings[0].version = NVDRS_SETTING_VER;
        NvU32 got = total;
        status =
            NvAPI_DRS_EnumSettings(handles_->session, handles_->profile, 0, &got, settings.data());
        if (status != NVAPI_OK) {
            setErrorMessage(status, true);
            if (debugLevel >= 1) {
                kviDebugPrint(NVAPI_DRS_FUNCTION("get"), __LINE__,
                              "NvAPI_DRS_EnumSettings failed. ErrorCode = %d.", status);
            }
            return false;
        }
        // Only a complete enumeration is used; the loop below never reads past the array.
        if (got != total) {
            setErrorMessage(NVAPI_ERROR, true);
            if (debugLevel >= 1) {
                kviDebugPrint(NVAPI_DRS_FUNCTION("get"), __LINE__,
                              "Error : Cannot get all settings. Total = %d,  Get = %d.\n",
                              static_cast<int>(total), static_cast<int>(got));
            }
            return false;
        }
        for (const NVDRS_SETTING& s : settings) {
            if (!updateParam(s, out)) {
                setErrorMessage(NVAPI_ERROR, true);
                return false;
            }
        }
    }

    // A driver holding "override" without a method is reported as "off".
    if (enabled(out, DRS_ANTI_ALIASING_MODE) && enabled(out, DRS_ANTI_ALIASING_SETTING) &&
        out.antiAliasingMode == ANTI_ALIASING_MODE_OVERRIDE &&
        out.antiAliasingSetting == ANTI_ALIASING_SETTING_NONE) {
        out.antiAliasingMode = ANTI_ALIASING_MODE_OFF;
    }
    return true;
}

bool NvApiDrsMgr::updateParam(const NVDRS_SETTING& setting, DrsParam& out) {
    const NvU32 value = setting.currentValue.u32Value;
    switch (setting.settingId) {
    case ANISO_MODE_SELECTOR_ID:
        return updateParamOnAnisoModeSelector(value, out);
    case ANISO_MODE_LEVEL_ID:
        return updateParamOnAnisoModeLevel(value, out);
    case AA_MODE_GAMMACORRECTION_ID:
        return updateParamOnAAModeGammacorrection(value, out);
    case AA_MODE_SELECTOR_ID:
        return updateParamOnAAModeSelector(value, out);
    case AA_MODE_METHOD_ID:
        return updateParamOnAAModeMethod(value, out);
    case AA_MODE_REPLAY_ID:
        return updateParamOnAAModeReplay(value, out);
    case AA_MODE_ALPHATOCOVERAGE_ID:
        return updateParamOnAAModeAlphatocoverage(value, out);
    case PRERENDERED_FRAMES_ID:
        out.maximumPrerenderedFrames = static_cast<std::int32_t>(value);
        out.enableSettings |= DRS_MAXIMUM_PRERENDERED_FRAMES;
        return true;
    case OGL_MULTIMON_ID:
        return updateParamOnOglMultimon(value, out);
    case PS_TEXFILTER_ANISO_OPTS2_ID:
        return updateParamOnPSsTexfilterAnisoOpt2(value, out);
    case PS_TEXFILTER_NO_NEG_LODBIAS_ID:
        return updateParamOnPSsTexfilterNoNegLodbias(value, out);
    case QUALITY_ENHANCEMENTS_ID:
        return updateParamOnQualityEnhancements(value, out);
    case PS_TEXFILTER_DISABLE_TRILIN_SLOPE_ID:
        return updateParamOnPSsTexfilterDisableTrilinSlope(value, out);
    case OGL_THREAD_CONTROL_ID:
        return updateParamOnOglThreadControl(value, out);
    case OGL_TRIPLE_BUFFER_ID:
        return updateParamOnOglTripleBuffer(value, out);
    case VSYNCMODE_ID:
        return updateParamOnVsyncMode(value, out);
    case ANISO_COMPANION_ID:
    case AA_METHOD_COMPANION_ID:
        return true;
    default:
        if (debugLevel >= 1) {
            kviDebugPrint(NVAPI_DRS_FUNCTION("updateParam"), __LINE__,
                          "Error : Setting id is invalid. Val = %x.\n", setting.settingId);
        }
        return false;
    }
}

// A handler that maps the driver value by table into one field and sets the field's bit.
#define NVAPI_DRS_MAPPED_HANDLER(op, table, field, bit, settingName)                               \
    bool NvApiDrsMgr::op(NvU32 value, DrsParam& out) {                                             \
        if (!driverToCode(table, value, out.field)) {                                              \
            if (debugLevel >= 1) {                                                                 \
                kviDebugPrint(NVAPI_DRS_FUNCTION(#op), __LINE__,                                   \
                              "Error : " settingName " value is invalid. Val = %x.\n", value);     \
            }                                                                                      \
            return false;                                                                          \
        }                                                                                          \
        out.enableSettings |= bit;                                                                 \
        return true;                                                                               \
    }

NVAPI_DRS_MAPPED_HANDLER(updateParamOnAAModeGammacorrection, kGammaCorrection,
                         antiAliasingGammaCorrection, DRS_ANTI_ALIASING_GAMMA_CORRECTION,
                         "AA_MODE_GAMMACORRECTION_ID")
NVAPI_DRS_MAPPED_HANDLER(updateParamOnAAModeSelector, kAASelector, antiAliasingMode,
                         DRS_ANTI_ALIASING_MODE, "AA_MODE_SELECTOR_ID")
NVAPI_DRS_MAPPED_HANDLER(updateParamOnAAModeMethod, kAAMethod, antiAliasingSetting,
                         DRS_ANTI_ALIASING_SETTING, "AA_MODE_METHOD_ID")
NVAPI_DRS_MAPPED_HANDLER(updateParamOnOglMultimon, kOglMultimon, multiDisplayMixedGpuAcceleration,
                         DRS_MULTI_DISPLAY_MIXED_GPU_ACCELERATION, "OGL_MULTIMON_ID")
NVAPI_DRS_MAPPED_HANDLER(updateParamOnPSsTexfilterAnisoOpt2, kOnOff,
                         textureFilteringAnisotropicSampleOptimization,
                         DRS_TEXTURE_FILTERING_ANISOTROPIC_SAMPLE_OPTIMIZATION,
                         "PS_TEXFILTER_ANISO_OPTS2_ID")
NVAPI_DRS_MAPPED_HANDLER(updateParamOnPSsTexfilterNoNegLodbias, kOnOff,
                         textureFilteringNegativeLodBias, DRS_TEXTURE_FILTERING_NEGATIVE_LOD_BIAS,
                         "PS_TEXFILTER_NO_NEG_LODBIAS_ID")
NVAPI_DRS_MAPPED_HANDLER(updateParamOnQualityEnhancements, kQuality, textureFilteringQuality,
                         DRS_TEXTURE_FILTERING_QUALITY, "QUALITY_ENHANCEMENTS_ID")
NVAPI_DRS_MAPPED_HANDLER(updateParamOnPSsTexfilterDisableTrilinSlope, kOnOff,
                         textureFilteringTrilinearOptimization,
                         DRS_TEXTURE_FILTERING_TRILINEAR_OPTIMIZATION,
                         "PS_TEXFILTER_DISABLE_TRILIN_SLOPE_ID")
NVAPI_DRS_MAPPED_HANDLER(updateParamOnOglThreadControl, kThreadControl, threadedOptimization,
                         DRS_THREADED_OPTIMIZATION, "OGL_THREAD_CONTROL_ID")
NVAPI_DRS_MAPPED_HANDLER(updateParamOnOglTripleBuffer, kOnOff, tripleBuffering,
                         DRS_TRIPLE_BUFFERING, "OGL_TRIPLE_BUFFER_ID")
NVAPI_DRS_MAPPED_HANDLER(updateParamOnVsyncMode, kVsyncMode, verticalSync, DRS_VERTICAL_SYNC,
                         "VSYNCMODE_ID")

#undef NVAPI_DRS_MAPPED_HANDLER

bool NvApiDrsMgr::updateParamOnAnisoModeSelector(NvU32 value, DrsParam& out) {
    if (value == 0) {
        out.anisotropicFiltering = 0;
    } else if (value != 1) {
        if (debugLevel >= 1) {
            kviDebugPrint(NVAPI_DRS_FUNCTION("updateParamOnAnisoModeSelector"), __LINE__,
                          "Error : ANISO_MODE_SELECTOR_ID value is invalid. Val = %x.\n", value);
        }
        return false;
    }
    out.enableSettings |= DRS_ANISOTROPIC_FILTERING;
    return true;
}

bool NvApiDrsMgr::updateParamOnAnisoModeLevel(NvU32 value, DrsParam& out) {
    // The level alone does not make the field meant: the selector does.
    if (!driverToCode(kAnisoLevel, value, out.anisotropicFiltering)) {
        if (debugLevel >= 1) {
            kviDebugPrint(NVAPI_DRS_FUNCTION("updateParamOnAnisoModeLevel"), __LINE__,
                          "Error : ANISO_MODE_LEVEL_ID value is invalid. Val = %x.\n", value);
        }
        return false;
    }
    return true;
}

bool NvApiDrsMgr::updateParamOnAAModeReplay(NvU32 value, DrsParam& out) {
    if (value != 0 && !driverToCode(kAAReplay, value, out.antiAliasingTransparency)) {
        if (debugLevel >= 1) {
            kviDebugPrint(NVAPI_DRS_FUNCTION("updateParamOnAAModeReplay"), __LINE__,
                          "Error : AA_MODE_REPLAY_ID value is invalid. Val = %x.\n", value);
        }
        return false;
    }
    out.enableSettings |= DRS_ANTI_ALIASING_TRANSPARENCY;
    return true;
}

bool NvApiDrsMgr::updateParamOnAAModeAlphatocoverage(NvU32 value, DrsParam& out) {
    if (value == 4) {
        out.antiAliasingTransparency = 1;
    } else if (value == 0) {
        // A replay mode read before stays.
        if (out.antiAliasingTransparency < 2 || out.antiAliasingTransparency > 4) {
            out.antiAliasingTransparency = 0;
        }
    } else {
        if (debugLevel >= 1) {
            kviDebugPrint(NVAPI_DRS_FUNCTION("updateParamOnAAModeAlphatocoverage"), __LINE__,
                          "Error : AA_MODE_ALPHATOCOVERAGE_ID value is invalid. Val = %x.\n",
                          value);
        }
        return false;
    }
    return true;
}

bool NvApiDrsMgr::set(const DrsParam& in) {
    if (initState != READY) {
        if (debugLevel >= 1) {
            kviDebugPrint(NVAPI_DRS_FUNCTION("set"), __LINE__, "Error : Not init.\n");
        }
        setErrorMessage(NVAPI_ERROR, true);
        return false;
    }
    if (!validateParam(in)) {
        return false;
    }
    clearErrorMessage();

    for (int i = 0; i < kDrsSettingCount; ++i) {
        const std::uint64_t bit = std::uint64_t{1} << i;
        if (!enabled(in, bit)) {
            continue;
        }
        std::vector<NVDRS_SETTING> list;
        if (!createSettings(in, bit, list)) {
            setErrorMessage(NVAPI_ERROR, true);
            return false;
        }
        for (NVDRS_SETTING& s : list) {
            NvAPI_Status status = NvAPI_DRS_SetSetting(handles_->session, handles_->profile, &s);
            if (status != NVAPI_OK) {
                if (debugLevel >= 1) {
                    kviDebugPrint(NVAPI_DRS_FUNCTION("set"), __LINE__,
                                  "NvAPI_DRS_SetSetting failed. ErrorCode = %d.\n", status);
                    kviDebugPrint(NVAPI_DRS_FUNCTION("set"), __LINE__, "Setting Id = %x.\n",
                                  s.settingId);
                }
                setErrorMessage(status, true);
                return false;
            }
        }
    }

    NvAPI_Status status = NvAPI_DRS_SaveSettings(handles_->session);
    if (status != NVAPI_OK) {
        if (debugLevel >= 1) {
            kviDebugPrint(NVAPI_DRS_FUNCTION("set"), __LINE__,
                          "NvAPI_DRS_SaveSettings failed. ErrorCode = %d.\n", status);
        }
        setErrorMessage(status, true);
        return false;
    }
    return true;
}

bool NvApiDrsMgr::validateSettings(std::uint64_t mask) {
    if ((mask & ~std::uint64_t{DRS_ALL_SETTINGS}) == 0) {
        return true;
    }
    if (debugLevel >= 1) {
        kviDebugPrint(NVAPI_DRS_FUNCTION("validateSettings"), __LINE__,
                      "Error : enableSettings is invalid. Val = %x.\n",
                      static_cast<unsigned>(mask & 0xFFFFFFFFu));
    }
    reportUnsupportedSettings(mask & ~std::uint64_t{DRS_ALL_SETTINGS});
    return false;
}

bool NvApiDrsMgr::createSettings(const DrsParam& in, std::uint64_t bit,
                                 std::vector<NVDRS_SETTING>& list) {
    switch (bit) {
    case DRS_ANISOTROPIC_FILTERING:
        return createSettingsOnAnisotropicFiltering(in, list);
    case DRS_ANTI_ALIASING_GAMMA_CORRECTION:
        return createSettingsOnAntiAliasingGammaCorrection(in, list);
    case DRS_ANTI_ALIASING_MODE:
        return createSettingsOnAntiAliasingMode(in, list);
    case DRS_ANTI_ALIASING_SETTING:
        return createSettingsOnAntiAliasingSetting(in, list);
    case DRS_ANTI_ALIASING_TRANSPARENCY:
        return createSettingsOnAntiAliasingTransparency(in, list);
    case DRS_MAXIMUM_PRERENDERED_FRAMES:
        return createSettingsOnMaximumPrerenderedFrames(in, list);
    case DRS_MULTI_DISPLAY_MIXED_GPU_ACCELERATION:
        return createSettingsOnMultiDisplayMixedGpuAcceleration(in, list);
    case DRS_TEXTURE_FILTERING_ANISOTROPIC_SAMPLE_OPTIMIZATION:
        return createSettingsOnTextureFilteringAnisotropicSampleOptimization(in, list);
    case DRS_TEXTURE_FILTERING_NEGATIVE_LOD_BIAS:
        return createSettingsOnTextureFilteringNegativeLodBiasParam(in, list);
    case DRS_TEXTURE_FILTERING_QUALITY:
        return createSettingsOnTextureFilteringQuality(in, list);
    case DRS_TEXTURE_FILTERING_TRILINEAR_OPTIMIZATION:
        return createSettingsOnTextureFilteringTrilinearOptimization(in, list);
    case DRS_THREADED_OPTIMIZATION:
        return createSettingsOnThreadedOptimization(in, list);
    case DRS_TRIPLE_BUFFERING:
        return createSettingsOnTripleBufferingParam(in, list);
    case DRS_VERTICAL_SYNC:
        return createSettingsOnVerticalSync(in, list);
    default:
        if (debugLevel >= 1) {
            kviDebugPrint(NVAPI_DRS_FUNCTION("createSettings"), __LINE__,
                          "Error : baseParam enableSetting is invalid. Val = %x.\n",
                          static_cast<unsigned>(bit & 0xFFFFFFFFu));
        }
        return false;
    }
}

// The refusal of a createSettings handler: the list is emptied and the handler's line written.
#define NVAPI_DRS_REFUSE(op, format, value)                                                        \
    do {                                                                                           \
        list.clear();                                                                              \
        if (debugLevel >= 1) {                                                                     \
            kviDebugPrint(NVAPI_DRS_FUNCTION(op), __LINE__, format, static_cast<unsigned>(value)); \
        }                                                                                          \
        return false;                                                                              \
    } while (false)

bool NvApiDrsMgr::createSettingsOnAnisotropicFiltering(const DrsParam& in,
                                                       std::vector<NVDRS_SETTING>& list) {
    const std::int32_t v = in.anisotropicFiltering;
    if (!inTable(kAnisoLevelOut, v)) {
        NVAPI_DRS_REFUSE("createSettingsOnAnisotropicFiltering",
                         "Error : baseParam anisotropicFiltering is invalid. Val = %x.\n", v);
    }
    list.push_back(makeDwordSetting(ANISO_MODE_SELECTOR_ID, v == 0 ? 0 : 1));
    list.push_back(makeDwordSetting(ANISO_MODE_LEVEL_ID, kAnisoLevelOut[v]));
    list.push_back(makeDwordSetting(ANISO_COMPANION_ID, 0));
    if (!enabled(in, DRS_TEXTURE_FILTERING_NEGATIVE_LOD_BIAS)) {
        list.push_back(makeDwordSetting(PS_TEXFILTER_NO_NEG_LODBIAS_ID, v <= 1 ? 0 : 1));
    }
    if (!enabled(in, DRS_TEXTURE_FILTERING_ANISOTROPIC_SAMPLE_OPTIMIZATION)) {
        list.push_back(makeDwordSetting(PS_TEXFILTER_ANISO_OPTS2_ID, 0));
    }
    return true;
}

bool NvApiDrsMgr::createSettingsOnAntiAliasingGammaCorrection(const DrsParam& in,
                                                              std::vector<NVDRS_SETTING>& list) {
    const std::int32_t v = in.antiAliasingGammaCorrection;
    if (!inTable(kGammaCorrectionOut, v)) {
        NVAPI_DRS_REFUSE("createSettingsOnAntiAliasingGammaCorrection",
                         "Error : baseParam antiAliasingGammaCorrection is invalid. Val = %x.\n",
                         v);
    }
    list.push_back(makeDwordSetting(AA_MODE_GAMMACORRECTION_ID, kGammaCorrectionOut[v]));
    return true;
}

bool NvApiDrsMgr::createSettingsOnAntiAliasingMode(const DrsParam& in,
                                                   std::vector<NVDRS_SETTING>& list) {
    const std::int32_t v = in.antiAliasingMode;
    if (!inTable(kAASelectorOut, v)) {
        NVAPI_DRS_REFUSE("createSettingsOnAntiAliasingMode",
                         "Error : baseParam antiAliasingModeParam is invalid. Val = %x.\n", v);
    }
    list.push_back(makeDwordSetting(AA_MODE_SELECTOR_ID, kAASelectorOut[v]));
    const bool methodFollows =
        enabled(in, DRS_ANTI_ALIASING_SETTING) &&
        (v == ANTI_ALIASING_MODE_ENHANCE || v == ANTI_ALIASING_MODE_OVERRIDE);
    if (methodFollows) {
        return true;
    }
    if (v == ANTI_ALIASING_MODE_APPLICATION_CONTROLLED || v == ANTI_ALIASING_MODE_OFF) {
        list.push_back(makeDwordSetting(AA_MODE_METHOD_ID, 0));
    } else {
        list.push_back(makeDwordSetting(AA_MODE_METHOD_ID, kAAMethodOut[1]));
        list.push_back(makeDwordSetting(AA_METHOD_COMPANION_ID, 0));
    }
    return true;
}

bool NvApiDrsMgr::createSettingsOnAntiAliasingSetting(const DrsParam& in,
                                                      std::vector<NVDRS_SETTING>& list) {
    if (enabled(in, DRS_ANTI_ALIASING_MODE) &&
        (in.antiAliasingMode == ANTI_ALIASING_MODE_APPLICATION_CONTROLLED ||
         in.antiAliasingMode == ANTI_ALIASING_MODE_OFF)) {
        return true;
    }
    const std::int32_t v = in.antiAliasingSetting;
    if (!inTable(kAAMethodOut, v)) {
        NVAPI_DRS_REFUSE("createSettingsOnAntiAliasingSetting",
                         "Error : baseParam antiAliasingSettingParam is invalid. Val = %x.\n", v);
    }
    list.push_back(makeDwordSetting(AA_MODE_METHOD_ID, kAAMethodOut[v]));
    if (v != ANTI_ALIASING_SETTING_NONE) {
        list.push_back(makeDwordSetting(AA_METHOD_COMPANION_ID, 0));
    }
    return true;
}

bool NvApiDrsMgr::createSettingsOnAntiAliasingTransparency(const DrsParam& in,
                                                           std::vector<NVDRS_SETTING>& list) {
    const std::int32_t v = in.antiAliasingTransparency;
    if (!inTable(kAAReplayOut, v)) {
        NVAPI_DRS_REFUSE("createSettingsOnAntiAliasingTransparency",
                         "Error : antiAliasingTransparencyParam value is invalid. Val = %x.\n", v);
    }
    list.push_back(makeDwordSetting(AA_MODE_REPLAY_ID, kAAReplayOut[v]));
    list.push_back(makeDwordSetting(AA_MODE_ALPHATOCOVERAGE_ID, kAAAlphaToCoverageOut[v]));
    return true;
}

bool NvApiDrsMgr::createSettingsOnMaximumPrerenderedFrames(const DrsParam& in,
                                                           std::vector<NVDRS_SETTING>& list) {
    list.push_back(
        makeDwordSetting(PRERENDERED_FRAMES_ID, static_cast<NvU32>(in.maximumPrerenderedFrames)));
    return true;
}

bool NvApiDrsMgr::createSettingsOnMultiDisplayMixedGpuAcceleration(
    const DrsParam& in, std::vector<NVDRS_SETTING>& list) {
    const std::int32_t v = in.multiDisplayMixedGpuAcceleration;
    if (!inTable(kOglMultimonOut, v)) {
        NVAPI_DRS_REFUSE(
            "createSettingsOnMultiDisplayMixedGpuAcceleration",
            "Error : multiDisplayMixedGpuAccelerationParam value is invalid. Val = %x.\n", v);
    }
    list.push_back(makeDwordSetting(OGL_MULTIMON_ID, kOglMultimonOut[v]));
    return true;
}

bool NvApiDrsMgr::createSettingsOnTextureFilteringAnisotropicSampleOptimization(
    const DrsParam& in, std::vector<NVDRS_SETTING>& list) {
    const std::int32_t v = in.textureFilteringAnisotropicSampleOptimization;
    if (!inTable(kOnOffOut, v)) {
        NVAPI_DRS_REFUSE("createSettingsOnTextureFilteringAnisotropicSampleOptimization",
                         "Error : textureFilteringAnisotropicSampleOptimizationParam value is "
                         "invalid. Val = %x.\n",
                         v);
    }
    list.push_back(makeDwordSetting(PS_TEXFILTER_ANISO_OPTS2_ID, kOnOffOut[v]));
    return true;
}

bool NvApiDrsMgr::createSettingsOnTextureFilteringNegativeLodBiasParam(
    const DrsParam& in, std::vector<NVDRS_SETTING>& list) {
    const std::int32_t v = in.textureFilteringNegativeLodBias;
    if (!inTable(kOnOffOut, v)) {
        NVAPI_DRS_REFUSE(
            "createSettingsOnTextureFilteringNegativeLodBiasParam",
            "Error : textureFilteringNegativeLodBiasParam value is invalid. Val = %x.\n", v);
    }
    list.push_back(makeDwordSetting(PS_TEXFILTER_NO_NEG_LODBIAS_ID, kOnOffOut[v]));
    if (!enabled(in, DRS_TEXTURE_FILTERING_ANISOTROPIC_SAMPLE_OPTIMIZATION) && v == 0) {
        list.push_back(makeDwordSetting(PS_TEXFILTER_ANISO_OPTS2_ID, 0));
    }
    return true;
}

bool NvApiDrsMgr::createSettingsOnTextureFilteringQuality(const DrsParam& in,
                                                          std::vector<NVDRS_SETTING>& list) {
    const std::int32_t v = in.textureFilteringQuality;
    if (!inTable(kQualityOut, v)) {
        NVAPI_DRS_REFUSE("createSettingsOnTextureFilteringQuality",
                         "Error : textureFilteringQualityParam value is invalid. Val = %x.\n", v);
    }
    list.push_back(makeDwordSetting(QUALITY_ENHANCEMENTS_ID, kQualityOut[v]));
    if (!enabled(in, DRS_TEXTURE_FILTERING_TRILINEAR_OPTIMIZATION)) {
        list.push_back(makeDwordSetting(PS_TEXFILTER_DISABLE_TRILIN_SLOPE_ID, 0));
    }
    if (!enabled(in, DRS_TEXTURE_FILTERING_ANISOTROPIC_SAMPLE_OPTIMIZATION)) {
        list.push_back(makeDwordSetting(PS_TEXFILTER_ANISO_OPTS2_ID, v <= 1 ? 0 : 1));
    }
    if (!enabled(in, DRS_ANISOTROPIC_FILTERING) && v == 1) {
        list.push_back(makeDwordSetting(ANISO_COMPANION_ID, 0));
    }
    return true;
}

bool NvApiDrsMgr::createSettingsOnTextureFilteringTrilinearOptimization(
    const DrsParam& in, std::vector<NVDRS_SETTING>& list) {
    const std::int32_t v = in.textureFilteringTrilinearOptimization;
    if (!inTable(kOnOffOut, v)) {
        NVAPI_DRS_REFUSE(
            "createSettingsOnTextureFilteringTrilinearOptimization",
            "Error : textureFilteringTrilinearOptimizationParam value is invalid. Val = %x.\n", v);
    }
    list.push_back(makeDwordSetting(PS_TEXFILTER_DISABLE_TRILIN_SLOPE_ID, kOnOffOut[v]));
    return true;
}

bool NvApiDrsMgr::createSettingsOnThreadedOptimization(const DrsParam& in,
                                                       std::vector<NVDRS_SETTING>& list) {
    const std::int32_t v = in.threadedOptimization;
    if (!inTable(kThreadControlOut, v)) {
        NVAPI_DRS_REFUSE("createSettingsOnThreadedOptimization",
                         "Error : threadedOptimizationParam value is invalid. Val = %x.\n", v);
    }
    list.push_back(makeDwordSetting(OGL_THREAD_CONTROL_ID, kThreadControlOut[v]));
    return true;
}

bool NvApiDrsMgr::createSettingsOnTripleBufferingParam(const DrsParam& in,
                                                       std::vector<NVDRS_SETTING>& list) {
    const std::int32_t v = in.tripleBuffering;
    if (!inTable(kOnOffOut, v)) {
        NVAPI_DRS_REFUSE("createSettingsOnTripleBufferingParam",
                         "Error : tripleBufferingParam value is invalid. Val = %x.\n", v);
    }
    list.push_back(makeDwordSetting(OGL_TRIPLE_BUFFER_ID, kOnOffOut[v]));
    return true;
}

bool NvApiDrsMgr::createSettingsOnVerticalSync(const DrsParam& in,
                                               std::vector<NVDRS_SETTING>& list) {
    const std::int32_t v = in.verticalSync;
    if (!inTable(kVsyncModeOut, v)) {
        NVAPI_DRS_REFUSE("createSettingsOnVerticalSync",
                         "Error : verticalSyncParam value is invalid. Val = %x.\n", v);
    }
    list.push_back(makeDwordSetting(VSYNCMODE_ID, kVsyncModeOut[v]));
    return true;
}

#undef NVAPI_DRS_REFUSE
#undef NVAPI_DRS_FUNCTION

} // namespace tool::graphics
