// The relay timing preview on the window's chart: one green line of the
// pulse train, a fixed vertical range from -0.5 to 1.5, and nothing else
// (no title, legend or axes). The view paints the line itself with QPainter,
// so the window needs no charting library.
#pragma once

#include "config/relay_timing.h"

#include <QColor>
#include <QFrame>
#include <QList>
#include <QPointF>

#include <vector>

// A framed widget that draws a polyline through its points. The horizontal
// range is fitted to the points; the vertical range is fixed.
class RelayChartView : public QFrame {
    Q_OBJECT

  public:
    explicit RelayChartView(QWidget* parent = nullptr);

    void clear();
    void append(const QPointF& point);
    // Replaces every point at once (one repaint).
    void replace(const QList<QPointF>& points);

    const QList<QPointF>& points() const { return points_; }
    qsizetype count() const { return points_.size(); }

    QColor lineColor() const { return lineColor_; }
    void setLineColor(const QColor& color);

    double minX() const { return minX_; }
    double maxX() const { return maxX_; }
    double minY() const { return relay_timing::kChartMinY; }
    double maxY() const { return relay_timing::kChartMaxY; }

    // Where a point of the line lands inside the frame, in widget pixels.
    QPointF map(const QPointF& point) const;

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void fitX();

    QList<QPointF> points_;
    QColor lineColor_{0, 128, 0};
    double minX_ = 0;
    double maxX_ = 1;
};

class RelayChart {
  public:
    explicit RelayChart(RelayChartView* view);

    // Replaces every point of the line with `points` (in ascending x) and
    // fits the horizontal range to them; the vertical range never changes.
    void show(const std::vector<relay_timing::ChartPoint>& points);

    RelayChartView* view() const { return view_; }

  private:
    RelayChartView* view_;
};
