// The NVAPI settings manager against the simulated nvapi.dll, through the real client layer.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DriverSim.h"
#include "support/ParamName.h"
#include "support/TestSupport.h"
#include "tool/graphics/NvApiDrsMgr.h"

namespace {

using drivertest::DriverTest;
using drivertest::JournalLine;
using drivertest::narrow;
using drivertest::Settings;
using tool::graphics::DrsMgr;
using tool::graphics::DrsParam;
using tool::graphics::NvApiDrsMgr;
using namespace tool::graphics; // setting IDs and bits

const std::string kFatal = "Fatal error occured.\nPlease check your hardware.\n";
const std::string kNotSupported = "Not supported this function.\n";

// The driver calls of the journal, without lookups, hooks and load lines.
std::vector<std::string> driverCalls(const std::vector<JournalLine>& lines) {
    std::vector<std::string> calls;
    for (const JournalLine& l : lines) {
        if (l.event.rfind("NvAPI_", 0) == 0) {
            calls.push_back(l.event);
        }
    }
    return calls;
}

// The diagnostic messages, without the "name: LineN  " prefix.
std::vector<std::string> messages(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& l : lines) {
        out.push_back(l.substr(l.find("  ") + 2));
    }
    return out;
}

struct Field {
    std::uint64_t bit;
    std::int32_t value;
};

DrsParam record(const std::vector<Field>& fields, std::uint64_t extraBits = 0) {
    DrsParam p{};
    for (const Field& f : fields) {
        for (int i = 0; i < kDrsSettingCount; ++i) {
            if (f.bit == (std::uint64_t{1} << i)) {
                drsField(p, i) = f.value;
            }
        }
        p.enableSettings |= f.bit;
    }
    p.enableSettings |= extraBits;
    return p;
}

// The default record with the given fields stored and enabled, and bits set without a value.
DrsParam readRecord(const std::vector<Field>& fields, std::uint64_t bitsOnly = 0) {
    DrsParam p = makeDefaultDrsParam();
    DrsParam stored = record(fields);
    for (const Field& f : fields) {
        for (int i = 0; i < kDrsSettingCount; ++i) {
            if (f.bit == (std::uint64_t{1} << i)) {
                drsField(p, i) = drsField(stored, i);
            }
        }
    }
    p.enableSettings = stored.enableSettings | bitsOnly;
    return p;
}

std::string show(const DrsParam& p) {
    std::string s;
    for (int i = 0; i < kDrsSettingCount; ++i) {
        s += std::to_string(drsField(p, i)) + " ";
    }
    return s + "mask " + drivertest::hex(static_cast<std::uint32_t>(p.enableSettings)) + "/" +
           drivertest::hex(static_cast<std::uint32_t>(p.enableSettings >> 32));
}

class NvApiMgrTest : public DriverTest {
  protected:
    std::unique_ptr<NvApiDrsMgr> open() {
        auto mgr = std::make_unique<NvApiDrsMgr>();
        mgr->debugLevel = 1;
        EXPECT_TRUE(mgr->initialize()) << narrow(mgr->getErrorMessage());
        return mgr;
    }
};

// ---- initialize and finalize ----

struct InitCase {
    const char* label;
    const char* drivers; // "" the simulator, or a variant folder
    const char* faults;
    const char* store; // store text, or nullptr for none
    std::string text;
    std::vector<std::string> calls;
    std::string diagnostic;
};

void PrintTo(const InitCase& c, std::ostream* os) {
    *os << c.label;
}

class NvApiMgrInit : public NvApiMgrTest, public ::testing::WithParamInterface<InitCase> {};

TEST_P(NvApiMgrInit, FailureReleasesWhatWasOpened) {
    const InitCase& c = GetParam();
    useDrivers(c.drivers);
    setFaults(c.faults);
    if (c.store != nullptr) {
        writeNvapiStoreText(c.store);
    }
    {
        NvApiDrsMgr mgr;
        mgr.debugLevel = 1;
        EXPECT_FALSE(mgr.initialize());
        EXPECT_EQ(mgr.getInitState(), 0);
        EXPECT_EQ(narrow(mgr.getErrorMessage()), c.text);
        EXPECT_EQ(messages(diagnostics()), std::vector<std::string>{c.diagnostic});
        EXPECT_EQ(driverCalls(journal()), c.calls);
    }
    EXPECT_EQ(driverCalls(journal()), c.calls) << "the destructor has nothing left to release";
    EXPECT_EQ(journal("load").size(), journal("unload").size());
    EXPECT_EQ(NvAPI_Unload(), -4) << "NVAPI is unloaded";
}

INSTANTIATE_TEST_SUITE_P(
    NvApiDrsMgr, NvApiMgrInit,
    ::testing::Values(
        InitCase{"noLibrary",
                 "empty",
                 "",
                 nullptr,
                 kFatal,
                 {},
                 "NvAPI_Initialize failed. ErrorCode = -2."},
        InitCase{"noQueryExport",
                 "without-nvapi_QueryInterface",
                 "",
                 nullptr,
                 kFatal,
                 {},
                 "NvAPI_Initialize failed. ErrorCode = -1."},
        InitCase{"driverInitializeNotSupported_layerSaysMinusOne",
                 "",
                 "status:NvAPI_Initialize=-104",
                 nullptr,
                 kFatal,
                 {"NvAPI_Initialize"},
                 "NvAPI_Initialize failed. ErrorCode = -1."},
        InitCase{"createSessionNotSupported",
                 "",
                 "status:NvAPI_DRS_CreateSession=-104",
                 nullptr,
                 kNotSupported,
                 {"NvAPI_Initialize", "NvAPI_DRS_CreateSession", "NvAPI_Unload"},
                 "NvAPI_DRS_CreateSession failed. ErrorCode = -104."},
        InitCase{"createSessionMissing",
                 "",
                 "missing:NvAPI_DRS_CreateSession",
                 nullptr,
                 kFatal,
                 {"NvAPI_Initialize", "NvAPI_Unload"},
                 "NvAPI_DRS_CreateSession failed. ErrorCode = -3."},
        InitCase{"loadSettingsFails",
                 "",
                 "status:NvAPI_DRS_LoadSettings=-5",
                 nullptr,
                 kFatal,
                 {"NvAPI_Initialize", "NvAPI_DRS_CreateSession", "NvAPI_DRS_LoadSettings",
                  "NvAPI_DRS_DestroySession", "NvAPI_Unload"},
                 "NvAPI_DRS_LoadSettings failed. ErrorCode = -5."},
        InitCase{"malformedStore",
                 "",
                 "",
                 "0x007BA09E one\n",
                 kFatal,
                 {"NvAPI_Initialize", "NvAPI_DRS_CreateSession", "NvAPI_DRS_LoadSettings",
                  "NvAPI_DRS_DestroySession", "NvAPI_Unload"},
                 "NvAPI_DRS_LoadSettings failed. ErrorCode = -1."},
        InitCase{"createSessionPositiveStatus",
                 "",
                 "status:NvAPI_DRS_CreateSession=1",
                 nullptr,
                 kFatal,
                 {"NvAPI_Initialize", "NvAPI_DRS_CreateSession", "NvAPI_Unload"},
                 "NvAPI_DRS_CreateSession failed. ErrorCode = 1."},
        InitCase{"loadSettingsDoneButPositiveStatus",
                 "",
                 "answer:NvAPI_DRS_LoadSettings=2",
                 nullptr,
                 kFatal,
                 {"NvAPI_Initialize", "NvAPI_DRS_CreateSession", "NvAPI_DRS_LoadSettings",
                  "NvAPI_DRS_DestroySession", "NvAPI_Unload"},
                 "NvAPI_DRS_LoadSettings failed. ErrorCode = 2."},
        InitCase{"baseProfileDoneButPositiveStatus",
                 "",
                 "answer:NvAPI_DRS_GetBaseProfile=0x7FFFFFFF",
                 nullptr,
                 kFatal,
                 {"NvAPI_Initialize", "NvAPI_DRS_CreateSession", "NvAPI_DRS_LoadSettings",
                  "NvAPI_DRS_GetBaseProfile", "NvAPI_DRS_DestroySession", "NvAPI_Unload"},
                 "NvAPI_DRS_GetBaseProfile failed. ErrorCode = 2147483647."},
        InitCase{"baseProfileNotSupported",
                 "",
                 "status:NvAPI_DRS_GetBaseProfile=-104",
                 nullptr,
                 kNotSupported,
                 {"NvAPI_Initialize", "NvAPI_DRS_CreateSession", "NvAPI_DRS_LoadSettings",
                  "NvAPI_DRS_GetBaseProfile", "NvAPI_DRS_DestroySession", "NvAPI_Unload"},
                 "NvAPI_DRS_GetBaseProfile failed. ErrorCode = -104."}),
    ByLabel());

