// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "station/direction.h"

#include <QPointF>
#include <QString>
#include <QWidget>

#include <optional>

// The sky seen from the station, as a polar plot: the horizon is the outer
// circle, the zenith its centre, north up and east to the right (as a sky
// chart held overhead is read from below, azimuth runs clockwise). Shows the
// antenna's present and commanded directions and the target.
class SkyPlot : public QWidget
{
    Q_OBJECT

public:
    explicit SkyPlot(QWidget *parent = nullptr);

    void setAntenna(double presentAz, double presentEl, double commandedAz, double commandedEl);
    // What is not known is not drawn: no mark stands for a direction nobody gave.
    void setAntenna(const std::optional<Direction> &present, const std::optional<Direction> &commanded);
    // An empty name draws no target.
    void setTarget(const QString &name, double azimuth, double elevation);

    // Where (azimuth, elevation) lies on a plot of the given centre and
    // horizon radius. Azimuth in any turn (450 is east); elevations below the
    // horizon stay on the horizon, above the zenith at the zenith.
    static QPointF project(double azimuth, double elevation, const QPointF &centre, double radius);

    QSize sizeHint() const override { return {320, 320}; }
    QSize minimumSizeHint() const override { return {160, 160}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    static bool same(const std::optional<Direction> &a, const std::optional<Direction> &b)
    {
        return a.has_value() == b.has_value()
            && (!a || (a->azimuth == b->azimuth && a->elevation == b->elevation));
    }

    std::optional<Direction> m_present;
    std::optional<Direction> m_commanded;
    QString m_targetName;
    double m_targetAz = 0, m_targetEl = 0;
};
