// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The window-free station in a folder of its own, at store.cfg's defaults
// (a repetition every 2 s, a readout every 200 ms), with its log kept.

#include "station/trackingcontrol.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>

constexpr quint32 defaultRepetitionSeconds = 2;
constexpr quint32 defaultMessageDelayMs = 200;

struct DefaultStation {
    DefaultStation()
    {
        QObject::connect(&station, &TrackingControl::message, [this](const QString &text) { log << text; });
        station.setTimes(defaultRepetitionSeconds, defaultMessageDelayMs);
    }
    int count(const QString &start) const
    {
        return int(std::count_if(log.begin(), log.end(), [&](const QString &line) { return line.startsWith(start); }));
    }
    QString all() const { return log.join(QLatin1Char('\n')); }

    QTemporaryDir dir;
    bool inDir = QDir::setCurrent(dir.path());  // before the station reads its settings files
    TrackingControl station;
    QStringList log;
};
