// The simulator's random fault schedules keep the promises the reply guard is built on
// (protocol/ReplyTiming.h) and the ones each mode makes, and repeat exactly for a seed.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "FaultOptions.h"
#include "LineScheduler.h"
#include "RequestCollector.h"
#include "SimServer.h"

using namespace r4t8;
using namespace r4t8::sim;

namespace {

constexpr int64_t kMs = 1000000;

TEST(LineScheduler, FramesLeaveAtTheirPlannedTimes) {
    struct Case {
        const char* name;
        int64_t interval;  // of the first frame; the duplicate keeps it
        int64_t gap;
    };
    for (const Case c : {Case{"unpaced", 0, 200 * kMs}, Case{"paced", kPacedByteNs, 0},
                         Case{"trickled", 400000, 50 * kMs}}) {
        SCOPED_TRACE(c.name);
        LineScheduler s;
        FrameTiming first;
        first.dueNs = 10 * kMs;
        first.byteIntervalNs = c.interval;
        FrameTiming dup;
        dup.gapNs = c.gap;
        dup.byteIntervalNs = c.interval;
        FrameTiming other;
        other.dueNs = 0;  // due long ago: held behind the two before it
        const PlannedFrame p1 = s.Enqueue(Bytes(20, 1), first);
        const PlannedFrame p2 = s.Enqueue(Bytes(20, 2), dup);
        const PlannedFrame p3 = s.Enqueue(Bytes(5, 3), other);
        std::map<uint8_t, std::pair<int64_t, int64_t>> seen;  // first and last byte
        for (int64_t now = 0; !s.Idle();) {
            const auto wake = s.NextWakeNs();
            ASSERT_TRUE(wake.has_value());
            now = std::max(now, *wake);
            for (uint8_t b : s.TakeDue(now)) {
                if (!seen.count(b)) seen[b].first = now;
                seen[b].second = now;
            }
        }
        EXPECT_EQ(seen[1], std::make_pair(p1.startNs, p1.endNs));
        EXPECT_EQ(seen[2], std::make_pair(p2.startNs, p2.endNs));
        EXPECT_EQ(seen[3], std::make_pair(p3.startNs, p3.endNs));
        EXPECT_EQ(p2.startNs, p1.endNs + std::max(c.gap, c.interval));
        EXPECT_EQ(p3.startNs, p2.endNs);
    }
}

// Requests and what the simulator put on the line for them, frame by frame.
struct Exchange {
    struct Frame {
        int64_t startNs = 0, endNs = 0;
        Bytes raw;
    };
    explicit Exchange(const FaultOptions& faults) : server(controller, [](const std::string&) {}) {
        // Every address reads as bytes of its own, so a reply names its request.
        for (size_t a = 0; a < controller.Memory().size(); ++a)
            controller.Memory()[a] = static_cast<uint8_t>(a / 256);
        server.SetFaults(faults, 0);
    }
    // Runs the line until `endNs`, or until `done` holds after a delivery.
    template <typename Done>
    void Until(int64_t endNs, Done done) {
        while (const auto wake = server.NextWakeNs()) {
            if (*wake > endNs) break;
            now = std::max(now, *wake);
            for (uint8_t b : server.TakeOutput(now)) Byte(b);
            if (done()) return;
        }
        now = std::max(now, endNs);
    }
    void Until(int64_t endNs) {
        Until(endNs, [] { return false; });
    }
    void Request(uint32_t address, int64_t atNs) {
        Until(atNs);
        const Bytes line = EscapeFrame(BuildReadBlockFrame(address));
        server.OnBytes(line.data(), line.size(), atNs, QDateTime());
    }
    void Byte(uint8_t b) {
        if (!open && b == kFrameDelimiter) {
            open = true;
            current = Frame{now, now, {b}};
            return;
        }
        if (!open) return;
        current.raw.push_back(b);
        current.endNs = now;
        if (b == kFrameDelimiter) {
            open = false;
            const Bytes body = UnescapeFrame(current.raw.data() + 1, current.raw.size() - 2);
            current.raw = {kFrameDelimiter};
            current.raw.insert(current.raw.end(), body.begin(), body.end());
            current.raw.push_back(kFrameDelimiter);
            frames.push_back(current);
        }
    }
    // The block a reply carries (its first payload byte), whether its checksum is right.
    static int BlockOf(const Frame& f) { return f.raw.size() > 8 ? f.raw[8] : -1; }
    static bool Intact(const Frame& f) {
        uint8_t cmd = 0;
        Bytes payload;
        return ParseRawFrame(f.raw, cmd, payload);
    }

