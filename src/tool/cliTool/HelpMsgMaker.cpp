#include "tool/cliTool/HelpMsgMaker.h"

#include "common/Banner.h"

namespace tool::cliTool {

const char kHelpMsgMakerBanner[] = DURNAVEL_BANNER("tool::cliTool::HelpMsgMaker", "1.00");

namespace {

// Column of the first usage item when the program name fits its field, and the indentation of
// the usage continuation lines.
const std::size_t kUsageIndent = 24;
const std::size_t kProgramNameField = 21;
const std::size_t kSwitchIndent = 6;
const std::size_t kSwitchField = 12;
const std::size_t kDescriptionIndent = 18;

// The line being assembled, with the layout operations the builder needs.
class LineBuffer {
  public:
    explicit LineBuffer(std::wstring& result) : result_(result) {}

    void write(const std::wstring& text) { line_ += text; }
    void write(wchar_t c) { line_ += c; }
    void blanks(std::size_t n) { line_.append(n, L' '); }

    // Left-aligned in a field of n characters; a longer text is written whole.
    void padded(const std::wstring& text, std::size_t n) {
        line_ += text;
        if (text.size() < n) {
            line_.append(n - text.size(), L' ');
        }
    }

    bool longerThan(std::int32_t width) const {
        return static_cast<long long>(line_.size()) > static_cast<long long>(width);
    }

    // Ends the line and hands it to the result.
    void flush() {
        line_ += L'\n';
        result_ += line_;
        line_.clear();
    }

    // Hands the unfinished line to the result as it is.
    void flushWithoutNewline() {
        result_ += line_;
        line_.clear();
    }

  private:
    std::wstring& result_;
    std::wstring line_;
};

} // namespace

HelpMsgMaker::HelpMsgMaker(const HelpSource& source) {
    if (make(source) == 0) {
        message_.clear();
    }
}

HelpMsgMaker::~HelpMsgMaker() {
    message_.clear();
}

std::wstring HelpMsgMaker::getMessage() const {
    return message_;
}

int HelpMsgMaker::make(const HelpSource& source) {
    std::wstring result = source.versionText;
    result += L"\nUSAGE:\n";
    LineBuffer line(result);

    line.blanks(3);
    line.padded(source.programName, kProgramNameField);
    for (const HelpItem& item : source.items) {
        if (item.hidden != 0) {
            continue;
        }
        line.write(L'[');
        line.write(item.switchName);
        for (std::int32_t i = 0; i < item.paramCount; ++i) {
            if (item.separated != 0) {
                line.write(L' ');
            }
            line.write(L'[');
            line.write(item.paramName);
            line.write(L']');
        }
        line.write(L']');
        // The item that crosses the limit stays on its line; the break comes after it.
        if (line.longerThan(source.width)) {
            line.flush();
            line.blanks(kUsageIndent);
        } else {
            line.write(L' ');
        }
    }
    line.flushWithoutNewline();
    result += L"\nOPTIONS:\n";

    for (const HelpItem& item : source.items) {
        line.blanks(kSwitchIndent);
        line.padded(item.switchName, kSwitchField);
        for (wchar_t c : item.description) {
            // A line breaks at a line feed, or at the first blank once it is past the width;
            // the character that causes the break is dropped.
            if (c == L'\n' || (c == L' ' && line.longerThan(source.width))) {
                line.flush();
                line.blanks(kDescriptionIndent);
            } else {
                line.write(c);
            }
        }
        line.flush();
    }

    result += L"\n";
    result += source.examplesText;
    message_ = result;
    return 1;
}

} // namespace tool::cliTool
