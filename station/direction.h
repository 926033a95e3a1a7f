// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A direction in degrees: azimuth from north through east, elevation.
struct Direction {
    double azimuth = 0;
    double elevation = 0;
};
