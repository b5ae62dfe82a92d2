#pragma once

#include <memory>
#include <string>

#include "tool/base/ModuleBase.h"

namespace tool::process {

extern const char kCheckMultipleRunBanner[];

// Keeps a second copy of a tool from running while one runs: the first process creates a
// named mutex and holds its handle; a process that finds the name in use is refused.
class CheckMultipleRun : public ModuleBase {
  public:
    explicit CheckMultipleRun(const std::wstring& name);
    ~CheckMultipleRun() override;

    // True when this process may run.
    virtual bool check();
    // Gives the name up; harmless when nothing is held.
    virtual void release();
    // 0 created, 1 the name already exists, 2 any other result.
    virtual int createMutex();

  private:
    struct Record;
    std::unique_ptr<Record> record_;
    bool held_;
};

} // namespace tool::process
