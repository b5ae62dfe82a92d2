#include "tool/base/ModuleBase.h"

#include "common/Banner.h"

namespace tool {

const char kModuleBaseBanner[] = DURNAVEL_BANNER("tool::ModuleBase", "1.00");

ModuleBase::ModuleBase() : debugLevel(0), errorText(std::ios_base::out) {}

ModuleBase::~ModuleBase() {
    clearErrorMessage();
}

std::wstring ModuleBase::getErrorMessage() const {
    return errorText.str();
}

void ModuleBase::clearErrorMessage() {
    errorText.str(std::wstring());
    errorText.clear();
}

void ModuleBase::appendErrorLine(const std::wstring& line) {
    errorText << line << L'\n';
    errorText.flush();
}

} // namespace tool