TEST_F(NvApiMgrTest, LifecycleOpensOnceAndReleasesEverything) {
    {
        NvApiDrsMgr mgr;
        EXPECT_EQ(mgr.getInitState(), 0);
        ASSERT_TRUE(mgr.initialize());
        EXPECT_EQ(mgr.getInitState(), DrsMgr::READY);
        EXPECT_TRUE(mgr.initialize());
        EXPECT_EQ(driverCalls(journal()),
                  (std::vector<std::string>{"NvAPI_Initialize", "NvAPI_DRS_CreateSession",
                                            "NvAPI_DRS_LoadSettings", "NvAPI_DRS_GetBaseProfile"}));
        mgr.finalize();
        EXPECT_EQ(mgr.getInitState(), 0);
        mgr.finalize();
        EXPECT_EQ(journal("NvAPI_DRS_DestroySession").size(), 1u);
        EXPECT_EQ(journal("NvAPI_Unload").size(), 1u);
        EXPECT_EQ(journal("NvAPI_Unload")[0]["open-sessions"], "0");
        EXPECT_EQ(journal().back().event, "unload");

        // Opened again after finalize, and released by the destructor alone.
        clearJournal();
        ASSERT_TRUE(mgr.initialize());
        EXPECT_EQ(journal("load").size(), 1u);
    }
    EXPECT_EQ(driverCalls(journal()),
              (std::vector<std::string>{"NvAPI_Initialize", "NvAPI_DRS_CreateSession",
                                        "NvAPI_DRS_LoadSettings", "NvAPI_DRS_GetBaseProfile",
                                        "NvAPI_DRS_DestroySession", "NvAPI_Unload"}));
    EXPECT_EQ(journal().back().event, "unload");
}

// finalize goes on whatever the driver answers: it ends the session, unloads NVAPI and closes
// the manager even when the driver refuses one of them.
struct FinalizeCase {
    const char* label;
    const char* faults;
    std::vector<std::string> dropped; // sessions NvAPI_Unload found still open
    bool unloaded;                    // nvapi.dll was freed
};

void PrintTo(const FinalizeCase& c, std::ostream* os) {
    *os << c.label;
}

class NvApiMgrFinalize : public NvApiMgrTest, public ::testing::WithParamInterface<FinalizeCase> {};

TEST_P(NvApiMgrFinalize, DriverRefusalsDoNotStopIt) {
    const FinalizeCase& c = GetParam();
    auto mgr = open();
    setFaults(c.faults);
    clearJournal();
    mgr->finalize();
    EXPECT_EQ(mgr->getInitState(), 0);
    EXPECT_EQ(driverCalls(journal()),
              (std::vector<std::string>{"NvAPI_DRS_DestroySession", "NvAPI_Unload"}));
    std::vector<std::string> dropped;
    for (const JournalLine& l : journal("session-dropped")) {
        dropped.push_back(l["session"]);
    }
    EXPECT_EQ(dropped, c.dropped);
    EXPECT_EQ(journal("unload").size(), c.unloaded ? 1u : 0u);
    mgr->finalize();
    EXPECT_EQ(driverCalls(journal()).size(), 2u) << "a closed manager calls nothing";
}

INSTANTIATE_TEST_SUITE_P(
    NvApiDrsMgr, NvApiMgrFinalize,
    ::testing::Values(
        FinalizeCase{"destroyRefused", "status:NvAPI_DRS_DestroySession=-8", {"1"}, true},
        FinalizeCase{"destroyPositiveStatus", "status:NvAPI_DRS_DestroySession=1", {"1"}, true},
        FinalizeCase{"unloadRefused", "status:NvAPI_Unload=-1", {}, false},
        FinalizeCase{"neitherRefused", "", {}, true}),
    ByLabel());

TEST_F(NvApiMgrTest, GetAndSetRefusedBeforeInitializeAndAfterFinalize) {
    NvApiDrsMgr mgr;
    mgr.debugLevel = 1;
    DrsParam out = record({{DRS_VERTICAL_SYNC, 2}});
    EXPECT_FALSE(mgr.get(out));
    EXPECT_EQ(narrow(mgr.getErrorMessage()), kFatal);
    EXPECT_FALSE(mgr.set(record({{DRS_MAXIMUM_PRERENDERED_FRAMES, 1}})));
    EXPECT_EQ(narrow(mgr.getErrorMessage()), kFatal);
    ASSERT_TRUE(mgr.initialize());
    mgr.finalize();
    EXPECT_FALSE(mgr.get(out));
    EXPECT_EQ(messages(diagnostics()),
              (std::vector<std::string>{"Error : Not init.\n", "Error : Not init.\n",
                                        "Error : Not init.\n"}));
    EXPECT_TRUE(journal("NvAPI_DRS_GetProfileInfo").empty());
    EXPECT_TRUE(journal("NvAPI_DRS_SetSetting").empty());
}

// ---- get ----

struct GetCase {
    const char* label;
    Settings profile; // the base profile, in enumeration order
    DrsParam expected;
};

void PrintTo(const GetCase& c, std::ostream* os) {
    *os << c.label;
}

class NvApiMgrGet : public NvApiMgrTest, public ::testing::WithParamInterface<GetCase> {};

TEST_P(NvApiMgrGet, ProfileToRecord) {
    const GetCase& c = GetParam();
    writeNvapiStore(c.profile);
    auto mgr = open();
    DrsParam out = record({{DRS_VERTICAL_SYNC, 1}, {DRS_TRIPLE_BUFFERING, 1}}, 1ull << 50);
    ASSERT_TRUE(mgr->get(out)) << narrow(mgr->getErrorMessage());
    EXPECT_EQ(show(out), show(c.expected));
    EXPECT_EQ(mgr->getErrorMessage(), L"");

    // What the driver was asked: the profile record, then all its settings in one go.
    ASSERT_EQ(journal("NvAPI_DRS_GetProfileInfo").size(), 1u);
    EXPECT_EQ(journal("NvAPI_DRS_GetProfileInfo")[0]["version"], "0x00011014");
    EXPECT_EQ(journal("NvAPI_DRS_GetProfileInfo")[0]["profile"], "base");
    std::vector<JournalLine> enums = journal("NvAPI_DRS_EnumSettings");
    if (c.profile.empty()) {
        EXPECT_TRUE(enums.empty());
    } else {
        ASSERT_EQ(enums.size(), 1u);
        EXPECT_EQ(enums[0]["version"], "0x00013020");
        EXPECT_EQ(enums[0]["start"], "0");
        EXPECT_EQ(enums[0]["count-in"], std::to_string(c.profile.size()));
        EXPECT_EQ(enums[0]["status"], "0");
    }
}

