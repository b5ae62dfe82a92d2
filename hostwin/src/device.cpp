// The platform device \\.\vesnara for the host build: the simulated device's requests served
// in-process, from the same configuration, image files and journal as the kernel driver
// (sim/vesnara). The device folder is named by $DURNAVEL_HOST_DEVICE_DIR; without it the device
// is not there, as on a machine without the platform driver; fuzz targets may serve it from
// memory instead (hostwinDevice.h). Configuration, fault switches and journal lines come from
// sim/vesnara/vesnaraCore.h, which sim/vesnara adds to this library.
#include "handles.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "hostwinDevice.h"
#include "vesnaraCore.h"

namespace {

const wchar_t kDeviceName[] = L"\\\\.\\vesnara";
constexpr DWORD kErrorInvalidFunction = 1;

std::string deviceFolder() {
    const char* dir = std::getenv("DURNAVEL_HOST_DEVICE_DIR");
    if (dir == nullptr || *dir == '\0') {
        return {};
    }
    struct stat info {};
    if (::stat(dir, &info) != 0 || !S_ISDIR(info.st_mode)) {
        return {};
    }
    return dir;
}

// The configuration is read afresh before every open and request, as the driver does.
VesnaraConfig readConfig(const std::string& folder) {
    VesnaraConfig config{};
    char text[VESNARA_CONFIG_SIZE];
    std::size_t size = 0;
    int fd = ::open((folder + "/" VESNARA_CONFIG_NAME).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ssize_t n;
        while (size < sizeof(text) && (n = ::read(fd, text + size, sizeof(text) - size)) > 0) {
            size += static_cast<std::size_t>(n);
        }
        ::close(fd);
    }
    vesnaraParseConfig(text, size, &config);
    return config;
}

void journal(const std::string& folder, const char* line, std::size_t length) {
    int fd = ::open((folder + "/" VESNARA_JOURNAL_NAME).c_str(),
                    O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd >= 0) {
        ssize_t written = ::write(fd, line, length);
        (void)written; // a lost journal line fails no request
        ::close(fd);
    }
}

// Reads `count` bytes of the image at `address`; bytes past its end stay as they are (zero).
bool readImage(const std::string& folder, const char* image, std::uint64_t address,
               std::uint32_t count, unsigned char* out) {
    std::string path = vesnaraPathIsAbsolute(image) ? image : folder + "/" + image;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    std::uint32_t done = 0;
    while (done < count) {
        ssize_t n = ::pread(fd, out + done, count - done, static_cast<off_t>(address + done));
        if (n <= 0) {
            break;
        }
        done += static_cast<std::uint32_t>(n);
    }
    ::close(fd);
    return true;
}

// The device served from memory, when a fuzz target asked for it.
struct MemoryDevice {
    HostwinMemory memory;
    VesnaraConfig config;
};
MemoryDevice memoryDevice;
const MemoryDevice* served = nullptr;

// A device handle: on the folder, or on the memory served when it was opened.
struct DeviceObject : hostwin::HandleObject {
    DeviceObject(std::string f, const MemoryDevice* m, std::uint32_t a)
        : HandleObject(Kind::Device), folder(std::move(f)), memory(m), access(a) {}
    ~DeviceObject() override {
        char line[VESNARA_LINE_SIZE];
        write(line, vesnaraFormatClose(line, sizeof(line)));
    }
    VesnaraConfig config() const { return memory != nullptr ? memory->config : readConfig(folder); }
    void write(const char* line, std::size_t length) const {
        if (memory != nullptr) {
            memory->memory.journal(memory->memory.context, line, length);
        } else {
            journal(folder, line, length);
        }
    }
    bool read(const char* image, std::uint64_t address, std::uint32_t count,
              unsigned char* out) const {
        if (memory != nullptr) {
            memory->memory.read(memory->memory.context, address, count, out);
            return true;
        }
        return readImage(folder, image, address, count, out);
    }
    std::string folder;
    const MemoryDevice* memory;
    std::uint32_t access; // as the kernel has it
};

// The open as the kernel hands it to the driver: generic rights mapped to a file's specific
// ones, CreateFileW's disposition in the kernel's numbering (0 when there is none).
VesnaraOpen kernelOpen(DWORD access, DWORD share, DWORD disposition) {
    struct Generic {
        DWORD bit;
        DWORD file;
    };
    const Generic generic[] = {{0x80000000, 0x00120089},  // GENERIC_READ: FILE_GENERIC_READ
                               {0x40000000, 0x00120116},  // GENERIC_WRITE: FILE_GENERIC_WRITE
                               {0x20000000, 0x001200A0},  // GENERIC_EXECUTE
                               {0x10000000, 0x001F01FF}}; // GENERIC_ALL: FILE_ALL_ACCESS
    VesnaraOpen open{};
    open.told = 1;
    open.access = access;
    for (const Generic& g : generic) {
        if ((access & g.bit) != 0) {
            open.access = (open.access & ~g.bit) | g.file;
        }
    }
    open.share = share;
    // CREATE_NEW, CREATE_ALWAYS, OPEN_EXISTING, OPEN_ALWAYS, TRUNCATE_EXISTING.
    const std::uint32_t kernel[] = {2, 5, 1, 3, 4};
    open.disposition = disposition >= 1 && disposition <= 5 ? kernel[disposition - 1] : 0;
    return open;
}

} // namespace

