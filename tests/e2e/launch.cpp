// Starts a Windows program with a command line of our choosing and returns its exit code.
//   launch.exe PROGRAM "COMMAND LINE"
// Under Wine a program started as `wine Z:\...\Durnavel.exe` sees its full path, with
// backslashes, as its first command-line word. Started through this launcher with a command line
// such as "Durnavel -s 1", the first word is "Durnavel", as when a technician types it at a
// prompt, and the single-instance guard gets a name the system accepts.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t* argv[]) {
    if (argc != 3) {
        return 120;
    }
    std::wstring commandLine = argv[2];
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(argv[1], commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return 121;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 121;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
