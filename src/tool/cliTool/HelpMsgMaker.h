#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tool/base/ModuleBase.h"

namespace tool::cliTool {

extern const char kHelpMsgMakerBanner[];

// One argument as the help text shows it.
struct HelpItem {
    std::wstring switchName;  // the canonical switch
    std::wstring paramName;   // placeholder of each parameter
    std::wstring description; // a line feed inside forces a line break
    std::int32_t paramCount = 0;
    std::int32_t hidden = 0;    // nonzero: listed under the options only, not in the usage line
    std::int32_t separated = 0; // nonzero: one blank before each placeholder in the usage line
};

// Everything the help text is laid out from.
struct HelpSource {
    std::int32_t width = 0; // line length limit for wrapping
    std::wstring programName;
    std::wstring versionText; // head of the text, copied unchanged
    std::vector<HelpItem> items;
    std::wstring examplesText; // tail of the text, copied unchanged
};

// Lays out a help text: version banner, usage line(s), options table, examples. The text is
// built once, by the constructor.
class HelpMsgMaker : public ModuleBase {
  public:
    explicit HelpMsgMaker(const HelpSource& source);
    ~HelpMsgMaker() override;

    // A copy of the built text.
    std::wstring getMessage() const;

  private:
    int make(const HelpSource& source);

    std::wstring message_;
};

} // namespace tool::cliTool
