/* The benchmark's floor: the Windows and driver calls of one Durnavel.exe show or set (revision 2
 * of the platform) and nothing else, linked like the empty program. The tool's time over this
 * program is what its own code costs; bench/run checks that both make the same device requests
 * and NVAPI lookups and print the same bytes before it times them.
 *
 *   floor.exe          a show: prints the value the base profile holds (3 when it holds none)
 *   floor.exe set N    a set of N
 *
 * The calls, in the tool's order: the named mutex of the single-run guard; the platform device
 * opened, the first F-segment window read, the SMBIOS table read, the device closed; the NVAPI
 * library loaded from the system folder, its query entry found, NvAPI_Initialize, the call hooks
 * looked up (32-bit only), a session created and loaded, the base profile; then the profile's
 * setting count (show) or the setting and a save (set); one write of the line (ended by CR LF,
 * as the C runtime writes a line feed to a text-mode stream); the mutex closed;
 * the session destroyed and the library unloaded. Everything it needs is written here from
 * Microsoft's documentation, the SMBIOS reference (DSP0134) and NVIDIA's public NVAPI SDK. */
#include <windows.h>

#include <stdint.h>
#include <string.h>

/* The platform device and its physical-memory read (control code, 16-byte request: 64-bit
 * address, 32-bit mode 1, 32-bit count). */
#define DEVICE_NAME L"\\\\.\\vesnara"
#define READ_PHYSICAL 0x9C406104u
#define WINDOW_ADDRESS 0xF0000u
#define WINDOW_SIZE 0x8010u
#define TABLE_SIZE 0x10000u

/* NVAPI interface IDs (nvapi_interface.h), status codes and record versions (nvapi.h). */
#define ID_INITIALIZE 0x0150E828u
#define ID_UNLOAD 0xD22BDD7Eu
#define ID_PRE_CALL_HOOK 0x33C7358Cu
#define ID_POST_CALL_HOOK 0x593E8644u
#define ID_CREATE_SESSION 0x0694D52Eu
#define ID_LOAD_SETTINGS 0x375DBD6Bu
#define ID_GET_BASE_PROFILE 0xDA8466A0u
#define ID_GET_PROFILE_INFO 0x61CD6FD6u
#define ID_SET_SETTING 0x577DD202u
#define ID_SAVE_SETTINGS 0xFCBC7E14u
#define ID_DESTROY_SESSION 0xDAD9CFF8u
#define PROFILE_VERSION 0x11014u /* NVDRS_PROFILE, 0x1014 bytes */
#define PROFILE_SIZE 0x1014
#define PROFILE_NUM_SETTINGS 0x1010
#define SETTING_VERSION 0x13020u /* NVDRS_SETTING, 0x3020 bytes */
#define SETTING_SIZE 0x3020
#define SETTING_ID 0x1004
#define SETTING_CURRENT_VALUE 0x201C
#define PRERENDERED_FRAMES_ID 0x007BA09Eu

typedef void* (*Query)(uint32_t);
typedef int (*Call0)(void);
typedef int (*Call1)(void*);
typedef int (*Call2)(void*, void*);
typedef int (*Call3)(void*, void*, void*);
typedef void (*PreHook)(uint32_t, uint32_t*);
typedef void (*PostHook)(uint32_t, uint32_t, uint32_t, int);

static unsigned char g_window[WINDOW_SIZE];
static unsigned char g_table[TABLE_SIZE];
static unsigned char g_profile[PROFILE_SIZE];
static unsigned char g_setting[SETTING_SIZE];

static Query g_query;
static PreHook g_pre;
static PostHook g_post;

static void put32(unsigned char* at, uint32_t value) {
    memcpy(at, &value, sizeof value);
}

static uint32_t get32(const unsigned char* at) {
    uint32_t value;
    memcpy(&value, at, sizeof value);
    return value;
}

static int readPhysical(HANDLE device, uint32_t address, uint32_t count, unsigned char* out,
                        DWORD size) {
    unsigned char request[16] = {0};
    DWORD returned = 0;
    put32(request, address);
    put32(request + 8, 1);
    put32(request + 12, count);
    memset(out, 0, size);
    return DeviceIoControl(device, READ_PHYSICAL, request, sizeof request, out, size, &returned,
                           NULL) &&
           returned == size;
}

/* The address of the SMBIOS table: the first "_DMI_" entry point in the window whose 15 bytes
 * sum to 0. */
