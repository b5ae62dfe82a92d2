#pragma once

#include <string>

#include "tool/base/ModuleBase.h"

namespace tool::print {

extern const char kPrintBanner[];

// Console output of a tool. Both print operations write to standard output, up to the text's
// first NUL, without adding a line feed or flushing; wide and narrow writes keep their order.
class Print : public ModuleBase {
  public:
    ~Print() override;
    virtual void print(const std::wstring& text);
    virtual void print(const std::string& text);
    // Makes the wide stream convert with the user's default locale.
    virtual void setLocale();
};

} // namespace tool::print
