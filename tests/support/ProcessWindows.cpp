// Starting programs of the build on Windows.
#include "support/TestSupport.h"

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace testsupport {

// Not _exit: its ExitProcess lets the C runtime library flush its streams on the way out.
void endProcessNow(int code) {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    std::abort(); // not reached
}

namespace {

std::wstring widen(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

std::wstring quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
        return widen(arg);
    }
    std::wstring out = L"\"";
    for (char c : arg) {
        if (c == '"') {
            out += L'\\';
        }
        out += static_cast<wchar_t>(c);
    }
    return out + L"\"";
}

} // namespace

RunResult runProgram(const std::string& name, const std::vector<std::string>& args) {
    std::string folder = makeTempFolder("run");
    std::string outPath = folder + "\\stdout";

    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE out = CreateFileW(widen(outPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("cannot create " + outPath);
    }
    std::wstring application = widen(programFile(name));
    std::wstring commandLine = quoted(programFile(name));
    for (const auto& a : args) {
        commandLine += L" " + quoted(a);
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                  0, nullptr, nullptr, &startup, &process);
    CloseHandle(out);
    if (!started) {
        throw std::runtime_error("cannot start " + programFile(name));
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    RunResult result;
    result.exitCode = static_cast<int>(code);
    result.output = readFile(outPath);
    std::filesystem::remove_all(folder);
    return result;
}

void setEnvironment(const std::string& name, const std::string& value) {
    // _putenv_s updates the runtime's copy (getenv) and the process environment (children).
    _putenv_s(name.c_str(), value.c_str());
}

std::string textTheLocaleRefuses() {
    return {};
}

TightStream::TightStream(std::size_t) {}

TightStream::~TightStream() = default;

std::string TightStream::taken() {
    return {};
}

} // namespace testsupport
