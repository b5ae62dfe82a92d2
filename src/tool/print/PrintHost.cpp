// Print in the host build: through the C++ streams, which the host layer routes so that wide
// and narrow text share glibc's byte-oriented standard output (hostwin/src/console.cpp).
#include "tool/print/Print.h"

#include <cstdio>
#include <iostream>
#include <locale>
#include <stdexcept>

#include "tool/print/StandardOutput.h"

namespace tool::print {

void Print::print(const std::wstring& text) {
    bufferStandardOutput();
    std::wcout << text.c_str();
    std::fflush(stdout);
}

void Print::print(const std::string& text) {
    bufferStandardOutput();
    std::cout << text.c_str();
    std::fflush(stdout);
}

void Print::setLocale() {
    try {
        std::wcout.imbue(std::locale(""));
    } catch (const std::runtime_error&) {
        // The environment names a locale the runtime does not know: keep the current one.
    }
}

} // namespace tool::print
