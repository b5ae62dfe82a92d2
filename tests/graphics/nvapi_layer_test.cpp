// The NVAPI client layer against the simulated nvapi.dll, loaded for real.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "DriverSim.h"
#include "nvapi/NvApi.h"
#include "support/ParamName.h"
#include "support/TestSupport.h"

namespace {

using drivertest::DriverTest;
using drivertest::JournalLine;

// Calls every table entry point once with harmless arguments and returns the statuses.
std::vector<NvAPI_Status> callEveryTableEntry() {
    NvDRSSessionHandle session = nullptr;
    NvDRSProfileHandle profile = nullptr;
    static NVDRS_PROFILE info;
    static NVDRS_SETTING setting;
    NvU32 count = 1;
    return {NvAPI_DRS_CreateSession(&session),
            NvAPI_DRS_LoadSettings(session),
            NvAPI_DRS_GetBaseProfile(session, &profile),
            NvAPI_DRS_GetProfileInfo(session, profile, &info),
            NvAPI_DRS_EnumSettings(session, profile, 0, &count, &setting),
            NvAPI_DRS_SetSetting(session, profile, &setting),
            NvAPI_DRS_SaveSettings(session),
            NvAPI_DRS_DestroySession(session)};
}

std::vector<std::string> events(const std::vector<JournalLine>& lines) {
    std::vector<std::string> out;
    for (const JournalLine& l : lines) {
        out.push_back(l.event);
    }
    return out;
}

class NvApiLayer : public DriverTest {};

TEST_F(NvApiLayer, WithoutLibraryEveryCallFailsWithItsStatus) {
    useDrivers("empty");
    EXPECT_EQ(NvAPI_Initialize(), -2);
    EXPECT_EQ(NvAPI_Unload(), -4);
    EXPECT_EQ(callEveryTableEntry(), std::vector<NvAPI_Status>(8, -3));
    EXPECT_TRUE(journal().empty());
}

TEST_F(NvApiLayer, WithoutQueryExportTheLibraryIsFreedAgain) {
    useDrivers("without-nvapi_QueryInterface");
    EXPECT_EQ(NvAPI_Initialize(), -1);
    EXPECT_EQ(events(journal()), (std::vector<std::string>{"load", "unload"}));
    EXPECT_EQ(NvAPI_Unload(), -4);
}

// Where the library comes from, by Microsoft's rules: where kernel32.dll has AddDllDirectory the
// name is asked for with LOAD_LIBRARY_SEARCH_SYSTEM32; where it has not (Windows 7 and Vista
// without KB2533623; the host layer stands in for them), the flag is never tried and the full
// path in the system folder is asked for with LOAD_WITH_ALTERED_SEARCH_PATH. The host layer
// records what was asked.
struct LoadCase {
    const char* label;
    bool withoutAddDllDirectory;
    const char* drivers;
    NvAPI_Status initialize;
};

void PrintTo(const LoadCase& c, std::ostream* os) {
    *os << c.label;
}

class NvApiLayerLoad : public DriverTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(NvApiLayerLoad, FromTheSystemFolderOnly) {
    const LoadCase& c = GetParam();
    if (c.withoutAddDllDirectory && !drivertest::withoutAddDllDirectory()) {
        GTEST_SKIP() << "this loader has AddDllDirectory";
    }
    useDrivers(c.drivers);
    EXPECT_EQ(NvAPI_Initialize(), c.initialize);
    EXPECT_EQ(NvAPI_Unload(), c.initialize == 0 ? 0 : -4);
    std::vector<std::string> seen = events(journal());
    if (c.initialize == 0) {
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.front(), "load");
        EXPECT_EQ(seen.back(), "unload");
    } else {
        EXPECT_TRUE(seen.empty());
    }
    if (std::optional<std::vector<std::string>> asked = drivertest::loadsAsked()) {
        const std::string name = DURNAVEL_TEST_NVAPI_DLL;
        EXPECT_THAT(*asked, ::testing::ElementsAre(c.withoutAddDllDirectory
                                                       ? "flags=0x00000008 name=" + libraryFolder +
                                                             "\\" + name
                                                       : "flags=0x00000800 name=" + name));
    }
}

INSTANTIATE_TEST_SUITE_P(NvApi, NvApiLayerLoad,
                         ::testing::Values(LoadCase{"withAddDllDirectory", false, "", 0},
                                           LoadCase{"withoutAddDllDirectory", true, "", 0},
                                           LoadCase{"withoutAddDllDirectoryNoLibrary", true,
                                                    "empty", -2}),
                         ByLabel());

struct InitFailureCase {
    const char* label;
    const char* faults;
};

void PrintTo(const InitFailureCase& c, std::ostream* os) {
    *os << c.label;
}

