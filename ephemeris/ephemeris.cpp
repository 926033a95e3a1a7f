// SPDX-License-Identifier: GPL-3.0-or-later
#include "ephemeris/ephemeris.h"

#include <libnova/aberration.h>
#include <libnova/earth.h>
#include <libnova/lunar.h>
#include <libnova/nutation.h>
#include <libnova/parallax.h>
#include <libnova/precession.h>
#include <libnova/refraction.h>
#include <libnova/sidereal_time.h>
#include <libnova/solar.h>
#include <libnova/transform.h>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr double speedOfLightKmPerS = 299792.458;
constexpr double kmPerAu = 149597870.7;
constexpr double degree = M_PI / 180.0;

// WGS 84 ellipsoid.
constexpr double earthRadiusKm = 6378.137;
constexpr double earthFlattening = 1.0 / 298.257223563;

struct Vector {
    double x, y, z;
    Vector operator-(const Vector &o) const { return {x - o.x, y - o.y, z - o.z}; }
    double length() const { return std::sqrt(x * x + y * y + z * z); }
};

constexpr double secondsPerDay = 86400.0;
constexpr double julianDayJ2000 = 2451545.0;

// Terrestrial time runs ahead of UTC by the leap seconds (37 since 2017) and
// 32.184 s. libnova's own estimate (ln_get_jde) extrapolates to twice that.
constexpr double ttMinusUtcSeconds = 69.184;

double julianDay(const QDateTime &utc)
{
    return 2440587.5 + double(utc.toMSecsSinceEpoch()) / 86400000.0;
}

double ephemerisDay(double jd)
{
    return jd + ttMinusUtcSeconds / secondsPerDay;
}

// libnova's Sun and Moon come referred to the J2000 equinox; the sidereal
// time that turns them into azimuth counts from the equinox of date. Without
// this the Moon lands about 0.4 degrees off (26 years of precession).
ln_equ_posn ofDate(ln_equ_posn j2000, double jde)
{
    ln_equ_posn position;
    ln_get_equ_prec2(&j2000, julianDayJ2000, jde, &position);
    return position;
}

// Geocentric place of the Moon, equator and equinox of date.
struct MoonPlace {
    ln_equ_posn equ;
    double distanceKm;
};

MoonPlace moonAt(double jd)
{
    // The lunar theory runs on dynamical time; the Earth's rotation on UT.
    // Truncating its series at 1e-5 (the precision libnova's own distance
    // uses) keeps the place within 0.002 degrees of the full theory at a
    // hundredth of the cost, and place and distance from the same terms.
    constexpr double lunarPrecision = 1e-5;
    const double jde = ephemerisDay(jd);
    ln_equ_posn j2000;
    ln_get_lunar_equ_coords_prec(jde, &j2000, lunarPrecision);
    return {ofDate(j2000, jde), ln_get_lunar_earth_dist(jde)};
}

Vector equatorialVector(const ln_equ_posn &equ, double distanceKm)
{
    const double ra = equ.ra * degree;
    const double dec = equ.dec * degree;
    return {distanceKm * std::cos(dec) * std::cos(ra), distanceKm * std::cos(dec) * std::sin(ra),
            distanceKm * std::sin(dec)};
}

// The station at sea level on the ellipsoid, in the same frame as the Moon.
Vector stationVector(const GeoPosition &where, double jd)
{
    const double lat = where.latitudeDeg * degree;
    const double localSidereal = (ln_get_apparent_sidereal_time(jd) * 15.0 + where.longitudeDeg) * degree;
    const double b = (1.0 - earthFlattening) * (1.0 - earthFlattening);
    const double c = 1.0 / std::sqrt(std::cos(lat) * std::cos(lat) + b * std::sin(lat) * std::sin(lat));
    const double rhoCos = earthRadiusKm * c * std::cos(lat);
    return {rhoCos * std::cos(localSidereal), rhoCos * std::sin(localSidereal),
            earthRadiusKm * b * c * std::sin(lat)};
}

double rangeKm(const MoonPlace &moon, const GeoPosition &station, double jd)
{
    return (equatorialVector(moon.equ, moon.distanceKm) - stationVector(station, jd)).length();
}

// Topocentric azimuth (from north, through east) and elevation.
ln_hrz_posn horizontalPlace(ln_equ_posn equ, double distanceAu, const GeoPosition &station, double jd)
{
    ln_lnlat_posn observer {station.longitudeDeg, station.latitudeDeg};
    ln_equ_posn shift;
    ln_get_parallax(&equ, distanceAu, &observer, 0.0, jd, &shift);
    equ.ra += shift.ra;
    equ.dec += shift.dec;
    ln_hrz_posn hrz;
    ln_get_hrz_from_equ(&equ, &observer, jd, &hrz);
    hrz.az = std::fmod(hrz.az + 180.0, 360.0);  // libnova counts from south
    return hrz;
}

