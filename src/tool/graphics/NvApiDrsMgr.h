#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "nvapi/NvApi.h"
#include "tool/graphics/DrsMgr.h"

namespace tool::graphics {

extern const char kNvApiDrsMgrBanner[];

// Driver setting IDs of the base profile that carry the record's fields.
enum : NvU32 {
    ANISO_MODE_SELECTOR_ID = 0x10D2BB16,
    ANISO_MODE_LEVEL_ID = 0x101E61A9,
    AA_MODE_GAMMACORRECTION_ID = 0x107D639D,
    AA_MODE_SELECTOR_ID = 0x107EFC5B,
    AA_MODE_METHOD_ID = 0x10D773D2,
    AA_MODE_REPLAY_ID = 0x10D48A85,
    AA_MODE_ALPHATOCOVERAGE_ID = 0x10FC2D9C,
    PRERENDERED_FRAMES_ID = 0x007BA09E,
    OGL_MULTIMON_ID = 0x200AEBFC,
    PS_TEXFILTER_ANISO_OPTS2_ID = 0x00E73211,
    PS_TEXFILTER_NO_NEG_LODBIAS_ID = 0x0019BB68,
    QUALITY_ENHANCEMENTS_ID = 0x00CE2691,
    PS_TEXFILTER_DISABLE_TRILIN_SLOPE_ID = 0x002ECAF2,
    OGL_THREAD_CONTROL_ID = 0x20C1221E,
    OGL_TRIPLE_BUFFER_ID = 0x20FDD1F9,
    VSYNCMODE_ID = 0x00A879CF,
    // Written as 0 together with anisotropic filtering; ignored when read.
    ANISO_COMPANION_ID = 0x0084CD70,
    // Written as 0 together with an anti-aliasing method; ignored when read.
    AA_METHOD_COMPANION_ID = 0x107AFC5B,
};

// The base profile may hold at most this many settings for get.
const NvU32 kMaxBaseProfileSettings = 64;

// One 32-bit setting record: zeroed, version word, ID, type 0, current value.
NVDRS_SETTING makeDwordSetting(NvU32 id, NvU32 value);

// The settings manager over NVAPI's driver settings (DRS): reads and writes the base profile.
class NvApiDrsMgr : public DrsMgr {
  public:
    // initState bits while initialising.
    static constexpr std::int32_t INIT_NVAPI = 0x1;
    static constexpr std::int32_t INIT_SESSION = 0x2;

    NvApiDrsMgr();
    ~NvApiDrsMgr() override;

    bool initialize() override;
    void finalize() override;
    bool get(DrsParam& out) override;
    bool set(const DrsParam& in) override;
    bool validateSettings(std::uint64_t mask) override;

    // Stores one enumerated setting into out.
    bool updateParam(const NVDRS_SETTING& setting, DrsParam& out);
    bool updateParamOnAnisoModeSelector(NvU32 value, DrsParam& out);
    bool updateParamOnAnisoModeLevel(NvU32 value, DrsParam& out);
    bool updateParamOnAAModeGammacorrection(NvU32 value, DrsParam& out);
    bool updateParamOnAAModeSelector(NvU32 value, DrsParam& out);
    bool updateParamOnAAModeMethod(NvU32 value, DrsParam& out);
    bool updateParamOnAAModeReplay(NvU32 value, DrsParam& out);
    bool updateParamOnAAModeAlphatocoverage(NvU32 value, DrsParam& out);
    bool updateParamOnOglMultimon(NvU32 value, DrsParam& out);
    bool updateParamOnPSsTexfilterAnisoOpt2(NvU32 value, DrsParam& out);
    bool updateParamOnPSsTexfilterNoNegLodbias(NvU32 value, DrsParam& out);
    bool updateParamOnQualityEnhancements(NvU32 value, DrsParam& out);
    bool updateParamOnPSsTexfilterDisableTrilinSlope(NvU32 value, DrsParam& out);
    bool updateParamOnOglThreadControl(NvU32 value, DrsParam& out);
    bool updateParamOnOglTripleBuffer(NvU32 value, DrsParam& out);
    bool updateParamOnVsyncMode(NvU32 value, DrsParam& out);

    // Appends the driver settings that carry the one field named by bit.
    bool createSettings(const DrsParam& in, std::uint64_t bit, std::vector<NVDRS_SETTING>& list);
    bool createSettingsOnAnisotropicFiltering(const DrsParam& in, std::vector<NVDRS_SETTING>& list);
    bool createSettingsOnAntiAliasingGammaCorrection(const DrsParam& in,
                                                     std::vector<NVDRS_SETTING>& list);
    bool createSettingsOnAntiAliasingMode(const DrsParam& in, std::vector<NVDRS_SETTING>& list);
    bool createSettingsOnAntiAliasingSetting(const DrsParam& in, std::vector<NVDRS_SETTING>& list);
    bool createSettingsOnAntiAliasingTransparency(const DrsParam& in,
                                                  std::vector<NVDRS_SETTING>& list);
    bool createSettingsOnMaximumPrerenderedFrames(const DrsParam& in,
                                                  std::vector<NVDRS_SETTING>& list);
    bool createSettingsOnMultiDisplayMixedGpuAcceleration(const DrsParam& in,
                                                          std::vector<NVDRS_SETTING>& list);
    bool
    createSettingsOnTextureFilteringAnisotropicSampleOptimization(const DrsParam& in,
                                                                  std::vector<NVDRS_SETTING>& list);
    bool createSettingsOnTextureFilteringNegativeLodBiasParam(const DrsParam& in,
                                                              std::vector<NVDRS_SETTING>& list);
    bool createSettingsOnTextureFilteringQuality(const DrsParam& in,
                                                 std::vector<NVDRS_SETTING>& list);
    bool createSettingsOnTextureFilteringTrilinearOptimization(const DrsParam& in,
                                                               std::vector<NVDRS_SETTING>& list);
    bool createSettingsOnThreadedOptimization(const DrsParam& in, std::vector<NVDRS_SETTING>& list);
    bool createSettingsOnTripleBufferingParam(const DrsParam& in, std::vector<NVDRS_SETTING>& list);
    bool createSettingsOnVerticalSync(const DrsParam& in, std::vector<NVDRS_SETTING>& list);

    // Writes the user-facing lines for a driver status (-104, 0, any other).
    void setErrorMessage(NvAPI_Status status, bool reset = true);

  private:
    struct Handles {
        NvDRSSessionHandle session = nullptr;
        NvDRSProfileHandle profile = nullptr;
    };

    // The end of a failed initialize: diagnostic, error text, finalize, false.
    bool failInitialize(int line, const char* format, NvAPI_Status status);

    std::unique_ptr<Handles> handles_;
};

} // namespace tool::graphics
