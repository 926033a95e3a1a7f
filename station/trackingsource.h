// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ephemeris/ephemeris.h"
#include "station/direction.h"
#include "station/trackingdata.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

// Where the sky puts the target; nothing for a Source the sky does not place.
std::optional<Direction> targetPlace(const SkySnapshot &sky, TrackingTarget target);

// Where each repetition's tracking record comes from.
class TrackingSource
{
public:
    virtual ~TrackingSource() = default;
    // False when there is nothing to act on this time; problems go to log.
    virtual bool read(TrackingTarget target, TrackingRecord &record,
                      const std::function<void(const QString &)> &log) = 0;
    // What keeps the source from giving a record at all, worded for the
    // log when tracking starts; empty when it is ready.
    virtual QString problem() const = 0;
    // The file another program keeps rewriting, whose age tells whether it
    // still does; empty for a source computed here.
    virtual QString filePath() const { return {}; }
    // The record for another time, where the source can compute one (the
    // pass ahead); false for a file, which holds only the present.
    // Whether readAt() can give one, known without computing it.
    virtual bool looksAhead() const { return false; }
    virtual bool readAt(TrackingTarget target, const QDateTime &utc, TrackingRecord &record)
    {
        Q_UNUSED(target);
        Q_UNUSED(utc);
        Q_UNUSED(record);
        return false;
    }
};

// The tracking data file another program keeps up to date.
class FileTrackingSource : public TrackingSource
{
public:
    explicit FileTrackingSource(const QString &path) : m_path(path) {}
    bool read(TrackingTarget target, TrackingRecord &record,
              const std::function<void(const QString &)> &log) override;
    QString problem() const override;
    QString filePath() const override { return m_path; }

private:
    QString m_path;
};

// The same record computed here from the two stations' locators, so that
// no second program has to run. The Source is the radio source of the
// options, if any; without one it has no position of its own.
class SkyTrackingSource : public TrackingSource
{
public:
    SkyTrackingSource(const GeoPosition &home, const std::optional<GeoPosition> &dx, double frequencyMHz,
                      const SkyOptions &options = {});
    bool read(TrackingTarget target, TrackingRecord &record,
              const std::function<void(const QString &)> &log) override;
    QString problem() const override { return {}; }
    bool looksAhead() const override { return true; }
    bool readAt(TrackingTarget target, const QDateTime &utc, TrackingRecord &record) override;
    // Without a radio source the Source has no place: it is not steered to.
    bool placesSource() const { return m_options.source.has_value(); }
    static QString noRadioSource();
    // A clock of its own for tests and demos; the system clock otherwise.
    void setClock(std::function<QDateTime()> now) { m_now = std::move(now); }

private:
    GeoPosition m_home;
    GeoPosition m_dx;
    double m_frequencyMHz;
    SkyOptions m_options;
    std::function<QDateTime()> m_now;
};
