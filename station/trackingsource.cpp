// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/trackingsource.h"

#include "ephemeris/ephemeris.h"

#include <QFile>

#include <utility>

bool FileTrackingSource::read(TrackingTarget target, TrackingRecord &record,
                              const std::function<void(const QString &)> &log)
{
    // The reader takes a field that does not convert as 0; for the target's
    // place that would aim at the northern horizon, so the antenna holds.
    const QString name = QString::fromLatin1(targetName(target));
    const QStringList placeErrors {QStringLiteral("azimuth %1 error").arg(name),
                                   QStringLiteral("elevation %1 error").arg(name)};
    bool placed = true;
    const bool read = readTrackingData(m_path, target, record, [&](const QString &message) {
        if (placeErrors.contains(message))
            placed = false;
        log(message);
    });
    if (read && !placed)
        log(QStringLiteral("holding: the file gives no %1 position").arg(name));
    return read && placed;
}

QString FileTrackingSource::problem() const
{
    return QFile::exists(m_path) ? QString() : QStringLiteral("file does not exist");
}

SkyTrackingSource::SkyTrackingSource(const GeoPosition &home, const std::optional<GeoPosition> &dx,
                                     double frequencyMHz, const SkyOptions &options)
    : m_home(home)
    , m_dx(dx.value_or(home))
    , m_frequencyMHz(frequencyMHz)
    , m_options(options)
    , m_now([] { return QDateTime::currentDateTimeUtc(); })
{
}

std::optional<Direction> targetPlace(const SkySnapshot &sky, TrackingTarget target)
{
    switch (target) {
    case TrackingTarget::Sun:
        return Direction {sky.sunAzimuth, sky.sunElevation};
    case TrackingTarget::Source:
        if (!sky.sourceKnown)
            return std::nullopt;
        return Direction {sky.sourceAzimuth, sky.sourceElevation};
    case TrackingTarget::Moon:
        break;
    }
    return Direction {sky.moonAzimuth, sky.moonElevation};
}

bool SkyTrackingSource::read(TrackingTarget target, TrackingRecord &record,
                             const std::function<void(const QString &)> &log)
{
    // Full precision: the file form would round positions to 0.1 degree.
    const SkySnapshot sky = computeSky(m_home, m_dx, m_frequencyMHz, m_now(), m_options);
    const std::optional<Direction> place = targetPlace(sky, target);
    if (!place) {
        log(noRadioSource());
        return false;
    }
    record.azimuth = place->azimuth;
    record.elevation = place->elevation;
    record.frequency = sky.frequencyMHz;
    if (target == TrackingTarget::Source && m_options.source) {
        // The Doppler fields are the Moon echo's shifts. A radio source sends
        // no echo, and its broadband noise needs no correction, so the dial
        // stays on the working frequency. (The file's single Doppler line
        // stays the Moon's, as other EME trackers write it.)
        record.relativeSpeed = 0.0;
        record.dopplerDx = 0.0;
        record.dopplerHome = 0.0;
        return true;
    }
    record.relativeSpeed = sky.dxRateHzPerMin;
    record.dopplerDx = sky.dxDopplerHz;
    record.dopplerHome = sky.selfDopplerHz;
    record.dopplerHomeRate = sky.selfRateHzPerMin;
    return true;
}

QString SkyTrackingSource::noRadioSource()
{
    return QStringLiteral("holding: no radio source is chosen for the Source (\"Tracking source...\")");
}

bool SkyTrackingSource::readAt(TrackingTarget target, const QDateTime &utc, TrackingRecord &record)
{
    // The same computation as the present's, on a clock held at that time.
    auto clock = std::exchange(m_now, [utc] { return utc; });
    const bool read = this->read(target, record, [](const QString &) {});
    m_now = std::move(clock);
    return read;
}
