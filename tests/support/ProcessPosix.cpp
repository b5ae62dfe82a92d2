// Starting programs of the build on the host.
#include "support/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

RunResult runProgram(const std::string& name, const std::vector<std::string>& args) {
    std::string folder = makeTempFolder("run");
    std::string outPath = folder + "/stdout";
    std::string program = "./" + programFile(name);

    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        int fd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0) {
            ::_exit(127);
        }
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    RunResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.output = readFile(outPath);
    std::filesystem::remove_all(folder);
    return result;
}

void setEnvironment(const std::string& name, const std::string& value) {
    if (value.empty()) {
        ::unsetenv(name.c_str());
    } else {
        ::setenv(name.c_str(), value.c_str(), 1);
    }
}

} // namespace testsupport
