#include "CurveChart.h"

#include "CComonFun.h"

#include <QChart>
#include <QChartView>
#include <QFileInfo>
#include <QFont>
#include <QGraphicsLayout>
#include <QPixmap>
#include <QValueAxis>

#include <algorithm>

namespace curvechart {

QChartView* makeView(QWidget* parent, const QString& xTitle, const QString& yTitle, QValueAxis** xAxis,
                     QValueAxis** yAxis)
{
    auto* chart = new QChart;
    QFont small = chart->font();
    small.setPointSize(8);
    chart->legend()->setAlignment(Qt::AlignRight);
    chart->legend()->setFont(small);
    chart->setMargins(QMargins(0, 0, 0, 0));
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    chart->setBackgroundRoundness(0);
    auto* x = new QValueAxis(chart);
    auto* y = new QValueAxis(chart);
    x->setTitleText(xTitle);
    y->setTitleText(yTitle);
    x->setLabelFormat("%.0f");
    y->setLabelFormat("%.0f");
    for (QValueAxis* a : {x, y}) {
        a->setTitleFont(small);
        a->setLabelsFont(small);
        a->setTickCount(5);
    }
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    auto* view = new QChartView(chart, parent);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumHeight(150);
    *xAxis = x;
    *yAxis = y;
    return view;
}

void include(QValueAxis* axis, double value, bool first)
{
    double lo = first ? value : std::min(axis->min(), value);
    double hi = first ? value : std::max(axis->max(), value);
    if (first || value < axis->min() || value > axis->max()) {
        const double room = std::max((hi - lo) * 0.05, 1.0);
        if (value <= lo)
            lo -= room;
        if (value >= hi)
            hi += room;
        axis->setRange(lo, hi);
    }
}

bool savePng(QChartView* view, const QString& path)
{
    if (!view || !CComonFun::makePath(QFileInfo(path).absolutePath()))
        return false;
    return view->grab().save(path, "PNG");
}

} // namespace curvechart
