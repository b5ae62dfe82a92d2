// The simulated nvapi.dll: its one export nvapi_QueryInterface hands out the entry points below by
// interface ID. Driver settings (DRS) live in a text store; a session works on a copy of the base
// profile and only NvAPI_DRS_SaveSettings writes the store back. Every call is journalled.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "SimSupport.h"

namespace {

using sim::hex32;

// Statuses this driver answers.
const std::int32_t kOk = 0;
const std::int32_t kError = -1;
const std::int32_t kNotInitialized = -4;
const std::int32_t kInvalidArgument = -5;
const std::int32_t kEndEnumeration = -7;
const std::int32_t kInvalidHandle = -8;
const std::int32_t kIncompatibleVersion = -9;
// A session asked for profiles or settings before NvAPI_DRS_LoadSettings gave it any.
const std::int32_t kInvalidCall = -134;

// Record layouts, as raw memory.
const std::uint32_t kProfileVersion = 0x11014;
const std::size_t kProfileSize = 0x1014;
const std::size_t kProfileName = 0x4;
const std::size_t kProfileIsPredefined = 0x1008;
const std::size_t kProfileNumOfSettings = 0x1010;
const std::uint32_t kSettingVersion = 0x13020;
const std::size_t kSettingSize = 0x3020;
const std::size_t kSettingId = 0x1004;
const std::size_t kSettingType = 0x1008;
const std::size_t kSettingCurrentValue = 0x201C;

std::uint32_t load32(const void* record, std::size_t offset) {
    std::uint32_t v;
    std::memcpy(&v, static_cast<const unsigned char*>(record) + offset, sizeof(v));
    return v;
}

void store32(void* record, std::size_t offset, std::uint32_t v) {
    std::memcpy(static_cast<unsigned char*>(record) + offset, &v, sizeof(v));
}

struct Session {
    int number = 0;
    bool loaded = false;    // NvAPI_DRS_LoadSettings has filled it
    sim::StoreEntries base; // the session's copy of the base profile
    char baseProfile = 0;   // its address is the base-profile handle
};

// Driver state of one load.
struct Driver {
    bool initialized = false;
    std::vector<std::unique_ptr<Session>> sessions;
    int nextSession = 1;
    std::map<std::string, std::uint32_t, std::less<>> calls;
    std::uint32_t hookSequence = 0;
};

Driver driver;

// Journals the library's load and unload.
// The copy built to be planted beside the program (bin/drivers/planted/) says so in its load and
// unload lines: the tool must never load it.
#ifndef DURNAVEL_SIM_PLANTED
#define DURNAVEL_SIM_PLANTED 0
#endif
constexpr bool kPlanted = DURNAVEL_SIM_PLANTED != 0;

struct Lifetime {
    Lifetime() {
        sim::journal(kPlanted ? "nvapi load planted" : "nvapi load");
        for (const std::string& sw : sim::Faults::read().unknown) {
            sim::journal("nvapi unknown-fault " + sw);
        }
    }
    ~Lifetime() { sim::journal(kPlanted ? "nvapi unload planted" : "nvapi unload"); }
} lifetime;

std::string storePath() {
    return sim::environment("DURNAVEL_NVAPI_STORE", "nvapi-store.txt");
}

// One journal line: "nvapi ENTRY key=value ... status=N".
class Call {
  public:
    explicit Call(const char* entry) : entry_(entry) {
        line_.reserve(160);
        line_ += "nvapi ";
        line_ += entry;
        auto count = driver.calls.find(entry);
        if (count == driver.calls.end()) {
            count = driver.calls.emplace(entry, 0).first;
        }
        number_ = ++count->second;
    }
    Call& add(const char* key, const std::string& value) {
        line_ += ' ';
        line_ += key;
        line_ += '=';
        line_ += value;
        return *this;
    }
    Call& add(const char* key, std::int64_t value) { return add(key, std::to_string(value)); }
    // An injected status for this call, journalled, if the fault switches name one.
    bool injected(std::int32_t& status) {
        if (sim::Faults::read().injected(entry_, number_, status)) {
            add("injected", "yes");
            injected_ = true;
            return true;
        }
        return false;
    }
    // Journals the call and returns its status, or the value an answer switch puts in its
    // place (the call's own status then shows as own=).
    std::int32_t finish(std::int32_t status) {
        std::int32_t answer;
        if (!injected_ && sim::Faults::read().answered(entry_, number_, answer)) {
            add("own", status);
            status = answer;
        }
        add("status", status);
        sim::journal(line_);
        return status;
    }

