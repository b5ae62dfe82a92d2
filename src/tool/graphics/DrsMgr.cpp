#include "tool/graphics/DrsMgr.h"

#include "platform/kviDebug.h"
#include "common/Banner.h"

namespace tool::graphics {

const char kDrsMgrBanner[] = DURNAVEL_BANNER("tool::graphics::DrsMgr", "1.01");

namespace {

struct FieldRule {
    std::int32_t maximum;
    const wchar_t* invalidLine;
    const char* diagnostic;
    const wchar_t* name;
};

// Per field, in record order.
const FieldRule kRules[kDrsSettingCount] = {
    {5, L"AnisotropicFiltering parameter is invalid.", "Error : anisotropicFilteringParam is %d.\n",
     L"anisotropicFiltering"},
    {1, L"AntiAliasingGammaCorrectionParam parameter is invalid.",
     "Error : antiAliasingGammaCorrectionParam is %d.\n", L"antiAliasingGammaCorrection"},
    {3, L"AntiAliasingMode parameter is invalid.", "Error : antiAliasingModeParam is %d.\n",
     L"antiAliasingMode"},
    {7, L"AntiAliasingSetting parameter is invalid.", "Error : antiAliasingSettingParam is %d.\n",
     L"antiAliasingSetting"},
    {4, L"AntiAliasingTransparency parameter is invalid.",
     "Error : antiAliasingTransparencyParam is %d.\n", L"antiAliasingTransparency"},
    {8, L"MaximumPrerenderedFrames parameter is invalid.",
     "Error : maximumPrerenderedFramesParam is %d.\n", L"maximumPrerenderedFrames"},
    {2, L"MultiDisplayMixedGpuAcceleration parameter is invalid.",
     "Error : multiDisplayMixedGpuAccelerationParam is %d.\n", L"multiDisplayMixedGpuAcceleration"},
    {1, L"TextureFilteringAnisotropicSampleOptimization parameter is invalid.",
     "Error : textureFilteringAnisotropicSampleOptimizationParam is %d.\n",
     L"textureFilteringAnisotropicSampleOptimization"},
    {1, L"TextureFilteringNegativeLodBias parameter is invalid.",
     "Error : textureFilteringNegativeLodBiasParam is %d.\n", L"textureFilteringNegativeLodBias"},
    {3, L"TextureFilteringQuality parameter is invalid.",
     "Error : textureFilteringQualityParam is %d.\n", L"textureFilteringQuality"},
    {1, L"TextureFilteringTrilinearOptimization parameter is invalid.",
     "Error : textureFilteringTrilinearOptimizationParam is %d.\n",
     L"textureFilteringTrilinearOptimization"},
    {2, L"ThreadedOptimization parameter is invalid.", "Error : threadedOptimizationParam is %d.\n",
     L"threadedOptimization"},
    {1, L"TripleBuffering parameter is invalid.", "Error : tripleBufferingParam is %d.\n",
     L"tripleBuffering"},
    {2, L"VerticalSync parameter is invalid.", "Error : verticalSyncParam is %d.\n",
     L"verticalSync"},
};

const char kValidateParam[] = "tool::graphics::DrsMgr::validateParam";

} // namespace

DrsMgr::DrsMgr() : initState(0) {}

DrsMgr::~DrsMgr() = default;

bool DrsMgr::validateParam(const DrsParam& in) {
    clearErrorMessage();
    bool ok = true;
    for (int i = 0; i < kDrsSettingCount; ++i) {
        if ((in.enableSettings & (std::uint64_t{1} << i)) == 0) {
            continue;
        }
        std::int32_t value = drsField(in, i);
        if (value < 0 || value > kRules[i].maximum) {
            appendErrorLine(kRules[i].invalidLine);
            if (debugLevel >= 1) {
                kviDebugPrint(kValidateParam, __LINE__, kRules[i].diagnostic, value);
            }
            ok = false;
        }
    }

    const bool modeAndSetting = (in.enableSettings & DRS_ANTI_ALIASING_MODE) != 0 &&
                                (in.enableSettings & DRS_ANTI_ALIASING_SETTING) != 0;
    if (modeAndSetting && (in.antiAliasingMode == ANTI_ALIASING_MODE_APPLICATION_CONTROLLED ||
                           in.antiAliasingMode == ANTI_ALIASING_MODE_OFF)) {
        appendErrorLine(L"AntiAliasingSetting parameter is invalid.");
        appendErrorLine(L"If antiAliasingMode is _APPLICATION_CONTROLLED or _OFF, cannot set "
                        L"antiAliasingSetting.");
        if (debugLevel >= 1) {
            kviDebugPrint(kValidateParam, __LINE__, "Error : antiAliasingModeParam is %d.\n",
                          in.antiAliasingMode);
            kviDebugPrint(kValidateParam, __LINE__, "Error : antiAliasingSettingParam is %d.\n",
                          in.antiAliasingSetting);
        }
        ok = false;
    }
    if (modeAndSetting && in.antiAliasingMode == ANTI_ALIASING_MODE_OVERRIDE &&
        in.antiAliasingSetting == ANTI_ALIASING_SETTING_NONE) {
        appendErrorLine(L"AntiAliasingSetting parameter is invalid.");
        appendErrorLine(L"If antiAliasingMode is _OVERRIDE, cannot set antiAliasingSetting to "
                        L"_NONE.");
        appendErrorLine(L"Please set antiAliasingMode to _OFF.");
        if (debugLevel >= 1) {
            kviDebugPrint(kValidateParam, __LINE__, "Error : antiAliasingModeParam is %d.\n",
                          in.antiAliasingMode);
            kviDebugPrint(kValidateParam, __LINE__, "Error : antiAliasingSettingParam is %d.\n",
                          in.antiAliasingSetting);
        }
        ok = false;
    }
    if ((in.enableSettings & DRS_ANTI_ALIASING_SETTING) != 0 &&
        (in.enableSettings & DRS_ANTI_ALIASING_MODE) == 0) {
        appendErrorLine(
            L"If you set antiAliasingSetting, Please set antiAliasingMode at same timing.");
        if (debugLevel >= 1) {
            kviDebugPrint(kValidateParam, __LINE__,
                          "Error : If you set antiAliasingSetting, Please set antiAliasingMode at "
                          "same timing.\n");
        }
        return false;
    }
    if (!ok) {
        return false;
    }
    return validateSettings(in.enableSettings);
}

void DrsMgr::reportUnsupportedSettings(std::uint64_t bits) {
    clearErrorMessage();
    for (int i = 0; i < kDrsSettingCount; ++i) {
        if ((bits & (std::uint64_t{1} << i)) != 0) {
            appendErrorLine(std::wstring(L"Cannot set ") + kRules[i].name +
                            L" parameter at this driver.");
        }
    }
    if (bits >= (std::uint64_t{1} << kDrsSettingCount)) {
        appendErrorLine(L"Unknown parameter set as condition.");
    }
}

} // namespace tool::graphics
