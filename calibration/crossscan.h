// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calibration/beamfit.h"
#include "station/direction.h"

#include <QList>
#include <QString>

#include <optional>

enum class CutAxis { Azimuth, Elevation };

// A cross-scan through the target: a cut in azimuth, one in elevation
// through the azimuth found, and one more in azimuth through the elevation
// found. Offsets are added to the operator's offsets, in the rotator's
// degrees; across the sky an azimuth step is the elevation step over
// cos(elevation), so that every cut samples the beam alike.
class CrossScan
{
public:
    struct Settings {
        double beamwidthDeg = 2.0;  // the half-power width the operator expects
        double halfSpanBeams = 2.5;  // each cut reaches this many beamwidths either side
        double stepBeams = 0.2;
        int cuts = 3;
    };

    explicit CrossScan(const Settings &settings);

    bool finished() const { return m_cut >= m_settings.cuts; }
    int cut() const { return m_cut; }
    CutAxis axis() const { return m_cut % 2 == 0 ? CutAxis::Azimuth : CutAxis::Elevation; }
    int points() const { return int(m_offsets.size()); }
    // Where point i of the cut under way aims, as offsets from the target,
    // for a target at this elevation.
    Direction aim(int point, double targetElevation) const;

    // A level heard with the antenna this far off the target (rotator's
    // degrees); where it lies on the cut, across the sky.
    double add(const Direction &offset, double targetElevation, double level);
    // The cut under way fitted, and the next one begun. False, with the reason, when it cannot be fitted.
    bool endCut(QString *problem = nullptr);

    // What the cuts found: the offsets to add to the operator's, and each
    // axis's last fit (widths across the sky).
    Direction correction() const { return m_correction; }
    std::optional<BeamFit> fit(CutAxis axis) const { return axis == CutAxis::Azimuth ? m_azimuthFit : m_elevationFit; }
    // The levels of the cut under way, across the sky, for a plot.
    const QList<CutPoint> &levels() const { return m_levels; }

private:
    Settings m_settings;
    QList<double> m_offsets;  // across the sky, the same for every cut
    int m_cut = 0;
    QList<CutPoint> m_levels;
    double m_scaleSum = 0;
    Direction m_correction;
    std::optional<BeamFit> m_azimuthFit;
    std::optional<BeamFit> m_elevationFit;
};

namespace crossscan {

// Degrees of azimuth per degree across the sky at this elevation; bounded
// near the zenith, where no azimuth step could be made small enough.
double azimuthScale(double elevationDeg);

// An offset as the operator reads it: "+0.52°", "-0.31°".
QString signedDegrees(double value);

} // namespace crossscan
