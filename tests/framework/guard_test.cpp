#include <gtest/gtest.h>

#include <string>

#include "support/TestSupport.h"
#include "tool/process/CheckMultipleRun.h"

namespace {

using testsupport::runProgram;

// Counts how often the guard creates its mutex, and creates it for real.
class CountingGuard : public tool::process::CheckMultipleRun {
  public:
    using CheckMultipleRun::CheckMultipleRun;
    int createMutex() override {
        ++created;
        lastResult = CheckMultipleRun::createMutex();
        return lastResult;
    }
    int created = 0;
    int lastResult = -1;
};

TEST(Guard, SecondProcessIsRefusedWhileTheNameIsHeld) {
    const std::string name = "durnavel-guard-test-held";
    CountingGuard guard{std::wstring(name.begin(), name.end())};
    ASSERT_TRUE(guard.check());
    EXPECT_EQ(guard.lastResult, 0);

    auto second = runProgram("guard_probe", {name});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_EQ(second.output, "refused");

    guard.release();
    auto third = runProgram("guard_probe", {name});
    EXPECT_EQ(third.exitCode, 0);
    EXPECT_EQ(third.output, "pass");
}

TEST(Guard, DestroyingTheGuardGivesTheNameUp) {
    const std::string name = "durnavel-guard-test-destroyed";
    {
        tool::process::CheckMultipleRun guard{std::wstring(name.begin(), name.end())};
        ASSERT_TRUE(guard.check());
        EXPECT_EQ(runProgram("guard_probe", {name}).exitCode, 1);
    }
    EXPECT_EQ(runProgram("guard_probe", {name}).exitCode, 0);
}

TEST(Guard, DifferentNamesDoNotExcludeEachOther) {
    tool::process::CheckMultipleRun guard{L"durnavel-guard-test-a"};
    ASSERT_TRUE(guard.check());
    // Another form of the program's name is another mutex.
    EXPECT_EQ(runProgram("guard_probe", {"durnavel-guard-test-a.exe"}).exitCode, 0);
    EXPECT_EQ(runProgram("guard_probe", {"Durnavel-guard-test-b"}).exitCode, 0);
}

TEST(Guard, InProcessSecondGuardIsRefusedAndLeavesNoHandle) {
    tool::process::CheckMultipleRun first{L"durnavel-guard-test-inprocess"};
    ASSERT_TRUE(first.check());
    CountingGuard second{L"durnavel-guard-test-inprocess"};
    EXPECT_FALSE(second.check());
    EXPECT_EQ(second.lastResult, 1);
    first.release();
    // The refused guard kept no handle to the name: a new one gets it.
    EXPECT_EQ(runProgram("guard_probe", {"durnavel-guard-test-inprocess"}).exitCode, 0);
}

TEST(Guard, NameTheSystemRefusesLetsTheRunGoOn) {
    for (const wchar_t* name : {L"C:\\tools\\Durnavel.exe", L"tools\\Durnavel"}) {
        CountingGuard guard{name};
        EXPECT_TRUE(guard.check());
        EXPECT_EQ(guard.lastResult, 2);
        guard.release();
    }
}

TEST(Guard, CheckTwiceCreatesOneMutex) {
    CountingGuard guard{L"durnavel-guard-test-twice"};
    EXPECT_TRUE(guard.check());
    EXPECT_TRUE(guard.check());
    EXPECT_EQ(guard.created, 1);
    // After release, check creates the mutex anew.
    guard.release();
    EXPECT_TRUE(guard.check());
    EXPECT_EQ(guard.created, 2);
}

} // namespace
