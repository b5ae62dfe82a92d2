/* vesnara.sys: the simulated talvenor platform device, an x86_64 kernel driver.
 *
 * Creates \Device\vesnara with the link \DosDevices\vesnara (\\.\vesnara for programs) and
 * answers the physical-memory read request (control code 0x9C406104, buffered I/O, a 16-byte
 * little-endian record: u64 address, u32 mode 1, u32 byte count) from an image file in which
 * file offset X holds physical address X. A request that counts fills and reports the whole
 * output buffer: the bytes asked for come from the image, the rest of the buffer (and anything
 * past the end of the image) is zero.
 *
 * Everything else lives in the device folder C:\vesnara: the configuration vesnara.conf (the
 * image to serve and the fault switches, read again before every open and request, so the
 * image can change while the driver runs) and the journal journal.txt (one line per open,
 * request and close; an open line shows the access, share mode and disposition the driver was
 * told). Their format is in vesnaraCore.h, shared with the host build's device.
 *
 * The open fault makes the device disappear: a watcher thread reads the configuration every
 * 50 ms and removes \DosDevices\vesnara while the fault is set (opening \\.\vesnara then fails
 * with ERROR_FILE_NOT_FOUND, as without the driver; Wine would not fail an open whose
 * IRP_MJ_CREATE the driver refuses), and puts it back when it is cleared. It records the state
 * in C:\vesnara\device.txt ("present" or "absent"), so that whoever switched can wait for it.
 * Image paths may be relative to the device folder, DOS paths (X:\...), NT paths, or Unix paths
 * (/...), which are taken on drive Z:, where Wine shows the Unix root.
 */
#include <ntddk.h>

#include "vesnaraCore.h"

/* Exported by ntoskrnl, not declared by the mingw-w64 kernel headers. */
NTSYSAPI NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE handle, BOOLEAN alertable,
                                              PLARGE_INTEGER timeout);

#define VESNARA_POOL_TAG 0x61736576 /* "vesa" */
#define VESNARA_DEVICE_TYPE 0x9C40

static const WCHAR kDeviceName[] = L"\\Device\\vesnara";
static const WCHAR kLinkName[] = L"\\DosDevices\\vesnara";
static const WCHAR kFolder[] = L"\\??\\C:\\vesnara\\";
static const WCHAR kConfigPath[] = L"\\??\\C:\\vesnara\\vesnara.conf";
static const WCHAR kJournalPath[] = L"\\??\\C:\\vesnara\\journal.txt";
static const WCHAR kStatePath[] = L"\\??\\C:\\vesnara\\device.txt";

#define VESNARA_WATCH_INTERVAL (-50 * 10000LL) /* 50 ms, relative, in units of 100 ns */

static KEVENT stopWatching;
static HANDLE watcher;
static int linkPresent; /* \DosDevices\vesnara exists; changed by the watcher only */

DRIVER_INITIALIZE DriverEntry;
static DRIVER_UNLOAD onUnload;
static DRIVER_DISPATCH onCreate;
static DRIVER_DISPATCH onClose;
static DRIVER_DISPATCH onCleanup;
static DRIVER_DISPATCH onDeviceControl;
static KSTART_ROUTINE watch;

static NTSTATUS openFile(const WCHAR* path, ACCESS_MASK access, ULONG disposition, HANDLE* handle) {
    UNICODE_STRING name;
    OBJECT_ATTRIBUTES attributes;
    IO_STATUS_BLOCK io;
    RtlInitUnicodeString(&name, path);
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL,
                               NULL);
    return ZwCreateFile(handle, access | SYNCHRONIZE, &attributes, &io, NULL, FILE_ATTRIBUTE_NORMAL,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, disposition,
                        FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, NULL, 0);
}

static void readConfig(VesnaraConfig* config) {
    char* text = (char*)ExAllocatePoolWithTag(PagedPool, VESNARA_CONFIG_SIZE, VESNARA_POOL_TAG);
    size_t size = 0;
    HANDLE file;
    if (text != NULL && NT_SUCCESS(openFile(kConfigPath, GENERIC_READ, FILE_OPEN, &file))) {
        IO_STATUS_BLOCK io;
        LARGE_INTEGER offset;
        offset.QuadPart = 0;
        if (NT_SUCCESS(ZwReadFile(file, NULL, NULL, NULL, &io, text, VESNARA_CONFIG_SIZE, &offset,
                                  NULL))) {
            size = io.Information;
        }
        ZwClose(file);
    }
    vesnaraParseConfig(text != NULL ? text : "", size, config);
    if (text != NULL) {
        ExFreePoolWithTag(text, VESNARA_POOL_TAG);
    }
}

