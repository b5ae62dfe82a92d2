#include "nvapi/NvApi.h"

#include "tool/util/SystemLibrary.h"

namespace {

typedef void (*AnyFunction)();

// The table entries this program uses; each is looked up at most once per load.
enum EntryIndex {
    ENTRY_DRS_CREATE_SESSION,
    ENTRY_DRS_LOAD_SETTINGS,
    ENTRY_DRS_GET_BASE_PROFILE,
    ENTRY_DRS_GET_PROFILE_INFO,
    ENTRY_DRS_ENUM_SETTINGS,
    ENTRY_DRS_SET_SETTING,
    ENTRY_DRS_SAVE_SETTINGS,
    ENTRY_DRS_DESTROY_SESSION,
    ENTRY_COUNT
};

struct TableEntry {
    NvU32 id;
    AnyFunction entry;
    bool tried;
};

// The process-wide client state.
struct NvApiClient {
    HMODULE module = nullptr;
    NvAPI_QueryInterface_t query = nullptr;
    NvAPI_PreCallHook_t preCall = nullptr;
    NvAPI_PostCallHook_t postCall = nullptr;
    TableEntry table[ENTRY_COUNT] = {
        {NVAPI_ID_DRS_CREATE_SESSION, nullptr, false},
        {NVAPI_ID_DRS_LOAD_SETTINGS, nullptr, false},
        {NVAPI_ID_DRS_GET_BASE_PROFILE, nullptr, false},
        {NVAPI_ID_DRS_GET_PROFILE_INFO, nullptr, false},
        {NVAPI_ID_DRS_ENUM_SETTINGS, nullptr, false},
        {NVAPI_ID_DRS_SET_SETTING, nullptr, false},
        {NVAPI_ID_DRS_SAVE_SETTINGS, nullptr, false},
        {NVAPI_ID_DRS_DESTROY_SESSION, nullptr, false},
    };
};

NvApiClient client;

// The driver gives 32-bit processes nvapi.dll and 64-bit processes nvapi64.dll; a process can
// load only the one of its own width. src/nvapi/CMakeLists.txt names it (DURNAVEL_NVAPI_DLL).
const char kLibraryName[] = DURNAVEL_NVAPI_DLL;
// Whether this build brackets table calls with the driver's call-report hooks. Their argument
// layout is fixed only for 32-bit x86 (__cdecl: every argument a stack word, so one 64-bit
// context or two 32-bit words are the same bytes). A 64-bit Windows driver could read the post
// hook's arguments either way, so that build neither looks the hooks up nor calls them.
constexpr bool kCallHooks = DURNAVEL_NVAPI_CALL_HOOKS != 0;
const char kQueryName[] = "nvapi_QueryInterface";

template <typename Fn> Fn queryAs(NvU32 id) {
    return reinterpret_cast<Fn>(reinterpret_cast<AnyFunction>(client.query(id)));
}

void resetTable() {
    for (TableEntry& e : client.table) {
        e.entry = nullptr;
        e.tried = false;
    }
}

// Forgets everything that points into the library and frees it. Entry points and hooks cached
// from an earlier load must not outlive the library they point into.
void dropLibrary() {
    client.query = nullptr;
    client.preCall = nullptr;
    client.postCall = nullptr;
    resetTable();
    if (client.module != nullptr) {
        FreeLibrary(client.module);
        client.module = nullptr;
    }
}

template <typename Fn, typename... Args> NvAPI_Status callEntry(EntryIndex index, Args... args) {
    TableEntry& e = client.table[index];
    if (client.query != nullptr && e.entry == nullptr && !e.tried) {
        e.entry = reinterpret_cast<AnyFunction>(client.query(e.id));
        e.tried = true;
    }
    if (e.entry == nullptr) {
        return NVAPI_NO_IMPLEMENTATION;
    }
    NvU32 context[2] = {0, 0};
    if (client.preCall != nullptr) {
        client.preCall(e.id, context);
    }
    NvAPI_Status result = reinterpret_cast<Fn>(e.entry)(args...);
    if (client.postCall != nullptr) {
        client.postCall(e.id, context[0], context[1], result);
    }
    return result;
}

} // namespace

