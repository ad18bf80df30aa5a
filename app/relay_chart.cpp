#include "app/relay_chart.h"

#include <QChart>
#include <QChartView>
#include <QLegend>
#include <QLineSeries>
#include <QPen>
#include <QValueAxis>

namespace {

QValueAxis* attachedAxis(QLineSeries* series, Qt::Orientation orientation) {
    for (QAbstractAxis* axis : series->attachedAxes()) {
        if (axis->orientation() == orientation) {
            if (auto* value = qobject_cast<QValueAxis*>(axis)) {
                return value;
            }
        }
    }
    return nullptr;
}

void hide(QValueAxis* axis) {
    axis->setVisible(false);
    axis->setLabelsVisible(false);
    axis->setGridLineVisible(false);
    axis->setMinorGridLineVisible(false);
    axis->setLineVisible(false);
    axis->setTitleVisible(false);
}

} // namespace

RelayChart::RelayChart(QChartView* view) : view_(view) {
    QChart* chart = view_->chart();
    chart->setTitle(QString());
    chart->legend()->hide();
    for (QAbstractSeries* series : chart->series()) {
        if (auto* line = qobject_cast<QLineSeries*>(series)) {
            series_ = line;
            break;
        }
    }
    if (series_ == nullptr) {
        series_ = new QLineSeries(chart);
        series_->setPen(QPen(QColor(0, 128, 0), 1));
        chart->addSeries(series_);
    }
    series_->setPointsVisible(false);

    axisX_ = attachedAxis(series_, Qt::Horizontal);
    if (axisX_ == nullptr) {
        axisX_ = new QValueAxis(chart);
        chart->addAxis(axisX_, Qt::AlignBottom);
        series_->attachAxis(axisX_);
    }
    axisY_ = attachedAxis(series_, Qt::Vertical);
    if (axisY_ == nullptr) {
        axisY_ = new QValueAxis(chart);
        chart->addAxis(axisY_, Qt::AlignLeft);
        series_->attachAxis(axisY_);
    }
    axisY_->setRange(relay_timing::kChartMinY, relay_timing::kChartMaxY);
    hide(axisX_);
    hide(axisY_);
}

void RelayChart::show(const std::vector<relay_timing::ChartPoint>& points) {
    QList<QPointF> line;
    line.reserve(static_cast<qsizetype>(points.size()));
    for (const relay_timing::ChartPoint& p : points) {
        line.append(QPointF(p.x, p.y));
    }
    // One replace instead of clear and appends: the chart redraws once.
    series_->replace(line);
    double first = 0;
    double last = 1;
    if (!line.isEmpty()) {
        first = line.front().x();
        last = line.back().x();
        if (last <= first) {
            last = first + 1;
        }
    }
    axisX_->setRange(first, last);
    axisY_->setRange(relay_timing::kChartMinY, relay_timing::kChartMaxY);
}
