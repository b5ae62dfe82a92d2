// Starting programs of the build on the host.
#include "support/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

void endProcessNow(int code) {
    _exit(code);
}

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

std::string textTheLocaleRefuses() {
    return "\xFF";
}

TightStream::TightStream(std::size_t room) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return;
    }
    reader_ = fds[0];
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    // Linux pipes hold 16 pages: leave `room` bytes free in the last one. A write of up to a
    // page is all or nothing, and one that does not fit finds no free page.
    const int capacity = ::fcntl(fds[1], F_GETPIPE_SZ);
    const std::string fill(static_cast<std::size_t>(capacity) - room, 'f');
    const ssize_t n = ::write(fds[1], fill.data(), fill.size());
    filled_ = n > 0 ? static_cast<std::size_t>(n) : 0;
    stream_ = ::fdopen(fds[1], "w");
    if (stream_ != nullptr) {
        std::setvbuf(stream_, nullptr, _IONBF, 0);
    }
}

TightStream::~TightStream() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
    }
    if (reader_ >= 0) {
        ::close(reader_);
    }
}

std::string TightStream::taken() {
    std::string all;
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(reader_, chunk, sizeof(chunk))) > 0) {
        all.append(chunk, static_cast<std::size_t>(n));
    }
    return all.size() > filled_ ? all.substr(filled_) : std::string();
}

} // namespace testsupport
