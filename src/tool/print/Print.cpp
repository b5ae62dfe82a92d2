#include "tool/print/Print.h"

#include <iostream>
#include <locale>
#include <stdexcept>

#include "common/Banner.h"

namespace tool::print {

const char kPrintBanner[] = DURNAVEL_BANNER("tool::print::Print", "1.00");

Print::~Print() = default;

void Print::print(const std::wstring& text) {
    std::wcout << text.c_str();
}

void Print::print(const std::string& text) {
    std::cout << text.c_str();
}

void Print::setLocale() {
    try {
        std::wcout.imbue(std::locale(""));
    } catch (const std::runtime_error&) {
        // The environment names a locale the runtime does not know: keep the current one.
    }
}

} // namespace tool::print
