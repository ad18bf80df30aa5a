#include "app/relay_chart.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPen>
#include <QPolygonF>

RelayChartView::RelayChartView(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
}

void RelayChartView::clear() {
    points_.clear();
    fitX();
    update();
}

void RelayChartView::append(const QPointF& point) {
    points_.append(point);
    fitX();
    update();
}

void RelayChartView::replace(const QList<QPointF>& points) {
    points_ = points;
    fitX();
    update();
}

void RelayChartView::setLineColor(const QColor& color) {
    lineColor_ = color;
    update();
}

void RelayChartView::fitX() {
    minX_ = 0;
    maxX_ = 1;
    if (!points_.isEmpty()) {
        minX_ = points_.front().x();
        maxX_ = points_.back().x();
        // A single point or a train of zero length still gets a width.
        if (!(maxX_ > minX_)) {
            maxX_ = minX_ + 1;
        }
    }
}

QPointF RelayChartView::map(const QPointF& point) const {
    const QRectF area = QRectF(contentsRect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double fx = (point.x() - minX_) / (maxX_ - minX_);
    const double fy = (point.y() - minY()) / (maxY() - minY());
    return {area.left() + fx * area.width(), area.bottom() - fy * area.height()};
}

QSize RelayChartView::sizeHint() const {
    return {145, 66};
}

void RelayChartView::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (points_.isEmpty()) {
        return;
    }
    QPolygonF line;
    line.reserve(points_.size());
    for (const QPointF& p : points_) {
        line.append(map(p));
    }
    QPainter painter(this);
    painter.setClipRect(contentsRect());
    painter.setPen(QPen(lineColor_, 1));
    painter.drawPolyline(line);
}

RelayChart::RelayChart(RelayChartView* view) : view_(view) {}

void RelayChart::show(const std::vector<relay_timing::ChartPoint>& points) {
    QList<QPointF> line;
    line.reserve(static_cast<qsizetype>(points.size()));
    for (const relay_timing::ChartPoint& p : points) {
        line.append(QPointF(p.x, p.y));
    }
    view_->replace(line);
}
