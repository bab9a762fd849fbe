#pragma once

#include <QString>

class QChartView;
class QValueAxis;
class QWidget;

// The small curve charts of the calibration page's boxes: a chart with a value axis
// each way whose ranges grow with the points added, saved as PNG beside the data.
namespace curvechart {

QChartView* makeView(QWidget* parent, const QString& xTitle, const QString& yTitle, QValueAxis** xAxis,
                     QValueAxis** yAxis);
// Widens the axis so that `value` is inside, with a little room; `first` starts over.
void include(QValueAxis* axis, double value, bool first);
// The chart as it is shown, into `path` (folder made); false when it cannot be written.
bool savePng(QChartView* view, const QString& path);

} // namespace curvechart
