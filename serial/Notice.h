// What the port's threads tell the owner's thread, and where they leave it.
#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <cstdint>

Q_DECLARE_LOGGING_CATEGORY(lcSerial)

namespace r4t8::detail {

// One notification on its way to the owner's thread.
struct Notice {
    enum class Kind { ReceiveData, ReceiveError, ModemStateChange, RequestHangup, SendDataEmpty };
    Kind kind = Kind::RequestHangup;
    uint64_t generation = 0;  // the session that posted it; set by the sink
    QByteArray data;          // received bytes: handed out in pieces of `chunk` bytes
    uint16_t chunk = 1;
    qsizetype offset = 0;  // bytes of `data` already handed out
    uint32_t value = 0;
    int64_t arrivalUs = 0;  // received bytes: when the read took them, MonotonicNowUs()
};

// Where one session's threads post; safe to call from any thread.
class INoticeSink {
  public:
    virtual ~INoticeSink() = default;
    virtual void Post(Notice notice) = 0;
};

// CLOCK_MONOTONIC in microseconds (the clock std::chrono::steady_clock reads on Linux).
int64_t MonotonicNowUs();

}  // namespace r4t8::detail
