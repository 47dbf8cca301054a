// The simulated controller on a line: collects requests, answers them through the
// controller, applies the reply faults and hands the line bytes to the scheduler. The
// program feeds it bytes and time and writes what it gives back; tests can do the same.
//
// Frame log, one line per event, written through the log sink (no trailing newline):
//   "RX <hex>"    a request that passed the checks, raw (unescaped) with both delimiters
//   "TX <hex>"    a frame queued for sending, raw, as sent (a corrupted checksum included);
//                 a duplicated reply appears twice; bit flips happen later and are not shown
//   "BAD <hex>"   a collected frame that failed the checks, as received (escaped); an
//                 overlong one is shown by its first 16 bytes and "..."
//   "DROP <hex>"  a reply withheld by a drop fault (or a chaos schedule), raw
//   "# <text>"    a note (refusals, unanswered requests, fault changes, hangup)
// <hex> is upper-case two-digit bytes separated by single blanks, e.g. "TX A5 06 00 20 ...".
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "FaultOptions.h"
#include "LineScheduler.h"
#include "RequestCollector.h"
#include "SimController.h"

namespace r4t8::sim {

std::string HexBytes(const uint8_t* data, size_t count);
inline std::string HexBytes(const Bytes& b) { return HexBytes(b.data(), b.size()); }

class SimServer {
  public:
    using LogSink = std::function<void(const std::string&)>;

    SimServer(SimController& controller, LogSink log);

    // Replaces the fault options (the counters of "next N" faults with them).
    void SetFaults(const FaultOptions& faults, int64_t nowNs);
    const FaultOptions& Faults() const { return m_faults; }

    // How often debug frames go out while debug mode is on.
    void SetDebugIntervalMs(int ms) { m_debugIntervalNs = static_cast<int64_t>(ms) * 1000000; }

    // Bytes read from the line at `nowNs`; `localNow` is the PC's wall clock.
    void OnBytes(const uint8_t* data, size_t count, int64_t nowNs, const QDateTime& localNow);

    // Bytes to write now (also sends the debug frames that are due).
    Bytes TakeOutput(int64_t nowNs);
    // When TakeOutput next has work; nothing when idle.
    std::optional<int64_t> NextWakeNs() const;

    // True once the hangup count is reached and every reply is out of the scheduler.
    bool HangupDue() const;
    // Nothing left to give to TakeOutput.
    bool LineIdle() const { return m_line.Idle(); }
    int Answered() const { return m_answered; }
    const ChaosSchedule& Chaos() const { return m_chaos; }
    size_t Backlog() const { return m_line.Backlog(); }

  private:
    void HandleRequest(const Request& request, int64_t nowNs, const QDateTime& localNow);
    void SendReply(const Request& request, const Bytes& payload, int64_t nowNs);
    void SendChaosReply(const Request& request, Bytes raw, int64_t nowNs);
    void Queue(const Bytes& raw, int64_t dueNs);
    bool Refused(uint8_t command);
    void SendDebugFrame(int64_t nowNs);

    SimController& m_controller;
    LogSink m_log;
    FaultOptions m_faults;
    RequestCollector m_collector;
    LineScheduler m_line;
    SeededRandom m_dropRandom;
    SeededRandom m_corruptRandom;
    SeededRandom m_duplicateRandom;
    ChaosSchedule m_chaos;
    bool m_seeded = false;
    int m_answered = 0;
    int64_t m_debugIntervalNs = 500'000'000;
    int64_t m_nextDebugNs = 0;
    bool m_debugWasOn = false;
    unsigned m_debugSerial = 0;
};

}  // namespace r4t8::sim