class NvApiLayerInitFailure : public DriverTest,
                              public ::testing::WithParamInterface<InitFailureCase> {};

TEST_P(NvApiLayerInitFailure, ReturnsMinusOneAndUnloads) {
    setFaults(GetParam().faults);
    EXPECT_EQ(NvAPI_Initialize(), -1);
    std::vector<JournalLine> lines = journal();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().event, "load");
    EXPECT_EQ(lines.back().event, "unload");
    EXPECT_EQ(NvAPI_Unload(), -4);
    EXPECT_EQ(callEveryTableEntry(), std::vector<NvAPI_Status>(8, -3));
}

INSTANTIATE_TEST_SUITE_P(
    NvApi, NvApiLayerInitFailure,
    ::testing::Values(InitFailureCase{"initializeMissing", "missing:NvAPI_Initialize"},
                      InitFailureCase{"initializeRefuses", "status:NvAPI_Initialize=-6"},
                      InitFailureCase{"initializeNotSupported", "status:NvAPI_Initialize=-104"},
                      InitFailureCase{"initializeDoneButPositiveStatus",
                                      "answer:NvAPI_Initialize=1"}),
    ByLabel());

TEST_F(NvApiLayer, EachEntryIsLookedUpOncePerLoad) {
    setFaults("missing:NvAPI_DRS_LoadSettings");
    ASSERT_EQ(NvAPI_Initialize(), 0);
    NvDRSSessionHandle session = nullptr;
    ASSERT_EQ(NvAPI_DRS_CreateSession(&session), 0);
    EXPECT_EQ(NvAPI_DRS_LoadSettings(session), -3);
    EXPECT_EQ(NvAPI_DRS_LoadSettings(session), -3);
    EXPECT_EQ(NvAPI_DRS_DestroySession(session), 0);
    ASSERT_EQ(NvAPI_DRS_CreateSession(&session), 0);
    EXPECT_EQ(NvAPI_DRS_DestroySession(session), 0);
    auto queriesOf = [this](const std::string& id) {
        int n = 0;
        for (const JournalLine& l : journal("query")) {
            n += l["id"] == id ? 1 : 0;
        }
        return n;
    };
    EXPECT_EQ(queriesOf("0x375DBD6B"), 1) << "a missing entry is not looked up again";
    EXPECT_EQ(queriesOf("0x0694D52E"), 1);
    EXPECT_EQ(queriesOf("0xDAD9CFF8"), 1);
    EXPECT_EQ(journal("NvAPI_DRS_CreateSession").size(), 2u);

    // After an unload the lookups start afresh.
    ASSERT_EQ(NvAPI_Unload(), 0);
    setFaults("");
    ASSERT_EQ(NvAPI_Initialize(), 0);
    ASSERT_EQ(NvAPI_DRS_CreateSession(&session), 0);
    EXPECT_EQ(NvAPI_DRS_LoadSettings(session), 0);
    EXPECT_EQ(queriesOf("0x375DBD6B"), 2);
    EXPECT_EQ(queriesOf("0x0694D52E"), 2);
    EXPECT_EQ(NvAPI_DRS_DestroySession(session), 0);
    EXPECT_EQ(NvAPI_Unload(), 0);
    EXPECT_EQ(journal("load").size(), 2u);
    EXPECT_EQ(journal("unload").size(), 2u);
}

TEST_F(NvApiLayer, RepeatedInitializeKeepsOneLoad) {
    ASSERT_EQ(NvAPI_Initialize(), 0);
    ASSERT_EQ(NvAPI_Initialize(), 0);
    EXPECT_EQ(journal("load").size(), 1u);
    EXPECT_EQ(journal("NvAPI_Initialize").size(), 2u);
    EXPECT_EQ(NvAPI_Unload(), 0);
    EXPECT_EQ(journal("unload").size(), 1u);
    EXPECT_EQ(NvAPI_Unload(), -4);
}

TEST_F(NvApiLayer, FailedReinitializeForgetsEntryPointsOfTheFreedLibrary) {
    ASSERT_EQ(NvAPI_Initialize(), 0);
    NvDRSSessionHandle session = nullptr;
    ASSERT_EQ(NvAPI_DRS_CreateSession(&session), 0);
    setFaults("status:NvAPI_Initialize=-1");
    EXPECT_EQ(NvAPI_Initialize(), -1);
    EXPECT_EQ(journal("unload").size(), 1u);
    // The cached entry pointed into the freed library: it must not be called.
    EXPECT_EQ(NvAPI_DRS_CreateSession(&session), -3);
    EXPECT_EQ(NvAPI_Unload(), -4);
}

