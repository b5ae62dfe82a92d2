#include "tool/util/StringToWString.h"

#include <windows.h>

#include <cstdlib>
#include <vector>

#include "platform/kviDebug.h"

namespace tool::util {

std::int32_t debugLevel = 0;

bool StringToWString(const std::string& in, std::wstring& out) {
    const std::size_t n = in.size() + 1;
    std::vector<wchar_t> buffer(n, L'\0');
    std::size_t converted = 0;
    errno_t e = mbstowcs_s(&converted, buffer.data(), n, in.c_str(), n);
    if (e != 0) {
        if (debugLevel >= 1) {
            kviDebugPrint("tool::util::StringToWString", 344,
                          "Error : Failed to mbstowcs_s(). detail code : %d.\n", e);
        }
        return false;
    }
    out.assign(buffer.data());
    return converted == n;
}

} // namespace tool::util
