// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibration/crossscan.h"

#include <QtMath>

#include <cmath>

double crossscan::azimuthScale(double elevationDeg)
{
    return 1.0 / std::cos(qDegreesToRadians(qBound(-80.0, elevationDeg, 80.0)));
}

QString crossscan::signedDegrees(double value)
{
    return QStringLiteral("%1%2°").arg(value >= 0 ? QStringLiteral("+") : QString()).arg(value, 0, 'f', 2);
}

CrossScan::CrossScan(const Settings &settings)
    : m_settings(settings)
{
    const int half = qMax(1, int(std::lround(settings.halfSpanBeams / settings.stepBeams)));
    for (int i = -half; i <= half; ++i)
        m_offsets.append(i * settings.stepBeams * settings.beamwidthDeg);
}

Direction CrossScan::aim(int point, double targetElevation) const
{
    const double across = m_offsets.value(point);
    Direction offset = m_correction;
    if (axis() == CutAxis::Azimuth)
        offset.azimuth = m_correction.azimuth + across * crossscan::azimuthScale(targetElevation);
    else
        offset.elevation = m_correction.elevation + across;
    return offset;
}

double CrossScan::add(const Direction &offset, double targetElevation, double level)
{
    // Across the sky from where the target is believed to be, so that the
    // fit's centre is the correction still to make.
    const double scale = crossscan::azimuthScale(targetElevation);
    const double across = axis() == CutAxis::Azimuth ? (offset.azimuth - m_correction.azimuth) / scale
                                                     : offset.elevation - m_correction.elevation;
    m_levels.append({across, level});
    m_scaleSum += scale;
    return across;
}

bool CrossScan::endCut(QString *problem)
{
    const std::optional<BeamFit> found = fitBeam(m_levels, problem);
    const double scale = m_levels.isEmpty() ? 1.0 : m_scaleSum / double(m_levels.size());
    m_levels.clear();
    m_scaleSum = 0;
    if (!found)
        return false;
    // The centre found across the sky, back into the rotator's degrees at
    // the scale the cut was made with (the target rises or sets meanwhile).
    if (axis() == CutAxis::Azimuth) {
        m_azimuthFit = found;
        m_correction.azimuth += found->centreDeg * scale;
    } else {
        m_elevationFit = found;
        m_correction.elevation += found->centreDeg;
    }
    ++m_cut;
    return true;
}
