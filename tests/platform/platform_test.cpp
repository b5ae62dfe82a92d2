// Platform identification from the SMBIOS OEM strings, read through the platform device.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "SimDevice.h"
#include "platform/kvOemstring.h"
#include "platform/kvPlatform.h"
#include "platform/kviDebug.h"
#include "support/ParamName.h"

namespace {

std::vector<std::string> diagnostics;
int keepDiagnostic(const char* line) {
    diagnostics.emplace_back(line);
    return 0;
}

const std::string kLength = "kvPlatformGetPlatformIdEx: Line1618  Oemstring length Error!!\n";
const std::string kCompare = "kvPlatformGetPlatformIdEx: Line1624  Oemstring compare Error!!\n";
const std::string kFormat = "kvPlatformGetPlatformIdEx: Line1636  Oemstring format Error!!\n";

class PlatformTest {
  protected:
    void start() {
        kvOemstringResetForTest();
        kvPlatformResetForTest();
        diagnostics.clear();
        kviDebugSetHook(keepDiagnostic);
        kvPlatformDebugLevel = 1;
    }
    void stop() {
        kvPlatformDebugLevel = 0;
        kviDebugSetHook(nullptr);
        kvOemstringResetForTest();
        kvPlatformResetForTest();
    }
    // A record whose every byte shows whether the call wrote it.
    static KvPlatformId garbage() {
        KvPlatformId id;
        std::memset(&id, 0x5A, sizeof(id));
        return id;
    }
};

struct IdCase {
    const char* label;
    const char* image;
    int result;
    std::string code; // "" when not identified
    std::int32_t revision;
    std::vector<std::string> diagnostics;
};

void PrintTo(const IdCase& c, std::ostream* os) {
    *os << c.label;
}

class PlatformId : public ::testing::TestWithParam<IdCase>, protected PlatformTest {
  protected:
    void SetUp() override { start(); }
    void TearDown() override { stop(); }
};

TEST_P(PlatformId, FromTheOemStrings) {
    const IdCase& c = GetParam();
    simdevice::serve(c.image);
    KvPlatformId id = garbage();
    EXPECT_EQ(kvPlatformGetPlatformIdEx(&id), c.result);
    char code[4] = {};
    std::memcpy(code, c.code.c_str(), c.code.size());
    EXPECT_EQ(std::memcmp(id.platformCode, code, sizeof(code)), 0)
        << std::string(id.platformCode, 4);
    EXPECT_EQ(id.revision, c.revision);
    EXPECT_EQ(diagnostics, c.diagnostics);
}

INSTANTIATE_TEST_SUITE_P(
    Revisions, PlatformId,
    ::testing::Values(IdCase{"qtdRevisionEmpty", "qtd-rev-empty", 0, "QTD", 1, {}},
                      IdCase{"qtdRevisionSpace", "qtd-rev-space", 0, "QTD", 1, {}},
                      IdCase{"qtfRevisionSpace", "qtf-rev-space", -3, "", 0, {kLength}},
                      IdCase{"qtfRevisionEmpty", "qtf-rev-empty", 0, "QTF", 1, {}},
                      IdCase{"qtd2", "qtd2", 0, "QTD", 2, {}},
                      IdCase{"leadingZero", "qtd012", 0, "QTD", 12, {}},
                      IdCase{"noDigits", "qtd-rev-bare", -3, "", 0, {}},
                      IdCase{"revisionZero", "qtd0", -3, "", 0, {}},
                      IdCase{"letterAfterDigits", "qtd2a", -3, "", 0, {kFormat}},
                      IdCase{"spaceBeforeDigits", "qtd-space-2", -3, "", 0, {kFormat}},
                      IdCase{"otherCodeInRevision", "qtf2-on-qtd", -3, "", 0, {kCompare}},
                      IdCase{"largestRevision", "rev-max", 0, "QTD", 2147483647, {}},
                      IdCase{"revisionOverflows", "rev-overflow", -3, "", 0, {}},
                      IdCase{"revisionOverflowsFar", "rev-overflow-long", -3, "", 0, {}}),
    ByLabel());

INSTANTIATE_TEST_SUITE_P(
    Codes, PlatformId,
    ::testing::Values(
        IdCase{"lowerCaseFromManufacturer", "lower-nec", 0, "QTD", 3, {}},
        IdCase{"oemStringBeforeManufacturer", "qtd-supermicro", 0, "QTD", 2, {}},
        IdCase{"qtfOemStringOverNec", "qtf-on-nec", 0, "QTF", 2, {}},
        IdCase{"qtfOemStringOverOtherManufacturer", "qtf-on-dell", 0, "QTF", 1, {}},
        // Only the first type 1 and the first type 11 count.
        IdCase{"firstManufacturerWins", "second-system", 0, "QTD", 2, {}},
        IdCase{"firstOemStringsWin", "short-first-oem", 0, "QTD", 1, {}},
        IdCase{"manufacturerIsTheFirstString", "manufacturer-field", 0, "QTD", 2, {}},
        IdCase{"wholeStringCompared", "qtdx-nec", -3, "", 0, {kCompare}},
        IdCase{"supermicro", "other-supermicro", 0, "QTF", 4, {}},
        IdCase{"advantechRevisionEmpty", "other-advantech", 0, "QTF", 1, {}},
        IdCase{"necRevisionSpace", "other-nec-space", 0, "QTD", 1, {}},
        IdCase{"manufacturerCaseMatters", "other-lower-nec", -3, "", 0, {kCompare}},
        IdCase{"noCodeCompare", "other-dell", -3, "", 0, {kCompare}},
        IdCase{"noCodeShort", "other-dell-short", -3, "", 0, {kLength}},
        IdCase{"noCodeNoRevision", "no-code-empty", -3, "", 0, {kLength}},
        IdCase{"noTable",
               "no-entry",
               -3,
               "",
               0,
               {"kvPlatformGetPlatformIdEx: Line1559  kvOemstringGetOemstring Error!! (-3)\n"}}),
    ByLabel());

class Platform : public ::testing::Test, protected PlatformTest {
  protected:
    void SetUp() override { start(); }
    void TearDown() override { stop(); }
};

TEST_F(Platform, NullRecord) {
    simdevice::serve("qtd2");
    EXPECT_EQ(kvPlatformGetPlatformIdEx(nullptr), -2);
    EXPECT_EQ(diagnostics,
              std::vector<std::string>{"kvPlatformGetPlatformIdEx: Line1542  PARAM Error!!\n"});
    EXPECT_TRUE(simdevice::journal().lines.empty());
}

TEST_F(Platform, KnownPlatformIsAnsweredFromTheCache) {
    simdevice::serve("qtd2");
    KvPlatformId id = garbage();
    ASSERT_EQ(kvPlatformGetPlatformIdEx(&id), 0);
    EXPECT_EQ(simdevice::journal().opens, 1);

    // Neither the OEM strings nor the device are read again.
    simdevice::serve("qtf-rev-empty", {"open"});
    kvOemstringResetForTest();
    id = garbage();
    EXPECT_EQ(kvPlatformGetPlatformIdEx(&id), 0);
    EXPECT_EQ(std::string(id.platformCode, 4), std::string("QTD", 4));
    EXPECT_EQ(id.revision, 2);
    EXPECT_TRUE(simdevice::journal().lines.empty());
}

TEST_F(Platform, FailureIsTriedAgainOnTheNextCall) {
    simdevice::serve("qtd2", {"refuse"});
    KvPlatformId id = garbage();
    EXPECT_EQ(kvPlatformGetPlatformIdEx(&id), -3);
    EXPECT_EQ(std::string(id.platformCode, 4), std::string(4, '\0'));
    EXPECT_EQ(id.revision, 0);
    EXPECT_EQ(kvPlatformGetPlatformIdEx(&id), -3);
    EXPECT_EQ(simdevice::journal().opens, 2);

    simdevice::serve("qtd2");
    id = garbage();
    EXPECT_EQ(kvPlatformGetPlatformIdEx(&id), 0);
    EXPECT_EQ(std::string(id.platformCode, 4), std::string("QTD", 4));
    EXPECT_EQ(id.revision, 2);
    EXPECT_EQ(simdevice::journal().opens, 1);
}

TEST_F(Platform, WithoutTheDevice) {
    simdevice::serve("qtd2", {"open"});
    KvPlatformId id = garbage();
    EXPECT_EQ(kvPlatformGetPlatformIdEx(&id), -3);
    EXPECT_EQ(std::string(id.platformCode, 4), std::string(4, '\0'));
    EXPECT_EQ(id.revision, 0);
    EXPECT_EQ(diagnostics,
              std::vector<std::string>{
                  "kvPlatformGetPlatformIdEx: Line1559  kvOemstringGetOemstring Error!! (-3)\n"});
}

TEST_F(Platform, RulesAreAppliedAgainAfterARefusedRevision) {
    simdevice::serve("qtd2a");
    KvPlatformId id = garbage();
    EXPECT_EQ(kvPlatformGetPlatformIdEx(&id), -3);
    EXPECT_EQ(kvPlatformGetPlatformIdEx(&id), -3);
    EXPECT_EQ(diagnostics, (std::vector<std::string>{kFormat, kFormat}));
    // The strings themselves were read once.
    EXPECT_EQ(simdevice::journal().opens, 1);
}

TEST_F(Platform, NoDiagnosticsAtLevelZero) {
    kvPlatformDebugLevel = 0;
    simdevice::serve("qtd2", {"open"});
    KvPlatformId id = garbage();
    EXPECT_EQ(kvPlatformGetPlatformIdEx(nullptr), -2);
    EXPECT_EQ(kvPlatformGetPlatformIdEx(&id), -3);
    simdevice::serve("qtd2a");
    EXPECT_EQ(kvPlatformGetPlatformIdEx(&id), -3);
    EXPECT_TRUE(diagnostics.empty());
}

} // namespace
