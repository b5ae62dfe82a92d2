// The control-panel settings manager against the simulated nvcpl.dll, loaded for real.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DriverSim.h"
#include "support/ParamName.h"
#include "tool/graphics/NvCplDrsMgr.h"

namespace {

using drivertest::DriverTest;
using drivertest::JournalLine;
using drivertest::narrow;
using namespace tool::graphics;

const std::string kFatal = "Fatal error occured.\nPlease check your hardware.\n";

std::vector<std::string> messages(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& l : lines) {
        out.push_back(l.substr(l.find("  ") + 2));
    }
    return out;
}

// The library's calls, "NvCplGetDataInt 4" style.
std::vector<std::string> calls(const std::vector<JournalLine>& lines) {
    std::vector<std::string> out;
    for (const JournalLine& l : lines) {
        if (l.event.rfind("NvCpl", 0) == 0) {
            out.push_back(l.event + " " + l["index"] +
                          (l.event == "NvCplSetDataInt" ? " " + l["value"] : std::string()));
        }
    }
    return out;
}

DrsParam frames(std::int32_t value, std::uint64_t mask = DRS_MAXIMUM_PRERENDERED_FRAMES) {
    DrsParam p{};
    p.maximumPrerenderedFrames = value;
    p.enableSettings = mask;
    return p;
}

class NvCplMgrTest : public DriverTest {
  protected:
    std::unique_ptr<NvCplDrsMgr> open() {
        auto mgr = std::make_unique<NvCplDrsMgr>();
        mgr->debugLevel = 1;
        EXPECT_TRUE(mgr->initialize()) << narrow(mgr->getErrorMessage());
        return mgr;
    }
};

struct InitCase {
    const char* label;
    const char* drivers;
    std::vector<std::string> events; // load and unload lines of the library
};

void PrintTo(const InitCase& c, std::ostream* os) {
    *os << c.label;
}

class NvCplMgrInit : public NvCplMgrTest, public ::testing::WithParamInterface<InitCase> {};

TEST_P(NvCplMgrInit, FailureLeavesTheLibraryUnloaded) {
    const InitCase& c = GetParam();
    useDrivers(c.drivers);
    NvCplDrsMgr mgr;
    mgr.debugLevel = 1;
    EXPECT_FALSE(mgr.initialize());
    EXPECT_EQ(mgr.getInitState(), 0);
    EXPECT_EQ(narrow(mgr.getErrorMessage()), kFatal);
    std::vector<std::string> events;
    for (const JournalLine& l : journal()) {
        events.push_back(l.event);
    }
    EXPECT_EQ(events, c.events);
    // The diagnostic comes from the library loader under its own debug level, which is 0.
    EXPECT_TRUE(diagnostics().empty());
    DrsParam out{};
    EXPECT_FALSE(mgr.get(out));
}

INSTANTIATE_TEST_SUITE_P(
    NvCplDrsMgr, NvCplMgrInit,
    ::testing::Values(InitCase{"noLibrary", "empty", {}},
                      InitCase{"noSetExport", "without-NvCplSetDataInt", {"load", "unload"}},
                      InitCase{"noGetExport", "without-NvCplGetDataInt", {"load", "unload"}}),
    ByLabel());

struct SetupCase {
    const char* label;
    const char* drivers;
    bool loaded;
    std::string diagnostic;
    // A Windows without AddDllDirectory (see NvApiLayerLoad): the full path in the system
    // folder is asked for with LOAD_WITH_ALTERED_SEARCH_PATH instead of the name with
    // LOAD_LIBRARY_SEARCH_SYSTEM32.
    bool withoutAddDllDirectory = false;
};

void PrintTo(const SetupCase& c, std::ostream* os) {
    *os << c.label;
}

class NvCplFuncSetup : public DriverTest, public ::testing::WithParamInterface<SetupCase> {};

