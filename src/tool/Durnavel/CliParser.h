#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tool/parser/CliParserBase.h"

namespace tool::parser {

// The tool's command line: "SET" (-s, /s, --set with one value) and "HELP" (-h, /h, -?, /?,
// --help, -v, /v, --version).
class CliParser : public CliParserBase {
  public:
    CliParser(std::int32_t argCount, const wchar_t* const argValues[]);
    ~CliParser() override;

    // `request` points to a tool::ToolRequest. 0 request filled, 1 command line not usable,
    // 2 help asked for, 3 version asked for.
    int getRequest(void* request) override;

  protected:
    int define() override;
    // The version and examples texts, made only when the help or version text is shown.
    void defineTexts(CliInfo& info) const override;

  public:
    // Sets both fields of the tool::ToolRequest `request` points to to 0.
    void clearRequest(void* request) override;

    // Accepts exactly one parameter reading "0", "1" or "3".
    static int checkFramesValue(const std::vector<std::wstring>* params, std::wstring* message);
};

} // namespace tool::parser
