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

LineScheduler::LineScheduler(uint64_t seed) { Reseed(seed); }

void LineScheduler::Reseed(uint64_t seed) {
    m_garbageRandom = SeededRandom(seed ^ 0x6761726261676521ULL);
    m_flipRandom = SeededRandom(seed ^ 0x666C697062697473ULL);
}

void LineScheduler::Configure(const LineSettings& settings, int64_t nowNs) {
    const bool burstEnded = m_settings.burst && !settings.burst;
    m_settings = settings;
    if (burstEnded) FlushHeld();
    if (!m_out.empty()) m_nextByteNs = std::max(nowNs, m_lastByteNs + m_settings.byteIntervalNs);
}

void LineScheduler::Enqueue(Bytes line, int64_t dueNs) {
    m_frames.push_back({std::move(line), dueNs});
}

void LineScheduler::FlushHeld() {
    if (m_held.empty()) return;
    const bool wasEmpty = m_out.empty();
    m_out.insert(m_out.end(), m_held.begin(), m_held.end());
    m_held.clear();
    if (wasEmpty) m_nextByteNs = m_lastByteNs + m_settings.byteIntervalNs;
}

void LineScheduler::Release(Bytes frame, int64_t nowNs) {
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
    if (m_out.empty()) m_nextByteNs = std::max(nowNs, m_lastByteNs + m_settings.byteIntervalNs);
    m_out.insert(m_out.end(), line.begin(), line.end());
}

Bytes LineScheduler::TakeDue(int64_t nowNs) {
    while (!m_frames.empty() && m_frames.front().dueNs <= nowNs) {
        Bytes line = std::move(m_frames.front().line);
        m_frames.pop_front();
        Release(std::move(line), nowNs);
    }
    Bytes out;
    if (m_settings.byteIntervalNs <= 0) {
        out.assign(m_out.begin(), m_out.end());
        m_out.clear();
        if (!out.empty()) m_lastByteNs = nowNs;
        return out;
    }
    while (!m_out.empty() && m_nextByteNs <= nowNs) {
        out.push_back(m_out.front());
        m_out.pop_front();
        m_lastByteNs = m_nextByteNs;
        m_nextByteNs += m_settings.byteIntervalNs;
    }
    return out;
}

std::optional<int64_t> LineScheduler::NextWakeNs() const {
    std::optional<int64_t> wake;
    if (!m_out.empty()) wake = m_settings.byteIntervalNs > 0 ? m_nextByteNs : INT64_MIN / 2;
    if (!m_frames.empty()) {
        const int64_t due = m_frames.front().dueNs;
        wake = wake ? std::min(*wake, due) : due;
    }
    return wake;
}

size_t LineScheduler::Backlog() const {
    size_t n = m_out.size() + m_held.size();
    for (const auto& f : m_frames) n += f.line.size();
    return n;
}

}  // namespace r4t8::sim
