// Frame layout, checksum, escaping and the request builders shared by the tool and the
// simulated controller. Pure byte code: no I/O, no timers, no Qt.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace r4t8 {

using Bytes = std::vector<uint8_t>;

// The command byte of a frame.
enum CommandCode : uint8_t {
    cmd_login = 1,
    cmd_write_block = 16,
    cmd_read_block = 17,
    cmd_erase_block = 18,
    cmd_write_done = 19,
    cmd_factory_reset = 20,
    cmd_history_count = 21,
    cmd_history_page = 22,
    cmd_current_data = 23,
    cmd_relay = 24,
    cmd_debug_mode = 32,
    cmd_debug_data = 33,
    cmd_set_time = 34,
    cmd_get_time = 35,
};

// Sender selector that is not a command code on the line: debug mode with parameter 0.
constexpr uint8_t cmd_debug_off = 41;

constexpr uint8_t kFrameDelimiter = 0xA5;
constexpr uint8_t kEscapeByte = 0xAA;
constexpr size_t kReplyPayloadSize = 256;
// Largest length field a reply may carry: 256 payload bytes + command + 4 header bytes.
constexpr uint16_t kMaxReplyLength = 261;
// Largest escaped frame the tool sends (the write frame with every inner byte escaped).
constexpr size_t kMaxEscapedFrame = 540;

// The configuration blocks and where they live in the controller's memory.
constexpr uint32_t kPhoneBlockAddress = 1024;
constexpr uint32_t kSensorBlockAddress = 2048;
constexpr uint32_t kGprsBlockAddress = 3072;
constexpr uint32_t kSystemBlockAddress = 4096;
constexpr uint32_t kLoginReplyOffset = 5120;
constexpr size_t kBlockSize = 256;
constexpr size_t kConfigImageSize = 65536;

// The working copy of the controller's memory, indexed by device address.
using ConfigImage = std::array<uint8_t, kConfigImageSize>;

// A received frame that passed the checks, as the dispatcher and decoders see it.
struct ReplyRecord {
    uint8_t start = 0;
    std::array<uint8_t, 2> length{};
    uint8_t command = 0;
    std::array<uint8_t, 4> header{};
    std::array<uint8_t, kReplyPayloadSize> payload{};
    uint8_t checksumLow = 0;
    uint8_t checksumHigh = 0;
    uint16_t payloadCount = 0;
};

// Inverted 16-bit additive sum of bytes[first..last]; 0 when last < first.
uint16_t FrameChecksum(const uint8_t* bytes, size_t first, size_t last);
inline uint16_t FrameChecksum(const Bytes& bytes, size_t first, size_t last) {
    return FrameChecksum(bytes.data(), first, last);
}

// Line form of a raw frame: the first and last raw bytes always go out as 0xA5.
Bytes EscapeFrame(const uint8_t* raw, size_t n);
inline Bytes EscapeFrame(const Bytes& raw) { return EscapeFrame(raw.data(), raw.size()); }

// Reverse of the escaping for the bytes between two delimiters. The escape flag starts
// cleared; an 0xAA followed by anything but 05/0A is dropped and keeps the flag set.
Bytes UnescapeFrame(const uint8_t* body, size_t n);
// The same into a caller's buffer of at least n bytes; returns the count written.
size_t UnescapeFrameInto(const uint8_t* body, size_t n, uint8_t* out);
inline Bytes UnescapeFrame(const Bytes& body) { return UnescapeFrame(body.data(), body.size()); }

// Raw frame with the standard length rule (L = 5 + payload), header 01 00 01 00, checksum
// and end byte.
Bytes BuildFrame(uint8_t command, const Bytes& payload);

// Raw frame with an explicit length field (the relay frames carry one less than the rule).
Bytes BuildFrameWithLength(uint8_t command, const Bytes& payload, uint16_t lengthField);

// Request builders, one per request of the command table. All return raw frames.
Bytes BuildLoginFrame(const uint8_t password[4]);
Bytes BuildReadBlockFrame(uint32_t address);
Bytes BuildEraseBlockFrame(uint32_t address);
Bytes BuildWriteBlockFrame(uint32_t address, const uint8_t data[kBlockSize]);
Bytes BuildWriteDoneFrame();
Bytes BuildFactoryResetFrame();
Bytes BuildHistoryCountFrame(uint8_t startYear, uint8_t startMonth, uint8_t startDay,
                             uint8_t endYear, uint8_t endMonth, uint8_t endDay);
Bytes BuildHistoryPageFrame(uint16_t page);
Bytes BuildCurrentDataFrame();
Bytes BuildRelayCloseFrame(uint16_t closeSeconds);
Bytes BuildRelayPulseFrame(uint16_t pulseSeconds, uint16_t intervalSeconds, uint8_t count);
Bytes BuildRelayReleaseFrame();
Bytes BuildDebugModeFrame(bool on);
Bytes BuildSetTimeFrame(const uint8_t deviceTime[6]);
Bytes BuildGetTimeFrame();

// Reply builders for the controller side: a frame of the given command and payload.
inline Bytes BuildReplyFrame(uint8_t command, const Bytes& payload) {
    return BuildFrame(command, payload);
}

// Parses a complete raw (unescaped) frame strictly: start byte, length within the bytes,
// both checksum bytes. The end byte is not compared. Used by the simulator and tests.
bool ParseRawFrame(const Bytes& raw, uint8_t& command, Bytes& payload);

}  // namespace r4t8
