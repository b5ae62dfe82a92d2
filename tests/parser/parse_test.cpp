#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestParser.h"
#include "platform/kviDebug.h"
#include "support/ParamName.h"
#include "tool/Durnavel/CliParser.h"
#include "tool/Durnavel/ToolRequest.h"

namespace {

std::wstring invalid(const std::wstring& token) {
    return L"Error : Invalid argument.\nThe argument \"" + token + L"\" is invalid.\n";
}

const std::wstring kMissingValue = L"Error : Invalid argument.\n"
                                   L"The argument \"-s\" is invalid.\n"
                                   L"Option \"-s\" needs 1 parameter at least.\n";
const std::wstring kRefusedValue = L"Error : Invalid argument.\n"
                                   L"The argument \"-s\" is invalid.\n"
                                   L"Usable maximum pre-rendered frames value is 0, 1 or 3.\n";

struct ToolCase {
    const char* label;
    std::vector<std::wstring> tokens;
    int parsed;
    std::wstring error;
    int request; // what getRequest answers
    int mode;    // 7 and 7: the request record was not touched
    int value;
};
void PrintTo(const ToolCase& c, std::ostream* os) {
    *os << c.label;
}

class ToolCommandLine : public ::testing::TestWithParam<ToolCase> {};

TEST_P(ToolCommandLine, ParseErrorTextAndRequest) {
    const ToolCase& c = GetParam();
    std::vector<std::wstring> words = {L"C:\\tools\\Durnavel.exe"};
    words.insert(words.end(), c.tokens.begin(), c.tokens.end());
    CommandLine line(words);
    tool::parser::CliParser parser(line.count(), line.data());

    EXPECT_EQ(parser.parse(), c.parsed);
    EXPECT_EQ(parser.isParsed(), c.parsed);
    EXPECT_EQ(parser.getErrorMessage(), c.error);
    tool::ToolRequest request{7, 7};
    EXPECT_EQ(parser.getRequest(&request), c.request);
    EXPECT_EQ(request.mode, c.mode);
    EXPECT_EQ(request.value, c.value);
    EXPECT_EQ(parser.getRequest(nullptr), 1);
}

ToolCase refused(const char* label, const std::wstring& value) {
    return ToolCase{label, {L"-s", value}, 0, kRefusedValue, 1, 7, 7};
}
ToolCase help(const char* label, const std::wstring& token) {
    return ToolCase{label, {token}, 1, L"", 2, 7, 7};
}

INSTANTIATE_TEST_SUITE_P(
    Parse, ToolCommandLine,
    ::testing::Values(
        ToolCase{"noTokens", {}, 1, L"", 0, 0, 0}, ToolCase{"set3", {L"-s", L"3"}, 1, L"", 0, 1, 3},
        ToolCase{"slashSet0", {L"/s", L"0"}, 1, L"", 0, 1, 0},
        ToolCase{"upperLongSet1", {L"--SET", L"1"}, 1, L"", 0, 1, 1},
        ToolCase{"upperShortSet3", {L"-S", L"3"}, 1, L"", 0, 1, 3},
        ToolCase{"missingValue", {L"-s"}, 0, kMissingValue, 1, 7, 7},
        // The canonical switch is named, not the one typed.
        ToolCase{"missingValueLongSwitch", {L"--set"}, 0, kMissingValue, 1, 7, 7},
        // "-h" becomes the value; the value equals a switch; HELP is not given.
        ToolCase{"valueIsHelpSwitch", {L"-s", L"-h"}, 0, kMissingValue, 1, 7, 7},
        ToolCase{"valueIsOtherSwitch", {L"-s", L"/?"}, 0, kMissingValue, 1, 7, 7},
        // Parameters are compared with the switches case-sensitively.
        ToolCase{"valueIsUpperHelpSwitch", {L"-s", L"-H"}, 0, kRefusedValue, 1, 7, 7},
        ToolCase{"repeatedSwitch", {L"-s", L"1", L"-s", L"3"}, 0, invalid(L"-s"), 1, 7, 7},
        ToolCase{
            "repeatedSwitchShownAsTyped", {L"-s", L"1", L"-S", L"3"}, 0, invalid(L"-S"), 1, 7, 7},
        ToolCase{"unknownBeforeHelp", {L"-x", L"-h"}, 0, invalid(L"-x"), 1, 7, 7},
        ToolCase{"helpBeforeUnknown", {L"-h", L"-x"}, 0, invalid(L"-x"), 2, 7, 7},
        ToolCase{
            "helpBeforeFailureAtFourth", {L"-s", L"1", L"-h", L"bad"}, 0, invalid(L"bad"), 2, 7, 7},
        ToolCase{"helpAfterRefusedValue", {L"-s", L"2", L"-h"}, 0, kRefusedValue, 2, 7, 7},
        ToolCase{"wordAfterCompleteSet", {L"-s", L"1", L"extra"}, 0, invalid(L"extra"), 1, 7, 7},
        ToolCase{"helpTwice", {L"-h", L"/H"}, 0, invalid(L"/H"), 2, 7, 7},
        ToolCase{"setAndHelp", {L"-s", L"1", L"-h"}, 1, L"", 2, 7, 7},
        ToolCase{"emptyToken", {L""}, 0, invalid(L""), 1, 7, 7},
        // Only A-Z are folded: other letters stay as typed and match nothing.
        ToolCase{"nonAsciiLetters", {L"--S\u0395T", L"1"}, 0, invalid(L"--S\u0395T"), 1, 7, 7},
        refused("value2", L"2"), refused("value01", L"01"), refused("value10", L"10"),
        refused("plus1", L"+1"), refused("minus1", L"-1"), refused("blank1", L" 1"),
        refused("letter", L"a"), refused("empty", L""), refused("arabicIndicOne", L"\u0661"),
        refused("fullwidthOne", L"\uFF11"), help("h", L"-h"), help("slashH", L"/h"),
        help("dashQuestion", L"-?"), help("slashQuestion", L"/?"), help("longHelp", L"--help"),
        help("v", L"-v"), help("slashV", L"/v"), help("version", L"--version"),
        help("upperVersion", L"--VERSION")),
    ByLabel());

ArgumentDefinition with(ArgumentDefinition d, int required, std::vector<std::wstring> together,
                        std::vector<std::wstring> exclusive) {
    d.required = required;
    d.togetherTags = std::move(together);
    d.exclusiveTags = std::move(exclusive);
    return d;
}

struct RegistryCase {
    const char* label;
    std::vector<ArgumentDefinition> definitions;
    int caseSensitive;
    std::vector<std::wstring> tokens;
    int parsed;
    std::wstring error;
    std::wstring tag; // an argument whose outcome is checked
    int specified;
    std::vector<std::wstring> params;
};
void PrintTo(const RegistryCase& c, std::ostream* os) {
    *os << c.label;
}

class RegistryParse : public ::testing::TestWithParam<RegistryCase> {};

TEST_P(RegistryParse, ParseErrorTextAndResult) {
    const RegistryCase& c = GetParam();
    std::vector<std::wstring> words = {L"t"};
    words.insert(words.end(), c.tokens.begin(), c.tokens.end());
    CommandLine line(words);
    CliInfo info;
    info.caseSensitive = c.caseSensitive;
    TestParser parser(line, c.definitions, info);

    EXPECT_EQ(parser.parse(), c.parsed);
    EXPECT_EQ(parser.getErrorMessage(), c.error);
    ArgumentResult result;
    parser.clearResult(result);
    EXPECT_EQ(parser.getResultByTagName(c.tag, result), c.specified);
    EXPECT_EQ(result.params, c.params);
}

const std::vector<ArgumentDefinition> kJoined = {arg(L"D", {L"-d"}, 1, 1)};
const std::vector<ArgumentDefinition> kSetLike = {arg(L"SET", {L"-s"}, 1)};
const std::vector<ArgumentDefinition> kRequired = {with(arg(L"R", {L"-r"}), 1, {}, {}),
                                                   arg(L"B", {L"-b"})};
const std::vector<ArgumentDefinition> kRequiredOr = {with(arg(L"R", {L"-r"}), 1, {}, {L"B"}),
                                                     arg(L"B", {L"-b"})};
const std::vector<ArgumentDefinition> kTogether = {with(arg(L"A", {L"-a"}), 0, {L"B", L"C"}, {}),
                                                   arg(L"B", {L"-b"}), arg(L"C", {L"-c"})};
const std::vector<ArgumentDefinition> kExclusive = {with(arg(L"A", {L"-a"}), 0, {}, {L"B", L"C"}),
                                                    arg(L"B", {L"-b"}), arg(L"C", {L"-c"})};
const std::wstring kNotSpecified =
    L"Error : Invalid argument.\nThe argument \"-r\" is not specified.\n";

// Command lines that break two checks at once: the first in this order is reported. Each
// given argument in registry order (count, parameters that are switches, checker, together,
// exclusive), then each required argument in registry order.
int onlyOne(const std::vector<std::wstring>* params, std::wstring* message) {
    if (params->size() == 1 && (*params)[0] == L"1") {
        return 1;
    }
    *message = L"Only 1.";
    return 0;
}
ArgumentDefinition checked(ArgumentDefinition d) {
    d.paramChecker = onlyOne;
    return d;
}
const std::vector<ArgumentDefinition> kTwoCounts = {arg(L"P", {L"-p"}, 1), arg(L"Q", {L"-q"}, 2)};
const std::vector<ArgumentDefinition> kCheckedAndTogether = {
    with(checked(arg(L"K", {L"-k"}, 1)), 0, {L"B"}, {}), arg(L"B", {L"-b"})};
const std::vector<ArgumentDefinition> kTogetherAndExclusive = {
    with(arg(L"A", {L"-a"}), 0, {L"B"}, {L"C"}), arg(L"B", {L"-b"}), arg(L"C", {L"-c"})};
const std::vector<ArgumentDefinition> kTogetherAndRequired = {
    with(arg(L"R", {L"-r"}), 1, {}, {}), with(arg(L"A", {L"-a"}), 0, {L"B"}, {}),
    arg(L"B", {L"-b"})};
const std::vector<ArgumentDefinition> kExclusiveAndRequired = {
    with(arg(L"R", {L"-r"}), 1, {}, {}), with(arg(L"A", {L"-a"}), 0, {}, {L"B"}),
    arg(L"B", {L"-b"})};
const std::vector<ArgumentDefinition> kTwoRequired = {
    with(arg(L"R", {L"-r"}), 1, {}, {}), with(arg(L"S", {L"-s"}), 1, {}, {}), arg(L"B", {L"-b"})};
std::wstring line3(const std::wstring& sw, const std::wstring& third) {
    return L"Error : Invalid argument.\nThe argument \"" + sw + L"\" is invalid.\n" + third + L"\n";
}

INSTANTIATE_TEST_SUITE_P(
    Parse, RegistryParse,
    ::testing::Values(
        RegistryCase{"caseSensitiveRefusesUpper",
                     kSetLike,
                     1,
                     {L"-S", L"3"},
                     0,
                     invalid(L"-S"),
                     L"SET",
                     0,
                     {}},
        RegistryCase{"caseSensitiveExact", kSetLike, 1, {L"-s", L"3"}, 1, L"", L"SET", 1, {L"3"}},
        RegistryCase{"joined", kJoined, 0, {L"-dfoo"}, 1, L"", L"D", 1, {L"foo"}},
        RegistryCase{"joinedEmpty", kJoined, 0, {L"-d"}, 1, L"", L"D", 1, {L""}},
        RegistryCase{"joinedUpper", kJoined, 0, {L"-D"}, 1, L"", L"D", 1, {L""}},
        RegistryCase{"joinedKeepsCase", kJoined, 0, {L"-DFoo"}, 1, L"", L"D", 1, {L"Foo"}},
        RegistryCase{
            "joinedCaseSensitive", kJoined, 1, {L"-DFoo"}, 0, invalid(L"-DFoo"), L"D", 0, {}},
        RegistryCase{
            "joinedRepeated", kJoined, 0, {L"-da", L"-db"}, 0, invalid(L"-db"), L"D", 1, {L"a"}},
        RegistryCase{"twoParamsOneGiven",
                     {arg(L"P", {L"-p"}, 2)},
                     0,
                     {L"-p", L"x"},
                     0,
                     L"Error : Invalid argument.\nThe argument \"-p\" is invalid.\n"
                     L"Option \"-p\" needs 2 parameter at least.\n",
                     L"P",
                     1,
                     {L"x"}},
        RegistryCase{"twoParams",
                     {arg(L"P", {L"-p"}, 2)},
                     0,
                     {L"-p", L"-x", L"y"},
                     1,
                     L"",
                     L"P",
                     1,
                     {L"-x", L"y"}},
        // A repetition goes on to the next entries, which may take it.
        RegistryCase{"sameSwitchTwice",
                     {arg(L"A", {L"-a"}), arg(L"A2", {L"-a"})},
                     0,
                     {L"-a", L"-a"},
                     1,
                     L"",
                     L"A2",
                     1,
                     {}},
        RegistryCase{"invalidArgType",
                     {arg(L"X", {L"-x"}, 0, 2)},
                     0,
                     {L"-x"},
                     0,
                     invalid(L"-x"),
                     L"X",
                     0,
                     {}},
        RegistryCase{"requiredEmptyLine", kRequired, 0, {}, 1, L"", L"R", 0, {}},
        RegistryCase{"requiredMissing", kRequired, 0, {L"-b"}, 0, kNotSpecified, L"B", 1, {}},
        RegistryCase{"requiredGiven", kRequired, 0, {L"-r"}, 1, L"", L"R", 1, {}},
        RegistryCase{"requiredAlternative", kRequiredOr, 0, {L"-b"}, 1, L"", L"B", 1, {}},
        // An entry without switches is named by an empty switch, not by a read past its list.
        RegistryCase{"requiredWithoutSwitches",
                     {with(arg(L"R", {}), 1, {}, {}), arg(L"B", {L"-b"})},
                     0,
                     {L"-b"},
                     0,
                     L"Error : Invalid argument.\nThe argument \"\" is not specified.\n",
                     L"B",
                     1,
                     {}},
        RegistryCase{"togetherMissing",
                     kTogether,
                     0,
                     {L"-a", L"-b"},
                     0,
                     L"Error : Invalid argument.\nThe argument \"-a\" is invalid.\n"
                     L"Specify \"-b\" \"-c\"  at the same time.\n",
                     L"A",
                     1,
                     {}},
        RegistryCase{"togetherGiven", kTogether, 0, {L"-c", L"-a", L"-b"}, 1, L"", L"A", 1, {}},
        RegistryCase{"exclusiveOne",
                     kExclusive,
                     0,
                     {L"-a", L"-c"},
                     0,
                     L"Error : Invalid argument.\nThe argument \"-a\" is invalid.\n"
                     L"Don't specify \"-c\"  at the same time.\n",
                     L"C",
                     1,
                     {}},
        RegistryCase{"exclusiveBoth",
                     kExclusive,
                     0,
                     {L"-c", L"-b", L"-a"},
                     0,
                     L"Error : Invalid argument.\nThe argument \"-a\" is invalid.\n"
                     L"Don't specify \"-b\" \"-c\"  at the same time.\n",
                     L"A",
                     1,
                     {}},
        RegistryCase{"exclusiveNotGiven", kExclusive, 0, {L"-b", L"-c"}, 1, L"", L"A", 0, {}},
        // -q takes "-p" and y (a parameter equal to a switch), then -p finds no parameter:
        // -p stands first in the registry.
        RegistryCase{"twoEntriesRegistryOrder",
                     kTwoCounts,
                     0,
                     {L"-q", L"-p", L"y", L"-p"},
                     0,
                     line3(L"-p", L"Option \"-p\" needs 1 parameter at least."),
                     L"Q",
                     1,
                     {L"-p", L"y"}},
        RegistryCase{"countBeforeChecker",
                     kCheckedAndTogether,
                     0,
                     {L"-b", L"-k"},
                     0,
                     line3(L"-k", L"Option \"-k\" needs 1 parameter at least."),
                     L"K",
                     1,
                     {}},
        RegistryCase{"checkerBeforeTogether",
                     kCheckedAndTogether,
                     0,
                     {L"-k", L"2"},
                     0,
                     line3(L"-k", L"Only 1."),
                     L"K",
                     1,
                     {L"2"}},
        RegistryCase{"togetherBeforeExclusive",
                     kTogetherAndExclusive,
                     0,
                     {L"-c", L"-a"},
                     0,
                     line3(L"-a", L"Specify \"-b\"  at the same time."),
                     L"A",
                     1,
                     {}},
        RegistryCase{"togetherBeforeRequired",
                     kTogetherAndRequired,
                     0,
                     {L"-a"},
                     0,
                     line3(L"-a", L"Specify \"-b\"  at the same time."),
                     L"A",
                     1,
                     {}},
        RegistryCase{"exclusiveBeforeRequired",
                     kExclusiveAndRequired,
                     0,
                     {L"-b", L"-a"},
                     0,
                     line3(L"-a", L"Don't specify \"-b\"  at the same time."),
                     L"A",
                     1,
                     {}},
        RegistryCase{
            "requiredRegistryOrder", kTwoRequired, 0, {L"-b"}, 0, kNotSpecified, L"B", 1, {}}),
    ByLabel());

TEST(Registry, RegisteringATagAgainReplacesItAndMovesItLast) {
    CommandLine line({L"t"});
    ArgumentDefinition second = arg(L"SET", {L"-S2"});
    TestParser parser(line, {arg(L"SET", {L"-s1"}), arg(L"HELP", {L"-h"}), second});
    ASSERT_EQ(parser.parse(), 1);
    ASSERT_EQ(parser.entries.size(), 2u);
    EXPECT_EQ(parser.entries[0].definition.tagName, L"HELP");
    EXPECT_EQ(parser.entries[1].definition.switches, second.switches);
    std::uint32_t index = 9;
    EXPECT_EQ(parser.getIndexNumberByTagName(L"SET", index), 1);
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(parser.getIndexNumberByTagName(L"set", index), 0);
}

TEST(Registry, ResultIsCopiedOnlyForAGivenArgument) {
    CommandLine line({L"t", L"-h", L"-s", L"1"});
    TestParser parser(line, {arg(L"SET", {L"-s"}, 1), arg(L"HELP", {L"-h"}), arg(L"X", {L"-x"})});
    ASSERT_EQ(parser.parse(), 1);
    ArgumentResult result;
    ASSERT_EQ(parser.getResultByTagName(L"SET", result), 1);
    EXPECT_EQ(result.specified, 1);
    EXPECT_EQ(result.position, 2);
    EXPECT_EQ(result.givenCount, 1);
    EXPECT_EQ(result.params, std::vector<std::wstring>{L"1"});
    EXPECT_EQ(parser.getResultByTagName(L"X", result), 0);
    EXPECT_EQ(parser.getResultByTagName(L"set", result), 0);
    EXPECT_EQ(result.position, 2) << "a refused query leaves the record alone";
    parser.clearResult(result);
    EXPECT_EQ(result.specified + result.position + result.givenCount, 0);
    EXPECT_TRUE(result.params.empty());
}

TEST(Registry, RelationsResolveOnceAndSetInfoAppends) {
    CommandLine line({L"t"});
    CliInfo info;
    info.versionText = L"V";
    info.examplesText = L"E";
    TestParser parser(line, {with(arg(L"A", {L"-a"}), 0, {L"B"}, {L"A"}), arg(L"B", {L"-b"})},
                      info);
    parser.setInfo(info);
    ASSERT_EQ(parser.parse(), 1);
    EXPECT_EQ(parser.getVersionMessage(), L"VV");
    EXPECT_EQ(parser.optimize(), 1);
    EXPECT_EQ(parser.entries[0].togetherIndexes, std::vector<std::uint32_t>{1});
    EXPECT_EQ(parser.entries[0].exclusiveIndexes, std::vector<std::uint32_t>{0});
    EXPECT_TRUE(parser.entries[1].togetherIndexes.empty());
    EXPECT_EQ(parser.entries[1].optimized, 1);
}

std::vector<std::string> diagnostics;
int keepLine(const char* line) {
    diagnostics.emplace_back(line);
    return 0;
}

class Diagnostics : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        diagnostics.clear();
        kviDebugSetHook(keepLine);
    }
    void TearDown() override { kviDebugSetHook(nullptr); }
    // The lines written at debug level 1; none at level 0.
    std::vector<std::string> expected(std::vector<std::string> lines) const {
        return GetParam() >= 1 ? lines : std::vector<std::string>();
    }
};