// Standard air for the refraction model: Bennett's formula is scaled to it.
constexpr double standardPressureHpa = 1010.0;
constexpr double standardTemperatureC = 10.0;
// Below this the formula runs off towards its pole; a target there is out of
// sight anyway, so it keeps the lift it has at this height.
constexpr double lowestRefractedElevation = -1.0;

// Mean place of date to true place of date: the equator turned about the
// ecliptic's pole by the nutation in longitude, then tilted by the nutation
// in obliquity. As rotations, so it holds up to the pole.
ln_equ_posn nutated(const ln_equ_posn &mean, double jde)
{
    ln_nutation nutation;
    ln_get_nutation(jde, &nutation);
    const double meanObliquity = nutation.ecliptic * degree;
    const double trueObliquity = meanObliquity + nutation.obliquity * degree;
    const double dPsi = nutation.longitude * degree;
    const double ra = mean.ra * degree, dec = mean.dec * degree;
    double x = std::cos(dec) * std::cos(ra), y = std::cos(dec) * std::sin(ra), z = std::sin(dec);
    auto aboutX = [](double angle, double &b, double &c) {  // turns the b, c plane by angle
        const double b0 = b;
        b = b0 * std::cos(angle) + c * std::sin(angle);
        c = -b0 * std::sin(angle) + c * std::cos(angle);
    };
    aboutX(meanObliquity, y, z);  // onto the ecliptic of date
    const double x0 = x;
    x = x0 * std::cos(dPsi) - y * std::sin(dPsi);  // longitudes grow by dPsi
    y = x0 * std::sin(dPsi) + y * std::cos(dPsi);
    aboutX(-trueObliquity, y, z);  // back onto the true equator
    return {std::fmod(std::atan2(y, x) / degree + 360.0, 360.0), std::asin(std::clamp(z, -1.0, 1.0)) / degree};
}

} // namespace

HorizontalPlace radioSourcePlace(const RadioSource &source, const GeoPosition &station, const QDateTime &utc)
{
    const double jd = julianDay(utc.toUTC());
    const double jde = ephemerisDay(jd);
    // libnova's ln_get_apparent_posn lands up to 0.005 degrees off the IAU
    // place, so the steps are taken here: annual aberration (on the J2000
    // place; the 26 years of precession change it by a tenth of an arc
    // second), precession, nutation.
    ln_equ_posn j2000 {source.raDeg, source.decDeg};
    ln_equ_posn aberrated;
    ln_get_equ_aber(&j2000, jde, &aberrated);
    ln_equ_posn apparent = nutated(ofDate(aberrated, jde), jde);
    // The apparent place counts from the true equinox of date, so the
    // sidereal time must include the nutation too (the mean one that
    // ln_get_hrz_from_equ takes would be off by up to a second of time).
    ln_lnlat_posn observer {station.longitudeDeg, station.latitudeDeg};
    ln_hrz_posn hrz;
    ln_get_hrz_from_equ_sidereal_time(&apparent, &observer, ln_get_apparent_sidereal_time(jd), &hrz);
    return {std::fmod(hrz.az + 180.0, 360.0), hrz.alt};  // libnova counts from south
}

double refractionDeg(double elevation)
{
    // Bennett's formula (libnova's) wants the elevation as seen. From the
    // geometric one, lift = R(elevation + lift) is solved by repeating it:
    // one pass alone would lift 6 arc minutes too much at the horizon; each
    // pass shrinks the error at least fourfold.
    // Far below the horizon no air bends anything seen: the model goes only
    // to a degree below it and fades out over the next, with no step.
    constexpr double fadedOutBelow = lowestRefractedElevation - 1.0;
    if (!(elevation > fadedOutBelow))
        return 0.0;
    const double from = std::max(elevation, lowestRefractedElevation);
    double lift = 0.0;
    for (int pass = 0; pass < 8; ++pass)
        lift = ln_get_refraction_adj(from + lift, standardPressureHpa, standardTemperatureC);
    if (elevation < lowestRefractedElevation)
        lift *= (elevation - fadedOutBelow) / (lowestRefractedElevation - fadedOutBelow);
    return lift;
}

