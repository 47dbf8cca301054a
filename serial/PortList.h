// The serial ports present on this machine, read from sysfs.
#pragma once

#include <QString>

#include <vector>

namespace r4t8 {

// One port: `name` is the device path TComm opens and the text of the port list's entry.
// Kernel names (/dev/ttyUSB0) are used rather than the longer /dev/serial/by-id links, which
// are given in `stablePath` (empty where udev made none) for a tooltip or a saved choice.
struct PortInfo {
    QString name;
    QString description;  // the adapter's product name, or empty
    QString stablePath;

    bool operator==(const PortInfo&) const = default;
};

// USB adapters (ttyUSB*, ttyACM*), on-board UARTs that really exist (ttyS* whose uart type is
// not "unknown") and other ttys backed by a device, sorted by kind and number. `root` is the
// directory holding sys/ and dev/ ("/" on a live system; a fake tree in tests).
std::vector<PortInfo> ListSerialPorts(const QString& root = QStringLiteral("/"));

// The group that owns a device node ("dialout" on Debian), for telling a user who may not open
// the port which group to join; empty when the node or its group is unknown.
QString DeviceGroup(const QString& devicePath);

}  // namespace r4t8
