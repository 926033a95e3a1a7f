#pragma once

#include "ephemeris/locator.h"

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>

// What the station sees at one instant: topocentric positions in degrees
// (azimuth from north through east; geometric elevation, without refraction,
// as EME tracking files carry it), Doppler shifts in Hz and their rates in Hz
// per minute at the given frequency.
struct SkySnapshot {
    QDateTime utc;
    double moonAzimuth = 0;
    double moonElevation = 0;
    double sunAzimuth = 0;
    double sunElevation = 0;
    double selfDopplerHz = 0;      // own echo: station -> Moon -> station
    double selfRateHzPerMin = 0;
    double dxDopplerHz = 0;        // station -> Moon -> DX station
    double dxRateHzPerMin = 0;
    double frequencyMHz = 0;
};
Q_DECLARE_METATYPE(SkySnapshot)

SkySnapshot computeSky(const GeoPosition &home, const GeoPosition &dx, double frequencyMHz, const QDateTime &utc);

// The four-line tracking data file for sky, LF line ends, " T" at the end of
// the last line while transmitting and " R" otherwise.
QByteArray formatTrackingFile(const SkySnapshot &sky, bool transmitting);

// Fortran Fw.d and Iw edit descriptors: right-aligned in width characters,
// all asterisks when the value does not fit (or is not a number).
QByteArray fortranFixed(double value, int width, int decimals);
QByteArray fortranInteger(double value, int width);
