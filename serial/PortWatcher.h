// Follows serial adapters being plugged in and pulled out by looking at the port list.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <vector>

#include "serial/PortList.h"

namespace r4t8 {

class PortWatcher : public QObject {
    Q_OBJECT

public:
    using Lister = std::function<std::vector<PortInfo>()>;

    // `lister` defaults to ListSerialPorts() of the live system.
    explicit PortWatcher(QObject* parent = nullptr, Lister lister = {}, int intervalMs = 1000);

    // Takes the current list as the starting point and begins polling.
    void Start();
    void Stop();
    bool IsActive() const { return m_timer.isActive(); }

    const std::vector<PortInfo>& Ports() const { return m_ports; }

    // One look now; emits PortsChanged when the list differs from the last one.
    void Poll();

Q_SIGNALS:
    void PortsChanged(const std::vector<PortInfo>& ports);

private:
    Lister m_lister;
    QTimer m_timer;
    std::vector<PortInfo> m_ports;
};

}  // namespace r4t8
