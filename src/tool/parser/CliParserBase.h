#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tool/base/ModuleBase.h"

namespace tool::parser {

extern const char kCliParserBaseBanner[];

// Check of the parameters collected for an argument. Returns nonzero to accept; on refusal it
// has written the line to show into `message`.
typedef int (*ParamChecker)(const std::vector<std::wstring>* params, std::wstring* message);

// What a tool declares for one argument. regist() keeps a copy.
struct ArgumentDefinition {
    std::wstring tagName;               // key; compared exactly
    std::vector<std::wstring> switches; // complete switches; the first one is the canonical one
    std::int32_t argType = 0;           // 0 separate, 1 joined (switch is a prefix of the token)
    std::int32_t paramCount = 0;        // exactly this many parameters must be given
    std::int32_t required = 0;
    std::int32_t isHelp = 0;
    std::int32_t isVersion = 0;
    std::vector<std::wstring> togetherTags;  // tags that must be given along with this one
    std::vector<std::wstring> exclusiveTags; // tags that must not be given along with this one
    std::wstring description;                // a line feed inside forces a line break in help
    std::wstring paramName;                  // placeholder shown in help
    ParamChecker paramChecker = nullptr;
};

// One registry element: the definition and its parse state.
struct ArgumentEntry {
    ArgumentDefinition definition;
    std::int32_t specified = 0;
    std::int32_t position = 0; // index in argv of the token that matched
    std::int32_t givenCount = 0;
    std::vector<std::wstring> params;
    std::vector<std::uint32_t> togetherIndexes;  // resolved from togetherTags
    std::vector<std::uint32_t> exclusiveIndexes; // resolved from exclusiveTags
    std::int32_t optimized = 0;
};

// The outcome of one argument, read back by tag name.
struct ArgumentResult {
    std::int32_t specified = 0;
    std::int32_t position = 0;
    std::int32_t givenCount = 0;
    std::vector<std::wstring> params;
};

// Parser settings a tool hands over in define().
struct CliInfo {
    std::int32_t caseSensitive = 0; // 0: tokens are lowercased (A-Z only) before matching
    std::wstring versionText;
    std::wstring examplesText;
};

// The reusable command-line parser. A tool derives from it, declares its arguments in define()
// and turns the outcome into its own request record in getRequest(). One object serves one
// parse: construct it, call parse() once, then query.
class CliParserBase : public ModuleBase {
  public:
    // `argv` is not copied and must outlive the parser; argv[0] is the program path.
    CliParserBase(std::int32_t argCount, const wchar_t* const argValues[]);
    ~CliParserBase() override;

    // Turns the outcome into the tool's request record; the meaning of the result is the tool's.
    virtual int getRequest(void* request) = 0;

  protected:
    // Registers the tool's definitions (initInfo, setInfo, regist); nonzero on success.
    virtual int define() = 0;

  public:
    // Resets the tool's request record.
    virtual void clearRequest(void* request) = 0;

    // 1 when the command line was matched and passed every check, else 0. On a fault of the
    // command line the error text holds the lines to show.
    int parse();

    int getIndexNumberByTagName(const std::wstring& tagName, std::uint32_t& index) const;
    void clearResult(ArgumentResult& result) const;
    // 1 when the tag is registered and was given; `result` is left alone otherwise.
    int getResultByTagName(const std::wstring& tagName, ArgumentResult& result) const;
    int isParsed() const;
    int isHelpRequested() const;
    int isVersionRequested() const;
    // Both texts are built the first time they are asked for, from what parse() had when it
    // reached the help text: a run that prints neither builds neither.
    std::wstring getHelpMessage() const;
    std::wstring getVersionMessage() const;

  protected:
    void initInfo(CliInfo& info) const;
    int setInfo(const CliInfo& info);
    // The version and examples texts of a tool that makes them only when one is shown: called
    // once, the first time either text is asked for; what it puts into `info` is appended to
    // what setInfo gave. The base adds nothing.
    virtual void defineTexts(CliInfo& info) const;
    int regist(const ArgumentDefinition& definition);
    int optimize();
    int makeHelpMessage() const;

    int parseInput(std::int32_t index, ArgumentEntry& entry, std::int32_t& consumed);
    int checkInput();
    int checkTogether(std::uint32_t index);
    int checkExclusive(std::uint32_t index);
    int checkRequired(std::uint32_t index);
    int collectSpecified(const std::vector<std::uint32_t>& list,
                         std::vector<std::uint32_t>& out) const;

    std::int32_t argc;
    const wchar_t* const* argv;
    mutable std::wstring helpText;
    std::int32_t parsed;
    std::int32_t caseSensitive;
    mutable std::wstring versionText;
    mutable std::wstring examplesText;
    std::vector<ArgumentEntry> entries;

  private:
    // Appends the texts of defineTexts on the first call.
    void completeTexts() const;

    mutable bool textsComplete = false;
    // parse() reached the help text, which is still to be built.
    mutable bool helpDue = false;
    // argv[index] as a string; empty for a missing element.
    std::wstring token(std::int32_t index) const;
    // The switch every message and the help text show for the entry.
    std::wstring canonicalSwitch(std::uint32_t index) const;
    bool isSpecified(std::uint32_t index) const;
    bool equalsAnySwitch(const std::wstring& text) const;
    void reportInvalid(std::uint32_t index, const std::wstring& lastLine);
};

} // namespace tool::parser
