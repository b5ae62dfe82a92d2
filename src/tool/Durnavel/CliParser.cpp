#include "tool/Durnavel/CliParser.h"

#include <climits>
#include <string>

#include "platform/kviDebug.h"
#include "tool/Durnavel/ToolRequest.h"
#include "tool/Durnavel/Version.h"
#include "tool/util/StringToWString.h"

namespace tool::parser {

namespace {

const char kToolName[] = "Durnavel";
const char kToolVersion[] = DURNAVEL_VERSION;
const char kCopyright[] = "Copyright (C) 2026 Durnavel developers. All rights reserved.";

const std::int32_t kUsableFrames[] = {0, 1, 3};

// Leading decimal digits of the text; no sign, no blanks. Saturates instead of overflowing.
std::int32_t readDecimal(const std::wstring& text) {
    std::int32_t value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            break;
        }
        const std::int32_t digit = static_cast<std::int32_t>(c - L'0');
        if (value > (INT32_MAX - digit) / 10) {
            return INT32_MAX;
        }
        value = value * 10 + digit;
    }
    return value;
}

} // namespace

CliParser::CliParser(std::int32_t argCount, const wchar_t* const argValues[])
    : CliParserBase(argCount, argValues) {}

CliParser::~CliParser() = default;

int CliParser::define() {
    CliInfo info;
    initInfo(info);
    info.caseSensitive = 0;
    if (setInfo(info) == 0) {
        return 0;
    }

    ArgumentDefinition set;
    set.tagName = L"SET";
    set.switches = {L"-s", L"/s", L"--set"};
    set.argType = 0;
    set.paramCount = 1;
    set.required = 0;
    set.isHelp = 0;
    set.isVersion = 0;
    set.description = L"Set muximum pre-rendered frames.\n";
    set.description += L"Usable value is 0, 1 or 3.";
    set.paramName = L"value";
    set.paramChecker = checkFramesValue;
    if (regist(set) == 0) {
        if (debugLevel >= 1) {
            kviDebugPrint("tool::parser::CliParser::define", 132,
                          "Error : RegisterArgumentDefination() tag name : %ls\n",
                          set.tagName.c_str());
        }
        return 0;
    }

    ArgumentDefinition help;
    help.tagName = L"HELP";
    help.switches = {L"-h", L"/h", L"-?", L"/?", L"--help", L"-v", L"/v", L"--version"};
    help.argType = 0;
    help.paramCount = 0;
    help.required = 0;
    help.isHelp = 1;
    help.isVersion = 0;
    help.description = L"Display this help message.";
    help.paramChecker = nullptr;
    if (regist(help) == 0) {
        if (debugLevel >= 1) {
            kviDebugPrint("tool::parser::CliParser::define", 171,
                          "Error : RegisterArgumentDefinition() tag name : %ls\n",
                          help.tagName.c_str());
        }
        return 0;
    }
    return 1;
}

void CliParser::defineTexts(CliInfo& info) const {
    const std::string name = kToolName;
    util::StringToWString(name + " Ver." + kToolVersion + "\n" + kCopyright + "\n",
                          info.versionText);
    util::StringToWString("EXAMPLES:\n"
                          " > " +
                              name +
                              "\n"
                              " ... View current maximum pre-rendered frames value.\n"
                              " > " +
                              name +
                              " -s 1\n"
                              " ... Set maximum pre-rendered frames to 1.\n"
                              " > " +
                              name +
                              " -s 3\n"
                              " ... Set maximum pre-rendered frames to 3.\n",
                          info.examplesText);
}

int CliParser::getRequest(void* request) {
    ToolRequest* out = static_cast<ToolRequest*>(request);
    if (out == nullptr) {
        return 1;
    }
    // A help switch counts even when another argument was refused.
    if (isHelpRequested() != 0) {
        return 2;
    }
    if (isVersionRequested() != 0) {
        return 3;
    }
    if (isParsed() == 0) {
        return 1;
    }
    clearRequest(out);

    ArgumentResult result;
    clearResult(result);
    if (getResultByTagName(L"SET", result) == 1) {
        out->mode = 1;
        out->value = result.params.empty() ? 0 : readDecimal(result.params.front());
    }
    return 0;
}

void CliParser::clearRequest(void* request) {
    ToolRequest* out = static_cast<ToolRequest*>(request);
    if (out != nullptr) {
        out->mode = 0;
        out->value = 0;
    }
}

int CliParser::checkFramesValue(const std::vector<std::wstring>* params, std::wstring* message) {
    if (message != nullptr) {
        message->clear();
    }
    if (params != nullptr && params->size() == 1 && params->front().size() == 1) {
        const wchar_t c = params->front()[0];
        if (c >= L'0' && c <= L'9') {
            const std::int32_t value = static_cast<std::int32_t>(c - L'0');
            for (std::int32_t usable : kUsableFrames) {
                if (value == usable) {
                    return 1;
                }
            }
        }
    }
    if (message != nullptr) {
        message->append(L"Usable maximum pre-rendered frames value is 0, 1 or 3.");
    }
    return 0;
}

} // namespace tool::parser
