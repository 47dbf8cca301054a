// Random fault schedules for the simulated controller's replies: for every reply, drawn from a
// seed, whether it is lost or corrupted, how late it leaves, how fast its bytes trickle and
// whether a duplicate follows after a gap. The same seed gives the same schedule, in the
// in-process harness and in r4t8-sim alike.
//
// Every schedule keeps the controller inside what the tool assumes (protocol/ReplyTiming.h),
// with margin: answers leave in the order of the requests, each frame of an answer begins
// within kMaxStartMs of its request's arrival (a reply that would begin later is dropped), a
// duplicate follows its original's last byte within kMaxDuplicateGapMs, and bytes trickle at
// most kMaxByteIntervalNs apart.
//
// Modes:
//  - hostile: any mix of the faults above.
//  - recoverable: as hostile, but every request gets at least one correct reply, whole on the
//    line within kRecoverableWithinMs of its first copy's arrival (a resent copy's reply may be
//    that one). Identical requests count as copies of one request until that reply has left.
//  - slow: no faults; every copy answered after the same delay, up to kSlowMaxDelayMs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "LineScheduler.h"
#include "protocol/ReplyTiming.h"

namespace r4t8::sim {

enum class ChaosMode { Hostile, Recoverable, Slow };

struct ChaosSettings {
    bool on = false;
    uint64_t seed = 1;
    ChaosMode mode = ChaosMode::Hostile;
    int maxDelayMs = 3500;  // longest answer delay drawn (capped by the bounds below)
};

bool ParseChaosMode(const std::string& text, ChaosMode& mode);
const char* ChaosModeName(ChaosMode mode);

// The faults of one reply.
struct ReplyFaults {
    bool drop = false;
    bool corrupt = false;
};

// When one reply (and its duplicate) leaves.
struct ReplyTimingPlan {
    bool drop = false;  // it would begin too late: not sent
    FrameTiming original;
    std::optional<int64_t> duplicateGapNs;
};

class ChaosSchedule {
  public:
    static constexpr int64_t kMaxStartMs = 4400;
    static constexpr int64_t kMaxDuplicateGapMs = 500;
    static constexpr int64_t kMaxByteIntervalNs = 500000;
    static constexpr int64_t kRecoverableWithinMs = 3500;
    static constexpr int64_t kSlowMaxDelayMs = 3400;
    // The guaranteed reply trickles no slower, so that it is whole in time.
    static constexpr int64_t kGuaranteedByteIntervalNs = 100000;
    // Other replies of a recoverable request end this long before its deadline, so that
    // they never hold the line when the next request's guaranteed reply is due.
    static constexpr int64_t kRecoverableSlackMs = 200;
    static_assert(kMaxStartMs < reply_timing::kReplyWindowMs);
    static_assert(kMaxDuplicateGapMs < reply_timing::kDuplicateGapMs);
    static_assert(kRecoverableWithinMs < reply_timing::kTimeOutMs);

    void Reset(const ChaosSettings& settings);
    const ChaosSettings& Settings() const { return m_settings; }
    bool On() const { return m_settings.on; }

    // A request arrived (`key`: its command and payload) and is answered: loss and damage.
    ReplyFaults Faults(const Bytes& key, int64_t recvNs);
    // The timing of the answer just decided on, `lineBytes` long, given the line's planned tail.
    ReplyTimingPlan Timing(size_t lineBytes, int64_t recvNs, int64_t tailNs);

    // Recoverable schedules whose guaranteed reply could not be placed in time (an earlier
    // frame held the line too long): such a run is not a recoverable one after all.
    int Violations() const { return m_violations; }
    int Replies() const { return m_replies; }

  private:
    // The per-schedule mix, drawn from the seed.
    struct Profile {
        double drop = 0, corrupt = 0, duplicate = 0, trickle = 0, late = 0, window = 0;
        int64_t slowDelayNs = 0;
    };
    int64_t DrawDelayNs(int64_t maxNs);
    int64_t DrawIntervalNs(int64_t maxNs);

    ChaosSettings m_settings;
    Profile m_profile;
    SeededRandom m_random;
    // The request being answered: copies until its guaranteed reply has left the line.
    Bytes m_groupKey;
    int64_t m_groupFirstNs = 0;
    int m_groupCopies = 0;
    int m_guaranteedCopy = 1;
    std::optional<int64_t> m_guaranteeEndNs;
    bool m_guaranteeNow = false;  // the reply being planned carries the guarantee
    int m_violations = 0;
    int m_replies = 0;
};

}  // namespace r4t8::sim
