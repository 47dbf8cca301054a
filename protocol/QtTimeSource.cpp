#include "QtTimeSource.h"

#include <time.h>

#include <QTimer>

namespace r4t8 {

namespace {

// Runs its callback on the thread that created it, from that thread's event loop.
class QtTimer : public ITimer {
  public:
    QtTimer() {
        // A coarse timer may fire 5 % early or late; resends and deadlines want the second.
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            if (m_callback) m_callback();
        });
    }
    void SetCallback(std::function<void()> callback) override { m_callback = std::move(callback); }
    void SetInterval(int milliseconds) override { m_timer.setInterval(milliseconds); }
    int Interval() const override { return m_timer.interval(); }
    void SetSingleShot(bool singleShot) override { m_timer.setSingleShot(singleShot); }
    void Start() override { m_timer.start(); }
    void Stop() override { m_timer.stop(); }
    bool IsActive() const override { return m_timer.isActive(); }

  private:
    QTimer m_timer;
    std::function<void()> m_callback;
};

}  // namespace

QtTimeSource::QtTimeSource() { m_clock.start(); }

std::unique_ptr<ITimer> QtTimeSource::CreateTimer() { return std::make_unique<QtTimer>(); }

int64_t QtTimeSource::NowMs() const { return m_clock.elapsed(); }

int64_t QtTimeSource::NowUs() const {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

QDateTime QtTimeSource::CurrentDateTime() const { return QDateTime::currentDateTime(); }

}  // namespace r4t8
