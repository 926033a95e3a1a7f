// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

#include <optional>

// What the receiver hears, as one number a few times a second: the noise
// power in the receiver's passband, linear (any unit, greater than zero).
// A sound card, Hamlib's signal strength and the simulated receiver are
// each one; a calibration reads any of them alike.
class LevelSource : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual QString name() const = 0;
    // A meter in coarse steps (an S-meter) repeats its reading on steady
    // noise; a fine one never does, unless it is at its end.
    virtual bool quantised() const { return false; }
    // The highest level the source can give, where it knows it.
    virtual std::optional<double> ceiling() const { return std::nullopt; }
    // Levels until stop(); a source that cannot start says so by failed().
    virtual void start() = 0;
    virtual void stop() = 0;

signals:
    void level(double power);
    // The source stopped on its own, with the reason, once.
    void failed(const QString &reason);
};