Settings many(std::size_t n, std::uint32_t lastValue) {
    Settings s(n, {PRERENDERED_FRAMES_ID, 2});
    s.back().second = lastValue;
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    NvApiDrsMgr, NvApiMgrGet,
    ::testing::Values(
        GetCase{"emptyProfile", {}, makeDefaultDrsParam()},
        GetCase{"framesOne",
                {{PRERENDERED_FRAMES_ID, 1}},
                readRecord({{DRS_MAXIMUM_PRERENDERED_FRAMES, 1}})},
        GetCase{"framesStoredUnchecked",
                {{PRERENDERED_FRAMES_ID, 0xFFFFFFFF}},
                readRecord({{DRS_MAXIMUM_PRERENDERED_FRAMES, -1}})},
        GetCase{"sixtyFourSettingsAccepted", many(64, 7),
                readRecord({{DRS_MAXIMUM_PRERENDERED_FRAMES, 7}})},
        GetCase{"overrideWithoutMethodReadsAsOff",
                {{AA_MODE_SELECTOR_ID, 1}, {AA_MODE_METHOD_ID, 0}},
                readRecord({{DRS_ANTI_ALIASING_MODE, 1}, {DRS_ANTI_ALIASING_SETTING, 0}})},
        GetCase{"overrideWithMethodStays",
                {{AA_MODE_METHOD_ID, 16}, {AA_MODE_SELECTOR_ID, 1}},
                readRecord({{DRS_ANTI_ALIASING_MODE, 3}, {DRS_ANTI_ALIASING_SETTING, 2}})},
        GetCase{"overrideAloneStays",
                {{AA_MODE_SELECTOR_ID, 1}},
                readRecord({{DRS_ANTI_ALIASING_MODE, 3}})},
        GetCase{"levelThenSelectorOff",
                {{ANISO_MODE_LEVEL_ID, 8}, {ANISO_MODE_SELECTOR_ID, 0}},
                readRecord({{DRS_ANISOTROPIC_FILTERING, 0}})},
        GetCase{"selectorOffThenLevel",
                {{ANISO_MODE_SELECTOR_ID, 0}, {ANISO_MODE_LEVEL_ID, 8}},
                readRecord({{DRS_ANISOTROPIC_FILTERING, 4}})},
        GetCase{"levelAloneSetsNoBit",
                {{ANISO_MODE_LEVEL_ID, 16}},
                [] {
                    DrsParam p = makeDefaultDrsParam();
                    p.anisotropicFiltering = 5;
                    return p;
                }()},
        GetCase{"selectorOnAloneKeepsValue",
                {{ANISO_MODE_SELECTOR_ID, 1}},
                readRecord({}, DRS_ANISOTROPIC_FILTERING)},
        GetCase{"replayThenAlphaToCoverage",
                {{AA_MODE_REPLAY_ID, 0x24}, {AA_MODE_ALPHATOCOVERAGE_ID, 4}},
                readRecord({{DRS_ANTI_ALIASING_TRANSPARENCY, 1}})},
        GetCase{"alphaToCoverageThenReplay",
                {{AA_MODE_ALPHATOCOVERAGE_ID, 4}, {AA_MODE_REPLAY_ID, 0x24}},
                readRecord({{DRS_ANTI_ALIASING_TRANSPARENCY, 3}})},
        GetCase{"replayKeptByAlphaToCoverageOff",
                {{AA_MODE_REPLAY_ID, 0x34}, {AA_MODE_ALPHATOCOVERAGE_ID, 0}},
                readRecord({{DRS_ANTI_ALIASING_TRANSPARENCY, 4}})},
        GetCase{"alphaToCoverageOnClearedByOff",
                {{AA_MODE_ALPHATOCOVERAGE_ID, 4}, {AA_MODE_ALPHATOCOVERAGE_ID, 0}},
                DrsParam(makeDefaultDrsParam())},
        GetCase{"replayOffSetsBitOnly",
                {{AA_MODE_REPLAY_ID, 0}},
                readRecord({}, DRS_ANTI_ALIASING_TRANSPARENCY)},
        GetCase{"companionsIgnored",
                {{ANISO_COMPANION_ID, 5}, {AA_METHOD_COMPANION_ID, 9}},
                makeDefaultDrsParam()}),
    ByLabel());

// Every driver value of every setting, one at a time.
struct MappingCase {
    std::uint32_t id;
    std::uint32_t driverValue;
    std::uint64_t bit;
    std::int32_t code;
};

std::vector<MappingCase> everyMapping() {
    std::vector<MappingCase> cases;
    auto add = [&cases](std::uint32_t id, std::uint64_t bit,
                        std::vector<std::pair<std::uint32_t, std::int32_t>> map) {
        for (const auto& m : map) {
            cases.push_back({id, m.first, bit, m.second});
        }
    };
    add(AA_MODE_GAMMACORRECTION_ID, DRS_ANTI_ALIASING_GAMMA_CORRECTION, {{0, 0}, {2, 1}});
    add(AA_MODE_SELECTOR_ID, DRS_ANTI_ALIASING_MODE, {{0, 0}, {1, 3}, {2, 2}});
    add(AA_MODE_METHOD_ID, DRS_ANTI_ALIASING_SETTING,
        {{0, 0}, {14, 1}, {16, 2}, {38, 3}, {37, 4}, {39, 5}, {40, 6}, {29, 7}});
    add(AA_MODE_REPLAY_ID, DRS_ANTI_ALIASING_TRANSPARENCY, {{0x14, 2}, {0x24, 3}, {0x34, 4}});
    add(OGL_MULTIMON_ID, DRS_MULTI_DISPLAY_MIXED_GPU_ACCELERATION, {{0, 1}, {1, 2}, {3, 0}});
    add(PS_TEXFILTER_ANISO_OPTS2_ID, DRS_TEXTURE_FILTERING_ANISOTROPIC_SAMPLE_OPTIMIZATION,
        {{0, 0}, {1, 1}});
    add(PS_TEXFILTER_NO_NEG_LODBIAS_ID, DRS_TEXTURE_FILTERING_NEGATIVE_LOD_BIAS, {{0, 0}, {1, 1}});
    add(QUALITY_ENHANCEMENTS_ID, DRS_TEXTURE_FILTERING_QUALITY,
        {{0, 0}, {0xFFFFFFF6u, 1}, {10, 2}, {20, 3}});
    add(PS_TEXFILTER_DISABLE_TRILIN_SLOPE_ID, DRS_TEXTURE_FILTERING_TRILINEAR_OPTIMIZATION,
        {{0, 0}, {1, 1}});
    add(OGL_THREAD_CONTROL_ID, DRS_THREADED_OPTIMIZATION, {{0, 0}, {1, 2}, {2, 1}});
    add(OGL_TRIPLE_BUFFER_ID, DRS_TRIPLE_BUFFERING, {{0, 0}, {1, 1}});
    add(VSYNCMODE_ID, DRS_VERTICAL_SYNC, {{0x60925292, 0}, {0x08416747, 1}, {0x47814940, 2}});
    return cases;
}

TEST_F(NvApiMgrTest, GetMapsEveryDriverValue) {
    for (const MappingCase& m : everyMapping()) {
        SCOPED_TRACE(drivertest::hex(m.id) + " = " + drivertest::hex(m.driverValue));
        writeNvapiStore({{m.id, m.driverValue}});
        auto mgr = open();
        DrsParam out{};
        ASSERT_TRUE(mgr->get(out));
        EXPECT_EQ(show(out), show(readRecord({{m.bit, m.code}})));
    }
}

// ---- get failures ----

struct GetFailureCase {
    const char* label;
    Settings profile;
    const char* faults;
    std::string text;
    std::vector<std::string> diagnostics;
    bool enumerated;
};

void PrintTo(const GetFailureCase& c, std::ostream* os) {
    *os << c.label;
}

class NvApiMgrGetFailure : public NvApiMgrTest,
                           public ::testing::WithParamInterface<GetFailureCase> {};

TEST_P(NvApiMgrGetFailure, RefusedWithTextAndDiagnostic) {
    const GetFailureCase& c = GetParam();
    writeNvapiStore(c.profile);
    auto mgr = open();
    setFaults(c.faults);
    diagnostics().clear();
    DrsParam out{};
    EXPECT_FALSE(mgr->get(out));
    EXPECT_EQ(narrow(mgr->getErrorMessage()), c.text);
    EXPECT_EQ(messages(diagnostics()), c.diagnostics);
    EXPECT_EQ(journal("NvAPI_DRS_EnumSettings").size(), c.enumerated ? 1u : 0u);
    EXPECT_EQ(mgr->getInitState(), DrsMgr::READY) << "a failed get leaves the manager open";
}

