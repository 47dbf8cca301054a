#include "SimServer.h"

#include <algorithm>
#include <string_view>

namespace r4t8::sim {

namespace {

// Far more than a client would leave unread; beyond it debug frames are skipped rather
// than queued without bound.
constexpr size_t kMaxDebugBacklog = 64 * 1024;

// What the simulated GPRS side says, in turn: 'T' sent by it, 'R' received by it.
constexpr std::pair<char, std::string_view> kDebugLines[] = {
    {'T', "AT\r\n"},
    {'R', "OK\r\n"},
    {'T', "AT+CSQ\r\n"},
    {'R', "+CSQ: 23,0\r\n\r\nOK\r\n"},
    {'T', "AT+CIPSTART=\"TCP\",\"203.0.113.10\",\"8000\"\r\n"},
    {'R', "CONNECT OK\r\n"},
};

}  // namespace

std::string HexBytes(const uint8_t* data, size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(count * 3);
    for (size_t i = 0; i < count; ++i) {
        if (i) s.push_back(' ');
        s.push_back(kDigits[data[i] >> 4]);
        s.push_back(kDigits[data[i] & 0x0F]);
    }
    return s;
}

SimServer::SimServer(SimController& controller, LogSink log)
    : m_controller(controller), m_log(std::move(log)) {
    SetFaults(FaultOptions{}, 0);
}

void SimServer::SetFaults(const FaultOptions& faults, int64_t nowNs) {
    const bool reseed = !m_seeded || faults.seed != m_faults.seed;
    const ChaosSettings& was = m_faults.chaos;
    const ChaosSettings& now = faults.chaos;
    const bool rechaos = !m_seeded || was.on != now.on || was.seed != now.seed ||
                         was.mode != now.mode || was.maxDelayMs != now.maxDelayMs;
    if (rechaos) m_chaos.Reset(now);
    m_faults = faults;
    if (reseed) {
        m_seeded = true;
        m_line.Reseed(faults.seed);
        m_dropRandom = SeededRandom(faults.seed ^ 0x64726F70ULL);
        m_corruptRandom = SeededRandom(faults.seed ^ 0x636F7272ULL);
        m_duplicateRandom = SeededRandom(faults.seed ^ 0x64757065ULL);
    }
    LineSettings ls;
    ls.byteIntervalNs = static_cast<int64_t>(faults.trickleMs) * 1000000;
    if (faults.pace && ls.byteIntervalNs < kPacedByteNs) ls.byteIntervalNs = kPacedByteNs;
    ls.burst = faults.burst;
    ls.garbage = faults.garbage;
    ls.strayA5 = faults.strayA5;
    ls.bitflipRate = faults.bitflipRate;
    m_line.Configure(ls, nowNs);
    m_controller.SetStoreWrong(faults.storeWrong);
}

void SimServer::OnBytes(const uint8_t* data, size_t count, int64_t nowNs,
                        const QDateTime& localNow) {
    std::vector<CollectedFrame> frames;
    m_collector.Feed(data, count, frames);
    for (const CollectedFrame& f : frames) {
        Request r;
        if (f.overflow) {
            m_log("BAD " + HexBytes(f.line) + " ...");
        } else if (!ParseRequest(f.raw, r)) {
            m_log("BAD " + HexBytes(f.line));
        } else {
            m_log("RX " + HexBytes(f.raw));
            HandleRequest(r, nowNs, localNow);
        }
    }
}

bool SimServer::Refused(uint8_t command) {
    bool refuse = false;
    for (Refusal& r : m_faults.refusals) {
        if (r.command != command) continue;
        ++r.seen;
        if (r.occurrence == 0 || r.occurrence == r.seen) refuse = true;
    }
    return refuse;
}

void SimServer::HandleRequest(const Request& request, int64_t nowNs, const QDateTime& localNow) {
    if (m_faults.hangupAfter >= 0 && m_answered >= m_faults.hangupAfter) {
        m_log("# hanging up: request not answered");
        return;
    }
    if (Refused(request.command)) {
        m_log("# refused command " + std::to_string(request.command));
        SendReply(request, SimController::RefusalPayload(request.command), nowNs);
        return;
    }
    const Moment moment{nowNs / 1000000, localNow};
    const auto payload = m_controller.Handle(request.command, request.payload, moment);
    if (!payload) {
        m_log("# no answer to command " + std::to_string(request.command) + " with " +
              std::to_string(request.payload.size()) + " payload bytes");
        return;
    }
    SendReply(request, *payload, nowNs);
}

void SimServer::SendReply(const Request& request, const Bytes& payload, int64_t nowNs) {
    ++m_answered;
    Bytes raw = BuildReplyFrame(request.command, payload);
    if (m_chaos.On()) {
        SendChaosReply(request, std::move(raw), nowNs);
        return;
    }
    if (m_faults.dropNext > 0 || m_dropRandom.Chance(m_faults.dropRate)) {
        if (m_faults.dropNext > 0) --m_faults.dropNext;
        m_log("DROP " + HexBytes(raw));
        return;
    }
    if (m_faults.corruptNext > 0 || m_corruptRandom.Chance(m_faults.corruptRate)) {
        if (m_faults.corruptNext > 0) --m_faults.corruptNext;
        raw[raw.size() - 3] ^= 0x01;
        raw[raw.size() - 2] ^= 0x01;
    }
    const int64_t due = nowNs + static_cast<int64_t>(m_faults.delayMs) * 1000000;
    Queue(raw, due);
    if (m_faults.duplicateNext > 0 || m_duplicateRandom.Chance(m_faults.duplicateRate)) {
        if (m_faults.duplicateNext > 0) --m_faults.duplicateNext;
        Queue(raw, due);
    }
}

void SimServer::SendChaosReply(const Request& request, Bytes raw, int64_t nowNs) {
    Bytes key = request.payload;
    key.insert(key.begin(), request.command);
    const ReplyFaults faults = m_chaos.Faults(key, nowNs);
    if (faults.drop) {
        m_log("DROP " + HexBytes(raw));
        return;
    }
    if (faults.corrupt) {
        raw[raw.size() - 3] ^= 0x01;
        raw[raw.size() - 2] ^= 0x01;
    }
    Bytes line = EscapeFrame(raw);
    const ReplyTimingPlan plan = m_chaos.Timing(line.size(), nowNs, m_line.PlannedTailNs());
    if (plan.drop) {
        m_log("DROP " + HexBytes(raw));
        return;
    }
    m_log("TX " + HexBytes(raw));
    if (plan.duplicateGapNs) {
        FrameTiming dup;
        dup.gapNs = *plan.duplicateGapNs;
        dup.byteIntervalNs = plan.original.byteIntervalNs;
        m_line.Enqueue(line, plan.original);
        m_log("TX " + HexBytes(raw));
        m_line.Enqueue(std::move(line), dup);
        return;
    }
    m_line.Enqueue(std::move(line), plan.original);
}

void SimServer::Queue(const Bytes& raw, int64_t dueNs) {
    m_log("TX " + HexBytes(raw));
    m_line.Enqueue(EscapeFrame(raw), dueNs);
}

void SimServer::SendDebugFrame(int64_t nowNs) {
    const auto& [letter, text] = kDebugLines[m_debugSerial++ % std::size(kDebugLines)];
    if (m_line.Backlog() > kMaxDebugBacklog) return;
    Bytes payload(text.size() + 1);
    payload[0] = static_cast<uint8_t>(letter);
    std::copy(text.begin(), text.end(), payload.begin() + 1);
    Queue(BuildReplyFrame(cmd_debug_data, payload), nowNs);
}

Bytes SimServer::TakeOutput(int64_t nowNs) {
    const bool on = m_controller.DebugOn();
    if (on && !m_debugWasOn) m_nextDebugNs = nowNs + m_debugIntervalNs;
    m_debugWasOn = on;
    if (on && !HangupDue() && nowNs >= m_nextDebugNs) {
        SendDebugFrame(nowNs);
        m_nextDebugNs += m_debugIntervalNs;
        // After a long stall go on from now rather than send a catch-up flood.
        if (m_nextDebugNs <= nowNs) m_nextDebugNs = nowNs + m_debugIntervalNs;
    }
    if (HangupDue()) m_line.FlushHeld();
    return m_line.TakeDue(nowNs);
}

std::optional<int64_t> SimServer::NextWakeNs() const {
    auto wake = m_line.NextWakeNs();
    if (m_controller.DebugOn() && !HangupDue()) {
        const int64_t d = m_debugWasOn ? m_nextDebugNs : INT64_MIN / 2;
        wake = wake ? std::min(*wake, d) : d;
    }
    return wake;
}

bool SimServer::HangupDue() const {
    return m_faults.hangupAfter >= 0 && m_answered >= m_faults.hangupAfter;
}

}  // namespace r4t8::sim
