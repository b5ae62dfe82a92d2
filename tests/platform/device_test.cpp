// The simulated platform device itself, as the platform library and the end-to-end runs rely on
// it: requests, fault switches and journal (host device on the host, vesnara.sys under Wine).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "SimDevice.h"
#include "support/ParamName.h"

namespace {

constexpr DWORD kRead = 0x9C406104;
constexpr std::uint64_t kEntry = 0xF59F0; // the builder's default entry point

struct Reply {
    BOOL ok = FALSE;
    DWORD error = 0;
    DWORD returned = 0;
    std::vector<unsigned char> data;
};

std::vector<unsigned char> record(std::uint64_t address, std::uint32_t mode, std::uint32_t count) {
    std::vector<unsigned char> r(16);
    for (int i = 0; i < 8; ++i) {
        r[i] = static_cast<unsigned char>(address >> (8 * i));
    }
    for (int i = 0; i < 4; ++i) {
        r[8 + i] = static_cast<unsigned char>(mode >> (8 * i));
        r[12 + i] = static_cast<unsigned char>(count >> (8 * i));
    }
    return r;
}

// Opens the device as the tool does (or as given), sends one request with an output buffer of
// `outSize` bytes (filled with 0xEE beforehand) and closes it again.
Reply ask(DWORD code, std::vector<unsigned char> in, DWORD outSize,
          DWORD access = GENERIC_READ | GENERIC_WRITE, DWORD share = 0,
          DWORD disposition = OPEN_EXISTING) {
    Reply reply;
    HANDLE device = CreateFileW(L"\\\\.\\vesnara", access, share, nullptr, disposition, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        reply.error = GetLastError();
        return reply;
    }
    reply.data.assign(outSize, 0xEE);
    reply.ok = DeviceIoControl(device, code, in.data(), static_cast<DWORD>(in.size()),
                               reply.data.data(), outSize, &reply.returned, nullptr);
    if (!reply.ok) {
        reply.error = GetLastError();
    }
    CloseHandle(device);
    return reply;
}

struct RequestCase {
    const char* label;
    std::vector<std::string> faults;
    DWORD code;
    std::vector<unsigned char> in;
    DWORD outSize;
    bool ok;
    DWORD returned;
    std::string result; // as journalled
};

void PrintTo(const RequestCase& c, std::ostream* os) {
    *os << c.label;
}

class DeviceRequest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(DeviceRequest, AnsweredAndJournalled) {
    const RequestCase& c = GetParam();
    simdevice::serve("qtd2", c.faults);
    Reply reply = ask(c.code, c.in, c.outSize);
    EXPECT_EQ(reply.ok != FALSE, c.ok) << "error " << reply.error;
    EXPECT_EQ(reply.returned, c.returned);
    simdevice::Journal j = simdevice::journal();
    EXPECT_EQ(j.opens, 1);
    ASSERT_EQ(j.requests.size(), 1u);
    EXPECT_EQ(j.requests[0].result, c.result);
    EXPECT_EQ(j.requests[0].returned, c.returned);
}

// A request of the default record and output size, unless given.
RequestCase answer(const char* label, std::vector<std::string> faults, DWORD returned,
                   std::string result, std::vector<unsigned char> in = record(kEntry, 1, 0x20),
                   DWORD outSize = 0x20, DWORD code = kRead) {
    const bool ok = result == "ok" || result == "short";
    return {label, std::move(faults), code, std::move(in), outSize, ok, returned, result};
}

INSTANTIATE_TEST_SUITE_P(
    Requests, DeviceRequest,
    ::testing::Values(
        answer("read", {}, 0x20, "ok"),
        answer("fewerAskedWholeBufferReported", {}, 0x40, "ok", record(kEntry, 1, 4), 0x40),
        answer("short", {"short"}, 0x1F, "short"),
        answer("shortElsewhere", {"short 0xF0000"}, 0x20, "ok"),
        answer("refused", {"refuse"}, 0, "refused"),
        answer("refusedAtThisAddress", {"refuse 0xF59F0"}, 0, "refused"),
        answer("refuseBeforeShort", {"short", "refuse"}, 0, "refused"),
        answer("modeOtherThan1", {}, 0, "bad-request", record(kEntry, 2, 0x20)),
        answer("recordTooShort", {}, 0, "bad-request", std::vector<unsigned char>(12)),
        answer("unknownCode", {}, 0, "bad-code", record(kEntry, 1, 0x20), 0x20, 0x9C406108)),
    ByLabel());

TEST(Device, ServesTheImageAndZeroesTheRest) {
    simdevice::serve("qtd2");
    Reply reply = ask(kRead, record(kEntry, 1, 5), 0x10);
    ASSERT_TRUE(reply.ok);
    EXPECT_EQ(std::string(reply.data.begin(), reply.data.begin() + 4), "_SM_");
    EXPECT_EQ(std::vector<unsigned char>(reply.data.begin() + 5, reply.data.end()),
              std::vector<unsigned char>(11, 0));

    // Past the end of the image everything reads 0.
    reply = ask(kRead, record(0x40000000, 1, 0x100), 0x100);
    ASSERT_TRUE(reply.ok);
    EXPECT_EQ(reply.data, std::vector<unsigned char>(0x100, 0));
}

TEST(Device, OpenFaultAndMissingImage) {
    simdevice::serve("qtd2", {"open"});
    Reply reply = ask(kRead, record(kEntry, 1, 0x10), 0x10);
    EXPECT_FALSE(reply.ok);
    EXPECT_EQ(reply.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    simdevice::Journal j = simdevice::journal();
    EXPECT_EQ(j.opens, 0);
    EXPECT_TRUE(j.requests.empty());

    simdevice::serve("");
    reply = ask(kRead, record(kEntry, 1, 0x10), 0x10);
    EXPECT_FALSE(reply.ok);
    simdevice::serve("no-such-image");
    reply = ask(kRead, record(kEntry, 1, 0x10), 0x10);
    EXPECT_FALSE(reply.ok);
    j = simdevice::journal();
    ASSERT_EQ(j.requests.size(), 1u);
    EXPECT_EQ(j.requests[0].result, "no-image");
}

TEST(Device, JournalLines) {
    simdevice::serve("qtd2");
    ask(kRead, record(0x123456789A, 1, 0x10), 0x20);
    simdevice::Journal j = simdevice::journal();
    ASSERT_GE(j.lines.size(), 2u);
    EXPECT_EQ(j.lines[0], simdevice::openLine(0x0012019F, 0, 1));
    EXPECT_EQ(j.lines[1], "request code=0x9C406104 in=16 out=0x20 address=0x123456789A mode=1 "
                          "count=0x10 result=ok returned=0x20");
}

} // namespace
