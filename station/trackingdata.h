// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QTime>

#include <functional>
#include <optional>

// The values of one reading of the tracking data file.
struct TrackingRecord {
    double elevation = 0;
    double azimuth = 0;
    double frequency = 0;
    double relativeSpeed = 0;
    double dopplerHome = 0;
    double dopplerDx = 0;
    double dopplerHomeRate = 0;  // Hz per minute, as the file's last field gives it
    std::optional<QTime> fileTime;  // the UTC time the file was written for, where it says
};

// Whose position the antenna follows.
enum class TrackingTarget { Moon, Sun, Source };
// "Moon", "Sun" or "Source", as the views name it.
const char *targetName(TrackingTarget target);

// Reads the tracking data file at path into record. False when there is
// nothing to act on: no such file (nothing logged), the file cannot be opened
// ("File read error") or it holds fewer than 17 fields ("wrong file"). A field
// that is not a valid number is reported through log and taken as 0.0; the
// read still succeeds.
bool readTrackingData(const QString &path, TrackingTarget target, TrackingRecord &record,
                      const std::function<void(const QString &)> &log);
