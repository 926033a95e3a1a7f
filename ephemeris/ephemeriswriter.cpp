// SPDX-License-Identifier: GPL-3.0-or-later
#include "ephemeris/ephemeriswriter.h"

#include <QSaveFile>
#include <QTimer>

#include <cmath>

namespace {

// Frequencies whose whole MHz still fit the file's five-digit field.
constexpr double highestMHz = 99999.0;
constexpr int shortestRealIntervalMs = 5;

} // namespace

EphemerisWriter::EphemerisWriter(QObject *parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &EphemerisWriter::tick);
}

bool EphemerisWriter::setHome(const QString &locator)
{
    const std::optional<GeoPosition> position = positionOfLocator(locator);
    if (position)
        m_home = position;
    return position.has_value();
}

bool EphemerisWriter::setDx(const QString &locator)
{
    const std::optional<GeoPosition> position = positionOfLocator(locator);
    if (position)
        m_dx = position;
    return position.has_value();
}

bool EphemerisWriter::setFrequencyMHz(double mhz)
{
    if (!std::isfinite(mhz) || mhz <= 0.0 || mhz >= highestMHz + 1.0)
        return false;
    m_frequencyMHz = mhz;
    return true;
}

void EphemerisWriter::setOutputPath(const QString &path)
{
    m_path = path;
}

void EphemerisWriter::setTransmitting(bool on)
{
    m_transmitting = on;
}

void EphemerisWriter::setClock(const QDateTime &startUtc, double rate)
{
    m_clockSet = true;
    m_clockStart = startUtc.toUTC();
    m_rate = std::isfinite(rate) && rate > 0.0 ? rate : 0.0;
    m_elapsed.start();
    if (m_running)
        scheduleNext();
}

QDateTime EphemerisWriter::now() const
{
    if (!m_clockSet)
        return QDateTime::currentDateTimeUtc();
    return m_clockStart.addMSecs(qint64(std::llround(double(m_elapsed.elapsed()) * m_rate)));
}

bool EphemerisWriter::writeOnce()
{
    if (!m_home) {
        m_lastError = tr("no home locator set");
        return false;
    }
    if (m_frequencyMHz <= 0.0) {
        m_lastError = tr("no frequency set");
        return false;
    }
    if (m_path.isEmpty()) {
        m_lastError = tr("no output file set");
        return false;
    }

    const SkySnapshot sky = computeSky(*m_home, m_dx.value_or(*m_home), m_frequencyMHz, now(), m_options);
    const QByteArray contents = formatTrackingFile(sky, m_transmitting);

    // QSaveFile writes beside the target and renames over it on commit.
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size() || !file.commit()) {
        m_lastError = tr("cannot write %1: %2").arg(m_path, file.errorString());
        return false;
    }
    m_lastError.clear();
    m_lastSky = sky;
    emit written(sky);
    return true;
}

bool EphemerisWriter::start(int periodMs)
{
    m_periodMs = qMax(1, periodMs);
    m_running = true;
    return tick();
}

void EphemerisWriter::stop()
{
    m_running = false;
    m_timer->stop();
}

bool EphemerisWriter::tick()
{
    const bool written = writeOnce();
    if (!written)
        emit failed(m_lastError);
    if (m_running)
        scheduleNext();
    return written;
}

void EphemerisWriter::scheduleNext()
{
    // Aim at the next whole period of the clock so that, at the normal rate,
    // every second of the file's time stamp appears once.
    if (m_rate <= 0.0) {
        m_timer->start(m_periodMs);  // a stopped clock: rewrite the same instant
        return;
    }
    const qint64 clockMs = now().toMSecsSinceEpoch();
    const qint64 nextMs = (clockMs / m_periodMs + 1) * m_periodMs;
    const double realMs = double(nextMs - clockMs) / m_rate + 2.0;  // land just past the boundary
    m_timer->start(qMax(shortestRealIntervalMs, int(std::ceil(realMs))));
}
