// The termios record that TComm's line properties describe, kept apart from the device so it
// can be checked whole (a pseudo-terminal silently drops some flags, PARENB among them).
#pragma once

#include <termios.h>

#include "serial/PortBackend.h"

namespace r4t8 {

class TComm;

namespace detail {

// Rewrites `t` (the device's current record) to raw transfer with the line's settings.
// Returns false when the baud rate has no B-constant: the caller sets such a rate separately.
bool ComposeLineSettings(const LineConfig& line, termios& t);
// The same for the line that `comm`'s properties describe.
bool ComposeLineSettings(const TComm& comm, termios& t);

}  // namespace detail
}  // namespace r4t8