/* Appends one line to the journal; a line that cannot be written fails nothing. */
static void journal(const char* line, size_t length) {
    HANDLE file;
    if (NT_SUCCESS(openFile(kJournalPath, FILE_APPEND_DATA, FILE_OPEN_IF, &file))) {
        IO_STATUS_BLOCK io;
        LARGE_INTEGER offset;
        offset.HighPart = -1;
        offset.LowPart = FILE_WRITE_TO_END_OF_FILE;
        ZwWriteFile(file, NULL, NULL, NULL, &io, (PVOID)line, (ULONG)length, &offset, NULL);
        ZwClose(file);
    }
}

/* The NT path of an image named in the configuration. */
static int imagePath(const char* image, WCHAR* path, size_t capacity) {
    const WCHAR* prefix = kFolder;
    size_t n = 0;
    size_t i;
    if (image[0] == '\\') {
        prefix = L"";
    } else if (image[0] == '/') {
        prefix = L"\\??\\Z:";
    } else if (vesnaraPathIsAbsolute(image)) {
        prefix = L"\\??\\";
    }
    for (i = 0; prefix[i] != L'\0'; ++i) {
        path[n++] = prefix[i];
    }
    for (i = 0; image[i] != '\0'; ++i) {
        if (n + 1 >= capacity) {
            return 0;
        }
        path[n++] = image[i] == '/' ? L'\\' : (WCHAR)(unsigned char)image[i];
    }
    path[n] = L'\0';
    return 1;
}

