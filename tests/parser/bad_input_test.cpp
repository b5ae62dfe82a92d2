#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "TestParser.h"
#include "tool/Durnavel/CliParser.h"
#include "tool/Durnavel/ToolRequest.h"

namespace {

const std::wstring kProgram = L"C:\\tools\\Durnavel.exe";

struct Outcome {
    int parsed;
    std::wstring error;
    int request;
    tool::ToolRequest values;
    std::wstring help;
};

Outcome runTool(const std::vector<std::wstring>& words) {
    CommandLine line(words);
    tool::parser::CliParser parser(line.count(), line.data());
    Outcome o;
    o.parsed = parser.parse();
    o.error = parser.getErrorMessage();
    o.values = tool::ToolRequest{7, 7};
    o.request = parser.getRequest(&o.values);
    o.help = parser.getHelpMessage();
    return o;
}

std::wstring invalid(const std::wstring& token) {
    return L"Error : Invalid argument.\nThe argument \"" + token + L"\" is invalid.\n";
}

TEST(BadInput, VeryLongTokens) {
    const std::wstring token(100000, L'\u00E9');
    EXPECT_EQ(runTool({kProgram, token}).error, invalid(token));
    EXPECT_EQ(runTool({kProgram, L"-s", token}).request, 1);
    EXPECT_EQ(runTool({kProgram, L"-s", L"1", L"-h" + token}).error, invalid(L"-h" + token));

    // A program name that does not fit its column is written whole.
    const Outcome longName = runTool({L"C:\\" + token});
    EXPECT_NE(longName.help.find(L"   " + token + L"[-s [value]]\n" + std::wstring(24, L' ') +
                                 L"[-h] \nOPTIONS:\n"),
              std::wstring::npos);

    CommandLine line({L"t", L"-d" + token});
    TestParser joined(line, {arg(L"D", {L"-d"}, 1, 1)});
    ASSERT_EQ(joined.parse(), 1);
    ArgumentResult result;
    ASSERT_EQ(joined.getResultByTagName(L"D", result), 1);
    EXPECT_EQ(result.params, std::vector<std::wstring>{token});
}

TEST(BadInput, TenThousandTokens) {
    std::vector<std::wstring> words(10001, L"");
    words[0] = kProgram;
    EXPECT_EQ(runTool(words).error, invalid(L""));

    words.assign(10001, L"x");
    words[0] = kProgram;
    words[1] = L"-h";
    const Outcome help = runTool(words);
    EXPECT_EQ(help.error, invalid(L"x"));
    EXPECT_EQ(help.request, 2);

    // One argument that takes all of them, and one that misses the last.
    words[1] = L"-p";
    CommandLine line(words);
    TestParser all(line, {arg(L"P", {L"-p"}, 9999)});
    EXPECT_EQ(all.parse(), 1);
    TestParser short1(line, {arg(L"P", {L"-p"}, 10000)});
    EXPECT_EQ(short1.parse(), 0);
    EXPECT_EQ(short1.getErrorMessage(),
              invalid(L"-p") + L"Option \"-p\" needs 10000 parameter at least.\n");
}

TEST(BadInput, NonAsciiCharactersAreNeverFolded) {
    const std::vector<std::wstring> tokens = {L"\u00C9\u4E2D", L"-\u0130",
                                              std::wstring(1, static_cast<wchar_t>(0xD800)),
                                              std::wstring(1, static_cast<wchar_t>(0xFFFF)),
                                              L"\u212A"}; // Kelvin sign, folds to k elsewhere
    for (const std::wstring& token : tokens) {
        EXPECT_EQ(runTool({kProgram, token}).error, invalid(token));
        EXPECT_EQ(runTool({kProgram, L"-s", token}).request, 1);
    }
}

TEST(BadInput, MissingArgumentStrings) {
    const wchar_t* const words[] = {nullptr, L"-s", nullptr};
    tool::parser::CliParser parser(3, words);
    EXPECT_EQ(parser.parse(), 0);
    EXPECT_EQ(parser.getErrorMessage(), L"Error : Invalid argument.\nThe argument \"-s\" is "
                                        L"invalid.\nUsable maximum pre-rendered frames value is 0, "
                                        L"1 or 3.\n");
    tool::parser::CliParser noArray(2, nullptr);
    EXPECT_EQ(noArray.parse(), 0);
    EXPECT_EQ(noArray.getErrorMessage(), invalid(L""));
}

// Random command lines built from pieces of the tool's own syntax: every answer is one of the
// documented ones.
TEST(BadInput, RandomCommandLines) {
    const std::vector<std::wstring> pieces = {L"-s", L"/S", L"--set",  L"-h", L"-V",
                                              L"/?", L"0",  L"1",      L"3",  L"2",
                                              L"",   L"-",  L"\u00FF", L"x"};
    std::mt19937 random(20260101u);
    const Outcome reference = runTool({kProgram});
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::wstring> words = {kProgram};
        const int count = static_cast<int>(random() % 6);
        for (int i = 0; i < count; ++i) {
            words.push_back(pieces[random() % pieces.size()]);
        }
        const Outcome o = runTool(words);
        EXPECT_EQ(o.help, reference.help);
        ASSERT_TRUE(o.request >= 0 && o.request <= 2);
        EXPECT_EQ(o.parsed == 1, o.error.empty());
        if (o.request == 0) {
            ASSERT_EQ(o.parsed, 1);
            EXPECT_TRUE(o.values.mode == 0 || o.values.mode == 1);
            EXPECT_TRUE(o.values.value == 0 || o.values.value == 1 || o.values.value == 3);
        } else {
            EXPECT_EQ(o.values.mode, 7);
            EXPECT_EQ(o.values.value, 7);
        }
        if (o.request == 1) {
            EXPECT_EQ(o.error.rfind(L"Error : Invalid argument.\nThe argument \"", 0), 0u);
        }
    }
}

} // namespace
