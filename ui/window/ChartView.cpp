#include "ui/window/ChartView.h"

#include <QChart>
#include <QCursor>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLegendMarker>
#include <QLineSeries>
#include <QToolTip>
#include <QValueAxis>
#include <cmath>
#include <limits>

namespace r4t8 {

namespace {

// The recorded point nearest to where the mouse touches the line, measured in the chart's
// own units scaled by the axis spans so that neither axis dominates.
QPointF Nearest(const SeriesSegment& points, const QPointF& at, double spanX, double spanY) {
    QPointF best = points.front();
    double bestDistance = std::numeric_limits<double>::max();
    for (const QPointF& p : points) {
        const double dx = (p.x() - at.x()) / spanX;
        const double dy = (p.y() - at.y()) / spanY;
        const double d = dx * dx + dy * dy;
        if (d < bestDistance) {
            bestDistance = d;
            best = p;
        }
    }
    return best;
}

}  // namespace

QChartView* NewZoomingView(QWidget* parent) {
    auto* view = new QChartView(parent);
    view->setRubberBand(QChartView::RectangleRubberBand);
    view->setRenderHint(QPainter::Antialiasing);
    return view;
}

QChart* FreshChart(QChartView* view, const QString& title) {
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->setMargins(QMargins(4, 4, 4, 4));
    chart->legend()->setAlignment(Qt::AlignBottom);
    QChart* old = view->chart();
    view->setChart(chart);
    // The view gives the old chart up without deleting it.
    delete old;
    return chart;
}

void AddSegments(QChart* chart, const SegmentedSeries& series, const QString& name,
                 const QColor& color, QAbstractAxis* x, QAbstractAxis* y, PointText text) {
    QPen pen(color);
    pen.setWidthF(1.5);
    const auto add = [&](const SeriesSegment& points, bool first) {
        auto* line = new QLineSeries;
        line->setName(name);
        line->setPen(pen);
        line->setColor(color);
        for (const QPointF& p : points) line->append(p);
        // A run of one point has no line to draw: show it as a dot.
        if (points.size() == 1) line->setPointsVisible(true);
        chart->addSeries(line);
        line->attachAxis(x);
        line->attachAxis(y);
        if (!first) {
            for (QLegendMarker* marker : chart->legend()->markers(line)) marker->setVisible(false);
        }
        if (points.empty() || !text) return;
        QObject::connect(line, &QLineSeries::hovered, chart,
                         [points, text, x, y, name](const QPointF& at, bool entered) {
                             if (!entered) {
                                 QToolTip::hideText();
                                 return;
                             }
                             const auto span = [](QAbstractAxis* axis) {
                                 double lo = 0, hi = 1;
                                 if (auto* v = qobject_cast<QValueAxis*>(axis)) {
                                     lo = v->min();
                                     hi = v->max();
                                 } else if (auto* d = qobject_cast<QDateTimeAxis*>(axis)) {
                                     lo = static_cast<double>(d->min().toMSecsSinceEpoch());
                                     hi = static_cast<double>(d->max().toMSecsSinceEpoch());
                                 }
                                 return hi > lo ? hi - lo : 1.0;
                             };
                             const QPointF p = Nearest(points, at, span(x), span(y));
                             QToolTip::showText(QCursor::pos(),
                                                name + QStringLiteral("\n") + text(p));
                         });
    };
    if (series.empty()) {
        add({}, true);
        return;
    }
    for (size_t i = 0; i < series.size(); ++i) add(series[i], i == 0);
}

bool PointRange(const std::vector<const SegmentedSeries*>& series, bool xAxis, double& min,
                double& max) {
    bool any = false;
    for (const SegmentedSeries* s : series) {
        for (const SeriesSegment& segment : *s) {
            for (const QPointF& p : segment) {
                const double v = xAxis ? p.x() : p.y();
                if (!any || v < min) min = v;
                if (!any || v > max) max = v;
                any = true;
            }
        }
    }
    return any;
}

QColor SensorColor(int index) {
    static const QColor kColors[4] = {QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28),
                                      QColor(0x2c, 0xa0, 0x2c), QColor(0xff, 0x7f, 0x0e)};
    return kColors[index & 3];
}

QString ChartTimeText(double ms) {
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(ms)))
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

}  // namespace r4t8
