// Polls the current data every few seconds, but never while another exchange is on the line:
// a due poll waits until the other request and its sequence have ended.
#pragma once

#include <functional>
#include <memory>

#include "protocol/TimeSource.h"

namespace r4t8 {

class LivePoller {
  public:
    static constexpr int kDefaultSeconds = 5;
    static constexpr int kMaxSeconds = 3600;
    // How often a waiting poll looks again whether the line is free.
    static constexpr int kRetryMs = 250;

    // `busy` tells whether another exchange is running; `poll` sends the request.
    LivePoller(ITimeSource& time, std::function<bool()> busy, std::function<void()> poll);

    // Takes effect from the next poll; clamped to 1..kMaxSeconds.
    void SetIntervalSeconds(int seconds);
    int IntervalSeconds() const { return m_seconds; }

    // Polls at once (or as soon as the line is free), then every interval.
    void Start();
    void Stop();
    bool Active() const { return m_timer->IsActive(); }
    // A poll is due but held back by another exchange.
    bool Waiting() const { return m_waiting; }

    // The timer's handler.
    void Tick();

  private:
    void Arm(int ms);

    std::unique_ptr<ITimer> m_timer;
    std::function<bool()> m_busy;
    std::function<void()> m_poll;
    int m_seconds = kDefaultSeconds;
    bool m_waiting = false;
};

}  // namespace r4t8
