// A fake clock for timer logic: time moves only when a test advances it.
#pragma once

#include <QDateTime>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "protocol/TimeSource.h"

namespace r4t8::testing {

class FakeTimeSource : public ITimeSource {
  public:
    class Timer : public ITimer {
      public:
        explicit Timer(FakeTimeSource& owner) : m_owner(owner) {}
        ~Timer() override { m_owner.Forget(this); }
        void SetCallback(std::function<void()> cb) override { m_callback = std::move(cb); }
        void SetInterval(int ms) override { m_interval = ms; }
        int Interval() const override { return m_interval; }
        void SetSingleShot(bool s) override { m_singleShot = s; }
        void Start() override {
            m_active = true;
            m_dueUs = m_owner.m_nowUs + static_cast<int64_t>(m_interval) * 1000;
        }
        void Stop() override { m_active = false; }
        bool IsActive() const override { return m_active; }

      private:
        friend class FakeTimeSource;
        FakeTimeSource& m_owner;
        std::function<void()> m_callback;
        int m_interval = 0;
        bool m_singleShot = false;
        bool m_active = false;
        int64_t m_dueUs = 0;
    };

    std::unique_ptr<ITimer> CreateTimer() override {
        auto t = std::make_unique<Timer>(*this);
        m_timers.push_back(t.get());
        return t;
    }
    int64_t NowMs() const override { return m_nowUs / 1000; }
    int64_t NowUs() const override { return m_nowUs; }
    // Moves the clock without firing timers (a test that places a stamp inside a millisecond).
    void AdvanceUs(int64_t us) { m_nowUs += us; }
    QDateTime CurrentDateTime() const override { return m_wallStart.addMSecs(NowMs()); }
    void SetWallClock(const QDateTime& start) { m_wallStart = start; }

    // Moves time forward, firing every due timer in order of its due time.
    void Advance(int64_t ms) { AdvanceToUs(m_nowUs + ms * 1000); }

    // The same, to an absolute time on the NowUs clock.
    void AdvanceToUs(int64_t endUs) {
        for (;;) {
            Timer* next = nullptr;
            for (Timer* t : m_timers)
                if (t->m_active && t->m_dueUs <= endUs && (!next || t->m_dueUs < next->m_dueUs))
                    next = t;
            if (!next) break;
            m_nowUs = std::max(m_nowUs, next->m_dueUs);
            if (next->m_singleShot) {
                next->m_active = false;
            } else {
                next->m_dueUs = m_nowUs + std::max(1, next->m_interval) * int64_t{1000};
            }
            if (next->m_callback) next->m_callback();
        }
        m_nowUs = std::max(m_nowUs, endUs);
    }

    // When the next active timer fires, if any.
    std::optional<int64_t> NextDueUs() const {
        std::optional<int64_t> due;
        for (const Timer* t : m_timers)
            if (t->m_active && (!due || t->m_dueUs < *due)) due = t->m_dueUs;
        return due;
    }

  private:
    void Forget(Timer* t) {
        m_timers.erase(std::remove(m_timers.begin(), m_timers.end(), t), m_timers.end());
    }

    int64_t m_nowUs = 0;
    QDateTime m_wallStart{QDate(2026, 12, 7), QTime(3, 10, 36)};
    std::vector<Timer*> m_timers;
};

}  // namespace r4t8::testing