  private:
    const char* entry_;
    std::uint32_t number_;
    bool injected_ = false;
    std::string line_;
};

Session* findSession(void* handle) {
    for (auto& s : driver.sessions) {
        if (s.get() == handle) {
            return s.get();
        }
    }
    return nullptr;
}

std::string sessionName(void* handle) {
    if (handle == nullptr) {
        return "null";
    }
    Session* s = findSession(handle);
    return s == nullptr ? "foreign" : std::to_string(s->number);
}

std::string profileName(Session* s, void* handle) {
    if (handle == nullptr) {
        return "null";
    }
    return s != nullptr && handle == &s->baseProfile ? "base" : "foreign";
}

// Checks common to the session calls; kOk when the session (and the profile) are this driver's.
std::int32_t checkSession(Session* s, void* sessionHandle) {
    if (!driver.initialized) {
        return kNotInitialized;
    }
    if (sessionHandle == nullptr || s == nullptr) {
        return kInvalidHandle;
    }
    return kOk;
}

// How a session entry point opens: an injected fault answers first, then the handle check.
// True when the call is answered with `status` before it does anything.
bool refusedAtEntry(Call& call, std::int32_t check, std::int32_t& status) {
    if (call.injected(status)) {
        return true;
    }
    status = check;
    return status != kOk;
}

// As checkSession, and the session must have loaded its settings.
std::int32_t checkLoadedSession(Session* s, void* sessionHandle) {
    std::int32_t status = checkSession(s, sessionHandle);
    if (status == kOk && !s->loaded) {
        status = kInvalidCall;
    }
    return status;
}

std::int32_t checkProfile(Session* s, void* sessionHandle, void* profileHandle) {
    std::int32_t status = checkSession(s, sessionHandle);
    if (status == kOk && (profileHandle == nullptr || profileHandle != &s->baseProfile)) {
        status = kInvalidHandle;
    }
    if (status == kOk && !s->loaded) {
        status = kInvalidCall;
    }
    return status;
}

std::int32_t __cdecl initialize() {
    Call call("NvAPI_Initialize");
    std::int32_t status;
    if (call.injected(status)) {
        return call.finish(status);
    }
    driver.initialized = true;
    return call.finish(kOk);
}

std::int32_t __cdecl unload() {
    Call call("NvAPI_Unload");
    call.add("open-sessions", static_cast<std::int64_t>(driver.sessions.size()));
    std::int32_t status;
    if (call.injected(status)) {
        return call.finish(status);
    }
    if (!driver.initialized) {
        return call.finish(kNotInitialized);
    }
    // Sessions still open are dropped; each is journalled on its own line before the call's.
    for (const auto& s : driver.sessions) {
        sim::journal("nvapi session-dropped session=" + std::to_string(s->number));
    }
    driver.initialized = false;
    std::vector<std::unique_ptr<Session>>().swap(driver.sessions);
    // Back to the state of a fresh load: the call numbers of status:ENTRY=N@K count afresh.
    driver.calls.clear();
    status = call.finish(kOk);
    sim::Faults::forget();
    return status;
}

std::int32_t __cdecl createSession(void** session) {
    Call call("NvAPI_DRS_CreateSession");
    std::int32_t status;
    if (call.injected(status)) {
        return call.finish(status);
    }
    if (!driver.initialized) {
        return call.finish(kNotInitialized);
    }
    if (session == nullptr) {
        return call.finish(kInvalidArgument);
    }
    auto s = std::make_unique<Session>();
    s->number = driver.nextSession++;
    *session = s.get();
    call.add("session", s->number);
    driver.sessions.push_back(std::move(s));
    return call.finish(kOk);
}

std::int32_t __cdecl loadSettings(void* session) {
    Session* s = findSession(session);
    Call call("NvAPI_DRS_LoadSettings");
    call.add("session", sessionName(session));
    std::int32_t status;
    if (refusedAtEntry(call, checkSession(s, session), status)) {
        return call.finish(status);
    }
    sim::StoreEntries entries;
    std::string problem;
    switch (sim::readStore(storePath(), entries, problem)) {
    case sim::StoreRead::Absent:
        call.add("store", "absent");
        break;
    case sim::StoreRead::Malformed:
        call.add("store", "malformed").add("problem", problem);
        return call.finish(kError);
    case sim::StoreRead::Ok:
        call.add("store", "ok");
        break;
    }
    for (const auto& extra : sim::Faults::read().extraSettings) {
        entries.push_back(extra);
    }
    s->base = entries;
    s->loaded = true;
    call.add("settings", static_cast<std::int64_t>(s->base.size()));
    return call.finish(kOk);
}

std::int32_t __cdecl getBaseProfile(void* session, void** profile) {
    Session* s = findSession(session);
    Call call("NvAPI_DRS_GetBaseProfile");
    call.add("session", sessionName(session));
    std::int32_t status;
    if (refusedAtEntry(call, checkLoadedSession(s, session), status)) {
        return call.finish(status);
    }
    if (profile == nullptr) {
        return call.finish(kInvalidArgument);
    }
    *profile = &s->baseProfile;
    call.add("profile", "base");
    return call.finish(kOk);
}

std::int32_t __cdecl getProfileInfo(void* session, void* profile, void* info) {
    Session* s = findSession(session);
    Call call("NvAPI_DRS_GetProfileInfo");
    call.add("session", sessionName(session)).add("profile", profileName(s, profile));
    if (info != nullptr) {
        call.add("version", hex32(load32(info, 0)));
    }
    std::int32_t status;
    if (refusedAtEntry(call, checkProfile(s, session, profile), status)) {
        return call.finish(status);
    }
    if (info == nullptr) {
        return call.finish(kInvalidArgument);
    }
    if (load32(info, 0) != kProfileVersion) {
        return call.finish(kIncompatibleVersion);
    }
    const sim::Faults& faults = sim::Faults::read();
    std::uint32_t count =
        faults.hasProfileCount ? faults.profileCount : static_cast<std::uint32_t>(s->base.size());
    std::memset(static_cast<unsigned char*>(info) + 4, 0, kProfileSize - 4);
    const char name[] = "Base Profile";
    for (std::size_t i = 0; name[i] != '\0'; ++i) {
        unsigned char* c = static_cast<unsigned char*>(info) + kProfileName + 2 * i;
        c[0] = static_cast<unsigned char>(name[i]);
        c[1] = 0;
    }
    store32(info, kProfileIsPredefined, 1);
    store32(info, kProfileNumOfSettings, count);
    call.add("settings", count);
    return call.finish(kOk);
}

std::int32_t __cdecl enumSettings(void* session, void* profile, std::uint32_t start,
                                  std::uint32_t* count, void* settings) {
    Session* s = findSession(session);
    Call call("NvAPI_DRS_EnumSettings");
    call.add("session", sessionName(session)).add("profile", profileName(s, profile));
    call.add("start", start);
    if (count != nullptr) {
        call.add("count-in", *count);
    }
    if (settings != nullptr) {
        call.add("version", hex32(load32(settings, 0)));
    }
    std::int32_t status;
    if (refusedAtEntry(call, checkProfile(s, session, profile), status)) {
        return call.finish(status);
    }
    if (count == nullptr || settings == nullptr || *count == 0) {
        return call.finish(kInvalidArgument);
    }
    if (load32(settings, 0) != kSettingVersion) {
        return call.finish(kIncompatibleVersion);
    }
    if (start >= s->base.size()) {
        return call.finish(kEndEnumeration);
    }
    const sim::Faults& faults = sim::Faults::read();
    sim::StoreEntries profileOrder = s->base;
    if (faults.enumOrder == sim::Faults::Order::Reversed) {
        std::reverse(profileOrder.begin(), profileOrder.end());
    }
    std::size_t n = std::min<std::size_t>(*count, profileOrder.size() - start);
    n -= std::min<std::size_t>(n, faults.enumShort);
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char* record = static_cast<unsigned char*>(settings) + i * kSettingSize;
        std::memset(record, 0, kSettingSize);
        store32(record, 0, kSettingVersion);
        store32(record, kSettingId, profileOrder[start + i].first);
        store32(record, kSettingType, 0);
        store32(record, kSettingCurrentValue, profileOrder[start + i].second);
    }
    *count = faults.hasEnumCount ? faults.enumCount : static_cast<std::uint32_t>(n);
    call.add("written", static_cast<std::int64_t>(n)).add("count-out", *count);
    return call.finish(kOk);
}

