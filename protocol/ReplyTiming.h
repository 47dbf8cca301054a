// What the tool assumes about when a controller answers, in one place: the resend rule, and
// the bounds the reply guard (CommandSender.h) relies on to attribute replies by time. The
// simulator's random fault schedules stay inside these bounds, with margin.
#pragma once

#include <cstdint>

namespace r4t8::reply_timing {

// A request goes out at 0, 1, 2 and 3 s; the time-out is reported at 4 s.
constexpr int kResendIntervalMs = 1000;
constexpr int kMaxResends = 3;
constexpr int64_t kTimeOutMs = kResendIntervalMs * (kMaxResends + 1);

// Every frame that answers a copy of a request (the answer and any duplicate of it) begins
// to arrive no later than this after the copy was sent.
constexpr int64_t kReplyWindowMs = 5000;
// A duplicate of an answer begins no later than this after the answer's last byte.
constexpr int64_t kDuplicateGapMs = 1000;

static_assert(kDuplicateGapMs < kReplyWindowMs);

}  // namespace r4t8::reply_timing
