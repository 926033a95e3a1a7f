// SPDX-License-Identifier: GPL-3.0-or-later
#include "demo/demostation.h"

#include "ephemeris/ephemeriswriter.h"
#include "serial/serialenumerator.h"
#include "settings/settingsfile.h"
#include "settings/sourcesettings.h"
#include "sim/simreceiver.h"
#include "sim/simrotator.h"
#include "sim/simtransceiver.h"
#include "station/trackingcontrol.h"
#include "station/trackingsource.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

#include <unistd.h>

namespace {

const char *const linkNames[] = {"rotator", "transceiver"};

} // namespace

DemoStation::DemoStation(QObject *parent)
    : QObject(parent)
    , m_rotator(new SimRotator(this))
    , m_transceiver(new SimTransceiver(this))
    , m_writer(new EphemerisWriter(this))
    , m_receiver(new SimReceiver(
          [this] { return std::optional<Direction>({m_rotator->presentAzimuth(), m_rotator->presentElevation()}); },
          [this] { return targetNow(); }, SimReceiver::Sky(), 1, this))
{
    m_receiver->setHiddenOffset({hiddenAzimuthOffset, hiddenElevationOffset});
    // Limits a real az/el rotator has; it rests at the store's parking position.
    m_rotator->setLimits();
    m_rotator->setPresentPosition(90, 10);
}

DemoStation::~DemoStation()
{
    m_writer->stop();
    if (m_directory) {
        SerialEnumerator::setExtraPortNames({});
        if (!QDir::setCurrent(m_previousDirectory))
            QDir::setCurrent(QDir::tempPath());
    }
    // The ptys close with their peers; the scratch directory goes with m_directory.
    m_rotator->hangUp();
    m_transceiver->hangUp();
}

bool DemoStation::start(const Settings &settings)
{
    if (m_directory) {
        m_error = QStringLiteral("the demo station is already running");
        return false;
    }
    if (!m_rotator->isOpen() || !m_transceiver->isOpen()) {
        m_error = QStringLiteral("no pseudo-terminal available");
        return false;
    }
    if (!m_writer->setHome(settings.home) || !m_writer->setDx(settings.dx)) {
        m_error = QStringLiteral("bad locator %1 or %2").arg(settings.home, settings.dx);
        return false;
    }
    if (!m_writer->setFrequencyMHz(settings.frequencyMHz)) {
        m_error = QStringLiteral("bad frequency %1 MHz").arg(settings.frequencyMHz);
        return false;
    }

    auto directory = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/vestrel-demo-XXXXXX"));
    if (!directory->isValid()) {
        m_error = QStringLiteral("cannot make a scratch directory: %1").arg(directory->errorString());
        return false;
    }
    m_directory = std::move(directory);
    if (!link(Rotator) || !link(Transceiver)) {
        m_error = QStringLiteral("cannot make the port links in %1").arg(workingDirectory());
        m_directory.reset();
        return false;
    }

    m_writer->setOutputPath(dataFilePath());
    if (settings.startUtc.isValid())
        m_writer->setClock(settings.startUtc, settings.clockRate);
    // The antenna turns on the same clock as the sky it follows.
    m_rotator->setMotionClock([writer = m_writer] { return writer->now().toMSecsSinceEpoch(); });
    m_rotator->setPresentPosition(m_rotator->presentAzimuth(), m_rotator->presentElevation());
    // Writes the file at once, so it is there before the window looks.
    if (!m_writer->start(1000)) {
        m_writer->stop();
        m_error = QStringLiteral("cannot write the tracking data file: %1").arg(m_writer->lastError());
        m_directory.reset();
        return false;
    }

    m_previousDirectory = QDir::currentPath();
    if (!QDir::setCurrent(workingDirectory())) {
        m_writer->stop();
        m_error = QStringLiteral("cannot change into %1").arg(workingDirectory());
        m_directory.reset();
        return false;
    }
    {
        // A fresh store with the defaults; the file dialog opens where the data is.
        SettingsFile store;
        store.writeFilename(workingDirectory());
        // The station's own places, so that the panel can say rise and set.
        SourceSettings source;
        source.homeLocator = settings.home;
        source.dxLocator = settings.dx;
        source.frequencyMHz = settings.frequencyMHz;
        source.write();
    }
    SerialEnumerator::setExtraPortNames({portName(Rotator), portName(Transceiver)});
    return true;
}

void DemoStation::shareClock(TrackingControl &control) const
{
    control.setClock([writer = m_writer] { return writer->now(); });
}

void DemoStation::hearTargetOf(const TrackingControl &control)
{
    m_station = &control;
}

// Where the target is at the demo's clock, to the second the ephemeris last
// computed (the Sun moves 0.004 degrees in it).
std::optional<Direction> DemoStation::targetNow() const
{
    const SkySnapshot sky = m_writer->lastSky();
    if (!m_station || !sky.utc.isValid())
        return std::nullopt;
    return targetPlace(sky, m_station->target());
}

QString DemoStation::workingDirectory() const
{
    return m_directory ? m_directory->path() : QString();
}

QString DemoStation::dataFilePath() const
{
    return m_directory ? m_directory->filePath(QStringLiteral("azel.dat")) : QString();
}

QString DemoStation::portName(Device device) const
{
    return m_directory ? m_directory->filePath(QLatin1String(linkNames[device])) : QString();
}

QString DemoStation::linePath(Device device) const
{
    const PtyPeer &line = peer(device);
    return line.isOpen() ? line.slavePath() : QString();
}

PtyPeer &DemoStation::peer(Device device) const
{
    if (device == Rotator)
        return *m_rotator;
    return *m_transceiver;
}

bool DemoStation::link(Device device)
{
    // Made beside the name and renamed over it, so the name never dangles
    // half-made while the program may be opening it.
    const QByteArray name = QFile::encodeName(portName(device));
    const QByteArray fresh = name + ".new";
    ::unlink(fresh.constData());
    const QByteArray target = QFile::encodeName(peer(device).slavePath());
    return ::symlink(target.constData(), fresh.constData()) == 0
        && std::rename(fresh.constData(), name.constData()) == 0;
}

void DemoStation::setPtt(bool on)
{
    if (on == m_ptt)
        return;
    m_ptt = on;
    m_transceiver->setTransmitting(on);
    m_writer->setTransmitting(on);
    m_writer->writeOnce();  // the file says so now, not at the next second
    emit pttChanged(on);
}

void DemoStation::setCablePulled(Device device, bool pulled)
{
    if (pulled == isCablePulled(device) || !m_directory)
        return;
    if (pulled) {
        peer(device).hangUp();
        // A vanished device has no name any more: opening it fails as it would.
        QFile::remove(portName(device));
    } else if (!peer(device).reopen() || !link(device)) {
        peer(device).hangUp();
        return;
    }
    emit cableChanged(device);
}

bool DemoStation::isCablePulled(Device device) const
{
    return !peer(device).isOpen();
}