NvAPI_Status NvAPI_Initialize() {
    if (client.module == nullptr) {
        client.module = tool::util::LoadSystemLibrary(kLibraryName);
        if (client.module == nullptr) {
            return NVAPI_LIBRARY_NOT_FOUND;
        }
    }
    client.query = reinterpret_cast<NvAPI_QueryInterface_t>(
        reinterpret_cast<AnyFunction>(GetProcAddress(client.module, kQueryName)));
    if (client.query == nullptr) {
        dropLibrary();
        return NVAPI_ERROR;
    }
    NvAPI_Initialize_t initialize = queryAs<NvAPI_Initialize_t>(NVAPI_ID_INITIALIZE);
    if (initialize == nullptr || initialize() != NVAPI_OK) {
        dropLibrary();
        return NVAPI_ERROR;
    }
    // The hooks are optional and work only as a pair.
    if (kCallHooks) {
        client.preCall = queryAs<NvAPI_PreCallHook_t>(NVAPI_ID_PRE_CALL_HOOK);
        client.postCall = queryAs<NvAPI_PostCallHook_t>(NVAPI_ID_POST_CALL_HOOK);
        if (client.preCall == nullptr || client.postCall == nullptr) {
            client.preCall = nullptr;
            client.postCall = nullptr;
        }
    }
    return NVAPI_OK;
}

NvAPI_Status NvAPI_Unload() {
    if (client.module == nullptr || client.query == nullptr) {
        return NVAPI_API_NOT_INITIALIZED;
    }
    NvAPI_Unload_t unload = queryAs<NvAPI_Unload_t>(NVAPI_ID_UNLOAD);
    if (unload == nullptr) {
        return NVAPI_NO_IMPLEMENTATION;
    }
    if (unload() != NVAPI_OK) {
        return NVAPI_ERROR;
    }
    dropLibrary();
    return NVAPI_OK;
}

NvAPI_Status NvAPI_DRS_CreateSession(NvDRSSessionHandle* session) {
    return callEntry<NvAPI_DRS_CreateSession_t>(ENTRY_DRS_CREATE_SESSION, session);
}

NvAPI_Status NvAPI_DRS_LoadSettings(NvDRSSessionHandle session) {
    return callEntry<NvAPI_DRS_LoadSettings_t>(ENTRY_DRS_LOAD_SETTINGS, session);
}

NvAPI_Status NvAPI_DRS_GetBaseProfile(NvDRSSessionHandle session, NvDRSProfileHandle* profile) {
    return callEntry<NvAPI_DRS_GetBaseProfile_t>(ENTRY_DRS_GET_BASE_PROFILE, session, profile);
}

NvAPI_Status NvAPI_DRS_GetProfileInfo(NvDRSSessionHandle session, NvDRSProfileHandle profile,
                                      NVDRS_PROFILE* info) {
    return callEntry<NvAPI_DRS_GetProfileInfo_t>(ENTRY_DRS_GET_PROFILE_INFO, session, profile,
                                                 info);
}

NvAPI_Status NvAPI_DRS_EnumSettings(NvDRSSessionHandle session, NvDRSProfileHandle profile,
                                    NvU32 startIndex, NvU32* settingsCount,
                                    NVDRS_SETTING* settings) {
    return callEntry<NvAPI_DRS_EnumSettings_t>(ENTRY_DRS_ENUM_SETTINGS, session, profile,
                                               startIndex, settingsCount, settings);
}

NvAPI_Status NvAPI_DRS_SetSetting(NvDRSSessionHandle session, NvDRSProfileHandle profile,
                                  NVDRS_SETTING* setting) {
    return callEntry<NvAPI_DRS_SetSetting_t>(ENTRY_DRS_SET_SETTING, session, profile, setting);
}

NvAPI_Status NvAPI_DRS_SaveSettings(NvDRSSessionHandle session) {
    return callEntry<NvAPI_DRS_SaveSettings_t>(ENTRY_DRS_SAVE_SETTINGS, session);
}

NvAPI_Status NvAPI_DRS_DestroySession(NvDRSSessionHandle session) {
    return callEntry<NvAPI_DRS_DestroySession_t>(ENTRY_DRS_DESTROY_SESSION, session);
}
