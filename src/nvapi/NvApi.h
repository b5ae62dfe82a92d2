// Client side of NVIDIA's NVAPI: the driver library (nvapi.dll, or nvapi64.dll in a 64-bit process)
// is loaded by NvAPI_Initialize and reached only through its export nvapi_QueryInterface, which
// hands out the entry points by 32-bit interface ID. The functions below carry the entry points'
// own names and signatures; each returns the driver's status (0 success, negative failure).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

typedef std::int32_t NvAPI_Status;
typedef std::uint32_t NvU32;

// Statuses the layer itself produces.
enum : NvAPI_Status {
    NVAPI_OK = 0,
    NVAPI_ERROR = -1,
    NVAPI_LIBRARY_NOT_FOUND = -2,
    NVAPI_NO_IMPLEMENTATION = -3,
    NVAPI_API_NOT_INITIALIZED = -4,
    NVAPI_INCOMPATIBLE_STRUCT_VERSION = -9,
    NVAPI_NOT_SUPPORTED = -104,
};

// Opaque driver handles.
typedef struct NvDRSSessionHandle__* NvDRSSessionHandle;
typedef struct NvDRSProfileHandle__* NvDRSProfileHandle;

const std::size_t NVAPI_UNICODE_STRING_MAX = 2048;
const std::size_t NVAPI_BINARY_DATA_MAX = 4096;

// UTF-16 text of the driver records (wchar_t is not 16 bits everywhere).
typedef std::uint16_t NvAPI_UnicodeString[NVAPI_UNICODE_STRING_MAX];

// Profile description.
struct NVDRS_PROFILE {
    NvU32 version;
    NvAPI_UnicodeString profileName;
    NvU32 gpuSupport;
    NvU32 isPredefined;
    NvU32 numOfApps;
    NvU32 numOfSettings;
};

struct NVDRS_BINARY_SETTING {
    NvU32 valueLength;
    std::uint8_t valueData[NVAPI_BINARY_DATA_MAX];
};

union NVDRS_SETTING_VALUE {
    NvU32 u32Value;
    NVDRS_BINARY_SETTING binaryValue;
    NvAPI_UnicodeString wszValue;
};

// One driver setting.
struct NVDRS_SETTING {
    NvU32 version;
    NvAPI_UnicodeString settingName;
    NvU32 settingId;
    NvU32 settingType;
    NvU32 settingLocation;
    NvU32 isCurrentPredefined;
    NvU32 isPredefinedValid;
    NVDRS_SETTING_VALUE predefinedValue;
    NVDRS_SETTING_VALUE currentValue;
};

// Version word: record size in the low 16 bits, record version 1 above them.
const NvU32 NVDRS_PROFILE_VER = 0x11014;
const NvU32 NVDRS_SETTING_VER = 0x13020;
const NvU32 NVDRS_DWORD_TYPE = 0;

// The driver reads and writes these records as raw memory: the layout is fixed.
static_assert(sizeof(NVDRS_PROFILE) == 0x1014, "NVDRS_PROFILE size");
static_assert(offsetof(NVDRS_PROFILE, version) == 0x0, "NVDRS_PROFILE.version");
static_assert(offsetof(NVDRS_PROFILE, profileName) == 0x4, "NVDRS_PROFILE.profileName");
static_assert(offsetof(NVDRS_PROFILE, gpuSupport) == 0x1004, "NVDRS_PROFILE.gpuSupport");
static_assert(offsetof(NVDRS_PROFILE, isPredefined) == 0x1008, "NVDRS_PROFILE.isPredefined");
static_assert(offsetof(NVDRS_PROFILE, numOfApps) == 0x100C, "NVDRS_PROFILE.numOfApps");
static_assert(offsetof(NVDRS_PROFILE, numOfSettings) == 0x1010, "NVDRS_PROFILE.numOfSettings");
static_assert((NVDRS_PROFILE_VER & 0xFFFF) == sizeof(NVDRS_PROFILE), "NVDRS_PROFILE_VER");

static_assert(sizeof(NVDRS_SETTING_VALUE) == 4100, "NVDRS_SETTING_VALUE size");
static_assert(sizeof(NVDRS_SETTING) == 0x3020, "NVDRS_SETTING size");
static_assert(offsetof(NVDRS_SETTING, version) == 0x0, "NVDRS_SETTING.version");
static_assert(offsetof(NVDRS_SETTING, settingName) == 0x4, "NVDRS_SETTING.settingName");
static_assert(offsetof(NVDRS_SETTING, settingId) == 0x1004, "NVDRS_SETTING.settingId");
static_assert(offsetof(NVDRS_SETTING, settingType) == 0x1008, "NVDRS_SETTING.settingType");
static_assert(offsetof(NVDRS_SETTING, settingLocation) == 0x100C, "NVDRS_SETTING.settingLocation");
static_assert(offsetof(NVDRS_SETTING, isCurrentPredefined) == 0x1010,
              "NVDRS_SETTING.isCurrentPredefined");
static_assert(offsetof(NVDRS_SETTING, isPredefinedValid) == 0x1014,
              "NVDRS_SETTING.isPredefinedValid");
static_assert(offsetof(NVDRS_SETTING, predefinedValue) == 0x1018, "NVDRS_SETTING.predefinedValue");
static_assert(offsetof(NVDRS_SETTING, currentValue) == 0x201C, "NVDRS_SETTING.currentValue");
static_assert((NVDRS_SETTING_VER & 0xFFFF) == sizeof(NVDRS_SETTING), "NVDRS_SETTING_VER");

