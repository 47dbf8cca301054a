// The simulator's logic without a line: request checks, schedule, faults, controller state.
#include <gtest/gtest.h>

#include <QDateTime>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FaultOptions.h"
#include "LineScheduler.h"
#include "RequestCollector.h"
#include "SimController.h"
#include "SimHistory.h"
#include "SimOptions.h"
#include "SimServer.h"
#include "protocol/Frame.h"

using namespace r4t8;
using namespace r4t8::sim;

namespace {

constexpr int64_t kMs = 1000000;

Bytes Collect(RequestCollector& c, const Bytes& line, std::vector<CollectedFrame>* all = nullptr) {
    std::vector<CollectedFrame> out;
    c.Feed(line.data(), line.size(), out);
    if (all) *all = out;
    return out.empty() ? Bytes{} : out.back().raw;
}

// ---- request checks ----

struct ParseCase {
    const char* name;
    Bytes raw;
    bool valid;
};

Bytes WithByte(Bytes b, size_t i, uint8_t v) {
    b[i] = v;
    return b;
}

TEST(ParseRequest, AcceptsRuleLengthsAndTheShortRelayLengthsOnly) {
    const uint8_t pw[4] = {'5', '8', '0', '7'};
    const Bytes login = BuildLoginFrame(pw);
    const Bytes getTime = BuildGetTimeFrame();
    const std::vector<ParseCase> cases = {
        {"login", login, true},
        {"get time", getTime, true},
        {"relay close, L 8", BuildRelayCloseFrame(10), true},
        {"relay pulse, L 11", BuildRelayPulseFrame(3, 1, 5), true},
        {"relay release, L 6", BuildRelayReleaseFrame(), true},
        {"relay with the rule length", BuildFrame(cmd_relay, {0x01, 'C', 10, 0}), true},
        {"relay two short", BuildFrameWithLength(cmd_relay, {0x01, 'C', 10, 0}, 7), false},
        {"short length on another command", BuildFrameWithLength(cmd_login, {1, 2, 3, 4}, 8),
         false},
        {"length one too long", BuildFrameWithLength(cmd_login, {1, 2, 3, 4}, 10), false},
        {"bad checksum low", WithByte(login, login.size() - 3, login[login.size() - 3] ^ 1), false},
        {"bad checksum high", WithByte(login, login.size() - 2, login[login.size() - 2] ^ 1),
         false},
        {"too short", Bytes(getTime.begin(), getTime.begin() + 10), false},
    };
    for (const auto& c : cases) {
        Request r;
        EXPECT_EQ(ParseRequest(c.raw, r), c.valid) << c.name;
    }
    Request r;
    ASSERT_TRUE(ParseRequest(BuildRelayPulseFrame(3, 1, 5), r));
    EXPECT_EQ(r.command, cmd_relay);
    EXPECT_EQ(r.payload, (Bytes{0x01, 'P', 3, 0, 1, 0, 5}));
}

TEST(RequestCollector, FindsFramesInNoiseAndResynchronises) {
    RequestCollector c;
    const Bytes frame = BuildGetTimeFrame();
    const Bytes line = EscapeFrame(frame);

    Bytes noisy = {0x00, 0x13, 0xAA, 0x7F};
    noisy.insert(noisy.end(), line.begin(), line.end());
    noisy.insert(noisy.end(), line.begin(), line.end());
    std::vector<CollectedFrame> out;
    Collect(c, noisy, &out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].raw, frame);
    EXPECT_EQ(out[1].raw, frame);

    // Started inside a frame: its end byte opens, the real start makes A5 A5.
    Bytes tail = {0x23, 0x01, kFrameDelimiter};
    tail.insert(tail.end(), line.begin(), line.end());
    EXPECT_EQ(Collect(c, tail), frame);

    // An escaped checksum byte comes back unescaped.
    const uint8_t t[6] = {0x0E, 0x03, 0x05, 0x08, 0x07, 0x06};
    const Bytes setTime = BuildSetTimeFrame(t);
    EXPECT_EQ(Collect(c, EscapeFrame(setTime)), setTime);
}

