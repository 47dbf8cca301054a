// r4t8-sim over its real pty, talked to as the tool would: escaped request frames out, replies
// collected and unescaped; its memory and frame log read back through the helper.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDate>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "protocol/Frame.h"
#include "tests/support/SimProcess.h"
#include "tests/tools/sim/PtyClient.h"

using namespace r4t8;
using namespace r4t8::testing;

namespace {

const uint8_t kPassword[4] = {'5', '8', '0', '7'};

class SimE2e : public ::testing::Test {
  protected:
    void Start(const std::vector<std::string>& args = {}) {
        ASSERT_TRUE(sim.Start(args)) << "r4t8-sim did not start";
        ASSERT_TRUE(client.Open(sim.PtyPath())) << sim.PtyPath();
    }
    Bytes Payload(const Bytes& request, uint8_t command) {
        const auto r = client.Ask(request);
        EXPECT_TRUE(r.has_value()) << "no reply to command " << int(command);
        if (!r) return {};
        EXPECT_EQ(r->command, command);
        return r->payload;
    }
    Bytes HistoryPage(uint16_t page) {
        return Payload(BuildHistoryPageFrame(page), cmd_history_page);
    }

    SimProcess sim;
    PtyClient client;
};

TEST_F(SimE2e, LoginChecksThePasswordAndReportsModelAndVersion) {
    Start({"--password", "12", "--model", "R4T0", "--version-text", "V9"});
    const uint8_t right[4] = {'1', '2', 0, 0};
    const uint8_t wrong[4] = {'1', '2', '0', '0'};
    Bytes expected = {1, 'R', '4', 'T', '0', 0, 'V', '9', 0};
    EXPECT_EQ(Payload(BuildLoginFrame(right), cmd_login), expected);
    EXPECT_EQ(Payload(BuildLoginFrame(wrong), cmd_login), Bytes{0});
    EXPECT_EQ(Payload(BuildLoginFrame(kPassword), cmd_login), Bytes{0});
}

TEST_F(SimE2e, DefaultLoginAndBlankMemory) {
    Start();
    const Bytes login = Payload(BuildLoginFrame(kPassword), cmd_login);
    ASSERT_GE(login.size(), 7u);
    EXPECT_EQ(login[0], 1);
    EXPECT_EQ(std::string(login.begin() + 1, login.begin() + 5), "R4T1");
    EXPECT_EQ(login.back(), 0);
    for (uint32_t a :
         {kPhoneBlockAddress, kSensorBlockAddress, kGprsBlockAddress, kSystemBlockAddress})
        EXPECT_EQ(Payload(BuildReadBlockFrame(a), cmd_read_block), Bytes(kBlockSize, 0xFF)) << a;
    EXPECT_EQ(sim.DumpMemory(), Bytes(kConfigImageSize, 0xFF));
}

TEST_F(SimE2e, EraseWriteReadBackAndTheDumpShowsIt) {
    Start();
    // Bytes that need escaping on the line in both directions.
    Bytes data(kBlockSize);
    for (size_t i = 0; i < kBlockSize; ++i)
        data[i] = static_cast<uint8_t>(0xA5 ^ (i % 3 ? 0 : 0x0F));
    data[7] = 0xAA;
    EXPECT_EQ(Payload(BuildEraseBlockFrame(kSensorBlockAddress), cmd_erase_block), Bytes{1});
    EXPECT_EQ(Payload(BuildWriteBlockFrame(kSensorBlockAddress, data.data()), cmd_write_block),
              Bytes{1});
    EXPECT_EQ(Payload(BuildReadBlockFrame(kSensorBlockAddress), cmd_read_block), data);

    // A second write without an erase is refused and changes nothing.
    const Bytes other(kBlockSize, 0x00);
    EXPECT_EQ(Payload(BuildWriteBlockFrame(kSensorBlockAddress, other.data()), cmd_write_block),
              Bytes{0});
    EXPECT_EQ(Payload(BuildWriteDoneFrame(), cmd_write_done), Bytes{1});

    const Bytes mem = sim.DumpMemory();
    ASSERT_EQ(mem.size(), kConfigImageSize);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), mem.begin() + kSensorBlockAddress));
    EXPECT_EQ(std::count(mem.begin(), mem.end(), 0xFF),
              static_cast<long>(kConfigImageSize - kBlockSize +
                                std::count(data.begin(), data.end(), 0xFF)));

    EXPECT_EQ(Payload(BuildFactoryResetFrame(), cmd_factory_reset), Bytes{1});
    EXPECT_EQ(sim.DumpMemory(), Bytes(kConfigImageSize, 0xFF));
}

