// The read thread: waits for bytes, collects them into reads of InputLen bytes or whatever came
// before a time-out, and watches the driver's error and modem counters.
#include <errno.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <utility>
#include <vector>

#include "serial/CommTypes.h"
#include "serial/linux/PortSession.h"

namespace r4t8::detail {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kReadChunk = 65536;
// The ioctl counters behind receive-error and modem events are polled this often.
constexpr int kCounterPollMs = 250;
constexpr uint32_t kNoIntervalWait = 0xFFFFFFFFu;
// Longer waits (a large multiplier times a large InputLen) would overflow the clock's range.
constexpr uint64_t kLongestWaitMs = uint64_t(1) << 40;

int msUntil(Clock::time_point deadline, Clock::time_point now) {
    if (deadline <= now) return 0;
    const auto ms = std::chrono::ceil<milliseconds>(deadline - now).count();
    return static_cast<int>(std::min<int64_t>(ms, 1 << 30));
}

// The sooner of two poll time-outs, where -1 waits for ever.
int sooner(int a, int b) { return a < 0 ? b : std::min(a, b); }

// Receive-error bits and modem events from the driver's counters since the last look.
class LineCounters {
  public:
    explicit LineCounters(int fd) : m_fd(fd) { m_supported = ioctl(fd, TIOCGICOUNT, &m_last) == 0; }
    bool Supported() const { return m_supported; }

    void Check(PortSession& s) {
        if (!m_supported) return;
        serial_icounter_struct now{};
        if (ioctl(m_fd, TIOCGICOUNT, &now) != 0) return;
        uint32_t errors = 0;
        if (now.buf_overrun != m_last.buf_overrun) errors |= CommError::kRxOver;
        if (now.overrun != m_last.overrun) errors |= CommError::kOverrun;
        if (now.parity != m_last.parity) errors |= CommError::kRxParity;
        if (now.frame != m_last.frame) errors |= CommError::kFrame;
        if (now.brk != m_last.brk) errors |= CommError::kBreak;
        uint32_t modem = 0;
        if (now.dcd != m_last.dcd) modem |= ModemEvent::kCarrierDetect;
        if (now.rng != m_last.rng) modem |= ModemEvent::kRing;
        m_last = now;
        if (errors) s.post(Notice::Kind::ReceiveError, errors);
        if (modem) s.post(Notice::Kind::ModemStateChange, modem);
    }

  private:
    int m_fd;
    bool m_supported = false;
    serial_icounter_struct m_last{};
};

// The time-outs in force for one turn of the loop.
struct Limits {
    uint32_t interval;
    uint64_t totalMs;  // 0: no total limit

    bool IntervalApplies() const { return interval != 0 && interval != kNoIntervalWait; }
    // 0xFFFFFFFF with both totals 0: a read returns at once with whatever is there.
    bool AtOnce() const { return interval == kNoIntervalWait && totalMs == 0; }
};

class Reader {
  public:
    explicit Reader(PortSession& s) : m_s(s), m_counters(s.fd), m_buf(kReadChunk) {}

    // Returns when the port is closed or the line is gone.
    void Run() {
        for (;;) {
            const Limits limits = current();
            pollfd fds[2] = {{m_s.fd, POLLIN, 0}, {m_s.stopFd, POLLIN, 0}};
            const int r = ::poll(fds, 2, pollTimeout(limits, Clock::now()));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) return m_s.hangup();
            if (fds[1].revents) return;
            m_counters.Check(m_s);
            if (r == 0) {
                endTimedOutRead(limits);
                continue;
            }
            // POLLHUP or POLLERR without data: the other end or the adapter is gone.
            if ((fds[0].revents & POLLNVAL) || !(fds[0].revents & POLLIN)) return m_s.hangup();
            if (!readAvailable(limits)) return m_s.hangup();
        }
    }

  private:
    Limits current() const {
        const uint64_t total =
            uint64_t(m_s.readTotalMultiplier.load(std::memory_order_relaxed)) * m_s.inputLen +
            m_s.readTotalConstant.load(std::memory_order_relaxed);
        return {m_s.readInterval.load(std::memory_order_relaxed), std::min(total, kLongestWaitMs)};
    }

    int pollTimeout(const Limits& limits, Clock::time_point now) const {
        int timeout = -1;
        if (!m_partial.isEmpty() && limits.IntervalApplies())
            timeout = msUntil(m_lastByte + milliseconds(limits.interval), now);
        if (limits.totalMs > 0)
            timeout = sooner(timeout, msUntil(m_readStart + milliseconds(limits.totalMs), now));
        if (m_counters.Supported()) timeout = sooner(timeout, kCounterPollMs);
        return timeout;
    }

    void endTimedOutRead(const Limits& limits) {
        const auto t = Clock::now();
        const bool intervalDue = !m_partial.isEmpty() && limits.IntervalApplies() &&
                                 t >= m_lastByte + milliseconds(limits.interval);
        const bool totalDue = limits.totalMs > 0 && t >= m_readStart + milliseconds(limits.totalMs);
        if (!intervalDue && !totalDue) return;
        // A read that timed out with nothing just starts again: ending the thread would leave
        // an open port that silently receives nothing.
        if (!m_partial.isEmpty()) m_s.postData(std::exchange(m_partial, QByteArray()));
        m_readStart = t;
    }

    // False when the line is gone.
    bool readAvailable(const Limits& limits) {
        const ssize_t got = ::read(m_s.fd, m_buf.data(), m_buf.size());
        if (got < 0) return errno == EINTR || errno == EAGAIN;
        if (got == 0) return false;
        m_lastByte = Clock::now();
        char* const begin = m_buf.data();
        char* end = begin + got;
        if (m_s.ignoreNullChar.load(std::memory_order_relaxed)) end = std::remove(begin, end, '\0');
        if (end == begin) return true;
        m_partial.append(begin, end - begin);
        postCompleteReads(limits);
        return true;
    }

    void postCompleteReads(const Limits& limits) {
        const qsizetype n = m_s.inputLen;
        const qsizetype complete = limits.AtOnce() ? m_partial.size() : (m_partial.size() / n) * n;
        if (complete == 0) return;
        if (complete == m_partial.size()) {
            m_s.postData(std::exchange(m_partial, QByteArray()));
        } else {
            m_s.postData(m_partial.left(complete));
            m_partial.remove(0, complete);
        }
        m_readStart = m_lastByte;
    }

    PortSession& m_s;
    LineCounters m_counters;
    std::vector<char> m_buf;
    QByteArray m_partial;  // bytes of a read still waiting for InputLen or a time-out
    Clock::time_point m_readStart = Clock::now();
    Clock::time_point m_lastByte = m_readStart;
};

}  // namespace

void PortSession::readLoop() {
    RaiseThreadPriority(2);
    Reader(*this).Run();
    (void)tcflush(fd, TCIFLUSH);
    threadDone();
}

}  // namespace r4t8::detail