TEST(RequestCollector, DropsAnOverlongFrameAndTakesTheNextOne) {
    RequestCollector c;
    Bytes line = {kFrameDelimiter};
    line.insert(line.end(), 5000, 0x11);
    line.push_back(kFrameDelimiter);
    const Bytes frame = BuildGetTimeFrame();
    const Bytes next = EscapeFrame(frame);
    line.insert(line.end(), next.begin(), next.end());
    std::vector<CollectedFrame> out;
    Collect(c, line, &out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_TRUE(out[0].overflow);
    EXPECT_LE(out[0].line.size(), RequestCollector::kMaxLineBytes);
    EXPECT_EQ(out[1].raw, frame);
}

// ---- fault options ----

TEST(FaultOptions, SpecsSetTheirFields) {
    FaultOptions o;
    ASSERT_EQ(ApplyFaultSpec(o,
                             "drop-next 2 --delay=300 garbage refuse cmd_erase_block:3 "
                             "bitflip 0.001 refuse 0x10 hangup-after 4 pace"),
              "");
    EXPECT_EQ(o.dropNext, 2);
    EXPECT_EQ(o.delayMs, 300);
    EXPECT_TRUE(o.garbage);
    EXPECT_TRUE(o.pace);
    EXPECT_DOUBLE_EQ(o.bitflipRate, 0.001);
    EXPECT_EQ(o.hangupAfter, 4);
    ASSERT_EQ(o.refusals.size(), 2u);
    EXPECT_EQ(o.refusals[0].command, cmd_erase_block);
    EXPECT_EQ(o.refusals[0].occurrence, 3);
    EXPECT_EQ(o.refusals[1].command, cmd_write_block);
    EXPECT_EQ(o.refusals[1].occurrence, 0);

    ASSERT_EQ(ApplyFaultSpec(o, "garbage off seed 9"), "");
    EXPECT_FALSE(o.garbage);
    EXPECT_EQ(o.seed, 9u);
    ASSERT_EQ(ApplyFaultSpec(o, "clear"), "");
    EXPECT_EQ(o.dropNext, 0);
    EXPECT_TRUE(o.refusals.empty());
    EXPECT_EQ(o.hangupAfter, -1);
    EXPECT_EQ(o.seed, 9u);
}

TEST(FaultOptions, BadSpecsAreRefusedWholeAndChangeNothing) {
    const char* bad[] = {"drop-rate 1.5", "drop-rate nan", "delay",       "delay -1",
                         "nosuch 1",      "refuse 300",    "refuse 18:0", "refuse cmd_nope",
                         "trickle 5x",    "pace maybe"};
    for (const char* spec : bad) {
        FaultOptions o;
        o.dropNext = 7;
        EXPECT_NE(ApplyFaultSpec(o, std::string("drop-next 1 ") + spec), "") << spec;
        EXPECT_EQ(o.dropNext, 7) << spec;
    }
    FaultOptions o;
    EXPECT_NE(ApplyFaultSpec(o, "  "), "");
}

// Every field side by side, so that a comparison also shows what an option should have left
// alone.
std::string Describe(const FaultOptions& o) {
    std::string s = "seed=" + std::to_string(o.seed) + " refusals=";
    for (const Refusal& r : o.refusals)
        s += std::to_string(r.command) + ":" + std::to_string(r.occurrence) + ",";
    s += " dropNext=" + std::to_string(o.dropNext) + " dropRate=" + std::to_string(o.dropRate) +
         " corruptNext=" + std::to_string(o.corruptNext) +
         " corruptRate=" + std::to_string(o.corruptRate) +
         " duplicateNext=" + std::to_string(o.duplicateNext) +
         " duplicateRate=" + std::to_string(o.duplicateRate) +
         " delayMs=" + std::to_string(o.delayMs) + " garbage=" + std::to_string(o.garbage) +
         " strayA5=" + std::to_string(o.strayA5) + " trickleMs=" + std::to_string(o.trickleMs) +
         " burst=" + std::to_string(o.burst) + " bitflipRate=" + std::to_string(o.bitflipRate) +
         " pace=" + std::to_string(o.pace) + " hangupAfter=" + std::to_string(o.hangupAfter) +
         " storeWrong=" + std::to_string(o.storeWrong) + " chaos=" + std::to_string(o.chaos.on) +
         "/" + std::to_string(o.chaos.seed) + "/" + ChaosModeName(o.chaos.mode) + "/" +
         std::to_string(o.chaos.maxDelayMs);
    return s;
}

struct OptionCase {
    const char* name;
    const char* value;
    void (*expect)(FaultOptions&);
};

TEST(FaultOptions, EachOptionSetsItsOwnFieldAndNoOther) {
    // Values away from every default, so that a value landing in the wrong field shows.
    const OptionCase cases[] = {
        {"seed", "0x2a", [](FaultOptions& o) { o.seed = 42; }},
        {"refuse", "cmd_relay:2",
         [](FaultOptions& o) {
             o.refusals.push_back({cmd_relay, 2});
         }},
        {"drop-next", "3", [](FaultOptions& o) { o.dropNext = 3; }},
        {"drop-rate", "0.25", [](FaultOptions& o) { o.dropRate = 0.25; }},
        {"corrupt-checksum-next", "4", [](FaultOptions& o) { o.corruptNext = 4; }},
        {"corrupt-rate", "0.5", [](FaultOptions& o) { o.corruptRate = 0.5; }},
        {"duplicate-next", "5", [](FaultOptions& o) { o.duplicateNext = 5; }},
        {"duplicate-rate", "0.75", [](FaultOptions& o) { o.duplicateRate = 0.75; }},
        {"delay", "250", [](FaultOptions& o) { o.delayMs = 250; }},
        {"garbage", "", [](FaultOptions& o) { o.garbage = true; }},
        {"stray-a5", "on", [](FaultOptions& o) { o.strayA5 = true; }},
        {"trickle", "7", [](FaultOptions& o) { o.trickleMs = 7; }},
        {"burst", "1", [](FaultOptions& o) { o.burst = true; }},
        {"bitflip", "0.125", [](FaultOptions& o) { o.bitflipRate = 0.125; }},
        {"pace", "true", [](FaultOptions& o) { o.pace = true; }},
        {"hangup-after", "0", [](FaultOptions& o) { o.hangupAfter = 0; }},
        {"store-wrong", "", [](FaultOptions& o) { o.storeWrong = true; }},
        {"chaos", "9",
         [](FaultOptions& o) {
             o.chaos.on = true;
             o.chaos.seed = 9;
         }},
        {"chaos-mode", "slow", [](FaultOptions& o) { o.chaos.mode = ChaosMode::Slow; }},
        {"chaos-max-delay", "1200", [](FaultOptions& o) { o.chaos.maxDelayMs = 1200; }},
    };
    for (const OptionCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.value);
        FaultOptions o;
        ASSERT_EQ(ApplyFaultOption(o, c.name, c.value), "");
        FaultOptions expected;
        c.expect(expected);
        EXPECT_EQ(Describe(o), Describe(expected));
    }
}