    SimController controller{ControllerSettings{}};
    SimServer server;
    int64_t now = 0;
    bool open = false;
    Frame current;
    std::vector<Frame> frames;
};

// Reads of ten blocks as the tool makes them: a copy, then another each second without an
// intact answer (four at most), the next block as soon as one came; block 5 is read twice in
// a row (a confirming read).
struct Played {
    struct Copy {
        int block;
        int64_t atNs;
    };
    std::vector<Copy> copies;
    std::map<int, int64_t> firstCopyNs;
    std::vector<Exchange::Frame> frames;
    int violations = 0;
};

Played Play(ChaosMode mode, uint64_t seed) {
    FaultOptions faults;
    faults.chaos.on = true;
    faults.chaos.seed = seed;
    faults.chaos.mode = mode;
    Exchange x(faults);
    Played p;
    int64_t t = 0;
    for (int read = 0; read < 11; ++read) {
        const int block = read <= 5 ? read + 1 : read;
        if (!p.firstCopyNs.count(block) || read == 5) p.firstCopyNs[block] = t;
        const size_t seen = x.frames.size();
        auto answered = [&] {
            for (size_t i = seen; i < x.frames.size(); ++i)
                if (Exchange::BlockOf(x.frames[i]) == block && Exchange::Intact(x.frames[i]))
                    return true;
            return false;
        };
        for (int copy = 0; copy < 4; ++copy) {
            x.Request(static_cast<uint32_t>(block) * 256, t);
            p.copies.push_back({block, t});
            x.Until(t + 1000 * kMs, answered);
            t = x.now;
            if (answered()) break;
        }
    }
    x.Until(INT64_MAX / 2);
    p.frames = x.frames;
    p.violations = x.server.Chaos().Violations();
    return p;
}

TEST(ChaosSchedule, EveryModeKeepsTheOrderAndTheWindow) {
    for (ChaosMode mode : {ChaosMode::Hostile, ChaosMode::Recoverable, ChaosMode::Slow}) {
        for (uint64_t seed = 1; seed <= 300; ++seed) {
            SCOPED_TRACE(std::string(ChaosModeName(mode)) + " seed " + std::to_string(seed));
            const Played played = Play(mode, seed);
            const auto& frames = played.frames;
            int last = 0;
            for (size_t i = 0; i < frames.size(); ++i) {
                const Exchange::Frame& f = frames[i];
                const int block = Exchange::BlockOf(f);
                // In the order of the requests.
                ASSERT_GE(block, last);
                last = block;
                // Within the window of some copy of its request sent before it.
                bool inWindow = false;
                for (const Played::Copy& c : played.copies)
                    inWindow = inWindow || (c.block == block && c.atNs <= f.startNs &&
                                            f.startNs <= c.atNs + ChaosSchedule::kMaxStartMs * kMs);
                ASSERT_TRUE(inWindow) << "frame " << i;
                if (mode == ChaosMode::Slow) {
                    ASSERT_TRUE(Exchange::Intact(f));
                }
            }
        }
    }
}

TEST(ChaosSchedule, RecoverableRequestsGetACorrectReplyInTime) {
    int broken = 0;
    for (uint64_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE(seed);
        const Played played = Play(ChaosMode::Recoverable, seed);
        broken += played.violations > 0;
        if (played.violations > 0) continue;
        for (const auto& [block, first] : played.firstCopyNs) {
            bool answered = false;
            for (const auto& f : played.frames)
                answered =
                    answered || (Exchange::BlockOf(f) == block && Exchange::Intact(f) &&
                                 f.endNs <= first + ChaosSchedule::kRecoverableWithinMs * kMs);
            EXPECT_TRUE(answered) << "block " << block;
        }
    }
    EXPECT_LE(broken, 3);
}

TEST(ChaosSchedule, SlowAnswersEveryCopyAfterTheSameDelay) {
    for (uint64_t seed = 1; seed <= 50; ++seed) {
        const Played played = Play(ChaosMode::Slow, seed);
        ASSERT_EQ(played.frames.size(), played.copies.size());
        const int64_t delay = played.frames[0].startNs - played.copies[0].atNs;
        EXPECT_LE(delay, ChaosSchedule::kSlowMaxDelayMs * kMs);
        for (size_t i = 0; i < played.frames.size(); ++i)
            EXPECT_EQ(played.frames[i].startNs - played.copies[i].atNs, delay) << seed << " " << i;
    }
}

TEST(ChaosSchedule, ASeedReplaysExactlyAndAnotherDiffers) {
    const auto a = Play(ChaosMode::Hostile, 42).frames;
    const auto b = Play(ChaosMode::Hostile, 42).frames;
    const auto c = Play(ChaosMode::Hostile, 43).frames;
    auto same = [](const std::vector<Exchange::Frame>& x, const std::vector<Exchange::Frame>& y) {
        if (x.size() != y.size()) return false;
        for (size_t i = 0; i < x.size(); ++i)
            if (x[i].startNs != y[i].startNs || x[i].raw != y[i].raw) return false;
        return true;
    };
    EXPECT_TRUE(same(a, b));
    EXPECT_FALSE(same(a, c));
}

TEST(ChaosSchedule, OptionsTurnItOnAndOff) {
    FaultOptions o;
    EXPECT_EQ(ApplyFaultSpec(o, "chaos 77 chaos-mode recoverable chaos-max-delay 1500"), "");
    EXPECT_TRUE(o.chaos.on);
    EXPECT_EQ(o.chaos.seed, 77u);
    EXPECT_EQ(o.chaos.mode, ChaosMode::Recoverable);
    EXPECT_EQ(o.chaos.maxDelayMs, 1500);
    EXPECT_NE(ApplyFaultSpec(o, "chaos-mode gentle"), "");
    EXPECT_EQ(o.chaos.mode, ChaosMode::Recoverable);
    EXPECT_EQ(ApplyFaultSpec(o, "chaos off"), "");
    EXPECT_FALSE(o.chaos.on);
    EXPECT_EQ(ApplyFaultSpec(o, "chaos 5"), "");
    EXPECT_EQ(ApplyFaultSpec(o, "clear"), "");
    EXPECT_FALSE(o.chaos.on);
}

}  // namespace