TEST_F(SimE2e, MemoryFileIsLoadedAndAWrongSizedOneRefused) {
    const std::string stem = ::testing::TempDir() + "/r4t8-sim-mem-" + std::to_string(getpid());
    const std::string good = stem + "-good.bin";
    const std::string bad = stem + "-bad.bin";
    Bytes image(kConfigImageSize);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
    std::ofstream(good, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<long>(image.size()));
    std::ofstream(bad, std::ios::binary) << "short";

    SimProcess refused;
    EXPECT_FALSE(refused.Start({"--memory", bad}));
    EXPECT_EQ(refused.Stop(), 2);

    Start({"--memory", good});
    EXPECT_EQ(Payload(BuildReadBlockFrame(kGprsBlockAddress), cmd_read_block),
              Bytes(image.begin() + kGprsBlockAddress, image.begin() + kGprsBlockAddress + 256));
    EXPECT_EQ(sim.DumpMemory(), image);
    std::filesystem::remove(good);
    std::filesystem::remove(bad);
}

// Checks a page payload: whole records (7F 7F, six time bytes, known items), then FF.
::testing::AssertionResult IsPage(const Bytes& page) {
    if (page.size() > kReplyPayloadSize) return ::testing::AssertionFailure() << "too long";
    size_t at = 0;
    while (at + 1 < page.size() && page[at] == 0x7F && page[at + 1] == 0x7F) {
        if (page[at + 3] < 1 || page[at + 3] > 12 || page[at + 5] > 23)
            return ::testing::AssertionFailure() << "bad time stamp at " << at;
        at += 8;
        while (at < page.size() && page[at] != 0x7F && page[at] != 0xFF) {
            if (at + 6 > page.size() || (page[at] != 0x01 && page[at] != 0x50))
                return ::testing::AssertionFailure() << "bad item at " << at;
            at += 6;
        }
    }
    if (at + 1 != page.size() || page[at] != 0xFF)
        return ::testing::AssertionFailure() << "no terminator right after the records";
    return ::testing::AssertionSuccess();
}

TEST_F(SimE2e, HistoryPageCountsUpToSixteenBits) {
    Start();
    for (int pages : {0, 1, 3, 255, 300}) {
        ASSERT_EQ(sim.Command("history pages " + std::to_string(pages)), "history ok");
        const Bytes count = Payload(BuildHistoryCountFrame(14, 1, 1, 14, 1, 31), cmd_history_count);
        ASSERT_EQ(count.size(), 2u);
        EXPECT_EQ(count[0] | (count[1] << 8), pages);
        for (int p : {1, pages - 1, pages}) {
            if (p < 1 || p > pages) continue;
            const Bytes page = HistoryPage(static_cast<uint16_t>(p));
            ASSERT_TRUE(IsPage(page)) << "page " << p << " of " << pages;
            float s1 = 0;
            std::memcpy(&s1, &page[10], 4);
            EXPECT_EQ(s1, static_cast<float>(p))
                << "page " << p << " of " << pages << " answered for another";
        }
        EXPECT_EQ(HistoryPage(static_cast<uint16_t>(pages + 1)), Bytes{0xFF});
        EXPECT_EQ(HistoryPage(0), Bytes{0xFF}) << "closing request";
    }
}

TEST_F(SimE2e, GeneratedHistoryIsCutIntoWholeRecordPages) {
    Start({"--generate-history"});
    const Bytes count = Payload(BuildHistoryCountFrame(14, 1, 1, 14, 1, 31), cmd_history_count);
    const int pages = count[0] | (count[1] << 8);
    ASSERT_GT(pages, 5);
    std::vector<Bytes> first;
    for (int p = 1; p <= pages; ++p) {
        const Bytes page = HistoryPage(static_cast<uint16_t>(p));
        ASSERT_TRUE(IsPage(page)) << p;
        ASSERT_EQ(page[2], 14);
        ASSERT_EQ(page[3], 1);
        first.push_back(page);
    }
    // The same query again gives the same pages.
    Payload(BuildHistoryCountFrame(14, 1, 1, 14, 1, 31), cmd_history_count);
    EXPECT_EQ(HistoryPage(1), first[0]);
    EXPECT_EQ(Payload(BuildHistoryCountFrame(13, 1, 1, 13, 12, 31), cmd_history_count),
              (Bytes{0, 0}));
}