TEST_P(Diagnostics, UnknownRelationTagFailsTheParseSilently) {
    CommandLine line({L"t", L"-s", L"1"});
    TestParser parser(line, {with(arg(L"SET", {L"-s"}, 1), 0, {L"set"}, {})});
    parser.debugLevel = GetParam();
    EXPECT_EQ(parser.parse(), 0);
    EXPECT_EQ(parser.getErrorMessage(), L"");
    EXPECT_EQ(parser.getHelpMessage(), L"");
    EXPECT_EQ(diagnostics,
              expected({"tool::parser::CliParserBase::optimize: Line151  Error : failed "
                        "getIndexNumberByTagName()\n",
                        "tool::parser::CliParserBase::parse: Line290  Error : failed to optimize "
                        "database.\n"}));
}

TEST_P(Diagnostics, FailedDefineAndReplacedTag) {
    CommandLine line({L"t"});
    TestParser parser(line, {arg(L"A", {L"-a"}), arg(L"A", {L"-a"})});
    parser.debugLevel = GetParam();
    parser.defineResult = 0;
    EXPECT_EQ(parser.parse(), 0);
    ArgumentResult result;
    EXPECT_EQ(parser.getResultByTagName(L"B", result), 0);
    EXPECT_EQ(diagnostics,
              expected({"tool::parser::CliParserBase::regist: Line112  Warning : Same tag name "
                        "already exist, so delete old argument defination.\n",
                        "tool::parser::CliParserBase::parse: Line283  Error : failed to define "
                        "arg.\n",
                        "tool::parser::CliParserBase::getResultByTagName: Line201  Error : Cannot "
                        "found specify tag name\n"}));
}

// Written for every token that reaches the entry.
TEST_P(Diagnostics, InvalidArgumentTypeOnEveryToken) {
    CommandLine line({L"t", L"-a", L"-a"});
    TestParser parser(line, {arg(L"X", {L"-x"}, 0, 5), arg(L"A", {L"-a"})});
    parser.debugLevel = GetParam();
    EXPECT_EQ(parser.parse(), 0);
    EXPECT_EQ(parser.getErrorMessage(), invalid(L"-a"));
    const std::string type = "tool::parser::CliParserBase::parseInput: Line352  Error : Invalid "
                             "argument type exsist.\n";
    EXPECT_EQ(diagnostics, expected({type, type}));
}

INSTANTIATE_TEST_SUITE_P(Parse, Diagnostics, ::testing::Values(0, 1));

} // namespace