INSTANTIATE_TEST_SUITE_P(
    NvApiDrsMgr, NvApiMgrGetFailure,
    ::testing::Values(
        GetFailureCase{"unknownSettingId",
                       {{PRERENDERED_FRAMES_ID, 1}, {0x12345678, 0}},
                       "",
                       kFatal,
                       {"Error : Setting id is invalid. Val = 12345678.\n"},
                       true},
        GetFailureCase{"sixtyFiveSettings",
                       many(65, 1),
                       "",
                       kFatal,
                       {"Error : Get profile setting count is too large. Count = 65.\n"},
                       false},
        GetFailureCase{"announcedHugeCount",
                       {{PRERENDERED_FRAMES_ID, 1}},
                       "profile-count=4000000000",
                       kFatal,
                       {"Error : Get profile setting count is too large. Count = -294967296.\n"},
                       false},
        GetFailureCase{"announcedMoreThanEnumerated",
                       {{PRERENDERED_FRAMES_ID, 1}},
                       "profile-count=3",
                       kFatal,
                       {"Error : Cannot get all settings. Total = 3,  Get = 1.\n"},
                       true},
        GetFailureCase{"shortEnumeration",
                       {{PRERENDERED_FRAMES_ID, 1}, {VSYNCMODE_ID, 0x60925292}},
                       "enum-short=1",
                       kFatal,
                       {"Error : Cannot get all settings. Total = 2,  Get = 1.\n"},
                       true},
        GetFailureCase{"driverClaimsMoreThanAsked",
                       {{PRERENDERED_FRAMES_ID, 1}, {VSYNCMODE_ID, 0x60925292}},
                       "enum-count=64",
                       kFatal,
                       {"Error : Cannot get all settings. Total = 2,  Get = 64.\n"},
                       true},
        GetFailureCase{"profileInfoNotSupported",
                       {{PRERENDERED_FRAMES_ID, 1}},
                       "status:NvAPI_DRS_GetProfileInfo=-104",
                       kNotSupported,
                       {"NvAPI_DRS_GetProfileInfo failed. ErrorCode = -104."},
                       false},
        GetFailureCase{"enumerationNotSupported",
                       {{PRERENDERED_FRAMES_ID, 1}},
                       "status:NvAPI_DRS_EnumSettings=-104",
                       kNotSupported,
                       {"NvAPI_DRS_EnumSettings failed. ErrorCode = -104."},
                       true},
        GetFailureCase{"profileInfoPositiveStatus",
                       {{PRERENDERED_FRAMES_ID, 1}},
                       "status:NvAPI_DRS_GetProfileInfo=1",
                       kFatal,
                       {"NvAPI_DRS_GetProfileInfo failed. ErrorCode = 1."},
                       false},
        GetFailureCase{"enumerationDoneButPositiveStatus",
                       {{PRERENDERED_FRAMES_ID, 1}},
                       "answer:NvAPI_DRS_EnumSettings=3",
                       kFatal,
                       {"NvAPI_DRS_EnumSettings failed. ErrorCode = 3."},
                       true},
        GetFailureCase{"enumerationMissing",
                       {{PRERENDERED_FRAMES_ID, 1}},
                       "missing:NvAPI_DRS_EnumSettings",
                       kFatal,
                       {"NvAPI_DRS_EnumSettings failed. ErrorCode = -3."},
                       false}),
    ByLabel());

TEST_F(NvApiMgrTest, UnknownSettingInjectedAtLoadIsRefused) {
    writeNvapiStore({{PRERENDERED_FRAMES_ID, 1}});
    setFaults("extra-setting=0x00ABCDEF:1");
    auto mgr = open();
    DrsParam out{};
    EXPECT_FALSE(mgr->get(out));
    EXPECT_EQ(narrow(mgr->getErrorMessage()), kFatal);
    EXPECT_EQ(messages(diagnostics()),
              std::vector<std::string>{"Error : Setting id is invalid. Val = abcdef.\n"});
}

TEST_F(NvApiMgrTest, AnnouncedFewerThanHeldReadsOnlyTheAnnounced) {
    writeNvapiStore({{PRERENDERED_FRAMES_ID, 1}, {VSYNCMODE_ID, 0x47814940}, {0x12345678, 1}});
    setFaults("profile-count=2");
    auto mgr = open();
    DrsParam out{};
    ASSERT_TRUE(mgr->get(out));
    EXPECT_EQ(show(out),
              show(readRecord({{DRS_MAXIMUM_PRERENDERED_FRAMES, 1}, {DRS_VERTICAL_SYNC, 2}})));
}

// A driver value outside a setting's row: the handler names the setting.
struct BadValueCase {
    const char* label;
    std::uint32_t id;
    std::uint32_t value;
    std::string handler;
    std::string name;
};

void PrintTo(const BadValueCase& c, std::ostream* os) {
    *os << c.label;
}

class NvApiMgrBadValue : public NvApiMgrTest, public ::testing::WithParamInterface<BadValueCase> {};

TEST_P(NvApiMgrBadValue, HandlerRefusesTheValue) {
    const BadValueCase& c = GetParam();
    writeNvapiStore({{PRERENDERED_FRAMES_ID, 2}, {c.id, c.value}});
    auto mgr = open();
    DrsParam out{};
    EXPECT_FALSE(mgr->get(out));
    EXPECT_EQ(narrow(mgr->getErrorMessage()), kFatal);
    ASSERT_EQ(diagnostics().size(), 1u);
    char value[16];
    std::snprintf(value, sizeof(value), "%x", static_cast<unsigned>(c.value));
    EXPECT_EQ(diagnostics()[0].substr(0, diagnostics()[0].find(": Line")),
              "tool::graphics::NvApiDrsMgr::" + c.handler);
    EXPECT_EQ(messages(diagnostics())[0],
              "Error : " + c.name + " value is invalid. Val = " + value + ".\n");
    EXPECT_EQ(out.maximumPrerenderedFrames, 2) << "what was read before the failure stays";
}

INSTANTIATE_TEST_SUITE_P(
    NvApiDrsMgr, NvApiMgrBadValue,
    ::testing::Values(
        BadValueCase{"anisoSelector", ANISO_MODE_SELECTOR_ID, 2, "updateParamOnAnisoModeSelector",
                     "ANISO_MODE_SELECTOR_ID"},
        BadValueCase{"anisoLevel", ANISO_MODE_LEVEL_ID, 3, "updateParamOnAnisoModeLevel",
                     "ANISO_MODE_LEVEL_ID"},
        BadValueCase{"anisoLevelZero", ANISO_MODE_LEVEL_ID, 0, "updateParamOnAnisoModeLevel",
                     "ANISO_MODE_LEVEL_ID"},
        BadValueCase{"gamma", AA_MODE_GAMMACORRECTION_ID, 1, "updateParamOnAAModeGammacorrection",
                     "AA_MODE_GAMMACORRECTION_ID"},
        BadValueCase{"aaSelector", AA_MODE_SELECTOR_ID, 3, "updateParamOnAAModeSelector",
                     "AA_MODE_SELECTOR_ID"},
        BadValueCase{"aaMethod", AA_MODE_METHOD_ID, 15, "updateParamOnAAModeMethod",
                     "AA_MODE_METHOD_ID"},
        BadValueCase{"replay", AA_MODE_REPLAY_ID, 4, "updateParamOnAAModeReplay",
                     "AA_MODE_REPLAY_ID"},
        BadValueCase{"alphaToCoverage", AA_MODE_ALPHATOCOVERAGE_ID, 1,
                     "updateParamOnAAModeAlphatocoverage", "AA_MODE_ALPHATOCOVERAGE_ID"},
        BadValueCase{"multimon", OGL_MULTIMON_ID, 2, "updateParamOnOglMultimon", "OGL_MULTIMON_ID"},
        BadValueCase{"anisoOpts2", PS_TEXFILTER_ANISO_OPTS2_ID, 2,
                     "updateParamOnPSsTexfilterAnisoOpt2", "PS_TEXFILTER_ANISO_OPTS2_ID"},
        BadValueCase{"noNegLodBias", PS_TEXFILTER_NO_NEG_LODBIAS_ID, 0xFFFFFFFF,
                     "updateParamOnPSsTexfilterNoNegLodbias", "PS_TEXFILTER_NO_NEG_LODBIAS_ID"},
        BadValueCase{"quality", QUALITY_ENHANCEMENTS_ID, 0xFFFFFFEC,
                     "updateParamOnQualityEnhancements", "QUALITY_ENHANCEMENTS_ID"},
        BadValueCase{"trilinSlope", PS_TEXFILTER_DISABLE_TRILIN_SLOPE_ID, 2,
                     "updateParamOnPSsTexfilterDisableTrilinSlope",
                     "PS_TEXFILTER_DISABLE_TRILIN_SLOPE_ID"},
        BadValueCase{"threadControl", OGL_THREAD_CONTROL_ID, 3, "updateParamOnOglThreadControl",
                     "OGL_THREAD_CONTROL_ID"},
        BadValueCase{"tripleBuffer", OGL_TRIPLE_BUFFER_ID, 2, "updateParamOnOglTripleBuffer",
                     "OGL_TRIPLE_BUFFER_ID"},
        BadValueCase{"vsync", VSYNCMODE_ID, 0, "updateParamOnVsyncMode", "VSYNCMODE_ID"}),
    ByLabel());

