#include "tool/print/Print.h"

#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwchar>

#ifndef _WIN32
#include <iostream>
#include <locale>
#include <stdexcept>
#endif

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

#ifdef _WIN32

namespace {

// The standard-output streams as the C++ runtime's synchronised streams write them: narrow text in
// one fwrite, wide text one putwc per character (the C runtime converts each with its locale).
// A write that falls short leaves its stream failed, and a failed stream writes nothing more:
// a wide text with a character the locale cannot convert ends there, and so does every later
// wide print of the process, while narrow prints go on.
bool g_narrowFailed = false;
bool g_wideFailed = false;

} // namespace

void Print::print(const std::wstring& text) {
    bufferStandardOutput();
    if (!g_wideFailed) {
        for (const wchar_t* c = text.c_str(); *c != L'\0'; ++c) {
            if (std::putwc(*c, stdout) == WEOF) {
                g_wideFailed = true;
                break;
            }
        }
    }
    std::fflush(stdout);
}

void Print::print(const std::string& text) {
    bufferStandardOutput();
    if (!g_narrowFailed) {
        const char* c = text.c_str();
        const std::size_t length = std::strlen(c);
        if (std::fwrite(c, 1, length, stdout) != length) {
            g_narrowFailed = true;
        }
    }
    std::fflush(stdout);
}

// The wide stream converts with the C runtime's character locale: the user's default one from
// here on.
void Print::setLocale() {
    std::setlocale(LC_CTYPE, "");
}

#else

// The host layer sends std::wcout through std::cout (hostwin/src/console.cpp).
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

#endif

} // namespace tool::print
