#include "DriverRun.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include <windows.h>

#include "FuzzSupport.h"
#include "platform/kviDebug.h"

namespace driverrun {

using fuzzsupport::require;

const wchar_t kFatal[] = L"Fatal error occured.\nPlease check your hardware.\n";
const wchar_t kNotSupported[] = L"Not supported this function.\n";

namespace {

// A store of a simulated library, in memory (DURNAVEL_*_STORE=callback:...).
struct Store {
    bool present = false;
    std::string text;
};

struct Work {
    bool prepared = false;
    Store nvapi;
    Store nvcpl;
    std::string journal; // the lines the simulated libraries hand over
};

Work& work() {
    static Work w;
    return w;
}

int diagnosticLine(const char* line) {
    require(line != nullptr && std::strncmp(line, "tool::graphics::", 16) == 0 &&
                std::strstr(line, ": Line") != nullptr,
            "diagnostic lines carry the writer's name and line", line != nullptr ? line : "");
    return 0;
}

// Read with nullptr (nullptr back when there is no store), replaced with a text.
const char* serve(Store& store, const char* text) {
    if (text == nullptr) {
        return store.present ? store.text.c_str() : nullptr;
    }
    store.present = true;
    store.text = text;
    return store.text.c_str();
}

extern "C" const char* nvapiStore(const char* text) {
    return serve(work().nvapi, text);
}

extern "C" const char* nvcplStore(const char* text) {
    return serve(work().nvcpl, text);
}

extern "C" void collectJournalLine(const char* line) {
    work().journal += line;
    work().journal += '\n';
}

template <typename Function> std::string callback(Function* function) {
    char text[64];
    std::snprintf(text, sizeof(text), "callback:%llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(function)));
    return text;
}

} // namespace

void prepare() {
    if (work().prepared) {
        return;
    }
    work().prepared = true;
    fuzzsupport::setEnvironment("DURNAVEL_HOST_LIBRARY_DIR", DURNAVEL_SIM_DRIVERS_DIR);
    fuzzsupport::setEnvironment("DURNAVEL_NVAPI_STORE", callback(&nvapiStore));
    fuzzsupport::setEnvironment("DURNAVEL_NVCPL_STORE", callback(&nvcplStore));
    fuzzsupport::setEnvironment("DURNAVEL_SIM_JOURNAL", callback(&collectJournalLine));
    // Held for the whole run: the product's own loads and FreeLibrary calls then only
    // count references, and the libraries stay mapped (and set up) from one input to the next.
    // The NVAPI library returns to its fresh state at every successful NvAPI_Unload.
    require(LoadLibraryA(DURNAVEL_FUZZ_NVAPI_DLL) != nullptr &&
                LoadLibraryA("nvcpl.dll") != nullptr,
            "the simulated driver libraries load");
}

void start(const std::string& faults, const Settings& profile) {
    prepare();
    work().journal.clear();
    work().nvcpl = Store();
    fuzzsupport::setEnvironment("DURNAVEL_SIM_FAULTS", faults);
    work().nvapi = Store();
    if (profile.empty()) {
        return;
    }
    work().nvapi.present = true;
    for (const auto& s : profile) {
        work().nvapi.text +=
            fuzzsupport::hex32(s.first) + " " + fuzzsupport::hex32(s.second) + "\n";
    }
}

std::string_view Line::operator[](std::string_view key) const {
    return fuzzsupport::field(text, key);
}

const std::string& journalText() {
    return work().journal;
}

std::vector<Line> journal() {
    std::vector<Line> lines;
    lines.reserve(64);
    const std::string_view text = journalText();
    for (std::string_view::size_type start = 0; start < text.size();) {
        std::string_view::size_type end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        Line line;
        line.text = text.substr(start, end - start);
        const std::string_view::size_type blank = line.text.find(' ');
        line.library = line.text.substr(0, blank);
        if (blank != std::string_view::npos) {
            line.event = line.text.substr(blank + 1, line.text.find(' ', blank + 1) - blank - 1);
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::vector<Line> journal(const std::vector<Line>& lines, const std::string& event) {
    std::vector<Line> out;
    for (const Line& l : lines) {
        if (l.event == event) {
            out.push_back(l);
        }
    }
    return out;
}

std::string nvapiStoreText() {
    return work().nvapi.text;
}

std::string nvcplStoreText() {
    return work().nvcpl.text;
}

void checkLifecycle(const std::vector<Line>& lines) {
    const std::string& text = journalText();
    std::map<std::string_view, int> loaded;
    std::set<std::string_view> sessions;
    std::set<std::string_view> lookedUp;
    int initialized = 0;
    for (const Line& l : lines) {
        if (l.event == "load") {
            require(loaded[l.library] == 0, "a library is loaded once at a time", text);
            ++loaded[l.library];
            if (l.library == "nvapi") {
                lookedUp.clear();
            }
        } else if (l.event == "unload") {
            require(loaded[l.library] == 1, "only a loaded library is unloaded", text);
            --loaded[l.library];
        } else if (l.event == "query") {
            require(lookedUp.insert(l["id"]).second, "each interface is looked up once per load",
                    text);
        } else if (l.event == "NvAPI_DRS_CreateSession" && l["status"] == "0") {
            sessions.insert(l["session"]);
        } else if (l.event == "NvAPI_DRS_DestroySession" && l["status"] == "0") {
            require(sessions.erase(l["session"]) == 1, "only a live session is destroyed", text);
        } else if (l.event == "NvAPI_Initialize" && l["status"] == "0") {
            ++initialized;
        } else if (l.event == "NvAPI_Unload") {
            require(l["open-sessions"] == "0", "no session is open at NvAPI_Unload", text);
            if (l["status"] == "0") {
                // The client looks its entry points up afresh after an unload.
                --initialized;
                lookedUp.clear();
            }
        } else if (l.event == "post") {
            require(l["match"] == "yes", "the call hooks get their context back", text);
        }
    }
    for (const auto& library : loaded) {
        require(library.second == 0, "every library is unloaded again", text);
    }
    require(sessions.empty(), "every session is destroyed", text);
    require(initialized == 0, "every NvAPI_Initialize is followed by an NvAPI_Unload", text);
}

std::wstring statusText(std::int32_t status) {
    if (status == 0) {
        return std::wstring();
    }
    return status == -104 ? kNotSupported : kFatal;
}

void catchDiagnostics() {
    kviDebugSetHook(diagnosticLine);
}

std::string show(const Record& r) {
    std::string s;
    for (const std::int32_t field : r.field) {
        s += std::to_string(field) + " ";
    }
    char mask[32];
    std::snprintf(mask, sizeof(mask), "mask 0x%016llx", static_cast<unsigned long long>(r.mask));
    return s + mask;
}

} // namespace driverrun
