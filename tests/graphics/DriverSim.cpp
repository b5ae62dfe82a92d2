#include "DriverSim.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "nvapi/NvApi.h"
#include "platform/kviDebug.h"
#include "support/TestSupport.h"

namespace drivertest {

namespace {

int catchDiagnostic(const char* line) {
    DriverTest::diagnostics().emplace_back(line);
    return 0;
}

} // namespace

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        out.push_back(static_cast<char>(c));
    }
    return out;
}

std::string JournalLine::operator[](const std::string& key) const {
    auto it = values.find(key);
    return it == values.end() ? std::string("<absent>") : it->second;
}

std::uint32_t JournalLine::number(const std::string& key) const {
    std::string v = (*this)[key];
    return static_cast<std::uint32_t>(std::stoll(v, nullptr, 0));
}

std::vector<std::string>& DriverTest::diagnostics() {
    static std::vector<std::string> lines;
    return lines;
}

void DriverTest::SetUp() {
    folder = testsupport::makeTempFolder("drs");
    nvapiStorePath = (std::filesystem::path(folder) / "nvapi-store.txt").string();
    nvcplStorePath = (std::filesystem::path(folder) / "nvcpl-store.txt").string();
    journalPath = (std::filesystem::path(folder) / "journal.txt").string();
    testsupport::setEnvironment("DURNAVEL_NVAPI_STORE", nvapiStorePath);
    testsupport::setEnvironment("DURNAVEL_NVCPL_STORE", nvcplStorePath);
    testsupport::setEnvironment("DURNAVEL_SIM_JOURNAL", journalPath);
    testsupport::setEnvironment("DURNAVEL_SIM_FAULTS", "");
    testsupport::setEnvironment("DURNAVEL_HOST_LOAD_RECORD",
                                (std::filesystem::path(folder) / "loads.txt").string());
    useDrivers();
    diagnostics().clear();
    kviDebugSetHook(catchDiagnostic);
}

void DriverTest::TearDown() {
    kviDebugSetHook(nullptr);
    testsupport::setEnvironment("DURNAVEL_SIM_FAULTS", "");
    // NVAPI is process-wide: a test that left it loaded must not leak it into the next one.
    while (NvAPI_Unload() == NVAPI_OK) {
    }
    testsupport::setEnvironment("DURNAVEL_SIM_JOURNAL", "");
    testsupport::setEnvironment("DURNAVEL_HOST_LOADER", "");
    testsupport::setEnvironment("DURNAVEL_HOST_LOAD_RECORD", "");
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

void DriverTest::setFaults(const std::string& faults) {
    testsupport::setEnvironment("DURNAVEL_SIM_FAULTS", faults);
}

void DriverTest::useDrivers(const std::string& variant) {
    if (variant == "empty") {
        std::filesystem::path empty = std::filesystem::path(folder) / "no-drivers";
        std::filesystem::create_directories(empty);
        libraryFolder = empty.string();
    } else if (variant.empty()) {
        libraryFolder = simDriversFolder();
    } else {
        libraryFolder = (std::filesystem::path(simDriversFolder()) / variant).string();
    }
    useLibraryFolder(libraryFolder);
}

void DriverTest::writeNvapiStore(const Settings& settings) {
    std::string text;
    for (const auto& s : settings) {
        text += hex(s.first) + " " + hex(s.second) + "\n";
    }
    testsupport::writeFile(nvapiStorePath, text);
}

void DriverTest::writeNvapiStoreText(const std::string& text) {
    testsupport::writeFile(nvapiStorePath, text);
}

std::string DriverTest::nvapiStoreText() const {
    if (!std::filesystem::exists(nvapiStorePath)) {
        return "<absent>";
    }
    return testsupport::readFile(nvapiStorePath);
}

Settings DriverTest::nvapiStore() const {
    Settings settings;
    std::istringstream in(nvapiStoreText());
    std::string id;
    std::string value;
    while (in >> id >> value) {
        settings.emplace_back(static_cast<std::uint32_t>(std::stoul(id, nullptr, 0)),
                              static_cast<std::uint32_t>(std::stoul(value, nullptr, 0)));
    }
    return settings;
}

void DriverTest::writeNvcplStore(std::int32_t antiAliasingCode, std::int32_t frameQueueLimit) {
    testsupport::writeFile(nvcplStorePath, "4 " + std::to_string(antiAliasingCode) + "\n6 " +
                                               std::to_string(frameQueueLimit) + "\n");
}

std::string DriverTest::nvcplStoreText() const {
    if (!std::filesystem::exists(nvcplStorePath)) {
        return "<absent>";
    }
    return testsupport::readFile(nvcplStorePath);
}

std::vector<JournalLine> DriverTest::journal() const {
    std::vector<JournalLine> lines;
    if (!std::filesystem::exists(journalPath)) {
        return lines;
    }
    std::istringstream in(testsupport::readFile(journalPath));
    std::string text;
    while (std::getline(in, text)) {
        JournalLine line;
        line.text = text;
        std::istringstream words(text);
        words >> line.library >> line.event;
        std::string word;
        while (words >> word) {
            std::string::size_type eq = word.find('=');
            if (eq != std::string::npos) {
                line.values[word.substr(0, eq)] = word.substr(eq + 1);
            }
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<JournalLine> DriverTest::journal(const std::string& event) const {
    std::vector<JournalLine> lines;
    for (const JournalLine& line : journal()) {
        if (line.event == event) {
            lines.push_back(line);
        }
    }
    return lines;
}

Settings DriverTest::settingsWritten() const {
    Settings written;
    for (const JournalLine& line : journal("NvAPI_DRS_SetSetting")) {
        written.emplace_back(line.number("id"), line.number("value"));
    }
    return written;
}

void DriverTest::clearJournal() {
    std::error_code ignored;
    std::filesystem::remove(journalPath, ignored);
}

} // namespace drivertest