TEST_P(NvCplFuncSetup, LoadsOnlyWithBothEntryPoints) {
    const SetupCase& c = GetParam();
    if (c.withoutAddDllDirectory && !drivertest::withoutAddDllDirectory()) {
        GTEST_SKIP() << "this loader has AddDllDirectory";
    }
    useDrivers(c.drivers);
    NvCplFunc func;
    func.debugLevel = 1;
    EXPECT_EQ(func.setup(), c.loaded);
    EXPECT_EQ(func.isLoaded(), c.loaded);
    EXPECT_EQ(func.getDataInt() != nullptr, c.loaded);
    EXPECT_EQ(func.setDataInt() != nullptr, c.loaded);
    std::vector<std::string> expected;
    if (!c.diagnostic.empty()) {
        expected.push_back(c.diagnostic);
        EXPECT_EQ(diagnostics()[0].rfind("tool::graphics::NvCplFunc::setup: Line", 0), 0u);
    }
    EXPECT_EQ(messages(diagnostics()), expected);
    EXPECT_EQ(func.setup(), c.loaded);
    EXPECT_EQ(journal("load").size(), c.loaded ? 1u : (c.drivers == std::string("empty") ? 0u : 2u))
        << "a loaded library is not loaded again; a failed one is tried again";
    if (std::optional<std::vector<std::string>> asked = drivertest::loadsAsked()) {
        std::string load = c.withoutAddDllDirectory
                               ? "flags=0x00000008 name=" + libraryFolder + "\\nvcpl.dll"
                               : "flags=0x00000800 name=nvcpl.dll";
        EXPECT_EQ(*asked, std::vector<std::string>(c.loaded ? 1 : 2, load));
    }
}

INSTANTIATE_TEST_SUITE_P(
    NvCplFunc, NvCplFuncSetup,
    ::testing::Values(
        SetupCase{"loaded", "", true, ""},
        SetupCase{"noLibrary", "empty", false,
                  "LoadLibraryA failed. ErrorCode = 126, LibName = nvcpl.dll.\n"},
        SetupCase{"noGet", "without-NvCplGetDataInt", false,
                  "GetProcAddress failed. ErrorCode = 127, FunctionName = NvCplGetDataInt.\n"},
        SetupCase{"noSet", "without-NvCplSetDataInt", false,
                  "GetProcAddress failed. ErrorCode = 127, FunctionName = NvCplSetDataInt.\n"},
        SetupCase{"loadedWithoutAddDllDirectory", "", true, "", true},
        SetupCase{"noLibraryWithoutAddDllDirectory", "empty", false,
                  "LoadLibraryA failed. ErrorCode = 126, LibName = nvcpl.dll.\n", true}),
    ByLabel());

TEST_F(NvCplMgrTest, LifecycleLoadsOnceAndFreesTheLibrary) {
    {
        NvCplDrsMgr mgr;
        ASSERT_TRUE(mgr.initialize());
        EXPECT_EQ(mgr.getInitState(), DrsMgr::READY);
        EXPECT_TRUE(mgr.initialize());
        EXPECT_EQ(journal("load").size(), 1u);
        mgr.finalize();
        EXPECT_EQ(mgr.getInitState(), 0);
        EXPECT_EQ(journal("unload").size(), 1u);
        ASSERT_TRUE(mgr.initialize());
        EXPECT_EQ(journal("load").size(), 2u);
    }
    EXPECT_EQ(journal("unload").size(), 2u) << "the destructor frees the library";
}

TEST_F(NvCplMgrTest, RefusedBeforeInitialize) {
    NvCplDrsMgr mgr;
    mgr.debugLevel = 1;
    DrsParam out = frames(7);
    EXPECT_FALSE(mgr.get(out));
    EXPECT_EQ(narrow(mgr.getErrorMessage()), kFatal);
    EXPECT_FALSE(mgr.set(frames(1)));
    EXPECT_EQ(narrow(mgr.getErrorMessage()), kFatal);
    EXPECT_EQ(messages(diagnostics()),
              (std::vector<std::string>{"Error : Not init.\n", "Error : Not init.\n"}));
}

struct GetCase {
    const char* label;
    std::int32_t aaCode; // -1000: no store at all
    std::int32_t frameQueueLimit;
    const char* faults;
    bool ok;
    std::int32_t setting;
    std::int32_t frames;
    std::vector<std::string> diagnostics;
};

void PrintTo(const GetCase& c, std::ostream* os) {
    *os << c.label;
}

class NvCplMgrGet : public NvCplMgrTest, public ::testing::WithParamInterface<GetCase> {};

