// Helpers shared by the protocol tests: a port that records what is written, and frames
// written as hex.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "protocol/Frame.h"
#include "protocol/Port.h"
#include "protocol/TimeSource.h"

namespace r4t8::testing {

inline Bytes Hex(const char* text) {
    Bytes out;
    const QStringList parts = QString::fromLatin1(text).split(' ', Qt::SkipEmptyParts);
    for (const QString& p : parts) out.push_back(static_cast<uint8_t>(p.toUInt(nullptr, 16)));
    return out;
}

// The raw frame of a line frame.
inline Bytes Unline(const Bytes& line) {
    Bytes raw = {kFrameDelimiter};
    if (line.size() >= 2) {
        const Bytes body = UnescapeFrame(line.data() + 1, line.size() - 2);
        raw.insert(raw.end(), body.begin(), body.end());
    }
    raw.push_back(kFrameDelimiter);
    return raw;
}

// Records every write with the time it happened.
class RecordingPort : public IPort {
  public:
    explicit RecordingPort(const ITimeSource* time = nullptr) : m_time(time) {}
    bool WriteBytes(const uint8_t* data, size_t count) override {
        writes.emplace_back(m_time ? m_time->NowMs() : 0, Bytes(data, data + count));
        if (onWrite) onWrite(writes.back().second);
        return open && count > 0;
    }
    std::vector<int64_t> Times() const {
        std::vector<int64_t> t;
        for (const auto& w : writes) t.push_back(w.first);
        return t;
    }
    std::vector<std::pair<int64_t, Bytes>> writes;
    std::function<void(const Bytes&)> onWrite;
    bool open = true;

  private:
    const ITimeSource* m_time;
};

}  // namespace r4t8::testing
