// The line settings' value types and the bit values TComm's events carry.
#pragma once

#include <cstdint>

namespace r4t8 {

enum class TDtrControl { DtrEnable, DtrDisable, DtrHandshake };
enum class TRtsControl { RtsEnable, RtsDisable, RtsHandshake, RtsTransmissionAvailable };
enum class TByteSize { _5, _6, _7, _8 };
enum class TParity { None, Odd, Even, Mark, Space };
enum class TStopBits { _1, _1_5, _2 };

// Bits of the receive-error value, as the controller's original host reported them.
namespace CommError {
constexpr uint32_t kRxOver = 0x0001;
constexpr uint32_t kOverrun = 0x0002;
constexpr uint32_t kRxParity = 0x0004;
constexpr uint32_t kFrame = 0x0008;
constexpr uint32_t kBreak = 0x0010;
}  // namespace CommError

// Bits of the modem-state-change value.
namespace ModemEvent {
constexpr uint32_t kRing = 4;
constexpr uint32_t kCarrierDetect = 8;
}  // namespace ModemEvent

}  // namespace r4t8
