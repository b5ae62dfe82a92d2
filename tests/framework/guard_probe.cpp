// Asks the single-instance guard for the name given as first argument, as a second process
// would. Prints "pass" and exits 0 when the guard lets it run, prints "refused" and exits 1
// when another process holds the name.
#include <iostream>
#include <string>

#include "tool/process/CheckMultipleRun.h"

int wmain(int argc, wchar_t* argv[]) {
    if (argc < 2) {
        return 2;
    }
    tool::process::CheckMultipleRun guard{std::wstring(argv[1])};
    bool pass = guard.check();
    std::cout << (pass ? "pass" : "refused");
    return pass ? 0 : 1;
}