TEST(FaultOptions, OffUndoesWhatWasSetAndARefusedValueChangesNothing) {
    FaultOptions set;
    ASSERT_EQ(ApplyFaultSpec(set,
                             "garbage refuse 18 refuse 0x10:3 hangup-after 2 chaos 4 "
                             "chaos-mode recoverable"),
              "");
    const std::string before = Describe(set);

    const OptionCase offs[] = {
        {"garbage", "off", [](FaultOptions& o) { o.garbage = false; }},
        {"refuse", "off", [](FaultOptions& o) { o.refusals.clear(); }},
        {"hangup-after", "off", [](FaultOptions& o) { o.hangupAfter = -1; }},
        // Off keeps the seed and the mode for the next "chaos on".
        {"chaos", "off", [](FaultOptions& o) { o.chaos.on = false; }},
    };
    for (const OptionCase& c : offs) {
        SCOPED_TRACE(c.name);
        FaultOptions o = set;
        ASSERT_EQ(ApplyFaultOption(o, c.name, c.value), "");
        FaultOptions expected = set;
        c.expect(expected);
        EXPECT_EQ(Describe(o), Describe(expected));
    }

    const std::pair<const char*, const char*> refused[] = {
        {"seed", "-1"},           {"seed", "18446744073709551616"},
        {"refuse", "18:"},        {"refuse", "cmd_relay:x"},
        {"drop-next", "1000001"}, {"corrupt-rate", "-0.1"},
        {"delay", "3600001"},     {"garbage", "maybe"},
        {"hangup-after", "-1"},   {"chaos", "on"},
        {"chaos-mode", ""},       {"chaos-max-delay", "1e3"},
    };
    for (const auto& [name, value] : refused) {
        SCOPED_TRACE(std::string(name) + " " + value);
        FaultOptions o = set;
        EXPECT_EQ(ApplyFaultOption(o, name, value),
                  std::string("bad value for ") + name + ": '" + value + "'");
        EXPECT_EQ(Describe(o), before);
    }
    FaultOptions o = set;
    EXPECT_EQ(ApplyFaultOption(o, "drop", "1"), "unknown fault option: drop");
    EXPECT_EQ(Describe(o), before);
}

