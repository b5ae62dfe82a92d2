#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>

namespace fuzzsupport {

std::uint8_t Input::u8() {
    return at_ < size_ ? data_[at_++] : 0;
}

std::uint16_t Input::u16() {
    const std::uint16_t low = u8();
    return static_cast<std::uint16_t>(low | (u8() << 8));
}

std::uint32_t Input::u32() {
    const std::uint32_t low = u16();
    return low | (static_cast<std::uint32_t>(u16()) << 16);
}

std::uint64_t Input::u64() {
    const std::uint64_t low = u32();
    return low | (static_cast<std::uint64_t>(u32()) << 32);
}

std::vector<std::uint8_t> Input::bytes(std::size_t count) {
    const std::size_t n = count < remaining() ? count : remaining();
    std::vector<std::uint8_t> out(data_ + at_, data_ + at_ + n);
    at_ += n;
    return out;
}

void require(bool condition, const char* invariant, const std::string& seen) {
    if (condition) {
        return;
    }
    std::fprintf(stderr, "\n== invariant broken: %s\n", invariant);
    if (!seen.empty()) {
        std::fprintf(stderr, "== seen:\n%s\n", seen.c_str());
    }
    std::fflush(stderr);
    std::abort();
}

void setEnvironment(const char* name, const std::string& value) {
    if (value.empty()) {
        ::unsetenv(name);
    } else {
        ::setenv(name, value.c_str(), 1);
    }
}

namespace {

template <typename Piece, typename Text> std::vector<Piece> split(const Text& text) {
    std::vector<Piece> lines;
    typename Text::size_type start = 0;
    while (start < text.size()) {
        const typename Text::size_type end = text.find('\n', start);
        if (end == Text::npos) {
            lines.push_back(Piece(text.substr(start)));
            break;
        }
        lines.push_back(Piece(text.substr(start, end - start)));
        start = end + 1;
    }
    return lines;
}

} // namespace

std::vector<std::string> linesOf(const std::string& text) {
    return split<std::string>(text);
}

std::vector<std::wstring_view> linesOf(std::wstring_view text) {
    return split<std::wstring_view>(text);
}

std::string_view field(std::string_view line, std::string_view key) {
    for (std::string_view::size_type at = line.find(key); at != std::string_view::npos;
         at = line.find(key, at + 1)) {
        const std::string_view::size_type value = at + key.size();
        if (at > 0 && line[at - 1] == ' ' && value < line.size() && line[value] == '=') {
            return line.substr(value + 1, line.find(' ', value) - value - 1);
        }
    }
    return {};
}

std::string hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(value));
    return text;
}

bool isLines(const std::wstring& text) {
    if (text.empty()) {
        return true;
    }
    if (text.back() != L'\n') {
        return false;
    }
    return text.front() != L'\n' && text.find(L"\n\n") == std::wstring::npos;
}

} // namespace fuzzsupport
