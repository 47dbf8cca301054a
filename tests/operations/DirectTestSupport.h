// Small builders shared by the direct-operation tests.
#pragma once

#include <cstdint>
#include <cstring>

#include "protocol/Frame.h"

namespace r4t8::testing {

inline void AppendItem(Bytes& payload, uint8_t type, uint8_t channel, uint32_t value) {
    payload.insert(payload.end(),
                   {type, channel, static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                    static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
}

inline void AppendFloatItem(Bytes& payload, uint8_t type, uint8_t channel, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    AppendItem(payload, type, channel, bits);
}

}  // namespace r4t8::testing