TEST(SimOptions, ParsesControllerAndFaultOptions) {
    SimOptions o;
    ASSERT_EQ(ParseSimOptions({"--password", "12", "--model=R4T0", "--history-pages", "300",
                               "--drop-next", "1", "--garbage", "--link", "/tmp/x"},
                              o),
              "");
    EXPECT_EQ(o.controller.password, "12");
    EXPECT_EQ(o.controller.model, "R4T0");
    EXPECT_EQ(o.historyPages, 300);
    EXPECT_EQ(o.faults.dropNext, 1);
    EXPECT_TRUE(o.faults.garbage);
    EXPECT_EQ(o.link, "/tmp/x");
    EXPECT_FALSE(o.demo);  // blank unless asked for
    SimOptions demo;
    ASSERT_EQ(ParseSimOptions({"--demo", "--memory", "m.bin"}, demo), "");
    EXPECT_TRUE(demo.demo);
    EXPECT_EQ(demo.memoryFile, "m.bin");

    for (const std::vector<std::string>& args : {std::vector<std::string>{"--password", "12345"},
                                                 {"--history-pages", "65536"},
                                                 {"--bogus"},
                                                 {"--delay"},
                                                 {"stray"},
                                                 {"--model", std::string(300, 'M')}}) {
        SimOptions bad;
        EXPECT_NE(ParseSimOptions(args, bad), "") << args[0];
    }
}

// ---- line schedule ----

TEST(LineScheduler, DelaysKeepOrderAndDoNotBlockLaterFrames) {
    LineScheduler s;
    s.Enqueue({1, 2}, 100 * kMs);
    s.Enqueue({3}, 150 * kMs);
    EXPECT_EQ(s.NextWakeNs(), 100 * kMs);
    EXPECT_TRUE(s.TakeDue(99 * kMs).empty());
    EXPECT_EQ(s.TakeDue(100 * kMs), (Bytes{1, 2}));
    EXPECT_EQ(s.NextWakeNs(), 150 * kMs);
    EXPECT_EQ(s.TakeDue(200 * kMs), (Bytes{3}));
    EXPECT_TRUE(s.Idle());
    EXPECT_FALSE(s.NextWakeNs().has_value());
}

TEST(LineScheduler, TrickleAndPaceReleaseOneByteAtATime) {
    struct Case {
        int64_t interval;
        const char* name;
    };
    for (const Case c : {Case{5 * kMs, "trickle 5 ms"}, Case{kPacedByteNs, "115200 baud"}}) {
        LineScheduler s;
        LineSettings ls;
        ls.byteIntervalNs = c.interval;
        s.Configure(ls, 0);
        s.Enqueue({1, 2, 3, 4}, 0);
        EXPECT_EQ(s.TakeDue(0), (Bytes{1})) << c.name;
        EXPECT_TRUE(s.TakeDue(c.interval - 1).empty()) << c.name;
        EXPECT_EQ(s.NextWakeNs(), c.interval) << c.name;
        EXPECT_EQ(s.TakeDue(c.interval), (Bytes{2})) << c.name;
        EXPECT_EQ(s.TakeDue(3 * c.interval), (Bytes{3, 4})) << c.name;
        // A new frame after a pause starts at once, then keeps the pace.
        s.Enqueue({5, 6}, 10 * c.interval);
        EXPECT_EQ(s.TakeDue(10 * c.interval), (Bytes{5})) << c.name;
        EXPECT_EQ(s.TakeDue(11 * c.interval), (Bytes{6})) << c.name;
    }
}

TEST(LineScheduler, BurstHoldsAFrameUntilTheNextOne) {
    LineScheduler s;
    LineSettings ls;
    ls.burst = true;
    s.Configure(ls, 0);
    s.Enqueue({1}, 0);
    EXPECT_TRUE(s.TakeDue(10 * kMs).empty());
    EXPECT_FALSE(s.Idle());
    s.Enqueue({2}, 20 * kMs);
    EXPECT_EQ(s.TakeDue(20 * kMs), (Bytes{1, 2}));
    s.Enqueue({3}, 30 * kMs);
    EXPECT_TRUE(s.TakeDue(30 * kMs).empty());
    s.FlushHeld();
    EXPECT_EQ(s.TakeDue(31 * kMs), (Bytes{3}));
}

