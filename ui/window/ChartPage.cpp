#include "ui/window/ChartPage.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QValueAxis>

#include "ui/window/ChartView.h"

namespace r4t8 {

namespace {

constexpr double kHourMs = 3600.0 * 1000.0;

QDateTimeAxis* TimeAxis(QChart* chart, double min, double max) {
    auto* axis = new QDateTimeAxis;
    axis->setFormat(QStringLiteral("MM-dd HH:mm"));
    axis->setTickCount(6);
    // One point, or none, still needs a span to draw.
    if (max <= min) {
        min -= kHourMs / 2;
        max += kHourMs / 2;
    }
    axis->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(min)),
                   QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(max)));
    chart->addAxis(axis, Qt::AlignBottom);
    return axis;
}

QValueAxis* ValueAxis(QChart* chart, double min, double max, Qt::Alignment side,
                      const QString& title = {}) {
    auto* axis = new QValueAxis;
    if (max <= min) {
        min -= 1;
        max += 1;
    }
    const double pad = (max - min) * 0.05;
    axis->setRange(min - pad, max + pad);
    axis->setTitleText(title);
    chart->addAxis(axis, side);
    return axis;
}

QString ValueText(double v) { return QString::number(v, 'g', 8); }

}  // namespace

ChartPage::ChartPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("ts_chart"));
    m_sensors = NewZoomingView(this);
    m_sensors->setObjectName(QStringLiteral("cht_sensors"));
    m_speed = NewZoomingView(this);
    m_speed->setObjectName(QStringLiteral("cht_speed"));
    m_track = NewZoomingView(this);
    m_track->setObjectName(QStringLiteral("cht_track"));
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("lbl_chart_summary"));
    m_reset = new QPushButton(QStringLiteral("还原缩放"), this);
    m_reset->setObjectName(QStringLiteral("btn_chart_reset"));
    m_reset->setToolTip(QStringLiteral("拖动鼠标框选放大，右键缩小"));
    connect(m_reset, &QPushButton::clicked, this, &ChartPage::ResetZoom);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setSpacing(4);
    grid->addWidget(m_sensors, 0, 0, 1, 1);
    grid->addWidget(m_speed, 1, 0, 1, 1);
    grid->addWidget(m_track, 0, 1, 2, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_summary, 1);
    bottom->addWidget(m_reset);
    grid->addLayout(bottom, 2, 0, 1, 2);
    grid->setRowStretch(0, 3);
    grid->setRowStretch(1, 2);
    grid->setColumnStretch(0, 3);
    grid->setColumnStretch(1, 2);

    ShowHistory({});
}

void ChartPage::ShowHistory(const HistoryTable& table) {
    m_series = BuildHistorySeries(table);
    m_records = table.size();
    DrawSensors();
    DrawSpeed();
    DrawTrack();
    QString summary = table.empty() ? QStringLiteral("尚无历史数据：导出历史数据后在此显示曲线")
                                    : QStringLiteral("记录数：%1").arg(table.size());
    if (m_series.badTimeRecords > 0)
        summary +=
            QStringLiteral("（%1 条记录时间无效，未画入时间曲线）").arg(m_series.badTimeRecords);
    m_summary->setText(summary);
}

void ChartPage::DrawSensors() {
    QChart* chart = FreshChart(m_sensors, QStringLiteral("传感器"));
    std::vector<const SegmentedSeries*> all;
    for (const SegmentedSeries& s : m_series.sensors) all.push_back(&s);
    double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    if (!PointRange(all, true, x0, x1))
        x0 = x1 = static_cast<double>(QDateTime::currentMSecsSinceEpoch());
    if (!PointRange(all, false, y0, y1)) y0 = y1 = 0;
    QDateTimeAxis* x = TimeAxis(chart, x0, x1);
    QValueAxis* y = ValueAxis(chart, y0, y1, Qt::AlignLeft);
    for (int i = 0; i < 4; ++i) {
        AddSegments(chart, m_series.sensors[i], QStringLiteral("传感器%1").arg(i + 1),
                    SensorColor(i), x, y, [](const QPointF& p) {
                        return ChartTimeText(p.x()) + QStringLiteral("  ") + ValueText(p.y());
                    });
    }
}

void ChartPage::DrawSpeed() {
    QChart* chart = FreshChart(m_speed, QStringLiteral("速度"));
    double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    if (!PointRange({&m_series.speed}, true, x0, x1)) {
        // Aligned with the sensor chart when only the speed is missing.
        if (!PointRange({&m_series.sensors[0], &m_series.sensors[1], &m_series.sensors[2],
                         &m_series.sensors[3]},
                        true, x0, x1))
            x0 = x1 = static_cast<double>(QDateTime::currentMSecsSinceEpoch());
    }
    if (!PointRange({&m_series.speed}, false, y0, y1)) y0 = y1 = 0;
    QDateTimeAxis* x = TimeAxis(chart, x0, x1);
    QValueAxis* y = ValueAxis(chart, std::min(0.0, y0), y1, Qt::AlignLeft, QStringLiteral("km/h"));
    // A speed is never below zero: no room under it.
    y->setMin(std::min(0.0, y0));
    AddSegments(chart, m_series.speed, QStringLiteral("速度"), QColor(0x94, 0x67, 0xbd), x, y,
                [](const QPointF& p) {
                    return ChartTimeText(p.x()) + QStringLiteral("  ") + ValueText(p.y()) +
                           QStringLiteral(" km/h");
                });
    chart->legend()->hide();
}

void ChartPage::DrawTrack() {
    QChart* chart = FreshChart(m_track, QStringLiteral("GPS轨迹"));
    double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    if (!PointRange({&m_series.track}, true, x0, x1)) x0 = x1 = 0;
    if (!PointRange({&m_series.track}, false, y0, y1)) y0 = y1 = 0;
    QValueAxis* x = ValueAxis(chart, x0, x1, Qt::AlignBottom, QStringLiteral("经度"));
    QValueAxis* y = ValueAxis(chart, y0, y1, Qt::AlignLeft, QStringLiteral("纬度"));
    x->setLabelFormat(QStringLiteral("%.4f"));
    y->setLabelFormat(QStringLiteral("%.4f"));
    x->setTickCount(4);
    AddSegments(
        chart, m_series.track, QStringLiteral("轨迹"), QColor(0x17, 0x80, 0x70), x, y,
        [](const QPointF& p) {
            return QStringLiteral("经度 %1\n纬度 %2").arg(p.x(), 0, 'f', 6).arg(p.y(), 0, 'f', 6);
        });
    chart->legend()->hide();
}

void ChartPage::ResetZoom() {
    for (QChartView* view : {m_sensors, m_speed, m_track}) view->chart()->zoomReset();
}

}  // namespace r4t8
