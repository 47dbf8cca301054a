// The port as the window's open/close toggle sees it; the program adapts TComm to it.
#pragma once

#include <QString>

namespace r4t8 {

class ISerialLink {
  public:
    virtual ~ISerialLink() = default;
    // Opens the named port with the fixed line settings. On failure `reason` says why, in
    // words the user can act on (it goes to the status bar).
    virtual bool Open(const QString& name, QString& reason) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
};

// A port present on the system, as the port combo lists it.
struct PortChoice {
    QString name;         // what the port component accepts, e.g. /dev/ttyUSB0
    QString description;  // shown as the item's tool tip
    QString label{};      // the adapter's name, shown beside `name` in the drop-down list
};

}  // namespace r4t8
