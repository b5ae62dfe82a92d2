#include "tool/print/Print.h"

#include <cstdio>
#include <iostream>
#include <locale>
#include <stdexcept>

#include "common/Banner.h"

namespace tool::print {

const char kPrintBanner[] = DURNAVEL_BANNER("tool::print::Print", "1.00");

namespace {

// Room for the longest text the tool prints (the help text) in one piece.
const std::size_t kOutputBuffer = 4096;

// The C runtime writes an unbuffered standard output one character at a time: a system call
// for each (on a console, one console write each), whether the text comes narrow or wide. The
// first print gives the stream a buffer, and every print hands its text on as soon as it is
// written, so the output appears when it did, and in the order of the prints, in one write per
// print. Narrow and wide writes share the one C stream under both standard-output streams.
void bufferStandardOutput() {
    static bool buffered = false;
    if (!buffered) {
        buffered = true;
        std::setvbuf(stdout, nullptr, _IOFBF, kOutputBuffer);
    }
}

} // namespace

Print::~Print() = default;

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
