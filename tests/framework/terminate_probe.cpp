// Lets the exception named by the first argument leave the program, with standard error sent to
// standard output. Built twice: with the C++ runtime's own terminate handler and with the one
// Durnavel.exe carries; the two must write the same.
#include <io.h>

#include <cstdio>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>

int wmain(int argc, wchar_t* argv[]) {
    _dup2(_fileno(stdout), _fileno(stderr));
    const std::wstring what = argc > 1 ? argv[1] : L"";
    if (what == L"bad_alloc") {
        throw std::bad_alloc();
    } else if (what == L"bad_array_new_length") {
        throw std::bad_array_new_length();
    } else if (what == L"length_error") {
        throw std::length_error("basic_string::_M_create");
    } else if (what == L"out_of_range") {
        throw std::out_of_range("basic_string::substr");
    } else if (what == L"logic_error") {
        throw std::logic_error("basic_string: construction from null is not valid");
    } else if (what == L"invalid_argument") {
        throw std::invalid_argument("");
    }
    std::terminate();
}
