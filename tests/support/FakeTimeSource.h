// A fake clock for timer logic: time moves only when a test advances it.
#pragma once

#include <QDateTime>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "protocol/Interfaces.h"

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
            m_due = m_owner.m_now + m_interval;
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
        int64_t m_due = 0;
    };

    std::unique_ptr<ITimer> CreateTimer() override {
        auto t = std::make_unique<Timer>(*this);
        m_timers.push_back(t.get());
        return t;
    }
    int64_t NowMs() const override { return m_now; }
    int64_t NowUs() const override { return m_now * 1000 + m_extraUs; }
    // Moves the microsecond clock inside the current millisecond (timers do not notice).
    void AdvanceUs(int64_t us) {
        m_extraUs += us;
        m_now += m_extraUs / 1000;
        m_extraUs %= 1000;
    }
    QDateTime CurrentDateTime() const override { return m_wallStart.addMSecs(m_now); }
    void SetWallClock(const QDateTime& start) { m_wallStart = start; }

    // Moves time forward, firing every due timer in order of its due time.
    void Advance(int64_t ms) {
        const int64_t end = m_now + ms;
        for (;;) {
            Timer* next = nullptr;
            for (Timer* t : m_timers)
                if (t->m_active && t->m_due <= end && (!next || t->m_due < next->m_due)) next = t;
            if (!next) break;
            m_now = std::max(m_now, next->m_due);
            if (next->m_singleShot) {
                next->m_active = false;
            } else {
                next->m_due = m_now + std::max(1, next->m_interval);
            }
            if (next->m_callback) next->m_callback();
        }
        m_now = end;
    }

private:
    void Forget(Timer* t) { m_timers.erase(std::remove(m_timers.begin(), m_timers.end(), t), m_timers.end()); }

    int64_t m_now = 0;
    int64_t m_extraUs = 0;
    QDateTime m_wallStart{QDate(2026, 12, 7), QTime(3, 10, 36)};
    std::vector<Timer*> m_timers;
};

}  // namespace r4t8::testing
