#pragma once

#include <cstdint>
#include <string>

namespace tool::util {

// Gate of the text conversion's diagnostic line (written only at 1 or more; starts at 0).
extern std::int32_t debugLevel;

// Converts narrow text to wide text with the current conversion locale. On a conversion error
// `out` is left as it was and false is returned. True when the whole input (terminating NUL
// included) was converted.
bool StringToWString(const std::string& in, std::wstring& out);

} // namespace tool::util