TEST_F(NvApiLayer, UnloadRefusedOrMissingKeepsEverythingLoaded) {
    ASSERT_EQ(NvAPI_Initialize(), 0);
    setFaults("status:NvAPI_Unload=-1");
    EXPECT_EQ(NvAPI_Unload(), -1);
    setFaults("status:NvAPI_Unload=1");
    EXPECT_EQ(NvAPI_Unload(), -1) << "any status but 0 is a refusal";
    setFaults("missing:NvAPI_Unload");
    EXPECT_EQ(NvAPI_Unload(), -3);
    NvDRSSessionHandle session = nullptr;
    EXPECT_EQ(NvAPI_DRS_CreateSession(&session), 0);
    EXPECT_EQ(NvAPI_DRS_DestroySession(session), 0);
    EXPECT_TRUE(journal("unload").empty());
    setFaults("");
    EXPECT_EQ(NvAPI_Unload(), 0);
    EXPECT_EQ(journal("unload").size(), 1u);
}

struct HookCase {
    const char* label;
    const char* faults;
    bool hooked;
};

void PrintTo(const HookCase& c, std::ostream* os) {
    *os << c.label;
}

class NvApiLayerHooks : public DriverTest, public ::testing::WithParamInterface<HookCase> {};

// A 64-bit Windows program has no documented way to call the hooks and must not look them up.
constexpr bool kHooksUsable = !(DURNAVEL_TEST_WINDOWS && sizeof(void*) == 8);

TEST_P(NvApiLayerHooks, HooksRunAroundTableEntriesOnlyAsAPair) {
    setFaults(std::string(GetParam().faults) + ",missing:NvAPI_DRS_LoadSettings");
    ASSERT_EQ(NvAPI_Initialize(), 0);
    NvDRSSessionHandle session = nullptr;
    ASSERT_EQ(NvAPI_DRS_CreateSession(&session), 0);
    EXPECT_EQ(NvAPI_DRS_LoadSettings(session), -3) << "no hook runs for a missing entry point";
    EXPECT_EQ(NvAPI_DRS_SaveSettings(nullptr), -8);
    ASSERT_EQ(NvAPI_DRS_DestroySession(session), 0);
    ASSERT_EQ(NvAPI_Unload(), 0);

    std::vector<std::string> seen;
    for (const JournalLine& l : journal()) {
        if (l.event == "query" && (l["id"] == "0x33C7358C" || l["id"] == "0x593E8644")) {
            seen.push_back("query " + l["id"]);
        }
        if (l.event == "hook-lookup-64") {
            seen.push_back(l.text);
        }
        if (l.event == "pre" || l.event == "post" || l.event.rfind("NvAPI_", 0) == 0) {
            // Each hook gets the entry's own ID; the pre-call hook gets the context zeroed.
            if (l.event == "pre") {
                seen.push_back("pre " + l["id"] + " in=" + l["in"]);
            } else if (l.event == "post") {
                seen.push_back("post " + l["id"] + " " + l["result"] + " " + l["match"]);
            } else {
                seen.push_back(l.event);
            }
        }
    }
    const std::vector<std::string> lookups =
        kHooksUsable ? std::vector<std::string>{"query 0x33C7358C", "query 0x593E8644"}
                     : std::vector<std::string>{};
    std::vector<std::string> expected =
        GetParam().hooked && kHooksUsable
            ? std::vector<std::string>{"NvAPI_Initialize",
                                       "pre 0x0694D52E in=0,0",
                                       "NvAPI_DRS_CreateSession",
                                       "post 0x0694D52E 0 yes",
                                       "pre 0xFCBC7E14 in=0,0",
                                       "NvAPI_DRS_SaveSettings",
                                       "post 0xFCBC7E14 -8 yes",
                                       "pre 0xDAD9CFF8 in=0,0",
                                       "NvAPI_DRS_DestroySession",
                                       "post 0xDAD9CFF8 0 yes",
                                       "NvAPI_Unload"}
            : std::vector<std::string>{"NvAPI_Initialize", "NvAPI_DRS_CreateSession",
                                       "NvAPI_DRS_SaveSettings", "NvAPI_DRS_DestroySession",
                                       "NvAPI_Unload"};
    expected.insert(expected.begin() + 1, lookups.begin(), lookups.end());
    EXPECT_EQ(seen, expected);
}

INSTANTIATE_TEST_SUITE_P(NvApi, NvApiLayerHooks,
                         ::testing::Values(HookCase{"none", "", false},
                                           HookCase{"both", "hooks", true},
                                           HookCase{"preOnly", "hooks:pre", false},
                                           HookCase{"postOnly", "hooks:post", false}),
                         ByLabel());

