// CommandSender: the one send tail with its resend timer `tmr_cf`, the selector-driven
// request builder, the block-write staging, and the reply guard.
//
// The reply guard. Replies carry no sequence number and no address, so which request a frame
// answers has to be worked out from its code, its bytes and when it arrived. The guard takes a
// frame as the answer to the request on the line only when no frame of an earlier request could
// be the one it sees. It assumes of the controller (bounds in protocol/ReplyTiming.h):
//  (F) it answers requests in the order it received them: every frame answering a copy of an
//      earlier request leaves before any frame answering a later one;
//  (D) it answers a copy of a request with at most one frame and one duplicate of that frame,
//      the duplicate beginning within kDuplicateGapMs after the original's last byte;
//  (W) every frame answering a copy begins within kReplyWindowMs of that copy's sending;
//  (S) copies of a block read or a history page request are answered with the same bytes.
// Time is the arrival stamp of a frame's start byte and the clock of the sends (NowUs).
//
// The rules:
//  1. A frame whose code is not that of the request on the line answers nothing that is
//     waited for: it is dropped and neither stops the resend timer nor reaches a sequence.
//     Unsolicited debug data is the one exception: it is dispatched, and the timer runs on.
//  2. A frame that began before the request's first copy was sent cannot answer it (a late
//     duplicate of an earlier answer): dropped.
//  3. For every code the guard keeps what may still arrive from the last request of that code
//     that no longer waits ("behind"). A request whose copies' answers are unknown (it timed
//     out, was replaced, or needed a resend) holds back the next request of its code until
//     the window (W) of its last copy has passed; frames of that code meanwhile are dropped.
//     A request answered without a resend does not hold the next one back: the guard knows
//     its copies, and the bytes of its answer.
//  4. A frame of the request on the line is its answer unless it could be the behind
//     request's: a fit of the behind request's answer, every frame of that code since and
//     this one into its copies, in order, at most two a copy, each beginning after its copy
//     was sent and inside its window (W), a second one on a copy identical to the first and
//     within the duplicate gap (D), and for block reads and pages all of them identical to
//     the answer (S). The fit is tried greedily, earliest copy first, which finds one
//     whenever one exists. So a frame of other bytes than a page or block just read, or one
//     beginning after the duplicate gap of a request answered on its only copy, is taken at
//     once: the fast path costs nothing.
//  5. A frame that could be the behind request's is dropped, and the guard sends one more copy
//     of the request at once (a copy more is what a resend would send a second later): one
//     more frame than the behind copies can send proves that the request on the line was
//     answered. A blank controller, whose four blocks are alike, costs 15 block reads
//     instead of 4 that way, instead of seconds of waiting. When more copies than
//     kMaxConfirms would be needed (a second read of a blank controller right after the
//     first), the request waits until the behind copies' window has passed and goes out again.
//  6. An answer shows (F) that every frame of every earlier request has arrived: nothing is
//     behind any more, for any code. So a request that needed resends holds back the next one
//     of its code only until another request has been answered in between.
// Why no wrong frame is taken, within (F), (D), (W), (S): by (F) the frames of a code after
// the last answer are those of the behind request of that code and then those of the request
// on the line; rule 2 leaves out what came before the request; rule 3 leaves nothing unknown
// behind; so a frame that the behind request's copies cannot have sent under (D), (W), (S)
// is the line's. A sequence that still refuses an answer calls RejectReply: the request stays
// on the line and its resend cycle goes on where it was.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "protocol/Frame.h"
#include "protocol/Outcome.h"
#include "protocol/Port.h"
#include "protocol/ReplyTiming.h"
#include "protocol/Sender.h"
#include "protocol/TimeSource.h"
#include "protocol/UserInterfaces.h"

namespace r4t8 {

class CommandSender : public ISender {
  public:
    static constexpr int kResendIntervalMs = reply_timing::kResendIntervalMs;
    static constexpr int kMaxResends = reply_timing::kMaxResends;
    // Confirming copies of one request at most; beyond them the resend cycle decides.
    static constexpr int kMaxConfirms = 16;
    static constexpr size_t kSendLogBytesPerLine = 20;

    // What the receive side does with a correct frame.
    enum class ReplyVerdict {
        Answer,  // the reply to the request on the line: stop the timer, dispatch
        Other,   // unsolicited debug data: dispatch, the timer runs on
        Drop,    // answers nothing waited for: nobody sees it
    };

    // `report`: the time-out message and outcome, the resend count in the status bar; `log`:
    // every frame sent.
    CommandSender(IPort& port, ITimeSource& time, Reporting report, IFrameLog& log);
    ~CommandSender() override;
    CommandSender(const CommandSender&) = delete;
    CommandSender& operator=(const CommandSender&) = delete;

