#include "tool/parser/CliParserBase.h"

#include "platform/kviDebug.h"
#include "common/Banner.h"
#include "tool/cliTool/HelpMsgMaker.h"

namespace tool::parser {

const char kCliParserBaseBanner[] = DURNAVEL_BANNER("tool::parser::CliParserBase", "1.01");

namespace {

// Line length limit of the help text.
const std::int32_t kHelpWidth = 64;

const wchar_t kInvalidArgument[] = L"Error : Invalid argument.";

// Only A-Z are folded; every other character, non-ASCII ones included, stays as it is.
std::wstring lowerAscii(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    return text;
}

// A number in decimal digits, as std::to_wstring writes it (which would bring the C runtime's
// whole wide formatter into the program for this one line).
std::wstring decimal(std::int32_t value) {
    const std::string digits = std::to_string(value);
    return std::wstring(digits.begin(), digits.end());
}

} // namespace

CliParserBase::CliParserBase(std::int32_t argCount, const wchar_t* const argValues[])
    : argc(argCount), argv(argValues), parsed(0), caseSensitive(0) {}

CliParserBase::~CliParserBase() {
    entries.clear();
}

void CliParserBase::initInfo(CliInfo& info) const {
    info.caseSensitive = 0;
    info.versionText.clear();
    info.examplesText.clear();
}

int CliParserBase::setInfo(const CliInfo& info) {
    caseSensitive = info.caseSensitive;
    versionText += info.versionText;
    examplesText += info.examplesText;
    return 1;
}

int CliParserBase::regist(const ArgumentDefinition& definition) {
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->definition.tagName == definition.tagName) {
            if (debugLevel >= 1) {
                kviDebugPrint("tool::parser::CliParserBase::regist", 112,
                              "Warning : Same tag name already exist, so delete old argument "
                              "defination.\n");
            }
            entries.erase(it);
            break;
        }
    }
    ArgumentEntry entry;
    entry.definition = definition;
    entries.push_back(std::move(entry));
    return 1;
}

int CliParserBase::optimize() {
    for (ArgumentEntry& entry : entries) {
        if (entry.optimized != 0) {
            continue;
        }
        const std::vector<std::wstring>* tagLists[] = {&entry.definition.togetherTags,
                                                       &entry.definition.exclusiveTags};
        std::vector<std::uint32_t>* indexLists[] = {&entry.togetherIndexes,
                                                    &entry.exclusiveIndexes};
        for (int list = 0; list < 2; ++list) {
            for (const std::wstring& tag : *tagLists[list]) {
                std::uint32_t index = 0;
                if (getIndexNumberByTagName(tag, index) == 0) {
                    if (debugLevel >= 1) {
                        kviDebugPrint("tool::parser::CliParserBase::optimize", 151,
                                      "Error : failed getIndexNumberByTagName()\n");
                    }
                    return 0;
                }
                indexLists[list]->push_back(index);
            }
        }
        entry.optimized = 1;
    }
    return 1;
}

int CliParserBase::getIndexNumberByTagName(const std::wstring& tagName,
                                           std::uint32_t& index) const {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].definition.tagName == tagName) {
            index = static_cast<std::uint32_t>(i);
            return 1;
        }
    }
    return 0;
}

void CliParserBase::clearResult(ArgumentResult& result) const {
    result.specified = 0;
    result.position = 0;
    result.givenCount = 0;
    result.params.clear();
}

int CliParserBase::getResultByTagName(const std::wstring& tagName, ArgumentResult& result) const {
    std::uint32_t index = 0;
    if (getIndexNumberByTagName(tagName, index) == 0) {
        if (debugLevel >= 1) {
            kviDebugPrint("tool::parser::CliParserBase::getResultByTagName", 201,
                          "Error : Cannot found specify tag name\n");
        }
        return 0;
    }
    const ArgumentEntry& entry = entries[index];
    if (entry.specified == 0) {
        return 0;
    }
    result.specified = entry.specified;
    result.position = entry.position;
    result.givenCount = entry.givenCount;
    if (entry.givenCount != 0) {
        result.params = entry.params;
    }
    return 1;
}

int CliParserBase::isParsed() const {
    return parsed;
}

int CliParserBase::isHelpRequested() const {
    for (const ArgumentEntry& entry : entries) {
        if (entry.definition.isHelp != 0 && entry.specified != 0) {
            return 1;
        }
    }
    return 0;
}

