// TComm seen as the protocol's port: what the device session writes its requests to.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "protocol/Port.h"
#include "serial/SerialComm.h"

namespace r4t8 {

class TCommPort : public IPort {
  public:
    explicit TCommPort(TComm& comm) : m_comm(comm) {}

    // TComm takes at most 65535 bytes a call; longer writes go in order, in pieces.
    bool WriteBytes(const uint8_t* data, size_t count) override {
        if (count == 0) return false;
        for (size_t off = 0; off < count; off += 0xFFFF) {
            const auto len = static_cast<uint16_t>(std::min<size_t>(0xFFFF, count - off));
            if (!m_comm.WriteBytes(data + off, len)) return false;
        }
        return true;
    }

  private:
    TComm& m_comm;
};

}  // namespace r4t8
