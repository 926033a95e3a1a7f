// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A second opinion on where a fixed source stands: ERFA's IAU 2006/2000A
// reduction (light deflection, aberration, precession-nutation, Earth
// rotation, diurnal aberration). Linked into tests and benchmarks only.

#include "ephemeris/ephemeris.h"

#include <erfa.h>

#include <QDateTime>

#include <cmath>
#include <optional>

namespace erfareference {

constexpr double degree = M_PI / 180.0;

// Air for the refraction comparison; pressure 0 turns ERFA's refraction off.
struct Air {
    double pressureHpa = 0;
    double temperatureC = 10;
};

// Observed azimuth (from north through east) and elevation in degrees, for
// UT1 = UTC and no polar motion, the station at sea level.
inline std::optional<HorizontalPlace> place(const RadioSource &source, const GeoPosition &station,
                                            const QDateTime &utc, Air air = {})
{
    const QDateTime t = utc.toUTC();
    double utc1 = 0, utc2 = 0;
    const double seconds = t.time().second() + t.time().msec() / 1000.0;
    if (eraDtf2d("UTC", t.date().year(), t.date().month(), t.date().day(), t.time().hour(), t.time().minute(),
                 seconds, &utc1, &utc2)
        < 0)
        return std::nullopt;
    double aob = 0, zob = 0, hob = 0, dob = 0, rob = 0, eo = 0;
    // Dry air at visible light, the conditions Bennett's formula was fitted to.
    const int status = eraAtco13(source.raDeg * degree, source.decDeg * degree, 0, 0, 0, 0, utc1, utc2, 0.0,
                                 station.longitudeDeg * degree, station.latitudeDeg * degree, 0.0, 0.0, 0.0,
                                 air.pressureHpa, air.temperatureC, 0.0, 0.574, &aob, &zob, &hob, &dob, &rob, &eo);
    // +1 is a "dubious year": past ERFA's leap-second table, which both
    // sides then take as it ends.
    if (status < 0)
        return std::nullopt;
    return HorizontalPlace {std::fmod(aob / degree + 360.0, 360.0), 90.0 - zob / degree};
}

// The angle between two directions, in degrees: azimuth differences shrink
// towards the zenith, where they mean nothing.
inline double separationDeg(const HorizontalPlace &a, const HorizontalPlace &b)
{
    return eraSeps(a.azimuth * degree, a.elevation * degree, b.azimuth * degree, b.elevation * degree) / degree;
}

} // namespace erfareference
