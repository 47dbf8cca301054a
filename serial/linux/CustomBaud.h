// Rates that have no B-constant need the termios2 interface, whose header clashes with
// <termios.h>; it lives in a file of its own.
#pragma once

#include <cstdint>

namespace r4t8::detail {

// Sets both directions of an open tty to `baud`; false when the driver refuses.
bool SetCustomBaudRate(int fd, uint32_t baud);

}  // namespace r4t8::detail
