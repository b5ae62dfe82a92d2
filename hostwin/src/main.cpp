// Host entry: turns the narrow argument vector into wide strings and calls wmain, as the
// Windows runtime does for a program linked with -municode.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    std::vector<std::wstring> wide;
    wide.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) {
        std::wstring w;
        for (const char* p = argv[i]; *p != '\0'; ++p) {
            w.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
        }
        wide.push_back(w);
    }
    std::vector<wchar_t*> pointers;
    for (auto& w : wide) {
        pointers.push_back(w.data());
    }
    pointers.push_back(nullptr);
    return wmain(argc, pointers.data());
}
