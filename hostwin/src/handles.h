// Host build only: the kinds of object behind a HANDLE.
#pragma once

#include <windows.h>

namespace hostwin {

struct HandleObject {
    enum class Kind { Mutex, Device };
    explicit HandleObject(Kind k) : kind(k) {}
    virtual ~HandleObject() = default;
    Kind kind;
};

} // namespace hostwin
