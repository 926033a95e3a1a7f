// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

// A point on the Earth's surface, degrees, north and east positive.
struct GeoPosition {
    double latitudeDeg = 0;
    double longitudeDeg = 0;
};

// The position a Maidenhead locator stands for: 4 characters ("JO70") mean
// the centre of the square, 6 ("JO70fd") the centre of the subsquare. Case
// does not matter; anything else yields nothing.
std::optional<GeoPosition> positionOfLocator(const QString &locator);
