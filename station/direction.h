// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cmath>

// A direction in degrees: azimuth from north through east, elevation.
struct Direction {
    double azimuth = 0;
    double elevation = 0;
};

// An azimuth difference the shorter way round, in [-180, 180]: 370 - 10 is 0.
inline double wrap180(double degrees)
{
    return std::remainder(degrees, 360.0);
}
