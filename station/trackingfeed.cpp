// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/trackingfeed.h"

#include "ephemeris/locator.h"
#include "ephemeris/radiosource.h"
#include "links/showntext.h"
#include "settings/settingsfile.h"

#include <QFileInfo>

TrackingFeed::TrackingFeed(StationContext &context, SettingsFile &settings)
    : m_context(context)
    , m_store(settings)
    , m_settings(SourceSettings::read())
{
}

void TrackingFeed::choose(double skyMHz)
{
    const auto home = positionOfLocator(m_settings.homeLocator);
    if (m_settings.builtIn && home) {
        SkyOptions options;
        options.source = radiosource::fromText(m_settings.radioSource);  // none when empty
        options.refraction = m_settings.refraction;
        auto sky = std::make_unique<SkyTrackingSource>(*home, positionOfLocator(m_settings.dxLocator), skyMHz, options);
        sky->setClock([this] { return m_context.now(); });  // follows a clock set later too
        m_source = std::move(sky);
        return;
    }
    if (m_dataPath)
        m_source = std::make_unique<FileTrackingSource>(*m_dataPath);
    else
        m_source.reset();
}

void TrackingFeed::setSettings(const SourceSettings &settings, double skyMHz)
{
    m_settings = settings;
    if (!m_settings.write())
        m_context.log(QStringLiteral("%1 cannot be written").arg(SourceSettings::defaultPath()));
    // Not silently: the sky cannot be computed for a station nobody placed.
    if (settings.builtIn && !positionOfLocator(settings.homeLocator))
        m_context.log(QStringLiteral("the sky is computed here only with the station's locator (not \"%1\"): "
                                     "the tracking data file is used meanwhile")
                          .arg(shownText(settings.homeLocator.left(16).toUtf8())));
    choose(skyMHz);
}

void TrackingFeed::setDataFile(const QString &path, double skyMHz)
{
    m_dataPath = path;
    if (!path.isEmpty() && QFileInfo::exists(path))
        m_store.writeFilename(QFileInfo(path).path());
    choose(skyMHz);
}

QString TrackingFeed::dataFolder() const
{
    const QString folder = m_store.readFilename();
    return folder == QLatin1String("error") ? QStringLiteral("C:/") : folder;
}

QString TrackingFeed::targetRefusal(TrackingTarget target) const
{
    const auto *sky = dynamic_cast<const SkyTrackingSource *>(m_source.get());
    if (target == TrackingTarget::Source && sky && !sky->placesSource())
        return QStringLiteral("Source refused: no radio source is chosen for the sky computed here "
                              "(\"Tracking source...\")");
    return {};
}

bool TrackingFeed::read(TrackingTarget target, TrackingRecord &record)
{
    // Another target's last place is not this one's.
    if (target != m_lastTarget) {
        m_lastTarget = target;
        m_lastRecordTime = {};
    }
    bool clean = true;
    const auto log = [this, &clean](const QString &text) {
        clean = false;
        m_context.health.error(StationHealth::Source::Data, text);
    };
    if (!m_source || !m_source->read(target, record, log))
        return false;
    if (clean)
        m_context.health.success(StationHealth::Source::Data);
    m_lastRecord = record;
    m_lastRecordTime = QDateTime::currentDateTimeUtc();
    m_lastRecordClock = m_context.now();
    if (record.elevation < 0)
        m_context.health.raise(Alarm::BelowHorizon, QStringLiteral("target below the horizon: elevation %1")
                                                        .arg(record.elevation, 0, 'f', 2));
    else
        m_context.health.clear(Alarm::BelowHorizon);
    return true;
}

std::optional<Direction> TrackingFeed::directionAt(TrackingTarget target, const QDateTime &utc)
{
    TrackingRecord record;
    if (!m_source || !m_source->readAt(target, utc, record))
        return std::nullopt;
    return Direction {record.azimuth, record.elevation};
}

std::optional<Direction> TrackingFeed::peek(TrackingTarget target)
{
    TrackingRecord record;
    if (!m_source || !m_source->read(target, record, [](const QString &) {}))
        return std::nullopt;
    return Direction {record.azimuth, record.elevation};
}

// Whole seconds of the clock, so that a view's age steps with its clock
// rather than between two of its ticks.
std::optional<qint64> TrackingFeed::dataAgeSeconds() const
{
    if (!m_lastRecordTime.isValid())
        return std::nullopt;
    const QDateTime clock = m_context.now();
    const qint64 seconds = m_lastRecord.fileTime
                               ? msBehind(*m_lastRecord.fileTime, clock.time()) / 1000
                               : clock.toSecsSinceEpoch() - m_lastRecordClock.toSecsSinceEpoch();
    return qMax<qint64>(0, seconds);
}

void TrackingFeed::checkAge(bool tracking)
{
    StationHealth &health = m_context.health;
    const QString path = m_source ? m_source->filePath() : QString();
    const QFileInfo file(path);  // asked once a second: one look at the file
    if (!tracking || path.isEmpty() || !file.exists()) {
        health.clear(Alarm::DataStale, false);
        return;
    }
    const qint64 staleMs = 1000 * qMax<qint64>(10, 3 * qint64(qMax<quint32>(1u, m_context.times.repetitionTime)));
    const qint64 ageMs = file.lastModified().msecsTo(QDateTime::currentDateTimeUtc());
    qint64 behind = 0;
    if (m_lastRecord.fileTime) {
        // Against the clock when it was read: on a demo's faster clock the
        // time since that read is many seconds of the file's time.
        behind = msBehind(*m_lastRecord.fileTime, m_lastRecordClock.time()) / 1000;
    }
    if (ageMs > staleMs)
        health.raise(Alarm::DataStale,
                     QStringLiteral("tracking data stale: %1 not rewritten for %2 s").arg(path).arg(ageMs / 1000));
    else if (behind > 10)
        health.raise(Alarm::DataStale, QStringLiteral("tracking data stale: written for %1 UTC, %2 s behind the clock")
                                           .arg(m_lastRecord.fileTime->toString(QStringLiteral("hh:mm:ss")))
                                           .arg(behind));
    else
        health.clear(Alarm::DataStale);
}
