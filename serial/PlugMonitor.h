// Tells when serial devices may have come or gone, through a descriptor the event loop watches.
#pragma once

#include <memory>

namespace r4t8 {

class IPlugMonitor {
  public:
    virtual ~IPlugMonitor() = default;
    // Becomes readable when there is news.
    virtual int Descriptor() const = 0;
    // Reads whatever is pending without blocking; true when a serial device came or went.
    virtual bool TakeNews() = 0;
};

// The system's monitor of serial devices, or null where none can be made (no device manager
// runs there, as in most containers): the caller then looks now and then instead.
std::unique_ptr<IPlugMonitor> OpenPlugMonitor();

}  // namespace r4t8
