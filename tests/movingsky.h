// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A sky for tests at a fixed hour: each target stands at a place of its own
// and climbs or sinks at a steady rate from there, so that where it is at any
// time is known without an ephemeris. It computes the pass ahead as the
// built-in sky does, or gives only the present, as a tracking file does.

#include "station/trackingsource.h"

#include <QDateTime>

#include <map>

class MovingSky : public TrackingSource
{
public:
    struct Body {
        Direction at;  // at the hour
        double degPerMinute = 0;  // in elevation; negative: setting
    };

    MovingSky(const QDateTime &hour, bool looksAhead, double frequencyMHz = 1296.0)
        : m_hour(hour)
        , m_looksAhead(looksAhead)
        , m_frequencyMHz(frequencyMHz)
    {
    }
    // Where the target stands at the hour, and how it moves.
    void place(TrackingTarget target, const Body &body) { m_bodies[target] = body; }

    bool read(TrackingTarget target, TrackingRecord &record, const std::function<void(const QString &)> &) override
    {
        return fill(target, m_hour, record);
    }
    QString problem() const override { return {}; }
    bool looksAhead() const override { return m_looksAhead; }
    bool readAt(TrackingTarget target, const QDateTime &utc, TrackingRecord &record) override
    {
        return m_looksAhead && fill(target, utc, record);
    }

private:
    bool fill(TrackingTarget target, const QDateTime &utc, TrackingRecord &record) const
    {
        const auto body = m_bodies.find(target);
        if (body == m_bodies.end())
            return false;
        record.azimuth = body->second.at.azimuth;
        record.elevation = body->second.at.elevation + body->second.degPerMinute * double(m_hour.msecsTo(utc)) / 60000;
        record.frequency = m_frequencyMHz;
        return true;
    }

    QDateTime m_hour;
    bool m_looksAhead;
    double m_frequencyMHz;
    std::map<TrackingTarget, Body> m_bodies;
};
