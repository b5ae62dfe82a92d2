#include "SimDevice.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "support/TestSupport.h"

namespace simdevice {

namespace {

// The journal's and configuration's file names inside the device folder (see
// sim/vesnara/vesnaraCore.h).
const char kConfigName[] = "vesnara.conf";
const char kJournalName[] = "journal.txt";

std::string inFolder(const char* name) {
    std::string dir = folder();
    char separator = dir.find('\\') != std::string::npos ? '\\' : '/';
    return dir + separator + name;
}

std::uint64_t hexField(const std::string& line, const std::string& key) {
    std::size_t at = line.find(" " + key + "=");
    if (at == std::string::npos) {
        return ~0ull;
    }
    return std::stoull(line.substr(at + key.size() + 2), nullptr, 0);
}

std::string wordField(const std::string& line, const std::string& key) {
    std::size_t at = line.find(" " + key + "=");
    if (at == std::string::npos) {
        return {};
    }
    std::string rest = line.substr(at + key.size() + 2);
    return rest.substr(0, rest.find(' '));
}

} // namespace

std::string imagePath(const std::string& name) {
    // The builder writes the images into the build folder; on Windows the driver finds a path
    // beginning with '/' on drive Z:, where Wine shows the Unix root.
    return std::string(DURNAVEL_PLATFORM_IMAGES) + "/" + name + ".img";
}

void serve(const std::string& image, const std::vector<std::string>& faults) {
    std::string text;
    if (!image.empty()) {
        text += "image " + imagePath(image) + "\n";
    }
    bool present = true;
    for (const std::string& fault : faults) {
        text += "fault " + fault + "\n";
        present = present && fault != "open";
    }
    testsupport::writeFile(inFolder(kConfigName), text);
    waitForDevice(present);
    clearJournal();
}

void clearJournal() {
    testsupport::writeFile(inFolder(kJournalName), "");
}

Journal journal() {
    Journal result;
    std::ifstream in(inFolder(kJournalName), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (line == "close") {
            continue;
        }
        result.lines.push_back(line);
        if (line.rfind("open ok", 0) == 0) {
            ++result.opens;
        } else if (line.rfind("request ", 0) == 0) {
            Request r;
            r.address = hexField(line, "address");
            r.count = static_cast<std::uint32_t>(hexField(line, "count"));
            r.out = static_cast<std::uint32_t>(hexField(line, "out"));
            r.result = wordField(line, "result");
            r.returned = static_cast<std::uint32_t>(hexField(line, "returned"));
            result.requests.push_back(r);
        }
    }
    return result;
}

} // namespace simdevice
