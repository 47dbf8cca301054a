#include "CommandSender.h"

#include <algorithm>
#include <cstring>

namespace r4t8 {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

uint8_t CommandOf(const Bytes& raw) { return raw.size() > 3 ? raw[3] : 0; }

}  // namespace

CommandSender::CommandSender(IPort& port, ITimeSource& time, IUserInterface& ui)
    : m_port(port),
      m_time(time),
      m_ui(ui),
      m_tmrCf(time.CreateTimer()),
      m_deferTimer(time.CreateTimer()),
      m_lastReply(256) {
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
    m_ui.AppendSendLog(FormatSentLog(bytes, count));
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

void CommandSender::SendFrame(const Bytes& raw) {
    const uint8_t code = CommandOf(raw);
    // There is no queue: a new request replaces the pending one, whose copies may still be
    // answered.
    if (m_lineCode != 0) {
        MarkStale(m_lineCode, m_copies, m_lastSendMs + kStaleAfterReplyMs);
        m_lineCode = 0;
    }
    m_tmrCf->Stop();
    CancelDeferred();
    m_outstanding = code;
    ++m_sendSerial;

    if (code != 0 && StalePending(code)) {
        m_hasDeferred = true;
        m_deferredCode = code;
        m_deferred = raw;
        const int64_t wait = std::max<int64_t>(1, m_stale[code].deadline - m_time.NowMs());
        m_deferTimer->SetInterval(static_cast<int>(std::min<int64_t>(wait, 60000)));
        m_deferTimer->Start();
        return;
    }
    Transmit(raw, code);
}

void CommandSender::Transmit(const Bytes& raw, uint8_t code) {
    const Bytes line = EscapeFrame(raw);
    // Before the write: no byte of a genuine reply can carry an earlier stamp.
    m_firstSendUs = m_time.NowUs();
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
    m_tmrCf->Start();
    m_lineCode = code;
    m_copies = 1;
    m_lastSendMs = m_time.NowMs();
}

void CommandSender::SendDeferred() {
    if (!m_hasDeferred) return;
    m_deferTimer->Stop();
    m_hasDeferred = false;
    const Bytes raw = std::move(m_deferred);
    m_deferred.clear();
    const uint8_t code = m_deferredCode;
    // Whatever was still missing is no longer expected.
    m_stale[code] = Stale{};
    Transmit(raw, code);
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
    // A held-back request has not gone out yet; stopping means it never does.
    CancelDeferred();
}

void CommandSender::StopResendTimer() { m_tmrCf->Stop(); }

void CommandSender::AbandonRequest() {
    m_tmrCf->Stop();
    CancelDeferred();
    m_outstanding = 0;
    m_lineCode = 0;
    m_copies = 0;
    m_answerPending = false;
    // A reply being dispatched now must not clear a request sent after this.
    ++m_sendSerial;
    m_stale.fill(Stale{});
}

void CommandSender::tmr_cfTimer() {
    if (m_resendCount != 0) {
        m_ui.SetStatusText(
            2, QStringLiteral("重发命令") + QString::number(m_resendCount) + QStringLiteral("次"));
        m_ui.RepaintStatus();
    }
    if (m_resendCount >= kMaxResends) {
        m_tmrCf->Stop();
        const uint8_t code = m_lineCode;
        if (code != 0) {
            // Every copy may still be answered, very late.
            MarkStale(code, m_copies, m_lastSendMs + kStaleAfterTimeoutMs);
            m_lineCode = 0;
        }
        if (m_outstanding == code) m_outstanding = 0;
        try {
            m_ui.ShowMessage(QStringLiteral("发送命令超时"), QStringLiteral("Information"),
                             MsgButtons::Ok);
            m_ui.SetStatusText(2, QString());
            m_ui.RepaintStatus();
        } catch (...) {
        }
        if (const auto op = OperationOf(code)) m_ui.OperationFinished(*op, Outcome::TimedOut);
        return;
    }
    try {
        m_port.WriteBytes(m_lastFrame.data(), m_lastFrame.size());
        LogSentFrame(m_lastFrame.data(), m_lastFrame.size());
    } catch (...) {
    }
    ++m_resendCount;
    ++m_copies;
    m_lastSendMs = m_time.NowMs();
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

void CommandSender::MarkStale(uint8_t code, int count, int64_t deadline) {
    if (count <= 0) return;
    Stale& s = m_stale[code];
    if (s.count > 0 && m_time.NowMs() > s.deadline) s = Stale{};
    s.count += count;
    s.deadline = std::max(s.deadline, deadline);
}

bool CommandSender::StalePending(uint8_t code) {
    Stale& s = m_stale[code];
    if (s.count > 0 && m_time.NowMs() > s.deadline) s = Stale{};
    return s.count > 0;
}

int CommandSender::StaleReplies(uint8_t command) const {
    const Stale& s = m_stale[command];
    return m_time.NowMs() > s.deadline ? 0 : s.count;
}

void CommandSender::Remember(const ReplyRecord& reply) {
    LastReply& last = m_lastReply[reply.command];
    last.valid = true;
    last.at = m_time.NowMs();
    last.payloadCount = reply.payloadCount;
    last.payload = reply.payload;
}

bool CommandSender::IsRepeat(const ReplyRecord& reply) const {
    const LastReply& last = m_lastReply[reply.command];
    if (!last.valid || m_time.NowMs() - last.at > kDuplicateWindowMs) return false;
    const size_t n = std::min<size_t>(reply.payloadCount, kReplyPayloadSize);
    return last.payloadCount == reply.payloadCount &&
           std::memcmp(last.payload.data(), reply.payload.data(), n) == 0;
}

CommandSender::ReplyVerdict CommandSender::ScreenReply(const ReplyRecord& reply) {
    return ScreenReply(reply, INT64_MAX);
}

CommandSender::ReplyVerdict CommandSender::ScreenReply(const ReplyRecord& reply,
                                                       int64_t arrivalUs) {
    const uint8_t code = reply.command;
    if (code == cmd_debug_data) return ReplyVerdict::Other;

    if (m_lineCode != 0 && code == m_lineCode && arrivalUs < m_firstSendUs) {
        ++m_earlyReplies;
        return ReplyVerdict::Drop;
    }
    if (m_lineCode != 0 && code == m_lineCode) {
        // No request of this code goes out while stale replies of it are pending, so this
        // one answers the request on the line; its other copies may still be answered.
        MarkStale(code, m_copies - 1, m_lastSendMs + kStaleAfterReplyMs);
        Remember(reply);
        m_lineCode = 0;
        m_answerPending = true;
        m_answerSerial = m_sendSerial;
        return ReplyVerdict::Answer;
    }

    if (StalePending(code)) {
        Stale& s = m_stale[code];
        --s.count;
        if (s.count == 0 && m_hasDeferred && m_deferredCode == code) SendDeferred();
        return ReplyVerdict::Drop;
    }
    // The held-back request has not gone out: this cannot be its reply.
    if (m_hasDeferred && code == m_deferredCode) return ReplyVerdict::Drop;
    if (IsRepeat(reply)) return ReplyVerdict::Drop;

    Remember(reply);
    return ReplyVerdict::Other;
}

void CommandSender::ReplyDispatched() {
    if (m_answerPending && m_answerSerial == m_sendSerial) m_outstanding = 0;
    m_answerPending = false;
}

}  // namespace r4t8
