// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointF>
#include <QString>
#include <QWidget>

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
    double m_presentAz = 0, m_presentEl = 0;
    double m_commandedAz = 0, m_commandedEl = 0;
    QString m_targetName;
    double m_targetAz = 0, m_targetEl = 0;
};
