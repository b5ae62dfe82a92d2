#pragma once

#include <cstdint>
#include <string>

namespace tool {

extern const char kModuleBaseBanner[];

// Common base of the library's service classes: a user-facing error text and the debug level
// that gates the module's diagnostic lines.
class ModuleBase {
  public:
    ModuleBase();
    virtual ~ModuleBase();

    ModuleBase(const ModuleBase&) = delete;
    ModuleBase& operator=(const ModuleBase&) = delete;

    // A copy of the error text; empty while nothing has been reported.
    std::wstring getErrorMessage() const;

    // Diagnostic lines of the module are written only at 1 or more. Starts at 0 and the tool
    // never raises it; tests may.
    std::int32_t debugLevel;

  protected:
    // Empties the error text before a fresh report.
    void clearErrorMessage();
    // Adds one line (the text and a line feed) to the error text.
    void appendErrorLine(const std::wstring& line);

    std::wstring errorText;
};

} // namespace tool