// ---- set ----

struct SetCase {
    const char* label;
    DrsParam in;
    Settings written;
};

void PrintTo(const SetCase& c, std::ostream* os) {
    *os << c.label;
}

class NvApiMgrSet : public NvApiMgrTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(NvApiMgrSet, RecordsWrittenInOrderThenSaved) {
    const SetCase& c = GetParam();
    auto mgr = open();
    clearJournal();
    ASSERT_TRUE(mgr->set(c.in)) << narrow(mgr->getErrorMessage());
    EXPECT_EQ(mgr->getErrorMessage(), L"");
    EXPECT_EQ(settingsWritten(), c.written);
    for (const JournalLine& l : journal("NvAPI_DRS_SetSetting")) {
        EXPECT_EQ(l["version"], "0x00013020");
        EXPECT_EQ(l["type"], "0");
        EXPECT_EQ(l["profile"], "base");
        EXPECT_EQ(l["status"], "0");
    }
    std::vector<std::string> calls = driverCalls(journal());
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "NvAPI_DRS_SaveSettings");
    EXPECT_EQ(journal("NvAPI_DRS_SaveSettings").size(), 1u);
    EXPECT_EQ(journal("NvAPI_DRS_SaveSettings")[0]["saved"], "yes");
    // The store holds the last value written for each ID.
    std::map<std::uint32_t, std::uint32_t> last(c.written.begin(), c.written.end());
    for (const auto& w : c.written) {
        last[w.first] = w.second;
    }
    std::map<std::uint32_t, std::uint32_t> stored;
    for (const auto& e : nvapiStore()) {
        stored[e.first] = e.second;
    }
    EXPECT_EQ(stored, last);
}

const std::uint32_t kMinus10 = 0xFFFFFFF6u;