std::int32_t __cdecl setSetting(void* session, void* profile, void* setting) {
    Session* s = findSession(session);
    Call call("NvAPI_DRS_SetSetting");
    call.add("session", sessionName(session)).add("profile", profileName(s, profile));
    if (setting != nullptr) {
        call.add("id", hex32(load32(setting, kSettingId)))
            .add("type", load32(setting, kSettingType))
            .add("value", hex32(load32(setting, kSettingCurrentValue)))
            .add("version", hex32(load32(setting, 0)));
    }
    std::int32_t status;
    if (refusedAtEntry(call, checkProfile(s, session, profile), status)) {
        return call.finish(status);
    }
    if (setting == nullptr) {
        return call.finish(kInvalidArgument);
    }
    if (load32(setting, 0) != kSettingVersion) {
        return call.finish(kIncompatibleVersion);
    }
    if (load32(setting, kSettingType) != 0) {
        return call.finish(kInvalidArgument); // this driver keeps 32-bit values only
    }
    const std::uint32_t id = load32(setting, kSettingId);
    const std::uint32_t value = load32(setting, kSettingCurrentValue);
    auto same =
        std::find_if(s->base.begin(), s->base.end(), [id](const auto& e) { return e.first == id; });
    if (sim::Faults::read().enumOrder == sim::Faults::Order::Written) {
        // The setting written last is held (and enumerated) last.
        if (same != s->base.end()) {
            s->base.erase(same);
        }
        s->base.emplace_back(id, value);
    } else if (same != s->base.end()) {
        same->second = value;
    } else {
        auto after = std::find_if(s->base.begin(), s->base.end(),
                                  [id](const auto& e) { return e.first > id; });
        s->base.insert(after, {id, value});
    }
    return call.finish(kOk);
}

