// FrameReceiver: turns the received byte stream into checked ReplyRecords. Pure: bytes in,
// records and drop counts out, through callbacks; no I/O and no timers.
#pragma once

#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "Frame.h"

namespace r4t8 {

class FrameReceiver {
  public:
    // Collection buffer size; a frame (both delimiters included) never grows beyond it.
    static constexpr size_t kBufferSize = 65536;
    // Bytes per line of the receive log.
    static constexpr size_t kLogBytesPerLine = 21;

    struct Counters {
        uint64_t dispatched = 0;  // records handed to the dispatch callback
        uint64_t dropped = 0;     // checksum failures and frames shorter than their length
        uint64_t oversized = 0;   // collections beyond the buffer, or L outside 5..261
        uint64_t filtered = 0;    // correct frames the reply filter refused
        uint64_t resyncs = 0;     // empty A5 A5 pairs taken as a new start
    };

    using LineSink = std::function<void(const QString&)>;
    // Returns false to drop a correct frame before anything else sees it.
    using ReplyFilter = std::function<bool(const ReplyRecord&)>;
    using ReplyHook = std::function<void(const ReplyRecord&)>;

    FrameReceiver();

    // One receive-log line per call (each begins with a space).
    void SetLogSink(LineSink sink) { m_logSink = std::move(sink); }
    void SetReplyFilter(ReplyFilter filter) { m_filter = std::move(filter); }
    // Runs just before each dispatch: where the resend timer is stopped.
    void SetBeforeDispatch(ReplyHook hook) { m_beforeDispatch = std::move(hook); }
    void SetDispatch(ReplyHook hook) { m_dispatch = std::move(hook); }

    // Arrival time of bytes whose time is not known: never earlier than any send.
    static constexpr int64_t kArrivalUnknown = INT64_MAX;

    // The receive event: every byte of the buffer is taken, in order.
    void cm1ReceiveData(const uint8_t* buffer, size_t length) {
        cm1ReceiveData(buffer, length, kArrivalUnknown);
    }
    // The same, with the time (monotonic microseconds) at which these bytes came off the line.
    void cm1ReceiveData(const uint8_t* buffer, size_t length, int64_t arrivalUs) {
        m_arrivalUs = arrivalUs;
        for (size_t i = 0; i < length; ++i) ReceiveByte(buffer[i]);
    }

    void ReceiveByte(uint8_t b) {
        if (!m_collecting) {
            if (b == kFrameDelimiter) {
                m_collecting = true;
                m_rx[0] = b;
                m_receivedCount = 1;
                m_startUs = m_arrivalUs;
            }
            return;
        }
        if (b == kFrameDelimiter) {
            FrameEnd();
            return;
        }
        // Keep one place for the end byte; beyond that the frame cannot be valid.
        if (m_receivedCount + 1 >= kBufferSize) {
            Overflow();
            return;
        }
        m_rx[m_receivedCount++] = b;
    }

    const Counters& Stats() const { return m_counters; }
    // The record as the decoders see it between frames.
    const ReplyRecord& Record() const { return m_record; }
    bool Collecting() const { return m_collecting; }
    // True while a frame is being parsed or dispatched.
    bool Busy() const { return m_busy; }
    size_t QueuedFrames() const { return m_queue.size(); }
    // When the start byte of the frame being screened or dispatched arrived; valid in the
    // filter and dispatch callbacks.
    int64_t FrameArrivalUs() const { return m_frameUs; }

  private:
    void FrameEnd();
    void Overflow();
    void ParseReply(const uint8_t* decoded, size_t count, int64_t startUs);
    void Deliver();
    void LogReceivedFrame(const uint8_t* bytes, size_t count);

    bool m_collecting = false;
    bool m_busy = false;
    size_t m_receivedCount = 0;
    std::vector<uint8_t> m_receive;
    uint8_t* m_rx;  // m_receive's bytes, kept at hand for the per-byte path
    std::vector<uint8_t> m_decoded;
    int64_t m_arrivalUs = kArrivalUnknown;  // of the bytes being taken
    int64_t m_startUs = kArrivalUnknown;    // of the collected frame's start byte
    int64_t m_frameUs = kArrivalUnknown;    // of the frame being parsed
    struct Queued {
        std::vector<uint8_t> bytes;
        int64_t startUs;
    };
    // Frames completed while another was being dispatched, in order of arrival.
    std::deque<Queued> m_queue;
    std::array<uint8_t, 400> m_copy{};
    ReplyRecord m_record;
    Counters m_counters;
    LineSink m_logSink;
    QString m_logLine;
    ReplyFilter m_filter;
    ReplyHook m_beforeDispatch;
    ReplyHook m_dispatch;
};

}  // namespace r4t8
