// The platform device \\.\vesnara for the host build. Not there yet: every open fails as on a
// machine without the platform driver.
#include "handles.h"

HANDLE CreateFileW(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL DeviceIoControl(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD bytesReturned,
                     LPOVERLAPPED) {
    if (bytesReturned != nullptr) {
        *bytesReturned = 0;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
