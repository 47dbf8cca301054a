// CommandSender: the one send tail with its resend timer `tmr_cf`, the selector-driven
// request builder, the block-write staging, and the reply guard.
//
// The reply guard. Replies carry no sequence number, so after a resend the late reply to an
// earlier copy would be taken as the reply to the next step. The sender therefore keeps, for
// the request on the line, its command code and the number of copies sent:
//  - When its reply arrives, up to (copies - 1) further replies with that code may still
//    come; they are counted as stale until the last copy's send time + kStaleAfterReplyMs.
//  - After a time-out, or when a new request replaces one still unanswered, every copy of
//    it counts as stale (deadline last send + kStaleAfterTimeoutMs or kStaleAfterReplyMs).
//  - A reply whose code has stale replies pending is dropped before it can stop the resend
//    timer or reach the dispatcher, and the count goes down by one.
//  - So that the genuine reply to the NEXT request of the same code is never eaten, SendFrame
//    holds back a request whose code has stale replies pending until they have all arrived
//    or their deadline has passed. The sequences do not notice: OutstandingCommand already
//    names the held request.
//  - A reply identical to the last accepted reply of its code, arriving while no request of
//    that code is on the line, is a duplicate and is dropped as well.
//  - A reply cannot begin before its request was sent. A frame of the code on the line whose
//    start byte arrived (the port's stamp) before the first copy of that request was written
//    is a late duplicate of an earlier reply, say the controller sending block 1's reply
//    twice while the read of block 2 is already out, and is dropped.
//  - Unsolicited debug data (cmd_debug_data) is never guarded, and it does not stop the
//    resend timer: it answers no request.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "Frame.h"
#include "Interfaces.h"
#include "Sender.h"

namespace r4t8 {

class CommandSender : public ISender {
  public:
    static constexpr int kResendIntervalMs = 1000;
    static constexpr int kMaxResends = 3;
    static constexpr int64_t kStaleAfterReplyMs = 2000;
    static constexpr int64_t kStaleAfterTimeoutMs = 5000;
    static constexpr int64_t kDuplicateWindowMs = 5000;
    static constexpr size_t kSendLogBytesPerLine = 20;

    // What the receive side does with a correct frame.
    enum class ReplyVerdict {
        Answer,  // the reply to the request on the line: stop the timer, dispatch
        Other,   // not known to answer anything (unknown code, debug data...): dispatch
        Drop,    // stale or duplicate: nobody sees it
    };

    CommandSender(IPort& port, ITimeSource& time, IUserInterface& ui);
    ~CommandSender() override;
    CommandSender(const CommandSender&) = delete;
    CommandSender& operator=(const CommandSender&) = delete;

    void SendFrame(const Bytes& raw) override;
    void SendCommand(uint8_t selector) override;
    SendCommandArgs& Args() override { return m_args; }
    void StopResend() override;
    // The line went away: the request on it will never be answered, and no reply of any
    // earlier request can still come. Forgets all of it without reporting a time-out.
    void AbandonRequest();
    // Stays set while the reply to it is being dispatched; 0 after that, or after a time-out.
    uint8_t OutstandingCommand() const override { return m_outstanding; }
    void PrepareBlockWrite(const ConfigImage& image, uint32_t address) override;
    void SendBlockWrite() override;

    // The receive side, in order: screen each correct frame, stop the timer just before a
    // dispatch, and report when the dispatch has returned.
    ReplyVerdict ScreenReply(const ReplyRecord& reply);
    // The same, knowing when the frame's start byte arrived (ITimeSource::NowUs clock).
    ReplyVerdict ScreenReply(const ReplyRecord& reply, int64_t arrivalUs);
    void StopResendTimer();
    void ReplyDispatched();

    // The resend timer's handler (public so that a front end or test may drive it).
    void tmr_cfTimer();

    // The send log text of a frame: " XX" per byte, CR LF after every 20th and the last byte.
    static QString FormatSentLog(const uint8_t* bytes, size_t count);
    void LogSentFrame(const uint8_t* bytes, size_t count);

    // The sequence that a request of this command code belongs to.
    static std::optional<Operation> OperationOf(uint8_t command);

    const Bytes& LastFrame() const { return m_lastFrame; }
    int ResendCount() const { return m_resendCount; }
    int OutstandingResends() const override { return m_resendCount; }
    const ITimer& tmr_cf() const { return *m_tmrCf; }
    // A request held back until the stale replies of its code are in.
    bool HasDeferredFrame() const { return m_hasDeferred; }
    // Stale replies still expected for a code (0 once their deadline has passed).
    int StaleReplies(uint8_t command) const;
    // Replies dropped because they began before the request on the line was sent.
    uint64_t EarlyReplies() const { return m_earlyReplies; }

  private:
    struct Stale {
        int count = 0;
        int64_t deadline = 0;
    };
    struct LastReply {
        bool valid = false;
        int64_t at = 0;
        uint16_t payloadCount = 0;
        std::array<uint8_t, kReplyPayloadSize> payload{};
    };

    void Transmit(const Bytes& raw, uint8_t code);
    void SendDeferred();
    void CancelDeferred();
    void MarkStale(uint8_t code, int count, int64_t deadline);
    bool StalePending(uint8_t code);
    void Remember(const ReplyRecord& reply);
    bool IsRepeat(const ReplyRecord& reply) const;

    IPort& m_port;
    ITimeSource& m_time;
    IUserInterface& m_ui;
    SendCommandArgs m_args;
    std::unique_ptr<ITimer> m_tmrCf;
    std::unique_ptr<ITimer> m_deferTimer;
    Bytes m_lastFrame;
    int m_resendCount = 0;
    std::array<uint8_t, 271> m_staged{};

    uint8_t m_outstanding = 0;
    // The request on the line whose reply has not been accepted yet (0: none).
    uint8_t m_lineCode = 0;
    int m_copies = 0;
    int64_t m_lastSendMs = 0;
    int64_t m_firstSendUs = 0;  // of the request on the line, taken before it is written
    uint64_t m_earlyReplies = 0;
    uint64_t m_sendSerial = 0;
    bool m_answerPending = false;
    uint64_t m_answerSerial = 0;

    bool m_hasDeferred = false;
    uint8_t m_deferredCode = 0;
    Bytes m_deferred;

    std::array<Stale, 256> m_stale{};
    std::vector<LastReply> m_lastReply;
};

}  // namespace r4t8
