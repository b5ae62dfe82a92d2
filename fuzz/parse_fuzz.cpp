// Feeds arbitrary command lines to the tool's parser and checks that every answer is one of the
// documented ones.
//
// Input: words separated by 0x00 bytes; the first word is the program path. A byte below 0x80
// is one wide character; a byte with its high bit set takes the next byte along as the low half
// of one wide character, so words carry non-ASCII characters but never a NUL.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tool/Durnavel/CliParser.h"
#include "tool/Durnavel/ToolRequest.h"

namespace {

std::vector<std::wstring> wordsOf(const std::uint8_t* data, std::size_t size) {
    std::vector<std::wstring> words;
    std::wstring current;
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned int byte = data[i];
        if (byte == 0) {
            words.push_back(current);
            current.clear();
        } else if (byte >= 0x80 && i + 1 < size) {
            current.push_back(static_cast<wchar_t>((byte << 8) | data[++i]));
        } else {
            current.push_back(static_cast<wchar_t>(byte));
        }
    }
    words.push_back(current);
    return words;
}

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::wstring> words = wordsOf(data, size);
    std::vector<const wchar_t*> argv;
    for (const std::wstring& word : words) {
        argv.push_back(word.c_str());
    }
    argv.push_back(nullptr);

    tool::parser::CliParser parser(static_cast<std::int32_t>(words.size()), argv.data());
    const int parsed = parser.parse();
    tool::ToolRequest request{7, 7};
    const int answer = parser.getRequest(&request);
    const std::wstring help = parser.getHelpMessage();
    const std::wstring version = parser.getVersionMessage();
    const std::wstring error = parser.getErrorMessage();

    require(parsed == parser.isParsed());
    require(help.compare(0, version.size(), version) == 0);
    require((parsed == 1) == error.empty());
    require(error.empty() || error.compare(0, 26, L"Error : Invalid argument.\n") == 0);
    if (answer == 0) {
        require(parsed == 1);
        require(request.mode == 0 || request.mode == 1);
        require(request.value == 0 || request.value == 1 || request.value == 3);
        require(request.mode == 1 || request.value == 0);
    } else {
        require(answer == 1 || answer == 2);
        require(request.mode == 7 && request.value == 7);
    }
    return 0;
}
