// IPort: where requests go. The session's link to TComm in the program; a pty, a recorder or
// the simulated controller's line in tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace r4t8 {

class IPort {
  public:
    virtual ~IPort() = default;
    // Queues the bytes for writing; false when the port is closed or count is 0.
    virtual bool WriteBytes(const uint8_t* data, size_t count) = 0;
};

}  // namespace r4t8
