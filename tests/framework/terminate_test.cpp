#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ParamName.h"
#include "support/TestSupport.h"

namespace {

struct TerminateCase {
    const char* label;
    std::string thrown;
};

class Terminate : public ::testing::TestWithParam<TerminateCase> {};

// Durnavel.exe's terminate handler writes what the runtime's own writes, for every exception
// type the tool can throw and for a terminate without one, and the process ends the same way.
TEST_P(Terminate, WritesWhatTheRuntimeWrites) {
    const auto stock = testsupport::runProgram("terminate_probe_stock", {GetParam().thrown});
    const auto tool = testsupport::runProgram("terminate_probe", {GetParam().thrown});
    EXPECT_NE(stock.output.find("terminate called"), std::string::npos) << stock.output;
    EXPECT_EQ(tool.output, stock.output);
    EXPECT_EQ(tool.exitCode, stock.exitCode);
}

INSTANTIATE_TEST_SUITE_P(Runtime, Terminate,
                         ::testing::Values(TerminateCase{"badAlloc", "bad_alloc"},
                                           TerminateCase{"badArrayNewLength",
                                                         "bad_array_new_length"},
                                           TerminateCase{"lengthError", "length_error"},
                                           TerminateCase{"outOfRange", "out_of_range"},
                                           TerminateCase{"logicError", "logic_error"},
                                           TerminateCase{"invalidArgument", "invalid_argument"},
                                           TerminateCase{"noException", "none"}),
                         ByLabel());

} // namespace
