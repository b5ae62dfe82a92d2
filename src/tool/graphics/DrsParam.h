#pragma once

#include <cstdint>

namespace tool::graphics {

// The driver-independent settings record: fourteen settings and the mask of the meant ones. Bit i
// of enableSettings marks field i (in declaration order); a field whose bit is clear is ignored.
// Value-initialised (DrsParam{}) every field and the mask are 0; the record a read starts from
// is makeDefaultDrsParam().
struct DrsParam {
    std::int32_t anisotropicFiltering;
    std::int32_t antiAliasingGammaCorrection;
    std::int32_t antiAliasingMode;
    std::int32_t antiAliasingSetting;
    std::int32_t antiAliasingTransparency;
    std::int32_t maximumPrerenderedFrames;
    std::int32_t multiDisplayMixedGpuAcceleration;
    std::int32_t textureFilteringAnisotropicSampleOptimization;
    std::int32_t textureFilteringNegativeLodBias;
    std::int32_t textureFilteringQuality;
    std::int32_t textureFilteringTrilinearOptimization;
    std::int32_t threadedOptimization;
    std::int32_t tripleBuffering;
    std::int32_t verticalSync;
    std::uint64_t enableSettings;
};

// Bits of DrsParam::enableSettings.
enum : std::uint64_t {
    DRS_ANISOTROPIC_FILTERING = 0x1,
    DRS_ANTI_ALIASING_GAMMA_CORRECTION = 0x2,
    DRS_ANTI_ALIASING_MODE = 0x4,
    DRS_ANTI_ALIASING_SETTING = 0x8,
    DRS_ANTI_ALIASING_TRANSPARENCY = 0x10,
    DRS_MAXIMUM_PRERENDERED_FRAMES = 0x20,
    DRS_MULTI_DISPLAY_MIXED_GPU_ACCELERATION = 0x40,
    DRS_TEXTURE_FILTERING_ANISOTROPIC_SAMPLE_OPTIMIZATION = 0x80,
    DRS_TEXTURE_FILTERING_NEGATIVE_LOD_BIAS = 0x100,
    DRS_TEXTURE_FILTERING_QUALITY = 0x200,
    DRS_TEXTURE_FILTERING_TRILINEAR_OPTIMIZATION = 0x400,
    DRS_THREADED_OPTIMIZATION = 0x800,
    DRS_TRIPLE_BUFFERING = 0x1000,
    DRS_VERTICAL_SYNC = 0x2000,
    DRS_ALL_SETTINGS = 0x3FFF,
};

const int kDrsSettingCount = 14;

// antiAliasingMode values.
enum : std::int32_t {
    ANTI_ALIASING_MODE_APPLICATION_CONTROLLED = 0,
    ANTI_ALIASING_MODE_OFF = 1,
    ANTI_ALIASING_MODE_ENHANCE = 2,
    ANTI_ALIASING_MODE_OVERRIDE = 3,
};

// antiAliasingSetting: 0 none, 1 to 7 the seven anti-aliasing methods.
enum : std::int32_t {
    ANTI_ALIASING_SETTING_NONE = 0,
};

// The record a read starts from: every field 0 except maximumPrerenderedFrames 3, no bit set.
// maximumPrerenderedFrames 3 with its bit clear therefore means "no explicit driver value".
inline DrsParam makeDefaultDrsParam() {
    DrsParam p{};
    p.maximumPrerenderedFrames = 3;
    return p;
}

// Field i of the record (0 to 13, in declaration order).
inline std::int32_t& drsField(DrsParam& p, int i) {
    std::int32_t* fields[kDrsSettingCount] = {&p.anisotropicFiltering,
                                              &p.antiAliasingGammaCorrection,
                                              &p.antiAliasingMode,
                                              &p.antiAliasingSetting,
                                              &p.antiAliasingTransparency,
                                              &p.maximumPrerenderedFrames,
                                              &p.multiDisplayMixedGpuAcceleration,
                                              &p.textureFilteringAnisotropicSampleOptimization,
                                              &p.textureFilteringNegativeLodBias,
                                              &p.textureFilteringQuality,
                                              &p.textureFilteringTrilinearOptimization,
                                              &p.threadedOptimization,
                                              &p.tripleBuffering,
                                              &p.verticalSync};
    return *fields[i];
}

inline std::int32_t drsField(const DrsParam& p, int i) {
    return drsField(const_cast<DrsParam&>(p), i);
}

} // namespace tool::graphics
