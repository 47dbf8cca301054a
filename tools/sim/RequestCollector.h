// The simulated controller's receive side: line bytes in, complete frames out, and the strict
// check of a request frame. Pure byte code: no I/O, no timers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/Frame.h"

namespace r4t8::sim {

// One frame as collected between two delimiters.
struct CollectedFrame {
    Bytes line;  // as received, both delimiters included (escaped)
    Bytes raw;   // A5, the unescaped body, A5; empty when the frame overflowed
    bool overflow = false;
};

// Collects frames between 0xA5 delimiters into a bounded buffer.
class RequestCollector {
  public:
    // Longest line form a request can take (the write frame, every inner byte escaped) with
    // room to spare; anything longer is dropped.
    static constexpr size_t kMaxLineBytes = 2 * kMaxEscapedFrame;

    // Appends every frame completed by these bytes to `out`.
    void Feed(const uint8_t* data, size_t count, std::vector<CollectedFrame>& out);

    bool Collecting() const { return m_collecting; }

  private:
    bool m_collecting = false;
    bool m_discarding = false;
    Bytes m_line;
};

// A request that passed the checks.
struct Request {
    uint8_t command = 0;
    uint16_t lengthField = 0;
    Bytes payload;
};

// Strict check of a raw frame, by its actual size: the checksum is the two bytes before the
// end byte and covers bytes 1 up to the last payload byte; the length field must follow the
// rule, or be one less for a relay request.
bool ParseRequest(const Bytes& raw, Request& request);

}  // namespace r4t8::sim
