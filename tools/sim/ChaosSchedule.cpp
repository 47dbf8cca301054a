#include "ChaosSchedule.h"

#include <algorithm>

namespace r4t8::sim {

namespace {

constexpr int64_t kMs = 1000000;
// Answers that are not late come within this.
constexpr int64_t kPromptNs = 30 * kMs;
// The window of answer delays the fixed fault grid never hit.
constexpr int64_t kWindowStartNs = 2000 * kMs;

}  // namespace

bool ParseChaosMode(const std::string& text, ChaosMode& mode) {
    if (text == "hostile") {
        mode = ChaosMode::Hostile;
    } else if (text == "recoverable") {
        mode = ChaosMode::Recoverable;
    } else if (text == "slow") {
        mode = ChaosMode::Slow;
    } else {
        return false;
    }
    return true;
}

const char* ChaosModeName(ChaosMode mode) {
    switch (mode) {
        case ChaosMode::Hostile:
            return "hostile";
        case ChaosMode::Recoverable:
            return "recoverable";
        case ChaosMode::Slow:
            return "slow";
    }
    return "hostile";
}

void ChaosSchedule::Reset(const ChaosSettings& settings) {
    m_settings = settings;
    m_random = SeededRandom(settings.seed ^ 0x6368616F73ULL);
    m_profile = Profile{};
    m_groupKey.clear();
    m_groupCopies = 0;
    m_guaranteeEndNs.reset();
    m_guaranteeNow = false;
    m_violations = 0;
    m_replies = 0;
    const int64_t maxDelayNs = std::clamp<int64_t>(settings.maxDelayMs, 0, kSlowMaxDelayMs) * kMs;
    if (settings.mode == ChaosMode::Slow) {
        m_profile.slowDelayNs =
            static_cast<int64_t>(m_random.Uniform(0, static_cast<double>(maxDelayNs)));
        return;
    }
    m_profile.drop = m_random.Uniform(0, 0.3);
    m_profile.corrupt = m_random.Uniform(0, 0.15);
    m_profile.duplicate = m_random.Uniform(0, 0.5);
    m_profile.trickle = m_random.Uniform(0, 0.3);
    m_profile.late = m_random.Uniform(0, 1);
    m_profile.window = m_random.Uniform(0, 1);
}

int64_t ChaosSchedule::DrawDelayNs(int64_t maxNs) {
    if (maxNs <= 0) return 0;
    if (!m_random.Chance(m_profile.late))
        return static_cast<int64_t>(
            m_random.Uniform(0, static_cast<double>(std::min(maxNs, kPromptNs))));
    const int64_t from = m_random.Chance(m_profile.window) ? std::min(kWindowStartNs, maxNs) : 0;
    return static_cast<int64_t>(
        m_random.Uniform(static_cast<double>(from), static_cast<double>(maxNs)));
}

int64_t ChaosSchedule::DrawIntervalNs(int64_t maxNs) {
    if (!m_random.Chance(m_profile.trickle)) return 0;
    return static_cast<int64_t>(
        m_random.Uniform(static_cast<double>(kPacedByteNs), static_cast<double>(maxNs)));
}

ReplyFaults ChaosSchedule::Faults(const Bytes& key, int64_t recvNs) {
    m_guaranteeNow = false;
    if (m_settings.mode == ChaosMode::Slow) return {};
    if (m_settings.mode == ChaosMode::Recoverable) {
        const bool delivered = m_guaranteeEndNs && *m_guaranteeEndNs <= recvNs;
        if (key != m_groupKey || delivered) {
            m_groupKey = key;
            m_groupFirstNs = recvNs;
            m_groupCopies = 0;
            m_guaranteeEndNs.reset();
            // Now and then the first copy's reply is lost and a resent copy's carries it.
            m_guaranteedCopy = m_random.Chance(0.25) ? 2 : 1;
        }
        ++m_groupCopies;
        if (m_groupCopies == m_guaranteedCopy) {
            m_guaranteeNow = true;
            return {};
        }
        if (m_groupCopies < m_guaranteedCopy) {
            ReplyFaults f;
            (m_random.Chance(0.5) ? f.drop : f.corrupt) = true;
            return f;
        }
    }
    ReplyFaults f;
    f.drop = m_random.Chance(m_profile.drop);
    f.corrupt = !f.drop && m_random.Chance(m_profile.corrupt);
    return f;
}

ReplyTimingPlan ChaosSchedule::Timing(size_t lineBytes, int64_t recvNs, int64_t tailNs) {
    ++m_replies;
    ReplyTimingPlan plan;
    const auto span = [lineBytes](int64_t interval) {
        return interval * static_cast<int64_t>(lineBytes > 0 ? lineBytes - 1 : 0);
    };
    const auto startOf = [tailNs](int64_t due, int64_t interval) {
        return std::max(due, tailNs + interval);
    };

    if (m_settings.mode == ChaosMode::Slow) {
        plan.original.dueNs = recvNs + m_profile.slowDelayNs;
        plan.original.byteIntervalNs = 0;
        return plan;
    }

    const int64_t limitNs = recvNs + kMaxStartMs * kMs;
    const bool recoverable = m_settings.mode == ChaosMode::Recoverable;
    const int64_t groupEndNs = m_groupFirstNs + kRecoverableWithinMs * kMs;
    int64_t interval = 0;
    int64_t due = 0;
    if (m_guaranteeNow) {
        interval = DrawIntervalNs(kGuaranteedByteIntervalNs);
        const int64_t latestStart = groupEndNs - span(interval);
        due = recvNs + DrawDelayNs(latestStart - recvNs);
    } else {
        interval = DrawIntervalNs(kMaxByteIntervalNs);
        const int64_t maxDelay = std::min<int64_t>(m_settings.maxDelayMs, 3500) * kMs;
        due = recvNs + DrawDelayNs(maxDelay);
    }
    const int64_t start = startOf(due, interval);
    const int64_t end = start + span(interval);
    plan.original.dueNs = due;
    plan.original.byteIntervalNs = interval;
    if (m_guaranteeNow) {
        // An earlier frame holds the line past the deadline: nothing this reply can change.
        if (end > groupEndNs) ++m_violations;
        if (start > limitNs) {
            plan.drop = true;
            return plan;
        }
        m_guaranteeEndNs = end;
    } else if (start > limitNs || (recoverable && end > groupEndNs - kRecoverableSlackMs * kMs)) {
        plan.drop = true;
        return plan;
    }
    if (m_random.Chance(m_profile.duplicate)) {
        const auto gap = static_cast<int64_t>(
            m_random.Uniform(0, static_cast<double>(kMaxDuplicateGapMs * kMs)));
        const int64_t dupStart = end + std::max(gap, interval);
        const int64_t dupEnd = dupStart + span(interval);
        if (dupStart <= limitNs &&
            (!recoverable || dupEnd <= groupEndNs - kRecoverableSlackMs * kMs))
            plan.duplicateGapNs = gap;
    }
    return plan;
}

}  // namespace r4t8::sim