TEST(LineScheduler, GarbageAndStrayBytesNeverBreakTheFrame) {
    for (uint64_t seed = 1; seed <= 50; ++seed) {
        LineScheduler s(seed);
        LineSettings ls;
        ls.garbage = true;
        ls.strayA5 = true;
        s.Configure(ls, 0);
        const Bytes frame = EscapeFrame(BuildGetTimeFrame());
        s.Enqueue(frame, 0);
        const Bytes out = s.TakeDue(0);
        ASSERT_GT(out.size(), frame.size());
        ASSERT_TRUE(std::equal(frame.rbegin(), frame.rend(), out.rbegin()));
        const size_t prefix = out.size() - frame.size();
        const auto firstA5 = std::find(out.begin(), out.end(), kFrameDelimiter) - out.begin();
        // Garbage (no A5), an optional AA, then one to three A5 before the frame.
        const size_t strays = prefix - static_cast<size_t>(firstA5);
        EXPECT_GE(strays, 1u);
        EXPECT_LE(strays, 3u);
        for (size_t i = static_cast<size_t>(firstA5); i < prefix; ++i)
            EXPECT_EQ(out[i], kFrameDelimiter);

        // The collector of the far end finds the frame whole.
        RequestCollector c;
        EXPECT_EQ(Collect(c, out), BuildGetTimeFrame()) << seed;
    }
}

TEST(LineScheduler, BitFlipsRepeatForASeedAndFollowTheRate) {
    auto run = [](uint64_t seed, double rate) {
        LineScheduler s(seed);
        LineSettings ls;
        ls.bitflipRate = rate;
        s.Configure(ls, 0);
        s.Enqueue(Bytes(20000, 0x00), 0);
        return s.TakeDue(0);
    };
    const Bytes a = run(3, 0.01);
    EXPECT_EQ(a, run(3, 0.01));
    EXPECT_NE(a, run(4, 0.01));
    const auto flipped = std::count_if(a.begin(), a.end(), [](uint8_t b) { return b != 0; });
    EXPECT_GT(flipped, 120);
    EXPECT_LT(flipped, 280);
    for (uint8_t b : a) EXPECT_EQ(b & (b - 1), 0) << "one bit per byte";
    EXPECT_EQ(run(3, 0.0), Bytes(20000, 0x00));
}

// ---- the controller behind the server, with a fake clock ----

class ServerTest : public ::testing::Test {
  protected:
    ServerTest() : server(controller, [this](const std::string& l) { log.push_back(l); }) {}

    // Sends a request and returns every frame that is on the line at `atNs`.
    std::vector<Bytes> Exchange(const Bytes& raw, int64_t atNs = 0) {
        const Bytes line = EscapeFrame(raw);
        server.OnBytes(line.data(), line.size(), atNs, now);
        return Frames(atNs);
    }
    std::vector<Bytes> Frames(int64_t atNs) {
        const Bytes out = server.TakeOutput(atNs);
        RequestCollector c;
        std::vector<CollectedFrame> frames;
        c.Feed(out.data(), out.size(), frames);
        std::vector<Bytes> raws;
        for (auto& f : frames) raws.push_back(f.raw);
        return raws;
    }
    static Bytes Payload(const Bytes& raw) {
        uint8_t cmd = 0;
        Bytes p;
        EXPECT_TRUE(ParseRawFrame(raw, cmd, p));
        return p;
    }
    Bytes Ask(const Bytes& raw, int64_t atNs = 0) {
        const auto frames = Exchange(raw, atNs);
        EXPECT_EQ(frames.size(), 1u);
        return frames.empty() ? Bytes{} : Payload(frames[0]);
    }

    SimController controller{ControllerSettings{}};
    std::vector<std::string> log;
    SimServer server;
    QDateTime now{QDate(2014, 3, 5), QTime(8, 0, 0)};
};

