// mbstowcs_s as the Microsoft runtime defines it: converts at most `count` characters (or up
// to the terminating NUL) into `dest`, always NUL-terminates, reports the characters written
// including the NUL, and empties `dest` on failure.
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cwchar>

errno_t mbstowcs_s(std::size_t* converted, wchar_t* dest, std::size_t destSize, const char* src,
                   std::size_t count) {
    if (converted != nullptr) {
        *converted = 0;
    }
    if (src == nullptr || (dest == nullptr && destSize != 0) ||
        (dest != nullptr && destSize == 0)) {
        return EINVAL;
    }
    std::mbstate_t state{};
    std::size_t written = 0;
    const char* p = src;
    while (written < count) {
        wchar_t wc = 0;
        std::size_t n = std::mbrtowc(&wc, p, MB_LEN_MAX, &state);
        if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
            if (dest != nullptr) {
                dest[0] = L'\0';
            }
            return EILSEQ;
        }
        if (n == 0) {
            break; // terminating NUL of the input
        }
        if (dest != nullptr) {
            if (written + 1 >= destSize) {
                dest[0] = L'\0';
                return ERANGE;
            }
            dest[written] = wc;
        }
        ++written;
        p += n;
    }
    if (dest != nullptr) {
        dest[written] = L'\0';
    }
    if (converted != nullptr) {
        *converted = written + 1;
    }
    return 0;
}