static uint32_t findTable(void) {
    size_t at;
    for (at = 0; at + 15 <= WINDOW_SIZE; ++at) {
        unsigned sum = 0;
        size_t i;
        if (memcmp(g_window + at, "_DMI_", 5) != 0) {
            continue;
        }
        for (i = 0; i < 15; ++i) {
            sum += g_window[at + i];
        }
        if ((sum & 0xFF) == 0) {
            return get32(g_window + at + 8);
        }
    }
    return 0;
}

/* One table call, looked up first and then made between the call hooks when the library has
 * both. */
#define CALL(id, type, args)                                                                       \
    do {                                                                                           \
        type entry = (type)g_query(id);                                                            \
        uint32_t context[2] = {0, 0};                                                              \
        if (g_pre != NULL) {                                                                       \
            g_pre(id, context);                                                                    \
        }                                                                                          \
        status = entry args;                                                                       \
        if (g_post != NULL) {                                                                      \
            g_post(id, context[0], context[1], status);                                            \
        }                                                                                          \
    } while (0)

int wmain(int argc, wchar_t* argv[]) {
    const int set = argc == 3 && wcscmp(argv[1], L"set") == 0;
    const uint32_t value = set ? (uint32_t)(argv[2][0] - L'0') : 0;
    HANDLE mutex = CreateMutexW(NULL, TRUE, argv[0]);
    HANDLE device;
    HMODULE library;
    void* session = NULL;
    void* profile = NULL;
    uint32_t table;
    int status;
    char line[64];
    DWORD length;
    DWORD written;
    (void)GetLastError();

    device =
        CreateFileW(DEVICE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (device == INVALID_HANDLE_VALUE) {
        return 2;
    }
    if (!readPhysical(device, WINDOW_ADDRESS, WINDOW_SIZE, g_window, WINDOW_SIZE) ||
        (table = findTable()) == 0 ||
        !readPhysical(device, table,
                      table + TABLE_SIZE > 0x100000u ? 0x100000u - table : TABLE_SIZE, g_table,
                      TABLE_SIZE)) {
        CloseHandle(device);
        return 2;
    }
    CloseHandle(device);

    if (GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "AddDllDirectory") == NULL) {
        return 2;
    }
    library = LoadLibraryExA(sizeof(void*) == 8 ? "nvapi64.dll" : "nvapi.dll", NULL,
                             LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library == NULL) {
        return 2;
    }
    g_query = (Query)(void (*)(void))GetProcAddress(library, "nvapi_QueryInterface");
    if (g_query == NULL || ((Call0)g_query(ID_INITIALIZE))() != 0) {
        return 2;
    }
    /* The hooks' argument layout is fixed for 32-bit callers only. */
    if (sizeof(void*) == 4) {
        g_pre = (PreHook)g_query(ID_PRE_CALL_HOOK);
        g_post = (PostHook)g_query(ID_POST_CALL_HOOK);
        if (g_pre == NULL || g_post == NULL) {
            g_pre = NULL;
            g_post = NULL;
        }
    }
    CALL(ID_CREATE_SESSION, Call1, (&session));
    CALL(ID_LOAD_SETTINGS, Call1, (session));
    CALL(ID_GET_BASE_PROFILE, Call2, (session, &profile));

    if (set) {
        memset(g_setting, 0, sizeof g_setting);
        put32(g_setting, SETTING_VERSION);
        put32(g_setting + SETTING_ID, PRERENDERED_FRAMES_ID);
        put32(g_setting + SETTING_CURRENT_VALUE, value);
        CALL(ID_SET_SETTING, Call3, (session, profile, g_setting));
        CALL(ID_SAVE_SETTINGS, Call1, (session));
        memcpy(line, "Succeed in setting.\r\n", 22);
    } else {
        memset(g_profile, 0, sizeof g_profile);
        put32(g_profile, PROFILE_VERSION);
        CALL(ID_GET_PROFILE_INFO, Call3, (session, profile, g_profile));
        /* A base profile with settings is not what the bench measures: a fresh store has none. */
        if (get32(g_profile + PROFILE_NUM_SETTINGS) != 0) {
            return 3;
        }
        memcpy(line, "Current muximum pre-rendered frames value is 3.\r\n", 50);
    }
    length = (DWORD)strlen(line);
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, length, &written, NULL);

    CloseHandle(mutex);
    CALL(ID_DESTROY_SESSION, Call1, (session));
    ((Call0)g_query(ID_UNLOAD))();
    FreeLibrary(library);
    return status == 0 ? 0 : 2;
}
