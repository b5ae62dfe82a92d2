#pragma once

#include <memory>

#include "tool/Durnavel/ToolRequest.h"
#include "tool/base/Base.h"
#include "tool/graphics/DrsMgr.h"

namespace tool {

extern const char kDurnavelBanner[];

// The tool: shows or sets the driver's maximum pre-rendered frames on platform QTD, through the
// control-panel library on revision 1 and NVAPI's settings interface on later revisions.
class Main : public Base {
  public:
    explicit Main(BaseConfig& config);
    ~Main() override;

  protected:
    int initialize(int argc, wchar_t* argv[]) override;
    int finalize() override;
    int execute() override;

  private:
    // The line that opens every report of a platform or driver failure.
    void printAccessError();

    ToolRequest request_;
    std::unique_ptr<graphics::DrsMgr> drsMgr_;
};

} // namespace tool
