// ITimeSource and ITimer: the clock and the timers of the toolkit-free code. QtTimeSource in the
// program; a fake clock in tests, where time moves only when the test moves it.
#pragma once

#include <QDateTime>
#include <cstdint>
#include <functional>
#include <memory>

namespace r4t8 {

// A single-shot or repeating timer whose callback runs on the owner's thread.
class ITimer {
  public:
    virtual ~ITimer() = default;
    virtual void SetCallback(std::function<void()> callback) = 0;
    virtual void SetInterval(int milliseconds) = 0;
    virtual int Interval() const = 0;
    virtual void SetSingleShot(bool singleShot) = 0;
    // (Re)starts a full interval from now.
    virtual void Start() = 0;
    virtual void Stop() = 0;
    virtual bool IsActive() const = 0;
};

class ITimeSource {
  public:
    virtual ~ITimeSource() = default;
    virtual std::unique_ptr<ITimer> CreateTimer() = 0;
    // Monotonic milliseconds.
    virtual int64_t NowMs() const = 0;
    // Monotonic microseconds, on the clock that stamps received bytes (CLOCK_MONOTONIC in the
    // program), so a send time and an arrival time can be compared.
    virtual int64_t NowUs() const { return NowMs() * 1000; }
    // Wall-clock local time (file names, "set current time").
    virtual QDateTime CurrentDateTime() const = 0;
};

}  // namespace r4t8
