#include "support/TestSupport.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

std::string programFile(const std::string& name) {
    return name + DURNAVEL_EXE_SUFFIX;
}

std::string makeTempFolder(const std::string& label) {
    static std::atomic<unsigned> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        ("durnavel-" + label + "-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream data;
    data << in.rdbuf();
    return data.str();
}

void writeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string withoutCarriageReturns(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c != '\r') {
            out.push_back(c);
        }
    }
    return out;
}

} // namespace testsupport