TEST_F(ServerTest, RefusesOnlyTheNthOccurrenceAndDoesNotCarryItOut) {
    FaultOptions f;
    ASSERT_EQ(ApplyFaultSpec(f, "refuse cmd_erase_block:2"), "");
    server.SetFaults(f, 0);
    Bytes data(kBlockSize, 0x11);
    EXPECT_EQ(Ask(BuildWriteBlockFrame(1024, data.data())), Bytes{1});
    EXPECT_EQ(Ask(BuildEraseBlockFrame(2048)), Bytes{1});
    EXPECT_EQ(Ask(BuildEraseBlockFrame(1024)), Bytes{0});
    EXPECT_EQ(controller.Memory()[1024], 0x11) << "a refused erase erased";
    EXPECT_EQ(Ask(BuildEraseBlockFrame(1024)), Bytes{1});
    EXPECT_EQ(controller.Memory()[1024], 0xFF);
}

TEST_F(ServerTest, NextNFaultsCountDown) {
    FaultOptions f;
    ASSERT_EQ(ApplyFaultSpec(f, "drop-next 1 duplicate-next 1 corrupt-checksum-next 1"), "");
    server.SetFaults(f, 0);
    EXPECT_TRUE(Exchange(BuildGetTimeFrame()).empty());
    const auto twice = Exchange(BuildGetTimeFrame());
    ASSERT_EQ(twice.size(), 2u);
    EXPECT_EQ(twice[0], twice[1]);
    uint8_t cmd = 0;
    Bytes p;
    EXPECT_FALSE(ParseRawFrame(twice[0], cmd, p)) << "the checksum should be corrupt";
    const auto clean = Exchange(BuildGetTimeFrame());
    ASSERT_EQ(clean.size(), 1u);
    EXPECT_TRUE(ParseRawFrame(clean[0], cmd, p));
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& l) { return l.rfind("DROP ", 0) == 0; }),
              1);
}

TEST_F(ServerTest, DropRateRepeatsForTheSameSeed) {
    auto pattern = [this](uint64_t seed) {
        FaultOptions f;
        f.seed = seed;
        f.dropRate = 0.5;
        server.SetFaults(f, 0);
        std::string answered;
        for (int i = 0; i < 64; ++i) answered += Exchange(BuildGetTimeFrame()).empty() ? '.' : 'x';
        return answered;
    };
    const std::string a = pattern(11);
    EXPECT_EQ(pattern(12) == a, false);
    EXPECT_EQ(pattern(11), a);
    EXPECT_NE(a.find('.'), std::string::npos);
    EXPECT_NE(a.find('x'), std::string::npos);
}

TEST_F(ServerTest, HangupComesAfterNAnswersAndLaterRequestsGoUnanswered) {
    FaultOptions f;
    f.hangupAfter = 2;
    f.delayMs = 50;
    server.SetFaults(f, 0);
    Exchange(BuildGetTimeFrame());
    Exchange(BuildGetTimeFrame());
    EXPECT_TRUE(server.HangupDue());
    EXPECT_FALSE(server.LineIdle()) << "replies still to be written";
    EXPECT_TRUE(Exchange(BuildGetTimeFrame()).empty());
    EXPECT_EQ(Frames(60 * kMs).size(), 2u);
    EXPECT_TRUE(server.LineIdle());
}

TEST_F(ServerTest, DebugFramesComeOnTheirOwnInBothDirections) {
    server.SetDebugIntervalMs(500);
    EXPECT_EQ(Ask(BuildDebugModeFrame(true)), Bytes{1});
    std::string letters;
    for (int64_t t = 0; t <= 3000; t += 100) {
        for (const Bytes& f : Frames(t * kMs)) {
            uint8_t cmd = 0;
            Bytes p;
            ASSERT_TRUE(ParseRawFrame(f, cmd, p));
            ASSERT_EQ(cmd, cmd_debug_data);
            ASSERT_GE(p.size(), 2u);
            letters += static_cast<char>(p[0]);
        }
    }
    EXPECT_EQ(letters, "TRTRTR");
    EXPECT_EQ(Ask(BuildDebugModeFrame(false), 3100 * kMs), Bytes{1});
    EXPECT_TRUE(Frames(10000 * kMs).empty());
}

