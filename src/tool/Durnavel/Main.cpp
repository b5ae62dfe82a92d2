#include "tool/Durnavel/Main.h"

#include <cstring>
#include <string>

#include "platform/kviDebug.h"
#include "platform/kvPlatform.h"
#include "tool/Durnavel/CliParser.h"
#include "tool/Durnavel/Version.h"
#include "common/Banner.h"
#include "tool/graphics/NvApiDrsMgr.h"
#include "tool/graphics/NvCplDrsMgr.h"

namespace tool {

const char kDurnavelBanner[] = DURNAVEL_BANNER("Durnavel", DURNAVEL_VERSION);

namespace {
const std::string kSetAccessError = "Error : Cannot set muximum pre-rendered frames setting.\n";
const std::string kGetAccessError = "Error : Cannot get muximum pre-rendered frames setting.\n";
const std::string kTalvenorOnly = "This tool supports talvenor only.\n";
const std::string kSetDone = "Succeed in setting.\n";
const std::uint64_t kFramesBit = 0x20;
} // namespace

Main::Main(BaseConfig& config) : Base(config), request_{0, 0} {}

Main::~Main() {
    drsMgr_.reset();
}

void Main::printAccessError() {
    printer().print(request_.mode == 1 ? kSetAccessError : kGetAccessError);
}

int Main::initialize(int argc, wchar_t* argv[]) {
    parser::CliParser parser(argc, argv);
    if (parser.parse() == 0 && debugLevel >= 1) {
        kviDebugPrint("tool::Main::initialize", 101, "Error : Failed to parse.\n");
    }

    switch (parser.getRequest(&request_)) {
    case 0:
        break;
    case 2:
        printer().print(parser.getHelpMessage());
        return -1;
    case 3:
        printer().print(parser.getVersionMessage());
        return -1;
    default:
        printer().print(parser.getErrorMessage());
        return 1;
    }

    KvPlatformId platform{};
    if (kvPlatformGetPlatformIdEx(&platform) != 0 ||
        std::memcmp(platform.platformCode, "QTD", 4) != 0) {
        printAccessError();
        printer().print(kTalvenorOnly);
        return 2;
    }

    if (platform.revision == 1) {
        drsMgr_ = std::make_unique<graphics::NvCplDrsMgr>();
    } else {
        drsMgr_ = std::make_unique<graphics::NvApiDrsMgr>();
    }
    if (!drsMgr_->initialize()) {
        printAccessError();
        printer().print(drsMgr_->getErrorMessage());
        return 2;
    }
    return 0;
}

int Main::execute() {
    graphics::DrsParam param{};
    if (request_.mode == 1) {
        param.maximumPrerenderedFrames = request_.value;
        param.enableSettings = kFramesBit;
        if (!drsMgr_->set(param)) {
            printAccessError();
            printer().print(drsMgr_->getErrorMessage());
            return 2;
        }
        printer().print(kSetDone);
        return 0;
    }

    if (!drsMgr_->get(param)) {
        printAccessError();
        printer().print(drsMgr_->getErrorMessage());
        return 2;
    }
    printer().print("Current muximum pre-rendered frames value is " +
                    std::to_string(static_cast<std::uint32_t>(param.maximumPrerenderedFrames)) +
                    ".\n");
    return 0;
}

int Main::finalize() {
    if (drsMgr_) {
        drsMgr_->finalize();
    }
    return 0;
}

} // namespace tool