    void SendFrame(const Bytes& raw) override;
    void SendCommand(uint8_t selector) override;
    SendCommandArgs& Args() override { return m_args; }
    void StopResend() override;
    void RejectReply() override;
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
    // Codes whose copies are all answered with the same bytes (S): a frame of other bytes
    // cannot answer any copy of such a request.
    static bool AnswersAlike(uint8_t command);

    const Bytes& LastFrame() const { return m_lastFrame; }
    int ResendCount() const { return m_resendCount; }
    // Copies of the request on the line beyond its first (resends and confirming copies).
    int OutstandingResends() const override;
    const ITimer& tmr_cf() const { return *m_tmrCf; }
    // A request held back until no earlier frame of its code can arrive any more.
    bool HasDeferredFrame() const { return m_hasDeferred; }
    // Until when the next request of a code would be held back (0: it would go out now).
    int64_t HoldUntilUs(uint8_t command) const;

    struct Counters {
        uint64_t answers = 0;    // frames taken as the answer to the request on the line
        uint64_t early = 0;      // frames that began before the request on the line was sent
        uint64_t ambiguous = 0;  // frames that could have been an earlier request's
        uint64_t otherCode = 0;  // frames of a code no request on the line has
        uint64_t confirms = 0;   // confirming copies sent
        uint64_t waits = 0;      // requests that waited out an earlier one's window
        uint64_t held = 0;       // requests held back
        uint64_t rejected = 0;   // answers a sequence refused
    };
    const Counters& Stats() const { return m_stats; }
    uint64_t EarlyReplies() const { return m_stats.early; }

  private:
    // A frame as the guard remembers it.
    struct Seen {
        int64_t startUs = 0;
        int64_t endUs = 0;
        Bytes payload;
    };
    // The request on the line.
    struct LineRequest {
        uint8_t code = 0;
        std::vector<int64_t> copies;  // send times
        bool resent = false;          // by the timer
        int confirms = 0;
        bool waiting = false;  // for the earlier request's window to pass, then a fresh copy
    };
    // What may still arrive for the last request of a code that no longer waits.
    struct Behind {
        int64_t holdUntilUs = 0;  // frames of unknown bytes may begin until then
        bool known = false;       // the fields below describe the request
        std::vector<int64_t> copies;
        bool alike = false;        // every copy is answered with the answer's bytes
        std::vector<Seen> frames;  // its answer, then every frame of its code since
    };

    void Transmit(const Bytes& raw, uint8_t code);
    void SendDeferred();
    void CancelDeferred();
    void StartTimer(int intervalMs);
    // The request on the line no longer waits, unanswered: its copies may still be answered.
    void RetireUnanswered();
    void NoteStale(uint8_t code, Seen seen);
    // Whether the behind request of `code` can have sent `frame`: -1 when not; otherwise how
    // many more frames its copies could still send (kUnknownSlots: any number).
    int FitBehind(uint8_t code, const Seen& frame) const;
    // When no frame of the behind request of `code` can begin any more.
    int64_t BehindUntilUs(uint8_t code) const;
    // Writes the request on the line once more, with a whole resend cycle of its own.
    void SendCopy(bool confirm);
    void WaitOutBehind(uint8_t code);
    static constexpr int kUnknownSlots = 1 << 20;
    int64_t WindowUs() const { return reply_timing::kReplyWindowMs * 1000; }

    IPort& m_port;
    ITimeSource& m_time;
    Reporting m_report;
    IFrameLog& m_log;
    SendCommandArgs m_args;
    std::unique_ptr<ITimer> m_tmrCf;
    std::unique_ptr<ITimer> m_deferTimer;
    Bytes m_lastFrame;
    int m_resendCount = 0;
    int64_t m_tmrDueUs = 0;  // when tmr_cf fires next while it runs
    std::array<uint8_t, 271> m_staged{};

    uint8_t m_outstanding = 0;
    // The request on the line whose reply has not been accepted yet (code 0: none).
    LineRequest m_line;
    bool m_stopped = false;  // "停止": no resends or confirming copies for it
    uint64_t m_sendSerial = 0;
    bool m_answerPending = false;
    uint64_t m_answerSerial = 0;
    bool m_rejected = false;
    LineRequest m_answered;  // the request whose answer is being dispatched

    bool m_hasDeferred = false;
    uint8_t m_deferredCode = 0;
    Bytes m_deferred;

    std::array<Behind, 256> m_behind{};
    Counters m_stats;
};

}  // namespace r4t8