TEST_F(SimE2e, CurrentDataCarriesEveryItemKind) {
    Start();
    const Bytes p = Payload(BuildCurrentDataFrame(), cmd_current_data);
    ASSERT_EQ(p.size() % 6, 0u);
    std::vector<std::pair<int, int>> kinds;
    for (size_t at = 0; at < p.size(); at += 6) kinds.push_back({p[at], p[at + 1]});
    const std::vector<std::pair<int, int>> expected = {
        {0x01, 0},    {0x01, 1},    {0x01, 2},    {0x01, 3},    {0x50, 0x50}, {0x50, 0x51},
        {0x50, 0x52}, {0x50, 0x53}, {0x10, 0x10}, {0x20, 0x20}, {0x30, 0x30}};
    EXPECT_EQ(kinds, expected);
    float sensor1 = 0;
    std::memcpy(&sensor1, &p[2], 4);
    EXPECT_EQ(sensor1, 25.5f);
}

TEST_F(SimE2e, DemoServesItsConfigurationHistoryAndReadings) {
    Start({"--demo"});
    // A configured system block: the device number, the fixed 60 and "C".
    const Bytes system = Payload(BuildReadBlockFrame(kSystemBlockAddress), cmd_read_block);
    ASSERT_EQ(system.size(), 256u);
    EXPECT_EQ(std::string(system.begin() + 27, system.begin() + 42), "860312045178263");
    EXPECT_EQ(system[44], 60);
    EXPECT_EQ(system[112], 'C');
    EXPECT_EQ(Payload(BuildReadBlockFrame(0), cmd_read_block), Bytes(256, 0xFF));

    // Today is a whole day of records, one every five minutes.
    const QDate today = QDate::currentDate();
    const auto y = static_cast<uint8_t>(today.year() % 100);
    const auto m = static_cast<uint8_t>(today.month()), d = static_cast<uint8_t>(today.day());
    const Bytes count = Payload(BuildHistoryCountFrame(y, m, d, y, m, d), cmd_history_count);
    ASSERT_EQ(count.size(), 2u);
    const int pages = count[0] | (count[1] << 8);
    EXPECT_GE(pages, 288 / 7);
    EXPECT_LE(pages, 288 / 4 + 1);
    ASSERT_TRUE(IsPage(HistoryPage(1)));
    EXPECT_EQ(HistoryPage(1)[5], 0) << "the day starts at midnight";
    // So is every working day of 2014.
    const Bytes year = Payload(BuildHistoryCountFrame(14, 1, 1, 14, 12, 31), cmd_history_count);
    EXPECT_GT(year[0] | (year[1] << 8), 20000);
    EXPECT_EQ(sim.Command("history generate"), "history ok");
    EXPECT_EQ(Payload(BuildHistoryCountFrame(14, 1, 1, 14, 12, 31), cmd_history_count), year);

    // Current readings of four sensors that move with time.
    const Bytes first = Payload(BuildCurrentDataFrame(), cmd_current_data);
    ASSERT_GE(first.size(), 4u * 6);
    for (size_t k = 0; k < 4; ++k) EXPECT_EQ(first[6 * k], 0x01);
    EXPECT_EQ(first.size() % 6, 0u);

    // A memory image still replaces the demo's memory.
    const std::string image = ::testing::TempDir() + "/r4t8-sim-demo-" + std::to_string(getpid());
    std::ofstream(image, std::ios::binary)
        .write(std::string(kConfigImageSize, '\x11').data(), kConfigImageSize);
    SimProcess other;
    ASSERT_TRUE(other.Start({"--demo", "--memory", image}));
    EXPECT_EQ(other.DumpMemory(), std::vector<uint8_t>(kConfigImageSize, 0x11));
    std::filesystem::remove(image);
}

