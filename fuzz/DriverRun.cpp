#include "DriverRun.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

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
    std::string journal;
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

} // namespace

void prepare() {
    if (!work().folder.empty()) {
        return;
    }
    work().folder = fuzzsupport::workFolder("drs");
    work().nvapiStore = work().folder + "/nvapi-store.txt";
    work().nvcplStore = work().folder + "/nvcpl-store.txt";
    work().journal = work().folder + "/journal.txt";
    fuzzsupport::setEnvironment("DURNAVEL_HOST_LIBRARY_DIR", DURNAVEL_SIM_DRIVERS_DIR);
    fuzzsupport::setEnvironment("DURNAVEL_NVAPI_STORE", work().nvapiStore);
    fuzzsupport::setEnvironment("DURNAVEL_NVCPL_STORE", work().nvcplStore);
    fuzzsupport::setEnvironment("DURNAVEL_SIM_JOURNAL", work().journal);
}

void start(const std::string& faults, const Settings& profile) {
    prepare();
    fuzzsupport::removeFile(work().journal);
    fuzzsupport::removeFile(work().nvcplStore);
    fuzzsupport::setEnvironment("DURNAVEL_SIM_FAULTS", faults);
    if (profile.empty()) {
        fuzzsupport::removeFile(work().nvapiStore);
        return;
    }
    std::string text;
    for (const auto& s : profile) {
        text += fuzzsupport::hex32(s.first) + " " + fuzzsupport::hex32(s.second) + "\n";
    }
    fuzzsupport::writeFile(work().nvapiStore, text);
}

std::string Line::operator[](const std::string& key) const {
    return fuzzsupport::field(text, key);
}

std::string journalText() {
    return fuzzsupport::readFile(work().journal);
}

std::vector<Line> journal() {
    std::vector<Line> lines;
    for (const std::string& text : fuzzsupport::linesOf(journalText())) {
        Line line;
        line.text = text;
        std::istringstream words(text);
        words >> line.library >> line.event;
        lines.push_back(line);
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
    return fuzzsupport::readFile(work().nvapiStore);
}

std::string nvcplStoreText() {
    return fuzzsupport::readFile(work().nvcplStore);
}

void checkLifecycle(const std::vector<Line>& lines) {
    const std::string text = journalText();
    std::map<std::string, int> loaded;
    std::set<std::string> sessions;
    std::set<std::string> lookedUp;
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
        } else if (l.event == "NvAPI_Unload") {
            require(l["open-sessions"] == "0", "no session is open at NvAPI_Unload", text);
        } else if (l.event == "post") {
            require(l["match"] == "yes", "the call hooks get their context back", text);
        }
    }
    for (const auto& library : loaded) {
        require(library.second == 0, "every library is unloaded again", text);
    }
    require(sessions.empty(), "every session is destroyed", text);
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