INSTANTIATE_TEST_SUITE_P(
    NvApiDrsMgr, NvApiMgrSet,
    ::testing::Values(
        SetCase{"nothingEnabled", DrsParam{}, {}},
        SetCase{"framesOne",
                record({{DRS_MAXIMUM_PRERENDERED_FRAMES, 1}}),
                {{PRERENDERED_FRAMES_ID, 1}}},
        SetCase{"framesEight",
                record({{DRS_MAXIMUM_PRERENDERED_FRAMES, 8}}),
                {{PRERENDERED_FRAMES_ID, 8}}},
        SetCase{"anisoAppControlled",
                record({{DRS_ANISOTROPIC_FILTERING, 0}}),
                {{ANISO_MODE_SELECTOR_ID, 0},
                 {ANISO_MODE_LEVEL_ID, 1},
                 {ANISO_COMPANION_ID, 0},
                 {PS_TEXFILTER_NO_NEG_LODBIAS_ID, 0},
                 {PS_TEXFILTER_ANISO_OPTS2_ID, 0}}},
        SetCase{"anisoLevel1",
                record({{DRS_ANISOTROPIC_FILTERING, 1}}),
                {{ANISO_MODE_SELECTOR_ID, 1},
                 {ANISO_MODE_LEVEL_ID, 1},
                 {ANISO_COMPANION_ID, 0},
                 {PS_TEXFILTER_NO_NEG_LODBIAS_ID, 0},
                 {PS_TEXFILTER_ANISO_OPTS2_ID, 0}}},
        SetCase{"anisoLevel2",
                record({{DRS_ANISOTROPIC_FILTERING, 2}}),
                {{ANISO_MODE_SELECTOR_ID, 1},
                 {ANISO_MODE_LEVEL_ID, 2},
                 {ANISO_COMPANION_ID, 0},
                 {PS_TEXFILTER_NO_NEG_LODBIAS_ID, 1},
                 {PS_TEXFILTER_ANISO_OPTS2_ID, 0}}},
        SetCase{"anisoLevel4",
                record({{DRS_ANISOTROPIC_FILTERING, 3}}),
                {{ANISO_MODE_SELECTOR_ID, 1},
                 {ANISO_MODE_LEVEL_ID, 4},
                 {ANISO_COMPANION_ID, 0},
                 {PS_TEXFILTER_NO_NEG_LODBIAS_ID, 1},
                 {PS_TEXFILTER_ANISO_OPTS2_ID, 0}}},
        SetCase{"anisoLevel16",
                record({{DRS_ANISOTROPIC_FILTERING, 5}}),
                {{ANISO_MODE_SELECTOR_ID, 1},
                 {ANISO_MODE_LEVEL_ID, 16},
                 {ANISO_COMPANION_ID, 0},
                 {PS_TEXFILTER_NO_NEG_LODBIAS_ID, 1},
                 {PS_TEXFILTER_ANISO_OPTS2_ID, 0}}},
        SetCase{"anisoWithLodBiasAndOpts2Enabled",
                record({{DRS_ANISOTROPIC_FILTERING, 2},
                        {DRS_TEXTURE_FILTERING_NEGATIVE_LOD_BIAS, 0},
                        {DRS_TEXTURE_FILTERING_ANISOTROPIC_SAMPLE_OPTIMIZATION, 1}}),
                {{ANISO_MODE_SELECTOR_ID, 1},
                 {ANISO_MODE_LEVEL_ID, 2},
                 {ANISO_COMPANION_ID, 0},
                 {PS_TEXFILTER_ANISO_OPTS2_ID, 1},
                 {PS_TEXFILTER_NO_NEG_LODBIAS_ID, 0}}},
        SetCase{"gammaOn",
                record({{DRS_ANTI_ALIASING_GAMMA_CORRECTION, 1}}),
                {{AA_MODE_GAMMACORRECTION_ID, 2}}},
        SetCase{"gammaOff",
                record({{DRS_ANTI_ALIASING_GAMMA_CORRECTION, 0}}),
                {{AA_MODE_GAMMACORRECTION_ID, 0}}},
        SetCase{"modeAppControlled",
                record({{DRS_ANTI_ALIASING_MODE, 0}}),
                {{AA_MODE_SELECTOR_ID, 0}, {AA_MODE_METHOD_ID, 0}}},
        SetCase{"modeOff",
                record({{DRS_ANTI_ALIASING_MODE, 1}}),
                {{AA_MODE_SELECTOR_ID, 1}, {AA_MODE_METHOD_ID, 0}}},
        SetCase{"modeEnhance",
                record({{DRS_ANTI_ALIASING_MODE, 2}}),
                {{AA_MODE_SELECTOR_ID, 2}, {AA_MODE_METHOD_ID, 14}, {AA_METHOD_COMPANION_ID, 0}}},
        SetCase{"modeOverride",
                record({{DRS_ANTI_ALIASING_MODE, 3}}),
                {{AA_MODE_SELECTOR_ID, 1}, {AA_MODE_METHOD_ID, 14}, {AA_METHOD_COMPANION_ID, 0}}},
        SetCase{"overrideWithMethod2",
                record({{DRS_ANTI_ALIASING_MODE, 3}, {DRS_ANTI_ALIASING_SETTING, 2}}),
                {{AA_MODE_SELECTOR_ID, 1}, {AA_MODE_METHOD_ID, 16}, {AA_METHOD_COMPANION_ID, 0}}},
        SetCase{"enhanceWithNone",
                record({{DRS_ANTI_ALIASING_MODE, 2}, {DRS_ANTI_ALIASING_SETTING, 0}}),
                {{AA_MODE_SELECTOR_ID, 2}, {AA_MODE_METHOD_ID, 0}}},
        SetCase{"enhanceWithMethod7",
                record({{DRS_ANTI_ALIASING_MODE, 2}, {DRS_ANTI_ALIASING_SETTING, 7}}),
                {{AA_MODE_SELECTOR_ID, 2}, {AA_MODE_METHOD_ID, 29}, {AA_METHOD_COMPANION_ID, 0}}},
        SetCase{"transparencyOff",
                record({{DRS_ANTI_ALIASING_TRANSPARENCY, 0}}),
                {{AA_MODE_REPLAY_ID, 0}, {AA_MODE_ALPHATOCOVERAGE_ID, 0}}},
        SetCase{"transparencyAlphaToCoverage",
                record({{DRS_ANTI_ALIASING_TRANSPARENCY, 1}}),
                {{AA_MODE_REPLAY_ID, 0}, {AA_MODE_ALPHATOCOVERAGE_ID, 4}}},
        SetCase{"transparencyReplay4",
                record({{DRS_ANTI_ALIASING_TRANSPARENCY, 4}}),
                {{AA_MODE_REPLAY_ID, 0x34}, {AA_MODE_ALPHATOCOVERAGE_ID, 0}}},
        SetCase{"multimon0",
                record({{DRS_MULTI_DISPLAY_MIXED_GPU_ACCELERATION, 0}}),
                {{OGL_MULTIMON_ID, 3}}},
        SetCase{"opts2",
                record({{DRS_TEXTURE_FILTERING_ANISOTROPIC_SAMPLE_OPTIMIZATION, 1}}),
                {{PS_TEXFILTER_ANISO_OPTS2_ID, 1}}},
        SetCase{"lodBiasOffClearsOpts2",
                record({{DRS_TEXTURE_FILTERING_NEGATIVE_LOD_BIAS, 0}}),
                {{PS_TEXFILTER_NO_NEG_LODBIAS_ID, 0}, {PS_TEXFILTER_ANISO_OPTS2_ID, 0}}},
        SetCase{"lodBiasOn",
                record({{DRS_TEXTURE_FILTERING_NEGATIVE_LOD_BIAS, 1}}),
                {{PS_TEXFILTER_NO_NEG_LODBIAS_ID, 1}}},
        SetCase{"qualityAppControlled",
                record({{DRS_TEXTURE_FILTERING_QUALITY, 0}}),
                {{QUALITY_ENHANCEMENTS_ID, 0},
                 {PS_TEXFILTER_DISABLE_TRILIN_SLOPE_ID, 0},
                 {PS_TEXFILTER_ANISO_OPTS2_ID, 0}}},
        SetCase{"qualityHighPerformance",
                record({{DRS_TEXTURE_FILTERING_QUALITY, 1}}),
                {{QUALITY_ENHANCEMENTS_ID, kMinus10},
                 {PS_TEXFILTER_DISABLE_TRILIN_SLOPE_ID, 0},
                 {PS_TEXFILTER_ANISO_OPTS2_ID, 0},
                 {ANISO_COMPANION_ID, 0}}},
        SetCase{"qualityHighest",
                record({{DRS_TEXTURE_FILTERING_QUALITY, 3}}),
                {{QUALITY_ENHANCEMENTS_ID, 20},
                 {PS_TEXFILTER_DISABLE_TRILIN_SLOPE_ID, 0},
                 {PS_TEXFILTER_ANISO_OPTS2_ID, 1}}},
        SetCase{"qualityWithItsCompanionFieldsEnabled",
                record({{DRS_TEXTURE_FILTERING_QUALITY, 1},
                        {DRS_ANISOTROPIC_FILTERING, 0},
                        {DRS_TEXTURE_FILTERING_ANISOTROPIC_SAMPLE_OPTIMIZATION, 1},
                        {DRS_TEXTURE_FILTERING_NEGATIVE_LOD_BIAS, 1},
                        {DRS_TEXTURE_FILTERING_TRILINEAR_OPTIMIZATION, 1}}),
                {{ANISO_MODE_SELECTOR_ID, 0},
                 {ANISO_MODE_LEVEL_ID, 1},
                 {ANISO_COMPANION_ID, 0},
                 {PS_TEXFILTER_ANISO_OPTS2_ID, 1},
                 {PS_TEXFILTER_NO_NEG_LODBIAS_ID, 1},
                 {QUALITY_ENHANCEMENTS_ID, kMinus10},
                 {PS_TEXFILTER_DISABLE_TRILIN_SLOPE_ID, 1}}},
        SetCase{"anisoLevel8AndQuality2",
                record({{DRS_ANISOTROPIC_FILTERING, 4}, {DRS_TEXTURE_FILTERING_QUALITY, 2}}),
                {{ANISO_MODE_SELECTOR_ID, 1},
                 {ANISO_MODE_LEVEL_ID, 8},
                 {ANISO_COMPANION_ID, 0},
                 {PS_TEXFILTER_NO_NEG_LODBIAS_ID, 1},
                 {PS_TEXFILTER_ANISO_OPTS2_ID, 0},
                 {QUALITY_ENHANCEMENTS_ID, 10},
                 {PS_TEXFILTER_DISABLE_TRILIN_SLOPE_ID, 0},
                 {PS_TEXFILTER_ANISO_OPTS2_ID, 1}}},
        SetCase{"trilinear",
                record({{DRS_TEXTURE_FILTERING_TRILINEAR_OPTIMIZATION, 1}}),
                {{PS_TEXFILTER_DISABLE_TRILIN_SLOPE_ID, 1}}},
        SetCase{
            "threaded1", record({{DRS_THREADED_OPTIMIZATION, 1}}), {{OGL_THREAD_CONTROL_ID, 2}}},
        SetCase{
            "tripleBuffering", record({{DRS_TRIPLE_BUFFERING, 1}}), {{OGL_TRIPLE_BUFFER_ID, 1}}},
        SetCase{"vsync1", record({{DRS_VERTICAL_SYNC, 1}}), {{VSYNCMODE_ID, 0x08416747}}},
        SetCase{"bitOrderNotFieldOrder",
                record({{DRS_VERTICAL_SYNC, 2},
                        {DRS_MAXIMUM_PRERENDERED_FRAMES, 0},
                        {DRS_ANTI_ALIASING_GAMMA_CORRECTION, 1}}),
                {{AA_MODE_GAMMACORRECTION_ID, 2},
                 {PRERENDERED_FRAMES_ID, 0},
                 {VSYNCMODE_ID, 0x47814940}}}),
    ByLabel());

// Every valid value of every field written and read back through the store gives the record
// that was written.
struct RoundTripCase {
    const char* label;
    std::uint64_t bit;
    std::int32_t maximum;
    // Where the result depends on the order the driver enumerates the profile in: the value
    // written, the enumeration order and the value read back instead.
    struct OrderDependent {
        std::int32_t value;
        const char* order;
        std::int32_t readBack;
    };
    std::vector<OrderDependent> orderDependent = {};
};

void PrintTo(const RoundTripCase& c, std::ostream* os) {
    *os << c.label;
}