TEST_F(SimE2e, RelayFramesWithTheirShortLengthsAreAnswered) {
    Start();
    EXPECT_EQ(Payload(BuildRelayCloseFrame(60), cmd_relay), Bytes{1});
    EXPECT_NE(sim.Command("status").find("relay=C closed=1"), std::string::npos);
    EXPECT_EQ(Payload(BuildRelayPulseFrame(3, 1, 5), cmd_relay), Bytes{1});
    EXPECT_NE(sim.Command("status").find("relay=P"), std::string::npos);
    EXPECT_EQ(Payload(BuildRelayReleaseFrame(), cmd_relay), Bytes{1});
    EXPECT_NE(sim.Command("status").find("relay=O closed=0"), std::string::npos);
    // Exactly the worked close frame of 10 s, byte for byte.
    ASSERT_TRUE(client.WriteLine({0xA5, 0x08, 0x00, 0x18, 0x01, 0x00, 0x01, 0x00, 0x01, 0x43, 0x0A,
                                  0x00, 0x8F, 0xFF, 0xA5}));
    const auto r = client.ReadReply();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->payload, Bytes{1});
}

TEST_F(SimE2e, ClockCanBeSetAndRead) {
    Start();
    const uint8_t t[6] = {0x0E, 0x03, 0x05, 0x08, 0x07, 0x06};
    // The worked frame whose checksum low byte is A5 and goes escaped.
    EXPECT_EQ(Payload(BuildSetTimeFrame(t), cmd_set_time), Bytes{1});
    const Bytes now = Payload(BuildGetTimeFrame(), cmd_get_time);
    ASSERT_EQ(now.size(), 6u);
    EXPECT_EQ(Bytes(now.begin(), now.begin() + 5), (Bytes{0x0E, 0x03, 0x05, 0x08, 0x07}));
    EXPECT_GE(now[5], 6);
    EXPECT_LE(now[5], 16) << "the clock ran far too fast";
    const uint8_t month0[6] = {0x0E, 0x00, 0x05, 0x08, 0x07, 0x06};
    EXPECT_EQ(Payload(BuildSetTimeFrame(month0), cmd_set_time), Bytes{0});
}

TEST_F(SimE2e, DebugModeStreamsBothDirectionsUntilSwitchedOff) {
    Start({"--debug-interval", "50"});
    EXPECT_EQ(Payload(BuildDebugModeFrame(true), cmd_debug_mode), Bytes{1});
    bool sawR = false, sawT = false;
    for (int i = 0; i < 40 && !(sawR && sawT); ++i) {
        const auto r = client.ReadReply(2000, false);
        ASSERT_TRUE(r) << "no debug frame";
        ASSERT_EQ(r->command, cmd_debug_data);
        ASSERT_GE(r->payload.size(), 2u);
        sawR |= r->payload[0] == 'R';
        sawT |= r->payload[0] == 'T';
    }
    EXPECT_TRUE(sawR && sawT);
    EXPECT_EQ(Payload(BuildDebugModeFrame(false), cmd_debug_mode), Bytes{1});
    client.ReadFor(200);  // whatever was already on the way
    EXPECT_FALSE(client.ReadReply(500, false).has_value()) << "still streaming";
}

TEST_F(SimE2e, FrameLogShowsEveryFrameBothWays) {
    Start();
    Payload(BuildGetTimeFrame(), cmd_get_time);
    // A request with a wrong checksum is logged as BAD and not answered.
    Bytes broken = BuildCurrentDataFrame();
    broken[broken.size() - 3] ^= 0x40;
    client.SendRaw(broken);
    EXPECT_FALSE(client.ReadReply(300));
    Payload(BuildRelayReleaseFrame(), cmd_relay);
    sim.Command("status");  // the log is written before the answer to a later command

    const auto log = sim.Log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_FALSE(log[0].sent);
    EXPECT_EQ(log[0].bytes, BuildGetTimeFrame());
    EXPECT_TRUE(log[1].sent);
    EXPECT_EQ(log[1].bytes[3], cmd_get_time);
    EXPECT_EQ(log[2].bytes, BuildRelayReleaseFrame());
    EXPECT_EQ(log[3].bytes, BuildReplyFrame(cmd_relay, {1}));
    int bad = 0;
    for (const auto& l : sim.LogLines()) bad += l.rfind("BAD ", 0) == 0;
    EXPECT_EQ(bad, 1);
}

