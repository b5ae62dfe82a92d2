#include "tool/base/ModuleBase.h"

#include "common/Banner.h"

namespace tool {

const char kModuleBaseBanner[] = DURNAVEL_BANNER("tool::ModuleBase", "1.00");

ModuleBase::ModuleBase() : debugLevel(0) {}

ModuleBase::~ModuleBase() {
    clearErrorMessage();
}

std::wstring ModuleBase::getErrorMessage() const {
    return errorText;
}

void ModuleBase::clearErrorMessage() {
    errorText.clear();
}

void ModuleBase::appendErrorLine(const std::wstring& line) {
    errorText += line;
    errorText += L'\n';
}

} // namespace tool
