#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestParser.h"
#include "support/ParamName.h"
#include "tool/Durnavel/CliParser.h"
#include "tool/cliTool/HelpMsgMaker.h"

namespace {

std::wstring b(std::size_t n) {
    return std::wstring(n, L' ');
}

const wchar_t kToolHelp[] = L"Durnavel Ver.1.03\n"
                            L"Copyright (C) 2026 Durnavel developers. All rights reserved.\n"
                            L"\n"
                            L"USAGE:\n"
                            L"   Durnavel.exe         [-s [value]] [-h] \n"
                            L"OPTIONS:\n"
                            L"      -s          Set muximum pre-rendered frames.\n"
                            L"                  Usable value is 0, 1 or 3.\n"
                            L"      -h          Display this help message.\n"
                            L"\n"
                            L"EXAMPLES:\n"
                            L" > Durnavel\n"
                            L" ... View current maximum pre-rendered frames value.\n"
                            L" > Durnavel -s 1\n"
                            L" ... Set maximum pre-rendered frames to 1.\n"
                            L" > Durnavel -s 3\n"
                            L" ... Set maximum pre-rendered frames to 3.\n";

struct ToolHelpCase {
    const char* label;
    std::vector<std::wstring> tokens;
};

class ToolHelp : public ::testing::TestWithParam<ToolHelpCase> {};

// The help text is built before any token is looked at, so a refused command line has it too.
TEST_P(ToolHelp, IsTheGoldenText) {
    std::vector<std::wstring> words = {L"C:\\tools\\Durnavel.exe"};
    words.insert(words.end(), GetParam().tokens.begin(), GetParam().tokens.end());
    CommandLine line(words);
    tool::parser::CliParser parser(line.count(), line.data());
    parser.parse();
    EXPECT_EQ(parser.getHelpMessage(), kToolHelp);
    EXPECT_EQ(parser.getVersionMessage(),
              L"Durnavel Ver.1.03\nCopyright (C) 2026 Durnavel developers. All rights reserved.\n");
}

INSTANTIATE_TEST_SUITE_P(Help, ToolHelp,
                         ::testing::Values(ToolHelpCase{"noTokens", {}},
                                           ToolHelpCase{"help", {L"-h"}},
                                           ToolHelpCase{"refusedValue", {L"-s", L"2"}},
                                           ToolHelpCase{"unknownToken", {L"-x"}}),
                         ByLabel());

ArgumentDefinition described(ArgumentDefinition d, const std::wstring& description,
                             const std::wstring& paramName = L"") {
    d.description = description;
    d.paramName = paramName;
    return d;
}

struct LayoutCase {
    const char* label;
    std::wstring path;
    std::vector<ArgumentDefinition> definitions;
    std::wstring expected; // the text between "V\n\nUSAGE:\n" and "\nE\n"
};

class HelpLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(HelpLayout, LaysOutUsageAndOptions) {
    const LayoutCase& c = GetParam();
    CommandLine line({c.path});
    CliInfo info;
    info.versionText = L"V\n";
    info.examplesText = L"E\n";
    TestParser parser(line, c.definitions, info);
    ASSERT_EQ(parser.parse(), 1);
    EXPECT_EQ(parser.getHelpMessage(), L"V\n\nUSAGE:\n" + c.expected + L"\nE\n");
}

std::vector<ArgumentDefinition> sixOptions() {
    std::vector<ArgumentDefinition> v;
    for (int i = 1; i <= 6; ++i) {
        const std::wstring n = std::to_wstring(i);
        v.push_back(described(arg(L"O" + n, {L"--opt" + n}, 1), L"", L"val"));
    }
    return v;
}

const std::wstring sw38 = L"-" + std::wstring(37, L'x');

INSTANTIATE_TEST_SUITE_P(
    Help, HelpLayout,
    ::testing::Values(
        LayoutCase{"noDefinitions", L"C:\\bin\\t.exe", {}, L"   t.exe" + b(16) + L"\nOPTIONS:\n"},
        LayoutCase{"name21Characters",
                   L"C:\\abcdefghijklmnopqrstu",
                   {described(arg(L"A", {L"-a"}), L"d")},
                   L"   abcdefghijklmnopqrstu[-a] \nOPTIONS:\n      -a          d\n"},
        LayoutCase{"name20Characters",
                   L"C:\\x\\abcdefghijklmnopqrst",
                   {described(arg(L"A", {L"-a"}), L"d")},
                   L"   abcdefghijklmnopqrst [-a] \nOPTIONS:\n      -a          d\n"},
        LayoutCase{
            "pathWithoutBackslash", L"bin/t.exe", {}, L"   bin/t.exe" + b(12) + L"\nOPTIONS:\n"},
        LayoutCase{"joined",
                   L"t",
                   {described(arg(L"D", {L"-d", L"/d"}, 1, 1), L"file to use", L"file")},
                   L"   t" + b(20) + L"[-d[file]] \nOPTIONS:\n      -d          file to use\n"},
        LayoutCase{"twoParameters",
                   L"t",
                   {described(arg(L"S", {L"-s"}, 2), L"", L"value")},
                   L"   t" + b(20) + L"[-s [value] [value]] \nOPTIONS:\n      -s" + b(10) + L"\n"},
        // The item that takes the line past 64 stays on it; the last one leaves a blank line.
        LayoutCase{"manyArguments", L"t", sixOptions(),
                   L"   t" + b(20) + L"[--opt1 [val]] [--opt2 [val]] [--opt3 [val]]\n" + b(24) +
                       L"[--opt4 [val]] [--opt5 [val]] [--opt6 [val]]\n" + b(24) +
                       L"\nOPTIONS:\n      --opt1      \n      --opt2      \n      --opt3      \n"
                       L"      --opt4      \n      --opt5      \n      --opt6      \n"},
        // Exactly 64 characters do not break; a switch longer than its column is written whole.
        LayoutCase{"exactly64",
                   L"t",
                   {arg(L"X", {sw38}), arg(L"B", {L"-b"})},
                   L"   t" + b(20) + L"[" + sw38 + L"] [-b]\n" + b(24) + L"\nOPTIONS:\n      " +
                       sw38 + L"\n      -b" + b(10) + L"\n"},
        LayoutCase{"longDescriptions",
                   L"t",
                   {described(arg(L"L", {L"-l"}), std::wstring(46, L'x') + L" yy zz  w"),
                    described(arg(L"K", {L"-k"}), std::wstring(100, L'q') + L" r")},
                   L"   t" + b(20) + L"[-l] [-k] \nOPTIONS:\n      -l" + b(10) +
                       std::wstring(46, L'x') + L" yy\n" + b(18) + L"zz  w\n      -k" + b(10) +
                       std::wstring(100, L'q') + L"\n" + b(18) + L"r\n"},
        LayoutCase{"descriptionEndingInLineFeed",
                   L"t",
                   {described(arg(L"M", {L"-m"}), L"two\nlines\n")},
                   L"   t" + b(20) + L"[-m] \nOPTIONS:\n      -m" + b(10) + L"two\n" + b(18) +
                       L"lines\n" + b(18) + L"\n"}),
    ByLabel());

TEST(HelpMsgMaker, HiddenItemIsListedUnderOptionsOnly) {
    tool::cliTool::HelpSource source;
    source.width = 64;
    source.programName = L"p";
    tool::cliTool::HelpItem hidden;
    hidden.switchName = L"-a";
    hidden.hidden = 1;
    tool::cliTool::HelpItem shown;
    shown.switchName = L"-b";
    source.items = {hidden, shown};
    tool::cliTool::HelpMsgMaker maker(source);
    EXPECT_EQ(maker.getMessage(), L"\nUSAGE:\n   p" + b(20) + L"[-b] \nOPTIONS:\n      -a" + b(10) +
                                      L"\n      -b" + b(10) + L"\n\n");
}

} // namespace
