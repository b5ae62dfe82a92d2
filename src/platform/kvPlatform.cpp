#include "platform/kvPlatform.h"

#include <cstring>

#include "platform/kvOemstring.h"
#include "platform/kviDebug.h"
#include "common/Banner.h"

const char kKvPlatformBanner[] = DURNAVEL_BANNER("kvPlatform", "1.19");

std::int32_t kvPlatformDebugLevel = 0;

namespace {

const char kFunction[] = "kvPlatformGetPlatformIdEx";
constexpr std::size_t kStringSize = 32;
constexpr unsigned int kOemPlatform = 2;
constexpr unsigned int kOemRevision = 4;
constexpr std::size_t kCodeLength = 3;

struct Cache {
    std::int32_t known;
    char platformCode[4];
    std::int32_t revision;
};
Cache cache;

// Platform code for an OEM string 2 that names none: taken from the system manufacturer.
struct ManufacturerCode {
    const char* manufacturer;
    const char* code;
};
const ManufacturerCode kManufacturers[] = {
    {"NEC", "QTD"},
    {"Supermicro", "QTF"},
    {"Advantech", "QTF"},
};

// The platform code from OEM string 2, or from the manufacturer; empty when neither names one.
void platformCodeOf(const char* oemPlatform, char* code) {
    std::memset(code, 0, 4);
    if (std::strcmp(oemPlatform, "QTD") == 0 || std::strcmp(oemPlatform, "QTF") == 0) {
        std::memcpy(code, oemPlatform, kCodeLength);
        return;
    }
    char manufacturer[kStringSize];
    if (kvOemstringGetManufacturer(manufacturer) != 0) {
        return;
    }
    for (const ManufacturerCode& entry : kManufacturers) {
        if (std::strcmp(manufacturer, entry.manufacturer) == 0) {
            std::memcpy(code, entry.code, kCodeLength);
            return;
        }
    }
}

// The revision from the revision text, or 0 when the text gives none.
std::int32_t revisionOf(const char* code, const char* text) {
    const std::size_t length = std::strlen(text);
    if (std::strcmp(code, "QTD") == 0 && (length == 0 || std::strcmp(text, " ") == 0)) {
        return 1;
    }
    if (std::strcmp(code, "QTF") == 0 && length == 0) {
        return 1;
    }
    if (length < kCodeLength) {
        if (kvPlatformDebugLevel >= 1) {
            kviDebugPrint(kFunction, 1618, "Oemstring length Error!!\n");
        }
        return 0;
    }
    if (std::memcmp(text, code, kCodeLength) != 0) {
        if (kvPlatformDebugLevel >= 1) {
            kviDebugPrint(kFunction, 1624, "Oemstring compare Error!!\n");
        }
        return 0;
    }
    for (std::size_t i = kCodeLength; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            if (kvPlatformDebugLevel >= 1) {
                kviDebugPrint(kFunction, 1636, "Oemstring format Error!!\n");
            }
            return 0;
        }
    }
    // A revision beyond the signed 32-bit range is no revision.
    std::int32_t revision = 0;
    for (std::size_t i = kCodeLength; i < length; ++i) {
        const std::int32_t digit = text[i] - '0';
        if (revision > (INT32_MAX - digit) / 10) {
            return 0;
        }
        revision = revision * 10 + digit;
    }
    return revision;
}

bool identify() {
    char oemPlatform[kStringSize];
    int result = kvOemstringGetOemstring(oemPlatform, kOemPlatform);
    if (result != 0) {
        if (kvPlatformDebugLevel >= 1) {
            kviDebugPrint(kFunction, 1559, "kvOemstringGetOemstring Error!! (%d)\n", result);
        }
        return false;
    }
    char code[4];
    platformCodeOf(oemPlatform, code);

    char revisionText[kStringSize];
    result = kvOemstringGetOemstring(revisionText, kOemRevision);
    if (result != 0) {
        if (kvPlatformDebugLevel >= 1) {
            kviDebugPrint(kFunction, 1591, "kvOemstringGetOemstring Error!! (%d)\n", result);
        }
        return false;
    }
    const std::int32_t revision = revisionOf(code, revisionText);
    if (revision == 0) {
        return false;
    }
    std::memcpy(cache.platformCode, code, sizeof(cache.platformCode));
    cache.revision = revision;
    return true;
}

void copyCache(KvPlatformId* id) {
    std::memcpy(id->platformCode, cache.platformCode, sizeof(id->platformCode));
    id->revision = cache.revision;
}

} // namespace

int kvPlatformGetPlatformIdEx(KvPlatformId* id) {
    if (id == nullptr) {
        if (kvPlatformDebugLevel >= 1) {
            kviDebugPrint(kFunction, 1542, "PARAM Error!!\n");
        }
        return -2;
    }
    if (cache.known != 0) {
        copyCache(id);
        return 0;
    }
    if (identify()) {
        cache.known = 1;
        copyCache(id);
        return 0;
    }
    std::memset(cache.platformCode, 0, sizeof(cache.platformCode));
    cache.revision = 0;
    copyCache(id);
    return -3;
}

void kvPlatformResetForTest() {
    std::memset(&cache, 0, sizeof(cache));
}
