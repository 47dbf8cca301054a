// udev's monitor of tty devices: it reports a device once udev has made its node and links.
#pragma once

#include <QString>
#include <memory>

#include "serial/PlugMonitor.h"

namespace r4t8::detail {

// Null where udev is not running (no `controlPath`, the socket udevd makes): without udevd the
// monitor would be made but never hear anything.
std::unique_ptr<IPlugMonitor> OpenUdevMonitor(const QString& controlPath);

}  // namespace r4t8::detail