TEST_F(SimE2e, AnOverlongFrameDoesNotStopTheNextRequest) {
    Start();
    Bytes junk = {0xA5};
    junk.insert(junk.end(), 20000, 0x42);
    junk.push_back(0xA5);
    ASSERT_TRUE(client.WriteLine(junk));
    EXPECT_EQ(Payload(BuildDebugModeFrame(false), cmd_debug_mode), Bytes{1});
}

// ---- faults ----

TEST_F(SimE2e, DropDuplicateAndCorruptAffectOnlyTheNextReplies) {
    Start({"--drop-next", "1"});
    EXPECT_FALSE(client.Ask(BuildGetTimeFrame(), 500).has_value());
    EXPECT_TRUE(client.Ask(BuildGetTimeFrame()).has_value());

    ASSERT_EQ(sim.Command("fault duplicate-next 1"), "fault ok");
    ASSERT_TRUE(client.SendRaw(BuildFactoryResetFrame()));
    const auto a = client.ReadFrame(), b = client.ReadFrame();
    ASSERT_TRUE(a && b);
    EXPECT_EQ(*a, *b);
    EXPECT_FALSE(client.ReadFrame(300).has_value());

    ASSERT_EQ(sim.Command("fault corrupt-checksum-next 1"), "fault ok");
    ASSERT_TRUE(client.SendRaw(BuildWriteDoneFrame()));
    const auto corrupt = client.ReadFrame();
    ASSERT_TRUE(corrupt);
    uint8_t cmd = 0;
    Bytes p;
    EXPECT_FALSE(ParseRawFrame(*corrupt, cmd, p));
    EXPECT_EQ((*corrupt)[3], cmd_write_done);
    EXPECT_TRUE(client.Ask(BuildWriteDoneFrame()).has_value());
}

TEST_F(SimE2e, RefusalAnswersStatusZeroAndLeavesMemoryAlone) {
    Start({"--refuse", "cmd_write_block:2", "--refuse", "35"});
    const Bytes data(kBlockSize, 0x12);
    EXPECT_EQ(Payload(BuildWriteBlockFrame(kPhoneBlockAddress, data.data()), cmd_write_block),
              Bytes{1});
    EXPECT_EQ(Payload(BuildWriteBlockFrame(kSensorBlockAddress, data.data()), cmd_write_block),
              Bytes{0});
    EXPECT_EQ(Payload(BuildWriteBlockFrame(kGprsBlockAddress, data.data()), cmd_write_block),
              Bytes{1});
    EXPECT_EQ(Payload(BuildGetTimeFrame(), cmd_get_time), Bytes(6, 0));
    const Bytes mem = sim.DumpMemory();
    ASSERT_EQ(mem.size(), kConfigImageSize);
    EXPECT_EQ(mem[kPhoneBlockAddress], 0x12);
    EXPECT_EQ(mem[kSensorBlockAddress], 0xFF) << "the refused write was stored";
    EXPECT_EQ(mem[kGprsBlockAddress], 0x12);
}

TEST_F(SimE2e, HangupClosesTheLineAfterNAnswers) {
    Start({"--hangup-after", "2"});
    EXPECT_TRUE(client.Ask(BuildGetTimeFrame()).has_value());
    EXPECT_TRUE(client.Ask(BuildGetTimeFrame()).has_value());
    EXPECT_TRUE(client.HungUp(5000));
    EXPECT_EQ(sim.WaitExit(5000), 0);
}

TEST_F(SimE2e, DelayedRepliesStillLetLaterRequestsIn) {
    Start({"--delay", "600"});
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.SendRaw(BuildGetTimeFrame()));
    ASSERT_TRUE(client.SendRaw(BuildWriteDoneFrame()));
    // The simulator cannot answer before its delay, however slow the machine is.
    EXPECT_FALSE(client.ReadFrame(200).has_value());
    const auto first = client.ReadReply(5000), second = client.ReadReply(5000);
    ASSERT_TRUE(first && second);
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(600));
    EXPECT_EQ(first->command, cmd_get_time);
    EXPECT_EQ(second->command, cmd_write_done);
}

