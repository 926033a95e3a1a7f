// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include <optional>

// Where the operator's rotator can point and how it should be moved: its
// stops, elevation travel, horizon mask, speeds and the manners of moving.
// Kept in a file of its own beside store.cfg; a station that never changes it
// never gets the file, and its commands stay the record plus the offsets.
struct RotatorGeometry {
    // As given: no stops known, every position goes as the record gives it.
    enum class AzimuthRange { AsGiven, From0To360, From0To450, Minus180To180, Custom };
    // Over the top: 0 to 180 degrees, the azimuth turned by 180.
    enum class ElevationRange { AsGiven, From0To90, From0To180 };
    // A target out of reach: the nearest position allowed, or no move at all.
    enum class OutOfReach { Nearest, Hold };

    AzimuthRange azimuthRange = AzimuthRange::AsGiven;
    double customMinAzimuth = 0;  // for Custom
    double customMaxAzimuth = 360;
    ElevationRange elevationRange = ElevationRange::AsGiven;
    // Azimuth (0..360) to the lowest elevation worth pointing at, straight
    // lines between the points, all the way round; empty: none.
    QList<QPair<double, double>> horizonMask;
    double azimuthSpeed = 2.0;    // degrees per second
    double elevationSpeed = 1.0;
    OutOfReach outOfReach = OutOfReach::Nearest;
    bool lead = false;            // point ahead of the target by its motion
    bool quietSeconds = false;    // move only in these seconds of each minute
    int quietFrom = 50;
    int quietTo = 59;
    bool stillWhileTransmitting = false;

    // The stops the range stands for, degrees.
    double minAzimuth() const;
    double maxAzimuth() const;
    double minElevation() const;
    double maxElevation() const;
    bool limitsAzimuth() const { return azimuthRange != AzimuthRange::AsGiven; }
    bool limitsElevation() const { return elevationRange != ElevationRange::AsGiven; }
    // The mask's lowest elevation at an azimuth (any turn); 0 without a mask.
    double maskElevation(double azimuth) const;

    bool operator==(const RotatorGeometry &other) const;
    bool operator!=(const RotatorGeometry &other) const { return !(*this == other); }

    // The mask as the operator types it: "0:5 90:12 180:3".
    QString maskText() const;
    // Nothing when a point is no "azimuth:elevation" pair in range.
    static std::optional<QList<QPair<double, double>>> parseMask(const QString &text);
    // Why parseMask() refuses the text ("point 3: '90:x' — elevation is not
    // a number"), or an empty string when it takes it.
    static QString maskProblem(const QString &text);
    // A mask as geometry.cfg keeps it: what parseMask() takes, or one kept by
    // an older version with two elevations at one azimuth, the higher taken.
    static std::optional<QList<QPair<double, double>>> parseStoredMask(const QString &text);

    static QString defaultPath() { return QStringLiteral("geometry.cfg"); }
    static RotatorGeometry read(const QString &path = defaultPath());
    bool write(const QString &path = defaultPath()) const;
};
