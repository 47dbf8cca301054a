#include "RequestCollector.h"

namespace r4t8::sim {

void RequestCollector::Feed(const uint8_t* data, size_t count, std::vector<CollectedFrame>& out) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = data[i];
        if (!m_collecting) {
            if (b != kFrameDelimiter) continue;
            m_collecting = true;
            m_discarding = false;
            m_line.assign(1, b);
            continue;
        }
        if (b != kFrameDelimiter) {
            if (m_discarding) continue;
            m_line.push_back(b);
            if (m_line.size() > kMaxLineBytes) {
                // Keep nothing of an overlong frame but a note; resynchronise on the next A5.
                CollectedFrame f;
                f.line.assign(m_line.begin(), m_line.begin() + 16);
                f.overflow = true;
                out.push_back(std::move(f));
                m_discarding = true;
                m_line.clear();
            }
            continue;
        }
        if (m_discarding) {
            m_collecting = false;
            m_discarding = false;
            continue;
        }
        // A valid frame is never empty: two delimiters in a row mean we were out of phase,
        // so the second one starts the next frame.
        if (m_line.size() == 1) continue;
        m_line.push_back(b);
        CollectedFrame f;
        f.raw.reserve(m_line.size());
        f.raw.push_back(kFrameDelimiter);
        const Bytes body = UnescapeFrame(m_line.data() + 1, m_line.size() - 2);
        f.raw.insert(f.raw.end(), body.begin(), body.end());
        f.raw.push_back(kFrameDelimiter);
        f.line = std::move(m_line);
        out.push_back(std::move(f));
        m_line.clear();
        m_collecting = false;
    }
}

bool ParseRequest(const Bytes& raw, Request& request) {
    // Start, length (2), command, header (4), checksum (2), end: 11 bytes at least.
    if (raw.size() < 11 || raw.front() != kFrameDelimiter || raw.back() != kFrameDelimiter)
        return false;
    const size_t n = raw.size();
    const size_t lengthField = raw[1] | (raw[2] << 8);
    const uint8_t command = raw[3];
    const bool ruleLength = lengthField == n - 6;
    const bool relayLength = command == cmd_relay && lengthField + 7 == n;
    if (!ruleLength && !relayLength) return false;
    const uint16_t cs = FrameChecksum(raw, 1, n - 4);
    if (raw[n - 3] != (cs & 0xFF) || raw[n - 2] != (cs >> 8)) return false;
    request.command = command;
    request.lengthField = static_cast<uint16_t>(lengthField);
    request.payload.assign(raw.begin() + 8, raw.end() - 3);
    return true;
}

}  // namespace r4t8::sim