TEST_F(SimE2e, LineNoiseSurroundsButNeverBreaksTheReplies) {
    struct Case {
        const char* option;
        bool expectStrayA5;
    };
    for (const Case c : {Case{"--garbage", false}, Case{"--stray-a5", true}}) {
        SimProcess noisy;
        PtyClient cl;
        ASSERT_TRUE(noisy.Start({c.option, "--seed", "5"}));
        ASSERT_TRUE(cl.Open(noisy.PtyPath()));
        ASSERT_TRUE(cl.SendRaw(BuildGetTimeFrame()));
        const Bytes line = cl.ReadFor(500);
        const Bytes frame = noisy.Log().at(1).bytes;
        const Bytes escaped = EscapeFrame(frame);
        ASSERT_GT(line.size(), escaped.size()) << c.option;
        EXPECT_TRUE(std::equal(escaped.rbegin(), escaped.rend(), line.rbegin())) << c.option;
        const long delimiters = std::count(line.begin(), line.end(), kFrameDelimiter);
        EXPECT_EQ(delimiters > 2, c.expectStrayA5) << c.option;
        // A collector with the empty-frame rule gets every reply whole.
        for (int i = 0; i < 5; ++i)
            EXPECT_TRUE(cl.Ask(BuildGetTimeFrame()).has_value()) << c.option;
    }
}

TEST_F(SimE2e, BurstSendsTwoRepliesInOneGo) {
    Start({"--burst"});
    ASSERT_TRUE(client.SendRaw(BuildGetTimeFrame()));
    EXPECT_FALSE(client.ReadFrame(400).has_value()) << "the first reply was not held";
    ASSERT_TRUE(client.SendRaw(BuildWriteDoneFrame()));
    const auto a = client.ReadReply(), b = client.ReadReply();
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->command, cmd_get_time);
    EXPECT_EQ(b->command, cmd_write_done);
}

TEST_F(SimE2e, TrickledAndPacedRepliesArriveWhole) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--trickle", "2"}, {"--pace"}}) {
        SimProcess slow;
        PtyClient cl;
        ASSERT_TRUE(slow.Start(args));
        ASSERT_TRUE(cl.Open(slow.PtyPath()));
        const auto r = cl.Ask(BuildReadBlockFrame(kPhoneBlockAddress), 10000);
        ASSERT_TRUE(r) << args[0];
        EXPECT_EQ(r->payload, Bytes(kBlockSize, 0xFF)) << args[0];
    }
}

TEST_F(SimE2e, BitFlipsAndDropRatesRepeatForASeed) {
    auto run = [](const std::vector<std::string>& args) {
        SimProcess s;
        PtyClient cl;
        EXPECT_TRUE(s.Start(args));
        EXPECT_TRUE(cl.Open(s.PtyPath()));
        Bytes all;
        for (int i = 0; i < 12; ++i) {
            cl.SendRaw(BuildReadBlockFrame(kPhoneBlockAddress));
            const Bytes got = cl.ReadFor(100);
            all.insert(all.end(), got.begin(), got.end());
        }
        // The byte stream, not how it fell into reads, is what must repeat.
        const Bytes rest = cl.ReadFor(500);
        all.insert(all.end(), rest.begin(), rest.end());
        return all;
    };
    const Bytes a = run({"--bitflip", "0.01", "--drop-rate", "0.3", "--seed", "7"});
    EXPECT_EQ(a, run({"--bitflip", "0.01", "--drop-rate", "0.3", "--seed", "7"}));
    EXPECT_NE(a, run({"--bitflip", "0.01", "--drop-rate", "0.3", "--seed", "8"}));
}

// ---- the program itself ----

TEST_F(SimE2e, EndsOnEndOfInputOnSigtermAndOnQuit) {
    Start();
    sim.CloseStdin();
    EXPECT_EQ(sim.WaitExit(5000), 0);

    SimProcess viaSignal;
    ASSERT_TRUE(viaSignal.Start({}));
    EXPECT_EQ(viaSignal.Stop(), 0);

    SimProcess viaQuit;
    ASSERT_TRUE(viaQuit.Start({}));
    EXPECT_EQ(viaQuit.Command("quit"), "bye");
    EXPECT_EQ(viaQuit.WaitExit(5000), 0);
}

