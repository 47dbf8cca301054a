#include "serial/PortWatcher.h"

namespace r4t8 {

PortWatcher::PortWatcher(QObject* parent, Lister lister, int intervalMs)
    : QObject(parent), m_lister(std::move(lister)) {
    if (!m_lister) m_lister = [] { return ListSerialPorts(); };
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &PortWatcher::Poll);
}

void PortWatcher::Start() {
    m_ports = m_lister();
    m_timer.start();
}

void PortWatcher::Stop() { m_timer.stop(); }

void PortWatcher::Poll() {
    std::vector<PortInfo> now = m_lister();
    if (now == m_ports) return;
    m_ports = std::move(now);
    Q_EMIT PortsChanged(m_ports);
}

}  // namespace r4t8
