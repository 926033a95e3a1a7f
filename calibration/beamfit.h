// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

#include <optional>

// One level measured on a cut through the target: where the antenna pointed
// across the sky from the target (degrees, along the cut; an azimuth cut is
// already scaled by cos(elevation)), and the power received (linear, in any
// unit, greater than zero).
struct CutPoint {
    double offsetDeg = 0;
    double level = 0;
};

// The antenna's beam fitted to one cut: a Gaussian of the half-power width
// over a flat baseline. The centre is where the target lies as seen on the
// cut, so the pointing is off by it.
struct BeamFit {
    double centreDeg = 0;
    double centreErrorDeg = 0;  // one standard deviation, from the fit's scatter
    double halfPowerWidthDeg = 0;
    double widthErrorDeg = 0;
    double baseline = 0;  // the level off the target
    double peak = 0;  // the level above the baseline at the centre
    double residual = 0;  // the scatter about the fit (RMS), in the levels' unit
};

// Least squares, Levenberg-Marquardt. Nothing, with the reason in problem when
// asked, for a cut without a peak that stands clear of its scatter, a centre
// outside the cut or a width no wider than a step or wider than the cut.
std::optional<BeamFit> fitBeam(const QList<CutPoint> &points, QString *problem = nullptr);
