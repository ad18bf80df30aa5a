// The relay timing preview on the window's chart: one green line of the
// pulse train, a fixed vertical range from -0.5 to 1.5, and nothing else
// (no title, legend or axes).
#pragma once

#include "config/relay_timing.h"

#include <vector>

class QChartView;
class QLineSeries;
class QValueAxis;

class RelayChart {
  public:
    // Takes over the chart of `view`: uses its first line series and that
    // series' value axes, creating them when the chart has none.
    explicit RelayChart(QChartView* view);

    // Replaces every point of the line with `points` (in ascending x) and
    // fits the horizontal axis to them; the vertical range never changes.
    void show(const std::vector<relay_timing::ChartPoint>& points);

    QLineSeries* series() const { return series_; }
    QValueAxis* axisX() const { return axisX_; }
    QValueAxis* axisY() const { return axisY_; }

  private:
    QChartView* view_;
    QLineSeries* series_ = nullptr;
    QValueAxis* axisX_ = nullptr;
    QValueAxis* axisY_ = nullptr;
};
