#include "tool/process/CheckMultipleRun.h"

#include <windows.h>

#include "common/Banner.h"

namespace tool::process {

const char kCheckMultipleRunBanner[] = DURNAVEL_BANNER("tool::process::CheckMultipleRun", "1.00");

struct CheckMultipleRun::Record {
    HANDLE mutex = nullptr;
    std::wstring name;
};

CheckMultipleRun::CheckMultipleRun(const std::wstring& name)
    : record_(std::make_unique<Record>()), held_(false) {
    record_->name = name;
}

CheckMultipleRun::~CheckMultipleRun() {
    if (record_->mutex != nullptr) {
        CloseHandle(record_->mutex);
        record_->mutex = nullptr;
    }
    held_ = false;
}

int CheckMultipleRun::createMutex() {
    HANDLE handle = CreateMutexW(nullptr, TRUE, record_->name.c_str());
    DWORD error = GetLastError();
    if (record_->mutex != nullptr) {
        // Only reached when check() runs again without release(): do not leak the old handle.
        CloseHandle(record_->mutex);
    }
    record_->mutex = handle;
    if (error == 0) {
        return 0;
    }
    if (error == ERROR_ALREADY_EXISTS) {
        return 1;
    }
    return 2;
}

bool CheckMultipleRun::check() {
    if (held_) {
        return true;
    }
    int r = createMutex();
    if (r == 1) {
        held_ = false;
        release();
        return false;
    }
    held_ = true;
    return true;
}

void CheckMultipleRun::release() {
    if (record_->mutex != nullptr) {
        CloseHandle(record_->mutex);
        record_->mutex = nullptr;
    }
    held_ = false;
}

} // namespace tool::process
