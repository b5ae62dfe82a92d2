/* The simulated platform device \\.\vesnara: what the kernel driver (vesnara.c) and the host
 * build's in-process device (hostwin/src/device.cpp) share. Both serve physical-memory reads
 * from an image file (file offset X holds physical address X), both read the same
 * configuration file before every open and request, and both write the same journal lines.
 * Freestanding C: no runtime library, so that the kernel driver can use it as it is.
 *
 * Configuration (vesnara.conf in the device folder), one setting a line, '#' starts a comment:
 *   image PATH             the image to serve; a relative PATH is taken from the device folder
 *   fault open             the device is not there: opening it fails with ERROR_FILE_NOT_FOUND
 *   fault refuse [ADDR]    read requests fail (only those starting at ADDR, when given)
 *   fault short [ADDR]     read replies report one byte less than the output buffer
 * ADDR is decimal or 0x-prefixed hexadecimal. Unknown lines are ignored.
 */
#ifndef VESNARA_CORE_H
#define VESNARA_CORE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VESNARA_READ_CONTROL_CODE 0x9C406104u /* type 0x9C40, function 0x841, buffered, read */
#define VESNARA_REQUEST_SIZE 16u              /* u64 address, u32 mode (1), u32 byte count */
#define VESNARA_READ_MODE 1u
#define VESNARA_PATH_SIZE 512u
#define VESNARA_FAULT_SLOTS 16u
#define VESNARA_CONFIG_SIZE 8192u /* bytes of the configuration file that are read */
#define VESNARA_LINE_SIZE 192u    /* room for one journal line */

#define VESNARA_CONFIG_NAME "vesnara.conf"
#define VESNARA_JOURNAL_NAME "journal.txt"

enum VesnaraFaultKind { VESNARA_FAULT_OPEN = 1, VESNARA_FAULT_REFUSE, VESNARA_FAULT_SHORT };

typedef struct VesnaraFault {
    int kind;
    int anyAddress; /* 1: every request; 0: only requests starting at `address` */
    uint64_t address;
} VesnaraFault;

typedef struct VesnaraConfig {
    char image[VESNARA_PATH_SIZE]; /* empty when no image is set */
    unsigned int faultCount;
    VesnaraFault faults[VESNARA_FAULT_SLOTS];
} VesnaraConfig;

/* What became of a request. */
typedef enum VesnaraResult {
    VESNARA_OK = 0,      /* the whole output buffer is reported */
    VESNARA_SHORT,       /* fault switch: one byte less is reported */
    VESNARA_REFUSED,     /* fault switch: the request fails */
    VESNARA_NO_IMAGE,    /* no image set, or it cannot be opened: the request fails */
    VESNARA_BAD_REQUEST, /* wrong input size, mode or output buffer: the request fails */
    VESNARA_BAD_CODE     /* a control code the device does not know: the request fails */
} VesnaraResult;

typedef struct VesnaraRequest {
    uint32_t code;
    uint32_t inSize;
    uint32_t outSize;
    uint64_t address; /* the record's fields; 0 when the input is not a whole record */
    uint32_t mode;
    uint32_t count;
} VesnaraRequest;

/* Reads `size` bytes of configuration text. */
void vesnaraParseConfig(const char* text, size_t size, VesnaraConfig* config);

/* 1 when the configuration makes opening the device fail. */
int vesnaraOpenRefused(const VesnaraConfig* config);

/* 1 when PATH names a file on its own (a Unix or DOS absolute path, or an NT path), 0 when it is
 * taken from the device folder. */
int vesnaraPathIsAbsolute(const char* path);

/* Reads the request record and decides how the request is answered, before the image is read.
 * VESNARA_OK and VESNARA_SHORT mean: read vesnaraBytesToRead(request) bytes of the image at
 * request->address into the output buffer (zeroed first; bytes past the end of the image stay
 * 0) and report vesnaraBytesReported(...). Every other result fails the request. */
VesnaraResult vesnaraPlanRequest(const VesnaraConfig* config, uint32_t code,
                                 const unsigned char* in, uint32_t inSize, uint32_t outSize,
                                 VesnaraRequest* request);
uint32_t vesnaraBytesToRead(const VesnaraRequest* request);
uint32_t vesnaraBytesReported(const VesnaraRequest* request, VesnaraResult result);

/* What the device is told of an open, in the kernel's terms: the desired access with generic
 * rights mapped to a file's (GENERIC_READ | GENERIC_WRITE is 0x0012019F), the share mode, and
 * the create disposition as the kernel numbers it (FILE_OPEN = 1 for CreateFileW's
 * OPEN_EXISTING). `told` is 0 when the open carries only the share mode: Wine hands a driver's
 * IRP_MJ_CREATE no security context (no desired access) and no disposition. */
typedef struct VesnaraOpen {
    int told;
    uint32_t access;
    uint32_t share;
    uint32_t disposition;
} VesnaraOpen;

/* Journal lines, each ended by a line feed; the return value is the length written (the line is
 * cut to fit `size`, which should be VESNARA_LINE_SIZE):
 *   open ok access=0x0012019F share=0x0 disposition=1 | close
 * (access and disposition are "?" when the open did not tell them; an open refused by the open
 * fault leaves no line: the device is not there)
 *   request code=0x9C406104 in=16 out=0x8010 address=0x000F0000 mode=1 count=0x8010
 *       result=ok returned=0x8010                                   (one line)
 * result is one of ok, short, refused, no-image, bad-request, bad-code. */
size_t vesnaraFormatOpen(char* line, size_t size, const VesnaraOpen* open);
size_t vesnaraFormatClose(char* line, size_t size);
size_t vesnaraFormatRequest(char* line, size_t size, const VesnaraRequest* request,
                            VesnaraResult result, uint32_t reported);

#ifdef __cplusplus
}
#endif

#endif
