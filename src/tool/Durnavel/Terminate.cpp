// The handler the C++ runtime calls when an exception leaves the program (out of memory is the one
// the tool can meet). It writes what the runtime's own default handler writes to standard error,
// then aborts:
//
//   terminate called after throwing an instance of 'std::bad_alloc'
//     what():  std::bad_alloc
//
// The runtime's handler turns the type's mangled name into that text with a general demangler of
// some 50 KB, which would then be a sixth of the program. The tool can only ever throw the
// runtime's own exception types, all directly in namespace std, and those names are read here;
// any other name is written as the runtime has it. Linked into Durnavel.exe only (Windows builds
// with the static GNU runtime), where it takes the place of the runtime's handler.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <exception>
#include <typeinfo>

namespace {

// "St9bad_alloc" (namespace std, a name of 9 characters) is std::bad_alloc.
void writeTypeName(const char* name) {
    if (name[0] == 'S' && name[1] == 't') {
        const char* at = name + 2;
        std::size_t length = 0;
        while (*at >= '0' && *at <= '9' && length < 1000) {
            length = length * 10 + static_cast<std::size_t>(*at - '0');
            ++at;
        }
        if (length != 0 && at != name + 2 && *at != '0' && std::strlen(at) == length) {
            std::fputs("std::", stderr);
            std::fputs(at, stderr);
            return;
        }
    }
    std::fputs(name, stderr);
}

} // namespace

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    static bool terminating = false;
    if (terminating) {
        std::fputs("terminate called recursively\n", stderr);
        std::abort();
    }
    terminating = true;
    const std::type_info* type = abi::__cxa_current_exception_type();
    if (type == nullptr) {
        std::fputs("terminate called without an active exception\n", stderr);
        std::abort();
    }
    std::fputs("terminate called after throwing an instance of '", stderr);
    writeTypeName(type->name());
    std::fputs("'\n", stderr);
    try {
        throw;
    } catch (const std::exception& e) {
        std::fputs("  what():  ", stderr);
        std::fputs(e.what(), stderr);
        std::fputs("\n", stderr);
    } catch (...) {
    }
    std::abort();
}

} // namespace __gnu_cxx