// The simulated driver checks what a real one checks, so that a manager that passes a wrong
// version word, a null pointer or a foreign handle is caught.
TEST_F(NvApiLayer, SimulatedDriverChecksVersionsPointersAndHandles) {
    ASSERT_EQ(NvAPI_Initialize(), 0);
    NvDRSSessionHandle session = nullptr;
    NvDRSSessionHandle other = nullptr;
    NvDRSProfileHandle profile = nullptr;
    NvDRSProfileHandle otherProfile = nullptr;
    ASSERT_EQ(NvAPI_DRS_CreateSession(&session), 0);
    ASSERT_EQ(NvAPI_DRS_CreateSession(&other), 0);
    // A session holds no profile and nothing to save before it has loaded the settings.
    EXPECT_EQ(NvAPI_DRS_GetBaseProfile(session, &profile), -134);
    EXPECT_EQ(profile, nullptr);
    EXPECT_EQ(NvAPI_DRS_SaveSettings(session), -134);
    writeNvapiStore({{0x007BA09E, 1}});
    ASSERT_EQ(NvAPI_DRS_LoadSettings(session), 0);
    ASSERT_EQ(NvAPI_DRS_LoadSettings(other), 0);
    ASSERT_EQ(NvAPI_DRS_GetBaseProfile(session, &profile), 0);
    ASSERT_EQ(NvAPI_DRS_GetBaseProfile(other, &otherProfile), 0);

    static NVDRS_PROFILE info;
    std::memset(&info, 0, sizeof(info));
    EXPECT_EQ(NvAPI_DRS_GetProfileInfo(session, profile, &info), -9);
    info.version = NVDRS_PROFILE_VER;
    EXPECT_EQ(NvAPI_DRS_GetProfileInfo(session, otherProfile, &info), -8);
    EXPECT_EQ(NvAPI_DRS_GetProfileInfo(session, profile, nullptr), -5);
    EXPECT_EQ(NvAPI_DRS_GetProfileInfo(session, profile, &info), 0);
    EXPECT_EQ(info.numOfSettings, 1u);

    static NVDRS_SETTING setting;
    std::memset(&setting, 0, sizeof(setting));
    NvU32 count = 1;
    EXPECT_EQ(NvAPI_DRS_EnumSettings(session, profile, 0, &count, &setting), -9);
    setting.version = NVDRS_SETTING_VER;
    count = 0;
    EXPECT_EQ(NvAPI_DRS_EnumSettings(session, profile, 0, &count, &setting), -5);
    count = 1;
    EXPECT_EQ(NvAPI_DRS_EnumSettings(session, profile, 0, nullptr, &setting), -5);
    EXPECT_EQ(NvAPI_DRS_EnumSettings(session, profile, 1, &count, &setting), -7);
    EXPECT_EQ(NvAPI_DRS_EnumSettings(session, profile, 0, &count, &setting), 0);
    EXPECT_EQ(setting.settingId, 0x007BA09Eu);
    EXPECT_EQ(setting.currentValue.u32Value, 1u);

    NVDRS_SETTING& write = setting;
    write.version = 0x12020;
    EXPECT_EQ(NvAPI_DRS_SetSetting(session, profile, &write), -9);
    write.version = NVDRS_SETTING_VER;
    write.settingType = 1;
    EXPECT_EQ(NvAPI_DRS_SetSetting(session, profile, &write), -5);
    write.settingType = 0;
    EXPECT_EQ(NvAPI_DRS_SetSetting(other, profile, &write), -8);
    EXPECT_EQ(NvAPI_DRS_SetSetting(session, profile, nullptr), -5);
    int local = 0;
    auto foreign = reinterpret_cast<NvDRSSessionHandle>(&local);
    EXPECT_EQ(NvAPI_DRS_SaveSettings(foreign), -8);
    EXPECT_EQ(NvAPI_DRS_DestroySession(foreign), -8);
    EXPECT_EQ(NvAPI_DRS_CreateSession(nullptr), -5);
    EXPECT_EQ(NvAPI_DRS_GetBaseProfile(session, nullptr), -5);
    EXPECT_EQ(NvAPI_DRS_DestroySession(session), 0);
    EXPECT_EQ(NvAPI_DRS_DestroySession(session), -8) << "a destroyed session is gone";
    EXPECT_EQ(NvAPI_DRS_DestroySession(other), 0);
    EXPECT_TRUE(journal("NvAPI_DRS_SaveSettings")[0]["saved"] == "<absent>");
    EXPECT_EQ(nvapiStore(), (drivertest::Settings{{0x007BA09E, 1}})) << "nothing saved";
    EXPECT_EQ(NvAPI_Unload(), 0);
    EXPECT_EQ(NvAPI_DRS_LoadSettings(session), -3);
}

} // namespace
