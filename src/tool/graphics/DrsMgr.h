#pragma once

#include <cstdint>

#include "tool/base/ModuleBase.h"
#include "tool/graphics/DrsParam.h"

namespace tool::graphics {

extern const char kDrsMgrBanner[];

// The abstract driver-settings manager: construct, initialize, get or set, finalize, destroy.
// Every failure leaves its user-facing lines in the error text (getErrorMessage).
class DrsMgr : public ModuleBase {
  public:
    // initState once initialize has succeeded.
    static constexpr std::int32_t READY = 0x7FFFFFFF;

    DrsMgr();
    ~DrsMgr() override;

    // Opens the driver interface; true at once when already open.
    virtual bool initialize() = 0;
    // Releases what initialize opened; harmless when nothing is open.
    virtual void finalize() = 0;
    // Reads the driver into out, starting from the default record.
    virtual bool get(DrsParam& out) = 0;
    // Validates in and writes every enabled field to the driver.
    virtual bool set(const DrsParam& in) = 0;
    // Range checks and the anti-aliasing rules, then validateSettings. Leaves the error text
    // empty on success.
    virtual bool validateParam(const DrsParam& in);
    // True when the driver interface can set every bit of mask.
    virtual bool validateSettings(std::uint64_t mask) = 0;

    // One "Cannot set ..." line per known bit, and one line for any bit above them.
    void reportUnsupportedSettings(std::uint64_t bits);

    std::int32_t getInitState() const { return initState; }

  protected:
    std::int32_t initState;
};

} // namespace tool::graphics