TEST_P(NvCplMgrGet, DriverValuesToRecord) {
    const GetCase& c = GetParam();
    if (c.aaCode != -1000) {
        writeNvcplStore(c.aaCode, c.frameQueueLimit);
    }
    auto mgr = open();
    setFaults(c.faults);
    DrsParam out = frames(5, DRS_VERTICAL_SYNC);
    out.verticalSync = 2;
    EXPECT_EQ(mgr->get(out), c.ok);
    DrsParam expected = makeDefaultDrsParam();
    if (c.ok) {
        expected.antiAliasingSetting = c.setting;
        expected.maximumPrerenderedFrames = c.frames;
        expected.enableSettings = DRS_ANTI_ALIASING_SETTING | DRS_MAXIMUM_PRERENDERED_FRAMES;
    }
    EXPECT_EQ(std::memcmp(&out, &expected, sizeof(out)), 0)
        << out.antiAliasingSetting << " " << out.maximumPrerenderedFrames << " "
        << out.enableSettings << " " << out.verticalSync;
    EXPECT_EQ(narrow(mgr->getErrorMessage()), c.ok ? "" : kFatal);
    EXPECT_EQ(messages(diagnostics()), c.diagnostics);
}

INSTANTIATE_TEST_SUITE_P(
    NvCplDrsMgr, NvCplMgrGet,
    ::testing::Values(
        GetCase{"code3frames2", 3, 2, "", true, 2, 2, {}},
        GetCase{"code0", 0, 1, "", true, 0, 1, {}}, GetCase{"code1", 1, 1, "", true, 1, 1, {}},
        GetCase{"code7", 7, 1, "", true, 3, 1, {}}, GetCase{"code33", 33, 1, "", true, 4, 1, {}},
        GetCase{"code34", 34, 1, "", true, 5, 1, {}}, GetCase{"code35", 35, 0, "", true, 6, 0, {}},
        GetCase{"framesUnchecked", 0, 100, "", true, 0, 100, {}},
        GetCase{"driverDefaults", -1000, 0, "", true, 0, 3, {}},
        // Any non-zero BOOL is success.
        GetCase{"readsAnswerTwo", 33, 4, "answer:NvCplGetDataInt=2", true, 4, 4, {}},
        GetCase{"readsAnswerMinusOne", 34, 5, "answer:NvCplGetDataInt=-1", true, 5, 5, {}},
        GetCase{"code2Unknown",
                2,
                2,
                "",
                false,
                0,
                0,
                {"Error : Get expected value of antiAliasingSetting. val : 2\n"}},
        GetCase{"code36Unknown",
                36,
                2,
                "",
                false,
                0,
                0,
                {"Error : Get expected value of antiAliasingSetting. val : 36\n"}},
        GetCase{"aaReadFails",
                3,
                2,
                "status:NvCplGetDataInt=0@1",
                false,
                0,
                0,
                {"Error : NvCplGetDataInt failed.\nIndex : NVCPL_API_CURRENT_AA_VALUE, val : 0\n"}},
        GetCase{
            "framesReadFails",
            3,
            2,
            "status:NvCplGetDataInt=0@2",
            false,
            0,
            0,
            {"Error : NvCplGetDataInt failed.\nIndex : NVCPL_API_FRAME_QUEUE_LIMIT, val : 0\n"}}),
    ByLabel());

TEST_F(NvCplMgrTest, GetReadsTheAntiAliasingCodeThenTheFrameQueueLimit) {
    writeNvcplStore(33, 4);
    auto mgr = open();
    DrsParam out{};
    ASSERT_TRUE(mgr->get(out));
    EXPECT_EQ(calls(journal()),
              (std::vector<std::string>{"NvCplGetDataInt 4", "NvCplGetDataInt 6"}));
}

struct SetCase {
    const char* label;
    DrsParam in;
    const char* faults;
    bool ok;
    std::string text;
    std::vector<std::string> calls;
    std::string storeAfter; // "" unchanged
};

void PrintTo(const SetCase& c, std::ostream* os) {
    *os << c.label;
}

class NvCplMgrSet : public NvCplMgrTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(NvCplMgrSet, WritesOnlyTheFrameQueueLimit) {
    const SetCase& c = GetParam();
    writeNvcplStore(3, 2);
    const std::string before = nvcplStoreText();
    auto mgr = open();
    setFaults(c.faults);
    EXPECT_EQ(mgr->set(c.in), c.ok);
    EXPECT_EQ(narrow(mgr->getErrorMessage()), c.text);
    EXPECT_EQ(calls(journal()), c.calls);
    EXPECT_EQ(nvcplStoreText(), c.storeAfter.empty() ? before : c.storeAfter);
}

