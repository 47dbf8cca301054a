// Known-answer vectors for the frame layout, checksum and escaping.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "protocol/Frame.h"

using namespace r4t8;

namespace {

Bytes Hex(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    std::string tok;
    while (in >> tok) out.push_back(static_cast<uint8_t>(std::stoul(tok, nullptr, 16)));
    return out;
}

struct Vector {
    const char* name;
    Bytes built;
    const char* expected;
};

class WorkedFrames : public ::testing::TestWithParam<Vector> {};

TEST_P(WorkedFrames, MatchTheWire) {
    EXPECT_EQ(GetParam().built, Hex(GetParam().expected)) << GetParam().name;
}

const uint8_t kPassword5807[4] = {'5', '8', '0', '7'};
const uint8_t kTime2014[6] = {0x0E, 0x03, 0x05, 0x08, 0x07, 0x06};

INSTANTIATE_TEST_SUITE_P(
    AllRequests, WorkedFrames,
    ::testing::Values(
        Vector{"read 1024", BuildReadBlockFrame(1024),
               "A5 09 00 11 01 00 01 00 00 04 00 00 DF FF A5"},
        Vector{"get time", BuildGetTimeFrame(), "A5 05 00 23 01 00 01 00 D5 FF A5"},
        Vector{"set time raw", BuildSetTimeFrame(kTime2014),
               "A5 0B 00 22 01 00 01 00 0E 03 05 08 07 06 A5 FF A5"},
        Vector{"history count", BuildHistoryCountFrame(14, 1, 1, 14, 1, 31),
               "A5 0B 00 15 01 00 01 00 0E 01 01 0E 01 1F 9F FF A5"},
        Vector{"history page 1", BuildHistoryPageFrame(1),
               "A5 07 00 16 01 00 01 00 01 00 DF FF A5"},
        Vector{"history page 0", BuildHistoryPageFrame(0),
               "A5 07 00 16 01 00 01 00 00 00 E0 FF A5"},
        Vector{"current data", BuildCurrentDataFrame(), "A5 05 00 17 01 00 01 00 E1 FF A5"},
        Vector{"relay close 10", BuildRelayCloseFrame(10),
               "A5 08 00 18 01 00 01 00 01 43 0A 00 8F FF A5"},
        Vector{"relay pulse 3 1 5", BuildRelayPulseFrame(3, 1, 5),
               "A5 0B 00 18 01 00 01 00 01 50 03 00 01 00 05 80 FF A5"},
        Vector{"relay release", BuildRelayReleaseFrame(), "A5 06 00 18 01 00 01 00 01 4F 8F FF A5"},
        Vector{"debug on", BuildDebugModeFrame(true), "A5 06 00 20 01 00 01 00 01 D6 FF A5"},
        Vector{"debug off", BuildDebugModeFrame(false), "A5 06 00 20 01 00 01 00 00 D7 FF A5"},
        Vector{"factory reset", BuildFactoryResetFrame(), "A5 05 00 14 01 00 01 00 E4 FF A5"}));

TEST(Frame, SizesOfEveryRequest) {
    uint8_t block[kBlockSize];
    std::fill(std::begin(block), std::end(block), 0);
    EXPECT_EQ(BuildLoginFrame(kPassword5807).size(), 15u);
    EXPECT_EQ(BuildEraseBlockFrame(2048).size(), 15u);
    EXPECT_EQ(BuildWriteBlockFrame(2048, block).size(), 271u);
    EXPECT_EQ(BuildWriteDoneFrame().size(), 11u);
    EXPECT_EQ(BuildSetTimeFrame(kTime2014).size(), 17u);
    EXPECT_EQ(BuildHistoryPageFrame(300).size(), 13u);
    const Bytes login = BuildLoginFrame(kPassword5807);
    EXPECT_EQ(login[1], 9);
    EXPECT_EQ(login[3], cmd_login);
    const Bytes write = BuildWriteBlockFrame(4096, block);
    EXPECT_EQ(write[1], 0x09);
    EXPECT_EQ(write[2], 0x01);
    EXPECT_EQ(Bytes(write.begin() + 8, write.begin() + 12), Hex("00 10 00 00"));
}

TEST(Frame, HistoryPageCarriesHighByte) {
    const Bytes f = BuildHistoryPageFrame(0x012C);
    EXPECT_EQ(f[8], 0x2C);
    EXPECT_EQ(f[9], 0x01);
}

TEST(Checksum, WrapsBeforeInverting) {
    Bytes ff(302, 0xFF);  // indexes 1..300 hold 300 bytes of 0xFF
    EXPECT_EQ(FrameChecksum(ff, 1, 300), 0xD52B);
    EXPECT_EQ(FrameChecksum(ff, 5, 4), 0);
    EXPECT_EQ(FrameChecksum(ff, 3, 3), static_cast<uint16_t>(~0xFF));
}

TEST(Escape, SetTimeChecksumByteIsEscaped) {
    EXPECT_EQ(EscapeFrame(BuildSetTimeFrame(kTime2014)),
              Hex("A5 0B 00 22 01 00 01 00 0E 03 05 08 07 06 AA 05 FF A5"));
}

TEST(Escape, AaFollowedBy05IsNotADelimiter) {
    const Bytes raw = BuildFrame(0x30, Hex("AA 05"));
    const Bytes line = EscapeFrame(raw);
    // AA goes out as AA 0A, so the 05 after it is a plain byte.
    const Bytes body(line.begin() + 1, line.end() - 1);
    EXPECT_EQ(Bytes(body.begin() + 7, body.begin() + 10), Hex("AA 0A 05"));
    EXPECT_EQ(UnescapeFrame(body), Bytes(raw.begin() + 1, raw.end() - 1));
}

TEST(Escape, WorstCaseWriteFrameStaysWithinTheBound) {
    uint8_t block[kBlockSize];
    for (size_t i = 0; i < kBlockSize; ++i) block[i] = (i % 2) ? 0xA5 : 0xAA;
    // Address bytes 0xA5 0xAA ... are not valid block addresses, but the escape does not care.
    Bytes raw = BuildWriteBlockFrame(0xAAA5AAA5, block);
    // Force the checksum bytes to need escaping too.
    raw[268] = 0xA5;
    raw[269] = 0xAA;
    // Length, command and header never need escaping: 2 + 7 + 2 * 262 bytes.
    EXPECT_EQ(EscapeFrame(raw).size(), 533u);
    EXPECT_LE(EscapeFrame(raw).size(), kMaxEscapedFrame);
}

TEST(Unescape, TableOfSequences) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"AA 05", "A5"},    {"AA 0A", "AA"},          {"01 AA 05 02", "01 A5 02"},
        {"AA 33 05", "A5"},  // a stray byte after AA is dropped and the flag stays
        {"AA", ""},         {"10 20 30", "10 20 30"},
    };
    for (const auto& c : cases) EXPECT_EQ(UnescapeFrame(Hex(c.in)), Hex(c.out)) << c.in;
}

