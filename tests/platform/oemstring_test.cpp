// SMBIOS strings read through the platform device, on images made by the image builder.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "SimDevice.h"
#include "platform/kvOemstring.h"
#include "support/ParamName.h"

namespace {

constexpr std::uint32_t kFirstWindow = 0xF0000;
constexpr std::uint32_t kSecondWindow = 0xF7FF0;
constexpr std::uint32_t kWindowSize = 0x8010;
constexpr std::uint32_t kDefaultTable = 0xF5A10; // the builder's default table address
constexpr std::uint32_t kBlock = 0x10000;

const std::array<std::string, 5> kTalvenorQtd2 = {"Vesnara", "talvenor", "QTD", "Vesnara board",
                                                  "QTD2"};
const std::array<std::string, 5> kXyzQtd2 = {"A", "B", "XYZ", "C", "QTD2"};
const std::array<std::string, 5> kNoOem = {"", "", "", "", ""};

struct LoadCase {
    const char* label;
    const char* image;
    std::vector<std::string> faults;
    int result; // of every getter
    std::string manufacturer;
    std::array<std::string, 5> oem;
    std::vector<std::uint32_t> windows; // addresses of the window reads, in order
    std::uint32_t tableAddress;         // the table read; 0 when there is none
    std::uint32_t tableCount;
};

void PrintTo(const LoadCase& c, std::ostream* os) {
    *os << c.label;
}

using Windows = std::vector<std::uint32_t>;
const Windows kOne = {kFirstWindow};
const Windows kBoth = {kFirstWindow, kSecondWindow};
const Windows kNone = {};

// The table read: where, and how many bytes were asked for (the output buffer is always 0x10000).
struct Table {
    std::uint32_t address;
    std::uint32_t count;
};
const Table kDefault = {kDefaultTable, kBlock - 0x5A10};
const Table kNoTable = {0, 0};

LoadCase loads(const char* label, const char* image, std::string manufacturer,
               std::array<std::string, 5> oem, Windows windows, Table table,
               std::vector<std::string> faults = {}) {
    return {label,          image,   std::move(faults), 0,          std::move(manufacturer),
            std::move(oem), windows, table.address,     table.count};
}

LoadCase fails(const char* label, const char* image, Windows windows, Table table,
               std::vector<std::string> faults = {}) {
    return {label, image, std::move(faults), -3, "", kNoOem, windows, table.address, table.count};
}

class OemstringLoad : public ::testing::TestWithParam<LoadCase> {
  protected:
    void SetUp() override { kvOemstringResetForTest(); }
    void TearDown() override { kvOemstringResetForTest(); }
};

TEST_P(OemstringLoad, ReadsTheTableThroughTheDevice) {
    const LoadCase& c = GetParam();
    simdevice::serve(c.image, c.faults);

    // The first call loads: at most two windows and one block.
    char buffer[32];
    std::memset(buffer, 'x', sizeof(buffer));
    ASSERT_EQ(kvOemstringGetOemstring(buffer, 0), c.result);
    EXPECT_EQ(std::string(buffer), c.oem[0]);

    // With the open fault the device is not there, and leaves no trace.
    const bool missing = std::find(c.faults.begin(), c.faults.end(), "open") != c.faults.end();
    simdevice::Journal load = simdevice::journal();
    EXPECT_EQ(load.opens, missing ? 0 : 1);
    std::vector<std::uint32_t> windows;
    for (const auto& r : load.requests) {
        if (r.out == kWindowSize) {
            EXPECT_EQ(r.count, kWindowSize) << "window at 0x" << std::hex << r.address;
            windows.push_back(static_cast<std::uint32_t>(r.address));
        }
    }
    EXPECT_EQ(windows, c.windows);
    std::vector<simdevice::Request> tables;
    for (const auto& r : load.requests) {
        if (r.out == kBlock) {
            tables.push_back(r);
        }
    }
    EXPECT_EQ(load.requests.size(), windows.size() + tables.size());
    ASSERT_EQ(tables.size(), c.tableAddress == 0 ? 0u : 1u);
    if (c.tableAddress != 0) {
        EXPECT_EQ(tables[0].address, c.tableAddress);
        EXPECT_EQ(tables[0].count, c.tableCount);
    }

    // The other strings; a loaded store is not read again, a failed load is tried again.
    simdevice::clearJournal();
    for (unsigned int index = 1; index < 5; ++index) {
        std::memset(buffer, 'x', sizeof(buffer));
        EXPECT_EQ(kvOemstringGetOemstring(buffer, index), c.result) << index;
        EXPECT_EQ(std::string(buffer), c.oem[index]) << index;
    }
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(kvOemstringGetManufacturer(buffer), c.result);
    EXPECT_EQ(std::string(buffer), c.manufacturer);
    simdevice::Journal later = simdevice::journal();
    EXPECT_EQ(later.opens, c.result == 0 || missing ? 0 : 5);
}

const std::string kForty = "0123456789012345678901234567890123456789";

INSTANTIATE_TEST_SUITE_P(
    Tables, OemstringLoad,
    ::testing::Values(
        loads("talvenor", "qtd2", "NEC", kTalvenorQtd2, kOne, kDefault),
        loads("twoOemStrings", "two-oem", "NEC", {"First", "Second", "", "", ""}, kOne, kDefault),
        loads("fortyCharactersCut", "long-strings", "Manufacturer name of forty char",
              {"A", "B", kForty.substr(0, 31), "", ""}, kOne, kDefault),
        loads("secondType11Ignored", "second-oem", "NEC", kTalvenorQtd2, kOne, kDefault),
        loads("noType11", "no-oem", "NEC", kNoOem, kOne, kDefault),
        loads("noType1", "no-system", "", kTalvenorQtd2, kOne, kDefault),
        loads("type1WithoutStrings", "empty-manufacturer", "", kTalvenorQtd2, kOne, kDefault),
        // The first structure of a type wins: a later type 1 does not replace its manufacturer,
        // a later type 11 does not fill the OEM strings the first one lacks.
        loads("secondType1Ignored", "second-system", "NEC", kXyzQtd2, kOne, kDefault),
        loads("secondType11FillsNothing", "short-first-oem", "NEC", {"A", "B", "", "", ""}, kOne,
              kDefault),
        // Neither an end-of-table type in the middle, nor the Manufacturer field byte, nor the
        // OEM-strings Count byte changes what is read.
        loads("type127InTheMiddle", "mid-end", "NEC", kXyzQtd2, kOne, kDefault),
        loads("manufacturerFieldIgnored", "manufacturer-field", "NEC", kXyzQtd2, kOne, kDefault),
        loads("countByte1Ignored", "oem-count-1", "NEC", kTalvenorQtd2, kOne, kDefault),
        loads("countByte0Ignored", "oem-count-0", "NEC", kTalvenorQtd2, kOne, kDefault)),
    ByLabel());

INSTANTIATE_TEST_SUITE_P(
    Anchors, OemstringLoad,
    ::testing::Values(
        // The last position whose 15 entry-point bytes fit the first window.
        loads("at8001InFirstWindow", "anchor-8001", "NEC", kTalvenorQtd2, kOne,
              {0xF8011, kBlock - 0x8011}),
        // Entry points reaching past the first window are taken whole from the second.
        loads("at8002InSecondWindow", "anchor-8002", "NEC", kTalvenorQtd2, kBoth,
              {0xF8012, kBlock - 0x8012}),
        loads("at8005InSecondWindow", "anchor-8005", "NEC", kTalvenorQtd2, kBoth,
              {0xF8015, kBlock - 0x8015}),
        loads("at8007InSecondWindow", "anchor-8007", "NEC", kTalvenorQtd2, kBoth,
              {0xF8017, kBlock - 0x8017}),
        loads("at8008InSecondWindow", "anchor-8008", "NEC", kTalvenorQtd2, kBoth,
              {0xF8018, kBlock - 0x8018}),
        loads("onlyInSecondWindow", "anchor-second", "NEC", kTalvenorQtd2, kBoth,
              {0xF9010, kBlock - 0x9010}),
        // The entry point ends exactly at 1 MB; the table lies above it.
        loads("lastPosition", "anchor-last", "NEC", kTalvenorQtd2, kBoth, {0x100001, kBlock}),
        fails("pastTheSecondWindow", "anchor-beyond", kBoth, kNoTable),
        // Stray "_DMI_" bytes in firmware code, before the real entry point.
        loads("falseAnchorSkipped", "false-anchor", "NEC", kTalvenorQtd2, kOne, kDefault),
        fails("onlyFalseAnchors", "false-anchor-only", kBoth, kNoTable),
        fails("noEntryPoint", "no-entry", kBoth, kNoTable),
        fails("tableAddressZero", "table-zero", kOne, kNoTable)),
    ByLabel());

INSTANTIATE_TEST_SUITE_P(
    TablePlaces, OemstringLoad,
    ::testing::Values(
        // Above 1 MB the whole block is read, not 0x100000 minus the address.
        loads("above1MB", "table-above-1mb", "NEC", kTalvenorQtd2, kOne, {0xFFFD40, kBlock}),
        loads("at1MB", "table-at-1mb", "NEC", kTalvenorQtd2, kOne, {0x100000, kBlock}),
        loads("below1MBStopsThere", "table-near-1mb", "NEC", kTalvenorQtd2, kOne,
              {0xF8000, 0x8000}),
        loads("fullBlockBelowF0000", "runaway", "NEC", kTalvenorQtd2, kOne, {0xE0000, kBlock})),
    ByLabel());

INSTANTIATE_TEST_SUITE_P(
    Malformed, OemstringLoad,
    ::testing::Values(
        loads("zeroLengthFirst", "zero-length", "", kNoOem, kOne, kDefault),
        // A structure shorter than its own header ends the walk as a 0 does.
        loads("lengthByte1", "length-1", "", kNoOem, kOne, kDefault),
        loads("lengthByte2", "length-2", "", kNoOem, kOne, kDefault),
        loads("lengthByte3", "length-3", "NEC", kNoOem, kOne, kDefault),
        loads("lengthPastTheEnd", "length-past-end", "NEC", kTalvenorQtd2, kOne, {0xE0000, kBlock}),
        loads("stringSetRunsOff", "runaway", "NEC", kTalvenorQtd2, kOne, {0xE0000, kBlock}),
        loads("stringSetRunsOffAbove1MB", "runaway-high", "NEC", kTalvenorQtd2, kOne,
              {0x200000, kBlock}),
        // The walk stops where a structure's formatted part reaches the table length.
        loads("tableLengthCutsType11", "table-length-cut", "NEC", kNoOem, kOne, kDefault),
        loads("tableLengthJustFits", "table-length-fits", "NEC", kTalvenorQtd2, kOne, kDefault),
        loads("tableLengthTooLarge", "table-length-huge", "NEC", kTalvenorQtd2, kOne, kDefault)),
    ByLabel());

INSTANTIATE_TEST_SUITE_P(
    DeviceFaults, OemstringLoad,
    ::testing::Values(fails("deviceMissing", "qtd2", kNone, kNoTable, {"open"}),
                      fails("noImage", "", kBoth, kNoTable),
                      fails("everyRequestRefused", "qtd2", kBoth, kNoTable, {"refuse"}),
                      fails("firstWindowRefused", "qtd2", kBoth, kNoTable, {"refuse 0xF0000"}),
                      loads("firstWindowRefusedSecondHasIt", "anchor-second", "NEC", kTalvenorQtd2,
                            kBoth, {0xF9010, kBlock - 0x9010}, {"refuse 0xF0000"}),
                      loads("firstWindowShortSecondHasIt", "anchor-second", "NEC", kTalvenorQtd2,
                            kBoth, {0xF9010, kBlock - 0x9010}, {"short 0xF0000"}),
                      fails("firstWindowShort", "qtd2", kBoth, kNoTable, {"short 0xF0000"}),
                      fails("tableRefused", "qtd2", kOne, kDefault, {"refuse 0xF5A10"}),
                      fails("tableShort", "qtd2", kOne, kDefault, {"short 0xF5A10"})),
    ByLabel());

class Oemstring : public ::testing::Test {
  protected:
    void SetUp() override { kvOemstringResetForTest(); }
    void TearDown() override { kvOemstringResetForTest(); }
};

TEST_F(Oemstring, BadArgumentsDoNotTouchTheDevice) {
    simdevice::serve("qtd2");
    char buffer[32] = "untouched";
    EXPECT_EQ(kvOemstringGetOemstring(buffer, 5), -2);
    EXPECT_EQ(std::string(buffer), "");
    std::strcpy(buffer, "untouched");
    EXPECT_EQ(kvOemstringGetOemstring(buffer, 0xFFFFFFFFu), -2);
    EXPECT_EQ(std::string(buffer), "");
    EXPECT_EQ(kvOemstringGetOemstring(nullptr, 0), -2);
    EXPECT_EQ(kvOemstringGetManufacturer(nullptr), -2);
    EXPECT_TRUE(simdevice::journal().lines.empty());
}

TEST_F(Oemstring, AFailedLoadIsTriedAgainUntilItSucceedsThenNeverAgain) {
    simdevice::serve("qtd2", {"refuse"});
    char buffer[32];
    EXPECT_EQ(kvOemstringGetOemstring(buffer, 2), -3);
    EXPECT_EQ(kvOemstringGetManufacturer(buffer), -3);
    EXPECT_EQ(simdevice::journal().opens, 2);

    simdevice::serve("qtd2");
    EXPECT_EQ(kvOemstringGetOemstring(buffer, 2), 0);
    EXPECT_EQ(std::string(buffer), "QTD");
    EXPECT_EQ(simdevice::journal().opens, 1);

    // Once loaded, another image or a missing device changes nothing.
    simdevice::serve("qtf-rev-empty", {"open"});
    EXPECT_EQ(kvOemstringGetOemstring(buffer, 2), 0);
    EXPECT_EQ(std::string(buffer), "QTD");
    EXPECT_EQ(kvOemstringGetManufacturer(buffer), 0);
    EXPECT_EQ(std::string(buffer), "NEC");
    EXPECT_TRUE(simdevice::journal().lines.empty());
}

TEST_F(Oemstring, TheRequestAsSent) {
    simdevice::serve("qtd2");
    char buffer[32];
    ASSERT_EQ(kvOemstringGetOemstring(buffer, 4), 0);
    simdevice::Journal j = simdevice::journal();
    ASSERT_GE(j.lines.size(), 3u);
    // Read and write access, no sharing, open existing.
    EXPECT_EQ(j.lines[0], simdevice::openLine(0x0012019F, 0, 1));
    EXPECT_EQ(j.lines[1], "request code=0x9C406104 in=16 out=0x8010 address=0x000F0000 mode=1 "
                          "count=0x8010 result=ok returned=0x8010");
    EXPECT_EQ(j.lines[2], "request code=0x9C406104 in=16 out=0x10000 address=0x000F5A10 mode=1 "
                          "count=0xA5F0 result=ok returned=0x10000");
}

// The walk on memory already read: no read outside the buffer whatever the table says.
TEST(OemstringWalk, StaysInsideTheBuffer) {
    // type 11, length 5, handle, count, then a string running to the end of the buffer.
    const unsigned char runaway[] = {11, 5, 0, 0, 1, 'Q', 'T', 'D'};
    KvOemstringStrings strings;
    kvOemstringWalkTable(runaway, sizeof(runaway), 0xFFFF, &strings);
    EXPECT_EQ(std::string(strings.oemString[0]), "");

    // The closing NUL of the set would be the byte after the buffer.
    const unsigned char unclosed[] = {11, 5, 0, 0, 1, 'Q', 'T', 'D', 0};
    kvOemstringWalkTable(unclosed, sizeof(unclosed), 0xFFFF, &strings);
    EXPECT_EQ(std::string(strings.oemString[0]), "QTD");

    // A header cut by the end of the buffer.
    const unsigned char cut[] = {1, 0x1B, 0, 0, 1, 'N', 'E', 'C', 0, 0, 11};
    kvOemstringWalkTable(cut, sizeof(cut), 0xFFFF, &strings);
    EXPECT_EQ(std::string(strings.manufacturer), "");
}

TEST(OemstringAnchor, ChecksummedAndInsideTheWindow) {
    std::vector<unsigned char> window(0x8010, 0);
    const unsigned char entry[15] = {'_',  'D',  'M',  'I',  '_', 0, 0x34, 0x12,
                                     0x78, 0x56, 0x34, 0x12, 3,   0, 0x28};
    auto place = [&](std::size_t at, bool checksummed) {
        std::fill(window.begin(), window.end(), 0);
        std::memcpy(window.data() + at, entry, sizeof(entry));
        unsigned int sum = 0;
        for (unsigned char b : entry) {
            sum += b;
        }
        window[at + 5] = static_cast<unsigned char>(checksummed ? 0x100 - (sum & 0xFF) : 1);
    };
    std::uint16_t length = 0;
    std::uint32_t address = 0;

    place(0x8001, true);
    ASSERT_TRUE(kvOemstringFindAnchor(window.data(), window.size(), &length, &address));
    EXPECT_EQ(length, 0x1234);
    EXPECT_EQ(address, 0x12345678u);

    place(0x20, false);
    EXPECT_FALSE(kvOemstringFindAnchor(window.data(), window.size(), &length, &address));

    // The 15 bytes of a match at 0x8002 would end past the window.
    window.resize(0x8011 + 15);
    place(0x8002, true);
    EXPECT_FALSE(kvOemstringFindAnchor(window.data(), 0x8010, &length, &address));

    // Positions from 0x8008 on are never searched, however much was read.
    window.resize(0x9000);
    place(0x8008, true);
    EXPECT_FALSE(kvOemstringFindAnchor(window.data(), window.size(), &length, &address));
    place(0x8007, true);
    EXPECT_TRUE(kvOemstringFindAnchor(window.data(), window.size(), &length, &address));

    // A window just big enough for one entry point; without it, '_' bytes in its last four
    // start no comparison past its end.
    std::vector<unsigned char> exact(window.begin() + 0x8007 - 4, window.begin() + 0x8007 + 15);
    EXPECT_TRUE(kvOemstringFindAnchor(exact.data(), exact.size(), &length, &address));
    std::memcpy(exact.data() + exact.size() - 4, "_DM_", 4);
    exact[4] = 0;
    EXPECT_FALSE(kvOemstringFindAnchor(exact.data(), exact.size(), &length, &address));
}

} // namespace
