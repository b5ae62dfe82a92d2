#include "platform/kviDebug.h"

#include <cstdarg>

#include "common/Banner.h"

const char kKviDebugBanner[] = DURNAVEL_BANNER("kviDebug", "1.00");

namespace {
std::FILE* outputStream = nullptr;
KviDebugHook outputHook = nullptr;
} // namespace

void kviDebugSetStream(std::FILE* stream) {
    outputStream = stream;
}

void kviDebugSetHook(KviDebugHook hook) {
    outputHook = hook;
}

int kviDebugPrint(const char* functionName, int line, const char* format, ...) {
    char buffer[1024];
    int prefix = std::snprintf(buffer, sizeof(buffer), "%s: Line%d  ",
                               functionName != nullptr ? functionName : "", line);
    if (prefix < 0) {
        buffer[0] = '\0';
        prefix = 0;
    } else if (prefix > static_cast<int>(sizeof(buffer)) - 1) {
        prefix = static_cast<int>(sizeof(buffer)) - 1;
    }

    va_list args;
    va_start(args, format);
    int result;
    if (outputHook != nullptr) {
        std::vsnprintf(buffer + prefix, sizeof(buffer) - static_cast<std::size_t>(prefix), format,
                       args);
        result = outputHook(buffer);
    } else {
        std::FILE* stream = outputStream != nullptr ? outputStream : stderr;
        result = std::fprintf(stream, "%s", buffer);
        if (result >= 0) {
            result = std::vfprintf(stream, format, args);
        }
    }
    va_end(args);
    return result;
}
