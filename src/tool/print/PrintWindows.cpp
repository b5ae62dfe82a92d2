// Print on Windows: through the C runtime's standard output, as the C++ runtime's synchronised
// streams would write it, without pulling the streams and their locale tables into the program.
#include "tool/print/Print.h"

#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "tool/print/StandardOutput.h"

namespace tool::print {

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

} // namespace tool::print