int CliParserBase::isVersionRequested() const {
    for (const ArgumentEntry& entry : entries) {
        if (entry.definition.isVersion != 0 && entry.specified != 0) {
            return 1;
        }
    }
    return 0;
}

std::wstring CliParserBase::getHelpMessage() const {
    if (helpDue) {
        helpDue = false;
        makeHelpMessage();
    }
    return helpText;
}

std::wstring CliParserBase::getVersionMessage() const {
    completeTexts();
    return versionText;
}

void CliParserBase::defineTexts(CliInfo&) const {}

void CliParserBase::completeTexts() const {
    if (textsComplete) {
        return;
    }
    textsComplete = true;
    CliInfo info;
    initInfo(info);
    defineTexts(info);
    versionText += info.versionText;
    examplesText += info.examplesText;
}

int CliParserBase::makeHelpMessage() const {
    completeTexts();
    cliTool::HelpSource source;
    source.width = kHelpWidth;
    source.versionText = versionText;
    source.examplesText = examplesText;

    // Only a backslash separates folders here; the extension stays.
    const std::wstring path = token(0);
    const std::size_t slash = path.rfind(L'\\');
    source.programName = slash == std::wstring::npos ? path : path.substr(slash + 1);

    for (std::uint32_t i = 0; i < entries.size(); ++i) {
        const ArgumentDefinition& definition = entries[i].definition;
        cliTool::HelpItem item;
        item.switchName = canonicalSwitch(i);
        item.paramName = definition.paramName;
        item.description = definition.description;
        item.paramCount = definition.paramCount;
        item.hidden = 0;
        item.separated = definition.argType == 1 ? 0 : 1;
        source.items.push_back(std::move(item));
    }

    cliTool::HelpMsgMaker maker(source);
    helpText = maker.getMessage();
    return 1;
}

int CliParserBase::parse() {
    if (define() == 0) {
        if (debugLevel >= 1) {
            kviDebugPrint("tool::parser::CliParserBase::parse", 283,
                          "Error : failed to define arg.\n");
        }
        return 0;
    }
    if (optimize() == 0) {
        if (debugLevel >= 1) {
            kviDebugPrint("tool::parser::CliParserBase::parse", 290,
                          "Error : failed to optimize database.\n");
        }
        return 0;
    }
    // The help text exists from here on, even when the command line turns out to be unusable;
    // it is laid out when it is first asked for (the definitions it is made of stay as they are).
    helpDue = true;

    std::int32_t index = 1;
    while (index < argc) {
        bool taken = false;
        for (ArgumentEntry& entry : entries) {
            std::int32_t consumed = 0;
            if (parseInput(index, entry, consumed) != 0) {
                index += consumed + 1;
                taken = true;
                break;
            }
        }
        if (!taken) {
            clearErrorMessage();
            appendErrorLine(kInvalidArgument);
            appendErrorLine(L"The argument \"" + token(index) + L"\" is invalid.");
            return 0;
        }
    }

    if (checkInput() == 0) {
        return 0;
    }
    parsed = 1;
    return 1;
}

int CliParserBase::parseInput(std::int32_t index, ArgumentEntry& entry, std::int32_t& consumed) {
    const ArgumentDefinition& definition = entry.definition;
    const std::wstring typed = token(index);
    const std::wstring compared = caseSensitive != 0 ? typed : lowerAscii(typed);

    for (const std::wstring& name : definition.switches) {
        bool match = false;
        if (definition.argType == 0) {
            match = compared == name;
        } else if (definition.argType == 1) {
            match = compared.compare(0, name.size(), name) == 0;
        } else {
            if (debugLevel >= 1) {
                kviDebugPrint("tool::parser::CliParserBase::parseInput", 352,
                              "Error : Invalid argument type exsist.\n");
            }
            return 0;
        }
        if (!match) {
            continue;
        }

        // An argument is accepted once; a repetition is left to the other entries.
        if (entry.specified != 0) {
            return 0;
        }
        entry.specified = 1;
        entry.position = index;
        if (definition.argType == 0) {
            std::int32_t next = index + 1;
            while (entry.givenCount < definition.paramCount && next < argc) {
                entry.params.push_back(token(next));
                ++entry.givenCount;
                ++next;
            }
            consumed = next - index - 1;
        } else {
            entry.params.push_back(typed.substr(name.size()));
            ++entry.givenCount;
        }
        return 1;
    }
    return 0;
}