TEST(Escape, RoundTripOfEveryByte) {
    Bytes payload;
    for (int i = 0; i < 256; ++i) payload.push_back(static_cast<uint8_t>(i));
    const Bytes raw = BuildFrame(0x22, payload);
    const Bytes line = EscapeFrame(raw);
    for (size_t i = 1; i + 1 < line.size(); ++i) EXPECT_NE(line[i], kFrameDelimiter);
    const Bytes inner = UnescapeFrame(Bytes(line.begin() + 1, line.end() - 1));
    EXPECT_EQ(inner, Bytes(raw.begin() + 1, raw.end() - 1));
}

TEST(ParseRawFrame, AcceptsGoodAndRejectsBad) {
    uint8_t cmd = 0;
    Bytes payload;
    Bytes good = BuildReadBlockFrame(2048);
    ASSERT_TRUE(ParseRawFrame(good, cmd, payload));
    EXPECT_EQ(cmd, cmd_read_block);
    EXPECT_EQ(payload, Hex("00 08 00 00"));
    Bytes badHigh = good;
    badHigh[13] ^= 1;
    EXPECT_FALSE(ParseRawFrame(badHigh, cmd, payload));
    Bytes shortFrame(good.begin(), good.begin() + 10);
    EXPECT_FALSE(ParseRawFrame(shortFrame, cmd, payload));
}

}  // namespace
