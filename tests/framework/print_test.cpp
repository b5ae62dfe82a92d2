#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ParamName.h"
#include "support/TestSupport.h"

namespace {

struct OrderCase {
    const char* label;
    std::vector<std::string> words;
    std::string expected;
    int exitCode = 0;
};

class PrintOrder : public ::testing::TestWithParam<OrderCase> {};

// The printer's narrow and wide writes reach standard output in the order they were made, and
// each stops at the text's first NUL (the probe ends with "ab\0c" wide and "xy\0z" narrow).
// Every print is out when it returns: a process that ends without flushing still has it out.
TEST_P(PrintOrder, NarrowAndWideKeepTheirOrder) {
    auto result = testsupport::runProgram("print_probe", GetParam().words);
    EXPECT_EQ(result.exitCode, GetParam().exitCode);
    EXPECT_EQ(result.output, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Print, PrintOrder,
    ::testing::Values(OrderCase{"nothing", {}, "abxy"},
                      OrderCase{"narrowThenWide", {"nError", "wdetail"}, "Error|detail|abxy"},
                      OrderCase{
                          "alternating", {"w1", "n2", "w3", "n4", "n5", "w6"}, "1|2|3|4|5|6|abxy"},
                      OrderCase{"wideThenNarrow", {"wa", "wb", "nc"}, "a|b|c|abxy"},
                      OrderCase{"outBeforeACrash", {"nError", "wdetail", "x"}, "Error|detail|", 3}),
    ByLabel());

} // namespace