class NvApiMgrRoundTrip : public NvApiMgrTest,
                          public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(NvApiMgrRoundTrip, SetThenGetGivesTheSameField) {
    const RoundTripCase& c = GetParam();
    for (const char* order : {"sorted", "written", "reversed"})
        for (std::int32_t value = 0; value <= c.maximum; ++value) {
            std::vector<Field> fields{{c.bit, value}};
            if (c.bit == DRS_ANTI_ALIASING_SETTING) {
                fields.push_back({DRS_ANTI_ALIASING_MODE, value == 0 ? 2 : 3});
            }
            SCOPED_TRACE(std::string("enum-order=") + order + ", value " + std::to_string(value));
            setFaults(std::string("enum-order=") + order);
            std::remove(nvapiStorePath.c_str());
            {
                auto writer = open();
                ASSERT_TRUE(writer->set(record(fields))) << narrow(writer->getErrorMessage());
            }
            auto reader = open();
            DrsParam out{};
            ASSERT_TRUE(reader->get(out));
            DrsParam in = record(fields);
            for (const auto& d : c.orderDependent) {
                if (d.value == value && d.order == std::string(order)) {
                    in = record({{c.bit, d.readBack}});
                }
            }
            for (const Field& f : fields) {
                for (int i = 0; i < kDrsSettingCount; ++i) {
                    if (f.bit == (std::uint64_t{1} << i)) {
                        EXPECT_EQ(drsField(out, i), drsField(in, i)) << "field " << i;
                        EXPECT_NE(out.enableSettings & f.bit, 0u) << "bit of field " << i;
                    }
                }
            }
        }
}

INSTANTIATE_TEST_SUITE_P(
    NvApiDrsMgr, NvApiMgrRoundTrip,
    ::testing::Values(RoundTripCase{"anisotropicFiltering",
                                    DRS_ANISOTROPIC_FILTERING,
                                    5,
                                    // Application-controlled is written as selector 0 and level
                                    // 1: read back selector first, the level overwrites the 0.
                                    {{0, "written", 1}, {0, "reversed", 1}}},
                      RoundTripCase{"antiAliasingGammaCorrection",
                                    DRS_ANTI_ALIASING_GAMMA_CORRECTION, 1},
                      RoundTripCase{"antiAliasingMode", DRS_ANTI_ALIASING_MODE, 3},
                      RoundTripCase{"antiAliasingSetting", DRS_ANTI_ALIASING_SETTING, 7},
                      RoundTripCase{"antiAliasingTransparency", DRS_ANTI_ALIASING_TRANSPARENCY, 4},
                      RoundTripCase{"maximumPrerenderedFrames", DRS_MAXIMUM_PRERENDERED_FRAMES, 8},
                      RoundTripCase{"multiDisplayMixedGpuAcceleration",
                                    DRS_MULTI_DISPLAY_MIXED_GPU_ACCELERATION, 2},
                      RoundTripCase{"textureFilteringAnisotropicSampleOptimization",
                                    DRS_TEXTURE_FILTERING_ANISOTROPIC_SAMPLE_OPTIMIZATION, 1},
                      RoundTripCase{"textureFilteringNegativeLodBias",
                                    DRS_TEXTURE_FILTERING_NEGATIVE_LOD_BIAS, 1},
                      RoundTripCase{"textureFilteringQuality", DRS_TEXTURE_FILTERING_QUALITY, 3},
                      RoundTripCase{"textureFilteringTrilinearOptimization",
                                    DRS_TEXTURE_FILTERING_TRILINEAR_OPTIMIZATION, 1},
                      RoundTripCase{"threadedOptimization", DRS_THREADED_OPTIMIZATION, 2},
                      RoundTripCase{"tripleBuffering", DRS_TRIPLE_BUFFERING, 1},
                      RoundTripCase{"verticalSync", DRS_VERTICAL_SYNC, 2}),
    ByLabel());

// ---- set failures: the store is never changed ----

struct SetFailureCase {
    const char* label;
    const char* faults;
    DrsParam in;
    std::string text;
    std::vector<std::string> diagnostics;
    std::size_t setSettingCalls;
    bool saveCalled;
};

void PrintTo(const SetFailureCase& c, std::ostream* os) {
    *os << c.label;
}

class NvApiMgrSetFailure : public NvApiMgrTest,
                           public ::testing::WithParamInterface<SetFailureCase> {};

TEST_P(NvApiMgrSetFailure, StoreUnchanged) {
    const SetFailureCase& c = GetParam();
    writeNvapiStore({{PRERENDERED_FRAMES_ID, 4}, {VSYNCMODE_ID, 0x60925292}});
    const std::string before = nvapiStoreText();
    auto mgr = open();
    setFaults(c.faults);
    clearJournal();
    diagnostics().clear();
    EXPECT_FALSE(mgr->set(c.in));
    EXPECT_EQ(narrow(mgr->getErrorMessage()), c.text);
    EXPECT_EQ(messages(diagnostics()), c.diagnostics);
    EXPECT_EQ(journal("NvAPI_DRS_SetSetting").size(), c.setSettingCalls);
    EXPECT_EQ(journal("NvAPI_DRS_SaveSettings").size(), c.saveCalled ? 1u : 0u);
    EXPECT_EQ(nvapiStoreText(), before);
    EXPECT_EQ(mgr->getInitState(), DrsMgr::READY);
}

INSTANTIATE_TEST_SUITE_P(
    NvApiDrsMgr, NvApiMgrSetFailure,
    ::testing::Values(
        SetFailureCase{"validationRefuses",
                       "",
                       record({{DRS_MAXIMUM_PRERENDERED_FRAMES, 9}}),
                       "MaximumPrerenderedFrames parameter is invalid.\n",
                       {"Error : maximumPrerenderedFramesParam is 9.\n"},
                       0,
                       false},
        SetFailureCase{"unknownBit",
                       "",
                       record({{DRS_MAXIMUM_PRERENDERED_FRAMES, 1}}, 1ull << 20),
                       "Unknown parameter set as condition.\n",
                       {"Error : enableSettings is invalid. Val = 100020.\n"},
                       0,
                       false},
        SetFailureCase{"saveNotSupported",
                       "status:NvAPI_DRS_SaveSettings=-104",
                       record({{DRS_MAXIMUM_PRERENDERED_FRAMES, 1}}),
                       kNotSupported,
                       {"NvAPI_DRS_SaveSettings failed. ErrorCode = -104.\n"},
                       1,
                       true},
        SetFailureCase{"saveMissing",
                       "missing:NvAPI_DRS_SaveSettings",
                       record({{DRS_MAXIMUM_PRERENDERED_FRAMES, 1}}),
                       kFatal,
                       {"NvAPI_DRS_SaveSettings failed. ErrorCode = -3.\n"},
                       1,
                       false},
        SetFailureCase{"thirdRecordRefused",
                       "status:NvAPI_DRS_SetSetting=-5@3",
                       record({{DRS_ANISOTROPIC_FILTERING, 3}, {DRS_VERTICAL_SYNC, 1}}),
                       kFatal,
                       {"NvAPI_DRS_SetSetting failed. ErrorCode = -5.\n", "Setting Id = 84cd70.\n"},
                       3,
                       false},
        SetFailureCase{"setSettingPositiveStatus",
                       "status:NvAPI_DRS_SetSetting=1",
                       record({{DRS_VERTICAL_SYNC, 2}}),
                       kFatal,
                       {"NvAPI_DRS_SetSetting failed. ErrorCode = 1.\n", "Setting Id = a879cf.\n"},
                       1,
                       false},
        SetFailureCase{"savePositiveStatus",
                       "status:NvAPI_DRS_SaveSettings=104",
                       record({{DRS_MAXIMUM_PRERENDERED_FRAMES, 1}}),
                       kFatal,
                       {"NvAPI_DRS_SaveSettings failed. ErrorCode = 104.\n"},
                       1,
                       true},
        SetFailureCase{
            "setSettingNotSupported",
            "status:NvAPI_DRS_SetSetting=-104",
            record({{DRS_VERTICAL_SYNC, 2}}),
            kNotSupported,
            {"NvAPI_DRS_SetSetting failed. ErrorCode = -104.\n", "Setting Id = a879cf.\n"},
            1,
            false}),
    ByLabel());

