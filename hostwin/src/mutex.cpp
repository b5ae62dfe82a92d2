// Named mutex over a lock file. A name is a file in the lock folder
// ($DURNAVEL_HOST_LOCK_DIR, or durnavel-host-locks in the temporary folder); holding the name
// means holding an exclusive flock() on that file through the returned handle. A second holder,
// in this process or another, finds the lock taken: it gets a handle and ERROR_ALREADY_EXISTS,
// as CreateMutexW answers for a name that exists. Like Windows, which refuses a backslash in a
// mutex name (error 3), the host refuses names it cannot use as a file name; a forward slash,
// an ordinary character of a Windows name, is kept in the file name as %2F (and % as %25).
#include "handles.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct MutexObject : hostwin::HandleObject {
    explicit MutexObject(int f) : HandleObject(Kind::Mutex), fd(f) {}
    ~MutexObject() override { ::close(fd); }
    int fd;
};

std::string lockFolder() {
    if (const char* dir = std::getenv("DURNAVEL_HOST_LOCK_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/durnavel-host-locks";
}

// The name as a file name, or false when the host cannot use it as one.
bool fileNameOf(LPCWSTR name, std::string& out) {
    out.clear();
    for (const wchar_t* p = name; *p != L'\0'; ++p) {
        wchar_t c = *p;
        if (c == L'\\' || c < 0x20 || c > 0x7E) {
            return false;
        }
        if (c == L'/') {
            out += "%2F";
        } else if (c == L'%') {
            out += "%25";
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return !out.empty() && out != "." && out != ".." && out.size() < NAME_MAX;
}

} // namespace

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL, LPCWSTR name) {
    std::string file;
    if (name == nullptr || !fileNameOf(name, file)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    std::string folder = lockFolder();
    if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    int fd = ::open((folder + "/" + file).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    DWORD error = ERROR_SUCCESS;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = (errno == EWOULDBLOCK) ? ERROR_ALREADY_EXISTS : ERROR_ACCESS_DENIED;
    }
    SetLastError(error);
    return new MutexObject(fd);
}

BOOL CloseHandle(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete static_cast<hostwin::HandleObject*>(handle);
    return TRUE;
}
