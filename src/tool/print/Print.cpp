#include "tool/print/Print.h"

#include <cstdio>

#include "common/Banner.h"
#include "tool/print/StandardOutput.h"

namespace tool::print {

const char kPrintBanner[] = DURNAVEL_BANNER("tool::print::Print", "1.00");

namespace {

// Room for the longest text the tool prints (the help text) in one piece.
const std::size_t kOutputBuffer = 4096;

} // namespace

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

Print::~Print() = default;

} // namespace tool::print
