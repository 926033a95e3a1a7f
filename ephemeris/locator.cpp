// SPDX-License-Identifier: GPL-3.0-or-later
#include "ephemeris/locator.h"

namespace {

// Index of c within the first count letters of the alphabet, or -1.
int letterIndex(QChar c, int count)
{
    const int i = c.toUpper().unicode() - 'A';
    return i >= 0 && i < count ? i : -1;
}

int digitIndex(QChar c)
{
    const int i = c.unicode() - '0';
    return i >= 0 && i <= 9 ? i : -1;
}

} // namespace

std::optional<GeoPosition> positionOfLocator(const QString &text)
{
    const QString locator = text.trimmed();
    if (locator.size() != 4 && locator.size() != 6)
        return std::nullopt;

    // Fields of 20° x 10°, squares of 2° x 1°, subsquares of 5' x 2.5'.
    const int fieldLon = letterIndex(locator[0], 18);
    const int fieldLat = letterIndex(locator[1], 18);
    const int squareLon = digitIndex(locator[2]);
    const int squareLat = digitIndex(locator[3]);
    if (fieldLon < 0 || fieldLat < 0 || squareLon < 0 || squareLat < 0)
        return std::nullopt;

    double lon = -180.0 + fieldLon * 20.0 + squareLon * 2.0;
    double lat = -90.0 + fieldLat * 10.0 + squareLat * 1.0;
    // A square alone stands for its subsquare "mm", as WSJT-X takes it: the
    // same grid gives the same Doppler in both programs.
    const int subLon = locator.size() == 4 ? 12 : letterIndex(locator[4], 24);
    const int subLat = locator.size() == 4 ? 12 : letterIndex(locator[5], 24);
    if (subLon < 0 || subLat < 0)
        return std::nullopt;
    lon += (subLon + 0.5) * (2.0 / 24.0);
    lat += (subLat + 0.5) * (1.0 / 24.0);
    return GeoPosition {lat, lon};
}
