// The serial ports present on this machine, as Qt's serial port library lists them.
#pragma once

#include <QString>
#include <map>
#include <vector>

namespace r4t8 {

// One port: `name` is the device path TComm opens and the text of the port list's entry.
// Kernel names (/dev/ttyUSB0) are used rather than the longer /dev/serial/by-id links, which
// are given in `stablePath` (empty where udev made none) for a tooltip or a saved choice.
struct PortInfo {
    QString name;
    QString description;  // the adapter's product name (else its maker), or empty
    QString stablePath;

    bool operator==(const PortInfo&) const = default;
};

// One port as the library reports it.
struct FoundPort {
    QString path;  // the device node, /dev/ttyUSB0
    QString description;
    QString manufacturer;
};

// The list the window shows: USB adapters (ttyUSB*, then ttyACM*), other ttys, on-board UARTs
// (ttyS*) last, by number within each kind; `links` maps kernel names to their stable path.
std::vector<PortInfo> MakePortList(const std::vector<FoundPort>& found,
                                   const std::map<QString, QString>& links);

// Which link in `byIdDir` points at each kernel name ("ttyUSB0"); the first by name where
// several do.
std::map<QString, QString> StableLinks(const QString& byIdDir);

// USB adapters, on-board UARTs that really exist (Qt leaves out the 8250 driver's placeholders
// of type "unknown") and other ttys backed by a device, with their /dev/serial/by-id links.
std::vector<PortInfo> ListSerialPorts();

// The group that owns a device node ("dialout" on Debian), for telling a user who may not open
// the port which group to join; empty when the node or its group is unknown.
QString DeviceGroup(const QString& devicePath);

}  // namespace r4t8
