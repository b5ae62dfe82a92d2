#pragma once

#include <cstdint>

namespace tool {

// What the command line asks the tool to do.
struct ToolRequest {
    std::int32_t mode = 0;  // 0 show the current value, 1 set it
    std::int32_t value = 0; // the value to set; meaningful only when mode is 1
};

} // namespace tool
