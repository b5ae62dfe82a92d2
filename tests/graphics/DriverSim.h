// The simulated driver libraries as the graphics tests use them: one fresh folder per test with
// the stores and the journal, the fault switches, and the folder the loader looks in.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace drivertest {

// The folder holding the simulated nvapi.dll and nvcpl.dll of this build.
std::string simDriversFolder();
// Makes the driver libraries in folder the ones the tool loads (the system folder's).
void useLibraryFolder(const std::string& folder);
// Makes the loader one of a Windows without AddDllDirectory, whose LoadLibraryExA does not know
// LOAD_LIBRARY_SEARCH_SYSTEM32. False where the loader is Windows' own (Wine has it).
bool withoutAddDllDirectory();
// The library loads asked since the test began, "flags=0x00000800 name=nvcpl.dll" each, from
// the host layer's record. Windows' own loader keeps none: nullopt there.
std::optional<std::vector<std::string>> loadsAsked();

typedef std::vector<std::pair<std::uint32_t, std::uint32_t>> Settings;

// One journal line split into its event and key=value words.
struct JournalLine {
    std::string library;
    std::string event;
    std::map<std::string, std::string> values;
    std::string text;

    std::string operator[](const std::string& key) const;
    std::uint32_t number(const std::string& key) const;
};

// Base fixture: a fresh store, journal and fault set per test, the real driver folder loaded.
class DriverTest : public ::testing::Test {
  public:
    // Diagnostic lines caught since SetUp.
    static std::vector<std::string>& diagnostics();

  protected:
    void SetUp() override;
    void TearDown() override;

    // Fault switches of the simulator for the calls that follow.
    void setFaults(const std::string& faults);
    // Points the loader at the driver folder, a variant of it ("without-NvCplSetDataInt") or, with
    // "empty", at an empty folder.
    void useDrivers(const std::string& variant = std::string());

    void writeNvapiStore(const Settings& settings);
    void writeNvapiStoreText(const std::string& text);
    std::string nvapiStoreText() const;
    Settings nvapiStore() const;
    void writeNvcplStore(std::int32_t antiAliasingCode, std::int32_t frameQueueLimit);
    std::string nvcplStoreText() const;

    std::vector<JournalLine> journal() const;
    // The journal lines of one event ("NvAPI_DRS_SetSetting", "query", "load", ...).
    std::vector<JournalLine> journal(const std::string& event) const;
    // The (ID, value) pairs the tool wrote with NvAPI_DRS_SetSetting, in order.
    Settings settingsWritten() const;
    void clearJournal();

    std::string folder;
    std::string libraryFolder; // what useDrivers gave useLibraryFolder
    std::string nvapiStorePath;
    std::string nvcplStorePath;
    std::string journalPath;
};

std::string hex(std::uint32_t value);
std::string narrow(const std::wstring& text);

} // namespace drivertest
