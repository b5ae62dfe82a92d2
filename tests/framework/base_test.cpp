#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "RecordingPrinter.h"
#include "platform/kviDebug.h"
#include "tool/base/Base.h"

namespace {

// A tool that records the stages run() calls and answers with preset values.
class StageTool : public tool::Base {
  public:
    StageTool(tool::BaseConfig& config, int init, int exec, int fin)
        : tool::Base(config), initResult(init), executeResult(exec), finalizeResult(fin) {}

    int initResult;
    int executeResult;
    int finalizeResult;
    std::vector<std::string> calls;
    std::wstring guardName; // when set, finalize checks that the name is free again
    bool nameFreeAtFinalize = false;

  protected:
    int initialize(int, wchar_t*[]) override {
        calls.push_back("initialize");
        return initResult;
    }
    int execute() override {
        calls.push_back("execute");
        return executeResult;
    }
    int finalize() override {
        calls.push_back("finalize");
        if (!guardName.empty()) {
            tool::process::CheckMultipleRun other(guardName);
            nameFreeAtFinalize = other.check();
        }
        return finalizeResult;
    }
};

struct StageCase {
    const char* label;
    int init, exec, fin;
    int exitCode;
    std::vector<std::string> calls;
};

class RunStages : public ::testing::TestWithParam<StageCase> {};

TEST_P(RunStages, ExitCodeAndStageSequence) {
    const StageCase& c = GetParam();
    std::string out;
    tool::BaseConfig config;
    config.allowMultipleRun = true;
    config.printer = std::make_unique<RecordingPrinter>(out);
    StageTool tool(config, c.init, c.exec, c.fin);
    EXPECT_EQ(config.printer, nullptr) << "the printer is handed over to the tool";

    wchar_t program[] = L"Durnavel";
    wchar_t* argv[] = {program, nullptr};
    EXPECT_EQ(tool.run(1, argv), c.exitCode);
    EXPECT_EQ(tool.calls, c.calls);
    EXPECT_EQ(out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Base, RunStages,
    ::testing::Values(StageCase{"init0_exec0", 0, 0, 0, 0, {"initialize", "execute", "finalize"}},
                      StageCase{"init0_exec2", 0, 2, 0, 2, {"initialize", "execute", "finalize"}},
                      StageCase{"init0_exec7", 0, 7, 0, 7, {"initialize", "execute", "finalize"}},
                      StageCase{"initMinus1", -1, 9, 0, 0, {"initialize", "finalize"}},
                      StageCase{"init5", 5, 0, 0, 5, {"initialize", "finalize"}},
                      StageCase{"init1", 1, 0, 0, 1, {"initialize", "finalize"}},
                      StageCase{"finalizeFails", 0, 0, 3, 0, {"initialize", "execute", "finalize"}},
                      StageCase{
                          "finalizeFailsAfterError", 2, 0, -4, 2, {"initialize", "finalize"}}),
    [](const ::testing::TestParamInfo<StageCase>& info) { return std::string(info.param.label); });

// The argument vectors run() must refuse before anything else happens.
TEST(BaseRun, MissingCommandLineIsRefused) {
    wchar_t* nullFirst[] = {nullptr};
    wchar_t program[] = L"Durnavel";
    wchar_t* valid[] = {program, nullptr};
    struct {
        int argc;
        wchar_t** argv;
    } cases[] = {{0, valid}, {1, nullptr}, {1, nullFirst}, {0, nullptr}};
    for (auto& c : cases) {
        std::string out;
        tool::BaseConfig config;
        config.printer = std::make_unique<RecordingPrinter>(out);
        StageTool tool(config, 0, 0, 0);
        EXPECT_EQ(tool.run(c.argc, c.argv), 2);
        EXPECT_EQ(out, "Error : Fatal error occured.\n");
        EXPECT_EQ(tool.calls, std::vector<std::string>{"finalize"});
    }
}

// The guard is named after the first command-line word exactly: letter case and folder part
// kept (a forward slash is an ordinary character of a mutex name; a backslash is refused).
TEST(BaseRun, SecondInstanceIsRefusedAndNameIsGivenUpBeforeFinalize) {
    for (const wchar_t* name :
         {L"durnavel-base-test-second-instance", L"Durnavel-Base-Test-Mixed-Case",
          L"tools/durnavel-base-test-folder", L"./Tools/Durnavel-Base-Test.exe"}) {
        // The other instance holds the name as given, through the system itself.
        HANDLE first = CreateMutexW(nullptr, TRUE, name);
        ASSERT_NE(first, nullptr) << "error " << GetLastError();
        ASSERT_EQ(GetLastError(), 0u);

        std::string out;
        tool::BaseConfig config;
        config.printer = std::make_unique<RecordingPrinter>(out);
        StageTool tool(config, 0, 0, 0);
        std::wstring program = name;
        wchar_t* argv[] = {program.data(), nullptr};
        EXPECT_EQ(tool.run(1, argv), 2) << std::string(program.begin(), program.end());
        EXPECT_EQ(out, "Error : Fatal error occured.\nThis tool already running.\n");
        EXPECT_EQ(tool.calls, std::vector<std::string>{"finalize"});

        // The first holder is not disturbed: it still holds the name.
        tool::process::CheckMultipleRun third(name);
        EXPECT_FALSE(third.check());
        CloseHandle(first);
    }
}

TEST(BaseRun, GuardIsHeldDuringTheRunAndReleasedBeforeFinalize) {
    std::wstring name = L"durnavel-base-test-release";
    std::string out;
    tool::BaseConfig config;
    config.printer = std::make_unique<RecordingPrinter>(out);
    StageTool tool(config, 0, 0, 0);
    tool.guardName = name;
    std::wstring program = name;
    wchar_t* argv[] = {program.data(), nullptr};
    EXPECT_EQ(tool.run(1, argv), 0);
    EXPECT_TRUE(tool.nameFreeAtFinalize);
    EXPECT_EQ(out, "");
}

TEST(BaseRun, AllowMultipleRunCreatesNoGuard) {
    std::wstring name = L"durnavel-base-test-multiple";
    tool::process::CheckMultipleRun holder(name);
    ASSERT_TRUE(holder.check());

    std::string out;
    tool::BaseConfig config;
    config.allowMultipleRun = true;
    config.printer = std::make_unique<RecordingPrinter>(out);
    StageTool tool(config, 0, 0, 0);
    std::wstring program = name;
    wchar_t* argv[] = {program.data(), nullptr};
    EXPECT_EQ(tool.run(1, argv), 0);
    EXPECT_EQ(tool.calls, (std::vector<std::string>{"initialize", "execute", "finalize"}));
    // Nothing released the holder's name either.
    tool::process::CheckMultipleRun other(name);
    EXPECT_FALSE(other.check());
}

std::vector<std::string> hookLines;
int recordLine(const char* line) {
    hookLines.emplace_back(line);
    return 0;
}

TEST(BaseRun, FailingFinalizeIsLoggedOnlyAboveLevelZero) {
    hookLines.clear();
    kviDebugSetHook(recordLine);
    for (int level : {0, 1}) {
        std::string out;
        tool::BaseConfig config;
        config.allowMultipleRun = true;
        config.printer = std::make_unique<RecordingPrinter>(out);
        StageTool tool(config, 0, 4, 3);
        tool.debugLevel = level;
        wchar_t program[] = L"Durnavel";
        wchar_t* argv[] = {program, nullptr};
        EXPECT_EQ(tool.run(1, argv), 4);
        EXPECT_EQ(out, "");
    }
    kviDebugSetHook(nullptr);
    EXPECT_EQ(hookLines, std::vector<std::string>{
                             "tool::Base::run: Line116  Function finalize failed. code = 3\n"});
}

TEST(ModuleBase, ErrorTextIsEmptyUntilSomethingIsReported) {
    tool::print::Print module;
    EXPECT_EQ(module.getErrorMessage(), L"");
    EXPECT_EQ(module.debugLevel, 0);
}

TEST(Banners, CarryModuleNameAndVersion) {
    struct {
        const char* banner;
        const char* head;
    } cases[] = {{tool::kBaseBanner, "\ntool::Base Ver.1.01 Build:"},
                 {tool::kModuleBaseBanner, "\ntool::ModuleBase Ver.1.00 Build:"},
                 {tool::print::kPrintBanner, "\ntool::print::Print Ver.1.00 Build:"},
                 {tool::process::kCheckMultipleRunBanner,
                  "\ntool::process::CheckMultipleRun Ver.1.00 Build:"},
                 {kKviDebugBanner, "\nkviDebug Ver.1.00 Build:"}};
    for (auto& c : cases) {
        std::string banner = c.banner;
        EXPECT_EQ(banner.rfind(c.head, 0), 0u) << banner;
        EXPECT_EQ(banner.back(), '\n');
        EXPECT_GT(banner.size(), std::string(c.head).size() + 10);
    }
}

} // namespace
