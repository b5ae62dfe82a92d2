#include "tool/graphics/NvCplFunc.h"

#include "platform/kviDebug.h"
#include "tool/util/SystemLibrary.h"

namespace tool::graphics {

// Set up before main runs (constant initialisation).
const char* const kNvCplLibraryName = "nvcpl.dll";
const char* const kNvCplGetDataIntName = "NvCplGetDataInt";
const char* const kNvCplSetDataIntName = "NvCplSetDataInt";

namespace {

const char kSetup[] = "tool::graphics::NvCplFunc::setup";

template <typename Fn> Fn procAddress(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

} // namespace

NvCplFunc::NvCplFunc() : module_(nullptr), loaded_(0), getDataInt_(nullptr), setDataInt_(nullptr) {}

NvCplFunc::~NvCplFunc() {
    unload();
}

bool NvCplFunc::setup() {
    if (loaded_ != 0) {
        return true;
    }
    module_ = util::LoadSystemLibrary(kNvCplLibraryName);
    if (module_ == nullptr) {
        if (debugLevel >= 1) {
            kviDebugPrint(kSetup, __LINE__, "LoadLibraryA failed. ErrorCode = %d, LibName = %s.\n",
                          static_cast<int>(GetLastError()), kNvCplLibraryName);
        }
        return false;
    }
    getDataInt_ = procAddress<NvCplGetDataInt_t>(module_, kNvCplGetDataIntName);
    if (getDataInt_ == nullptr) {
        if (debugLevel >= 1) {
            kviDebugPrint(kSetup, __LINE__,
                          "GetProcAddress failed. ErrorCode = %d, FunctionName = %s.\n",
                          static_cast<int>(GetLastError()), kNvCplGetDataIntName);
        }
    } else {
        setDataInt_ = procAddress<NvCplSetDataInt_t>(module_, kNvCplSetDataIntName);
        if (setDataInt_ == nullptr) {
            if (debugLevel >= 1) {
                kviDebugPrint(kSetup, __LINE__,
                              "GetProcAddress failed. ErrorCode = %d, FunctionName = %s.\n",
                              static_cast<int>(GetLastError()), kNvCplSetDataIntName);
            }
        } else {
            loaded_ = 1;
        }
    }
    if (loaded_ == 0) {
        unload();
    }
    return loaded_ != 0;
}

void NvCplFunc::unload() {
    if (module_ != nullptr) {
        FreeLibrary(module_);
        module_ = nullptr;
    }
    getDataInt_ = nullptr;
    setDataInt_ = nullptr;
    loaded_ = 0;
}

} // namespace tool::graphics
