#include "tool/base/Base.h"

#include <string>

#include "platform/kviDebug.h"
#include "common/Banner.h"

namespace tool {

const char kBaseBanner[] = DURNAVEL_BANNER("tool::Base", "1.01");

namespace {
const std::string kFatalError = "Error : Fatal error occured.\n";
const std::string kAlreadyRunning = "This tool already running.\n";
} // namespace

Base::Base(BaseConfig& config)
    : printer_(config.printer ? std::move(config.printer) : std::make_unique<print::Print>()),
      debugLevel(0), allowMultipleRun_(config.allowMultipleRun) {}

Base::~Base() {
    guard_.reset();
    printer_.reset();
}

int Base::run(int argc, wchar_t* argv[]) {
    int result = 0;
    bool started = true;

    if (argc == 0 || argv == nullptr || argv[0] == nullptr) {
        printer_->print(kFatalError);
        result = 2;
        started = false;
    } else if (!allowMultipleRun_) {
        guard_ = std::make_unique<process::CheckMultipleRun>(std::wstring(argv[0]));
        if (!guard_->check()) {
            printer_->print(kFatalError);
            printer_->print(kAlreadyRunning);
            result = 2;
            started = false;
        }
    }

    if (started) {
        result = initialize(argc, argv);
        if (result == 0) {
            result = execute();
        } else if (result == -1) {
            result = 0;
        }
    }

    if (guard_) {
        guard_->release();
    }

    int finalized = finalize();
    if (finalized != 0 && debugLevel >= 1) {
        kviDebugPrint("tool::Base::run", 116, "Function finalize failed. code = %d\n", finalized);
    }
    return result;
}

} // namespace tool
