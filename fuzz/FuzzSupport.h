// What the fuzz targets share: reading the fuzzer's bytes, a work folder in memory, small file
// helpers and the check that stops the run when an invariant breaks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
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

// A fresh folder for this process, on /dev/shm when it is there (else the temporary folder),
// removed again when the process ends normally.
std::string workFolder(const char* label);

void writeFile(const std::string& path, const std::string& data);
// The file's content; empty when it does not exist.
std::string readFile(const std::string& path);
void removeFile(const std::string& path);
void setEnvironment(const char* name, const std::string& value);

// The text split after each line feed; a last piece without one is kept as it is.
std::vector<std::string> linesOf(const std::string& text);

// The value of " KEY=" in a journal line, or an empty text.
std::string field(const std::string& line, const std::string& key);

std::string hex32(std::uint32_t value);

// True when the text is a sequence of non-empty lines, each ending in a line feed.
bool isLines(const std::wstring& text);

} // namespace fuzzsupport
