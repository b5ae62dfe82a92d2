#pragma once

#include <cstdint>
#include <memory>

#include "tool/print/Print.h"
#include "tool/process/CheckMultipleRun.h"

namespace tool {

extern const char kBaseBanner[];

// Construction record of a tool. The printer, when present, is handed over to the tool.
struct BaseConfig {
    bool allowMultipleRun = false;
    std::unique_ptr<print::Print> printer;
};

// The application skeleton. run() drives the fixed stage sequence and turns the stage results
// into the process exit code; a derived tool supplies initialize, finalize and execute.
class Base {
  public:
    explicit Base(BaseConfig& config);
    virtual ~Base();

    Base(const Base&) = delete;
    Base& operator=(const Base&) = delete;

    // Meant to be called once per object. Returns the exit code.
    int run(int argc, wchar_t* argv[]);

  protected:
    // 0: go on with execute. -1: done, skip execute (exit code 0). Other: the exit code.
    virtual int initialize(int argc, wchar_t* argv[]) = 0;
    // 0 on success; any other value is only logged.
    virtual int finalize() = 0;
    // The exit code.
    virtual int execute() = 0;

    print::Print& printer() { return *printer_; }

  private:
    std::unique_ptr<print::Print> printer_;
    std::unique_ptr<process::CheckMultipleRun> guard_;

  public:
    // Gate of the diagnostic lines of the tool object (written only at 1 or more).
    std::int32_t debugLevel;

  private:
    bool allowMultipleRun_;
};

} // namespace tool
