// On Windows the wide and the narrow standard-output streams can be mixed freely. On glibc a
// FILE takes one orientation for good, and wide writes to a byte-oriented stdout are lost. The
// host build therefore sends std::wcout through std::cout: each wide character is converted with
// the current C locale and handed to the narrow stream, so both keep the order of the writes.
#include <climits>
#include <clocale>
#include <cwchar>
#include <iostream>
#include <streambuf>

namespace {

class NarrowingBuffer : public std::wstreambuf {
  protected:
    int_type overflow(int_type ch) override {
        if (traits_type::eq_int_type(ch, traits_type::eof())) {
            return traits_type::not_eof(ch);
        }
        char bytes[MB_LEN_MAX];
        std::mbstate_t state{};
        std::size_t n = std::wcrtomb(bytes, traits_type::to_char_type(ch), &state);
        if (n == static_cast<std::size_t>(-1)) {
            bytes[0] = '?';
            n = 1;
        }
        std::cout.write(bytes, static_cast<std::streamsize>(n));
        return std::cout ? ch : traits_type::eof();
    }

    int sync() override { return std::cout.flush() ? 0 : -1; }
};

// Never destroyed: std::wcout keeps using it until the last flush at exit.
NarrowingBuffer& narrowingBuffer = *new NarrowingBuffer;

struct ConsoleSetup {
    ConsoleSetup() {
        static std::ios_base::Init iostreamInit;
        std::wcout.rdbuf(&narrowingBuffer);
    }
    ~ConsoleSetup() { std::cout.flush(); }
};

ConsoleSetup consoleSetup;

} // namespace
