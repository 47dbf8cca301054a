#include "protocol/CommandSender.h"

#include <algorithm>
#include <cstring>

#include "protocol/Captions.h"

namespace r4t8 {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

uint8_t CommandOf(const Bytes& raw) { return raw.size() > 3 ? raw[3] : 0; }

int64_t FrameReceiverArrivalUnknown() { return INT64_MAX; }

}  // namespace

CommandSender::CommandSender(IPort& port, ITimeSource& time, Reporting report, IFrameLog& log)
    : m_port(port),
      m_time(time),
      m_report(report),
      m_log(log),
      m_tmrCf(time.CreateTimer()),
      m_deferTimer(time.CreateTimer()) {
    m_tmrCf->SetInterval(kResendIntervalMs);
    m_tmrCf->SetSingleShot(false);
    m_tmrCf->SetCallback([this] { tmr_cfTimer(); });
    m_deferTimer->SetSingleShot(true);
    m_deferTimer->SetCallback([this] { SendDeferred(); });
}

CommandSender::~CommandSender() = default;

QString CommandSender::FormatSentLog(const uint8_t* bytes, size_t count) {
    std::string text;
    text.reserve(count * 3 + (count / kSendLogBytesPerLine + 1) * 2);
    for (size_t i = 0; i < count; ++i) {
        text.push_back(' ');
        text.push_back(kHexDigits[bytes[i] >> 4]);
        text.push_back(kHexDigits[bytes[i] & 0x0F]);
        if ((i + 1) % kSendLogBytesPerLine == 0) text.append("\r\n");
    }
    text.append("\r\n");
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void CommandSender::LogSentFrame(const uint8_t* bytes, size_t count) {
    m_log.AppendSendLog(FormatSentLog(bytes, count));
}

std::optional<Operation> CommandSender::OperationOf(uint8_t command) {
    switch (command) {
        case cmd_login:
            return Operation::Login;
        case cmd_read_block:
            return Operation::ReadSettings;
        case cmd_write_block:
        case cmd_erase_block:
            return Operation::WriteSettings;
        case cmd_write_done:
            return Operation::WriteDone;
        case cmd_factory_reset:
            return Operation::FactoryReset;
        case cmd_history_count:
        case cmd_history_page:
            return Operation::HistoryQuery;
        case cmd_current_data:
            return Operation::CurrentData;
        case cmd_relay:
            return Operation::Relay;
        case cmd_debug_mode:
            return Operation::DebugMode;
        case cmd_set_time:
            return Operation::SetTime;
        case cmd_get_time:
            return Operation::GetTime;
        default:
            return std::nullopt;
    }
}

bool CommandSender::AnswersAlike(uint8_t command) {
    return command == cmd_read_block || command == cmd_history_page;
}

int CommandSender::OutstandingResends() const {
    // While its answer is dispatched the request is no longer on the line, but still asked about.
    const LineRequest& r = m_answerPending ? m_answered : m_line;
    return r.copies.empty() ? 0 : static_cast<int>(r.copies.size()) - 1;
}

void CommandSender::StartTimer(int intervalMs) {
    m_tmrCf->SetInterval(intervalMs);
    m_tmrCf->Start();
    m_tmrDueUs = m_time.NowUs() + static_cast<int64_t>(intervalMs) * 1000;
}

void CommandSender::RetireUnanswered() {
    if (m_line.code == 0) return;
    Behind& b = m_behind[m_line.code];
    // Nothing is known of what its copies will bring: the next request of the code waits
    // until none of them can be answered any more.
    int64_t until = b.holdUntilUs;
    for (int64_t sent : m_line.copies) until = std::max(until, sent + WindowUs());
    for (int64_t sent : b.copies) until = std::max(until, sent + WindowUs());
    b = Behind{};
    b.holdUntilUs = until;
    m_line = LineRequest{};
}

int64_t CommandSender::HoldUntilUs(uint8_t command) const {
    const int64_t until = m_behind[command].holdUntilUs;
    return until > m_time.NowUs() ? until : 0;
}

void CommandSender::SendFrame(const Bytes& raw) {
    const uint8_t code = CommandOf(raw);
    // There is no queue: a new request replaces the pending one, whose copies may still be
    // answered.
    RetireUnanswered();
    m_tmrCf->Stop();
    CancelDeferred();
    m_outstanding = code;
    m_stopped = false;
    ++m_sendSerial;

    const int64_t until = code != 0 ? HoldUntilUs(code) : 0;
    if (until != 0) {
        ++m_stats.held;
        m_hasDeferred = true;
        m_deferredCode = code;
        m_deferred = raw;
        const int64_t waitMs = (until - m_time.NowUs() + 999) / 1000;
        m_deferTimer->SetInterval(static_cast<int>(std::clamp<int64_t>(waitMs, 1, 60000)));
        m_deferTimer->Start();
        return;
    }
    Transmit(raw, code);
}

void CommandSender::Transmit(const Bytes& raw, uint8_t code) {
    const Bytes line = EscapeFrame(raw);
    // Before the write: no byte of a genuine reply can carry an earlier stamp.
    const int64_t sentUs = m_time.NowUs();
    try {
        // The result is not looked at: on a closed port the time-out reports the loss.
        m_port.WriteBytes(line.data(), line.size());
        LogSentFrame(line.data(), line.size());
    } catch (...) {
        // A failing port or log must not take the caller down; the resend cycle still runs.
    }
    m_tmrCf->Stop();
    m_resendCount = 0;
    m_lastFrame = line;
    StartTimer(kResendIntervalMs);
    m_line = LineRequest{};
    m_line.code = code;
    if (code != 0) m_line.copies.push_back(sentUs);
}

void CommandSender::SendDeferred() {
    if (!m_hasDeferred) return;
    const int64_t until = HoldUntilUs(m_deferredCode);
    if (until != 0) {
        // A timer may fire a little early; the rest of the wait is short.
        m_deferTimer->SetInterval(static_cast<int>((until - m_time.NowUs() + 999) / 1000));
        m_deferTimer->Start();
        return;
    }
    m_deferTimer->Stop();
    m_hasDeferred = false;
    const Bytes raw = std::move(m_deferred);
    m_deferred.clear();
    m_behind[m_deferredCode] = Behind{};
    Transmit(raw, m_deferredCode);
}

void CommandSender::CancelDeferred() {
    m_deferTimer->Stop();
    m_hasDeferred = false;
    m_deferred.clear();
    m_deferredCode = 0;
}

void CommandSender::SendCommand(uint8_t selector) {
    Bytes frame;
    switch (selector) {
        case cmd_write_done:
            frame = BuildWriteDoneFrame();
            break;
        case cmd_factory_reset:
            frame = BuildFactoryResetFrame();
            break;
        case cmd_history_count: {
            const auto& r = m_args.historyRange;
            frame = BuildHistoryCountFrame(r[0], r[1], r[2], r[3], r[4], r[5]);
            break;
        }
        case cmd_history_page:
            frame = BuildHistoryPageFrame(m_args.historyPageIndex);
            break;
        case cmd_current_data:
            frame = BuildCurrentDataFrame();
            break;
        case cmd_relay:
            if (m_args.relayLetter == 'C') {
                frame = BuildRelayCloseFrame(m_args.relayCloseTime);
            } else if (m_args.relayLetter == 'P') {
                frame = BuildRelayPulseFrame(m_args.relayPulseTime, m_args.relayInterval,
                                             static_cast<uint8_t>(m_args.relayCount & 0xFF));
            } else if (m_args.relayLetter == 'O') {
                frame = BuildRelayReleaseFrame();
            }
            break;
        case cmd_debug_mode:
            frame = BuildDebugModeFrame(true);
            break;
        case cmd_set_time:
            frame = BuildSetTimeFrame(m_args.deviceTime.data());
            break;
        case cmd_get_time:
            frame = BuildGetTimeFrame();
            break;
        case cmd_debug_off:
            frame = BuildDebugModeFrame(false);
            break;
        default:
            break;
    }
    if (!frame.empty()) SendFrame(frame);
}

void CommandSender::StopResend() {
    m_tmrCf->Stop();
    m_stopped = true;
    // A held-back request has not gone out yet; stopping means it never does.
    CancelDeferred();
}

void CommandSender::StopResendTimer() { m_tmrCf->Stop(); }

void CommandSender::AbandonRequest() {
    m_tmrCf->Stop();
    CancelDeferred();
    m_outstanding = 0;
    m_line = LineRequest{};
    m_answerPending = false;
    m_rejected = false;
    // A reply being dispatched now must not clear a request sent after this.
    ++m_sendSerial;
    m_behind.fill(Behind{});
}

void CommandSender::tmr_cfTimer() {
    if (m_line.waiting) {
        // Nothing of the earlier copies can come now: a fresh copy, answered for certain.
        m_line.waiting = false;
        SendCopy(false);
        return;
    }
    if (m_tmrCf->Interval() != kResendIntervalMs) {
        // The rest of an interval after a refused answer: back to the full one.
        StartTimer(kResendIntervalMs);
    } else {
        m_tmrDueUs = m_time.NowUs() + int64_t{kResendIntervalMs} * 1000;
    }
    if (m_resendCount != 0) {
        m_report.progress.SetStatusText(
            kStatusTextPanel,
            QStringLiteral("重发命令") + QString::number(m_resendCount) + QStringLiteral("次"));
        m_report.progress.RepaintStatus();
    }
    if (m_resendCount >= kMaxResends) {
        m_tmrCf->Stop();
        const uint8_t code = m_line.code;
        // Every copy may still be answered, very late.
        RetireUnanswered();
        if (m_outstanding == code) m_outstanding = 0;
        try {
            m_report.messages.ShowMessage(QStringLiteral("发送命令超时"), kTimeOutCaption,
                                          MsgButtons::Ok);
            m_report.progress.SetStatusText(kStatusTextPanel, QString());
            m_report.progress.RepaintStatus();
        } catch (...) {
        }
        if (const auto op = OperationOf(code))
            m_report.outcomes.OperationFinished(*op, Outcome::TimedOut);
        return;
    }
    try {
        m_port.WriteBytes(m_lastFrame.data(), m_lastFrame.size());
        LogSentFrame(m_lastFrame.data(), m_lastFrame.size());
    } catch (...) {
    }
    ++m_resendCount;
    if (m_line.code != 0) {
        m_line.copies.push_back(m_time.NowUs());
        m_line.resent = true;
    }
}

void CommandSender::SendCopy(bool confirm) {
    const int64_t sentUs = m_time.NowUs();
    try {
        m_port.WriteBytes(m_lastFrame.data(), m_lastFrame.size());
        LogSentFrame(m_lastFrame.data(), m_lastFrame.size());
    } catch (...) {
    }
    if (confirm) {
        ++m_stats.confirms;
        ++m_line.confirms;
    }
    m_line.copies.push_back(sentUs);
    // A new copy gets the whole resend cycle for its answer.
    m_tmrCf->Stop();
    m_resendCount = 0;
    StartTimer(kResendIntervalMs);
}

void CommandSender::WaitOutBehind(uint8_t code) {
    ++m_stats.waits;
    m_line.waiting = true;
    const int64_t waitUs = std::max<int64_t>(1000, BehindUntilUs(code) - m_time.NowUs());
    m_tmrCf->Stop();
    StartTimer(static_cast<int>((waitUs + 999) / 1000));
}

void CommandSender::PrepareBlockWrite(const ConfigImage& image, uint32_t address) {
    m_staged.fill(0);
    m_staged[0] = kFrameDelimiter;
    m_staged[1] = 9;
    m_staged[2] = 1;
    m_staged[3] = cmd_write_block;
    m_staged[4] = 0x01;
    m_staged[5] = 0x00;
    m_staged[6] = 0x01;
    m_staged[7] = 0x00;
    for (int i = 0; i < 4; ++i) m_staged[8 + i] = static_cast<uint8_t>(address >> (8 * i));
    // An address near the end of the image reads what lies beyond as unused (0xFF).
    for (size_t i = 0; i < kBlockSize; ++i) {
        const size_t at = static_cast<size_t>(address) + i;
        m_staged[12 + i] = at < image.size() ? image[at] : 0xFF;
    }
}

void CommandSender::SendBlockWrite() {
    Bytes frame(m_staged.begin(), m_staged.begin() + 268);
    frame.resize(271);
    const uint16_t cs = FrameChecksum(frame.data(), 1, 267);
    frame[268] = static_cast<uint8_t>(cs & 0xFF);
    frame[269] = static_cast<uint8_t>(cs >> 8);
    frame[270] = kFrameDelimiter;
    SendFrame(frame);
}

void CommandSender::NoteStale(uint8_t code, Seen seen) {
    Behind& b = m_behind[code];
    if (!b.known) return;
    // A flood of frames is more than the copies can explain: from here on, wait them out.
    constexpr size_t kMaxFrames = 4 * (kMaxConfirms + 1);
    if (b.frames.size() >= kMaxFrames) {
        int64_t until = b.holdUntilUs;
        for (int64_t sent : b.copies) until = std::max(until, sent + WindowUs());
        b = Behind{};
        b.holdUntilUs = until;
        return;
    }
    b.frames.push_back(std::move(seen));
}

int CommandSender::FitBehind(uint8_t code, const Seen& frame) const {
    const Behind& b = m_behind[code];
    if (b.holdUntilUs > frame.startUs) return kUnknownSlots;
    if (!b.known || b.frames.empty()) return -1;
    const int64_t window = WindowUs();
    const int64_t gap = reply_timing::kDuplicateGapMs * 1000;
    const Bytes& answer = b.frames.front().payload;
    // Greedy, earliest copy first: the answer, every frame since, then this one.
    size_t copy = 0;
    int onCopy = 0;
    const Seen* previous = nullptr;
    auto place = [&](const Seen& f) {
        if (b.alike && f.payload != answer) return false;
        if (previous && onCopy == 1 && f.payload == previous->payload &&
            f.startUs <= previous->endUs + gap && f.startUs <= b.copies[copy] + window) {
            onCopy = 2;
            previous = &f;
            return true;
        }
        size_t next = previous ? copy + 1 : 0;
        while (next < b.copies.size() &&
               !(b.copies[next] < f.startUs && f.startUs <= b.copies[next] + window))
            ++next;
        if (next >= b.copies.size()) return false;
        copy = next;
        onCopy = 1;
        previous = &f;
        return true;
    };
    for (const Seen& f : b.frames)
        if (!place(f)) return -1;
    if (!place(frame)) return -1;
    // What the copies could still send: a duplicate on the last one, two on each later one.
    const int64_t nowUs = m_time.NowUs();
    int slots = onCopy == 1 && nowUs <= b.copies[copy] + window ? 1 : 0;
    for (size_t c = copy + 1; c < b.copies.size(); ++c)
        if (nowUs <= b.copies[c] + window) slots += 2;
    return slots;
}

int64_t CommandSender::BehindUntilUs(uint8_t code) const {
    const Behind& b = m_behind[code];
    int64_t until = b.holdUntilUs;
    for (int64_t sent : b.copies) until = std::max(until, sent + WindowUs());
    return until;
}

CommandSender::ReplyVerdict CommandSender::ScreenReply(const ReplyRecord& reply) {
    return ScreenReply(reply, FrameReceiverArrivalUnknown());
}

CommandSender::ReplyVerdict CommandSender::ScreenReply(const ReplyRecord& reply,
                                                       int64_t arrivalUs) {
    const uint8_t code = reply.command;
    if (code == cmd_debug_data) return ReplyVerdict::Other;

    const int64_t nowUs = m_time.NowUs();
    Seen seen;
    // Bytes of unknown arrival count as arriving now.
    seen.startUs = std::min(arrivalUs, nowUs);
    seen.endUs = nowUs;
    const size_t n = std::min<size_t>(reply.payloadCount, kReplyPayloadSize);
    seen.payload.assign(reply.payload.begin(), reply.payload.begin() + static_cast<long>(n));

    if (m_line.code == 0 || code != m_line.code) {
        ++m_stats.otherCode;
        NoteStale(code, std::move(seen));
        return ReplyVerdict::Drop;
    }
    if (seen.startUs < m_line.copies.front()) {
        ++m_stats.early;
        NoteStale(code, std::move(seen));
        return ReplyVerdict::Drop;
    }
    if (const int slots = FitBehind(code, seen); slots >= 0) {
        ++m_stats.ambiguous;
        NoteStale(code, std::move(seen));
        if (!m_stopped && !m_line.waiting) {
            // One more frame of these bytes than the earlier copies can still send proves
            // the answer; when that takes too many copies, their window is waited out.
            if (m_line.confirms + slots < kMaxConfirms)
                SendCopy(true);
            else
                WaitOutBehind(code);
        }
        return ReplyVerdict::Drop;
    }

    // Every frame of every earlier request is in: nothing is behind any more.
    ++m_stats.answers;
    m_behind.fill(Behind{});
    Behind& now = m_behind[code];
    if (m_line.resent) {
        for (int64_t sent : m_line.copies)
            now.holdUntilUs = std::max(now.holdUntilUs, sent + WindowUs());
    } else {
        now.known = true;
        now.copies = m_line.copies;
        now.alike = AnswersAlike(code);
        now.frames.push_back(std::move(seen));
    }
    m_answered = m_line;
    m_line = LineRequest{};
    m_answerPending = true;
    m_answerSerial = m_sendSerial;
    m_rejected = false;
    return ReplyVerdict::Answer;
}

void CommandSender::RejectReply() {
    if (m_answerPending) m_rejected = true;
}

void CommandSender::ReplyDispatched() {
    const bool same = m_answerPending && m_answerSerial == m_sendSerial;
    if (same && m_rejected) {
        // Still waiting: the request goes on as if the frame had not come.
        ++m_stats.rejected;
        m_line = m_answered;
        m_behind[m_line.code] = Behind{};
        if (!m_stopped) {
            const int64_t leftUs = std::max<int64_t>(1000, m_tmrDueUs - m_time.NowUs());
            StartTimer(static_cast<int>((leftUs + 999) / 1000));
        }
    } else if (same) {
        m_outstanding = 0;
    }
    m_answerPending = false;
    m_rejected = false;
}

}  // namespace r4t8
