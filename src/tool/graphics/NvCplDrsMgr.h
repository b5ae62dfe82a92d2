#pragma once

#include <cstdint>
#include <memory>

#include "tool/graphics/DrsMgr.h"
#include "tool/graphics/NvCplFunc.h"

namespace tool::graphics {

extern const char kNvCplDrsMgrBanner[];

// Data indexes of nvcpl.dll.
enum : LONG {
    NVCPL_API_CURRENT_AA_VALUE = 4,
    NVCPL_API_FRAME_QUEUE_LIMIT = 6,
};

// The settings manager over the control-panel library nvcpl.dll: reads antiAliasingSetting and
// maximumPrerenderedFrames, writes maximumPrerenderedFrames.
class NvCplDrsMgr : public DrsMgr {
  public:
    NvCplDrsMgr();
    ~NvCplDrsMgr() override;

    bool initialize() override;
    void finalize() override;
    bool get(DrsParam& out) override;
    bool set(const DrsParam& in) override;
    bool validateSettings(std::uint64_t mask) override;

    // Reads the one field named by bit into record and sets its bit.
    bool updateParam(std::uint64_t bit, DrsParam& record);
    bool getAntiAliasingSettingParam(std::int32_t* result);
    bool getMaximumPrerenderedFramesParam(std::int32_t* result);
    // "Fatal error occured." and "Please check your hardware.", after emptying the text on reset.
    void setErrorMessage(bool reset);

  private:
    std::unique_ptr<NvCplFunc> func_;
};

} // namespace tool::graphics
