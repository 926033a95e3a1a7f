// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/simreceiver.h"

#include <QtMath>

#include <cmath>
#include <limits>

double simreceiver::separationDeg(const Direction &a, const Direction &b)
{
    // Haversine: well conditioned for the small angles a beam spans.
    const double e1 = qDegreesToRadians(a.elevation), e2 = qDegreesToRadians(b.elevation);
    const double de = e2 - e1, da = qDegreesToRadians(b.azimuth - a.azimuth);
    const double h = std::pow(std::sin(de / 2), 2) + std::cos(e1) * std::cos(e2) * std::pow(std::sin(da / 2), 2);
    return qRadiansToDegrees(2 * std::asin(std::sqrt(qBound(0.0, h, 1.0))));
}

SimReceiver::SimReceiver(Where readout, Where source, const Sky &sky, quint32 seed, QObject *parent)
    : LevelSource(parent)
    , m_readout(std::move(readout))
    , m_source(std::move(source))
    , m_sky(sky)
    , m_random(seed)
{
    m_timer.setInterval(1000 / qMax(1, sky.levelsPerSecond));
    connect(&m_timer, &QTimer::timeout, this, &SimReceiver::emitLevel);
}

void SimReceiver::start()
{
    m_timer.start();
}

void SimReceiver::stop()
{
    m_timer.stop();
}

double SimReceiver::kelvinAt(const Direction &readout, const Direction &source) const
{
    const Direction pointed {readout.azimuth + m_hidden.azimuth, readout.elevation + m_hidden.elevation};
    const double d = simreceiver::separationDeg(pointed, source);
    // A Gaussian source seen through a Gaussian beam: widths add in quadrature,
    // and the peak falls as the source fills more than the beam.
    const double beam2 = m_sky.beamwidthDeg * m_sky.beamwidthDeg;
    const double seen2 = beam2 + m_sky.sourceWidthDeg * m_sky.sourceWidthDeg;
    const double fromSource = m_sky.sourceKelvin * beam2 / seen2 * std::exp(-4 * std::log(2.0) * d * d / seen2);
    return m_sky.coldSkyKelvin + m_sky.receiverKelvin + fromSource;
}

double SimReceiver::sample(const Direction &readout, const Direction &source)
{
    if (m_notANumber)
        return std::numeric_limits<double>::quiet_NaN();
    const double level = kelvinAt(readout, source) * (1 + m_sky.scatter * m_normal(m_random));
    return m_ceiling > 0 ? qMin(level, m_ceiling) : level;
}

void SimReceiver::emitLevel()
{
    if (m_stalled)
        return;
    const auto readout = m_readout();
    const auto source = m_source();
    if (readout && source)
        emit level(sample(*readout, *source));
}
