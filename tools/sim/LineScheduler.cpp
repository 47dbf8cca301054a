#include "LineScheduler.h"

#include <algorithm>

namespace r4t8::sim {

uint64_t SeededRandom::Next() {
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

bool SeededRandom::Chance(double p) {
    if (p <= 0.0) return false;
    // 53 random bits give a uniform double in [0, 1).
    return static_cast<double>(Next() >> 11) * 0x1.0p-53 < p;
}

double SeededRandom::Uniform(double lo, double hi) {
    return lo + (hi - lo) * (static_cast<double>(Next() >> 11) * 0x1.0p-53);
}

LineScheduler::LineScheduler(uint64_t seed) { Reseed(seed); }

void LineScheduler::Reseed(uint64_t seed) {
    m_garbageRandom = SeededRandom(seed ^ 0x6761726261676521ULL);
    m_flipRandom = SeededRandom(seed ^ 0x666C697062697473ULL);
}

void LineScheduler::Configure(const LineSettings& settings, int64_t nowNs) {
    const bool burstEnded = m_settings.burst && !settings.burst;
    m_settings = settings;
    if (burstEnded) FlushHeld();
    // Bytes still waiting at the line's pace take the new pace from now on.
    for (Segment& s : m_out) {
        if (!s.followsLine) continue;
        s.intervalNs = m_settings.byteIntervalNs;
        if (s.started) s.nextNs = std::max(nowNs, m_lastByteNs + s.intervalNs);
    }
}

PlannedFrame LineScheduler::Enqueue(Bytes line, const FrameTiming& timing) {
    const int64_t interval = std::max<int64_t>(0, IntervalOf(timing));
    PlannedFrame plan;
    plan.startNs = timing.gapNs >= 0 ? m_tailEndNs + timing.gapNs : timing.dueNs;
    plan.startNs = std::max(plan.startNs, m_tailEndNs + interval);
    plan.endNs = plan.startNs + interval * static_cast<int64_t>(line.empty() ? 0 : line.size() - 1);
    m_tailEndNs = plan.endNs;
    m_frames.push_back({std::move(line), timing});
    return plan;
}

void LineScheduler::FlushHeld() {
    if (m_held.empty()) return;
    Segment s;
    s.bytes = std::move(m_held);
    s.intervalNs = m_settings.byteIntervalNs;
    s.followsLine = true;
    s.releasedNs = INT64_MIN / 2;
    m_out.push_back(std::move(s));
    m_held.clear();
}

void LineScheduler::Release(Bytes frame, int64_t intervalNs, bool followsLine, int64_t nowNs) {
    Bytes line;
    if (m_settings.garbage) {
        const uint32_t count = 1 + m_garbageRandom.Below(6);
        for (uint32_t i = 0; i < count; ++i) {
            auto b = static_cast<uint8_t>(m_garbageRandom.Below(255));
            line.push_back(b >= kFrameDelimiter ? static_cast<uint8_t>(b + 1) : b);
        }
    }
    if (m_settings.strayA5) {
        // Never an AA after a stray A5: that would open a frame that swallows the real start.
        if (m_garbageRandom.Below(2) == 0) line.push_back(kEscapeByte);
        const uint32_t count = 1 + m_garbageRandom.Below(3);
        line.insert(line.end(), count, kFrameDelimiter);
    }
    line.insert(line.end(), frame.begin(), frame.end());
    if (m_settings.bitflipRate > 0.0) {
        for (uint8_t& b : line) {
            if (m_flipRandom.Chance(m_settings.bitflipRate))
                b ^= static_cast<uint8_t>(1u << m_flipRandom.Below(8));
        }
    }
    if (m_settings.burst && m_held.empty()) {
        m_held = std::move(line);
        return;
    }
    if (!m_held.empty()) {
        line.insert(line.begin(), m_held.begin(), m_held.end());
        m_held.clear();
    }
    Segment s;
    s.bytes = std::move(line);
    s.intervalNs = intervalNs;
    s.followsLine = followsLine;
    s.releasedNs = nowNs;
    m_out.push_back(std::move(s));
}

void LineScheduler::StartFront() {
    Segment& s = m_out.front();
    if (s.started) return;
    s.started = true;
    // Unpaced bytes leave as soon as they are released; paced ones keep the pace.
    s.nextNs =
        s.intervalNs <= 0 ? s.releasedNs : std::max(s.releasedNs, m_lastByteNs + s.intervalNs);
}

Bytes LineScheduler::TakeDue(int64_t nowNs) {
    Bytes out;
    for (bool progress = true; progress;) {
        progress = false;
        while (!m_frames.empty()) {
            Pending& f = m_frames.front();
            if (f.timing.gapNs >= 0) {
                // Its time counts from the previous frame's last byte, once that is out.
                if (!m_out.empty()) break;
                f.timing.dueNs = m_lastByteNs + f.timing.gapNs;
                f.timing.gapNs = -1;
            }
            if (f.timing.dueNs > nowNs) break;
            Pending p = std::move(f);
            m_frames.pop_front();
            Release(std::move(p.line), IntervalOf(p.timing), p.timing.byteIntervalNs < 0, nowNs);
            progress = true;
        }
        while (!m_out.empty()) {
            StartFront();
            Segment& s = m_out.front();
            if (s.nextNs > nowNs) break;
            if (s.intervalNs <= 0) {
                out.insert(out.end(), s.bytes.begin() + static_cast<long>(s.pos), s.bytes.end());
                s.pos = s.bytes.size();
                m_lastByteNs = nowNs;
            } else {
                while (s.pos < s.bytes.size() && s.nextNs <= nowNs) {
                    out.push_back(s.bytes[s.pos++]);
                    m_lastByteNs = s.nextNs;
                    s.nextNs += s.intervalNs;
                }
                if (s.pos < s.bytes.size()) break;
            }
            m_out.pop_front();
            progress = true;
        }
    }
    return out;
}

std::optional<int64_t> LineScheduler::NextWakeNs() const {
    std::optional<int64_t> wake;
    if (!m_out.empty()) {
        const Segment& s = m_out.front();
        wake = s.started || s.intervalNs <= 0 ? (s.started ? s.nextNs : s.releasedNs)
                                              : std::max(s.releasedNs, m_lastByteNs + s.intervalNs);
    } else if (!m_frames.empty()) {
        const Pending& f = m_frames.front();
        wake = f.timing.gapNs >= 0 ? m_lastByteNs + f.timing.gapNs : f.timing.dueNs;
    }
    return wake;
}

size_t LineScheduler::Backlog() const {
    size_t n = m_held.size();
    for (const auto& s : m_out) n += s.bytes.size() - s.pos;
    for (const auto& f : m_frames) n += f.line.size();
    return n;
}

}  // namespace r4t8::sim
