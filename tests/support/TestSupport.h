// Helpers shared by the tests: programs of the build folder, files, environment.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace testsupport {

struct RunResult {
    int exitCode = -1;
    std::string output; // standard output, byte for byte
};

// The file name of a program of this build ("guard_probe" -> "guard_probe.exe" on Windows).
std::string programFile(const std::string& name);

// Runs a program of the build folder (the tests' working folder) with the given arguments and
// waits for it. The child inherits the environment; its standard output is captured.
RunResult runProgram(const std::string& name, const std::vector<std::string>& args);

// Sets (or, with an empty value, removes) a variable of this process's environment, which the
// programs it starts inherit.
void setEnvironment(const std::string& name, const std::string& value);

// Ends this process at once with the exit code, as a crash would: no runtime flushes anything on
// the way out.
[[noreturn]] void endProcessNow(int code);

// A fresh, empty folder for one test.
std::string makeTempFolder(const std::string& label);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& data);

// The text with every carriage return removed (the Windows console ends lines with CR LF).
std::string withoutCarriageReturns(const std::string& text);

// Narrow text the conversion locale of the tests refuses: a byte above 0x7F, which the host's
// "C" locale does not take. Empty on Windows, whose runtime widens every byte in that locale.
std::string textTheLocaleRefuses();

// A stream on which a write longer than `room` bytes (at most 4096) fails as a whole while a
// shorter one goes through: a nearly full non-blocking pipe. stream() is null where the platform
// offers no such stream (Windows).
class TightStream {
  public:
    explicit TightStream(std::size_t room);
    ~TightStream();
    TightStream(const TightStream&) = delete;
    TightStream& operator=(const TightStream&) = delete;

    std::FILE* stream() const { return stream_; }
    // What went through, after the filling.
    std::string taken();

  private:
    std::FILE* stream_ = nullptr;
    int reader_ = -1;
    std::size_t filled_ = 0;
};

} // namespace testsupport