std::int32_t __cdecl saveSettings(void* session) {
    Session* s = findSession(session);
    Call call("NvAPI_DRS_SaveSettings");
    call.add("session", sessionName(session));
    std::int32_t status;
    if (refusedAtEntry(call, checkLoadedSession(s, session), status)) {
        return call.finish(status);
    }
    std::string problem;
    if (!sim::writeStore(storePath(), s->base, true, problem)) {
        call.add("saved", "no").add("problem", problem);
        return call.finish(kError);
    }
    call.add("saved", "yes").add("settings", static_cast<std::int64_t>(s->base.size()));
    return call.finish(kOk);
}

std::int32_t __cdecl destroySession(void* session) {
    Session* s = findSession(session);
    Call call("NvAPI_DRS_DestroySession");
    call.add("session", sessionName(session));
    std::int32_t status;
    if (refusedAtEntry(call, checkSession(s, session), status)) {
        return call.finish(status);
    }
    driver.sessions.erase(
        std::find_if(driver.sessions.begin(), driver.sessions.end(),
                     [s](const std::unique_ptr<Session>& p) { return p.get() == s; }));
    return call.finish(kOk);
}

// The call hooks: pre fills the context with a sequence number and the ID; post checks that the
// context came back unchanged.
std::int32_t __cdecl preCall(std::uint32_t id, std::uint32_t* context) {
    std::ostringstream line;
    line << "nvapi pre id=" << hex32(id);
    if (context == nullptr) {
        line << " context=null status=" << kInvalidArgument;
        sim::journal(line.str());
        return kInvalidArgument;
    }
    line << " in=" << context[0] << ',' << context[1];
    context[0] = ++driver.hookSequence;
    context[1] = id;
    line << " context=" << context[0] << ',' << hex32(context[1]) << " status=0";
    sim::journal(line.str());
    return kOk;
}