// Handles are pointer-sized (4 bytes in the 32-bit product).
static_assert(sizeof(NvDRSSessionHandle) == sizeof(void*), "session handle size");
static_assert(sizeof(NvDRSProfileHandle) == sizeof(void*), "profile handle size");

// Interface IDs of the entry points this program uses.
enum : NvU32 {
    NVAPI_ID_INITIALIZE = 0x0150E828,
    NVAPI_ID_UNLOAD = 0xD22BDD7E,
    NVAPI_ID_PRE_CALL_HOOK = 0x33C7358C,
    NVAPI_ID_POST_CALL_HOOK = 0x593E8644,
    NVAPI_ID_DRS_CREATE_SESSION = 0x0694D52E,
    NVAPI_ID_DRS_LOAD_SETTINGS = 0x375DBD6B,
    NVAPI_ID_DRS_GET_BASE_PROFILE = 0xDA8466A0,
    NVAPI_ID_DRS_GET_PROFILE_INFO = 0x61CD6FD6,
    NVAPI_ID_DRS_ENUM_SETTINGS = 0xAE3039DA,
    NVAPI_ID_DRS_SET_SETTING = 0x577DD202,
    NVAPI_ID_DRS_SAVE_SETTINGS = 0xFCBC7E14,
    NVAPI_ID_DRS_DESTROY_SESSION = 0xDAD9CFF8,
};

// What nvapi.dll hands out. Every NVAPI function uses the C calling convention.
typedef void*(__cdecl* NvAPI_QueryInterface_t)(NvU32 id);
typedef NvAPI_Status(__cdecl* NvAPI_Initialize_t)();
typedef NvAPI_Status(__cdecl* NvAPI_Unload_t)();
// Called around every table entry point: the pre-call hook may fill the two context words, which
// are handed to the post-call hook together with the entry point's result. This is their 32-bit
// form; 64-bit Windows builds do not use them (NvApi.cpp).
typedef NvAPI_Status(__cdecl* NvAPI_PreCallHook_t)(NvU32 id, NvU32* context);
typedef NvAPI_Status(__cdecl* NvAPI_PostCallHook_t)(NvU32 id, NvU32 context0, NvU32 context1,
                                                    NvAPI_Status result);
typedef NvAPI_Status(__cdecl* NvAPI_DRS_CreateSession_t)(NvDRSSessionHandle* session);
typedef NvAPI_Status(__cdecl* NvAPI_DRS_LoadSettings_t)(NvDRSSessionHandle session);
typedef NvAPI_Status(__cdecl* NvAPI_DRS_GetBaseProfile_t)(NvDRSSessionHandle session,
                                                          NvDRSProfileHandle* profile);
typedef NvAPI_Status(__cdecl* NvAPI_DRS_GetProfileInfo_t)(NvDRSSessionHandle session,
                                                          NvDRSProfileHandle profile,
                                                          NVDRS_PROFILE* info);
typedef NvAPI_Status(__cdecl* NvAPI_DRS_EnumSettings_t)(NvDRSSessionHandle session,
                                                        NvDRSProfileHandle profile,
                                                        NvU32 startIndex, NvU32* settingsCount,
                                                        NVDRS_SETTING* settings);
typedef NvAPI_Status(__cdecl* NvAPI_DRS_SetSetting_t)(NvDRSSessionHandle session,
                                                      NvDRSProfileHandle profile,
                                                      NVDRS_SETTING* setting);
typedef NvAPI_Status(__cdecl* NvAPI_DRS_SaveSettings_t)(NvDRSSessionHandle session);
typedef NvAPI_Status(__cdecl* NvAPI_DRS_DestroySession_t)(NvDRSSessionHandle session);

// Loads nvapi.dll (once), resolves nvapi_QueryInterface and initialises the driver interface.
// 0 success, -1 load or initialisation failure, -2 nvapi.dll absent.
NvAPI_Status NvAPI_Initialize();
// Shuts the driver interface down and frees nvapi.dll. 0 success, -1 the driver refused,
// -3 the driver has no unload entry, -4 not initialised.
NvAPI_Status NvAPI_Unload();

// Table entry points: -3 when the driver does not provide the entry point (or nothing is
// loaded); otherwise the driver's own status.
NvAPI_Status NvAPI_DRS_CreateSession(NvDRSSessionHandle* session);
NvAPI_Status NvAPI_DRS_LoadSettings(NvDRSSessionHandle session);
NvAPI_Status NvAPI_DRS_GetBaseProfile(NvDRSSessionHandle session, NvDRSProfileHandle* profile);
NvAPI_Status NvAPI_DRS_GetProfileInfo(NvDRSSessionHandle session, NvDRSProfileHandle profile,
                                      NVDRS_PROFILE* info);
NvAPI_Status NvAPI_DRS_EnumSettings(NvDRSSessionHandle session, NvDRSProfileHandle profile,
                                    NvU32 startIndex, NvU32* settingsCount,
                                    NVDRS_SETTING* settings);
NvAPI_Status NvAPI_DRS_SetSetting(NvDRSSessionHandle session, NvDRSProfileHandle profile,
                                  NVDRS_SETTING* setting);
NvAPI_Status NvAPI_DRS_SaveSettings(NvDRSSessionHandle session);
NvAPI_Status NvAPI_DRS_DestroySession(NvDRSSessionHandle session);
