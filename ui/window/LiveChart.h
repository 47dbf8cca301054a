// The page "实时曲线": the four sensors of the polled current data over the last ten minutes.
#pragma once

#include <QWidget>
#include <cstdint>

#include "operations/HistorySeries.h"

class QChartView;
class QLabel;

namespace r4t8 {

class LiveChart : public QWidget {
    Q_OBJECT

  public:
    explicit LiveChart(QWidget* parent = nullptr);

    // Redraws the readings with the window ending at `nowMs` (wall clock).
    void ShowReadings(const LiveReadings& readings, int64_t nowMs);
    QChartView* View() const { return m_view; }
    const std::array<SegmentedSeries, 4>& Shown() const { return m_shown; }

  private:
    QChartView* m_view = nullptr;
    QLabel* m_hint = nullptr;
    std::array<SegmentedSeries, 4> m_shown;
};

}  // namespace r4t8