std::int32_t __cdecl postCall(std::uint32_t id, std::uint32_t context0, std::uint32_t context1,
                              std::int32_t result) {
    const bool match = context0 == driver.hookSequence && context1 == id;
    std::ostringstream line;
    line << "nvapi post id=" << hex32(id) << " context=" << context0 << ',' << hex32(context1)
         << " result=" << result << " match=" << (match ? "yes" : "no") << " status=0";
    sim::journal(line.str());
    return kOk;
}

typedef void (*AnyFunction)();

struct Interface {
    std::uint32_t id;
    const char* name;
    AnyFunction function;
};

const Interface kInterfaces[] = {
    {0x0150E828, "NvAPI_Initialize", reinterpret_cast<AnyFunction>(&initialize)},
    {0xD22BDD7E, "NvAPI_Unload", reinterpret_cast<AnyFunction>(&unload)},
    {0x0694D52E, "NvAPI_DRS_CreateSession", reinterpret_cast<AnyFunction>(&createSession)},
    {0x375DBD6B, "NvAPI_DRS_LoadSettings", reinterpret_cast<AnyFunction>(&loadSettings)},
    {0xDA8466A0, "NvAPI_DRS_GetBaseProfile", reinterpret_cast<AnyFunction>(&getBaseProfile)},
    {0x61CD6FD6, "NvAPI_DRS_GetProfileInfo", reinterpret_cast<AnyFunction>(&getProfileInfo)},
    {0xAE3039DA, "NvAPI_DRS_EnumSettings", reinterpret_cast<AnyFunction>(&enumSettings)},
    {0x577DD202, "NvAPI_DRS_SetSetting", reinterpret_cast<AnyFunction>(&setSetting)},
    {0xFCBC7E14, "NvAPI_DRS_SaveSettings", reinterpret_cast<AnyFunction>(&saveSettings)},
    {0xDAD9CFF8, "NvAPI_DRS_DestroySession", reinterpret_cast<AnyFunction>(&destroySession)},
    {0x33C7358C, "pre-call-hook", reinterpret_cast<AnyFunction>(&preCall)},
    {0x593E8644, "post-call-hook", reinterpret_cast<AnyFunction>(&postCall)},
};

} // namespace

// In a 64-bit Windows library the call hooks have no documented signature: a caller that looks
// them up would have to guess how to call them. Such a lookup is journalled as
// "nvapi hook-lookup-64 id=..." and answered null whatever the fault switches say.
#ifndef DURNAVEL_SIM_HOOKS_UNDOCUMENTED
#define DURNAVEL_SIM_HOOKS_UNDOCUMENTED 0
#endif
constexpr bool kHooksUndocumented = DURNAVEL_SIM_HOOKS_UNDOCUMENTED != 0;

extern "C" void* __cdecl nvapi_QueryInterface(std::uint32_t id) {
    const sim::Faults& faults = sim::Faults::read();
    const bool hookId = id == 0x33C7358C || id == 0x593E8644;
    if (kHooksUndocumented && hookId) {
        sim::journal("nvapi hook-lookup-64 id=" + hex32(id));
    }
    const Interface* found = nullptr;
    for (const Interface& i : kInterfaces) {
        if (i.id == id) {
            found = &i;
        }
    }
    const char* name = found != nullptr ? found->name : "unknown";
    bool provided = found != nullptr && !faults.isMissing(name, id);
    if (provided && id == 0x33C7358C) {
        provided = faults.preHook;
    }
    if (provided && id == 0x593E8644) {
        provided = faults.postHook;
    }
    if (hookId && kHooksUndocumented) {
        provided = false;
    }
    std::string line;
    line.reserve(96);
    line += "nvapi query id=";
    line += hex32(id);
    line += " name=";
    line += name;
    line += " result=";
    line += provided ? "found" : "missing";
    sim::journal(line);
    return provided ? reinterpret_cast<void*>(found->function) : nullptr;
}
