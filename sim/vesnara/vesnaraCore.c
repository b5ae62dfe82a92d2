/* The simulated platform device: configuration, request decisions and journal lines shared by
 * the kernel driver and the host build's device. See vesnaraCore.h. */
#include "vesnaraCore.h"

static int isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

static int sameWord(const char* word, size_t length, const char* literal) {
    size_t i = 0;
    for (; i < length; ++i) {
        if (literal[i] == '\0' || literal[i] != word[i]) {
            return 0;
        }
    }
    return literal[i] == '\0';
}

/* Decimal or 0x-prefixed hexadecimal; 0 when the text is not a number that fits. */
static int parseNumber(const char* text, size_t length, uint64_t* value) {
    uint64_t result = 0;
    unsigned int base = 10;
    size_t i = 0;
    if (length > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i >= length) {
        return 0;
    }
    for (; i < length; ++i) {
        char c = text[i];
        unsigned int digit;
        if (c >= '0' && c <= '9') {
            digit = (unsigned int)(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = (unsigned int)(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = (unsigned int)(c - 'A' + 10);
        } else {
            return 0;
        }
        if (digit >= base || result > (UINT64_MAX - digit) / base) {
            return 0;
        }
        result = result * base + digit;
    }
    *value = result;
    return 1;
}

/* One line of configuration, without its line feed. */
static void parseLine(const char* line, size_t length, VesnaraConfig* config) {
    size_t at = 0;
    size_t keyStart, keyLength, end;
    while (at < length && isBlank(line[at])) {
        ++at;
    }
    if (at >= length || line[at] == '#') {
        return;
    }
    end = length;
    while (end > at && isBlank(line[end - 1])) {
        --end;
    }
    keyStart = at;
    while (at < end && !isBlank(line[at])) {
        ++at;
    }
    keyLength = at - keyStart;
    while (at < end && isBlank(line[at])) {
        ++at;
    }

    if (sameWord(line + keyStart, keyLength, "image")) {
        size_t n = end - at;
        size_t i;
        if (n >= VESNARA_PATH_SIZE) {
            n = VESNARA_PATH_SIZE - 1;
        }
        for (i = 0; i < n; ++i) {
            config->image[i] = line[at + i];
        }
        config->image[n] = '\0';
    } else if (sameWord(line + keyStart, keyLength, "fault")) {
        VesnaraFault fault;
        size_t kindStart = at;
        size_t kindLength;
        while (at < end && !isBlank(line[at])) {
            ++at;
        }
        kindLength = at - kindStart;
        while (at < end && isBlank(line[at])) {
            ++at;
        }
        if (sameWord(line + kindStart, kindLength, "open")) {
            fault.kind = VESNARA_FAULT_OPEN;
        } else if (sameWord(line + kindStart, kindLength, "refuse")) {
            fault.kind = VESNARA_FAULT_REFUSE;
        } else if (sameWord(line + kindStart, kindLength, "short")) {
            fault.kind = VESNARA_FAULT_SHORT;
        } else {
            return;
        }
        fault.anyAddress = at >= end;
        fault.address = 0;
        if (!fault.anyAddress && !parseNumber(line + at, end - at, &fault.address)) {
            return;
        }
        if (config->faultCount < VESNARA_FAULT_SLOTS) {
            config->faults[config->faultCount++] = fault;
        }
    }
}

void vesnaraParseConfig(const char* text, size_t size, VesnaraConfig* config) {
    size_t start = 0;
    size_t i;
    config->image[0] = '\0';
    config->faultCount = 0;
    for (i = 0; i <= size; ++i) {
        if (i == size || text[i] == '\n') {
            parseLine(text + start, i - start, config);
            start = i + 1;
        }
    }
}

static int hasFault(const VesnaraConfig* config, int kind, uint64_t address) {
    unsigned int i;
    for (i = 0; i < config->faultCount; ++i) {
        const VesnaraFault* fault = &config->faults[i];
        if (fault->kind == kind && (fault->anyAddress || fault->address == address)) {
            return 1;
        }
    }
    return 0;
}

int vesnaraOpenRefused(const VesnaraConfig* config) {
    unsigned int i;
    for (i = 0; i < config->faultCount; ++i) {
        if (config->faults[i].kind == VESNARA_FAULT_OPEN) {
            return 1;
        }
    }
    return 0;
}

int vesnaraPathIsAbsolute(const char* path) {
    if (path[0] == '/' || path[0] == '\\') {
        return 1;
    }
    return ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
           path[1] == ':';
}

static uint64_t littleEndian(const unsigned char* at, unsigned int width) {
    uint64_t value = 0;
    unsigned int i;
    for (i = width; i > 0; --i) {
        value = (value << 8) | at[i - 1];
    }
    return value;
}

VesnaraResult vesnaraPlanRequest(const VesnaraConfig* config, uint32_t code,
                                 const unsigned char* in, uint32_t inSize, uint32_t outSize,
                                 VesnaraRequest* request) {
    request->code = code;
    request->inSize = inSize;
    request->outSize = outSize;
    request->address = 0;
    request->mode = 0;
    request->count = 0;
    if (code != VESNARA_READ_CONTROL_CODE) {
        return VESNARA_BAD_CODE;
    }
    if (inSize != VESNARA_REQUEST_SIZE || in == NULL) {
        return VESNARA_BAD_REQUEST;
    }
    request->address = littleEndian(in, 8);
    request->mode = (uint32_t)littleEndian(in + 8, 4);
    request->count = (uint32_t)littleEndian(in + 12, 4);
    if (request->mode != VESNARA_READ_MODE || outSize == 0) {
        return VESNARA_BAD_REQUEST;
    }
    if (hasFault(config, VESNARA_FAULT_REFUSE, request->address)) {
        return VESNARA_REFUSED;
    }
    if (config->image[0] == '\0') {
        return VESNARA_NO_IMAGE;
    }
    if (hasFault(config, VESNARA_FAULT_SHORT, request->address)) {
        return VESNARA_SHORT;
    }
    return VESNARA_OK;
}

uint32_t vesnaraBytesToRead(const VesnaraRequest* request) {
    return request->count < request->outSize ? request->count : request->outSize;
}

uint32_t vesnaraBytesReported(const VesnaraRequest* request, VesnaraResult result) {
    if (result == VESNARA_OK) {
        return request->outSize;
    }
    if (result == VESNARA_SHORT) {
        return request->outSize - 1;
    }
    return 0;
}

/* A small text builder that never writes past its buffer and always ends the text. */
typedef struct Line {
    char* text;
    size_t size;
    size_t length;
} Line;

static void put(Line* line, const char* text) {
    while (*text != '\0' && line->length + 1 < line->size) {
        line->text[line->length++] = *text++;
    }
    if (line->size > 0) {
        line->text[line->length] = '\0';
    }
}

static void putHex(Line* line, uint64_t value, unsigned int minDigits) {
    static const char digits[] = "0123456789ABCDEF";
    char text[19];
    char reversed[16];
    unsigned int n = 0;
    unsigned int i;
    do {
        reversed[n++] = digits[value & 0xF];
        value >>= 4;
    } while (value != 0 && n < 16);
    while (n < minDigits && n < 16) {
        reversed[n++] = '0';
    }
    text[0] = '0';
    text[1] = 'x';
    for (i = 0; i < n; ++i) {
        text[2 + i] = reversed[n - 1 - i];
    }
    text[2 + n] = '\0';
    put(line, text);
}

static void putDecimal(Line* line, uint32_t value) {
    char reversed[10];
    char text[11];
    unsigned int n = 0;
    unsigned int i;
    do {
        reversed[n++] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (i = 0; i < n; ++i) {
        text[i] = reversed[n - 1 - i];
    }
    text[n] = '\0';
    put(line, text);
}

static const char* resultName(VesnaraResult result) {
    switch (result) {
    case VESNARA_OK:
        return "ok";
    case VESNARA_SHORT:
        return "short";
    case VESNARA_REFUSED:
        return "refused";
    case VESNARA_NO_IMAGE:
        return "no-image";
    case VESNARA_BAD_REQUEST:
        return "bad-request";
    case VESNARA_BAD_CODE:
        return "bad-code";
    }
    return "?";
}

size_t vesnaraFormatOpen(char* text, size_t size, const VesnaraOpen* open) {
    Line line = {text, size, 0};
    put(&line, "open ok access=");
    if (open->told) {
        putHex(&line, open->access, 8);
    } else {
        put(&line, "?");
    }
    put(&line, " share=");
    putHex(&line, open->share, 1);
    put(&line, " disposition=");
    if (open->told) {
        putDecimal(&line, open->disposition);
    } else {
        put(&line, "?");
    }
    put(&line, "\n");
    return line.length;
}

size_t vesnaraFormatClose(char* text, size_t size) {
    Line line = {text, size, 0};
    put(&line, "close\n");
    return line.length;
}

size_t vesnaraFormatRequest(char* text, size_t size, const VesnaraRequest* request,
                            VesnaraResult result, uint32_t reported) {
    Line line = {text, size, 0};
    put(&line, "request code=");
    putHex(&line, request->code, 8);
    put(&line, " in=");
    putDecimal(&line, request->inSize);
    put(&line, " out=");
    putHex(&line, request->outSize, 1);
    put(&line, " address=");
    putHex(&line, request->address, 8);
    put(&line, " mode=");
    putDecimal(&line, request->mode);
    put(&line, " count=");
    putHex(&line, request->count, 1);
    put(&line, " result=");
    put(&line, resultName(result));
    put(&line, " returned=");
    putHex(&line, reported, 1);
    put(&line, "\n");
    return line.length;
}
