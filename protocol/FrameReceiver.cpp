#include "FrameReceiver.h"

#include <algorithm>
#include <cstring>

namespace r4t8 {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Clears the busy flag even when a dispatch throws, so later frames are not queued forever.
class BusyScope {
  public:
    explicit BusyScope(bool& flag) : m_flag(flag) { m_flag = true; }
    ~BusyScope() { m_flag = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    bool& m_flag;
};

}  // namespace

FrameReceiver::FrameReceiver()
    : m_receive(kBufferSize, 0), m_rx(m_receive.data()), m_decoded(kBufferSize, 0) {}

namespace {

// " XX" for every byte value, ready to copy.
struct HexTable {
    char16_t text[256][3];
    HexTable() {
        for (int b = 0; b < 256; ++b) {
            text[b][0] = u' ';
            text[b][1] = static_cast<char16_t>(kHexDigits[b >> 4]);
            text[b][2] = static_cast<char16_t>(kHexDigits[b & 0x0F]);
        }
    }
};
const HexTable kHex;

// Writes the line into `line`, reusing its storage when nobody else holds it.
void HexLine(const uint8_t* bytes, size_t count, QString& line) {
    line.resize(static_cast<qsizetype>(count * 3));
    char16_t* out = reinterpret_cast<char16_t*>(line.data());
    for (size_t i = 0; i < count; ++i, out += 3) std::memcpy(out, kHex.text[bytes[i]], 6);
}

template <typename Sink>
void ForEachLogLine(const uint8_t* bytes, size_t count, QString& line, Sink&& sink) {
    size_t i = 0;
    for (; i + FrameReceiver::kLogBytesPerLine <= count; i += FrameReceiver::kLogBytesPerLine) {
        HexLine(bytes + i, FrameReceiver::kLogBytesPerLine, line);
        sink(line);
    }
    // The rest, or an empty line when the count is a multiple of the line length.
    HexLine(bytes + i, count - i, line);
    sink(line);
}

}  // namespace

void FrameReceiver::LogReceivedFrame(const uint8_t* bytes, size_t count) {
    if (!m_logSink) return;
    ForEachLogLine(bytes, count, m_logLine, [this](const QString& line) { m_logSink(line); });
}

void FrameReceiver::Overflow() {
    // Nothing valid is this long: drop it and wait for the next start byte.
    m_collecting = false;
    m_receivedCount = 0;
    ++m_counters.oversized;
}

void FrameReceiver::FrameEnd() {
    m_receive[m_receivedCount++] = kFrameDelimiter;
    if (m_receivedCount == 2) {
        // A valid frame is never empty, so an empty pair of delimiters means we were out of
        // phase: the second one starts the next frame.
        m_receivedCount = 1;
        m_startUs = m_arrivalUs;
        ++m_counters.resyncs;
        return;
    }
    LogReceivedFrame(m_receive.data(), m_receivedCount);

    const size_t received = m_receivedCount;
    m_collecting = false;
    m_receivedCount = 0;

    if (m_busy) {
        // A dispatch is running (a message box is open in it): this frame waits its turn.
        std::vector<uint8_t> frame(received);
        frame[0] = kFrameDelimiter;
        const size_t n = UnescapeFrameInto(m_receive.data() + 1, received - 2, frame.data() + 1);
        frame[n + 1] = kFrameDelimiter;
        frame.resize(n + 2);
        m_queue.push_back({std::move(frame), m_startUs});
        return;
    }

    m_decoded[0] = kFrameDelimiter;
    const size_t n = UnescapeFrameInto(m_receive.data() + 1, received - 2, m_decoded.data() + 1);
    m_decoded[n + 1] = kFrameDelimiter;

    BusyScope busy(m_busy);
    ParseReply(m_decoded.data(), n + 2, m_startUs);
    while (!m_queue.empty()) {
        const Queued next = std::move(m_queue.front());
        m_queue.pop_front();
        ParseReply(next.bytes.data(), next.bytes.size(), next.startUs);
    }
}

void FrameReceiver::ParseReply(const uint8_t* decoded, size_t count, int64_t startUs) {
    m_frameUs = startUs;
    size_t s = 0;
    size_t length = 0;
    uint16_t checksum = 0;
    bool checksumKnown = false;
    m_record.payloadCount = 0;

    auto resetRecord = [this] {
        // Bytes beyond a shorter later payload read as 0xFF; byte 255 keeps its value.
        std::memset(m_record.payload.data(), 0xFF, kReplyPayloadSize - 1);
        m_record.payloadCount = 0;
    };

    for (size_t i = 0; i < count; ++i) {
        const uint8_t ch = decoded[i];
        if (s == 0) {
            if (ch == kFrameDelimiter) {
                m_record.start = ch;
                m_copy[0] = ch;
                s = 1;
            }
        } else if (s == 1) {
            m_record.length[0] = ch;
            m_copy[1] = ch;
            s = 2;
        } else if (s == 2) {
            m_record.length[1] = ch;
            length = static_cast<size_t>(ch) * 256 + m_record.length[0];
            m_copy[2] = ch;
            if (length < 5 || length > kMaxReplyLength) {
                // The payload area holds 256 bytes; a frame claiming more is not ours to read.
                ++m_counters.oversized;
                resetRecord();
                return;
            }
            s = 3;
        } else if (s < 8) {
            if (s == 3)
                m_record.command = ch;
            else
                m_record.header[s - 4] = ch;
            m_copy[s] = ch;
            ++s;
        } else if (s < length + 3) {
            // The payload in one piece: as much of it as this buffer holds.
            const size_t n = std::min(length + 3 - s, count - i);
            std::memcpy(m_record.payload.data() + (s - 8), decoded + i, n);
            std::memcpy(m_copy.data() + s, decoded + i, n);
            m_record.payloadCount = static_cast<uint16_t>(m_record.payloadCount + n);
            s += n;
            i += n - 1;
        } else if (s == length + 3) {
            if (!checksumKnown) {
                checksum = FrameChecksum(m_copy.data(), 1, length + 2);
                checksumKnown = true;
            }
            m_record.checksumLow = static_cast<uint8_t>(checksum & 0xFF);
            // A mismatch keeps the state: the next byte is compared with the same value.
            if (ch == m_record.checksumLow) {
                m_copy[s] = ch;
                ++s;
            }
        } else if (s == length + 4) {
            m_record.checksumHigh = static_cast<uint8_t>(checksum >> 8);
            if (ch == m_record.checksumHigh) {
                m_copy[s] = ch;
                ++s;
            }
        } else {
            // The end position: its value is not compared.
            m_copy[s] = ch;
            Deliver();
            resetRecord();
            s = 0;
            length = 0;
            checksumKnown = false;
        }
    }
    if (s != 0) {
        // A lone start byte is only the end delimiter after trailing bytes: not a frame.
        if (s > 1) ++m_counters.dropped;
        // A dropped frame leaves none of its bytes behind for the next one.
        resetRecord();
    }
}

void FrameReceiver::Deliver() {
    if (m_filter && !m_filter(m_record)) {
        ++m_counters.filtered;
        return;
    }
    if (m_beforeDispatch) m_beforeDispatch(m_record);
    ++m_counters.dispatched;
    if (m_dispatch) m_dispatch(m_record);
}

}  // namespace r4t8
