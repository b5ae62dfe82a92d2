#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/kviDebug.h"
#include "support/ParamName.h"
#include "support/TestSupport.h"

namespace {

std::vector<std::string> lines;
int keepLine(const char* line) {
    lines.emplace_back(line);
    return 7;
}

std::string streamContents(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string data;
    char chunk[512];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof(chunk), f)) > 0) {
        data.append(chunk, n);
    }
    return data;
}

struct DebugCase {
    const char* label;
    std::string function;
    int line;
    std::string message;   // passed as the "%s" argument
    std::string viaHook;   // what the hook receives
    std::string viaStream; // what the stream receives
};

class DebugPrint : public ::testing::TestWithParam<DebugCase> {
  protected:
    void TearDown() override {
        kviDebugSetHook(nullptr);
        kviDebugSetStream(nullptr);
    }
};

TEST_P(DebugPrint, PrefixAndMessageThroughHookAndStream) {
    const DebugCase& c = GetParam();

    // With a hook the stream gets nothing.
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    kviDebugSetStream(f);
    lines.clear();
    kviDebugSetHook(keepLine);
    EXPECT_EQ(kviDebugPrint(c.function.c_str(), c.line, "%s", c.message.c_str()), 7);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], c.viaHook);
    EXPECT_LE(lines[0].size(), 1023u);
    EXPECT_EQ(streamContents(f), "");

    kviDebugSetHook(nullptr);
    EXPECT_GE(kviDebugPrint(c.function.c_str(), c.line, "%s", c.message.c_str()), 0);
    EXPECT_EQ(streamContents(f), c.viaStream);
    std::fclose(f);
    EXPECT_EQ(lines.size(), 1u) << "no hook call once the hook is removed";
}

const std::string longName(2000, 'n');
const std::string longMessage(1500, 'm');

INSTANTIATE_TEST_SUITE_P(
    KviDebug, DebugPrint,
    ::testing::Values(DebugCase{"plain", "tool::Main::initialize", 101,
                                "Error : Failed to parse.\n",
                                "tool::Main::initialize: Line101  Error : Failed to parse.\n",
                                "tool::Main::initialize: Line101  Error : Failed to parse.\n"},
                      DebugCase{"emptyMessage", "f", -3, "", "f: Line-3  ", "f: Line-3  "},
                      // The prefix is cut at 1023 characters in every case; the message is cut only
                      // for the hook, where the whole line must fit in 1023 characters.
                      DebugCase{"longName", longName, 5, "tail", longName.substr(0, 1023),
                                longName.substr(0, 1023) + "tail"},
                      DebugCase{"longMessage", "g", 1, longMessage,
                                ("g: Line1  " + longMessage).substr(0, 1023),
                                "g: Line1  " + longMessage}),
    ByLabel());

// A prefix the stream refuses ends the call with the stream's negative result; the message,
// which the stream would take, is not written.
TEST(KviDebugStream, FailedPrefixWriteEndsTheCall) {
    testsupport::TightStream tight(16);
    if (tight.stream() == nullptr) {
        GTEST_SKIP() << "no stream here that refuses one write and takes the next";
    }
    kviDebugSetStream(tight.stream());
    const int result = kviDebugPrint("tool::Main::initialize", 101, "%s", "m\n");
    kviDebugSetStream(nullptr);
    EXPECT_LT(result, 0);
    EXPECT_EQ(tight.taken(), "");

    // The same stream takes a line short enough for it.
    testsupport::TightStream roomy(64);
    kviDebugSetStream(roomy.stream());
    EXPECT_EQ(kviDebugPrint("f", 1, "%s", "m\n"), 2);
    kviDebugSetStream(nullptr);
    EXPECT_EQ(roomy.taken(), "f: Line1  m\n");
}

TEST(KviDebugFormat, ValuesAreFormattedPrintfStyle) {
    lines.clear();
    kviDebugSetHook(keepLine);
    kviDebugPrint("tool::Base::run", 116, "Function finalize failed. code = %d\n", 3);
    kviDebugPrint("kvPlatformGetPlatformIdEx", 1559, "kvOemstringGetOemstring Error!! (%d)\n", -3);
    kviDebugSetHook(nullptr);
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                  "tool::Base::run: Line116  Function finalize failed. code = 3\n",
                  "kvPlatformGetPlatformIdEx: Line1559  kvOemstringGetOemstring Error!! (-3)\n"}));
}

} // namespace