TEST_F(SimE2e, IdleStdinFromDevZeroKeepsServingAndTheLinkPointsAtThePty) {
    const std::string linkPath =
        ::testing::TempDir() + "/r4t8-sim-link-" + std::to_string(getpid());
    SimProcess shell("/bin/sh");
    ASSERT_TRUE(
        shell.Start({"-c", "exec \"$0\" \"$@\" </dev/zero", R4T8_SIM_PATH, "--link", linkPath}));
    PtyClient cl;
    ASSERT_TRUE(cl.Open(linkPath));
    EXPECT_EQ(std::filesystem::read_symlink(linkPath).string(), shell.PtyPath());
    EXPECT_TRUE(cl.Ask(BuildGetTimeFrame()).has_value());
    EXPECT_TRUE(cl.Ask(BuildGetTimeFrame()).has_value());
    cl.Close();
    EXPECT_EQ(shell.Stop(), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(linkPath)) << "the link was left behind";
}

TEST_F(SimE2e, ServesAnExistingTty) {
    // A pty pair stands in for a null-modem cable: the simulator on the slave, we on the master.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slave = ptsname(master);
    termios t{};
    tcgetattr(master, &t);
    cfmakeraw(&t);
    tcsetattr(master, TCSANOW, &t);
    ASSERT_TRUE(sim.Start({"--device", slave}));
    EXPECT_EQ(sim.PtyPath(), slave);
    const Bytes line = EscapeFrame(BuildGetTimeFrame());
    ASSERT_EQ(write(master, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    Bytes got;
    for (int i = 0; i < 100 && std::count(got.begin(), got.end(), kFrameDelimiter) < 2; ++i) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        uint8_t buf[256];
        const ssize_t n = read(master, buf, sizeof buf);
        if (n > 0) got.insert(got.end(), buf, buf + n);
    }
    EXPECT_GE(got.size(), 17u);
    EXPECT_EQ(got.at(3), cmd_get_time);
    EXPECT_EQ(sim.Stop(), 0);
    close(master);
}

TEST_F(SimE2e, StdinCommandsAnswerOrRefuse) {
    Start();
    EXPECT_EQ(sim.Command("fault drop-rate 2"), "error fault: bad value for drop-rate: '2'");
    EXPECT_EQ(sim.Command("fault delay 0 garbage off"), "fault ok");
    EXPECT_EQ(sim.Command("history pages x"), "error history: pages x");
    EXPECT_EQ(sim.Command("dump /nonexistent-dir/x.bin").rfind("error dump", 0), 0u);
    EXPECT_EQ(sim.Command("frobnicate"), "error unknown command: frobnicate");
    EXPECT_EQ(sim.Command(std::string(10000, 'x')), "error line too long");
    EXPECT_TRUE(client.Ask(BuildGetTimeFrame()).has_value()) << "a bad command stopped it";
}

TEST(SimProgram, HelpNamesEveryOptionAndBadOptionsFail) {
    const std::string out = [&] {
        std::string all;
        FILE* p = popen((std::string(R4T8_SIM_PATH) + " --help").c_str(), "r");
        char buf[512];
        while (p && fgets(buf, sizeof buf, p)) all += buf;
        if (p) {
            EXPECT_EQ(pclose(p), 0);
        }
        return all;
    }();
    for (const char* opt : {"--link",          "--device",         "--log",
                            "--password",      "--model",          "--version-text",
                            "--demo",          "--memory",         "--generate-history",
                            "--history-pages", "--seed",           "--refuse",
                            "--drop-next",     "--drop-rate",      "--corrupt-checksum-next",
                            "--corrupt-rate",  "--duplicate-next", "--duplicate-rate",
                            "--delay",         "--garbage",        "--stray-a5",
                            "--trickle",       "--burst",          "--bitflip",
                            "--pace",          "--hangup-after",   "--store-wrong",
                            "dump PATH",       "fault SPEC"})
        EXPECT_NE(out.find(opt), std::string::npos) << opt;
    SimProcess bad;
    EXPECT_FALSE(bad.Start({"--no-such-option"}));
    EXPECT_EQ(bad.Stop(), 2);
}

}  // namespace
