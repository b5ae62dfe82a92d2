// What the fuzz targets share: reading the fuzzer's bytes, the environment, journal fields and
// the check that stops the run when an invariant breaks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fuzzsupport {

// Reads little-endian numbers and byte runs from the fuzzer's input. Past the end every read
// gives zeros, so every input is a valid one.
class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    std::size_t remaining() const { return at_ < size_ ? size_ - at_ : 0; }

    std::uint8_t u8();
    std::uint16_t u16();
    std::uint32_t u32();
    std::uint64_t u64();
    // Up to `count` bytes; fewer when the input ends first.
    std::vector<std::uint8_t> bytes(std::size_t count);

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Stops the run (abort, which libFuzzer reports as a crash with the input) when the condition
// does not hold, naming the invariant and what was seen.
void require(bool condition, const char* invariant, const std::string& seen = std::string());

// The same with what was seen given as a function, called only when the condition fails: the
// report of a run that goes well costs nothing.
template <typename Seen, typename = decltype(std::declval<Seen&>()())>
void require(bool condition, const char* invariant, Seen&& seen) {
    if (!condition) {
        require(false, invariant, std::string(seen()));
    }
}

void setEnvironment(const char* name, const std::string& value);

// The text split after each line feed; a last piece without one is kept as it is.
std::vector<std::string> linesOf(const std::string& text);
std::vector<std::wstring_view> linesOf(std::wstring_view text);

// The value of " KEY=" in a journal line, or an empty text.
std::string_view field(std::string_view line, std::string_view key);

std::string hex32(std::uint32_t value);

// True when the text is a sequence of non-empty lines, each ending in a line feed.
bool isLines(const std::wstring& text);

} // namespace fuzzsupport
