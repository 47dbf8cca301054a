#include "Frame.h"

#include <cstring>

namespace r4t8 {

uint16_t FrameChecksum(const uint8_t* bytes, size_t first, size_t last) {
    if (last < first) return 0;
    uint16_t sum = 0;
    for (size_t i = first; i <= last; ++i) sum = static_cast<uint16_t>(sum + bytes[i]);
    return static_cast<uint16_t>(~sum);
}

Bytes EscapeFrame(const uint8_t* raw, size_t n) {
    Bytes out;
    out.reserve(n * 2);
    out.push_back(kFrameDelimiter);
    for (size_t i = 1; i + 1 < n; ++i) {
        const uint8_t b = raw[i];
        if (b == kFrameDelimiter) {
            out.push_back(kEscapeByte);
            out.push_back(0x05);
        } else if (b == kEscapeByte) {
            out.push_back(kEscapeByte);
            out.push_back(0x0A);
        } else {
            out.push_back(b);
        }
    }
    out.push_back(kFrameDelimiter);
    return out;
}

Bytes UnescapeFrame(const uint8_t* body, size_t n) {
    Bytes out;
    out.reserve(n);
    bool escaped = false;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = body[i];
        if (escaped) {
            if (b == 0x05) {
                out.push_back(kFrameDelimiter);
                escaped = false;
            } else if (b == 0x0A) {
                out.push_back(kEscapeByte);
                escaped = false;
            }
            // Any other byte after 0xAA is dropped and the flag stays set.
        } else if (b == kEscapeByte) {
            escaped = true;
        } else {
            out.push_back(b);
        }
    }
    return out;
}

size_t UnescapeFrameInto(const uint8_t* body, size_t n, uint8_t* out) {
    size_t count = 0;
    size_t i = 0;
    while (i < n) {
        // Runs without an escape byte are copied whole.
        const void* hit = std::memchr(body + i, kEscapeByte, n - i);
        const size_t run =
            hit ? static_cast<size_t>(static_cast<const uint8_t*>(hit) - body) - i : n - i;
        std::memcpy(out + count, body + i, run);
        count += run;
        i += run;
        if (i >= n) break;
        // An escape: skip bytes until 05 or 0A ends it (others are dropped, the flag stays).
        for (++i; i < n; ++i) {
            if (body[i] == 0x05) {
                out[count++] = kFrameDelimiter;
                ++i;
                break;
            }
            if (body[i] == 0x0A) {
                out[count++] = kEscapeByte;
                ++i;
                break;
            }
        }
    }
    return count;
}

Bytes BuildFrameWithLength(uint8_t command, const Bytes& payload, uint16_t lengthField) {
    Bytes f;
    f.reserve(payload.size() + 11);
    f.push_back(kFrameDelimiter);
    f.push_back(static_cast<uint8_t>(lengthField & 0xFF));
    f.push_back(static_cast<uint8_t>(lengthField >> 8));
    f.push_back(command);
    f.insert(f.end(), {0x01, 0x00, 0x01, 0x00});
    f.insert(f.end(), payload.begin(), payload.end());
    // The checksum always covers byte 1 to the last payload byte, whatever the length says.
    const uint16_t cs = FrameChecksum(f, 1, f.size() - 1);
    f.push_back(static_cast<uint8_t>(cs & 0xFF));
    f.push_back(static_cast<uint8_t>(cs >> 8));
    f.push_back(kFrameDelimiter);
    return f;
}

Bytes BuildFrame(uint8_t command, const Bytes& payload) {
    return BuildFrameWithLength(command, payload, static_cast<uint16_t>(payload.size() + 5));
}

namespace {
Bytes AddressPayload(uint32_t address) {
    return {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
            static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 24)};
}
}  // namespace

Bytes BuildLoginFrame(const uint8_t password[4]) {
    return BuildFrame(cmd_login, Bytes(password, password + 4));
}

Bytes BuildReadBlockFrame(uint32_t address) {
    return BuildFrame(cmd_read_block, AddressPayload(address));
}

Bytes BuildEraseBlockFrame(uint32_t address) {
    return BuildFrame(cmd_erase_block, AddressPayload(address));
}

Bytes BuildWriteBlockFrame(uint32_t address, const uint8_t data[kBlockSize]) {
    Bytes p = AddressPayload(address);
    p.insert(p.end(), data, data + kBlockSize);
    return BuildFrame(cmd_write_block, p);
}

Bytes BuildWriteDoneFrame() { return BuildFrame(cmd_write_done, {}); }
Bytes BuildFactoryResetFrame() { return BuildFrame(cmd_factory_reset, {}); }

Bytes BuildHistoryCountFrame(uint8_t startYear, uint8_t startMonth, uint8_t startDay,
                             uint8_t endYear, uint8_t endMonth, uint8_t endDay) {
    return BuildFrame(cmd_history_count,
                      {startYear, startMonth, startDay, endYear, endMonth, endDay});
}

Bytes BuildHistoryPageFrame(uint16_t page) {
    return BuildFrame(cmd_history_page,
                      {static_cast<uint8_t>(page & 0xFF), static_cast<uint8_t>(page >> 8)});
}

Bytes BuildCurrentDataFrame() { return BuildFrame(cmd_current_data, {}); }

Bytes BuildRelayCloseFrame(uint16_t closeSeconds) {
    return BuildFrameWithLength(cmd_relay,
                                {0x01, 'C', static_cast<uint8_t>(closeSeconds & 0xFF),
                                 static_cast<uint8_t>(closeSeconds >> 8)},
                                8);
}

Bytes BuildRelayPulseFrame(uint16_t pulseSeconds, uint16_t intervalSeconds, uint8_t count) {
    return BuildFrameWithLength(
        cmd_relay,
        {0x01, 'P', static_cast<uint8_t>(pulseSeconds & 0xFF),
         static_cast<uint8_t>(pulseSeconds >> 8), static_cast<uint8_t>(intervalSeconds & 0xFF),
         static_cast<uint8_t>(intervalSeconds >> 8), count},
        11);
}

Bytes BuildRelayReleaseFrame() { return BuildFrameWithLength(cmd_relay, {0x01, 'O'}, 6); }

Bytes BuildDebugModeFrame(bool on) {
    return BuildFrame(cmd_debug_mode, {static_cast<uint8_t>(on ? 1 : 0)});
}

Bytes BuildSetTimeFrame(const uint8_t deviceTime[6]) {
    return BuildFrame(cmd_set_time, Bytes(deviceTime, deviceTime + 6));
}

Bytes BuildGetTimeFrame() { return BuildFrame(cmd_get_time, {}); }

bool ParseRawFrame(const Bytes& raw, uint8_t& command, Bytes& payload) {
    if (raw.size() < 11 || raw[0] != kFrameDelimiter) return false;
    const size_t length = raw[1] | (raw[2] << 8);
    if (length < 5 || length + 5 >= raw.size()) return false;
    const uint16_t cs = FrameChecksum(raw, 1, length + 2);
    if (raw[length + 3] != (cs & 0xFF) || raw[length + 4] != (cs >> 8)) return false;
    command = raw[3];
    payload.assign(raw.begin() + 8, raw.begin() + 3 + static_cast<long>(length));
    return true;
}

}  // namespace r4t8
