// QtTimeSource: the program's ITimeSource on QTimer, QElapsedTimer and the wall clock.
#pragma once

#include <QElapsedTimer>
#include <memory>

#include "protocol/TimeSource.h"

namespace r4t8 {

class QtTimeSource : public ITimeSource {
  public:
    QtTimeSource();

    std::unique_ptr<ITimer> CreateTimer() override;
    int64_t NowMs() const override;
    // CLOCK_MONOTONIC, the clock the serial port stamps received bytes with.
    int64_t NowUs() const override;
    QDateTime CurrentDateTime() const override;

  private:
    QElapsedTimer m_clock;
};

}  // namespace r4t8