SkySnapshot computeSky(const GeoPosition &home, const GeoPosition &dx, double frequencyMHz, const QDateTime &utc,
                       const SkyOptions &options)
{
    SkySnapshot sky;
    sky.utc = utc.toUTC();
    sky.frequencyMHz = frequencyMHz;
    const double jd = julianDay(sky.utc);

    const MoonPlace moon = moonAt(jd);
    const ln_hrz_posn moonHrz = horizontalPlace(moon.equ, moon.distanceKm / kmPerAu, home, jd);
    sky.moonAzimuth = moonHrz.az;
    sky.moonElevation = moonHrz.alt;

    ln_equ_posn sun;
    const double jde = ephemerisDay(jd);
    ln_get_solar_equ_coords(jde, &sun);
    const ln_hrz_posn sunHrz = horizontalPlace(ofDate(sun, jde), ln_get_earth_solar_dist(jde), home, jd);
    sky.sunAzimuth = sunHrz.az;
    sky.sunElevation = sunHrz.alt;

    if (options.source) {
        const HorizontalPlace place = radioSourcePlace(*options.source, home, sky.utc);
        sky.sourceKnown = true;
        sky.sourceAzimuth = place.azimuth;
        sky.sourceElevation = place.elevation;
    }
    if (options.refraction) {
        sky.moonElevation += refractionDeg(sky.moonElevation);
        sky.sunElevation += refractionDeg(sky.sunElevation);
        if (options.source)
            sky.sourceElevation += refractionDeg(sky.sourceElevation);
    }

    // Range rates by central differences over half a minute either side,
    // and the Doppler rate from the rates half a minute either side. The
    // topocentric range is smooth enough that this costs under a mm/s.
    constexpr double step = 30.0;
    // Each station's range at each of the five instants, once: the rates
    // below share them.
    std::array<double, 5> homeRanges;
    std::array<double, 5> dxRanges;
    for (int i = 0; i < 5; ++i) {
        const double day = jd + (i - 2) * step / secondsPerDay;
        const MoonPlace place = i == 2 ? moon : moonAt(day);
        homeRanges[i] = rangeKm(place, home, day);
        dxRanges[i] = rangeKm(place, dx, day);
    }
    auto rangeRate = [](const std::array<double, 5> &ranges, int i) {  // km/s at instant i
        return (ranges[i + 1] - ranges[i - 1]) / (2.0 * step);
    };
    const double hz = frequencyMHz * 1e6;
    auto selfDoppler = [&](int i) { return -2.0 * hz * rangeRate(homeRanges, i) / speedOfLightKmPerS; };
    auto dxDoppler = [&](int i) {
        return -hz * (rangeRate(homeRanges, i) + rangeRate(dxRanges, i)) / speedOfLightKmPerS;
    };
    sky.selfDopplerHz = selfDoppler(2);
    sky.dxDopplerHz = dxDoppler(2);
    sky.selfRateHzPerMin = (selfDoppler(3) - selfDoppler(1)) * 60.0 / (2.0 * step);
    sky.dxRateHzPerMin = (dxDoppler(3) - dxDoppler(1)) * 60.0 / (2.0 * step);
    return sky;
}

QByteArray fortranFixed(double value, int width, int decimals)
{
    const QByteArray stars(width, '*');
    if (!std::isfinite(value))
        return stars;
    QByteArray text = QByteArray::number(value, 'f', decimals);
    if (text.size() > width) {
        // Fortran drops the optional zero before the point when room is short.
        if (text.startsWith("0."))
            text.remove(0, 1);
        else if (text.startsWith("-0."))
            text.remove(1, 1);
    }
    if (text.size() > width)
        return stars;
    return text.rightJustified(width, ' ');
}

QByteArray fortranInteger(double value, int width)
{
    if (!std::isfinite(value) || std::fabs(value) >= 1e18)
        return QByteArray(width, '*');
    const QByteArray text = QByteArray::number(qint64(value));
    return text.size() > width ? QByteArray(width, '*') : text.rightJustified(width, ' ');
}

QByteArray formatTrackingFile(const SkySnapshot &sky, bool transmitting)
{
    const QByteArray time = sky.utc.toUTC().time().toString(QStringLiteral("hh:mm:ss")).toLatin1();
    auto place = [&](double azimuth, double elevation, const char *name) {
        return time + ',' + fortranFixed(azimuth, 5, 1) + ',' + fortranFixed(elevation, 5, 1) + ',' + name + '\n';
    };
    // Doppler values go out rounded to whole hertz, rates as computed.
    auto doppler = [](double hz) { return fortranFixed(std::round(hz), 8, 1); };

    QByteArray file;
    file += place(sky.moonAzimuth, sky.moonElevation, "Moon");
    file += place(sky.sunAzimuth, sky.sunElevation, "Sun");
    if (sky.sourceKnown)
        file += place(sky.sourceAzimuth, sky.sourceElevation, "Source");
    else
        file += time + ",  ---,  ---,Source\n";  // the fields stay where readers count them
    file += fortranInteger(std::floor(sky.frequencyMHz), 5) + ',' + doppler(sky.dxDopplerHz) + ','
        + fortranFixed(sky.dxRateHzPerMin, 8, 2) + ',' + doppler(sky.selfDopplerHz) + ','
        + fortranFixed(sky.selfRateHzPerMin, 8, 2) + ",Doppler, " + (transmitting ? 'T' : 'R') + '\n';
    return file;
}
