// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/trackingsource.h"

#include "ephemeris/ephemeris.h"

#include <QFile>

#include <utility>

bool FileTrackingSource::read(TrackingTarget target, TrackingRecord &record,
                              const std::function<void(const QString &)> &log)
{
    return readTrackingData(m_path, target, record, log);
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

Direction targetPlace(const SkySnapshot &sky, TrackingTarget target)
{
    switch (target) {
    case TrackingTarget::Sun:
        return {sky.sunAzimuth, sky.sunElevation};
    case TrackingTarget::Source:
        return {sky.sourceAzimuth, sky.sourceElevation};
    case TrackingTarget::Moon:
        break;
    }
    return {sky.moonAzimuth, sky.moonElevation};
}

bool SkyTrackingSource::read(TrackingTarget target, TrackingRecord &record, const std::function<void(const QString &)> &)
{
    // Full precision: the file form would round positions to 0.1 degree.
    const SkySnapshot sky = computeSky(m_home, m_dx, m_frequencyMHz, m_now(), m_options);
    const Direction place = targetPlace(sky, target);
    record.azimuth = place.azimuth;
    record.elevation = place.elevation;
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

bool SkyTrackingSource::readAt(TrackingTarget target, const QDateTime &utc, TrackingRecord &record)
{
    // The same computation as the present's, on a clock held at that time.
    auto clock = std::exchange(m_now, [utc] { return utc; });
    const bool read = this->read(target, record, [](const QString &) {});
    m_now = std::move(clock);
    return read;
}