int CliParserBase::checkInput() {
    for (std::uint32_t i = 0; i < entries.size(); ++i) {
        const ArgumentEntry& entry = entries[i];
        if (entry.specified == 0) {
            continue;
        }
        const std::wstring needs = L"Option \"" + canonicalSwitch(i) + L"\" needs " +
                                   decimal(entry.definition.paramCount) + L" parameter at least.";
        if (entry.givenCount != entry.definition.paramCount) {
            reportInvalid(i, needs);
            return 0;
        }
        for (const std::wstring& param : entry.params) {
            if (equalsAnySwitch(param)) {
                reportInvalid(i, needs);
                return 0;
            }
        }
        if (entry.definition.paramChecker != nullptr) {
            std::wstring message;
            if (entry.definition.paramChecker(&entry.params, &message) == 0) {
                reportInvalid(i, message);
                return 0;
            }
        }
        if (checkTogether(i) == 0) {
            return 0;
        }
        if (checkExclusive(i) == 0) {
            return 0;
        }
    }
    for (std::uint32_t i = 0; i < entries.size(); ++i) {
        if (checkRequired(i) == 0) {
            return 0;
        }
    }
    return 1;
}

int CliParserBase::checkTogether(std::uint32_t index) {
    const std::vector<std::uint32_t>& together = entries[index].togetherIndexes;
    std::vector<std::uint32_t> given;
    if (collectSpecified(together, given) != 0) {
        return 1;
    }
    // Every partner is named, given or not.
    std::wstring line = L"Specify ";
    for (std::uint32_t other : together) {
        line += L"\"" + canonicalSwitch(other) + L"\" ";
    }
    line += L" at the same time.";
    reportInvalid(index, line);
    return 0;
}

int CliParserBase::checkExclusive(std::uint32_t index) {
    std::vector<std::uint32_t> given;
    collectSpecified(entries[index].exclusiveIndexes, given);
    if (given.empty()) {
        return 1;
    }
    // Only the conflicting arguments that were given are named.
    std::wstring line = L"Don't specify ";
    for (std::uint32_t other : given) {
        line += L"\"" + canonicalSwitch(other) + L"\" ";
    }
    line += L" at the same time.";
    reportInvalid(index, line);
    return 0;
}

int CliParserBase::checkRequired(std::uint32_t index) {
    // An empty command line never fails for a missing argument.
    if (argc <= 1) {
        return 1;
    }
    const ArgumentEntry& entry = entries[index];
    if (entry.definition.required == 0 || entry.specified != 0) {
        return 1;
    }
    for (std::uint32_t other : entry.exclusiveIndexes) {
        if (isSpecified(other)) {
            return 1;
        }
    }
    clearErrorMessage();
    appendErrorLine(kInvalidArgument);
    appendErrorLine(L"The argument \"" + canonicalSwitch(index) + L"\" is not specified.");
    return 0;
}

int CliParserBase::collectSpecified(const std::vector<std::uint32_t>& list,
                                    std::vector<std::uint32_t>& out) const {
    out.clear();
    int result = 1;
    for (std::uint32_t index : list) {
        if (isSpecified(index)) {
            out.push_back(index);
        } else {
            result = 0;
        }
    }
    return result;
}

std::wstring CliParserBase::token(std::int32_t index) const {
    if (argv == nullptr || index < 0 || index >= argc || argv[index] == nullptr) {
        return std::wstring();
    }
    return std::wstring(argv[index]);
}

std::wstring CliParserBase::canonicalSwitch(std::uint32_t index) const {
    if (index >= entries.size() || entries[index].definition.switches.empty()) {
        return std::wstring();
    }
    return entries[index].definition.switches.front();
}

bool CliParserBase::isSpecified(std::uint32_t index) const {
    return index < entries.size() && entries[index].specified != 0;
}

bool CliParserBase::equalsAnySwitch(const std::wstring& text) const {
    for (const ArgumentEntry& entry : entries) {
        for (const std::wstring& name : entry.definition.switches) {
            if (name == text) {
                return true;
            }
        }
    }
    return false;
}

void CliParserBase::reportInvalid(std::uint32_t index, const std::wstring& lastLine) {
    clearErrorMessage();
    appendErrorLine(kInvalidArgument);
    appendErrorLine(L"The argument \"" + canonicalSwitch(index) + L"\" is invalid.");
    appendErrorLine(lastLine);
}

} // namespace tool::parser
