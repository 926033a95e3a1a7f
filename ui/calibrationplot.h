// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calibration/beamfit.h"

#include <QList>
#include <QWidget>

#include <optional>

// Levels against offset across the sky on the cut under way, and the beam
// fitted to the last cut, drawn over them.
class CalibrationPlot : public QWidget
{
    Q_OBJECT

public:
    using QWidget::QWidget;

    void clear();
    void add(double acrossDeg, double level);
    void newCut(const QString &axis);
    void setFit(const std::optional<BeamFit> &fit) { m_fit = fit; update(); }
    qsizetype points() const { return m_points.size(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QList<CutPoint> m_points;
    QString m_axis;
    std::optional<BeamFit> m_fit;
};
