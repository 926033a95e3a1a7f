// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/calibrationplot.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

void CalibrationPlot::clear()
{
    m_points.clear();
    m_fit.reset();
    m_axis.clear();
    update();
}

void CalibrationPlot::add(double acrossDeg, double level)
{
    m_points.append({acrossDeg, level});
    update();
}

void CalibrationPlot::newCut(const QString &axis)
{
    m_points.clear();
    m_axis = axis;
    update();
}

void CalibrationPlot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    painter.setPen(palette().text().color());
    const QRectF area = QRectF(rect()).adjusted(8, 8, -8, -20);
    painter.drawText(QRectF(rect()).adjusted(8, 0, -8, 0), Qt::AlignBottom | Qt::AlignLeft,
                     m_axis.isEmpty() ? tr("level against offset across the sky")
                                      : tr("%1 cut: level against offset across the sky").arg(m_axis));
    if (m_points.isEmpty())
        return;
    const auto [low, high] = std::minmax_element(m_points.cbegin(), m_points.cend(),
                                                 [](const CutPoint &a, const CutPoint &b) { return a.level < b.level; });
    const auto [left, right] = std::minmax_element(
        m_points.cbegin(), m_points.cend(), [](const CutPoint &a, const CutPoint &b) { return a.offsetDeg < b.offsetDeg; });
    const double x0 = left->offsetDeg, x1 = qMax(right->offsetDeg, x0 + 1e-6);
    const double y0 = low->level, y1 = qMax(high->level, y0 * 1.001 + 1e-12);
    const auto at = [&](double x, double y) {
        return QPointF(area.left() + (x - x0) / (x1 - x0) * area.width(),
                       area.bottom() - (y - y0) / (y1 - y0) * area.height());
    };
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().highlight().color(), 3));
    for (const CutPoint &point : m_points)
        painter.drawPoint(at(point.offsetDeg, point.level));
    if (!m_fit)
        return;
    QPainterPath curve;
    for (int i = 0; i <= 100; ++i) {
        const double x = x0 + (x1 - x0) * i / 100.0;
        const double d = (x - m_fit->centreDeg) / m_fit->halfPowerWidthDeg;
        const QPointF p = at(x, m_fit->baseline + m_fit->peak * std::exp(-4 * std::log(2.0) * d * d));
        i == 0 ? curve.moveTo(p) : curve.lineTo(p);
    }
    painter.setPen(QPen(palette().text().color(), 1.5));
    painter.drawPath(curve);
}
