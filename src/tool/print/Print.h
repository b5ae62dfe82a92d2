#pragma once

#include <string>

#include "tool/base/ModuleBase.h"

namespace tool::print {

extern const char kPrintBanner[];

// Console output of a tool. Both print operations write to standard output, up to the text's
// first NUL, without adding a line feed, and flush it before they return: the text is out at
// once, also when output goes to a file or a pipe, and so before a crash rather than at exit.
// Wide and narrow writes keep their order.
class Print : public ModuleBase {
  public:
    ~Print() override;
    virtual void print(const std::wstring& text);
    virtual void print(const std::string& text);
    // Makes the wide stream convert with the user's default locale.
    virtual void setLocale();
};

} // namespace tool::print
