// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/skyplot.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

SkyPlot::SkyPlot(QWidget *parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    // It paints every pixel of itself: what lies behind need not be painted first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

// The station panel hands its whole state over several times a second; the
// plot is drawn again only when something on it moved.
void SkyPlot::setAntenna(double presentAz, double presentEl, double commandedAz, double commandedEl)
{
    setAntenna(Direction {presentAz, presentEl}, Direction {commandedAz, commandedEl});
}

void SkyPlot::setAntenna(const std::optional<Direction> &present, const std::optional<Direction> &commanded)
{
    if (same(present, m_present) && same(commanded, m_commanded))
        return;
    m_present = present;
    m_commanded = commanded;
    update();
}

void SkyPlot::setTarget(const QString &name, double azimuth, double elevation)
{
    if (name == m_targetName && azimuth == m_targetAz && elevation == m_targetEl)
        return;
    m_targetName = name;
    m_targetAz = azimuth;
    m_targetEl = elevation;
    update();
}

QPointF SkyPlot::project(double azimuth, double elevation, const QPointF &centre, double radius)
{
    const double r = radius * (90.0 - std::clamp(elevation, 0.0, 90.0)) / 90.0;
    const double a = azimuth * M_PI / 180.0;
    return {centre.x() + r * std::sin(a), centre.y() - r * std::cos(a)};
}

void SkyPlot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor sky = palette().color(QPalette::Base);
    const QColor ink = palette().color(QPalette::Text);
    painter.fillRect(rect(), palette().color(QPalette::Window));

    const int labelRoom = fontMetrics().height() + 4;
    const double radius = std::max(10.0, std::min(width(), height()) / 2.0 - labelRoom);
    const QPointF centre(width() / 2.0, height() / 2.0);

    // Horizon, elevation rings every 30 degrees, the four cardinal lines.
    painter.setPen(QPen(ink, 1.5));
    painter.setBrush(sky);
    painter.drawEllipse(centre, radius, radius);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(ink, 0.5, Qt::DotLine));
    for (int el : {30, 60}) {
        const double r = radius * (90 - el) / 90.0;
        painter.drawEllipse(centre, r, r);
        painter.drawText(centre + QPointF(3, -r - 2), QString::number(el));
    }
    for (int az = 0; az < 360; az += 90)
        painter.drawLine(centre, project(az, 0, centre, radius));
    painter.setPen(ink);
    const struct {
        int azimuth;
        const char *name;
    } cardinals[] = {{0, "N"}, {90, "E"}, {180, "S"}, {270, "W"}};
    for (const auto &cardinal : cardinals) {
        const QPointF at = project(cardinal.azimuth, 0, centre, radius + labelRoom / 2.0);
        const QString text = QString::fromLatin1(cardinal.name);
        const QRectF box(at.x() - labelRoom, at.y() - labelRoom / 2.0, 2 * labelRoom, labelRoom);
        painter.drawText(box, Qt::AlignCenter, text);
    }

    // The target: below the horizon it sits on the rim, hollow.
    if (!m_targetName.isEmpty()) {
        const QPointF at = project(m_targetAz, m_targetEl, centre, radius);
        const bool moon = m_targetName == QLatin1String("Moon");
        const QColor colour = moon ? QColor(200, 200, 170) : QColor(255, 170, 0);
        painter.setPen(QPen(colour.darker(160), 1.5));
        painter.setBrush(m_targetEl >= 0 ? QBrush(colour) : QBrush(Qt::NoBrush));
        painter.drawEllipse(at, 8, 8);
        painter.setPen(ink);
        painter.drawText(at + QPointF(11, 4), m_targetName);
    }

    // The antenna: a line from where it points to where it is going.
    const QColor antenna(30, 110, 220);
    if (m_present && m_commanded) {
        painter.setPen(QPen(antenna, 1, Qt::DashLine));
        painter.drawLine(project(m_present->azimuth, m_present->elevation, centre, radius),
                         project(m_commanded->azimuth, m_commanded->elevation, centre, radius));
    }
    if (m_commanded) {
        const QPointF commanded = project(m_commanded->azimuth, m_commanded->elevation, centre, radius);
        painter.setPen(QPen(antenna, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawLine(commanded + QPointF(-6, -6), commanded + QPointF(6, 6));
        painter.drawLine(commanded + QPointF(-6, 6), commanded + QPointF(6, -6));
    }
    if (m_present) {
        painter.setPen(QPen(antenna, 2));
        painter.setBrush(antenna);
        painter.drawEllipse(project(m_present->azimuth, m_present->elevation, centre, radius), 5, 5);
    }
}