TEST_F(ServerTest, FlashWritesNeedAnErasedBlock) {
    controller.SetStoreWrong(false);
    Bytes data(kBlockSize);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(Ask(BuildWriteBlockFrame(3072, data.data())), Bytes{1});
    EXPECT_EQ(Ask(BuildWriteBlockFrame(3072, data.data())), Bytes{0});
    EXPECT_EQ(Ask(BuildReadBlockFrame(3072)), data);
    EXPECT_EQ(Ask(BuildEraseBlockFrame(65536 - 255)), Bytes{0}) << "block beyond the memory";
    EXPECT_EQ(Ask(BuildReadBlockFrame(65536 - 16)), Bytes(kBlockSize, 0xFF));

    FaultOptions f;
    f.storeWrong = true;
    server.SetFaults(f, 0);
    EXPECT_EQ(Ask(BuildEraseBlockFrame(3072)), Bytes{1});
    EXPECT_EQ(Ask(BuildWriteBlockFrame(3072, data.data())), Bytes{1});
    EXPECT_NE(Ask(BuildReadBlockFrame(3072)), data);
}

TEST_F(ServerTest, ClockRunsFromTheSetTimeAndRefusesImpossibleDates) {
    const uint8_t t[6] = {14, 12, 31, 23, 59, 58};
    EXPECT_EQ(Ask(BuildSetTimeFrame(t)), Bytes{1});
    now = now.addSecs(3);
    EXPECT_EQ(Ask(BuildGetTimeFrame()), (Bytes{15, 1, 1, 0, 0, 1}));

    const uint8_t bad[][6] = {{14, 0, 5, 8, 7, 6},  {14, 13, 5, 8, 7, 6}, {14, 2, 30, 8, 7, 6},
                              {13, 2, 29, 8, 7, 6}, {14, 3, 0, 8, 7, 6},  {14, 3, 5, 24, 0, 0},
                              {14, 3, 5, 8, 60, 0}, {14, 3, 5, 8, 7, 60}};
    for (const auto& b : bad) EXPECT_EQ(Ask(BuildSetTimeFrame(b)), Bytes{0}) << int(b[1]);
    EXPECT_EQ(Ask(BuildGetTimeFrame()), (Bytes{15, 1, 1, 0, 0, 1})) << "a refused set moved it";
    const uint8_t leap[6] = {16, 2, 29, 0, 0, 0};
    EXPECT_EQ(Ask(BuildSetTimeFrame(leap)), Bytes{1});
}

TEST_F(ServerTest, RelayStateFollowsCloseAndPulse) {
    auto relayValue = [this](int64_t atMs) {
        const Bytes p = Ask(BuildCurrentDataFrame(), atMs * kMs);
        float v = 0;
        EXPECT_EQ(p.size(), 66u);
        std::memcpy(&v, &p[9 * 6 + 2], 4);
        EXPECT_EQ(p[9 * 6], 0x20);
        return v;
    };
    EXPECT_EQ(relayValue(0), 0.0f);
    EXPECT_EQ(Ask(BuildRelayCloseFrame(10), 1000 * kMs), Bytes{1});
    EXPECT_EQ(relayValue(10999), 1.0f);
    EXPECT_EQ(relayValue(11000), 0.0f);
    EXPECT_EQ(Ask(BuildRelayPulseFrame(3, 1, 2), 20000 * kMs), Bytes{1});
    EXPECT_EQ(relayValue(22999), 1.0f);
    EXPECT_EQ(relayValue(23500), 0.0f);
    EXPECT_EQ(relayValue(24500), 1.0f);
    EXPECT_EQ(relayValue(28500), 0.0f) << "after the last pulse";
    EXPECT_EQ(Ask(BuildRelayCloseFrame(100), 30000 * kMs), Bytes{1});
    EXPECT_EQ(Ask(BuildRelayReleaseFrame(), 31000 * kMs), Bytes{1});
    EXPECT_EQ(relayValue(31001), 0.0f);
    EXPECT_EQ(Ask(BuildFrameWithLength(cmd_relay, {0x01, 'X'}, 6)), Bytes{0});
    EXPECT_EQ(Ask(BuildFrameWithLength(cmd_relay, {0x02, 'O'}, 6)), Bytes{0});
}

TEST_F(ServerTest, MalformedDataRequestsGetNoAnswer) {
    EXPECT_TRUE(Exchange(BuildFrame(cmd_read_block, {0, 4})).empty());
    EXPECT_TRUE(Exchange(BuildFrame(cmd_history_page, {1})).empty());
    EXPECT_TRUE(Exchange(BuildFrame(cmd_debug_data, {'R'})).empty());
    EXPECT_TRUE(Exchange(BuildFrame(99, {})).empty());
    EXPECT_EQ(Ask(BuildFrame(cmd_login, {'5', '8', '0'})), Bytes{0});
    EXPECT_EQ(Ask(BuildFrame(cmd_debug_mode, {2})), Bytes{0});
}

