// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

#include <optional>

// The Y-factor: the noise with the antenna on the target over the noise on
// cold sky, in dB, and what the station should see on the Sun.
struct YFactor {
    double db = 0;
    double errorDb = 0;  // one standard deviation, from the levels' scatter
    qsizetype onLevels = 0;
    qsizetype offLevels = 0;
};

// The station as the operator describes it for the expected Y.
struct StationNoise {
    double frequencyMHz = 1296;
    std::optional<double> gainDbi;  // none: from the half-power width
    double beamwidthDeg = 2.0;
    double systemKelvin = 100;  // cold sky and receiver together
};

namespace sunnoise {

// Y from levels on the target and on cold sky (linear powers); nothing
// without two of each or with a level that is not a positive number.
std::optional<YFactor> measure(const QList<double> &on, const QList<double> &off);

// The receiver's noise temperature for a noise figure in dB (IEEE, 290 K).
double receiverKelvin(double noiseFigureDb);

// The quiet Sun's brightness temperature: Zirin, Baumert and Hurford's fit
// (ApJ 370, 1991), 140077 f^-2.1 + 10880 K with f in GHz, measured from 1.4
// to 18 GHz; below, it is held at the corona's 1e6 K.
double quietSunKelvin(double frequencyMHz);

// The Sun's flux at the station's frequency from one measured at another
// (the 10.7 cm flux at 2800 MHz as published daily), in solar flux units
// (1e-22 W m^-2 Hz^-1), scaled along the quiet Sun's spectrum: flux goes
// as brightness temperature times frequency squared.
double fluxAt(double frequencyMHz, double measuredSfu, double measuredAtMHz = 2800);

// The antenna's gain in dBi: the operator's, or from the half-power width
// of a Gaussian beam (solid angle 1.133 w^2) with no losses.
double gainDbi(const StationNoise &station);

// The share of a uniform disk of this diameter that a Gaussian beam sees,
// against a point of the same flux on its axis.
double diskDilution(double diskDeg, double beamwidthDeg);

// The Y the station should see on the Sun (a disk of 0.53 degrees under the
// half-power width) of this flux at the station's frequency, one
// polarisation received.
double expectedSunDb(const StationNoise &station, double fluxSfu);

// The Y on the Moon: a disk of 0.52 degrees at 210 K, about what it shows
// at decimetre wavelengths whatever its phase, under the half-power width
// (the sky it hides behind it left out).
double expectedMoonDb(const StationNoise &station);

// A radio source's flux density in jansky at the frequency and date (a
// decimal year), from Baars, Genzel, Pauliny-Toth and Witzel's spectra (A&A
// 61, 1977), Cas A and Tau A fading from 1965 at their rates there; nothing
// for another source or outside the frequencies each spectrum was measured at.
std::optional<double> sourceJansky(const QString &name, double frequencyMHz, double year);

// The Y of a point source of this flux density, one polarisation received.
double expectedPointDb(const StationNoise &station, double jansky);

} // namespace sunnoise
