#include <gtest/gtest.h>

#include <string>

#include "support/ParamName.h"
#include "support/TestSupport.h"
#include "tool/util/StringToWString.h"

namespace {

struct ConvertCase {
    const char* label;
    std::string in;
    std::wstring out;
    bool result;
};

class Convert : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(Convert, NarrowToWide) {
    std::wstring out = L"previous";
    EXPECT_EQ(tool::util::StringToWString(GetParam().in, out), GetParam().result);
    EXPECT_EQ(out, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Util, Convert,
    ::testing::Values(ConvertCase{"empty", "", L"", true},
                      ConvertCase{"version", "Durnavel Ver.1.03\n", L"Durnavel Ver.1.03\n", true},
                      ConvertCase{"example", " > Durnavel -s 1", L" > Durnavel -s 1", true},
                      // The conversion stops at an embedded NUL: the text before it, and false.
                      ConvertCase{"embeddedNul", std::string("ab\0cd", 5), L"ab", false},
                      ConvertCase{"leadingNul", std::string("\0x", 2), L"", false}),
    ByLabel());

// Text the conversion locale refuses leaves the output as it was.
TEST(ConvertRefused, OutputUnchanged) {
    const std::string refused = testsupport::textTheLocaleRefuses();
    if (refused.empty()) {
        GTEST_SKIP() << "the runtime's conversion locale takes every byte here";
    }
    std::wstring out = L"previous";
    EXPECT_FALSE(tool::util::StringToWString("ab" + refused + "cd", out));
    EXPECT_EQ(out, L"previous");
}

} // namespace
