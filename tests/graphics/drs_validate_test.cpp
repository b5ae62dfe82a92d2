// The checks every manager applies before it writes: ranges, the anti-aliasing rules and the
// per-driver report of settings it cannot set.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "DriverSim.h"
#include "platform/kviDebug.h"
#include "support/ParamName.h"
#include "tool/graphics/NvApiDrsMgr.h"
#include "tool/graphics/NvCplDrsMgr.h"

namespace {

using drivertest::narrow;
using tool::graphics::DrsMgr;
using tool::graphics::DrsParam;

std::vector<std::string> caught;
int catchLine(const char* line) {
    caught.emplace_back(line);
    return 0;
}

struct Field {
    std::uint64_t bit;
    std::int32_t value;
};

// A record with the given fields set and enabled, plus any extra mask bits.
DrsParam record(const std::vector<Field>& fields, std::uint64_t extraBits = 0) {
    DrsParam p{};
    for (const Field& f : fields) {
        for (int i = 0; i < tool::graphics::kDrsSettingCount; ++i) {
            if (f.bit == (std::uint64_t{1} << i)) {
                tool::graphics::drsField(p, i) = f.value;
            }
        }
        p.enableSettings |= f.bit;
    }
    p.enableSettings |= extraBits;
    return p;
}

std::unique_ptr<DrsMgr> manager(bool nvcpl) {
    if (nvcpl) {
        return std::make_unique<tool::graphics::NvCplDrsMgr>();
    }
    return std::make_unique<tool::graphics::NvApiDrsMgr>();
}

class Diagnostics : public ::testing::Test {
  protected:
    void SetUp() override {
        caught.clear();
        kviDebugSetHook(catchLine);
    }
    void TearDown() override { kviDebugSetHook(nullptr); }
};

struct ValidateCase {
    const char* label;
    bool nvcpl; // which manager's validateSettings follows the common checks
    DrsParam in;
    bool ok;
    std::string lines;
    std::vector<std::string> diagnostics; // messages after the "name: LineN  " prefix
};

void PrintTo(const ValidateCase& c, std::ostream* os) {
    *os << c.label;
}

class ValidateParam : public Diagnostics, public ::testing::WithParamInterface<ValidateCase> {};

TEST_P(ValidateParam, ResultLinesAndDiagnostics) {
    const ValidateCase& c = GetParam();
    auto mgr = manager(c.nvcpl);
    mgr->debugLevel = 1;
    EXPECT_EQ(mgr->validateParam(c.in), c.ok);
    EXPECT_EQ(narrow(mgr->getErrorMessage()), c.lines);
    std::vector<std::string> messages;
    for (const std::string& line : caught) {
        std::string::size_type gap = line.find("  ");
        messages.push_back(line.substr(gap + 2));
    }
    EXPECT_EQ(messages, c.diagnostics);
}

const char kSettingInvalid[] = "AntiAliasingSetting parameter is invalid.\n";
const char kRuleA[] =
    "If antiAliasingMode is _APPLICATION_CONTROLLED or _OFF, cannot set antiAliasingSetting.\n";
const char kRuleB[] = "If antiAliasingMode is _OVERRIDE, cannot set antiAliasingSetting to "
                      "_NONE.\nPlease set antiAliasingMode to _OFF.\n";
const char kRuleC[] =
    "If you set antiAliasingSetting, Please set antiAliasingMode at same timing.\n";
const char kRuleCDiag[] =
    "Error : If you set antiAliasingSetting, Please set antiAliasingMode at same timing.\n";

DrsParam garbageNotEnabled() {
    DrsParam p{};
    for (int i = 0; i < tool::graphics::kDrsSettingCount; ++i) {
        tool::graphics::drsField(p, i) = -77;
    }
    return p;
}

INSTANTIATE_TEST_SUITE_P(
    DrsMgr, ValidateParam,
    ::testing::Values(
        ValidateCase{"emptyMaskNvApi", false, DrsParam{}, true, "", {}},
        ValidateCase{"emptyMaskNvCpl", true, DrsParam{}, true, "", {}},
        ValidateCase{"outOfRangeButNotEnabled", false, garbageNotEnabled(), true, "", {}},
        ValidateCase{
            "framesNineAndVsyncThree_fieldOrder",
            false,
            record({{0x2000, 3}, {0x20, 9}}),
            false,
            "MaximumPrerenderedFrames parameter is invalid.\n"
            "VerticalSync parameter is invalid.\n",
            {"Error : maximumPrerenderedFramesParam is 9.\n", "Error : verticalSyncParam is 3.\n"}},
        ValidateCase{
            "ruleA_off_withMethod5",
            false,
            record({{0x4, 1}, {0x8, 5}}),
            false,
            std::string(kSettingInvalid) + kRuleA,
            {"Error : antiAliasingModeParam is 1.\n", "Error : antiAliasingSettingParam is 5.\n"}},
        ValidateCase{"ruleA_appControlled_withSetting9_rangeLineFirst",
                     false,
                     record({{0x4, 0}, {0x8, 9}}),
                     false,
                     std::string(kSettingInvalid) + kSettingInvalid + kRuleA,
                     {"Error : antiAliasingSettingParam is 9.\n",
                      "Error : antiAliasingModeParam is 0.\n",
                      "Error : antiAliasingSettingParam is 9.\n"}},
        ValidateCase{
            "ruleB_override_withNone",
            false,
            record({{0x4, 3}, {0x8, 0}}),
            false,
            std::string(kSettingInvalid) + kRuleB,
            {"Error : antiAliasingModeParam is 3.\n", "Error : antiAliasingSettingParam is 0.\n"}},
        ValidateCase{"mode7_setting0_onlyRangeLine",
                     false,
                     record({{0x4, 7}, {0x8, 0}}),
                     false,
                     "AntiAliasingMode parameter is invalid.\n",
                     {"Error : antiAliasingModeParam is 7.\n"}},
        ValidateCase{
            "modeEnhance_settingNone_accepted", false, record({{0x4, 2}, {0x8, 0}}), true, "", {}},
        ValidateCase{
            "modeOverride_setting7_accepted", false, record({{0x4, 3}, {0x8, 7}}), true, "", {}},
        ValidateCase{"ruleC_afterRangeLines_noDriverCheck",
                     true,
                     record({{0x8, 9}, {0x2000, -1}}),
                     false,
                     std::string(kSettingInvalid) + "VerticalSync parameter is invalid.\n" + kRuleC,
                     {"Error : antiAliasingSettingParam is 9.\n",
                      "Error : verticalSyncParam is -1.\n", kRuleCDiag}},
        ValidateCase{"ruleC_validSetting_nvcplDoesNotReport",
                     true,
                     record({{0x8, 2}}),
                     false,
                     kRuleC,
                     {kRuleCDiag}},
        ValidateCase{"nvcpl_modeAndFrames_unsupportedMode",
                     true,
                     record({{0x4, 1}, {0x20, 2}}),
                     false,
                     "Cannot set antiAliasingMode parameter at this driver.\n",
                     {"Error : enableSettings is invalid. val : 24.\n"}},
        ValidateCase{"nvcpl_everyOtherFieldAndHighBit",
                     true,
                     record({{0x1, 0},
                             {0x2, 0},
                             {0x4, 2},
                             {0x8, 1},
                             {0x10, 0},
                             {0x20, 0},
                             {0x40, 0},
                             {0x80, 0},
                             {0x100, 0},
                             {0x200, 0},
                             {0x400, 0},
                             {0x800, 0},
                             {0x1000, 0},
                             {0x2000, 0}},
                            std::uint64_t{1} << 40),
                     false,
                     "Cannot set anisotropicFiltering parameter at this driver.\n"
                     "Cannot set antiAliasingGammaCorrection parameter at this driver.\n"
                     "Cannot set antiAliasingMode parameter at this driver.\n"
                     "Cannot set antiAliasingSetting parameter at this driver.\n"
                     "Cannot set antiAliasingTransparency parameter at this driver.\n"
                     "Cannot set multiDisplayMixedGpuAcceleration parameter at this driver.\n"
                     "Cannot set textureFilteringAnisotropicSampleOptimization parameter at this "
                     "driver.\n"
                     "Cannot set textureFilteringNegativeLodBias parameter at this driver.\n"
                     "Cannot set textureFilteringQuality parameter at this driver.\n"
                     "Cannot set textureFilteringTrilinearOptimization parameter at this driver.\n"
                     "Cannot set threadedOptimization parameter at this driver.\n"
                     "Cannot set tripleBuffering parameter at this driver.\n"
                     "Cannot set verticalSync parameter at this driver.\n"
                     "Unknown parameter set as condition.\n",
                     {"Error : enableSettings is invalid. val : 3fff.\n"}},
        ValidateCase{"nvapi_bit14",
                     false,
                     record({{0x20, 1}}, 0x4000),
                     false,
                     "Unknown parameter set as condition.\n",
                     {"Error : enableSettings is invalid. Val = 4020.\n"}},
        ValidateCase{"nvapi_bit63_lowWordShown",
                     false,
                     record({}, std::uint64_t{1} << 63),
                     false,
                     "Unknown parameter set as condition.\n",
                     {"Error : enableSettings is invalid. Val = 0.\n"}},
        ValidateCase{"nvapi_allFourteenValid",
                     false,
                     record({{0x1, 5},
                             {0x2, 1},
                             {0x4, 3},
                             {0x8, 7},
                             {0x10, 4},
                             {0x20, 8},
                             {0x40, 2},
                             {0x80, 1},
                             {0x100, 1},
                             {0x200, 3},
                             {0x400, 1},
                             {0x800, 2},
                             {0x1000, 1},
                             {0x2000, 2}}),
                     true,
                     "",
                     {}}),
    ByLabel());

// Every field's range: its maximum is accepted, one above it and -1 are refused with its line.
struct RangeCase {
    const char* label;
    std::uint64_t bit;
    std::int32_t maximum;
    std::string line;
    std::string diagnosticName;
};

void PrintTo(const RangeCase& c, std::ostream* os) {
    *os << c.label;
}

class FieldRange : public Diagnostics, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(FieldRange, MaximumAcceptedAboveAndBelowRefused) {
    const RangeCase& c = GetParam();
    tool::graphics::NvApiDrsMgr mgr;
    mgr.debugLevel = 1;
    // antiAliasingSetting is only valid together with a mode that allows a method.
    std::vector<Field> partner;
    if (c.bit == 0x8) {
        partner.push_back({0x4, 2});
    }
    for (std::int32_t value : {0, c.maximum, c.maximum + 1, -1}) {
        SCOPED_TRACE(value);
        caught.clear();
        std::vector<Field> fields = partner;
        fields.push_back({c.bit, value});
        const bool valid = value >= 0 && value <= c.maximum;
        EXPECT_EQ(mgr.validateParam(record(fields)), valid);
        EXPECT_EQ(narrow(mgr.getErrorMessage()), valid ? "" : c.line + "\n");
        if (valid) {
            EXPECT_TRUE(caught.empty());
        } else {
            ASSERT_EQ(caught.size(), 1u);
            EXPECT_EQ(caught[0].substr(caught[0].find("  ") + 2),
                      "Error : " + c.diagnosticName + "Param is " + std::to_string(value) + ".\n");
            EXPECT_EQ(caught[0].rfind("tool::graphics::DrsMgr::validateParam: Line", 0), 0u);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    DrsMgr, FieldRange,
    ::testing::Values(
        RangeCase{"anisotropicFiltering", 0x1, 5, "AnisotropicFiltering parameter is invalid.",
                  "anisotropicFiltering"},
        RangeCase{"antiAliasingGammaCorrection", 0x2, 1,
                  "AntiAliasingGammaCorrectionParam parameter is invalid.",
                  "antiAliasingGammaCorrection"},
        RangeCase{"antiAliasingMode", 0x4, 3, "AntiAliasingMode parameter is invalid.",
                  "antiAliasingMode"},
        RangeCase{"antiAliasingSetting", 0x8, 7, "AntiAliasingSetting parameter is invalid.",
                  "antiAliasingSetting"},
        RangeCase{"antiAliasingTransparency", 0x10, 4,
                  "AntiAliasingTransparency parameter is invalid.", "antiAliasingTransparency"},
        RangeCase{"maximumPrerenderedFrames", 0x20, 8,
                  "MaximumPrerenderedFrames parameter is invalid.", "maximumPrerenderedFrames"},
        RangeCase{"multiDisplayMixedGpuAcceleration", 0x40, 2,
                  "MultiDisplayMixedGpuAcceleration parameter is invalid.",
                  "multiDisplayMixedGpuAcceleration"},
        RangeCase{"textureFilteringAnisotropicSampleOptimization", 0x80, 1,
                  "TextureFilteringAnisotropicSampleOptimization parameter is invalid.",
                  "textureFilteringAnisotropicSampleOptimization"},
        RangeCase{"textureFilteringNegativeLodBias", 0x100, 1,
                  "TextureFilteringNegativeLodBias parameter is invalid.",
                  "textureFilteringNegativeLodBias"},
        RangeCase{"textureFilteringQuality", 0x200, 3,
                  "TextureFilteringQuality parameter is invalid.", "textureFilteringQuality"},
        RangeCase{"textureFilteringTrilinearOptimization", 0x400, 1,
                  "TextureFilteringTrilinearOptimization parameter is invalid.",
                  "textureFilteringTrilinearOptimization"},
        RangeCase{"threadedOptimization", 0x800, 2, "ThreadedOptimization parameter is invalid.",
                  "threadedOptimization"},
        RangeCase{"tripleBuffering", 0x1000, 1, "TripleBuffering parameter is invalid.",
                  "tripleBuffering"},
        RangeCase{"verticalSync", 0x2000, 2, "VerticalSync parameter is invalid.", "verticalSync"}),
    ByLabel());

TEST(DrsMgrValidate, SuccessEmptiesAnEarlierReport) {
    tool::graphics::NvApiDrsMgr mgr;
    EXPECT_FALSE(mgr.validateParam(record({{0x20, 9}})));
    EXPECT_NE(mgr.getErrorMessage(), L"");
    EXPECT_TRUE(mgr.validateParam(record({{0x20, 8}})));
    EXPECT_EQ(mgr.getErrorMessage(), L"");
}

TEST(DrsMgrReport, UnsupportedSettingsReplaceTheTextAndWriteNoDiagnostic) {
    tool::graphics::NvCplDrsMgr mgr;
    mgr.debugLevel = 1;
    caught.clear();
    kviDebugSetHook(catchLine);
    EXPECT_FALSE(mgr.validateParam(record({{0x20, 9}})));
    mgr.reportUnsupportedSettings(0x2001);
    EXPECT_EQ(narrow(mgr.getErrorMessage()),
              "Cannot set anisotropicFiltering parameter at this driver.\n"
              "Cannot set verticalSync parameter at this driver.\n");
    mgr.reportUnsupportedSettings(0x4000);
    EXPECT_EQ(narrow(mgr.getErrorMessage()), "Unknown parameter set as condition.\n");
    mgr.reportUnsupportedSettings(0);
    EXPECT_EQ(narrow(mgr.getErrorMessage()), "");
    kviDebugSetHook(nullptr);
    EXPECT_EQ(caught.size(), 1u) << "only validateParam's range line";
}

} // namespace
