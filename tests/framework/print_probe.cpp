// Writes narrow and wide texts through the console printer in the order given by the
// arguments: a word starting with 'n' goes out narrow, one starting with 'w' goes out wide; the
// word "x" ends the process on the spot, as a crash would, without flushing anything (exit 3).
#include <string>

#include "support/TestSupport.h"
#include "tool/print/Print.h"

int wmain(int argc, wchar_t* argv[]) {
    tool::print::Print printer;
    for (int i = 1; i < argc; ++i) {
        std::wstring word = argv[i];
        if (word.empty()) {
            continue;
        }
        if (word == L"x") {
            testsupport::endProcessNow(3);
        }
        std::wstring text = word.substr(1) + L"|";
        if (word[0] == L'n') {
            printer.print(std::string(text.begin(), text.end()));
        } else {
            printer.print(text);
        }
    }
    // A wide text with an embedded NUL: only the part before it is written.
    printer.print(std::wstring(L"ab\0c", 4));
    printer.print(std::string("xy\0z", 4));
    return 0;
}
