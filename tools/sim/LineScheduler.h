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

class LineScheduler {
public:
    explicit LineScheduler(uint64_t seed = 1);

    void Configure(const LineSettings& settings, int64_t nowNs);
    void Reseed(uint64_t seed);

    // Queues an escaped frame to go out at `dueNs`. Frames leave in the order queued.
    void Enqueue(Bytes line, int64_t dueNs);

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
        int64_t dueNs;
    };
    void Release(Bytes line, int64_t nowNs);

    LineSettings m_settings;
    std::deque<Pending> m_frames;
    Bytes m_held;
    std::deque<uint8_t> m_out;
    int64_t m_nextByteNs = 0;
    int64_t m_lastByteNs = INT64_MIN / 2;
    SeededRandom m_garbageRandom;
    SeededRandom m_flipRandom;
};

}  // namespace r4t8::sim