DrsParam modeAndFrames() {
    DrsParam p = frames(2, DRS_MAXIMUM_PRERENDERED_FRAMES | DRS_ANTI_ALIASING_MODE);
    p.antiAliasingMode = 1;
    return p;
}

INSTANTIATE_TEST_SUITE_P(
    NvCplDrsMgr, NvCplMgrSet,
    ::testing::Values(
        SetCase{"framesOne", frames(1), "", true, "", {"NvCplSetDataInt 6 1"}, "4 3\n6 1\n"},
        SetCase{"framesEight", frames(8), "", true, "", {"NvCplSetDataInt 6 8"}, "4 3\n6 8\n"},
        SetCase{"nothingEnabled", frames(1, 0), "", true, "", {}, ""},
        SetCase{"modeNotSupported",
                modeAndFrames(),
                "",
                false,
                "Cannot set antiAliasingMode parameter at this driver.\n",
                {},
                ""},
        SetCase{"framesNine",
                frames(9),
                "",
                false,
                "MaximumPrerenderedFrames parameter is invalid.\n",
                {},
                ""},
        SetCase{"writeAnswersMinusOne",
                frames(1),
                "answer:NvCplSetDataInt=-1",
                true,
                "",
                {"NvCplSetDataInt 6 1"},
                "4 3\n6 1\n"},
        SetCase{"writeAnswersTwo",
                frames(0),
                "answer:NvCplSetDataInt=2",
                true,
                "",
                {"NvCplSetDataInt 6 0"},
                "4 3\n6 0\n"},
        SetCase{"driverRefuses",
                frames(1),
                "status:NvCplSetDataInt=0",
                false,
                kFatal,
                {"NvCplSetDataInt 6 1"},
                ""}),
    ByLabel());

TEST_F(NvCplMgrTest, EveryFrameValueRoundTrips) {
    for (std::int32_t value = 0; value <= 8; ++value) {
        SCOPED_TRACE(value);
        {
            auto writer = open();
            ASSERT_TRUE(writer->set(frames(value)));
        }
        auto reader = open();
        DrsParam out{};
        ASSERT_TRUE(reader->get(out));
        EXPECT_EQ(out.maximumPrerenderedFrames, value);
        EXPECT_EQ(out.enableSettings, DRS_ANTI_ALIASING_SETTING | DRS_MAXIMUM_PRERENDERED_FRAMES);
    }
}

TEST_F(NvCplMgrTest, UpdateParamKnowsOnlyTheTwoReadableFields) {
    writeNvcplStore(7, 2);
    auto mgr = open();
    DrsParam p = makeDefaultDrsParam();
    EXPECT_FALSE(mgr->updateParam(DRS_VERTICAL_SYNC, p));
    EXPECT_EQ(messages(diagnostics()),
              std::vector<std::string>{"Error : setting is invalid. val : 2000.\n"});
    EXPECT_TRUE(mgr->updateParam(DRS_ANTI_ALIASING_SETTING, p));
    EXPECT_EQ(p.antiAliasingSetting, 3);
    EXPECT_EQ(p.enableSettings, DRS_ANTI_ALIASING_SETTING);
    EXPECT_TRUE(calls(journal()) == std::vector<std::string>{"NvCplGetDataInt 4"});

    // A failed read leaves the field and the mask as they were.
    setFaults("status:NvCplGetDataInt=0");
    EXPECT_FALSE(mgr->updateParam(DRS_MAXIMUM_PRERENDERED_FRAMES, p));
    EXPECT_EQ(p.maximumPrerenderedFrames, 3);
    EXPECT_EQ(p.enableSettings, DRS_ANTI_ALIASING_SETTING);
    setFaults("");
    writeNvcplStore(2, 2);
    DrsParam q = makeDefaultDrsParam();
    EXPECT_FALSE(mgr->updateParam(DRS_ANTI_ALIASING_SETTING, q)) << "code 2 has no setting";
    EXPECT_EQ(q.enableSettings, 0u);
    EXPECT_EQ(q.antiAliasingSetting, 0);
}

} // namespace