TEST_F(NvApiMgrTest, FailedStoreWriteIsAFatalError) {
    testsupport::setEnvironment("DURNAVEL_NVAPI_STORE", folder + "/missing-folder/store.txt");
    auto mgr = open();
    EXPECT_FALSE(mgr->set(record({{DRS_MAXIMUM_PRERENDERED_FRAMES, 1}})));
    EXPECT_EQ(narrow(mgr->getErrorMessage()), kFatal);
    ASSERT_EQ(journal("NvAPI_DRS_SaveSettings").size(), 1u);
    EXPECT_EQ(journal("NvAPI_DRS_SaveSettings")[0]["saved"], "no");
    EXPECT_FALSE(std::filesystem::exists(folder + "/missing-folder"));
}

TEST_F(NvApiMgrTest, SaveReplacesTheStoreAndLeavesNoTemporary) {
    writeNvapiStore({{VSYNCMODE_ID, 0x60925292}});
    auto mgr = open();
    ASSERT_TRUE(mgr->set(record({{DRS_MAXIMUM_PRERENDERED_FRAMES, 1}})));
    ASSERT_TRUE(mgr->set(record({{DRS_MAXIMUM_PRERENDERED_FRAMES, 0}})));
    EXPECT_EQ(nvapiStore(), (Settings{{PRERENDERED_FRAMES_ID, 0}, {VSYNCMODE_ID, 0x60925292}}));
    EXPECT_FALSE(std::filesystem::exists(nvapiStorePath + ".tmp"));
}

// ---- conversion of single fields, including values validation never lets through ----

struct CreateRefusalCase {
    const char* label;
    std::uint64_t bit;
    std::int32_t value;
    std::string handler;
    std::string message;
};

void PrintTo(const CreateRefusalCase& c, std::ostream* os) {
    *os << c.label;
}

class NvApiMgrCreateRefusal : public DriverTest,
                              public ::testing::WithParamInterface<CreateRefusalCase> {};

TEST_P(NvApiMgrCreateRefusal, EmptiesTheListAndNamesTheValue) {
    const CreateRefusalCase& c = GetParam();
    NvApiDrsMgr mgr;
    mgr.debugLevel = 1;
    DrsParam in = record({{c.bit, c.value}});
    // A handler empties the list it was given; the dispatcher leaves it alone.
    const bool byHandler = c.handler != "createSettings";
    std::vector<NVDRS_SETTING> list(1, makeDwordSetting(PRERENDERED_FRAMES_ID, 1));
    EXPECT_FALSE(mgr.createSettings(in, c.bit, list));
    EXPECT_EQ(list.size(), byHandler ? 0u : 1u);
    ASSERT_EQ(diagnostics().size(), 1u);
    EXPECT_EQ(diagnostics()[0].substr(0, diagnostics()[0].find(": Line")),
              "tool::graphics::NvApiDrsMgr::" + c.handler);
    EXPECT_EQ(messages(diagnostics())[0], c.message);
}

INSTANTIATE_TEST_SUITE_P(
    NvApiDrsMgr, NvApiMgrCreateRefusal,
    ::testing::Values(
        CreateRefusalCase{"aniso", DRS_ANISOTROPIC_FILTERING, 6,
                          "createSettingsOnAnisotropicFiltering",
                          "Error : baseParam anisotropicFiltering is invalid. Val = 6.\n"},
        CreateRefusalCase{"gamma", DRS_ANTI_ALIASING_GAMMA_CORRECTION, 2,
                          "createSettingsOnAntiAliasingGammaCorrection",
                          "Error : baseParam antiAliasingGammaCorrection is invalid. Val = 2.\n"},
        CreateRefusalCase{"mode", DRS_ANTI_ALIASING_MODE, 4, "createSettingsOnAntiAliasingMode",
                          "Error : baseParam antiAliasingModeParam is invalid. Val = 4.\n"},
        CreateRefusalCase{
            "setting", DRS_ANTI_ALIASING_SETTING, -1, "createSettingsOnAntiAliasingSetting",
            "Error : baseParam antiAliasingSettingParam is invalid. Val = ffffffff.\n"},
        CreateRefusalCase{"transparency", DRS_ANTI_ALIASING_TRANSPARENCY, 5,
                          "createSettingsOnAntiAliasingTransparency",
                          "Error : antiAliasingTransparencyParam value is invalid. Val = 5.\n"},
        CreateRefusalCase{
            "multimon", DRS_MULTI_DISPLAY_MIXED_GPU_ACCELERATION, 3,
            "createSettingsOnMultiDisplayMixedGpuAcceleration",
            "Error : multiDisplayMixedGpuAccelerationParam value is invalid. Val = 3.\n"},
        CreateRefusalCase{"opts2", DRS_TEXTURE_FILTERING_ANISOTROPIC_SAMPLE_OPTIMIZATION, 2,
                          "createSettingsOnTextureFilteringAnisotropicSampleOptimization",
                          "Error : textureFilteringAnisotropicSampleOptimizationParam value is "
                          "invalid. Val = 2.\n"},
        CreateRefusalCase{
            "lodBias", DRS_TEXTURE_FILTERING_NEGATIVE_LOD_BIAS, 2,
            "createSettingsOnTextureFilteringNegativeLodBiasParam",
            "Error : textureFilteringNegativeLodBiasParam value is invalid. Val = 2.\n"},
        CreateRefusalCase{"quality", DRS_TEXTURE_FILTERING_QUALITY, 4,
                          "createSettingsOnTextureFilteringQuality",
                          "Error : textureFilteringQualityParam value is invalid. Val = 4.\n"},
        CreateRefusalCase{
            "trilinear", DRS_TEXTURE_FILTERING_TRILINEAR_OPTIMIZATION, 2,
            "createSettingsOnTextureFilteringTrilinearOptimization",
            "Error : textureFilteringTrilinearOptimizationParam value is invalid. Val = 2.\n"},
        CreateRefusalCase{"threaded", DRS_THREADED_OPTIMIZATION, 3,
                          "createSettingsOnThreadedOptimization",
                          "Error : threadedOptimizationParam value is invalid. Val = 3.\n"},
        CreateRefusalCase{"triple", DRS_TRIPLE_BUFFERING, 2, "createSettingsOnTripleBufferingParam",
                          "Error : tripleBufferingParam value is invalid. Val = 2.\n"},
        CreateRefusalCase{"vsync", DRS_VERTICAL_SYNC, 3, "createSettingsOnVerticalSync",
                          "Error : verticalSyncParam value is invalid. Val = 3.\n"},
        CreateRefusalCase{"bit14", 0x4000, 0, "createSettings",
                          "Error : baseParam enableSetting is invalid. Val = 4000.\n"},
        CreateRefusalCase{"twoBits", 0x3, 0, "createSettings",
                          "Error : baseParam enableSetting is invalid. Val = 3.\n"}),
    ByLabel());

TEST(NvApiDrsMgrCreate, SettingUnderModeOffWritesNothingAndFramesAreNotChecked) {
    NvApiDrsMgr mgr;
    std::vector<NVDRS_SETTING> list;
    EXPECT_TRUE(
        mgr.createSettings(record({{DRS_ANTI_ALIASING_MODE, 1}, {DRS_ANTI_ALIASING_SETTING, 3}}),
                           DRS_ANTI_ALIASING_SETTING, list));
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(mgr.createSettings(record({{DRS_MAXIMUM_PRERENDERED_FRAMES, -5}}),
                                   DRS_MAXIMUM_PRERENDERED_FRAMES, list));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].currentValue.u32Value, 0xFFFFFFFBu);
}

TEST(NvApiDrsMgrCreate, DwordSettingIsZeroedApartFromItsFourParts) {
    NVDRS_SETTING s = makeDwordSetting(VSYNCMODE_ID, 0x47814940);
    NVDRS_SETTING expected;
    std::memset(&expected, 0, sizeof(expected));
    expected.version = 0x13020;
    expected.settingId = 0x00A879CF;
    expected.currentValue.u32Value = 0x47814940;
    EXPECT_EQ(std::memcmp(&s, &expected, sizeof(s)), 0);
}

} // namespace
