#pragma once

#include <windows.h>

#include <cstdint>

#include "tool/base/ModuleBase.h"

namespace tool::graphics {

// The two entry points of nvcpl.dll; both answer non-zero on success.
typedef BOOL(__cdecl* NvCplGetDataInt_t)(LONG index, LONG* value);
typedef BOOL(__cdecl* NvCplSetDataInt_t)(LONG index, LONG value);

// Names of the control-panel library and its entry points.
extern const char* const kNvCplLibraryName;
extern const char* const kNvCplGetDataIntName;
extern const char* const kNvCplSetDataIntName;

// Loads nvcpl.dll and holds its two entry points; the library counts as loaded only when both
// were found.
class NvCplFunc : public ModuleBase {
  public:
    NvCplFunc();
    ~NvCplFunc() override;

    // Loads the library once; true when loaded.
    bool setup();
    // Frees the library and forgets the entry points.
    void unload();

    bool isLoaded() const { return loaded_ != 0; }
    NvCplGetDataInt_t getDataInt() const { return getDataInt_; }
    NvCplSetDataInt_t setDataInt() const { return setDataInt_; }

  private:
    HMODULE module_;
    std::int32_t loaded_;
    NvCplGetDataInt_t getDataInt_;
    NvCplSetDataInt_t setDataInt_;
};

} // namespace tool::graphics