/* Reads `count` bytes of the image at `address` into `out`, which is zero already. */
static int readImage(const char* image, uint64_t address, uint32_t count, unsigned char* out) {
    WCHAR path[VESNARA_PATH_SIZE + 16];
    HANDLE file;
    IO_STATUS_BLOCK io;
    LARGE_INTEGER offset;
    NTSTATUS status;
    if (!imagePath(image, path, sizeof(path) / sizeof(path[0])) ||
        !NT_SUCCESS(openFile(path, GENERIC_READ, FILE_OPEN, &file))) {
        return 0;
    }
    offset.QuadPart = (LONGLONG)address;
    status = count == 0 ? STATUS_SUCCESS
                        : ZwReadFile(file, NULL, NULL, NULL, &io, out, count, &offset, NULL);
    ZwClose(file);
    /* Reading at or past the end of the image gives zeros. */
    return NT_SUCCESS(status) || status == STATUS_END_OF_FILE;
}

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS onCreate(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    PIO_SECURITY_CONTEXT security = stack->Parameters.Create.SecurityContext;
    VesnaraConfig config;
    VesnaraOpen open;
    char line[VESNARA_LINE_SIZE];
    int refused;
    (void)device;
    readConfig(&config);
    refused = vesnaraOpenRefused(&config);
    if (refused) {
        /* Only between a switch and the watcher's next look: the device is not there. */
        return complete(irp, STATUS_OBJECT_NAME_NOT_FOUND, 0);
    }
    /* Windows gives the desired access in the security context and the disposition in the top
     * byte of the options; Wine gives neither (no security context, options without it). */
    open.told = security != NULL;
    open.access = security != NULL ? security->DesiredAccess : 0;
    open.share = stack->Parameters.Create.ShareAccess;
    open.disposition = (stack->Parameters.Create.Options >> 24) & 0xFF;
    journal(line, vesnaraFormatOpen(line, sizeof(line), &open));
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS onClose(PDEVICE_OBJECT device, PIRP irp) {
    char line[VESNARA_LINE_SIZE];
    (void)device;
    journal(line, vesnaraFormatClose(line, sizeof(line)));
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS onCleanup(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS onDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    unsigned char* buffer = (unsigned char*)irp->AssociatedIrp.SystemBuffer;
    unsigned char record[VESNARA_REQUEST_SIZE];
    const unsigned char* in = NULL;
    VesnaraConfig config;
    VesnaraRequest request;
    VesnaraResult result;
    uint32_t reported;
    char line[VESNARA_LINE_SIZE];
    NTSTATUS status;
    ULONG i;
    (void)device;

    /* Input and output share the system buffer: keep the record before the reply overwrites it. */
    if (code == VESNARA_READ_CONTROL_CODE && buffer != NULL && inSize == VESNARA_REQUEST_SIZE) {
        for (i = 0; i < VESNARA_REQUEST_SIZE; ++i) {
            record[i] = buffer[i];
        }
        in = record;
    }
    readConfig(&config);
    result = vesnaraPlanRequest(&config, code, in, inSize, buffer != NULL ? outSize : 0, &request);
    if (result == VESNARA_OK || result == VESNARA_SHORT) {
        RtlZeroMemory(buffer, outSize);
        if (!readImage(config.image, request.address, vesnaraBytesToRead(&request), buffer)) {
            result = VESNARA_NO_IMAGE;
        }
    }
    reported = vesnaraBytesReported(&request, result);
    journal(line, vesnaraFormatRequest(line, sizeof(line), &request, result, reported));

    switch (result) {
    case VESNARA_OK:
    case VESNARA_SHORT:
        status = STATUS_SUCCESS;
        break;
    case VESNARA_BAD_CODE:
        status = STATUS_INVALID_DEVICE_REQUEST;
        break;
    case VESNARA_BAD_REQUEST:
        status = STATUS_INVALID_PARAMETER;
        break;
    default:
        status = STATUS_UNSUCCESSFUL;
        break;
    }
    return complete(irp, status, NT_SUCCESS(status) ? reported : 0);
}

static void writeState(int present) {
    HANDLE file;
    if (NT_SUCCESS(openFile(kStatePath, GENERIC_WRITE, FILE_OVERWRITE_IF, &file))) {
        IO_STATUS_BLOCK io;
        const char* text = present ? "present\n" : "absent\n";
        ZwWriteFile(file, NULL, NULL, NULL, &io, (PVOID)text, present ? 8 : 7, NULL, NULL);
        ZwClose(file);
    }
}

static void setLink(int present) {
    UNICODE_STRING name;
    UNICODE_STRING link;
    if (present == linkPresent) {
        return;
    }
    RtlInitUnicodeString(&link, kLinkName);
    if (present) {
        RtlInitUnicodeString(&name, kDeviceName);
        if (!NT_SUCCESS(IoCreateSymbolicLink(&link, &name))) {
            return;
        }
    } else {
        IoDeleteSymbolicLink(&link);
    }
    linkPresent = present;
}

static void watch(PVOID context) {
    LARGE_INTEGER interval;
    int recorded = -1;
    (void)context;
    interval.QuadPart = VESNARA_WATCH_INTERVAL;
    for (;;) {
        VesnaraConfig config;
        readConfig(&config);
        setLink(!vesnaraOpenRefused(&config));
        if (recorded != linkPresent) {
            writeState(linkPresent);
            recorded = linkPresent;
        }
        if (KeWaitForSingleObject(&stopWatching, Executive, KernelMode, FALSE, &interval) ==
            STATUS_SUCCESS) {
            break;
        }
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

static void onUnload(PDRIVER_OBJECT driver) {
    KeSetEvent(&stopWatching, IO_NO_INCREMENT, FALSE);
    if (watcher != NULL) {
        ZwWaitForSingleObject(watcher, FALSE, NULL);
        ZwClose(watcher);
        watcher = NULL;
    }
    setLink(0);
    writeState(0);
    if (driver->DeviceObject != NULL) {
        IoDeleteDevice(driver->DeviceObject);
    }
}

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    UNICODE_STRING name;
    UNICODE_STRING link;
    PDEVICE_OBJECT device;
    OBJECT_ATTRIBUTES attributes;
    NTSTATUS status;
    (void)registryPath;

    RtlInitUnicodeString(&name, kDeviceName);
    status = IoCreateDevice(driver, 0, &name, VESNARA_DEVICE_TYPE, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    RtlInitUnicodeString(&link, kLinkName);
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = onCreate;
    driver->MajorFunction[IRP_MJ_CLOSE] = onClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = onCleanup;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = onDeviceControl;
    driver->DriverUnload = onUnload;
    linkPresent = 1;
    device->Flags |= DO_BUFFERED_IO;
    device->Flags &= ~DO_DEVICE_INITIALIZING;

    KeInitializeEvent(&stopWatching, NotificationEvent, FALSE);
    InitializeObjectAttributes(&attributes, NULL, OBJ_KERNEL_HANDLE, NULL, NULL);
    status =
        PsCreateSystemThread(&watcher, THREAD_ALL_ACCESS, &attributes, NULL, NULL, watch, NULL);
    if (!NT_SUCCESS(status)) {
        watcher = NULL;
        onUnload(driver);
        return status;
    }
    return STATUS_SUCCESS;
}
