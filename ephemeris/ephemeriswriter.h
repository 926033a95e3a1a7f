// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ephemeris/ephemeris.h"

#include <QElapsedTimer>
#include <QObject>

class QTimer;

// Keeps a tracking data file up to date: on every whole second of its clock
// it computes the sky for the home and DX locators and replaces the file
// atomically, so a reader sees either the old file or the new one.
class EphemerisWriter : public QObject
{
    Q_OBJECT
public:
    explicit EphemerisWriter(QObject *parent = nullptr);

    // Each setter refuses (returns false, keeps the old value) what it cannot use.
    bool setHome(const QString &locator);
    bool setDx(const QString &locator);  // until set, the DX station is the home station
    bool setFrequencyMHz(double mhz);
    void setOutputPath(const QString &path);
    void setTransmitting(bool on);
    // What the Source line follows (none: 0, 0) and whether elevations
    // include refraction; see SkyOptions.
    void setSkyOptions(const SkyOptions &options) { m_options = options; }

    // Accelerated or fixed clocks for demos, tests and benchmarks: the clock
    // reads startUtc + rate * real time elapsed since this call; rate 0 stops it.
    void setClock(const QDateTime &startUtc, double rate = 1.0);
    QDateTime now() const;
    // Whether setClock() was called, and the rate it set (1 on the real time).
    bool hasOwnClock() const { return m_clockSet; }
    double clockRate() const { return m_rate; }

    // Computes for now() and replaces the file. False, with the reason in
    // lastError(), when something is missing or the file cannot be written.
    bool writeOnce();
    QString lastError() const { return m_lastError; }

    // Writes at once, then on every periodMs of the clock (in real time,
    // periodMs / rate, but no faster than the computation allows). Says
    // whether the first write succeeded.
    bool start(int periodMs = 1000);
    void stop();
    bool isRunning() const { return m_running; }

    SkySnapshot lastSky() const { return m_lastSky; }

signals:
    void written(const SkySnapshot &sky);
    void failed(const QString &error);  // a timed write that did not happen

private:
    bool tick();
    void scheduleNext();

    std::optional<GeoPosition> m_home;
    std::optional<GeoPosition> m_dx;
    double m_frequencyMHz = 0;
    QString m_path;
    bool m_transmitting = false;
    SkyOptions m_options;

    bool m_clockSet = false;
    QDateTime m_clockStart;
    double m_rate = 1.0;
    QElapsedTimer m_elapsed;

    QTimer *m_timer;
    int m_periodMs = 1000;
    bool m_running = false;
    SkySnapshot m_lastSky;
    QString m_lastError;
};
