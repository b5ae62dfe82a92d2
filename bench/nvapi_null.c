/* The benchmark's do-nothing NVAPI library (nvapi.dll, nvapi64.dll in a 64-bit build): it
 * answers the driver-settings calls Durnavel makes from memory, with no file, journal or fault
 * switch, so that a run against it costs the tool's own work and the library load only. The
 * base profile starts empty in every process (a show reads the default 3) and a set changes
 * only the process's copy.
 *
 * Everything here is written from NVIDIA's public NVAPI SDK: the interface IDs
 * (nvapi_interface.h), the status codes and the records NVDRS_PROFILE and NVDRS_SETTING
 * (nvapi.h, version 1 of each). The calling convention of every entry point is __cdecl. */
#include <stdint.h>
#include <string.h>

#define NVAPI_OK 0
#define NVAPI_INVALID_ARGUMENT (-5)
#define NVAPI_END_ENUMERATION (-7)
#define NVAPI_INVALID_HANDLE (-8)
#define NVAPI_INCOMPATIBLE_STRUCT_VERSION (-9)
#define NVAPI_ERROR (-1)

/* Version words: record size | version << 16. */
#define PROFILE_VERSION 0x11014u /* NVDRS_PROFILE, 0x1014 bytes */
#define SETTING_VERSION 0x13020u /* NVDRS_SETTING, 0x3020 bytes */

/* NVDRS_PROFILE: u32 version, 2048 UTF-16 name, gpuSupport, isPredefined, numOfApps, then: */
#define PROFILE_NUM_SETTINGS 0x1010
#define PROFILE_SIZE 0x1014

/* NVDRS_SETTING: u32 version, 2048 UTF-16 name, then these fields. */
#define SETTING_ID 0x1004
#define SETTING_TYPE 0x1008 /* 0: a 32-bit value */
#define SETTING_CURRENT_VALUE 0x201C
#define SETTING_SIZE 0x3020

#define CAPACITY 64

typedef int32_t Status;

static struct {
    uint32_t id;
    uint32_t value;
} g_settings[CAPACITY];
static uint32_t g_count;
static int g_session;
static int g_profile;

static uint32_t readU32(const void* record, size_t offset) {
    uint32_t value;
    memcpy(&value, (const unsigned char*)record + offset, sizeof value);
    return value;
}

static void writeU32(void* record, size_t offset, uint32_t value) {
    memcpy((unsigned char*)record + offset, &value, sizeof value);
}

static Status __cdecl initialize(void) {
    return NVAPI_OK;
}

static Status __cdecl unload(void) {
    return NVAPI_OK;
}

static Status __cdecl createSession(void** session) {
    if (session == NULL) {
        return NVAPI_INVALID_ARGUMENT;
    }
    *session = &g_session;
    return NVAPI_OK;
}

static Status __cdecl sessionOnly(void* session) {
    return session == &g_session ? NVAPI_OK : NVAPI_INVALID_HANDLE;
}

static Status __cdecl getBaseProfile(void* session, void** profile) {
    if (session != &g_session) {
        return NVAPI_INVALID_HANDLE;
    }
    if (profile == NULL) {
        return NVAPI_INVALID_ARGUMENT;
    }
    *profile = &g_profile;
    return NVAPI_OK;
}

static Status __cdecl getProfileInfo(void* session, void* profile, void* info) {
    if (session != &g_session || profile != &g_profile) {
        return NVAPI_INVALID_HANDLE;
    }
    if (info == NULL) {
        return NVAPI_INVALID_ARGUMENT;
    }
    if (readU32(info, 0) != PROFILE_VERSION) {
        return NVAPI_INCOMPATIBLE_STRUCT_VERSION;
    }
    memset((unsigned char*)info + 4, 0, PROFILE_SIZE - 4);
    writeU32(info, PROFILE_NUM_SETTINGS, g_count);
    return NVAPI_OK;
}

static Status __cdecl enumSettings(void* session, void* profile, uint32_t start, uint32_t* count,
                                   void* settings) {
    uint32_t i;
    uint32_t n;
    if (session != &g_session || profile != &g_profile) {
        return NVAPI_INVALID_HANDLE;
    }
    if (count == NULL || settings == NULL) {
        return NVAPI_INVALID_ARGUMENT;
    }
    if (start >= g_count) {
        *count = 0;
        return NVAPI_END_ENUMERATION;
    }
    n = g_count - start < *count ? g_count - start : *count;
    for (i = 0; i < n; ++i) {
        unsigned char* record = (unsigned char*)settings + (size_t)i * SETTING_SIZE;
        if (readU32(record, 0) != SETTING_VERSION) {
            return NVAPI_INCOMPATIBLE_STRUCT_VERSION;
        }
        /* Everything zero (a 32-bit value of the base profile) but the ID and the value. */
        memset(record + 4, 0, SETTING_SIZE - 4);
        writeU32(record, SETTING_ID, g_settings[start + i].id);
        writeU32(record, SETTING_CURRENT_VALUE, g_settings[start + i].value);
    }
    *count = n;
    return NVAPI_OK;
}

static Status __cdecl setSetting(void* session, void* profile, const void* setting) {
    uint32_t id;
    uint32_t i;
    if (session != &g_session || profile != &g_profile) {
        return NVAPI_INVALID_HANDLE;
    }
    if (setting == NULL) {
        return NVAPI_INVALID_ARGUMENT;
    }
    if (readU32(setting, 0) != SETTING_VERSION) {
        return NVAPI_INCOMPATIBLE_STRUCT_VERSION;
    }
    if (readU32(setting, SETTING_TYPE) != 0) {
        return NVAPI_INVALID_ARGUMENT;
    }
    id = readU32(setting, SETTING_ID);
    for (i = 0; i < g_count && g_settings[i].id != id; ++i) {
    }
    if (i == g_count) {
        if (g_count == CAPACITY) {
            return NVAPI_ERROR;
        }
        ++g_count;
        g_settings[i].id = id;
    }
    g_settings[i].value = readU32(setting, SETTING_CURRENT_VALUE);
    return NVAPI_OK;
}

__declspec(dllexport) void* __cdecl nvapi_QueryInterface(uint32_t id) {
    switch (id) {
    case 0x0150E828: /* NvAPI_Initialize */
        return (void*)initialize;
    case 0xD22BDD7E: /* NvAPI_Unload */
        return (void*)unload;
    case 0x0694D52E: /* NvAPI_DRS_CreateSession */
        return (void*)createSession;
    case 0x375DBD6B: /* NvAPI_DRS_LoadSettings */
    case 0xFCBC7E14: /* NvAPI_DRS_SaveSettings */
    case 0xDAD9CFF8: /* NvAPI_DRS_DestroySession */
        return (void*)sessionOnly;
    case 0xDA8466A0: /* NvAPI_DRS_GetBaseProfile */
        return (void*)getBaseProfile;
    case 0x61CD6FD6: /* NvAPI_DRS_GetProfileInfo */
        return (void*)getProfileInfo;
    case 0xAE3039DA: /* NvAPI_DRS_EnumSettings */
        return (void*)enumSettings;
    case 0x577DD202: /* NvAPI_DRS_SetSetting */
        return (void*)setSetting;
    default:
        return NULL;
    }
}
