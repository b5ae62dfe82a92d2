#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#include <unistd.h>

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

namespace {

std::vector<std::string>& foldersToRemove() {
    static std::vector<std::string> folders;
    return folders;
}

void removeFolders() {
    for (const std::string& folder : foldersToRemove()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
}

} // namespace

std::string workFolder(const char* label) {
    std::error_code ec;
    std::string base = std::filesystem::is_directory("/dev/shm", ec)
                           ? std::string("/dev/shm")
                           : std::filesystem::temp_directory_path().string();
    std::string pattern = base + "/durnavel-" + label + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    require(::mkdtemp(name.data()) != nullptr, "a work folder can be made", pattern);
    if (foldersToRemove().empty()) {
        std::atexit(removeFolders);
    }
    foldersToRemove().push_back(name.data());
    return name.data();
}

void writeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
    out.close();
    require(static_cast<bool>(out), "a work file can be written", path);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void removeFile(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

void setEnvironment(const char* name, const std::string& value) {
    if (value.empty()) {
        ::unsetenv(name);
    } else {
        ::setenv(name, value.c_str(), 1);
    }
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string field(const std::string& line, const std::string& key) {
    const std::string marker = " " + key + "=";
    std::string::size_type at = line.find(marker);
    if (at == std::string::npos) {
        return {};
    }
    at += marker.size();
    return line.substr(at, line.find(' ', at) - at);
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
