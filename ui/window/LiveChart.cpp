#include "ui/window/LiveChart.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLabel>
#include <QVBoxLayout>
#include <QValueAxis>

#include "ui/window/ChartView.h"

namespace r4t8 {

LiveChart::LiveChart(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("ts_live"));
    m_view = NewZoomingView(this);
    m_view->setObjectName(QStringLiteral("cht_live"));
    m_hint = new QLabel(
        QStringLiteral("勾选“其它操作”页的“定时查询”后，每隔设定的秒数查询一次当前数据"), this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_hint);
    ShowReadings({}, QDateTime::currentMSecsSinceEpoch());
}

void LiveChart::ShowReadings(const LiveReadings& readings, int64_t nowMs) {
    m_shown = readings.Series();
    QChart* chart = FreshChart(m_view, QStringLiteral("当前数据（最近10分钟）"));
    auto* x = new QDateTimeAxis;
    x->setFormat(QStringLiteral("HH:mm:ss"));
    x->setTickCount(11);
    x->setRange(QDateTime::fromMSecsSinceEpoch(nowMs - LiveReadings::kWindowMs),
                QDateTime::fromMSecsSinceEpoch(nowMs));
    chart->addAxis(x, Qt::AlignBottom);
    auto* y = new QValueAxis;
    std::vector<const SegmentedSeries*> all;
    for (const SegmentedSeries& s : m_shown) all.push_back(&s);
    double y0 = 0, y1 = 0;
    if (!PointRange(all, false, y0, y1) || y1 <= y0) {
        y0 -= 1;
        y1 += 1;
    }
    const double pad = (y1 - y0) * 0.05;
    y->setRange(y0 - pad, y1 + pad);
    chart->addAxis(y, Qt::AlignLeft);
    for (int i = 0; i < 4; ++i) {
        AddSegments(chart, m_shown[i], QStringLiteral("传感器%1").arg(i + 1), SensorColor(i), x, y,
                    [](const QPointF& p) {
                        return ChartTimeText(p.x()) + QStringLiteral("  ") +
                               QString::number(p.y(), 'g', 8);
                    });
    }
}

}  // namespace r4t8
