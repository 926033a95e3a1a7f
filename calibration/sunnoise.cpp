// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibration/sunnoise.h"

#include <QtMath>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

constexpr double boltzmann = 1.380649e-23;  // J/K
constexpr double lightSpeed = 299792458.0;  // m/s
constexpr double sfu = 1e-22;  // W m^-2 Hz^-1
constexpr double sunDiameterDeg = 0.53;
constexpr double moonDiameterDeg = 0.52;
constexpr double moonKelvin = 210;
constexpr double jansky = 1e-26;  // W m^-2 Hz^-1
constexpr double coronaKelvin = 1e6;

// Mean and the standard error of the mean.
std::pair<double, double> meanAndError(const QList<double> &levels)
{
    const double n = double(levels.size());
    const double mean = std::accumulate(levels.cbegin(), levels.cend(), 0.0) / n;
    double squares = 0;
    for (double level : levels)
        squares += (level - mean) * (level - mean);
    return {mean, std::sqrt(squares / (n - 1) / n)};
}

} // namespace

std::optional<YFactor> sunnoise::measure(const QList<double> &on, const QList<double> &off)
{
    if (on.size() < 2 || off.size() < 2)
        return std::nullopt;
    const auto positive = [](double level) { return std::isfinite(level) && level > 0; };
    if (!std::all_of(on.cbegin(), on.cend(), positive) || !std::all_of(off.cbegin(), off.cend(), positive))
        return std::nullopt;
    const auto [hot, hotError] = meanAndError(on);
    const auto [cold, coldError] = meanAndError(off);
    YFactor y;
    y.db = 10 * std::log10(hot / cold);
    y.errorDb = 10 / std::log(10.0) * std::hypot(hotError / hot, coldError / cold);
    y.onLevels = on.size();
    y.offLevels = off.size();
    return y;
}

double sunnoise::receiverKelvin(double noiseFigureDb)
{
    return 290.0 * (std::pow(10.0, noiseFigureDb / 10) - 1);
}

double sunnoise::quietSunKelvin(double frequencyMHz)
{
    const double ghz = frequencyMHz / 1000;
    return std::min(coronaKelvin, 140077.0 * std::pow(ghz, -2.1) + 10880.0);
}

double sunnoise::fluxAt(double frequencyMHz, double measuredSfu, double measuredAtMHz)
{
    const double ratio = quietSunKelvin(frequencyMHz) * frequencyMHz * frequencyMHz
        / (quietSunKelvin(measuredAtMHz) * measuredAtMHz * measuredAtMHz);
    return measuredSfu * ratio;
}

double sunnoise::gainDbi(const StationNoise &station)
{
    if (station.gainDbi)
        return *station.gainDbi;
    const double width = qDegreesToRadians(station.beamwidthDeg);
    return 10 * std::log10(4 * M_PI / (M_PI / (4 * std::log(2.0)) * width * width));
}

double sunnoise::diskDilution(double diskDeg, double beamwidthDeg)
{
    // A uniform disk of radius R under exp(-4 ln2 r^2 / w^2), over its area:
    // (1 - exp(-x)) / x with x = 4 ln2 R^2 / w^2 = ln2 (D/w)^2.
    const double x = std::log(2.0) * std::pow(diskDeg / beamwidthDeg, 2);
    return x < 1e-12 ? 1.0 : (1 - std::exp(-x)) / x;
}

double sunnoise::expectedSunDb(const StationNoise &station, double fluxSfu)
{
    const double wavelength = lightSpeed / (station.frequencyMHz * 1e6);
    const double gain = std::pow(10.0, gainDbi(station) / 10);
    const double area = gain * wavelength * wavelength / (4 * M_PI);
    // One polarisation takes half of the Sun's unpolarised flux.
    const double kelvin = fluxSfu * sfu * area / (2 * boltzmann);
    return 10 * std::log10(1 + kelvin * diskDilution(sunDiameterDeg, station.beamwidthDeg) / station.systemKelvin);
}

double sunnoise::expectedMoonDb(const StationNoise &station)
{
    // A disk of brightness T fills (pi D^2 / 4) / (1.133 w^2) of the beam,
    // seen diluted as diskDilution says: T (1 - exp(-ln2 (D/w)^2)).
    const double x = std::log(2.0) * std::pow(moonDiameterDeg / station.beamwidthDeg, 2);
    return 10 * std::log10(1 + moonKelvin * (1 - std::exp(-x)) / station.systemKelvin);
}

std::optional<double> sunnoise::sourceJansky(const QString &name, double frequencyMHz, double year)
{
    const double l = std::log10(frequencyMHz);
    const auto fading = [year](double percentAYear) { return std::pow(1 - percentAYear / 100, year - 1965.0); };
    if (name == QLatin1String("Cas A") && frequencyMHz >= 300 && frequencyMHz <= 31000)
        return std::pow(10.0, 5.745 - 0.770 * l) * fading(0.97 - 0.30 * std::log10(frequencyMHz / 1000));
    if (name == QLatin1String("Cyg A") && frequencyMHz >= 20 && frequencyMHz <= 2000)
        return std::pow(10.0, 4.695 + 0.085 * l - 0.178 * l * l);
    if (name == QLatin1String("Cyg A") && frequencyMHz > 2000 && frequencyMHz <= 31000)
        return std::pow(10.0, 7.161 - 1.244 * l);
    if (name == QLatin1String("Tau A") && frequencyMHz >= 1000 && frequencyMHz <= 35000)
        return std::pow(10.0, 3.915 - 0.299 * l) * fading(0.167);
    return std::nullopt;
}

double sunnoise::expectedPointDb(const StationNoise &station, double janskys)
{
    const double wavelength = lightSpeed / (station.frequencyMHz * 1e6);
    const double area = std::pow(10.0, gainDbi(station) / 10) * wavelength * wavelength / (4 * M_PI);
    return 10 * std::log10(1 + janskys * jansky * area / (2 * boltzmann) / station.systemKelvin);
}
