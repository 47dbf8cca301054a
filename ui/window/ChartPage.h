// The page "历史曲线": the records of the last history download as charts of the sensors
// and the speed against time, and of the GPS track.
#pragma once

#include <QWidget>

#include "operations/HistorySeries.h"

class QChartView;
class QLabel;
class QPushButton;

namespace r4t8 {

class ChartPage : public QWidget {
    Q_OBJECT

  public:
    explicit ChartPage(QWidget* parent = nullptr);

    // Draws `table` in place of what was shown.
    void ShowHistory(const HistoryTable& table);
    const HistorySeries& Shown() const { return m_series; }
    size_t RecordCount() const { return m_records; }

    QChartView* SensorView() const { return m_sensors; }
    QChartView* SpeedView() const { return m_speed; }
    QChartView* TrackView() const { return m_track; }

    // Back to the whole range on all three charts.
    void ResetZoom();

  private:
    void DrawSensors();
    void DrawSpeed();
    void DrawTrack();

    HistorySeries m_series;
    size_t m_records = 0;
    QChartView* m_sensors = nullptr;
    QChartView* m_speed = nullptr;
    QChartView* m_track = nullptr;
    QLabel* m_summary = nullptr;
    QPushButton* m_reset = nullptr;
};

}  // namespace r4t8