// ---- history ----

// Walks a page payload; returns the number of records, or -1 when its layout is wrong.
int CountRecords(const Bytes& page) {
    size_t at = 0;
    int records = 0;
    while (at + 1 < page.size() && page[at] == 0x7F && page[at + 1] == 0x7F) {
        at += 8;
        while (at < page.size() && page[at] != 0x7F && page[at] != 0xFF) {
            const uint8_t type = page[at], ch = page[at + 1];
            const bool ok = (type == 0x01 && ch <= 3) || (type == 0x50 && ch >= 0x50 && ch <= 0x53);
            if (!ok || at + 6 > page.size()) return -1;
            at += 6;
        }
        ++records;
    }
    return at + 1 == page.size() && page[at] == 0xFF ? records : -1;
}

TEST(SimHistory, PagesHoldWholeRecordsOfTheRangeOnly) {
    SimHistory h;
    h.Generate(QDate(2030, 6, 15));
    struct Range {
        uint8_t r[6];
        int expectedRecords;  // -1: just more than zero
    };
    const Range ranges[] = {
        {{14, 1, 1, 14, 1, 31}, -1}, {{14, 1, 1, 14, 12, 31}, -1}, {{13, 1, 1, 13, 12, 31}, 0},
        {{14, 2, 1, 14, 1, 1}, 0},   {{14, 2, 30, 14, 3, 1}, 0},   {{30, 6, 16, 30, 6, 16}, -1},
    };
    for (const auto& range : ranges) {
        const uint16_t pages = h.StartQuery(range.r);
        int records = 0;
        for (uint16_t p = 1; p <= pages; ++p) {
            const Bytes page = h.Page(p);
            ASSERT_LE(page.size(), kPagePayloadLimit);
            const int n = CountRecords(page);
            ASSERT_GT(n, 0) << "page " << p;
            // Every record inside the range (year, month, day at bytes 2..4 of each record).
            for (size_t at = 0; at + 1 < page.size() && page[at] == 0x7F;) {
                const QDate d(2000 + page[at + 2], page[at + 3], page[at + 4]);
                EXPECT_GE(d, QDate(2000 + range.r[0], range.r[1], range.r[2]));
                EXPECT_LE(d, QDate(2000 + range.r[3], range.r[4], range.r[5]));
                at += 8;
                while (at < page.size() && page[at] != 0x7F && page[at] != 0xFF) at += 6;
            }
            records += n;
        }
        EXPECT_EQ(h.Page(pages + 1), Bytes{0xFF});
        if (range.expectedRecords < 0) {
            EXPECT_GT(records, 0);
        } else {
            EXPECT_EQ(records, range.expectedRecords);
        }
    }
}

TEST(SimHistory, ForcedPageCountsGoPast255) {
    SimHistory h;
    const uint8_t range[6] = {14, 1, 1, 14, 1, 31};
    for (int n : {0, 1, 3, 255, 300}) {
        h.SetForcedPages(n);
        ASSERT_EQ(h.StartQuery(range), n);
        for (int p : {1, n / 2 + 1, n}) {
            if (p < 1 || p > n) continue;
            const Bytes page = h.Page(static_cast<uint16_t>(p));
            ASSERT_GT(CountRecords(page), 0);
            float s1 = 0;
            std::memcpy(&s1, &page[10], 4);
            EXPECT_EQ(s1, static_cast<float>(p)) << "page " << p << " of " << n;
        }
        EXPECT_EQ(h.Page(static_cast<uint16_t>(n + 1)), Bytes{0xFF});
    }
    const uint8_t backwards[6] = {14, 2, 1, 14, 1, 1};
    EXPECT_EQ(h.StartQuery(backwards), 0);
}

TEST(SimHistory, RecordLayoutMatchesTheWireFormat) {
    HistoryEntry e;
    e.time = QDateTime(QDate(2014, 1, 5), QTime(9, 30, 0), Qt::UTC);
    e.sensors[0] = 25.5f;
    const Bytes rec = EncodeHistoryRecord(e);
    EXPECT_EQ(rec, (Bytes{0x7F, 0x7F, 0x0E, 0x01, 0x05, 0x09, 0x1E, 0x00, 0x01, 0x00, 0x00, 0x00,
                          0xCC, 0x41}));
}

}  // namespace
