#include "DriverRun.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include <windows.h>

#include <fcntl.h>
#include <unistd.h>

#include "FuzzSupport.h"
#include "platform/kviDebug.h"

namespace driverrun {

using fuzzsupport::require;

const wchar_t kFatal[] = L"Fatal error occured.\nPlease check your hardware.\n";
const wchar_t kNotSupported[] = L"Not supported this function.\n";

namespace {

struct Work {
    std::string folder;
    std::string nvapiStore;
    std::string nvcplStore;
    std::string journal; // the lines the simulated libraries hand over, in memory
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

// The stores are small files on a memory file system, handled straight through the system
// calls: a stream or std::filesystem costs more per input than the driver calls themselves.
std::string readSmallFile(const std::string& path) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        return text;
    }
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof(buffer))) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

void writeSmallFile(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    require(fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()),
            "the store is written", path);
    ::close(fd);
}

// Where the simulated libraries send their journal lines (DURNAVEL_SIM_JOURNAL=callback:...).
extern "C" void collectJournalLine(const char* line) {
    work().journal += line;
    work().journal += '\n';
}

} // namespace

// Every input allocates the settings records afresh (12 KB each); with AddressSanitizer's
// default quarantine of 256 MB nearly every one lands on memory the kernel must first map and
// clear, which costs more than the input itself. A smaller quarantine keeps freed memory
// poisoned for the thousands of inputs that follow, which is all a run needs. ASAN_OPTIONS
// still overrides this.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=16";
}

void prepare() {
    if (!work().folder.empty()) {
        return;
    }
    work().folder = fuzzsupport::workFolder("drs");
    work().nvapiStore = work().folder + "/nvapi-store.txt";
    work().nvcplStore = work().folder + "/nvcpl-store.txt";
    fuzzsupport::setEnvironment("DURNAVEL_HOST_LIBRARY_DIR", DURNAVEL_SIM_DRIVERS_DIR);
    fuzzsupport::setEnvironment("DURNAVEL_NVAPI_STORE", work().nvapiStore);
    fuzzsupport::setEnvironment("DURNAVEL_NVCPL_STORE", work().nvcplStore);
    char sink[64];
    std::snprintf(
        sink, sizeof(sink), "callback:%llx",
        static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&collectJournalLine)));
    fuzzsupport::setEnvironment("DURNAVEL_SIM_JOURNAL", sink);
    // Held for the whole run: the product's own loads and FreeLibrary calls then only
    // count references, and the libraries stay mapped (and set up) from one input to the next.
    // The NVAPI library returns to its fresh state at every successful NvAPI_Unload.
    require(LoadLibraryA(DURNAVEL_NVAPI_DLL) != nullptr && LoadLibraryA("nvcpl.dll") != nullptr,
            "the simulated driver libraries load");
}

void start(const std::string& faults, const Settings& profile) {
    prepare();
    work().journal.clear();
    ::unlink(work().nvcplStore.c_str());
    fuzzsupport::setEnvironment("DURNAVEL_SIM_FAULTS", faults);
    if (profile.empty()) {
        ::unlink(work().nvapiStore.c_str());
        return;
    }
    std::string text;
    for (const auto& s : profile) {
        text += fuzzsupport::hex32(s.first) + " " + fuzzsupport::hex32(s.second) + "\n";
    }
    writeSmallFile(work().nvapiStore, text);
}

std::string Line::operator[](const std::string& key) const {
    return fuzzsupport::field(text, key);
}

const std::string& journalText() {
    return work().journal;
}

std::vector<Line> journal() {
    std::vector<Line> lines;
    lines.reserve(64);
    const std::string& text = journalText();
    for (std::string::size_type start = 0; start < text.size();) {
        std::string::size_type end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        Line line;
        line.text.assign(text, start, end - start);
        const std::string::size_type blank = line.text.find(' ');
        line.library.assign(line.text, 0, blank);
        if (blank != std::string::npos) {
            line.event.assign(line.text, blank + 1, line.text.find(' ', blank + 1) - blank - 1);
        }
        lines.push_back(std::move(line));
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
    return readSmallFile(work().nvapiStore);
}

std::string nvcplStoreText() {
    return readSmallFile(work().nvcplStore);
}

void checkLifecycle(const std::vector<Line>& lines) {
    const std::string& text = journalText();
    std::map<std::string, int> loaded;
    std::set<std::string> sessions;
    std::set<std::string> lookedUp;
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

std::string show(const tool::graphics::DrsParam& p) {
    std::string s;
    for (int i = 0; i < tool::graphics::kDrsSettingCount; ++i) {
        s += std::to_string(tool::graphics::drsField(p, i)) + " ";
    }
    char mask[32];
    std::snprintf(mask, sizeof(mask), "mask 0x%016llx",
                  static_cast<unsigned long long>(p.enableSettings));
    return s + mask;
}

} // namespace driverrun
