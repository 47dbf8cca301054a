#include "serial/PortWatcher.h"

#include <QSocketNotifier>

namespace r4t8 {

PortWatcher::PortWatcher(QObject* parent, Lister lister)
    : PortWatcher(parent, std::move(lister), OpenPlugMonitor()) {}

PortWatcher::PortWatcher(QObject* parent, Lister lister, std::unique_ptr<IPlugMonitor> monitor,
                         int pollMs)
    : QObject(parent), m_lister(std::move(lister)), m_monitor(std::move(monitor)) {
    if (!m_lister) m_lister = [] { return ListSerialPorts(); };
    if (m_monitor) {
        m_notifier =
            std::make_unique<QSocketNotifier>(m_monitor->Descriptor(), QSocketNotifier::Read);
        m_notifier->setEnabled(false);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &PortWatcher::takeNews);
    } else {
        // No monitor (no udev in a container): a slow look keeps plugging noticed all the same.
        m_timer.setInterval(pollMs);
        connect(&m_timer, &QTimer::timeout, this, &PortWatcher::Poll);
    }
}

PortWatcher::~PortWatcher() = default;

void PortWatcher::Start() {
    m_ports = m_lister();
    if (m_notifier)
        m_notifier->setEnabled(true);
    else
        m_timer.start();
}

void PortWatcher::Stop() {
    if (m_notifier) m_notifier->setEnabled(false);
    m_timer.stop();
}

bool PortWatcher::IsActive() const {
    return m_notifier ? m_notifier->isEnabled() : m_timer.isActive();
}

void PortWatcher::Poll() {
    std::vector<PortInfo> now = m_lister();
    if (now == m_ports) return;
    m_ports = std::move(now);
    Q_EMIT PortsChanged(m_ports);
}

void PortWatcher::takeNews() {
    if (m_monitor->TakeNews()) Poll();
}

}  // namespace r4t8
