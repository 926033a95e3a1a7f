// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/sourcesettings.h"
#include "station/pointingplanner.h"
#include "station/stationcontext.h"
#include "station/trackingsource.h"

#include <QDateTime>
#include <QString>

#include <memory>
#include <optional>

class SettingsFile;

// Where the target's position and shifts come from, and the last of them:
// the tracking data file or the sky computed here (source.cfg), each
// repetition's read with its errors, and whether the data still comes.
class TrackingFeed
{
public:
    TrackingFeed(StationContext &context, SettingsFile &settings);

    // The built-in sky when chosen and its home locator is good; otherwise
    // the file, once one was chosen. skyMHz: the frequency the sky's
    // Doppler is computed for.
    void choose(double skyMHz);
    void setSettings(const SourceSettings &settings, double skyMHz);
    const SourceSettings &settings() const { return m_settings; }
    // The tracking data file (an empty path: none chosen); its folder is kept.
    void setDataFile(const QString &path, double skyMHz);
    QString dataFolder() const;
    void setSource(std::unique_ptr<TrackingSource> source) { m_source = std::move(source); }
    const TrackingSource *source() const { return m_source.get(); }

    // Why the target cannot be followed from the source chosen (the built-in
    // sky's Source with no radio source set), or empty.
    QString targetRefusal(TrackingTarget target) const;
    // This repetition's record; false when there is none to act on.
    bool read(TrackingTarget target, TrackingRecord &record);
    // The target's direction at another time, where the source computes it.
    bool looksAhead() const { return m_source && m_source->looksAhead(); }
    std::optional<Direction> directionAt(TrackingTarget target, const QDateTime &utc);
    // The target's direction now, read without a word in the log or an
    // alarm, the last record kept.
    std::optional<Direction> peek(TrackingTarget target);

    const TrackingRecord &lastRecord() const { return m_lastRecord; }
    QDateTime lastRecordTime() const { return m_lastRecordTime; }
    std::optional<qint64> dataAgeSeconds() const;
    // A tracking program that stopped leaves a file that still reads well.
    void checkAge(bool tracking);

private:
    StationContext &m_context;
    SettingsFile &m_store;
    SourceSettings m_settings;
    std::optional<QString> m_dataPath;  // none until the operator first chose (or cancelled)
    std::unique_ptr<TrackingSource> m_source;
    TrackingRecord m_lastRecord;
    TrackingTarget m_lastTarget = TrackingTarget::Moon;  // whose place the last record gives
    QDateTime m_lastRecordTime;
    QDateTime m_lastRecordClock;  // the sky's time at that read
};
