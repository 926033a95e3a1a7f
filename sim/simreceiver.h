// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calibration/levelsource.h"
#include "station/direction.h"

#include <QTimer>

#include <functional>
#include <optional>
#include <random>

// The simulated station's receiver: the noise it hears follows the
// antenna's beam (a Gaussian of the half-power width) about the antenna's
// true direction, which is off its readout by a hidden mechanical offset,
// with the source's noise, cold sky, the receiver's own and a scatter on
// each level as a real detector shows. Faults a real level source has can
// be switched on.
class SimReceiver : public LevelSource
{
    Q_OBJECT

public:
    struct Sky {
        double beamwidthDeg = 2.0;
        // The source's size as a Gaussian of this half-power width (the
        // Sun's disk, about half a degree at the higher bands).
        double sourceWidthDeg = 0.5;
        // The antenna temperature the source would give a point-like source
        // on the beam's centre; a wider source gives less, spread wider.
        double sourceKelvin = 3000;
        double coldSkyKelvin = 30;
        double receiverKelvin = 50;
        double scatter = 0.01;  // each level's relative scatter, one standard deviation
        int levelsPerSecond = 10;
    };

    // Where the readout says the antenna points and where the source is, now.
    using Where = std::function<std::optional<Direction>()>;
    SimReceiver(Where readout, Where source, const Sky &sky, quint32 seed = 1, QObject *parent = nullptr);

    QString name() const override { return QStringLiteral("simulated receiver"); }
    void start() override;
    void stop() override;

    // The antenna's true direction is its readout plus this.
    void setHiddenOffset(const Direction &offset) { m_hidden = offset; }
    Direction hiddenOffset() const { return m_hidden; }
    const Sky &sky() const { return m_sky; }

    // Faults: no more levels; levels that are not numbers; levels no higher
    // than this ceiling (a detector at its end); 0 for none.
    void setStalled(bool on) { m_stalled = on; }
    void setNotANumber(bool on) { m_notANumber = on; }
    void setCeiling(double power) { m_ceiling = power; }
    std::optional<double> ceiling() const override
    {
        return m_ceiling > 0 ? std::optional<double>(m_ceiling) : std::nullopt;
    }

    // Where the readout says the antenna points now, if anywhere.
    std::optional<Direction> antenna() const { return m_readout ? m_readout() : std::nullopt; }

    // The level without scatter, in kelvin, for a readout and a source.
    double kelvinAt(const Direction &readout, const Direction &source) const;
    // One level as the receiver reports it (scatter and faults included).
    double sample(const Direction &readout, const Direction &source);

private:
    void emitLevel();

    Where m_readout;
    Where m_source;
    Sky m_sky;
    Direction m_hidden;
    std::mt19937 m_random;
    std::normal_distribution<double> m_normal;
    QTimer m_timer;
    bool m_stalled = false;
    bool m_notANumber = false;
    double m_ceiling = 0;
};

namespace simreceiver {

// The angle between two directions on the sky, in degrees.
double separationDeg(const Direction &a, const Direction &b);

} // namespace simreceiver
