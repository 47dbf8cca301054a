#include "operations/LivePoller.h"

#include <algorithm>

namespace r4t8 {

LivePoller::LivePoller(ITimeSource& time, std::function<bool()> busy, std::function<void()> poll)
    : m_timer(time.CreateTimer()), m_busy(std::move(busy)), m_poll(std::move(poll)) {
    m_timer->SetSingleShot(true);
    m_timer->SetCallback([this] { Tick(); });
}

void LivePoller::SetIntervalSeconds(int seconds) {
    m_seconds = std::clamp(seconds, 1, kMaxSeconds);
}

void LivePoller::Start() {
    m_waiting = false;
    Tick();
}

void LivePoller::Stop() {
    m_timer->Stop();
    m_waiting = false;
}

void LivePoller::Arm(int ms) {
    m_timer->Stop();
    m_timer->SetInterval(ms);
    m_timer->Start();
}

void LivePoller::Tick() {
    if (m_busy && m_busy()) {
        m_waiting = true;
        Arm(kRetryMs);
        return;
    }
    m_waiting = false;
    // Armed first: the poll may show a message box that runs its own event loop.
    Arm(m_seconds * 1000);
    if (m_poll) m_poll();
}

}  // namespace r4t8
