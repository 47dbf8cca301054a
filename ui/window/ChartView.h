// Shared pieces of the chart pages: segmented line series on a chart, with tooltips that
// name the nearest recorded point, and a view that zooms by dragging.
#pragma once

#include <QChartView>
#include <QColor>
#include <QString>
#include <functional>

#include "operations/HistorySeries.h"

class QAbstractAxis;
class QChart;

namespace r4t8 {

// The text a tooltip shows for a point of a series.
using PointText = std::function<QString(const QPointF&)>;

// A chart view that zooms into the rectangle dragged with the left button (the right button
// zooms back out).
QChartView* NewZoomingView(QWidget* parent);

// Replaces the view's chart with an empty one and deletes the old chart.
QChart* FreshChart(QChartView* view, const QString& title);

// Adds one line series per run of `series` to `chart`, all in `color` and under one legend
// entry named `name` (kept even when there is no point), attached to the two axes.
void AddSegments(QChart* chart, const SegmentedSeries& series, const QString& name,
                 const QColor& color, QAbstractAxis* x, QAbstractAxis* y, PointText text);

// The range of x (or y) over all points of the given series; false when there is no point.
bool PointRange(const std::vector<const SegmentedSeries*>& series, bool xAxis, double& min,
                double& max);

// The colours of sensors 1 to 4 in every chart.
QColor SensorColor(int index);

// "yyyy-MM-dd HH:mm:ss" of a chart time value (ms since the epoch).
QString ChartTimeText(double ms);

}  // namespace r4t8
