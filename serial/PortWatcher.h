// Follows serial adapters being plugged in and pulled out, and keeps the port list current.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "serial/PlugMonitor.h"
#include "serial/PortList.h"

class QSocketNotifier;

namespace r4t8 {

class PortWatcher : public QObject {
    Q_OBJECT

  public:
    using Lister = std::function<std::vector<PortInfo>()>;

    // Where the system has no plug monitor, a look this often instead.
    static constexpr int kFallbackPollMs = 3000;

    // `lister` defaults to ListSerialPorts(); the system's plug monitor says when to list again.
    explicit PortWatcher(QObject* parent = nullptr, Lister lister = {});
    // The same with the given monitor; without one, a look every `pollMs`.
    PortWatcher(QObject* parent, Lister lister, std::unique_ptr<IPlugMonitor> monitor,
                int pollMs = kFallbackPollMs);
    ~PortWatcher() override;

    // Takes the current list as the starting point and begins following changes.
    void Start();
    void Stop();
    bool IsActive() const;
    // True when changes are followed by looking now and then rather than by a monitor.
    bool Polling() const { return !m_monitor; }

    const std::vector<PortInfo>& Ports() const { return m_ports; }

    // One look now; emits PortsChanged when the list differs from the last one.
    void Poll();

  Q_SIGNALS:
    void PortsChanged(const std::vector<PortInfo>& ports);

  private:
    void takeNews();

    Lister m_lister;
    std::unique_ptr<IPlugMonitor> m_monitor;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_timer;
    std::vector<PortInfo> m_ports;
};

}  // namespace r4t8
