// When and how the simulated controller's frames go onto the line: delays, one byte at a
// time, bursts, garbage, stray delimiters and bit flips. Time is passed in (nanoseconds on a
// monotonic clock), so the schedule can be checked with a fake clock.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

#include "protocol/Frame.h"

namespace r4t8::sim {

// A small seeded generator with a fixed algorithm (SplitMix64), so runs repeat exactly.
class SeededRandom {
  public:
    explicit SeededRandom(uint64_t seed = 1) : m_state(seed) {}
    uint64_t Next();
    // True with probability p.
    bool Chance(double p);
    // 0 .. bound-1.
    uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(Next() % bound); }
    // Uniform in [lo, hi].
    double Uniform(double lo, double hi);

  private:
    uint64_t m_state;
};

struct LineSettings {
    int64_t byteIntervalNs = 0;  // 0: write whatever is due at once
    bool burst = false;
    bool garbage = false;
    bool strayA5 = false;
    double bitflipRate = 0.0;
};

// Line time of one byte at 115200 baud, 10 bits a byte.
constexpr int64_t kPacedByteNs = 86806;

// When a queued frame leaves, as far as its own timing goes.
struct FrameTiming {
    int64_t dueNs = 0;            // absolute; ignored when gapNs is set
    int64_t gapNs = -1;           // >= 0: due this long after the previous frame's last byte
    int64_t byteIntervalNs = -1;  // >= 0: this frame's own pace; -1: the line's setting
};

// Where a frame is expected on the line: its first and last byte. Exact as long as no
// garbage, stray bytes or bursts are configured.
struct PlannedFrame {
    int64_t startNs = 0;
    int64_t endNs = 0;
};

class LineScheduler {
  public:
    explicit LineScheduler(uint64_t seed = 1);

    void Configure(const LineSettings& settings, int64_t nowNs);
    void Reseed(uint64_t seed);

    // Queues an escaped frame to go out at `dueNs`. Frames leave in the order queued.
    void Enqueue(Bytes line, int64_t dueNs) { Enqueue(std::move(line), FrameTiming{dueNs}); }
    PlannedFrame Enqueue(Bytes line, const FrameTiming& timing);
    // The last byte of everything queued so far, as planned.
    int64_t PlannedTailNs() const { return m_tailEndNs; }

    // The bytes that may be written at `nowNs`.
    Bytes TakeDue(int64_t nowNs);

    // When TakeDue next has something to give; nothing when it is idle or only holding a
    // burst frame back.
    std::optional<int64_t> NextWakeNs() const;

    // Releases a frame held back for a burst (before a hangup).
    void FlushHeld();

    bool Idle() const { return m_frames.empty() && m_out.empty() && m_held.empty(); }
    size_t Backlog() const;

  private:
    struct Pending {
        Bytes line;
        FrameTiming timing;
    };
    struct Segment {
        Bytes bytes;
        size_t pos = 0;
        int64_t intervalNs = 0;
        bool followsLine = false;  // paced by the line's setting, which may change
        int64_t releasedNs = 0;
        bool started = false;
        int64_t nextNs = 0;  // of its next byte, once it is at the front
    };
    void Release(Bytes line, int64_t intervalNs, bool followsLine, int64_t nowNs);
    void StartFront();
    int64_t IntervalOf(const FrameTiming& t) const {
        return t.byteIntervalNs >= 0 ? t.byteIntervalNs : m_settings.byteIntervalNs;
    }

    LineSettings m_settings;
    std::deque<Pending> m_frames;
    Bytes m_held;
    std::deque<Segment> m_out;
    int64_t m_lastByteNs = INT64_MIN / 2;
    int64_t m_tailEndNs = INT64_MIN / 2;
    SeededRandom m_garbageRandom;
    SeededRandom m_flipRandom;
};

}  // namespace r4t8::sim
