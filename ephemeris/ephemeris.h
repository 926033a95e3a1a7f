// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ephemeris/locator.h"
#include "ephemeris/radiosource.h"

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>

// What the station sees at one instant: topocentric positions in degrees
// (azimuth from north through east; geometric elevation, without refraction,
// as EME tracking files carry it, unless refraction was asked for), Doppler
// shifts of the Moon's echo in Hz and their rates in Hz per minute at the
// given frequency.
struct SkySnapshot {
    QDateTime utc;
    double moonAzimuth = 0;
    double moonElevation = 0;
    double sunAzimuth = 0;
    double sunElevation = 0;
    bool sourceKnown = false;      // a radio source was chosen; otherwise the Source has no place
    double sourceAzimuth = 0;      // 0, 0 when none was chosen
    double sourceElevation = 0;
    double selfDopplerHz = 0;      // own echo: station -> Moon -> station
    double selfRateHzPerMin = 0;
    double dxDopplerHz = 0;        // station -> Moon -> DX station
    double dxRateHzPerMin = 0;
    double frequencyMHz = 0;
};
Q_DECLARE_METATYPE(SkySnapshot)

// What to compute beside the Moon and the Sun, and how.
struct SkyOptions {
    std::optional<RadioSource> source;  // the Source line's target
    // Elevations as seen through a standard atmosphere (1010 hPa, 10 C)
    // instead of geometric ones. Off by default, as tracking files are.
    bool refraction = false;
};

SkySnapshot computeSky(const GeoPosition &home, const GeoPosition &dx, double frequencyMHz, const QDateTime &utc,
                       const SkyOptions &options = {});

// A fixed source's geometric azimuth and elevation at the station: its J2000
// place carried to the date (precession, nutation, annual aberration), then
// turned by the apparent sidereal time. Within a few arc seconds of the
// IAU 2006/2000 reduction.
struct HorizontalPlace {
    double azimuth = 0;
    double elevation = 0;
};
HorizontalPlace radioSourcePlace(const RadioSource &source, const GeoPosition &station, const QDateTime &utc);

// How much the air lifts a target at this geometric elevation, in degrees.
double refractionDeg(double elevation);

// The four-line tracking data file for sky, LF line ends, " T" at the end of
// the last line while transmitting and " R" otherwise. Without a radio
// source the Source line keeps its place and its fields, but they hold
// "  ---", which no reader takes for a position.
QByteArray formatTrackingFile(const SkySnapshot &sky, bool transmitting);

// Fortran Fw.d and Iw edit descriptors: right-aligned in width characters,
// all asterisks when the value does not fit (or is not a number).
QByteArray fortranFixed(double value, int width, int decimals);
QByteArray fortranInteger(double value, int width);