void hostwinServeDeviceFromMemory(const HostwinMemory* memory, const char* config,
                                  std::size_t size) {
    if (memory == nullptr) {
        served = nullptr;
        return;
    }
    memoryDevice.memory = *memory;
    vesnaraParseConfig(config, size, &memoryDevice.config);
    served = &memoryDevice;
}

HANDLE CreateFileW(LPCWSTR fileName, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES,
                   DWORD disposition, DWORD, HANDLE) {
    std::string folder;
    if (fileName == nullptr || std::wcscmp(fileName, kDeviceName) != 0 ||
        (served == nullptr && (folder = deviceFolder()).empty())) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const VesnaraOpen open = kernelOpen(access, share, disposition);
    if (open.disposition == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // The open fault: the device is not there, and leaves no journal line.
    VesnaraConfig config = served != nullptr ? served->config : readConfig(folder);
    if (vesnaraOpenRefused(&config)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto* device = new DeviceObject(folder, served, open.access);
    char line[VESNARA_LINE_SIZE];
    device->write(line, vesnaraFormatOpen(line, sizeof(line), &open));
    SetLastError(ERROR_SUCCESS);
    return device;
}

BOOL DeviceIoControl(HANDLE handle, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize,
                     LPVOID outBuffer, DWORD outBufferSize, LPDWORD bytesReturned, LPOVERLAPPED) {
    if (bytesReturned != nullptr) {
        *bytesReturned = 0;
    }
    auto* object = static_cast<hostwin::HandleObject*>(handle);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
        object->kind != hostwin::HandleObject::Kind::Device) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const DeviceObject& device = *static_cast<DeviceObject*>(object);
    // The access the control code asks of the handle (FILE_READ_ACCESS 1, FILE_WRITE_ACCESS 2),
    // checked by the system before the device sees the request.
    const DWORD needed = (ioControlCode >> 14) & 3;
    if (((needed & 1) != 0 && (device.access & 0x1) == 0) || // FILE_READ_DATA
        ((needed & 2) != 0 && (device.access & 0x2) == 0)) { // FILE_WRITE_DATA
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    VesnaraConfig config = device.config();
    VesnaraRequest request;
    VesnaraResult result =
        vesnaraPlanRequest(&config, ioControlCode, static_cast<const unsigned char*>(inBuffer),
                           inBufferSize, outBuffer != nullptr ? outBufferSize : 0, &request);
    if (result == VESNARA_OK || result == VESNARA_SHORT) {
        auto* out = static_cast<unsigned char*>(outBuffer);
        std::memset(out, 0, outBufferSize);
        if (!device.read(config.image, request.address, vesnaraBytesToRead(&request), out)) {
            result = VESNARA_NO_IMAGE;
        }
    }
    const std::uint32_t reported = vesnaraBytesReported(&request, result);
    char line[VESNARA_LINE_SIZE];
    device.write(line, vesnaraFormatRequest(line, sizeof(line), &request, result, reported));

    switch (result) {
    case VESNARA_OK:
    case VESNARA_SHORT:
        if (bytesReturned != nullptr) {
            *bytesReturned = reported;
        }
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    case VESNARA_BAD_CODE:
        SetLastError(kErrorInvalidFunction);
        return FALSE;
    case VESNARA_BAD_REQUEST:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    default:
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
}
